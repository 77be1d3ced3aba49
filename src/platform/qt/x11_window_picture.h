// A picture of a whole window in memory shared with the X server (MIT-SHM), put on the
// window rectangle by rectangle over Qt's own connection. QtDisplay's fallback presents
// through it where it can: unlike the xcb backing store, it does not wait for a round trip
// to the server before every paint; the wait for the server to have read the previous
// frame is asked for when that frame is sent and is normally over by the next one.
// Nothing here reads or delivers window events.
#pragma once

#include <QImage>
#include <QRegion>
#include <QSize>
#include <cstdint>
#include <memory>

class QWindow;
struct xcb_connection_t;

namespace pyokoran {

class X11WindowPicture {
 public:
  // Null unless the window is on an X server through xcb with MIT-SHM (segments the server
  // makes, version 1.2), is not scaled by Qt, and takes 32-bit pixels 0x??RRGGBB.
  static std::unique_ptr<X11WindowPicture> Create(QWindow* window);
  ~X11WindowPicture();
  X11WindowPicture(const X11WindowPicture&) = delete;
  X11WindowPicture& operator=(const X11WindowPicture&) = delete;

  // The picture may be written once this returns: the server has read every rectangle put
  // before. Returns its first pixel; rows are bytes_per_line() apart.
  uchar* Begin();
  qsizetype bytes_per_line() const { return qsizetype(size_.width()) * 4; }
  // The window's size in pixels when the picture was made.
  QSize size() const { return size_; }
  // Sends region (window pixels) to the window and hands it to the server.
  void Put(const QRegion& region);
  // What the picture holds (for tests).
  QImage Copy();

 private:
  X11WindowPicture() = default;

  xcb_connection_t* connection_ = nullptr;
  uint32_t window_ = 0;
  uint32_t gc_ = 0;
  uint32_t segment_ = 0;
  uint8_t depth_ = 0;
  uchar* bits_ = nullptr;
  size_t bytes_ = 0;
  QSize size_;
  unsigned read_sequence_ = 0;  // the request whose reply says the server has read the puts
  bool read_pending_ = false;
};

}  // namespace pyokoran
