// Press and onset times through a whole trial loop on the fake platform, whose clock and
// display are scripted: presses arriving while a frame waits for the refresh, between
// frames, and held from before the creature came up.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "preparation/random.h"
#include "run/trial_loop.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

struct PressCase {
  const char* name;
  int32_t arrives;    // tick at which the button goes down (and, unless held, up again)
  bool held;
  int32_t booked_min, booked_max;  // TotalRT
  friend std::ostream& operator<<(std::ostream& out, const PressCase& c) { return out << c.name; }
};

class OneTargetRun : public ::testing::Test {
 protected:
  // One target in four holes on a 60 Hz display: it comes up at 600, rises (a present per
  // refresh) until about 1120 and stays up until 5600.
  OneTargetRun() {
    platform.screen = {1024, 768};
    platform.refresh_hz = 60;
    ExperimentSettings& s = p.settings;
    s.n_holes = 4;
    s.n_tgtpokko = 1;
    s.n_dstpokko = 0;
    s.time_limit = 1;
    s.isi1 = s.isi2 = 300;
    s.duration = 5000;
    for (int h = 0; h < 4; ++h) p.layout.holes[h] = {200 + 200 * h, 400};
    InitDisplay(platform, p.display);
    SeedRandom(p.random, 7);
    InitCreatureSlots(p);
    ResetTrialLog(p.scheduler.log);
    ResetTimingLog(p.timing);
    TempWorkingDir::CopySampleStimuli();
    EXPECT_EQ(LoadStimuli(p), 1);
    platform.CreateExperimentWindow(p.touch_wnd);
  }
  TempWorkingDir dir_;
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
  Program& p = *program;
};

class PressStampTest : public OneTargetRun, public ::testing::WithParamInterface<PressCase> {};

TEST_P(PressStampTest, PressCarriesItsOwnTime) {
  const PressCase& c = GetParam();
  const HoleCentre hole = p.layout.holes[p.scheduler.slots[0].hole];
  platform.ArriveAt(c.arrives, [&] {
    p.touch_wnd.OnButtonDown(MouseButton::Left, hole.x, hole.y);
    if (!c.held) p.touch_wnd.OnButtonUp(MouseButton::Left);
  });
  ASSERT_EQ(RunTrialLoop(p), 1);

  ASSERT_EQ(p.scheduler.counters.Hit, 1);
  const TrialRecord& r = p.scheduler.log.records[0];
  const AppearanceTiming& t = p.timing.rows[0];
  EXPECT_EQ(t.press_us, int64_t(c.arrives) * 1000);
  EXPECT_GE(r.TotalRT, c.booked_min);
  EXPECT_LE(r.TotalRT, c.booked_max);
  EXPECT_LE(t.press_us, int64_t(r.TotalRT) * 1000 + 999) << "never after the booking";
  // The first frame of the appearance follows its show tick within two refreshes; the
  // onset and the fully-up frame come no earlier.
  EXPECT_EQ(t.shown_at, 600);
  EXPECT_GE(t.first_frame_us, 600000);
  EXPECT_LE(t.first_frame_us, 600000 + 2 * 16667);
  EXPECT_GE(t.onset_us, t.first_frame_us);
  EXPECT_GE(t.fully_up_us, t.onset_us);
}

