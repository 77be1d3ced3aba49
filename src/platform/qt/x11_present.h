// The X Present extension's reports on one window, read on a connection of our own: its
// events never pass through Qt's event queue, so they reach nothing but the display layer,
// and only when it asks. Any client may watch any window: the completions of the presents
// Mesa makes for an OpenGL swap (DRI3) reach us as they reach Mesa.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "timing/flip_times.h"

typedef struct xcb_connection_t xcb_connection_t;

namespace pyokoran {

class X11PresentWatch {
 public:
  // Watches X window `window` for completed presents; null when there is no X display or it
  // has no Present extension.
  static std::unique_ptr<X11PresentWatch> Create(uint32_t window);
  ~X11PresentWatch();

  // count round trips that ask for the window's refresh counter now (a notification on the
  // counter's current value completes at once): the UST of each answer between two
  // monotonic times. Fewer (or none) where the server does not answer.
  std::vector<UstProbe> Probe(int count);
  // Waits until deadline_ns (monotonic) for the next completion of a picture presented on the
  // window (not a probe's); false when none came by then.
  bool Next(int64_t deadline_ns, FrameCompletion& completion);
  // Forgets the completions that have arrived; how many there were.
  int Drain();
  // The server's Present version, as "major.minor".
  uint32_t major() const { return major_; }
  uint32_t minor() const { return minor_; }

 private:
  X11PresentWatch() = default;
  // The next completion of the given kind until the deadline.
  bool Wait(int64_t deadline_ns, uint8_t kind, uint32_t serial, FrameCompletion& out, uint64_t* ust);

  xcb_connection_t* connection_ = nullptr;
  uint32_t window_ = 0;
  uint32_t event_id_ = 0;
  uint8_t opcode_ = 0;
  uint32_t major_ = 0, minor_ = 0;
  uint32_t probe_serial_ = 0;
};

}  // namespace pyokoran
