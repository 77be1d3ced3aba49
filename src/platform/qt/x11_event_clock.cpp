#include "platform/qt/x11_event_clock.h"

#include <xcb/xcb.h>

#include <cstdlib>

#include "platform/tick_thread.h"

namespace pyokoran {

std::vector<ClockProbe> ProbeX11EventClock(int count) {
  std::vector<ClockProbe> probes;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return probes;
  }
  const xcb_setup_t* setup = xcb_get_setup(c);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
  if (!screen) {
    xcb_disconnect(c);
    return probes;
  }
  // An unmapped input-only window whose property changes are told to us alone.
  const xcb_window_t window = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  const xcb_atom_t property = XCB_ATOM_WM_NAME;
  xcb_flush(c);
  for (int i = 0; i < count; ++i) {
    const uint8_t byte = uint8_t(i);
    const int64_t before = TickThread::MonotonicNs();
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_STRING, 8, 1, &byte);
    xcb_flush(c);
    for (;;) {
      xcb_generic_event_t* event = xcb_wait_for_event(c);
      if (!event) break;  // the connection broke
      const bool ours = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
      if (ours) {
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
        probes.push_back({before, notify->time, TickThread::MonotonicNs()});
      }
      std::free(event);
      if (ours) break;
    }
    if (xcb_connection_has_error(c)) break;
  }
  xcb_destroy_window(c, window);
  xcb_disconnect(c);
  return probes;
}

}  // namespace pyokoran
