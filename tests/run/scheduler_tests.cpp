#include "run/scheduler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Ordered 12-hole layout; tests set the settings and place the creatures they need, and move
// the virtual tick by hand.
class SchedulerTest : public testing::Test {
 protected:
  SchedulerTest() {
    MakeOrderedLayout(program.layout, 12);
    ResetTrialLog(scheduler.log);
    program.stimuli.target_sound = std::make_unique<std::vector<uint8_t>>(1, 1);
    program.stimuli.distractor_sound = std::make_unique<std::vector<uint8_t>>(1, 2);
  }

  // Seeds as run preparation does and places targets + distractors creatures.
  void Place(int32_t targets, int32_t distractors, uint32_t seed = 1) {
    program.settings.n_tgtpokko = targets;
    program.settings.n_dstpokko = distractors;
    SeedRandom(program.random, seed);
    RandomRaw(program.random);
    RandomRaw(program.random);
    InitCreatureSlots(program);
  }

  // Puts slot i fully up in hole h, as if it had risen long ago.
  void BringUp(int i, int32_t target, int32_t h) {
    CreatureSlot& s = scheduler.slots[i];
    s = CreatureSlot{};
    s.target = target;
    s.hole = h;
    s.up = 1;
    s.depth = 0;
    s.hide_at = 100000;
    scheduler.occupancy[h] = 1;
    if (scheduler.creature_count <= i) scheduler.creature_count = i + 1;
  }

  void Frame(int32_t tick) {
    program.timer.tick.store(tick, std::memory_order_relaxed);
    UpdateFrame(program, 0);
  }
  void Frames(int n, int32_t tick) {
    for (int k = 0; k < n; ++k) Frame(tick);
  }

  FakePlatform platform;
  Program program{platform};
  Scheduler& scheduler = program.scheduler;
  CreatureSlot& slot0 = scheduler.slots[0];
};

TEST_F(SchedulerTest, EqualPausesGiveFirstShowAtTwiceIsi1) {
  program.settings.isi1 = program.settings.isi2 = 1000;
  Place(6, 3);
  ASSERT_EQ(scheduler.creature_count, 9);
  int occupied = 0;
  for (int i = 0; i < 9; ++i) {
    const CreatureSlot& s = scheduler.slots[i];
    EXPECT_EQ(s.target, i < 6 ? 1 : 0) << i;
    EXPECT_EQ(s.show_at, 2000) << i;
    EXPECT_EQ(s.shown_at, 2000) << i;
    EXPECT_EQ(s.hide_at, 4000) << i;
    EXPECT_EQ(s.depth, 128) << i;
    EXPECT_EQ(scheduler.occupancy[s.hole], 1) << i;
  }
  for (int h = 0; h < 12; ++h) occupied += scheduler.occupancy[h];
  EXPECT_EQ(occupied, 9);  // no two creatures share a hole
}

// One appearance frame by frame: begins at its tick, rises 4 rows a frame, stays up until
// hide_at, sinks, and ends with a Miss (target) or CR (distractor) and a new reservation.
TEST_F(SchedulerTest, UnstruckAppearanceIsBookedWhenItHasSunk) {
  for (int32_t target : {1, 0}) {
    SCOPED_TRACE(target ? "target" : "distractor");
    program.settings.isi1 = program.settings.isi2 = 1000;
    program.settings.duration = 1000;
    ResetTrialLog(scheduler.log);
    Place(target, 1 - target);
    const int32_t hole = slot0.hole;

    Frame(1999);
    EXPECT_EQ(slot0.up, 0);
    Frame(2000);
    EXPECT_EQ(slot0.up, 1);
    EXPECT_EQ(slot0.depth, 124);
    EXPECT_EQ(slot0.show_at, 0);
    Frames(30, 2010);
    EXPECT_EQ(slot0.depth, 4);
    Frame(2999);
    EXPECT_EQ(slot0.depth, 0);  // fully up 31 frames after the first
    Frame(2999);
    EXPECT_EQ(slot0.hide_at, 3000);
    Frame(3000);
    EXPECT_EQ(slot0.hide_at, 0);
    EXPECT_EQ(slot0.depth, 4);
    Frames(30, 3100);
    EXPECT_EQ(slot0.up, 1);
    EXPECT_EQ(slot0.depth, 124);
    Frame(3200);  // gone 31 frames after sinking began

    EXPECT_EQ(slot0.up, 0);
    EXPECT_EQ(slot0.depth, 128);
    EXPECT_EQ(scheduler.counters.Miss, target);
    EXPECT_EQ(scheduler.counters.CR, 1 - target);
    ASSERT_EQ(scheduler.log.count, 1);
    const TrialRecord& r = scheduler.log.records[0];
    const HoleCentre& c = program.layout.holes[hole];
    EXPECT_EQ(std::vector<int32_t>({r.Trial, r.Pokko, r.Tgt, r.Hole, r.Hole_X, r.Hole_Y,
                                    r.Resp, r.Resp_X, r.Resp_Y, r.RT, r.TotalRT, r.Error}),
              std::vector<int32_t>({1, 1, target, hole + 1, c.x, c.y, 0, 0, 0, 0, 0, target}));
    EXPECT_NE(slot0.hole, hole);
    EXPECT_EQ(scheduler.occupancy[hole], 0);
    EXPECT_EQ(scheduler.occupancy[slot0.hole], 1);
    // The pause counts from the end of the sink.
    EXPECT_EQ(slot0.show_at, 4200);
    EXPECT_EQ(slot0.shown_at, 4200);
    EXPECT_EQ(slot0.hide_at, 5200);
    Frame(4199);
    EXPECT_EQ(slot0.up, 0);
    Frame(4200);
    EXPECT_EQ(slot0.up, 1);
  }
}

