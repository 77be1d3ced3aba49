#include "platform/qt/qt_display.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/tick_thread.h"

namespace pyokoran {

namespace {

// The face the status line asks for; the platform maps it to IPA P Gothic.
const char* const kStatusFace = "ＭＳ Ｐゴシック";
constexpr int kTile = 64;

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

const char* const kVertexShader = R"(
attribute vec2 position;
attribute vec2 coordinate;
varying vec2 texel;
void main() {
  texel = coordinate;
  gl_Position = vec4(position, 0.0, 1.0);
})";

const char* const kFragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
uniform sampler2D stage;
varying vec2 texel;
void main() {
  gl_FragColor = vec4(texture2D(stage, texel).bgr, 1.0);
})";

}  // namespace

QtDisplay::QtDisplay() = default;

QtDisplay::~QtDisplay() { Shutdown(); }

bool QtDisplay::Init() {
  if (!QGuiApplication::primaryScreen()) return false;
  anchor_ = Clock::now();
  return true;
}

bool QtDisplay::OpenGLAvailable() {
  static const bool available = [] {
    QOpenGLContext probe;
    return probe.create();
  }();
  return available;
}

double QtDisplay::ReportedRefreshHz() const {
  QScreen* screen = window_ && window_->screen() ? window_->screen()
                                                 : QGuiApplication::primaryScreen();
  return screen ? screen->refreshRate() : 0.0;
}

void QtDisplay::Bind(QWindow* window, bool run) {
  StopOpenGL();
  store_.reset();
  window_ = window;
  shown_ = QImage();
  bars_drawn_ = false;
  texture_full_ = false;
  if (run && window_) {
    // The window must be on screen before its swaps mean anything; input waits for the
    // trial loop.
    for (Clock::time_point until = Clock::now() + std::chrono::seconds(2);
         !window_->isExposed() && Clock::now() < until;) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    const ForcedMode forced = ParseForcedMode(std::getenv(kPresentModeVariable));
    std::vector<double> intervals;
    bool gl = false;
    if (window_->surfaceType() == QSurface::OpenGLSurface && forced != ForcedMode::Fallback) {
      gl = StartOpenGL(intervals);
    }
    decision_ = DecidePresentMode(intervals, ReportedRefreshHz(), forced, gl);
    if (decision_.mode != PresentMode::Locked) StopOpenGL();
    pace_locked_ = locked() && !decision_.refresh_locked;
    period_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / decision_.refresh_hz));
    if (!locked()) store_ = std::make_unique<QBackingStore>(window_);

    stats_ = Stats{.refresh_hz = decision_.refresh_hz};
    have_last_present_ = false;
    passes_since_present_ = 0;
    last_present_ns_ = 0;
    in_run_ = true;
    Repaint();
    std::fprintf(stderr,
                 "pyokoran: presenting %s (%s): %d swap intervals, mean %.3f ms, SD %.3f ms; "
                 "screen reports %.2f Hz; frames %s at %.3f Hz%s\n",
                 locked() ? "locked to the refresh through OpenGL"
                          : "through the window's backing store",
                 decision_.reason.c_str(), decision_.samples, decision_.mean_ms,
                 decision_.sd_ms, decision_.reported_hz, locked() && !pace_locked_ ? "locked" : "paced",
                 decision_.refresh_hz, self_pacing_ ? "" : " (unpaced)");
  } else if (in_run_) {
    in_run_ = false;
    std::fprintf(stderr,
                 "pyokoran: %d frames presented, %d dropped (more than 1.5 refresh intervals "
                 "after the previous one); longest interval %.1f ms\n",
                 stats_.presented, stats_.dropped, stats_.longest_gap_ms);
  }
}

PresentationReport QtDisplay::Report() const {
  PresentationReport r;
  r.mode = ModeName(locked() ? PresentMode::Locked : PresentMode::Fallback);
  r.reason = decision_.reason;
  r.reported_hz = decision_.reported_hz;
  r.refresh_hz = decision_.refresh_hz;
  r.swap_samples = decision_.samples;
  r.swap_mean_ms = decision_.mean_ms;
  r.swap_sd_ms = decision_.sd_ms;
  r.frames = stats_.presented;
  r.dropped = stats_.dropped;
  r.longest_interval_ms = stats_.longest_gap_ms;
  return r;
}

