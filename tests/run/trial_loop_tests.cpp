#include "run/trial_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "platform/tick_thread.h"
#include "preparation/random.h"

namespace pyokoran {
namespace {

class TrialLoopTest : public ::testing::Test {
 protected:
  TrialLoopTest() {
    platform.screen = {1024, 768};
    platform.refresh_hz = 0;
  }

  // A creature that stays up until the test lets it sink: up and sinking with nothing left
  // to move, a state the frame step leaves alone.
  void HoldCreatureUp(int slot) {
    Scheduler& s = program.scheduler;
    s.creature_count = std::max(s.creature_count, slot + 1);
    CreatureSlot& c = s.slots[slot];
    c.up = 1;
    c.show_at = 0;
    c.hide_at = 0;
    c.depth = 0;
    c.sinking = 1;
    c.hit = 1;
  }

  // A run of one target creature in four holes (centres 200 px apart on a row): it first
  // comes up at 2 x isi, stays duration ms, sinks, and waits isi before the next.
  void PrepareOneCreature(int32_t time_limit_s, int32_t isi, int32_t duration) {
    ExperimentSettings& s = program.settings;
    s.n_holes = 4;
    s.n_tgtpokko = 1;
    s.n_dstpokko = 0;
    s.time_limit = time_limit_s;
    s.isi1 = s.isi2 = isi;
    s.duration = duration;
    for (int h = 0; h < 4; ++h) program.layout.holes[h] = {200 + 200 * h, 400};
    InitDisplay(platform, program.display);
    SeedRandom(program.random, 7);
    InitCreatureSlots(program);
    ResetTrialLog(program.scheduler.log);
  }
  HoleCentre CreatureHole() const { return program.layout.holes[program.scheduler.slots[0].hole]; }

  // One millisecond per pass, as the tick thread would count while the loop yields.
  void AdvanceClock() {
    if (!platform.tick_running()) program.timer.tick.fetch_add(1);
  }