TEST_F(SchedulerTest, LaterPausesLieBetweenIsi1AndIsi2) {
  program.settings.time_limit = 1000;
  Place(1, 0, 7);
  int32_t tick = 0;
  for (int appearances = 0; appearances < 50 && tick < 1000000; ++tick) {
    const int32_t up_before = slot0.up;
    Frame(tick);
    if (up_before && !slot0.up) {
      ++appearances;
      EXPECT_GE(slot0.show_at - tick, 1000);
      EXPECT_LT(slot0.show_at - tick, 3000);
    }
  }
  EXPECT_LT(tick, 1000000);
}

// A show tick of 0 is a real time, not "nothing pending".
TEST_F(SchedulerTest, ZeroPauseComesUpAtTickZeroAndAgainAtOnce) {
  program.settings.isi1 = program.settings.isi2 = 0;
  program.settings.duration = 100;
  Place(2, 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(scheduler.slots[i].show_at, 0);
  Frame(0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(scheduler.slots[i].up, 1) << i;
  Frames(31, 0);
  Frame(100);
  Frames(31, 100);
  EXPECT_EQ(slot0.up, 0);
  EXPECT_EQ(slot0.show_at, 100);
  Frame(100);
  EXPECT_EQ(slot0.up, 1);
}

// Appearances whose hide tick comes out as 0 rise and sink like every other: fully up after
// 31 frames, sunk 31 frames after sinking began, booked once as a Miss.
struct ZeroHideCase {
  const char* name;
  int32_t isi;  // isi1 = isi2
  int32_t duration;
};
std::ostream& operator<<(std::ostream& os, const ZeroHideCase& c) { return os << c.name; }

TEST_F(SchedulerTest, HideTickOfZeroStillRisesAndSinks) {
  const ZeroHideCase cases[] = {
      {"duration 0 from tick 0", 0, 0},
      {"duration 0", 1000, 0},
      {"hide tick 0 after a negative pause", -500, 1000},
  };
  for (const ZeroHideCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c);
    program.settings.isi1 = program.settings.isi2 = c.isi;
    program.settings.duration = c.duration;
    ResetTrialLog(scheduler.log);
    Place(1, 0);
    const int32_t show = slot0.show_at, hide = show + c.duration;
    ASSERT_EQ(slot0.hide_at, hide);
    Frame(show);
    ASSERT_EQ(slot0.up, 1);
    EXPECT_EQ(slot0.depth, 124);
    Frames(31, hide);
    EXPECT_EQ(slot0.depth, 0);  // fully up
    EXPECT_EQ(scheduler.log.count, 0);
    Frame(hide);
    EXPECT_EQ(slot0.depth, 4);  // sinking
    Frames(30, hide);
    EXPECT_EQ(slot0.up, 1);
    Frame(hide);
    EXPECT_EQ(slot0.up, 0);
    EXPECT_EQ(scheduler.counters.Miss, 1);
    EXPECT_EQ(scheduler.log.count, 1);
  }
}

struct RadiusCase {
  int32_t dx, dy;
  bool strikes;
};
std::ostream& operator<<(std::ostream& os, const RadiusCase& c) {
  return os << "(" << c.dx << ", " << c.dy << ")";
}

TEST_F(SchedulerTest, ResponseStrikesWithin64PixelsOfTheHoleCentre) {
  const RadiusCase cases[] = {
      {0, 0, true},    {64, 0, true},    {0, -64, true},  {-64, 0, true},
      {64, 1, false},  {-1, 64, false},  {45, 45, true},  {46, 45, false},
      {kMax, 0, false}, {kMin, kMin, false},
  };
  BringUp(0, 1, 5);
  const HoleCentre c = program.layout.holes[5];
  for (const RadiusCase& rc : cases) {
    SCOPED_TRACE(testing::Message() << rc);
    const int64_t x = int64_t(c.x) + rc.dx, y = int64_t(c.y) + rc.dy;
    const int32_t sx = int32_t(std::clamp<int64_t>(x, kMin, kMax));
    const int32_t sy = int32_t(std::clamp<int64_t>(y, kMin, kMax));
    EXPECT_EQ(FindStruckSlot(program, sx, sy), rc.strikes ? 0 : -1);
  }
}

TEST_F(SchedulerTest, LowerSlotWinsAndStruckOrWaitingSlotsAreSkipped) {
  program.layout.holes[0] = {100, 100};
  program.layout.holes[1] = {150, 100};
  BringUp(0, 1, 1);
  BringUp(1, 0, 0);
  EXPECT_EQ(FindStruckSlot(program, 125, 100), 0);
  RegisterResponse(program, 0, 125, 100, 500);
  EXPECT_EQ(FindStruckSlot(program, 125, 100), 1);
  scheduler.slots[1].up = 0;
  EXPECT_EQ(FindStruckSlot(program, 125, 100), -1);
  EXPECT_EQ(FindStruckSlot(program, 600, 600), -1);  // empty ground
}

// Struck while sinking: back to fully up at once, down again 1000 ms after the response,
// one Hit or FA record and no Miss or CR at the end.
TEST_F(SchedulerTest, StruckWhileSinkingIsBookedOnce) {
  for (int32_t target : {1, 0}) {
    SCOPED_TRACE(target ? "target" : "distractor");
    program.settings.isi1 = program.settings.isi2 = 1000;
    program.settings.duration = 1000;
    ResetTrialLog(scheduler.log);
    Place(target, 1 - target);
    const int32_t hole = slot0.hole;
    Frame(2000);
    Frames(31, 2500);
    Frame(3000);
    Frames(10, 3050);
    ASSERT_EQ(slot0.depth, 44);

    const int sounds = platform.sounds_played;
    RegisterResponse(program, 0, 700, 150, 3060);
    EXPECT_EQ(platform.sounds_played, sounds + 1);
    EXPECT_EQ(platform.last_sound, target ? program.stimuli.target_sound.get()
                                          : program.stimuli.distractor_sound.get());
    EXPECT_EQ(scheduler.counters.Hit, target);
    EXPECT_EQ(scheduler.counters.FA, 1 - target);
    ASSERT_EQ(scheduler.log.count, 1);
    const TrialRecord& r = scheduler.log.records[0];
    const HoleCentre& c = program.layout.holes[hole];
    EXPECT_EQ(std::vector<int32_t>({r.Trial, r.Pokko, r.Tgt, r.Hole, r.Hole_X, r.Hole_Y,
                                    r.Resp, r.Resp_X, r.Resp_Y, r.RT, r.TotalRT, r.Error}),
              std::vector<int32_t>(
                  {1, 1, target, hole + 1, c.x, c.y, 1, 700, 150, 1060, 3060, 1 - target}));
    EXPECT_EQ(slot0.depth, 0);
    EXPECT_EQ(slot0.hide_at, 4060);
    EXPECT_EQ(slot0.redraw, 1);

    Frame(3061);
    EXPECT_EQ(slot0.redraw, 0);
    Frame(4059);
    EXPECT_EQ(slot0.depth, 0);
    Frame(4060);
    EXPECT_EQ(slot0.depth, 4);
    Frames(31, 4100);
    EXPECT_EQ(slot0.up, 0);
    EXPECT_EQ(scheduler.counters.Miss + scheduler.counters.CR, 0);
    EXPECT_EQ(scheduler.log.count, 1);
  }
}

TEST_F(SchedulerTest, NothingBeginsFromTheTimeLimitOnButUpCreaturesAreStillBooked) {
  program.settings.time_limit = 2;
  program.settings.isi1 = program.settings.isi2 = 500;
  Place(1, 1);
  scheduler.slots[1].show_at = scheduler.slots[1].shown_at = 2000;  // due at the limit
  Frame(1000);
  EXPECT_EQ(slot0.up, 1);
  Frame(2000);
  EXPECT_EQ(scheduler.slots[1].up, 0);

  Frames(40, 2100);
  ASSERT_EQ(slot0.up, 1);
  EXPECT_EQ(FindStruckSlot(program, program.layout.holes[slot0.hole].x,
                           program.layout.holes[slot0.hole].y), 0);
  RegisterResponse(program, 0, 0, 0, 2100);
  EXPECT_EQ(scheduler.counters.Hit, 1);
  EXPECT_EQ(scheduler.log.records[0].RT, 1100);

  Frame(3100);
  Frames(31, 3100);
  EXPECT_EQ(slot0.up, 0);
  EXPECT_EQ(slot0.show_at, 3600);  // still reserves and schedules ...
  Frames(5, 10000);
  EXPECT_EQ(slot0.up, 0);          // ... but never comes up again
  EXPECT_EQ(scheduler.slots[1].up, 0);
}

TEST_F(SchedulerTest, LogCountStopsAt4999AndTheLastPlaceIsOverwritten) {
  BringUp(0, 1, 0);
  for (int32_t k = 1; k <= 5001; ++k) RegisterResponse(program, 0, 1, 2, k);
  EXPECT_EQ(scheduler.counters.Hit, 5001);
  EXPECT_EQ(scheduler.log.count, 4999);
  EXPECT_EQ(scheduler.log.records[4998].Trial, 4999);
  EXPECT_EQ(scheduler.log.records[4998].TotalRT, 4999);
  EXPECT_EQ(scheduler.log.records[4999].Trial, 5000);
  EXPECT_EQ(scheduler.log.records[4999].TotalRT, 5001);
}

TEST_F(SchedulerTest, ResetTrialLogNumbersRecordsAndClearsTheResponseFields) {
  scheduler.log.count = 17;
  for (TrialRecord& r : scheduler.log.records) r = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  ResetTrialLog(scheduler.log);
  EXPECT_EQ(scheduler.log.count, 0);
  for (int i : {0, 1, 4999}) {
    const TrialRecord& r = scheduler.log.records[i];
    EXPECT_EQ(std::vector<int32_t>({r.Trial, r.Pokko, r.Tgt, r.Hole, r.Hole_X, r.Hole_Y,
                                    r.Resp, r.Resp_X, r.Resp_Y, r.RT, r.TotalRT, r.Error}),
              std::vector<int32_t>({i + 1, 9, 9, 9, 9, 9, 0, 9, 9, 0, 0, 0}))
        << i;
  }
}

struct ExtremeCase {
  std::string name;
  int32_t isi, duration;  // isi1 = isi2
  int32_t show_at, hide_at;
};

// Show and hide ticks that leave the 32-bit range stop at its ends; in range they are the
// plain sums.
TEST_F(SchedulerTest, ScheduleSumsSaturateInsteadOfWrapping) {
  const ExtremeCase cases[] = {
      {"in range", 1000, 2000, 2000, 4000},
      {"negative in range", -1000, 0, -2000, -2000},
      {"pause beyond max", kMax, 0, kMax, kMax},
      {"pause beyond min", kMin, -1, kMin, kMin},
      {"exposure beyond max", 1000, kMax, 2000, kMax},
  };
  for (const ExtremeCase& c : cases) {
    SCOPED_TRACE(c.name);
    program.settings.isi1 = program.settings.isi2 = c.isi;
    program.settings.duration = c.duration;
    Place(1, 0);
    EXPECT_EQ(slot0.show_at, c.show_at);
    EXPECT_EQ(slot0.hide_at, c.hide_at);
  }
  program.settings.isi1 = kMin;
  program.settings.isi2 = kMax;
  Place(2, 2);  // the whole 32-bit span as the pause range
  for (int i = 0; i < 4; ++i) EXPECT_GE(scheduler.slots[i].show_at, kMin);

  BringUp(0, 1, 0);
  slot0.shown_at = kMin;
  RegisterResponse(program, 0, 0, 0, kMax);
  EXPECT_EQ(scheduler.log.records[0].RT, kMax);
  EXPECT_EQ(slot0.hide_at, kMax);
}

TEST_F(SchedulerTest, LongestTimeLimitStillLetsCreaturesComeUp) {
  program.settings.time_limit = kMax;  // 2147483647000 ms does not wrap
  program.settings.isi1 = program.settings.isi2 = 1000;
  Place(1, 0);
  Frame(2000);
  EXPECT_EQ(slot0.up, 1);
}

}  // namespace
}  // namespace pyokoran
