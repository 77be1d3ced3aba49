// Sends a window the close request a window manager sends for its close box, Alt+F4 or the
// system menu: a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.
// Usage: wm_close <window id>   (on the display named by DISPLAY)
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
  xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wm_close <window id>\n");
    return 2;
  }
  const xcb_window_t window = xcb_window_t(std::strtoul(argv[1], nullptr, 0));
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "wm_close: no X display\n");
    return 1;
  }
  xcb_client_message_event_t event;
  std::memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = Atom(c, "WM_PROTOCOLS");
  event.data.data32[0] = Atom(c, "WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_void_cookie_t sent = xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                  reinterpret_cast<const char*>(&event));
  xcb_generic_error_t* error = xcb_request_check(c, sent);
  const int result = error ? 1 : 0;
  if (error) std::fprintf(stderr, "wm_close: window %s refused the message\n", argv[1]);
  std::free(error);
  xcb_disconnect(c);
  return result;
}
