// Pointer and touch input on Windows turned into the experiment window's handler calls, and
// a press's own time mapped onto the tick clock.
#include "platform/win32/window/pointer_input.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace pyokoran {
namespace {

// Records the handler calls as text.
class Recorder : public PointerHandler {
 public:
  std::vector<std::string> calls;
  void OnButtonDown(MouseButton b, int32_t x, int32_t y) override {
    calls.push_back(Name(b) + " down " + std::to_string(x) + "," + std::to_string(y));
  }
  void OnButtonUp(MouseButton b) override { calls.push_back(Name(b) + " up"); }
  void OnMouseMove(int32_t x, int32_t y, bool left) override {
    calls.push_back("move " + std::to_string(x) + "," + std::to_string(y) + (left ? " left" : ""));
  }
  void OnTouch(const std::vector<TouchContact>& contacts) override {
    std::ostringstream text;
    text << "touch";
    for (const TouchContact& c : contacts) text << ' ' << c.x << ',' << c.y << (c.up ? " up" : "");
    calls.push_back(text.str());
  }
  void OnActivate(bool) override {}
  void OnCloseOrDestroy() override {}
  void OnEventTime(int64_t us, EventTimeSource) override { calls.push_back("at " + std::to_string(us)); }

 private:
  static std::string Name(MouseButton b) { return b == MouseButton::Left ? "left" : "right"; }
};

using Kind = PointerSample::Kind;

PointerSample Mouse(int32_t x, int32_t y, ButtonChange change, bool left_held) {
  PointerSample p;
  p.kind = Kind::Mouse;
  p.x = x;
  p.y = y;
  p.change = change;
  p.first_button = left_held;
  p.in_contact = left_held;
  return p;
}
PointerSample Finger(int32_t x, int32_t y, bool in_contact, bool up = false, bool canceled = false) {
  PointerSample p;
  p.kind = Kind::Touch;
  p.x = x;
  p.y = y;
  p.in_contact = in_contact;
  p.up = up;
  p.canceled = canceled;
  return p;
}

struct MessageCase {
  const char* name;
  std::vector<PointerSample> frame;
  size_t message_pointer;
  std::vector<std::string> calls;  // with the message timed at 7000 us
  friend std::ostream& operator<<(std::ostream& out, const MessageCase& c) { return out << c.name; }
};

class PointerMessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(PointerMessageTest, BecomesTheseCalls) {
  Recorder r;
  DeliverPointerMessage(GetParam().frame, GetParam().message_pointer, r, true, 7000);
  EXPECT_EQ(r.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PointerMessageTest,
    ::testing::Values(
        MessageCase{"LeftButtonDown", {Mouse(10, 20, ButtonChange::FirstDown, true)}, 0,
                    {"at 7000", "left down 10,20"}},
        MessageCase{"RightButtonDownWhileLeftHeld", {Mouse(5, 6, ButtonChange::SecondDown, true)}, 0,
                    {"at 7000", "right down 5,6"}},
        MessageCase{"LeftButtonUp", {Mouse(5, 6, ButtonChange::FirstUp, false)}, 0, {"at 7000", "left up"}},
        MessageCase{"MoveWithLeftHeld", {Mouse(30, 40, ButtonChange::None, true)}, 0, {"move 30,40 left"}},
        MessageCase{"MoveWithNoButton", {Mouse(30, 40, ButtonChange::None, false)}, 0, {"move 30,40"}},
        MessageCase{"CancelledMouseLetsGo",
                    {[] { auto p = Mouse(1, 2, ButtonChange::None, true); p.canceled = true; return p; }()},
                    0, {"at 7000", "left up"}},
        MessageCase{"PenTipIsTheLeftButton",
                    {[] { auto p = Mouse(8, 9, ButtonChange::FirstDown, true); p.kind = Kind::Pen; return p; }()},
                    0, {"at 7000", "left down 8,9"}},
        // Every finger of the frame, in the system's order, whichever the message is about.
        MessageCase{"TwoFingersDown", {Finger(100, 200, true), Finger(300, 400, true)}, 1,
                    {"at 7000", "touch 100,200 300,400"}},
        MessageCase{"OneOfTwoLifts", {Finger(100, 200, false, true), Finger(300, 400, true)}, 0,
                    {"at 7000", "touch 100,200 up 300,400"}},
        MessageCase{"CancelledTouchEnds", {Finger(1, 1, true, false, true)}, 0, {"at 7000", "touch 1,1 up"}},
        MessageCase{"MessageOutsideItsFrameIsIgnored", {Finger(1, 1, true)}, 3, {}}));

TEST(PointerMessageTest, UntimedInputTellsNoTime) {
  Recorder r;
  DeliverPointerMessage({Mouse(1, 2, ButtonChange::FirstDown, true)}, 0, r, false, 0);
  EXPECT_EQ(r.calls, std::vector<std::string>{"left down 1,2"});
}

TEST(TouchInputTest, HundredthsTruncateTowardZeroIntoClientPixels) {
  const std::vector<TouchContact> contacts =
      TouchContactsOf({{199, 250, false}, {-150, 100099, true}, {64000, 48000, false}}, 0, 0);
  ASSERT_EQ(contacts.size(), 3u);
  EXPECT_EQ(contacts[0].x, 1);
  EXPECT_EQ(contacts[0].y, 2);
  EXPECT_EQ(contacts[1].x, -1);
  EXPECT_EQ(contacts[1].y, 1000);
  EXPECT_TRUE(contacts[1].up);
  EXPECT_EQ(contacts[2].x, 640);
  // A window whose client area starts at (100, 50) on the screen.
  EXPECT_EQ(TouchContactsOf({{64000, 48000, false}}, 100, 50)[0].x, 540);
  EXPECT_EQ(TouchContactsOf({{64000, 48000, false}}, 100, 50)[0].y, 430);
}

struct TimeCase {
  const char* name;
  uint64_t input_count;
  uint64_t arrival_count;
  int64_t frequency;
  int64_t arrival_us;
  int64_t expect_us;
  bool mapped;
  friend std::ostream& operator<<(std::ostream& out, const TimeCase& c) { return out << c.name; }
};

class PressTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(PressTimeTest, MapsOntoTheTickClock) {
  const TimeCase& c = GetParam();
  bool mapped = !c.mapped;
  EXPECT_EQ(PressTimeUs(c.input_count, c.arrival_count, c.frequency, c.arrival_us, &mapped), c.expect_us);
  EXPECT_EQ(mapped, c.mapped);
  EXPECT_LE(PressTimeUs(c.input_count, c.arrival_count, c.frequency, c.arrival_us), c.arrival_us);
}

// The usual counter runs at 10 MHz; older systems used 3.579545 MHz or the processor's clock.
INSTANTIATE_TEST_SUITE_P(
    Cases, PressTimeTest,
    ::testing::Values(
        TimeCase{"FiveMsBeforeArrival", 1'000'000'000, 1'000'050'000, 10'000'000, 20'000, 15'000, true},
        TimeCase{"AtArrival", 1'000'000'000, 1'000'000'000, 10'000'000, 20'000, 20'000, true},
        TimeCase{"BeforeTheRunBegan", 1'000'000'000, 1'000'300'000, 10'000'000, 20'000, -10'000, true},
        TimeCase{"OddFrequencyRoundsTowardArrival", 100, 3680, 3'579'545, 50'000, 49'000, true},
        TimeCase{"ProcessorClock", 0x7000'0000'0000'0000, 0x7000'0000'0000'0000 + 3'000'000'000ull / 1000 * 2,
                 3'000'000'000, 1'000'000, 998'000, true},
        TimeCase{"NotTimedTakesTheArrival", 0, 1'000'050'000, 10'000'000, 20'000, 20'000, false},
        TimeCase{"AfterTheArrivalTakesTheArrival", 1'000'050'001, 1'000'050'000, 10'000'000, 20'000, 20'000, false},
        TimeCase{"TooOldTakesTheArrival", 1'000'000'000, 1'002'000'000, 10'000'000, 500'000, 500'000, false},
        TimeCase{"NoFrequencyTakesTheArrival", 1, 2, 0, 7, 7, false}));

}  // namespace
}  // namespace pyokoran
