#include "display/full_screen_display.h"

namespace pyokoran {

int InitDisplay(Platform& platform, FullScreenDisplay& display) {
  if (!platform.InitDisplay()) return 0;
  display.initialised = true;
  return 1;
}

void BindClipper(Platform& platform, FullScreenDisplay&, WindowId window) {
  platform.BindPresentWindow(window);
}

void PresentFrame(Platform&, FullScreenDisplay&) {}

void ShutdownDisplay(Platform& platform, FullScreenDisplay& display) {
  display.surfaces.slots.clear();
  if (display.initialised) platform.ShutdownDisplay();
  display.initialised = false;
}

StagePoint ScreenToStage(const StageGeometry&, int32_t x, int32_t y) { return {x, y}; }

}  // namespace pyokoran