void QtDisplay::Shutdown() {
  StopOpenGL();
  store_.reset();
  window_ = nullptr;
  shown_ = QImage();
  in_run_ = false;
}

bool QtDisplay::StartOpenGL(std::vector<double>& intervals_ms) {
  QSurfaceFormat format = window_->requestedFormat();
  format.setSwapInterval(1);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  context_ = std::make_unique<QOpenGLContext>();
  context_->setFormat(format);
  if (!context_->create() || !context_->makeCurrent(window_)) {
    context_.reset();
    return false;
  }
  QOpenGLFunctions* f = context_->functions();
  program_ = std::make_unique<QOpenGLShaderProgram>();
  if (!program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
      !program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) ||
      !program_->link()) {
    StopOpenGL();
    return false;
  }
  f->glGenTextures(1, &texture_);
  gl_ready_ = true;

  // The swaps of a black window, timed where each one has completed.
  f->glClearColor(0, 0, 0, 1);
  int64_t previous = 0;
  for (int i = 0; i < kSwapsToMeasure; ++i) {
    f->glViewport(0, 0, int(window_->width() * window_->devicePixelRatio()),
                  int(window_->height() * window_->devicePixelRatio()));
    f->glClear(GL_COLOR_BUFFER_BIT);
    context_->swapBuffers(window_);
    f->glFinish();
    const int64_t now = TickThread::MonotonicNs();
    if (i > 0) intervals_ms.push_back(double(now - previous) / 1e6);
    previous = now;
  }
  return true;
}

void QtDisplay::StopOpenGL() {
  if (context_ && window_ && context_->makeCurrent(window_)) {
    if (texture_) context_->functions()->glDeleteTextures(1, &texture_);
    program_.reset();
    context_->doneCurrent();
  }
  texture_ = 0;
  program_.reset();
  context_.reset();
  gl_ready_ = false;
  texture_full_ = false;
}

void QtDisplay::WaitForRefresh() {
  Clock::time_point now = Clock::now();
  auto refreshes = (now - anchor_) / period_ + 1;
  std::this_thread::sleep_until(anchor_ + refreshes * period_);
}

QRectF QtDisplay::StageArea() const {
  // stage_rect is in physical pixels of the primary screen, counted from its top left
  // corner as clicks are; the window works in logical pixels.
  const qreal ratio = window_->devicePixelRatio();
  QPoint origin = window_->mapToGlobal(QPoint(0, 0));
  if (QScreen* screen = QGuiApplication::primaryScreen()) origin -= screen->geometry().topLeft();
  const Rect& r = stage_rect_;
  return QRectF(r.left / ratio - origin.x(), r.top / ratio - origin.y(),
                (r.right - r.left) / ratio, (r.bottom - r.top) / ratio);
}

void QtDisplay::Paint(QPainter& painter, bool bars) {
  if (bars) painter.fillRect(QRect(QPoint(0, 0), window_->size()), Qt::black);
  if (!shown_.isNull()) painter.drawImage(StageArea(), shown_);
}

bool QtDisplay::TakeChangedTiles(const Surface& stage, bool all,
                                 const std::vector<Rect>* areas) {
  if (shown_.width() != stage.width || shown_.height() != stage.height) {
    shown_ = QImage(stage.width, stage.height, QImage::Format_RGB32);
    all = true;
    texture_full_ = false;
  }
  tiles_x_ = (stage.width + kTile - 1) / kTile;
  tiles_y_ = (stage.height + kTile - 1) / kTile;
  changed_.assign(size_t(tiles_x_) * size_t(tiles_y_), 0);
  // Tiles the composer names as changed are taken without comparing.
  if (areas && !all) {
    for (const Rect& a : *areas) {
      const int x0 = std::max(a.left, 0) / kTile, x1 = (std::min(a.right, stage.width) - 1) / kTile;
      const int y0 = std::max(a.top, 0) / kTile, y1 = (std::min(a.bottom, stage.height) - 1) / kTile;
      for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) changed_[size_t(ty) * size_t(tiles_x_) + size_t(tx)] = 1;
    }
  }
  bool any = false;
  for (int ty = 0; ty < tiles_y_; ++ty) {
    const int y0 = ty * kTile, y1 = std::min(y0 + kTile, int(stage.height));
    for (int tx = 0; tx < tiles_x_; ++tx) {
      const int x0 = tx * kTile, x1 = std::min(x0 + kTile, int(stage.width));
      const size_t bytes = size_t(x1 - x0) * 4;
      uint8_t& mark = changed_[size_t(ty) * size_t(tiles_x_) + size_t(tx)];
      bool differs = all || mark;
      if (!areas) {
        for (int y = y0; y < y1 && !differs; ++y) {
          differs = std::memcmp(shown_.constScanLine(y) + 4 * x0, stage.row(y) + x0, bytes) != 0;
        }
      }
      mark = differs ? 1 : 0;
      if (!differs) continue;
      for (int y = y0; y < y1; ++y) std::memcpy(shown_.scanLine(y) + 4 * x0, stage.row(y) + x0, bytes);
      any = true;
    }
  }
  return any;
}