  FakePlatform platform;
  Program program{platform};
  int pumps = 0;
};

// Escape still held when the loop starts is waited out, not taken as an abort; so is the
// Return that closed the start message.
TEST_F(TrialLoopTest, KeysHeldAtTheStartAreWaitedOut) {
  program.settings.time_limit = -1;  // ends in the first pass
  platform.SetKeyDown(VK_ESCAPE, true);
  platform.SetKeyDown(VK_RETURN, true);
  int escape_queries = 0;
  int return_queries = 0;
  platform.on_key_query = [&](int key) {
    if (key == VK_ESCAPE && ++escape_queries == 5) platform.SetKeyDown(VK_ESCAPE, false);
    if (key == VK_RETURN && ++return_queries == 3) platform.SetKeyDown(VK_RETURN, false);
  };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(escape_queries, 6);  // five to see it released, one before the first pass
  EXPECT_EQ(return_queries, 3);
}

TEST_F(TrialLoopTest, EscapeDuringTheRunAbortsAfterItsRelease) {
  program.settings.time_limit = 60;
  program.scheduler.counters.Hit = 3;
  int queries_while_held = 0;
  platform.on_pump = [&] {
    if (++pumps == 10) platform.SetKeyDown(VK_ESCAPE, true);
  };
  platform.on_key_query = [&](int key) {
    if (key != VK_ESCAPE || pumps < 10) return;
    if (++queries_while_held == 4) platform.SetKeyDown(VK_ESCAPE, false);
  };
  EXPECT_EQ(RunTrialLoop(program), 0);
  EXPECT_EQ(pumps, 10);  // ended in the pass where Escape went down
  EXPECT_EQ(queries_while_held, 4);  // the loop waited for the release
  EXPECT_EQ(program.scheduler.counters.Hit, 3);
  EXPECT_EQ(program.timer.tick_hook, nullptr);  // the timer was stopped
}

TEST_F(TrialLoopTest, EscapeBetweenTheFirstFramesAbortsAtOnce) {
  program.settings.time_limit = -1;
  // The first Escape query is the wait for its release; the second comes after the first
  // frames, before any pass.
  int escape_queries = 0;
  platform.on_key_query = [&](int key) {
    if (key == VK_ESCAPE && ++escape_queries == 2) platform.PressKey(VK_ESCAPE);
  };
  platform.on_pump = [&] { ++pumps; };
  EXPECT_EQ(RunTrialLoop(program), 0);
  EXPECT_EQ(pumps, 0);
}

// After the limit the run goes on while a creature is up, and ends in the first pass after
// the last one has gone down.
TEST_F(TrialLoopTest, EndsOnlyOnceNoCreatureIsUp) {
  program.settings.time_limit = -1;
  HoldCreatureUp(2);
  platform.on_pump = [&] {
    if (++pumps == 7) program.scheduler.slots[2].up = 0;
  };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(pumps, 7);
  EXPECT_EQ(program.timer.tick_hook, nullptr);
}

// A click pressed and released within one delivery is still tested once, then dropped.
TEST_F(TrialLoopTest, QuickClickIsTestedOnceThenDropped) {
  program.settings.time_limit = -1;
  HoldCreatureUp(0);
  int count_after_click = -1;
  platform.on_pump = [&] {
    ++pumps;
    if (pumps == 1) {
      program.touch_wnd.OnButtonDown(MouseButton::Left, 100, 100);
      program.touch_wnd.OnButtonUp(MouseButton::Left);
    } else if (pumps == 2) {
      count_after_click = program.touch_wnd.point_count;
      program.scheduler.slots[0].up = 0;
    }
  };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(count_after_click, 0);
}

// The creature comes up at 600 and sinks by 832; the next would come at 1132, after the
// limit, so the run ends in the first pass past 1000.
TEST_F(TrialLoopTest, EndsInTheFirstPassPastTheLimitWhenNoneIsUp) {
  PrepareOneCreature(1, 300, 200);
  platform.on_pump = [&] { AdvanceClock(); };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(program.timer.tick.load(), 1001);
  EXPECT_EQ(program.scheduler.counters.Miss, 1);
}

// Up at 900, sinking from 1100 at one step per pass, gone at 1131: the run waits for it
// and ends in the next pass.
TEST_F(TrialLoopTest, WaitsPastTheLimitForTheLastCreatureToSink) {
  PrepareOneCreature(1, 450, 200);
  platform.on_pump = [&] { AdvanceClock(); };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(program.timer.tick.load(), 1131);
  EXPECT_EQ(program.scheduler.slots[0].up, 0);
  EXPECT_EQ(program.scheduler.counters.Miss, 1);
}

// A button held over the hole strikes the creature in the pass after it begins to rise,
// booked with that pass's tick, with the target sound.
TEST_F(TrialLoopTest, HeldPressStrikesTheCreatureAsItComesUp) {
  PrepareOneCreature(1, 300, 200);
  const HoleCentre hole = CreatureHole();
  program.stimuli.target_sound = std::make_unique<std::vector<uint8_t>>(4, 1);
  program.touch_wnd.OnButtonDown(MouseButton::Left, hole.x + 3, hole.y - 4);
  platform.on_pump = [&] { AdvanceClock(); };
  EXPECT_EQ(RunTrialLoop(program), 1);
  const ScoreCounters& c = program.scheduler.counters;
  EXPECT_EQ(c.Hit, 1);
  EXPECT_EQ(c.Miss, 0);
  ASSERT_EQ(program.scheduler.log.count, 1);
  const TrialRecord& r = program.scheduler.log.records[0];
  EXPECT_EQ(r.Resp_X, hole.x + 3);
  EXPECT_EQ(r.Resp_Y, hole.y - 4);
  EXPECT_EQ(r.TotalRT, 600);
  EXPECT_EQ(r.RT, 0);
  EXPECT_EQ(platform.sounds_played, 1);
  EXPECT_EQ(platform.last_sound, program.stimuli.target_sound.get());
}

// The fake platform with the real tick thread and real 1 ms yields: the loop reads the tick
// and books a strike while the thread counts (built with ThreadSanitizer by scripts/test).
class RealClockPlatform : public FakePlatform {
 public:
  bool StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) override {
    return thread_.Start(tick, hook);
  }
  void StopTickThread() override { thread_.Stop(); }
  void YieldSlice() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
  bool running() const { return thread_.running(); }

