// Escape and Return as the trial loop asks for them, and what their key events may do.
//
// A query delivers no events. "Down now" is the keyboard's state on the X server, asked
// for directly; "pressed since the previous query" comes from the key events this tracker
// has seen delivered. Where the system offers no keyboard query (offscreen, Wayland) only
// delivered presses count: a key held down is not reported down, for a query that waits
// for its release could never see it.
//
// Watching key events application-wide (install on the application), it also keeps stale
// strokes of Escape and Return away from the windows: auto-repeated presses (also those
// the X server sends as a release and a press with one timestamp), the press of a stroke
// that a query has already reported, and presses of a key that was down when a dialog
// opened.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

struct xcb_connection_t;

namespace pyokoran {

class KeyTracker : public QObject {
 public:
  // Uses the application's X connection when it has one.
  KeyTracker();

  // VK_ESCAPE or VK_RETURN: down now, or pressed since the previous query for that key.
  bool Active(int virtual_key);
  // A modal dialog is about to open: a key down now does not act in it before its release.
  // Only where "down now" comes from the X server; the release is watched for there too, as
  // its event may reach no window of the program.
  void DialogOpening();
  // True when "down now" comes from the X server.
  bool has_keyboard_query() const { return connection_ != nullptr; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct State {
    bool down = false;     // its last delivered event was a press
    bool pressed = false;  // a press was delivered since the previous query
    bool owed = false;     // a query reported it down before its press was delivered
    // The press owed is dropped only this soon after a query last saw the key down: it is
    // already queued then, unless it went to no window of the program.
    std::chrono::steady_clock::time_point owed_until;
    bool stale = false;    // down when a dialog opened; its presses are dropped until release
    uint64_t release_time = 0;  // timestamp of the last delivered release
  };
  State& StateOf(int virtual_key) { return virtual_key == VK_ESCAPE ? escape_ : return_; }
  bool DownOnServer(int virtual_key);
  void FindKeycodes();
  void CheckStaleKeys();

  State escape_;
  State return_;
  xcb_connection_t* connection_ = nullptr;
  std::vector<uint8_t> escape_codes_, return_codes_;
  QTimer stale_timer_;
};

}  // namespace pyokoran
