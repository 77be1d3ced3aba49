// The experiment window's response state: the positions at which the participant presses.
// The platform calls the handlers on the UI thread while it delivers events; the trial loop
// reads point_count and points[0] between deliveries and calls ResponseTested after each
// test.
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
  // Qt hands the window touch events whenever a touch screen is present, so readiness is
  // taken for granted; registration only follows activation.
  int32_t touch_ready = 1;
  int32_t touch_registered = 0;
  int32_t pressed = 0;
  int32_t point_count = 0;
  std::vector<ScreenPoint> points;  // screen pixels
  // When the current (or last) press began, in microseconds on the tick clock; kNoPressTime
  // when the platform did not tell.
  int64_t press_time_us = kNoPressTime;
  static constexpr int64_t kNoPressTime = INT64_MIN;

  // Button down (left or right) starts a press at (x, y) unless one is under way.
  void OnButtonDown(MouseButton button, int32_t x, int32_t y) override;
  // Either button's release ends the press.
  void OnButtonUp(MouseButton button) override;
  // With the left button held, the press follows the pointer.
  void OnMouseMove(int32_t x, int32_t y, bool left_held) override;
  // Contacts down or moving become the positions; lifted ones are dropped.
  void OnTouch(const std::vector<TouchContact>& contacts) override;
  void OnActivate(bool active) override;
  void OnCloseOrDestroy() override;
  void OnEventTime(int64_t tick_us) override { event_time_us_ = tick_us; }

  // Called by the trial loop after every response test. A press that ended before any test
  // saw it (a quick click or tap released within one event delivery) was kept until now at
  // its last position, so that it is tested once; it is cleared here.
  void ResponseTested();

 private:
  void Clear();
  // A press ends: cleared, or kept pending if no test has seen it yet.
  void EndPress();

  // A press begins: its time is that of the event being delivered.
  void BeginPress();

  int64_t event_time_us_ = kNoPressTime;  // of the event being delivered
  bool seen_by_test_ = false;  // the current press has been tested at least once
  bool pending_ = false;       // an ended press waiting for its one test
};

}  // namespace pyokoran
