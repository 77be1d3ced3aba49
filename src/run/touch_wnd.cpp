#include "run/touch_wnd.h"

namespace pyokoran {

void CTouchWnd::OnButtonDown(MouseButton, int32_t x, int32_t y) {
  if (pressed) return;
  pressed = 1;
  points.assign(1, ScreenPoint{x, y});
  point_count = 1;
  BeginPress();
}

void CTouchWnd::BeginPress() {
  seen_by_test_ = false;
  press_time_us = event_time_us_;
  press_source = event_source_;
  event_time_us_ = kNoPressTime;
  event_source_ = EventTimeSource::Arrival;
}

void CTouchWnd::OnButtonUp(MouseButton) {
  if (pressed) EndPress();
}

void CTouchWnd::OnMouseMove(int32_t x, int32_t y, bool left_held) {
  if (!pressed || !left_held) return;
  points.assign(1, ScreenPoint{x, y});
  point_count = 1;
}

void CTouchWnd::OnTouch(const std::vector<TouchContact>& contacts) {
  if (!pressed) BeginPress();
  pressed = 1;
  // An event without contacts leaves the positions as they were.
  if (contacts.empty()) return;

  std::vector<ScreenPoint> down;
  down.reserve(contacts.size());
  for (const TouchContact& c : contacts) {
    if (!c.up) down.push_back({c.x, c.y});
  }
  if (down.empty()) {
    // The last contact lifted. An unseen press is kept at its positions from before the lift.
    EndPress();
    return;
  }
  points = std::move(down);
  point_count = int32_t(points.size());
}

void CTouchWnd::OnActivate(bool active) {
  if (active) {
    if (touch_ready && !touch_registered) touch_registered = 1;
  } else {
    if (touch_ready && touch_registered) touch_registered = 0;
  }
}

void CTouchWnd::OnCloseOrDestroy() {
  pressed = 0;
  Clear();
  ended_unseen.clear();
}

void CTouchWnd::ResponseTested() {
  seen_by_test_ = true;
  ended_unseen.clear();
}

void CTouchWnd::Clear() {
  points.clear();
  point_count = 0;
}

void CTouchWnd::EndPress() {
  pressed = 0;
  if (!seen_by_test_ && point_count > 0 && !points.empty()) {
    ended_unseen.push_back({points[0], press_time_us, press_source});
  }
  Clear();
}

}  // namespace pyokoran
