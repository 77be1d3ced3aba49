// Escape and Return as the trial loop asks for them on Windows: the system's key state and
// the key messages retrieved between the queries, each stroke reported once.
#include "platform/win32/window/key_latch.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/platform.h"

namespace pyokoran {
namespace {

// One step: a query (with the asynchronous state's two bits) or a key message retrieved.
struct Step {
  enum Kind { Query, Press, Repeat, Release } kind;
  int64_t at_ms;
  bool down_now = false;       // Query: the key is down now
  bool pressed_since = false;  // Query: pressed since the previous query
  bool expect = false;         // Query: reported active; message: dropped
};
Step Ask(int64_t at, bool down, bool since, bool active) { return {Step::Query, at, down, since, active}; }
Step Msg(Step::Kind kind, int64_t at, bool dropped) { return {kind, at, false, false, dropped}; }

struct LatchCase {
  const char* name;
  std::vector<Step> steps;
  friend std::ostream& operator<<(std::ostream& out, const LatchCase& c) { return out << c.name; }
};

class KeyLatchTest : public ::testing::TestWithParam<LatchCase> {};

TEST_P(KeyLatchTest, ReportsEachStrokeOnce) {
  for (int key : {VK_ESCAPE, VK_RETURN}) {
    KeyLatch latch;
    int i = 0;
    for (const Step& s : GetParam().steps) {
      if (s.kind == Step::Query) {
        EXPECT_EQ(latch.Query(key, s.down_now, s.pressed_since, s.at_ms), s.expect) << "step " << i;
      } else {
        EXPECT_EQ(latch.OnKeyMessage(key, s.kind != Step::Release, s.kind == Step::Repeat, s.at_ms),
                  s.expect)
            << "step " << i;
      }
      ++i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyLatchTest,
    ::testing::Values(
        LatchCase{"QuickStrokeSeenByTheSystemFirst",  // its press message comes after the query
                  {Ask(0, false, true, true), Msg(Step::Press, 5, true), Msg(Step::Release, 6, false),
                   Ask(10, false, false, false)}},
        LatchCase{"QuickStrokeWhoseMessageCameFirst",  // the system's bit may have been cleared
                  {Msg(Step::Press, 0, false), Msg(Step::Release, 1, false), Ask(5, false, false, true),
                   Ask(10, false, false, false)}},
        LatchCase{"BothSeeTheSameStroke",
                  {Msg(Step::Press, 0, false), Ask(5, false, true, true), Ask(10, false, false, false)}},
        LatchCase{"HeldKeyIsActiveWhileDown",
                  {Ask(0, true, true, true), Msg(Step::Press, 2, true), Ask(10, true, false, true),
                   Msg(Step::Repeat, 500, true), Ask(510, true, true, true), Msg(Step::Release, 600, false),
                   Ask(610, false, false, false)}},
        LatchCase{"RepeatsAreNeverNewStrokes",
                  {Msg(Step::Press, 0, false), Ask(1, true, true, true), Msg(Step::Repeat, 500, true),
                   Msg(Step::Repeat, 533, true), Msg(Step::Release, 540, false), Ask(550, false, false, false)}},
        LatchCase{"LatePressOfAnOwedStrokeCountsAgain",  // another program had it
                  {Ask(0, true, true, true), Msg(Step::Press, 2000, false), Ask(2001, false, false, true)}},
        LatchCase{"SecondStrokeAfterAnOwedOne",
                  {Ask(0, false, true, true), Msg(Step::Press, 1, true), Msg(Step::Release, 2, false),
                   Msg(Step::Press, 30, false), Msg(Step::Release, 31, false), Ask(40, false, true, true),
                   Ask(50, false, false, false)}}));

TEST(KeyLatchTest, OtherKeysAreNeverActiveNorDropped) {
  KeyLatch latch;
  EXPECT_FALSE(latch.OnKeyMessage('A', true, true, 0));
  EXPECT_FALSE(latch.Query('A', true, true, 0));
}

TEST(KeyLatchTest, KeysAreKeptApart) {
  KeyLatch latch;
  EXPECT_FALSE(latch.OnKeyMessage(VK_RETURN, true, false, 0));
  EXPECT_FALSE(latch.Query(VK_ESCAPE, false, false, 1));
  EXPECT_TRUE(latch.Query(VK_RETURN, false, false, 2));
}

TEST(KeyLatchTest, NothingIsOwedToAProgramThatLostTheKeyboard) {
  KeyLatch latch;
  EXPECT_TRUE(latch.Query(VK_ESCAPE, true, true, 0));
  latch.FocusLost();
  // Back in front, a new stroke's press is its own.
  EXPECT_FALSE(latch.OnKeyMessage(VK_ESCAPE, true, false, 100));
  EXPECT_TRUE(latch.Query(VK_ESCAPE, false, false, 110));
}

}  // namespace
}  // namespace pyokoran
