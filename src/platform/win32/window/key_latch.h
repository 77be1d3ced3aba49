// Escape and Return as the trial loop asks for them, without retrieving a message.
//
// "Down now" and "pressed since the previous query" come from the system's asynchronous key
// state (GetAsyncKeyState: its top and bottom bits), which a query reads directly. The key
// messages the UI thread retrieves (in the pump, the message loop and modal loops) are seen
// on their way and back it up: a stroke whose message was retrieved since the previous query
// is reported too, so a quick press is never lost. Two kinds of press message are kept from
// the windows and do not count: auto-repeats (a key held down must not go on to close the
// next message box or dialog), and the press of a stroke that a query has already reported
// (its message comes after the query that used it up).
//
// No Windows types: the platform feeds it what the system says.
#pragma once

#include <cstdint>

namespace pyokoran {

class KeyLatch {
 public:
  // A press message owed to a query is dropped only this soon after the query: by then it
  // has long been queued, unless it went to another program.
  static constexpr int64_t kOwedMs = 1000;

  // VK_ESCAPE or VK_RETURN (others: false). down_now and pressed_since are the asynchronous
  // state's two bits, read just now; now_ms is any millisecond clock.
  bool Query(int virtual_key, bool down_now, bool pressed_since, int64_t now_ms);
  // A key message retrieved on the UI thread: a press (WM_KEYDOWN, WM_SYSKEYDOWN; repeat
  // when the key was already down) or a release. True when the message is to be dropped.
  bool OnKeyMessage(int virtual_key, bool press, bool repeat, int64_t now_ms);
  // The keyboard went to another program: strokes it gets are not owed to this one.
  void FocusLost();

 private:
  struct State {
    bool down = false;     // its last message was a press
    bool pressed = false;  // a press message was retrieved since the previous query
    bool owed = false;     // a query reported a stroke whose press message has not come yet
    int64_t owed_until_ms = 0;
  };
  State* StateOf(int virtual_key);

  State escape_;
  State return_;
};

}  // namespace pyokoran
