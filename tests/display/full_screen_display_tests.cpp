#include "display/full_screen_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "display/surfaces.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

struct FitCase {
  int32_t screen_width, screen_height;
  Rect stage_rect;
};
std::ostream& operator<<(std::ostream& os, const FitCase& c) {
  return os << c.screen_width << "x" << c.screen_height;
}

class FitStageTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitStageTest, LargestCentredFourByThreeRectangle) {
  EXPECT_EQ(FitStage(GetParam().screen_width, GetParam().screen_height), GetParam().stage_rect);
}

INSTANTIATE_TEST_SUITE_P(Screens, FitStageTest,
                         ::testing::Values(FitCase{1024, 768, {0, 0, 1024, 768}},
                                           FitCase{1920, 1080, {240, 0, 1680, 1080}},
                                           FitCase{1280, 800, {106, 0, 1173, 800}},
                                           FitCase{2560, 1600, {213, 0, 2346, 1600}},
                                           FitCase{2560, 1080, {560, 0, 2000, 1080}},
                                           FitCase{1280, 1024, {0, 32, 1280, 992}},
                                           FitCase{1600, 1200, {0, 0, 1600, 1200}},
                                           FitCase{800, 600, {0, 0, 800, 600}},
                                           FitCase{768, 1024, {0, 224, 768, 800}},
                                           FitCase{0, 0, {0, 0, 0, 0}}));

TEST(ScreenToStage, MapsScreenPixelsBackUnclamped) {
  struct Case {
    int32_t sw, sh, x, y, stage_x, stage_y;
  } cases[] = {
      {1920, 1080, 1679, 1079, 1023, 767}, {1920, 1080, 240, 0, 0, 0},
      {1920, 1080, 239, 10, 0, 7},         {1920, 1080, 0, 0, -170, 0},
      {1920, 1080, 1919, 1079, 1193, 767}, {1024, 768, 0, 0, 0, 0},
      {1024, 768, 1023, 767, 1023, 767},   {1024, 768, 517, 33, 517, 33},
      {1280, 1024, 640, 32, 512, 0},       {1280, 1024, 0, 0, 0, -25},
      {1600, 1200, 1599, 1199, 1023, 767},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh << " (" << c.x << ", " << c.y << ")");
    StageGeometry g;
    g.stage_rect = FitStage(c.sw, c.sh);
    g.source_rect = {0, 0, 1024, 768};
    StagePoint p = ScreenToStage(g, c.x, c.y);
    EXPECT_EQ(p.x, c.stage_x);
    EXPECT_EQ(p.y, c.stage_y);
  }
  StageGeometry empty;
  EXPECT_EQ(ScreenToStage(empty, 5, 5).x, 0);
}

TEST(FullScreenDisplay, InitPresentAndShutdown) {
  FakePlatform platform;
  platform.screen = {1920, 1080};
  FullScreenDisplay display;
  ASSERT_EQ(InitDisplay(platform, display), 1);
  EXPECT_EQ(display.geometry.stage_rect, (Rect{240, 0, 1680, 1080}));
  EXPECT_EQ(display.geometry.source_rect, (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(display.primary.width, 1920);
  EXPECT_EQ(display.stage.surface.width, 1024);
  EXPECT_EQ(display.stage.surface.height, 768);

  BindClipper(platform, display, WindowId::Experiment);
  EXPECT_EQ(platform.present_window, WindowId::Experiment);
  FillSurface(display, SURFACE_STAGE, 0x0000FF);
  PresentFrame(platform, display);
  EXPECT_EQ(platform.frames_presented, 1);
  EXPECT_EQ(platform.last_stage_rect, (Rect{240, 0, 1680, 1080}));
  EXPECT_EQ(platform.last_frame.at(512, 384), 0xFF0000u);
  // A stage that is locked is not shown; the screen keeps the previous frame.
  LockSurface(display, SURFACE_STAGE);
  PresentFrame(platform, display);
  EXPECT_EQ(platform.frames_presented, 1);
  UnlockSurface(display, SURFACE_STAGE);

  CreateSurface(display, 128, 128);
  ShutdownDisplay(platform, display);
  ShutdownDisplay(platform, display);
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "ShutdownDisplay"), 1);
  EXPECT_EQ(display.surfaces.count(), 0);
  EXPECT_EQ(FillSurface(display, SURFACE_STAGE, 0), 0);
  PresentFrame(platform, display);
  EXPECT_EQ(platform.frames_presented, 1);
}

TEST(FullScreenDisplay, InitFailsWithoutADisplayOrAScreen) {
  FakePlatform platform;
  platform.display_ok = false;
  FullScreenDisplay display;
  EXPECT_EQ(InitDisplay(platform, display), 0);
  ShutdownDisplay(platform, display);

  FakePlatform no_screen;
  no_screen.screen = {0, 0};
  FullScreenDisplay other;
  EXPECT_EQ(InitDisplay(no_screen, other), 0);
}

}  // namespace
}  // namespace pyokoran
