#include "platform/qt/qt_display.h"

#include <QBackingStore>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace pyokoran {

namespace {

// The face the status line asks for; the platform maps it to IPA P Gothic.
const char* const kStatusFace = "ＭＳ Ｐゴシック";

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

QtDisplay::QtDisplay() = default;

QtDisplay::~QtDisplay() { Shutdown(); }

bool QtDisplay::Init() {
  if (!QGuiApplication::primaryScreen()) return false;
  anchor_ = Clock::now();
  return true;
}

void QtDisplay::NoteRefreshRate() {
  QScreen* screen = window_ && window_->screen() ? window_->screen()
                                                 : QGuiApplication::primaryScreen();
  double hz = screen ? screen->refreshRate() : 0.0;
  if (!(hz >= 20.0 && hz <= 500.0)) hz = 60.0;
  period_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
  stats_.refresh_hz = hz;
}

void QtDisplay::Bind(QWidget* window, bool run) {
  if (window_) window_->removeEventFilter(this);
  window_ = window;
  frame_ = QImage();
  bars_drawn_ = false;
  NoteRefreshRate();
  if (run) {
    // The run's window is all ours: black until the first frame, and repainted from the
    // last frame whenever the window system asks.
    if (window_) {
      window_->installEventFilter(this);
      window_->update();
    }
    stats_ = Stats{.refresh_hz = stats_.refresh_hz};
    have_last_present_ = false;
    passes_since_present_ = 0;
    in_run_ = true;
    if (self_pacing_) {
      std::fprintf(stderr,
                   "pyokoran: presenting through the window's backing store, paced on the "
                   "monotonic clock at %.2f Hz (a backing-store flush does not wait for the "
                   "display's refresh)\n",
                   stats_.refresh_hz);
    } else {
      std::fprintf(stderr, "pyokoran: presenting through the window's backing store, unpaced\n");
    }
  } else if (in_run_) {
    in_run_ = false;
    std::fprintf(stderr,
                 "pyokoran: %d frames presented, %d dropped (more than 1.5 refresh intervals "
                 "after the previous one); longest interval %.1f ms\n",
                 stats_.presented, stats_.dropped, stats_.longest_gap_ms);
  }
}

void QtDisplay::Shutdown() {
  if (window_) window_->removeEventFilter(this);
  window_ = nullptr;
  frame_ = QImage();
  in_run_ = false;
}

void QtDisplay::WaitForRefresh() {
  Clock::time_point now = Clock::now();
  auto refreshes = (now - anchor_) / period_ + 1;
  std::this_thread::sleep_until(anchor_ + refreshes * period_);
}

void QtDisplay::Paint(QPainter& painter, bool bars) {
  const qreal ratio = window_->devicePixelRatioF();
  // stage_rect is in physical screen pixels; the painter works in the window's logical ones.
  const QPoint origin = window_->mapToGlobal(QPoint(0, 0));
  const Rect& r = stage_rect_;
  QRectF target(r.left / ratio - origin.x(), r.top / ratio - origin.y(),
                (r.right - r.left) / ratio, (r.bottom - r.top) / ratio);
  if (bars) painter.fillRect(window_->rect(), Qt::black);
  if (frame_.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(target, frame_);
}

void QtDisplay::Present(const Surface& stage, const Rect& stage_rect) {
  if (!window_ || !window_->isVisible()) return;
  if (stage.width <= 0 || stage.height <= 0 ||
      stage.pixels.size() != size_t(stage.width) * size_t(stage.height)) {
    return;
  }
  if (frame_.width() != stage.width || frame_.height() != stage.height) {
    frame_ = QImage(stage.width, stage.height, QImage::Format_RGB32);
  }
  for (int32_t y = 0; y < stage.height; ++y) {
    std::memcpy(frame_.scanLine(y), stage.row(y), size_t(stage.width) * 4);
  }
  if (stage_rect_ != stage_rect) bars_drawn_ = false;
  stage_rect_ = stage_rect;

  if (self_pacing_) WaitForRefresh();

  QBackingStore* store = window_->backingStore();
  QWindow* handle = window_->windowHandle();
  if (store && handle && handle->isExposed() && store->size() == window_->size()) {
    // Straight into the backing store, then onto the screen.
    const bool bars = !bars_drawn_;
    const qreal ratio = window_->devicePixelRatioF();
    const QPoint origin = window_->mapToGlobal(QPoint(0, 0));
    QRect stage_area = QRectF(stage_rect.left / ratio - origin.x(), stage_rect.top / ratio - origin.y(),
                              (stage_rect.right - stage_rect.left) / ratio,
                              (stage_rect.bottom - stage_rect.top) / ratio)
                           .toAlignedRect();
    QRegion region = bars ? QRegion(window_->rect()) : QRegion(stage_area & window_->rect());
    store->beginPaint(region);
    {
      QPainter painter(store->paintDevice());
      Paint(painter, bars);
    }
    store->endPaint();
    store->flush(region, handle);
    bars_drawn_ = true;
  } else {
    // Not ready for direct painting (not yet exposed or resized): let the widget paint.
    window_->repaint();
  }

  Clock::time_point now = Clock::now();
  ++stats_.presented;
  // Only presents that follow each other pass by pass count: after a pause in which the
  // loop went round without presenting, the picture was simply standing still.
  if (have_last_present_ && passes_since_present_ <= 1) {
    double gap = Milliseconds(now - last_present_);
    if (gap > 1.5 * Milliseconds(period_)) ++stats_.dropped;
    stats_.longest_gap_ms = std::max(stats_.longest_gap_ms, gap);
  }
  last_present_ = now;
  have_last_present_ = true;
  passes_since_present_ = 0;
}

bool QtDisplay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Paint) {
    QPainter painter(window_);
    Paint(painter, true);
    bars_drawn_ = true;
    return true;
  }
  return QObject::eventFilter(watched, event);
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
