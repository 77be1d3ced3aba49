#include "platform/qt/qt_keys.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <xcb/xcb.h>

namespace pyokoran {

namespace {

// Keysyms of the keys looked at (X11/keysymdef.h).
constexpr uint32_t kKeysymReturn = 0xff0d;
constexpr uint32_t kKeysymEscape = 0xff1b;
constexpr uint32_t kKeysymKeypadEnter = 0xff8d;

int ToVirtualKey(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    default: return 0;
  }
}

}  // namespace

KeyTracker::KeyTracker() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 && x11->connection()) {
    connection_ = x11->connection();
    FindKeycodes();
    if (escape_codes_.empty() || return_codes_.empty()) connection_ = nullptr;
  }
  stale_timer_.setInterval(20);
  connect(&stale_timer_, &QTimer::timeout, this, [this] { CheckStaleKeys(); });
  if (qGuiApp) {
    // A release can go to no window of the program (the window that had the focus has
    // gone): a key is not taken for down past a move of the focus.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
            [this] { escape_.down = return_.down = false; });
    // Focus leaving the program: strokes that went elsewhere are not owed to it.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
              if (state != Qt::ApplicationActive) escape_.owed = return_.owed = false;
            });
  }
}

void KeyTracker::FindKeycodes() {
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  if (!setup || setup->max_keycode < setup->min_keycode) return;
  const uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
  xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
      connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, count), nullptr);
  if (!reply) return;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
  const int per_code = reply->keysyms_per_keycode;
  const int total = xcb_get_keyboard_mapping_keysyms_length(reply);
  for (int i = 0; per_code > 0 && i < total; ++i) {
    const uint8_t code = uint8_t(setup->min_keycode + i / per_code);
    std::vector<uint8_t>* codes = syms[i] == kKeysymEscape ? &escape_codes_
                                  : syms[i] == kKeysymReturn || syms[i] == kKeysymKeypadEnter
                                      ? &return_codes_
                                      : nullptr;
    if (codes && (codes->empty() || codes->back() != code)) codes->push_back(code);
  }
  std::free(reply);
}

bool KeyTracker::DownOnServer(int virtual_key) {
  xcb_query_keymap_reply_t* reply =
      xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr);
  if (!reply) return false;
  bool down = false;
  for (uint8_t code : virtual_key == VK_ESCAPE ? escape_codes_ : return_codes_) {
    down = down || (reply->keys[code / 8] >> (code % 8) & 1) != 0;
  }
  std::free(reply);
  return down;
}

bool KeyTracker::Active(int virtual_key) {
  if (virtual_key != VK_ESCAPE && virtual_key != VK_RETURN) return false;
  State& s = StateOf(virtual_key);
  bool down = false;
  if (connection_) {
    down = DownOnServer(virtual_key);
    // Down, but its press not yet delivered: this answer uses that press up.
    if (down && (!s.down || s.owed)) {
      s.owed = true;
      s.owed_until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
  }
  const bool active = down || s.pressed;
  s.pressed = false;
  return active;
}

void KeyTracker::DialogOpening() {
  if (!connection_) return;
  escape_.stale = DownOnServer(VK_ESCAPE);
  return_.stale = DownOnServer(VK_RETURN);
  if (escape_.stale || return_.stale) stale_timer_.start();
}

void KeyTracker::CheckStaleKeys() {
  for (int vk : {VK_ESCAPE, VK_RETURN}) {
    State& s = StateOf(vk);
    if (s.stale && !DownOnServer(vk)) s.stale = false;
  }
  if (!escape_.stale && !return_.stale) stale_timer_.stop();
}

bool KeyTracker::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::KeyPress;
  if (!press && event->type() != QEvent::KeyRelease) return QObject::eventFilter(watched, event);
  // A key event reaches the window first, then the widgets: look at it once, at the window.
  if (!watched->isWindowType()) return QObject::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const int vk = ToVirtualKey(key->key());
  if (vk == 0) return QObject::eventFilter(watched, event);

  State& s = StateOf(vk);
  const uint64_t time = key->timestamp();
  if (press) {
    // The X server repeats a held key as a release and a press with the same timestamp,
    // which Qt does not always recognise.
    const bool repeat = key->isAutoRepeat() || (time != 0 && time == s.release_time);
    const bool used = (s.owed && std::chrono::steady_clock::now() < s.owed_until) || s.stale;
    s.down = true;
    s.owed = false;
    if (repeat || used) return true;
    s.pressed = true;
  } else {
    if (key->isAutoRepeat()) return true;
    s.down = false;
    s.owed = false;
    s.stale = false;
    s.release_time = time;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace pyokoran
