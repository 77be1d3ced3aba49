// The experiment window's response state: the positions at which the participant presses.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace pyokoran {

struct ScreenPoint {
  int32_t x = 0;
  int32_t y = 0;
};

class CTouchWnd : public PointerHandler {
 public:
  int32_t touch_ready = 0;
  int32_t touch_registered = 0;
  int32_t pressed = 0;
  int32_t point_count = 0;
  std::vector<ScreenPoint> points;  // screen pixels

  void OnButtonDown(MouseButton button, int32_t x, int32_t y) override;
  void OnButtonUp(MouseButton button) override;
  void OnMouseMove(int32_t x, int32_t y, bool left_held) override;
  void OnTouch(const std::vector<TouchContact>& contacts) override;
  void OnActivate(bool active) override;
  void OnCloseOrDestroy() override;
};

}  // namespace pyokoran
