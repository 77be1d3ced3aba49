#include "platform/win32/window/key_latch.h"

#include "platform/platform.h"

namespace pyokoran {

KeyLatch::State* KeyLatch::StateOf(int virtual_key) {
  if (virtual_key == VK_ESCAPE) return &escape_;
  if (virtual_key == VK_RETURN) return &return_;
  return nullptr;
}

bool KeyLatch::Query(int virtual_key, bool down_now, bool pressed_since, int64_t now_ms) {
  State* s = StateOf(virtual_key);
  if (!s) return false;
  const bool active = down_now || pressed_since || s->pressed;
  // The system knew of a stroke before its message came: that message is used up here.
  if ((down_now || pressed_since) && !s->pressed && (!s->down || s->owed)) {
    s->owed = true;
    s->owed_until_ms = now_ms + kOwedMs;
  }
  s->pressed = false;
  return active;
}

bool KeyLatch::OnKeyMessage(int virtual_key, bool press, bool repeat, int64_t now_ms) {
  State* s = StateOf(virtual_key);
  if (!s) return false;
  if (!press) {
    s->down = false;
    return false;
  }
  s->down = true;
  if (repeat) return true;
  if (s->owed && now_ms < s->owed_until_ms) {
    s->owed = false;
    return true;
  }
  s->owed = false;
  s->pressed = true;
  return false;
}

void KeyLatch::FocusLost() {
  for (State* s : {&escape_, &return_}) {
    s->down = false;
    s->owed = false;
  }
}

}  // namespace pyokoran
