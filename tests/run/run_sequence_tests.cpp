#include "run/run_sequence.h"

#include <gtest/gtest.h>

#include "app/program.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

class RunSequenceTest : public ::testing::Test {
 protected:
  RunSequenceTest() {
    platform.refresh_hz = 0;
    program.settings.time_limit = -1;  // the loop ends in its first pass
  }
  FakePlatform platform;
  Program program{platform};
};

TEST_F(RunSequenceTest, StartAndEndMessagesWithANegativeScore) {
  ScoreCounters& c = program.scheduler.counters;
  c.Hit = 7;
  c.FA = 9;
  c.Miss = 4;
  c.CR = 12;
  EXPECT_EQ(RunSequence(program), 1);
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].text, "キーを押すと始まります。");
  EXPECT_EQ(platform.messages[0].caption, "開始");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(platform.messages[1].text,
            "おわりました。おつかれさま。\nとくてんは -2 てんでした！\n"
            "（Hit:7, FA:9, Miss:4, CR:12）");
  EXPECT_EQ(platform.messages[1].caption, "終了");
  EXPECT_EQ(platform.messages[1].icon, MessageIcon::None);
}

// An aborted run still gets its end message, and the Return that closed the start message
// does not disturb the run.
TEST_F(RunSequenceTest, AbortStillShowsTheEndMessage) {
  program.settings.time_limit = 60;
  program.scheduler.counters.Hit = 2;
  platform.on_message = [&](const std::string&, const std::string& caption) {
    if (caption == "開始") platform.SetKeyDown(VK_RETURN, true);
  };
  int pumps = 0;
  platform.on_key_query = [&](int key) {
    if (key == VK_RETURN) platform.SetKeyDown(VK_RETURN, false);
  };
  platform.on_pump = [&] {
    if (++pumps == 3) platform.PressKey(VK_ESCAPE);
  };
  EXPECT_EQ(RunSequence(program), 0);
  EXPECT_EQ(pumps, 3);
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[1].text,
            "おわりました。おつかれさま。\nとくてんは 2 てんでした！\n"
            "（Hit:2, FA:0, Miss:0, CR:0）");
}

}  // namespace
}  // namespace pyokoran