 private:
  TickThread thread_;
};

TEST(TrialLoopOnTheTickThread, HeldPressStrikesAndTheRunEndsPastTheLimit) {
  RealClockPlatform platform;
  platform.screen = {1024, 768};
  platform.refresh_hz = 0;
  auto program = std::make_unique<Program>(platform);
  ExperimentSettings& s = program->settings;
  s.n_holes = 4;
  s.n_tgtpokko = 1;
  s.n_dstpokko = 0;
  s.time_limit = 1;
  s.isi1 = s.isi2 = 300;
  s.duration = 200;
  for (int h = 0; h < 4; ++h) program->layout.holes[h] = {200 + 200 * h, 400};
  InitDisplay(platform, program->display);
  SeedRandom(program->random, 7);
  InitCreatureSlots(*program);
  ResetTrialLog(program->scheduler.log);
  const HoleCentre hole = program->layout.holes[program->scheduler.slots[0].hole];
  program->touch_wnd.OnButtonDown(MouseButton::Left, hole.x, hole.y);

  EXPECT_EQ(RunTrialLoop(*program), 1);
  EXPECT_FALSE(platform.running());
  EXPECT_GT(program->timer.tick.load(), 1000);
  const ScoreCounters& c = program->scheduler.counters;
  EXPECT_GE(c.Hit, 1);
  EXPECT_EQ(c.FA, 0);
  ASSERT_GE(program->scheduler.log.count, 1);
  const TrialRecord& r = program->scheduler.log.records[0];
  EXPECT_EQ(r.Resp, 1);
  EXPECT_GE(r.TotalRT, 600);
  EXPECT_GE(r.RT, 0);
}

// Clicks pressed and released between two tests of the loop: one over the risen creature
// is booked once, one on bare ground changes nothing.
struct ClickCase {
  const char* name;
  int32_t dx;  // from the hole centre
  int32_t hits;
};

std::ostream& operator<<(std::ostream& out, const ClickCase& c) { return out << c.name; }

class QuickClickTest : public TrialLoopTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(QuickClickTest, IsTestedOnce) {
  const ClickCase& c = GetParam();
  PrepareOneCreature(1, 300, 200);
  const HoleCentre hole = CreatureHole();
  bool clicked = false;
  platform.on_pump = [&] {
    AdvanceClock();
    const CreatureSlot& slot = program.scheduler.slots[0];
    if (!clicked && slot.up && slot.depth == 0) {
      program.touch_wnd.OnButtonDown(MouseButton::Left, hole.x + c.dx, hole.y);
      program.touch_wnd.OnButtonUp(MouseButton::Left);
      clicked = true;
    }
  };
  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(program.scheduler.counters.Hit, c.hits);
  EXPECT_EQ(program.scheduler.counters.Miss, 1 - c.hits);
  EXPECT_EQ(program.scheduler.log.count, 1);
  EXPECT_EQ(program.touch_wnd.point_count, 0);
}

INSTANTIATE_TEST_SUITE_P(Clicks, QuickClickTest,
                         ::testing::Values(ClickCase{"OnTheCreature", 10, 1},
                                           ClickCase{"OnTheGround", 100, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two presses made while one frame is presented reach the loop in one pump, on two creatures
// up in different holes: both strike, in the order they were made, each with its own time,
// both booked with the pass's tick. Mouse clicks and touch taps alike.
struct TwoPressCase {
  const char* name;
  bool touch;
};

std::ostream& operator<<(std::ostream& out, const TwoPressCase& c) { return out << c.name; }

class TwoPressTest : public TrialLoopTest, public ::testing::WithParamInterface<TwoPressCase> {};

TEST_P(TwoPressTest, BothPressesOfOnePumpStrike) {
  ExperimentSettings& s = program.settings;
  s.n_holes = 4;
  s.n_tgtpokko = 2;
  s.n_dstpokko = 0;
  s.time_limit = 1;
  s.isi1 = s.isi2 = 300;
  s.duration = 1000;
  for (int h = 0; h < 4; ++h) program.layout.holes[h] = {200 + 200 * h, 400};
  InitDisplay(platform, program.display);
  SeedRandom(program.random, 7);
  InitCreatureSlots(program);
  ResetTrialLog(program.scheduler.log);
  platform.refresh_hz = 60;
  platform.CreateExperimentWindow(program.touch_wnd);  // the window is told each event's time
  const bool touch = GetParam().touch;
  // Both rise from 600; refreshes come at 700.0 and 716.7 ms.
  const int32_t at[2] = {702, 708};
  const int first_slot[2] = {1, 0};
  for (int k = 0; k < 2; ++k) {
    const HoleCentre c = program.layout.holes[program.scheduler.slots[first_slot[k]].hole];
    platform.ArriveAt(at[k], [this, c, touch] {
      CTouchWnd& w = program.touch_wnd;
      if (touch) {
        w.OnTouch({{c.x, c.y, false}});
        w.OnTouch({{c.x, c.y, true}});
      } else {
        w.OnButtonDown(MouseButton::Left, c.x, c.y);
        w.OnButtonUp(MouseButton::Left);
      }
    });
  }

  EXPECT_EQ(RunTrialLoop(program), 1);
  EXPECT_EQ(program.scheduler.counters.Hit, 2);
  EXPECT_EQ(program.scheduler.counters.Miss, 0);
  ASSERT_EQ(program.scheduler.log.count, 2);
  const TrialRecord* r = program.scheduler.log.records;
  EXPECT_EQ(r[0].Pokko, first_slot[0] + 1);
  EXPECT_EQ(r[1].Pokko, first_slot[1] + 1);
  EXPECT_EQ(r[0].TotalRT, r[1].TotalRT) << "one pass tested both";
  EXPECT_GE(r[0].TotalRT, at[1]);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(program.timing.rows[k].press_us, int64_t(at[k]) * 1000) << k;
    EXPECT_TRUE(program.timing.rows[k].press_from_event) << k;
  }
  EXPECT_EQ(platform.sounds_played, 2);
}

INSTANTIATE_TEST_SUITE_P(Input, TwoPressTest,
                         ::testing::Values(TwoPressCase{"Clicks", false}, TwoPressCase{"Taps", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Clicks that arrive while frames are presented, each striking one of five targets that
// rise together in holes that all lie under the click. A platform that delivers input only
// in the loop's pump books every click with a tick read after it arrived; one whose key
// query delivers it too books clicks with the tick read before the present they arrived in.
struct ArrivalCase {
  const char* name;
  bool key_query_delivers;
  bool booked_before_arrival;
};

std::ostream& operator<<(std::ostream& out, const ArrivalCase& c) { return out << c.name; }

class ArrivalTest : public TrialLoopTest, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(ArrivalTest, ClickArrivingInAPresentIsBookedAfterIt) {
  const ArrivalCase& c = GetParam();
  ExperimentSettings& s = program.settings;
  s.n_holes = 6;
  s.n_tgtpokko = 5;
  s.n_dstpokko = 0;
  s.time_limit = 2;
  s.isi1 = s.isi2 = 300;
  s.duration = 5000;
  for (int h = 0; h < 6; ++h) program.layout.holes[h] = {512, 384};
  InitDisplay(platform, program.display);
  SeedRandom(program.random, 7);
  InitCreatureSlots(program);
  ResetTrialLog(program.scheduler.log);
  platform.refresh_hz = 60;
  platform.key_query_delivers = c.key_query_delivers;
  const std::vector<int32_t> arrivals = {640, 701, 755, 812, 866};  // all five rise from 600
  for (int32_t tick : arrivals) {
    platform.ArriveAt(tick, [this] {
      program.touch_wnd.OnButtonDown(MouseButton::Left, 512, 384);
      program.touch_wnd.OnButtonUp(MouseButton::Left);
    });
  }

  EXPECT_EQ(RunTrialLoop(program), 1);
  ASSERT_EQ(program.scheduler.counters.Hit, 5);
  int early = 0;
  for (int i = 0; i < 5; ++i) {
    const TrialRecord& r = program.scheduler.log.records[i];
    EXPECT_LE(r.TotalRT, arrivals[i] + 2 * 17) << i;  // within the next frames
    early += r.TotalRT < arrivals[i];
  }
  if (c.booked_before_arrival) {
    EXPECT_GT(early, 0);
  } else {
    EXPECT_EQ(early, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Delivery, ArrivalTest,
    ::testing::Values(ArrivalCase{"OnlyInThePump", false, false},
                      ArrivalCase{"AlsoInTheKeyQuery", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
