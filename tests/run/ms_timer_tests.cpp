#include "run/ms_timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "platform/tick_thread.h"

namespace pyokoran {
namespace {

// What InitMsTimer answers and says for each state of the clock.
struct InitCase {
  const char* name;
  bool available;
  bool ms_resolution;
  int result;
  const char* message;  // null: none
  friend std::ostream& operator<<(std::ostream& os, const InitCase& c) { return os << c.name; }
};

class InitMsTimerTest : public ::testing::TestWithParam<InitCase> {};

void NoHook(int32_t) {}

TEST_P(InitMsTimerTest, ChecksTheClock) {
  const InitCase& c = GetParam();
  FakePlatform platform;
  platform.tick_clock_available = c.available;
  platform.clock_has_ms_resolution = c.ms_resolution;
  MsTimer timer;
  timer.tick = 77;
  timer.tick_hook = NoHook;

  EXPECT_EQ(InitMsTimer(platform, timer), c.result);
  if (c.message) {
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, c.message);
    EXPECT_EQ(platform.messages[0].caption, kApplicationTitle);
    EXPECT_EQ(platform.messages[0].icon, MessageIcon::Stop);
  } else {
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(timer.tick, 0);
    EXPECT_EQ(timer.tick_hook, nullptr);
    EXPECT_EQ(timer.timer_id, 0u);
    EXPECT_EQ(timer.timer_period, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InitMsTimerTest,
    ::testing::Values(
        InitCase{"MillisecondClock", true, true, 1, nullptr},
        InitCase{"ClockCannotBeQueried", false, true, 0, "System does not permit MsTimer."},
        InitCase{"CoarseClock", true, false, 0,
                 "System does not have enough resolution for MsTimer."}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<int32_t> hooked;
void RecordTick(int32_t tick) { hooked.push_back(tick); }

int Count(const std::vector<std::string>& calls, const std::string& name) {
  return int(std::count(calls.begin(), calls.end(), name));
}

TEST(MsTimer, StartsOnceStopsOnceAndClearsTheHook) {
  FakePlatform platform;
  MsTimer timer;
  ASSERT_EQ(InitMsTimer(platform, timer), 1);
  StopMsTimer(platform, timer);  // idle: nothing to stop
  EXPECT_EQ(Count(platform.calls, "StopTickThread"), 0);

  hooked.clear();
  timer.tick_hook = RecordTick;
  StartMsTimer(platform, timer);
  StartMsTimer(platform, timer);
  EXPECT_EQ(Count(platform.calls, "StartTickThread"), 1);
  EXPECT_NE(timer.timer_id, 0u);
  EXPECT_EQ(timer.timer_period, 1u);
  platform.AdvanceMs(3);
  EXPECT_EQ(timer.tick, 3);
  EXPECT_EQ(hooked, (std::vector<int32_t>{1, 2, 3}));

  StopMsTimer(platform, timer);
  StopMsTimer(platform, timer);
  EXPECT_EQ(Count(platform.calls, "StopTickThread"), 1);
  EXPECT_EQ(timer.timer_id, 0u);
  EXPECT_EQ(timer.timer_period, 0u);
  EXPECT_EQ(timer.tick_hook, nullptr);
  platform.AdvanceMs(3);
  EXPECT_EQ(timer.tick, 3);
}

// A thread that cannot start leaves the tick standing; the stop then has nothing to stop.
TEST(MsTimer, FailedStartLeavesTickStanding) {
  FakePlatform platform;
  platform.tick_thread_ok = false;
  MsTimer timer;
  ASSERT_EQ(InitMsTimer(platform, timer), 1);
  timer.tick_hook = NoHook;
  StartMsTimer(platform, timer);
  EXPECT_EQ(timer.timer_id, 0u);
  platform.AdvanceMs(5);
  EXPECT_EQ(timer.tick, 0);
  StopMsTimer(platform, timer);
  EXPECT_EQ(Count(platform.calls, "StopTickThread"), 0);
  EXPECT_EQ(timer.tick_hook, nullptr);
}

// The real thread, checked only for what holds on a loaded machine: it advances by single
// steps, one start at a time, and stops for good.
std::atomic<int32_t> hook_last{0};
std::atomic<int32_t> hook_calls{0};
std::atomic<bool> hook_skipped{false};
void CheckStep(int32_t tick) {
  if (tick != hook_last.load() + 1) hook_skipped = true;
  hook_last = tick;
  ++hook_calls;
}

bool WaitFor(const std::atomic<int32_t>& value, int32_t at_least) {
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (value.load() < at_least) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(TickThread, AdvancesStartsOnceAndStopsForGood) {
  EXPECT_TRUE(TickThread::ClockAvailable());
  std::atomic<int32_t> tick{0};
  TickThread thread;
  ASSERT_TRUE(thread.Start(tick, CheckStep));
  EXPECT_FALSE(thread.Start(tick, CheckStep));
  EXPECT_TRUE(WaitFor(tick, 20));
  thread.Stop();
  thread.Stop();
  EXPECT_FALSE(thread.running());

  const int32_t stopped_at = tick.load();
  EXPECT_EQ(hook_calls.load(), stopped_at);
  EXPECT_EQ(hook_last.load(), stopped_at);
  EXPECT_FALSE(hook_skipped.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(tick.load(), stopped_at);

  // A reset tick counts on from zero; the thread can be started again.
  tick = 0;
  ASSERT_TRUE(thread.Start(tick, nullptr));
  EXPECT_TRUE(WaitFor(tick, 5));
  thread.Stop();
}

}  // namespace
}  // namespace pyokoran
