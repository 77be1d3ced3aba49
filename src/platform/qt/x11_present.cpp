#include "platform/qt/x11_present.h"

#include <poll.h>
#include <xcb/present.h>
#include <xcb/xcb.h>

#include <cstdlib>

#include "platform/tick_thread.h"

namespace pyokoran {

std::unique_ptr<X11PresentWatch> X11PresentWatch::Create(uint32_t window) {
  if (window == 0) return nullptr;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return nullptr;
  }
  std::unique_ptr<X11PresentWatch> watch(new X11PresentWatch);
  watch->connection_ = c;
  watch->window_ = window;
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_present_id);
  if (!extension || !extension->present) return nullptr;
  watch->opcode_ = extension->major_opcode;
  xcb_present_query_version_reply_t* version = xcb_present_query_version_reply(
      c, xcb_present_query_version(c, XCB_PRESENT_MAJOR_VERSION, XCB_PRESENT_MINOR_VERSION), nullptr);
  if (!version) return nullptr;
  watch->major_ = version->major_version;
  watch->minor_ = version->minor_version;
  std::free(version);
  watch->event_id_ = xcb_generate_id(c);
  xcb_generic_error_t* error = xcb_request_check(
      c, xcb_present_select_input_checked(c, watch->event_id_, window,
                                          XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY));
  if (error) {  // the window is gone, or not a window
    std::free(error);
    watch->event_id_ = 0;
    return nullptr;
  }
  return watch;
}

X11PresentWatch::~X11PresentWatch() {
  if (!connection_) return;
  if (event_id_ != 0 && !xcb_connection_has_error(connection_)) {
    // The watch ends with the connection; said explicitly for servers that keep it longer.
    xcb_present_select_input(connection_, event_id_, window_, 0);
    xcb_flush(connection_);
  }
  xcb_disconnect(connection_);
}

bool X11PresentWatch::Wait(int64_t deadline_ns, uint8_t kind, uint32_t serial,
                           FrameCompletion& out, uint64_t* ust) {
  for (;;) {
    xcb_generic_event_t* event = xcb_poll_for_event(connection_);
    if (!event) {
      if (xcb_connection_has_error(connection_)) return false;
      const int64_t left_ns = deadline_ns - TickThread::MonotonicNs();
      if (left_ns <= 0) return false;
      pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
      // Milliseconds, rounded up; a wait of a millisecond at least.
      ::poll(&fd, 1, int((left_ns + 999'999) / 1'000'000));
      continue;
    }
    bool found = false;
    if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
      const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
      if (ge->extension == opcode_ && ge->event_type == XCB_PRESENT_COMPLETE_NOTIFY) {
        const auto* n = reinterpret_cast<const xcb_present_complete_notify_event_t*>(event);
        if (n->window == window_ && n->kind == kind &&
            (kind != XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC || n->serial == serial)) {
          out.ust_us = n->ust;
          out.msc = n->msc;
          out.mode = CompletionModeFromPresent(n->mode);
          if (ust) *ust = n->ust;
          found = true;
        }
      }
    }
    std::free(event);
    if (found) return true;
  }
}

std::vector<UstProbe> X11PresentWatch::Probe(int count) {
  std::vector<UstProbe> probes;
  for (int i = 0; i < count; ++i) {
    const uint32_t serial = ++probe_serial_ | 0x80000000u;  // apart from Mesa's
    const int64_t before = TickThread::MonotonicNs();
    xcb_present_notify_msc(connection_, window_, serial, 0, 0, 0);
    xcb_flush(connection_);
    FrameCompletion answer;
    uint64_t ust = 0;
    if (!Wait(before + 200'000'000, XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC, serial, answer, &ust)) break;
    probes.push_back({before, ust, TickThread::MonotonicNs()});
  }
  return probes;
}

bool X11PresentWatch::Next(int64_t deadline_ns, FrameCompletion& completion) {
  return Wait(deadline_ns, XCB_PRESENT_COMPLETE_KIND_PIXMAP, 0, completion, nullptr);
}

int X11PresentWatch::Drain() {
  int count = 0;
  FrameCompletion ignored;
  while (Wait(0, XCB_PRESENT_COMPLETE_KIND_PIXMAP, 0, ignored, nullptr)) ++count;
  return count;
}

}  // namespace pyokoran
