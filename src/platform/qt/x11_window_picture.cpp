#include "platform/qt/x11_window_picture.h"

#include <QGuiApplication>
#include <QWindow>
#include <sys/mman.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <limits>

namespace pyokoran {

namespace {

// Whether pixels of depth on this server are 32 bits 0x??RRGGBB in the host's byte order.
bool TakesOurPixels(xcb_connection_t* c, uint8_t depth, xcb_visualid_t visual) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  bool format = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
    if (f.data->depth == depth) format = f.data->bits_per_pixel == 32;
  }
  if (!format) return false;
  for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s)) {
    for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d)) {
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
        if (v.data->visual_id != visual) continue;
        return (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR) &&
               v.data->red_mask == 0xFF0000 && v.data->green_mask == 0xFF00 &&
               v.data->blue_mask == 0xFF;
      }
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<X11WindowPicture> X11WindowPicture::Create(QWindow* window) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!window || !x11 || !x11->connection() || window->devicePixelRatio() != 1.0) return nullptr;
  xcb_connection_t* c = x11->connection();
  const QSize size = window->size();
  if (size.isEmpty() || size.width() > 0x7FFF || size.height() > 0x7FFF) return nullptr;
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
  if (!shm || !shm->present) return nullptr;
  xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
  const bool segments = version && (version->major_version > 1 ||
                                    (version->major_version == 1 && version->minor_version >= 2));
  std::free(version);
  if (!segments) return nullptr;

  const auto id = xcb_window_t(window->winId());
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
  const bool ours = geometry && attributes && TakesOurPixels(c, geometry->depth, attributes->visual);
  const uint8_t depth = geometry ? geometry->depth : 0;
  std::free(geometry);
  std::free(attributes);
  if (!ours) return nullptr;

  const size_t bytes = size_t(size.width()) * size_t(size.height()) * 4;
  std::unique_ptr<X11WindowPicture> picture(new X11WindowPicture);
  picture->connection_ = c;
  picture->window_ = id;
  picture->depth_ = depth;
  picture->size_ = size;
  const uint32_t segment = xcb_generate_id(c);
  xcb_shm_create_segment_reply_t* made =
      xcb_shm_create_segment_reply(c, xcb_shm_create_segment(c, segment, uint32_t(bytes), 0), nullptr);
  if (!made) return nullptr;
  int* fds = xcb_shm_create_segment_reply_fds(c, made);
  void* bits = MAP_FAILED;
  if (made->nfd == 1) bits = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fds[0], 0);
  for (int i = 0; i < made->nfd; ++i) close(fds[i]);
  std::free(made);
  if (bits == MAP_FAILED) {
    xcb_shm_detach(c, segment);
    return nullptr;
  }
  picture->segment_ = segment;
  picture->bits_ = static_cast<uchar*>(bits);
  picture->bytes_ = bytes;
  picture->gc_ = xcb_generate_id(c);
  const uint32_t no_exposures = 0;
  xcb_create_gc(c, picture->gc_, id, XCB_GC_GRAPHICS_EXPOSURES, &no_exposures);
  return picture;
}

X11WindowPicture::~X11WindowPicture() {
  // Qt's connection goes with the application: after that, only the memory is ours to free.
  if (qGuiApp) {
    if (read_pending_) xcb_discard_reply(connection_, read_sequence_);
    if (gc_) xcb_free_gc(connection_, gc_);
    if (segment_) xcb_shm_detach(connection_, segment_);
    xcb_flush(connection_);
  }
  if (bits_) munmap(bits_, bytes_);
}

uchar* X11WindowPicture::Begin() {
  if (read_pending_) {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus_cookie_t{read_sequence_}, nullptr));
    read_pending_ = false;
  }
  return bits_;
}

void X11WindowPicture::Put(const QRegion& region) {
  const QRect bounds(QPoint(0, 0), size_);
  bool any = false;
  for (const QRect& r : region) {
    const QRect part = r & bounds;
    if (part.isEmpty()) continue;
    xcb_shm_put_image(connection_, window_, gc_, uint16_t(size_.width()), uint16_t(size_.height()),
                      uint16_t(part.x()), uint16_t(part.y()), uint16_t(part.width()),
                      uint16_t(part.height()), int16_t(part.x()), int16_t(part.y()), depth_,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_, 0);
    any = true;
  }
  if (!any) return;
  // Replies come in order: once this one is in, the server has read the picture.
  read_sequence_ = xcb_get_input_focus(connection_).sequence;
  read_pending_ = true;
  xcb_flush(connection_);
}

QImage X11WindowPicture::Copy() {
  Begin();
  return QImage(bits_, size_.width(), size_.height(), bytes_per_line(), QImage::Format_RGB32).copy();
}

}  // namespace pyokoran