INSTANTIATE_TEST_SUITE_P(
    Presses, PressStampTest,
    ::testing::Values(
        // Booked after the present it arrived in: up to two frames later.
        PressCase{"DuringAFrameWait", 640, false, 641, 640 + 34},
        // Fully up, nothing moves, the loop yields a millisecond a pass.
        PressCase{"BetweenFrames", 1300, false, 1300, 1302},
        // Down since 100: strikes the creature as it comes up, stamped when it went down.
        PressCase{"HeldFromBefore", 100, true, 600, 600 + 17}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

struct StallCase {
  const char* name;
  int32_t stall_at;  // clock millisecond at which the tick thread stops
  int32_t stall_ms;  // for how long
  int32_t arrives;   // the press, on the clock
  friend std::ostream& operator<<(std::ostream& out, const StallCase& c) { return out << c.name; }
};

class StalledTickTest : public OneTargetRun,
                        public ::testing::WithParamInterface<StallCase> {};

// A tick thread that sleeps through the press must not let the press be booked before it
// was made: the loop reads the clock where the counter is behind, and the row says how far.
TEST_P(StalledTickTest, PressIsNeverBookedBeforeItWasMade) {
  const StallCase& c = GetParam();
  const HoleCentre hole = p.layout.holes[p.scheduler.slots[0].hole];
  platform.ArriveAt(c.stall_at, [&] { platform.StallTickMs(c.stall_ms); });
  platform.ArriveAt(c.arrives, [&] {
    p.touch_wnd.OnButtonDown(MouseButton::Left, hole.x, hole.y);
    p.touch_wnd.OnButtonUp(MouseButton::Left);
  });
  ASSERT_EQ(RunTrialLoop(p), 1);

  ASSERT_EQ(p.scheduler.counters.Hit, 1);
  const TrialRecord& r = p.scheduler.log.records[0];
  const AppearanceTiming& t = p.timing.rows[0];
  EXPECT_EQ(t.press_us, int64_t(c.arrives) * 1000);
  EXPECT_GE(int64_t(r.TotalRT) * 1000, t.press_us) << "booked before the press";
  EXPECT_LE(r.TotalRT, c.arrives + 2) << "booked when the loop saw it, not after the stall";
  EXPECT_GT(t.tick_lag_us, 1000) << "the row says the tick was behind";
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, StalledTickTest,
    ::testing::Values(
        // Fully up and still: the thread sleeps 22 ms and the press comes 10 ms into it.
        StallCase{"WhileStill", 1290, 22, 1300},
        // The press comes 1 ms before the thread wakes.
        StallCase{"JustBeforeWaking", 2000, 15, 2014}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

struct FailCase {
  const char* name;
  int32_t from, until;  // ticks between which presents fail (the window hidden)
  friend std::ostream& operator<<(std::ostream& out, const FailCase& c) { return out << c.name; }
};

class FailedFrameTest : public OneTargetRun, public ::testing::WithParamInterface<FailCase> {};

// A frame that did not reach the screen is neither counted nor stamped: the appearance's
// first frame, onset and fully-up frame come from frames that went out, never from the tick
// of one that did not (nor from an earlier frame).
TEST_P(FailedFrameTest, OnlyFramesThatWentOutAreStamped) {
  const FailCase& c = GetParam();
  platform.ArriveAt(c.from, [&] { platform.presents_fail = true; });
  platform.ArriveAt(c.until, [&] { platform.presents_fail = false; });
  const int before = platform.frames_presented;
  ASSERT_EQ(RunTrialLoop(p), 1);

  EXPECT_EQ(p.timing.frames, platform.frames_presented - before);
  const AppearanceTiming& t = p.timing.rows[0];
  for (int64_t stamp : {t.first_frame_us, t.onset_us, t.fully_up_us}) {
    ASSERT_NE(stamp, kNoTime);
    EXPECT_FALSE(stamp >= int64_t(c.from) * 1000 && stamp < int64_t(c.until) * 1000)
        << stamp << " stamped while presents failed";
  }
  EXPECT_LE(t.first_frame_us, t.onset_us);
  EXPECT_LE(t.onset_us, t.fully_up_us);
}

INSTANTIATE_TEST_SUITE_P(
    Hidden, FailedFrameTest,
    ::testing::Values(
        // The target comes up at 600: its first frame and onset wait for the window.
        FailCase{"AsItComesUp", 590, 700},
        // It is fully up at about 1120.
        FailCase{"AsItRisesFully", 1000, 1400}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
