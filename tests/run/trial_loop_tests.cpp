#include "run/trial_loop.h"

#include <gtest/gtest.h>

#include "app/program.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

class TrialLoopTest : public ::testing::Test {
 protected:
  TrialLoopTest() {
    platform.screen = {1024, 768};
    platform.refresh_hz = 0;
  }

  // A creature that stays up until the test lets it sink: up with nothing scheduled and
  // nothing left to move, a state the frame step leaves alone.
  void HoldCreatureUp(int slot) {
    Scheduler& s = program.scheduler;
    s.creature_count = std::max(s.creature_count, slot + 1);
    CreatureSlot& c = s.slots[slot];
    c.up = 1;
    c.show_at = 0;
    c.hide_at = 0;
    c.depth = 0;
    c.hit = 1;
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

}  // namespace
}  // namespace pyokoran
