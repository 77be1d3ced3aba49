// The experiment window's response state: the positions at which the participant presses.
// The platform calls the handlers on the UI thread while it delivers events; the trial loop
// reads the presses that ended unseen, then point_count and points[0], between deliveries,
// and calls ResponseTested after each test.
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
  // when the platform did not tell; and whether that is the event's own time or its arrival.
  int64_t press_time_us = kNoPressTime;
  EventTimeSource press_source = EventTimeSource::Arrival;
  static constexpr int64_t kNoPressTime = INT64_MIN;

  // A press that began and ended before any test saw it: a quick click or tap released within
  // one event delivery, or one of several delivered together.
  struct EndedPress {
    ScreenPoint point;  // its last position
    int64_t time_us = kNoPressTime;
    EventTimeSource source = EventTimeSource::Arrival;
  };
  // Such presses since the last test, in the order they were made, all before the current
  // press (if any). Each is tested once at its last position, then dropped by ResponseTested.
  std::vector<EndedPress> ended_unseen;

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
  void OnEventTime(int64_t tick_us, EventTimeSource source) override {
    event_time_us_ = tick_us;
    event_source_ = source;
  }

  // Called by the trial loop after every response test: the current press has been seen, and
  // the ended ones are dropped.
  void ResponseTested();

 private:
  void Clear();
  // A press ends: cleared, and kept in ended_unseen if no test has seen it yet.
  void EndPress();

  // A press begins: its time is that of the event being delivered.
  void BeginPress();

  int64_t event_time_us_ = kNoPressTime;  // of the event being delivered
  EventTimeSource event_source_ = EventTimeSource::Arrival;
  bool seen_by_test_ = false;  // the current press has been tested at least once
};

}  // namespace pyokoran
