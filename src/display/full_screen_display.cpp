#include "display/full_screen_display.h"

#include <cmath>
#include <limits>

#include "display/surfaces.h"

namespace pyokoran {

namespace {

// Half away from zero, then truncated.
int32_t RoundHalfAway(double v) {
  return int32_t(v >= 0.0 ? v + 0.5 : v - 0.5);
}

// Truncation toward zero that stays inside int32 for any finite value.
int32_t TruncToInt32(double v) {
  if (!(v == v)) return 0;
  if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

}  // namespace

Rect FitStage(int32_t screen_width, int32_t screen_height) {
  const int32_t w = kStageWidth, h = kStageHeight;
  const int32_t sw = screen_width, sh = screen_height;
  if (sw == w && sh == h) return {0, 0, sw, sh};
  if (sw <= 0 || sh <= 0) return {0, 0, 0, 0};
  double a_screen = double(sw) / double(sh);
  double a_stage = double(w) / double(h);
  if (a_screen > a_stage) {
    int32_t scaled = RoundHalfAway(w * (double(sh) / h));
    int32_t left = (sw - scaled) / 2;
    return {left, 0, left + scaled, sh};
  }
  int32_t scaled = RoundHalfAway(h * (double(sw) / w));
  int32_t top = (sh - scaled) / 2;
  return {0, top, sw, top + scaled};
}

StagePoint ScreenToStage(const StageGeometry& g, int32_t x, int32_t y) {
  const Rect& s = g.source_rect;
  const Rect& d = g.stage_rect;
  double dw = double(d.right) - d.left;
  double dh = double(d.bottom) - d.top;
  if (dw <= 0 || dh <= 0) return {};
  return {TruncToInt32((double(s.right) - s.left) * (double(x) - d.left) / dw),
          TruncToInt32((double(s.bottom) - s.top) * (double(y) - d.top) / dh)};
}

int InitDisplay(Platform& platform, FullScreenDisplay& display) {
  ScreenSize screen = platform.GetScreenSize();
  StageGeometry& g = display.geometry;
  g.screen_width = screen.width;
  g.screen_height = screen.height;
  g.stage_width = kStageWidth;
  g.stage_height = kStageHeight;
  if (screen.width <= 0 || screen.height <= 0) return 0;

  display.primary = SurfaceSlot{};
  display.primary.width = screen.width;
  display.primary.height = screen.height;

  display.stage = SurfaceSlot{};
  display.stage.surface = Surface(kStageWidth, kStageHeight);
  display.stage.width = kStageWidth;
  display.stage.height = kStageHeight;
  display.stage.created = true;

  if (!platform.InitDisplay()) return 0;
  display.initialised = true;

  g.stage_rect = FitStage(screen.width, screen.height);
  g.source_rect = {0, 0, kStageWidth, kStageHeight};
  display.surfaces.slots.clear();
  return 1;
}

void BindClipper(Platform& platform, FullScreenDisplay&, WindowId window) {
  platform.BindPresentWindow(window);
}

int PresentFrame(Platform& platform, FullScreenDisplay& display,
                 const std::vector<Rect>* changed) {
  const SurfaceSlot& stage = display.stage;
  // A busy stage cannot be copied from; the screen keeps the previous frame.
  if (!display.initialised || !stage.created || stage.locked || stage.dc_out) return 0;
  if (changed) {
    platform.PresentChanged(stage.surface, display.geometry.stage_rect, *changed);
  } else {
    platform.Present(stage.surface, display.geometry.stage_rect);
  }
  return 1;
}

void ShutdownDisplay(Platform& platform, FullScreenDisplay& display) {
  ReleaseAllSurfaces(display);
  if (display.initialised) platform.ShutdownDisplay();
  display.initialised = false;
  display.stage = SurfaceSlot{};
  display.primary = SurfaceSlot{};
}


}  // namespace pyokoran