QRegion QtDisplay::ScaleInto(QImage& target, const QRect& area, bool bars) {
  uchar* bits = target.bits();
  const qsizetype line = target.bytesPerLine();
  auto row = [&](int y) { return reinterpret_cast<uint32_t*>(bits + y * line); };
  QRegion changed;
  if (bars) {
    for (int y = 0; y < target.height(); ++y) std::fill_n(row(y), target.width(), 0xFF000000u);
    changed = QRegion(target.rect());
  }
  if (area.isEmpty() || shown_.isNull()) return changed;

  // Source of every target pixel (the one under its centre), and where each tile begins.
  const int sw = shown_.width(), sh = shown_.height();
  if (area != scaled_area_ || scaled_from_ != shown_.size()) {
    auto build = [](int target_size, int source_size, std::vector<int32_t>& source,
                    std::vector<int32_t>& first, int tiles) {
      source.resize(size_t(target_size));
      first.assign(size_t(tiles) + 1, target_size);
      for (int t = target_size - 1; t >= 0; --t) {
        source[size_t(t)] = int32_t((int64_t(2 * t + 1) * source_size) / (int64_t(2) * target_size));
        first[size_t(source[size_t(t)] / kTile)] = t;
      }
      for (int i = tiles - 1; i >= 0; --i) first[size_t(i)] = std::min(first[size_t(i)], first[size_t(i) + 1]);
    };
    build(area.width(), sw, columns_, tile_x_, tiles_x_);
    build(area.height(), sh, rows_, tile_y_, tiles_y_);
    scaled_area_ = area;
    scaled_from_ = shown_.size();
  }

  const QRect clip = target.rect();
  for (int ty = 0; ty < tiles_y_; ++ty) {
    for (int tx = 0; tx < tiles_x_; ++tx) {
      if (!changed_[size_t(ty) * size_t(tiles_x_) + size_t(tx)]) continue;
      QRect part = QRect(QPoint(area.left() + tile_x_[size_t(tx)], area.top() + tile_y_[size_t(ty)]),
                         QPoint(area.left() + tile_x_[size_t(tx) + 1] - 1,
                                area.top() + tile_y_[size_t(ty) + 1] - 1)) &
                   clip;
      if (part.isEmpty()) continue;
      const int32_t* columns = columns_.data() + (part.left() - area.left());
      const int width = part.width();
      const uchar* previous_in = nullptr;
      const uint32_t* previous_out = nullptr;
      for (int y = part.top(); y <= part.bottom(); ++y) {
        const uchar* in_line = shown_.constScanLine(rows_[size_t(y - area.top())]);
        uint32_t* out = row(y) + part.left();
        if (in_line == previous_in) {
          std::memcpy(out, previous_out, size_t(width) * 4);  // a stage row shown twice
        } else {
          const uint32_t* in = reinterpret_cast<const uint32_t*>(in_line);
          for (int x = 0; x < width; ++x) out[x] = in[columns[x]] | 0xFF000000u;
          previous_in = in_line;
        }
        previous_out = out;
      }
      if (!bars) changed += part;
    }
  }
  return changed;
}

