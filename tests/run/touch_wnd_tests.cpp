#include "run/touch_wnd.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pyokoran {
namespace {

// One thing that happens to the window; kTest is the trial loop's response test.
struct Step {
  enum Kind { kLeftDown, kRightDown, kLeftUp, kRightUp, kMove, kMoveLeftHeld, kTouch, kTest, kClose };
  Kind kind;
  int32_t x = 0;
  int32_t y = 0;
  std::vector<TouchContact> contacts = {};
};

Step LeftDown(int32_t x, int32_t y) { return {Step::kLeftDown, x, y}; }
Step RightDown(int32_t x, int32_t y) { return {Step::kRightDown, x, y}; }
const Step kLeftUp{Step::kLeftUp};
const Step kRightUp{Step::kRightUp};
Step Move(int32_t x, int32_t y) { return {Step::kMove, x, y}; }
Step Drag(int32_t x, int32_t y) { return {Step::kMoveLeftHeld, x, y}; }
Step Touch(std::vector<TouchContact> contacts) { return {Step::kTouch, 0, 0, std::move(contacts)}; }
const Step kTest{Step::kTest};
const Step kClose{Step::kClose};

void Apply(CTouchWnd& wnd, const Step& step) {
  switch (step.kind) {
    case Step::kLeftDown: wnd.OnButtonDown(MouseButton::Left, step.x, step.y); break;
    case Step::kRightDown: wnd.OnButtonDown(MouseButton::Right, step.x, step.y); break;
    case Step::kLeftUp: wnd.OnButtonUp(MouseButton::Left); break;
    case Step::kRightUp: wnd.OnButtonUp(MouseButton::Right); break;
    case Step::kMove: wnd.OnMouseMove(step.x, step.y, false); break;
    case Step::kMoveLeftHeld: wnd.OnMouseMove(step.x, step.y, true); break;
    case Step::kTouch: wnd.OnTouch(step.contacts); break;
    case Step::kTest: wnd.ResponseTested(); break;
    case Step::kClose: wnd.OnCloseOrDestroy(); break;
  }
}

struct TouchCase {
  const char* name;
  std::vector<Step> steps;
  int32_t pressed;
  int32_t point_count;
  ScreenPoint first = {};  // checked when point_count > 0
  std::vector<ScreenPoint> ended = {};  // presses that ended unseen, in order
};

std::ostream& operator<<(std::ostream& out, const TouchCase& c) { return out << c.name; }

// kTest marks where the trial loop tested the response. A press that ends before any test
// has seen it waits, at its last position, among the ended presses until the next test.
const TouchCase kCases[] = {
    {"LeftPress", {LeftDown(10, 20)}, 1, 1, {10, 20}},
    {"RightPressIsAResponseToo", {RightDown(10, 20), kTest}, 1, 1, {10, 20}},
    {"TestedPressEndsOnRelease", {LeftDown(10, 20), kTest, kLeftUp}, 0, 0},
    {"LeftDragFollowsThePointer", {LeftDown(10, 20), kTest, Drag(30, 40)}, 1, 1, {30, 40}},
    {"MoveWithoutLeftHeldDoesNotMove", {RightDown(10, 20), Move(30, 40)}, 1, 1, {10, 20}},
    {"DragWithoutAPressDoesNothing", {Drag(30, 40)}, 0, 0},
    {"LeftWhileRightHeldChangesNothing", {RightDown(10, 20), LeftDown(50, 60)}, 1, 1, {10, 20}},
    {"EitherReleaseEndsThePress", {LeftDown(10, 20), kTest, kRightUp}, 0, 0},
    {"ReleaseWithoutPressDoesNothing", {kLeftUp, kRightUp}, 0, 0},
    {"TwoContactsTheFirstReportedLeads",
     {Touch({{5, 6, false}, {700, 800, false}})}, 1, 2, {5, 6}},
    {"OneOfTwoContactsLifts",
     {Touch({{5, 6, false}, {700, 800, false}}), kTest, Touch({{5, 6, true}, {701, 801, false}})},
     1, 1, {701, 801}},
    {"LastContactLiftsAfterATest",
     {Touch({{5, 6, false}}), kTest, Touch({{5, 6, true}})}, 0, 0},
    {"TouchWithoutContactsKeepsThePositions",
     {LeftDown(10, 20), kTest, Touch({})}, 1, 1, {10, 20}},
    {"ButtonIgnoredWhileTouching", {Touch({{5, 6, false}}), LeftDown(10, 20)}, 1, 1, {5, 6}},
    {"TouchReplacesAMousePosition", {LeftDown(10, 20), Touch({{7, 8, false}})}, 1, 1, {7, 8}},
    {"ButtonReleaseEndsATouchPress", {Touch({{5, 6, false}}), kTest, kLeftUp}, 0, 0},
    {"CloseClearsAHeldPress", {LeftDown(10, 20), kClose}, 0, 0},
    // Quick presses: press and release before the loop tested anything.
    {"QuickClickWaitsForItsTest", {LeftDown(10, 20), kLeftUp}, 0, 0, {}, {{10, 20}}},
    {"QuickClickClearedByTheTest", {LeftDown(10, 20), kLeftUp, kTest}, 0, 0},
    {"QuickDragKeepsItsLastPosition", {LeftDown(10, 20), Drag(30, 40), kLeftUp}, 0, 0, {}, {{30, 40}}},
    {"QuickTapWaitsForItsTest", {Touch({{5, 6, false}}), Touch({{5, 6, true}})}, 0, 0, {}, {{5, 6}}},
    {"QuickTapClearedByTheTest", {Touch({{5, 6, false}}), Touch({{5, 6, true}}), kTest}, 0, 0},
    // Several presses in one delivery: none is lost, each waits in its order.
    {"NewPressFollowsAWaitingOne",
     {LeftDown(10, 20), kLeftUp, RightDown(30, 40)}, 1, 1, {30, 40}, {{10, 20}}},
    {"TwoQuickClicksBothWait",
     {LeftDown(10, 20), kLeftUp, LeftDown(30, 40), Drag(35, 45), kLeftUp}, 0, 0, {}, {{10, 20}, {35, 45}}},
    {"TwoQuickTapsBothWait",
     {Touch({{5, 6, false}, {9, 9, false}}), Touch({{5, 6, true}, {9, 9, true}}),
      Touch({{7, 8, false}}), Touch({{7, 8, true}})}, 0, 0, {}, {{5, 6}, {7, 8}}},
    {"TheTestDropsTheWaitingPresses",
     {LeftDown(10, 20), kLeftUp, RightDown(30, 40), kTest}, 1, 1, {30, 40}},
    {"WaitingPressIgnoresDrags", {LeftDown(10, 20), kLeftUp, Drag(30, 40)}, 0, 0, {}, {{10, 20}}},
    {"CloseClearsAWaitingPress", {LeftDown(10, 20), kLeftUp, kClose}, 0, 0},
    {"StrayLiftIsNoPress", {Touch({{5, 6, true}})}, 0, 0},
};

class TouchWndTest : public ::testing::TestWithParam<TouchCase> {};

TEST_P(TouchWndTest, EventsGiveTheResponseState) {
  const TouchCase& c = GetParam();
  CTouchWnd wnd;
  for (const Step& step : c.steps) Apply(wnd, step);
  EXPECT_EQ(wnd.pressed, c.pressed);
  ASSERT_EQ(wnd.point_count, c.point_count);
  ASSERT_EQ(wnd.points.size(), size_t(c.point_count));
  if (c.point_count > 0) {
    EXPECT_EQ(wnd.points[0].x, c.first.x);
    EXPECT_EQ(wnd.points[0].y, c.first.y);
  }
  ASSERT_EQ(wnd.ended_unseen.size(), c.ended.size());
  for (size_t i = 0; i < c.ended.size(); ++i) {
    EXPECT_EQ(wnd.ended_unseen[i].point.x, c.ended[i].x) << i;
    EXPECT_EQ(wnd.ended_unseen[i].point.y, c.ended[i].y) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, TouchWndTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
