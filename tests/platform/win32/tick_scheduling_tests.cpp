// The tick thread on Windows: it joins the multimedia class scheduler, or takes time-critical
// priority where the service refuses, each time it starts, and its line for the experimenter
// says which and what it sleeps on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/tick_thread.h"

namespace pyokoran {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(TickSchedulingTest, RaisedOnEveryStartAndSaidHow) {
  TickThread thread;
  std::atomic<int32_t> tick{0};
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    ASSERT_TRUE(thread.Start(tick, nullptr));
    const TickScheduling s = thread.scheduling();
    thread.Stop();
    const std::string line = DescribeTickScheduling(s);
    EXPECT_TRUE(s.real_time) << line;
    EXPECT_EQ(thread.realtime(), s.real_time);
    if (s.mmcss) {
      EXPECT_TRUE(Has(line, "multimedia class scheduler (MMCSS task \"Pro Audio\"")) << line;
    } else {
      EXPECT_TRUE(Has(line, "time-critical thread priority")) << line;
      EXPECT_TRUE(Has(line, "Windows error " + std::to_string(s.error))) << line;
    }
    EXPECT_TRUE(Has(line, s.high_resolution_timer ? "high-resolution waitable timer"
                                                  : "timeBeginPeriod"))
        << line;
  }
}

TEST(TickSchedulingTest, RefusalsNameTheirCause) {
  TickScheduling time_critical;
  time_critical.real_time = true;
  time_critical.priority = 15;
  time_critical.error = 1753;
  TickScheduling ordinary;
  ordinary.error = 5;
  const std::string a = DescribeTickScheduling(time_critical);
  const std::string b = DescribeTickScheduling(ordinary);
  EXPECT_TRUE(Has(a, "time-critical thread priority (15)")) << a;
  EXPECT_TRUE(Has(a, "Windows error 1753")) << a;
  EXPECT_TRUE(Has(a, "Multimedia Class Scheduler")) << a;
  EXPECT_TRUE(Has(b, "ordinary priority")) << b;
  EXPECT_TRUE(Has(b, "Windows error 5")) << b;
}

}  // namespace
}  // namespace pyokoran