bool QtDisplay::FlushBackingStore(bool changed) {
  if (!store_ || !window_->isExposed()) return false;
  const QSize size = window_->size();
  bool bars = !bars_drawn_;
  if (store_->size() != size) {
    store_->resize(size);
    bars = true;
  }
  if (!changed && !bars) return true;
  const QRect area = StageArea().toAlignedRect();
  QRegion region = bars ? QRegion(QRect(QPoint(0, 0), size)) : QRegion(area & QRect(QPoint(0, 0), size));
  store_->beginPaint(region);
  QPaintDevice* device = store_->paintDevice();
  QImage* image = device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
  if (image && window_->devicePixelRatio() == 1.0 && image->size() == size &&
      (image->format() == QImage::Format_RGB32 ||
       image->format() == QImage::Format_ARGB32_Premultiplied)) {
    region = ScaleInto(*image, area, bars);
  } else {
    QPainter painter(device);
    Paint(painter, bars);
  }
  store_->endPaint();
  store_->flush(region);
  bars_drawn_ = true;
  return true;
}

bool QtDisplay::DrawAndSwap(bool upload_all) {
  if (!gl_ready_ || !window_->isExposed() || !context_->makeCurrent(window_)) return false;
  QOpenGLFunctions* f = context_->functions();
  f->glBindTexture(GL_TEXTURE_2D, texture_);
  if (!shown_.isNull()) {
    if (!texture_full_) {
      f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
      f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      upload_all = true;
    }
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (upload_all) {
      // Pixels 0x00RRGGBB are the bytes B, G, R, 0: uploaded as they are (the portable
      // RGBA order), the shader swaps red and blue back.
      f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, shown_.width(), shown_.height(), 0, GL_RGBA,
                      GL_UNSIGNED_BYTE, shown_.constBits());
      texture_full_ = true;
    } else {
      for (int ty = 0; ty < tiles_y_; ++ty) {
        for (int tx = 0; tx < tiles_x_; ++tx) {
          if (!changed_[size_t(ty) * size_t(tiles_x_) + size_t(tx)]) continue;
          const int x0 = tx * kTile, y0 = ty * kTile;
          const int w = std::min(kTile, shown_.width() - x0), h = std::min(kTile, shown_.height() - y0);
          upload_.resize(size_t(w) * size_t(h));
          for (int y = 0; y < h; ++y) {
            std::memcpy(upload_.data() + size_t(y) * size_t(w), shown_.constScanLine(y0 + y) + 4 * x0,
                        size_t(w) * 4);
          }
          f->glTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, upload_.data());
        }
      }
    }
  }

  // Black all round, the stage unfiltered into its rectangle.
  const qreal ratio = window_->devicePixelRatio();
  const int width = int(std::lround(window_->width() * ratio));
  const int height = int(std::lround(window_->height() * ratio));
  f->glViewport(0, 0, width, height);
  f->glClearColor(0, 0, 0, 1);
  f->glClear(GL_COLOR_BUFFER_BIT);
  if (!shown_.isNull() && width > 0 && height > 0) {
    const QRectF a = StageArea();
    const float l = float(2.0 * a.left() * ratio / width - 1.0);
    const float r = float(2.0 * a.right() * ratio / width - 1.0);
    const float t = float(1.0 - 2.0 * a.top() * ratio / height);
    const float b = float(1.0 - 2.0 * a.bottom() * ratio / height);
    const GLfloat position[] = {l, t, r, t, l, b, r, b};
    const GLfloat coordinate[] = {0, 0, 1, 0, 0, 1, 1, 1};
    program_->bind();
    program_->setUniformValue("stage", 0);
    f->glActiveTexture(GL_TEXTURE0);
    f->glBindTexture(GL_TEXTURE_2D, texture_);
    const int p = program_->attributeLocation("position");
    const int c = program_->attributeLocation("coordinate");
    program_->enableAttributeArray(p);
    program_->enableAttributeArray(c);
    program_->setAttributeArray(p, position, 2);
    program_->setAttributeArray(c, coordinate, 2);
    f->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program_->disableAttributeArray(p);
    program_->disableAttributeArray(c);
    program_->release();
  }
  if (read_back_) {
    QImage image(width, height, QImage::Format_RGBA8888);
    f->glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    read_back_image_ = image.mirrored().convertToFormat(QImage::Format_RGB32);
  }
  context_->swapBuffers(window_);
  f->glFinish();  // returns once the swap has happened
  return true;
}

QImage QtDisplay::BackingStoreImage() {
  if (!store_ || !window_) return {};
  store_->beginPaint(QRegion());
  QPaintDevice* device = store_->paintDevice();
  QImage copy = device && device->devType() == QInternal::Image
                    ? static_cast<QImage*>(device)->convertToFormat(QImage::Format_RGB32)
                    : QImage();
  store_->endPaint();
  return copy;
}

void QtDisplay::Repaint() {
  if (!window_ || !window_->isExposed()) return;
  if (locked()) {
    DrawAndSwap(true);
  } else {
    bars_drawn_ = false;
    if (tiles_x_ > 0) std::fill(changed_.begin(), changed_.end(), 1);
    FlushBackingStore(true);
  }
}

void QtDisplay::CountPresent(int64_t now_ns) {
  ++stats_.presented;
  // Only presents that follow each other pass by pass count: after a pause in which the
  // loop went round without presenting, the picture was simply standing still.
  if (have_last_present_ && passes_since_present_ <= 1) {
    const double gap = double(now_ns - previous_present_ns_) / 1e6;
    if (gap > 1.5 * Milliseconds(period_)) ++stats_.dropped;
    stats_.longest_gap_ms = std::max(stats_.longest_gap_ms, gap);
  }
  previous_present_ns_ = now_ns;
  last_present_ns_ = now_ns;
  have_last_present_ = true;
  passes_since_present_ = 0;
}

void QtDisplay::Present(const Surface& stage, const Rect& stage_rect,
                        const std::vector<Rect>* changed_areas) {
  if (!window_ || !window_->isVisible() || stage.width <= 0 || stage.height <= 0 ||
      stage.pixels.size() != size_t(stage.width) * size_t(stage.height)) {
    compare_next_ = true;  // the changes named now would be lost otherwise
    return;
  }
  if (compare_next_) changed_areas = nullptr;
  compare_next_ = false;
  if (stage_rect_ != stage_rect) {
    bars_drawn_ = false;
    texture_full_ = false;
  }
  stage_rect_ = stage_rect;
  const bool whole = locked() ? !texture_full_ : !bars_drawn_;
  const bool changed = TakeChangedTiles(stage, whole, changed_areas);

  if (self_pacing_ && (!locked() || pace_locked_)) WaitForRefresh();
  if (locked()) {
    DrawAndSwap(!texture_full_);
  } else {
    FlushBackingStore(changed);
  }
  CountPresent(TickThread::MonotonicNs());
}

void QtDisplay::DrawText(Surface& surface, const Rect& rect, const std::string& text,
                         int32_t height, uint32_t colour) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  if (surface.width <= 0 || surface.height <= 0 ||
      surface.pixels.size() != size_t(surface.width) * size_t(surface.height)) {
    return;
  }
  QImage image(reinterpret_cast<uchar*>(surface.pixels.data()), surface.width, surface.height,
               surface.pitch(), QImage::Format_RGB32);
  {
    QPainter painter(&image);
    QFont font(QString::fromUtf8(kStatusFace));
    font.setPixelSize(std::clamp(height, 1, 1000));
    font.setWeight(QFont::Normal);
    // Grey edges only: coloured sub-pixel edges could hit the key colour.
    font.setStyleStrategy(QFont::NoSubpixelAntialias);
    painter.setFont(font);
    painter.setPen(QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)));
    painter.drawText(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                     Qt::AlignCenter | Qt::TextSingleLine, QString::fromUtf8(text));
  }
  // The painter writes opaque pixels (top byte 0xFF); surfaces keep the top byte 0.
  const int32_t x0 = std::max(rect.left, 0), x1 = std::min(rect.right, surface.width);
  const int32_t y0 = std::max(rect.top, 0), y1 = std::min(rect.bottom, surface.height);
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* row = surface.row(y);
    for (int32_t x = x0; x < x1; ++x) row[x] &= 0x00FFFFFF;
  }
}

}  // namespace pyokoran
