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
  shown_ = QImage();
  bars_drawn_ = false;
  NoteRefreshRate();
  if (run) {
    // The run's window is all ours: black until the first frame, and repainted from the
    // frame on screen whenever the window system asks.
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
  shown_ = QImage();
  in_run_ = false;
}

void QtDisplay::WaitForRefresh() {
  Clock::time_point now = Clock::now();
  auto refreshes = (now - anchor_) / period_ + 1;
  std::this_thread::sleep_until(anchor_ + refreshes * period_);
}

QRectF QtDisplay::StageArea() const {
  // stage_rect is in physical pixels of the primary screen, counted from its top left
  // corner as clicks are; the window works in logical pixels.
  const qreal ratio = window_->devicePixelRatioF();
  QPoint origin = window_->mapToGlobal(QPoint(0, 0));
  if (QScreen* screen = QGuiApplication::primaryScreen()) origin -= screen->geometry().topLeft();
  const Rect& r = stage_rect_;
  return QRectF(r.left / ratio - origin.x(), r.top / ratio - origin.y(),
                (r.right - r.left) / ratio, (r.bottom - r.top) / ratio);
}

void QtDisplay::Paint(QPainter& painter, bool bars) {
  if (bars) painter.fillRect(window_->rect(), Qt::black);
  if (!shown_.isNull()) painter.drawImage(StageArea(), shown_);
}

bool QtDisplay::TakeChangedTiles(const Surface& stage, bool all) {
  constexpr int kTile = 64;
  if (shown_.width() != stage.width || shown_.height() != stage.height) {
    shown_ = QImage(stage.width, stage.height, QImage::Format_RGB32);
    all = true;
  }
  tiles_x_ = (stage.width + kTile - 1) / kTile;
  tiles_y_ = (stage.height + kTile - 1) / kTile;
  changed_.assign(size_t(tiles_x_) * size_t(tiles_y_), 0);
  bool any = false;
  for (int ty = 0; ty < tiles_y_; ++ty) {
    const int y0 = ty * kTile, y1 = std::min(y0 + kTile, int(stage.height));
    for (int tx = 0; tx < tiles_x_; ++tx) {
      const int x0 = tx * kTile, x1 = std::min(x0 + kTile, int(stage.width));
      const size_t bytes = size_t(x1 - x0) * 4;
      bool differs = all;
      for (int y = y0; y < y1 && !differs; ++y) {
        differs = std::memcmp(shown_.constScanLine(y) + 4 * x0, stage.row(y) + x0, bytes) != 0;
      }
      if (!differs) continue;
      for (int y = y0; y < y1; ++y) std::memcpy(shown_.scanLine(y) + 4 * x0, stage.row(y) + x0, bytes);
      changed_[size_t(ty) * size_t(tiles_x_) + size_t(tx)] = 1;
      any = true;
    }
  }
  return any;
}

QRegion QtDisplay::ScaleInto(QImage& target, const QRect& area, bool bars) {
  constexpr int kTile = 64;
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

void QtDisplay::Present(const Surface& stage, const Rect& stage_rect) {
  if (!window_ || !window_->isVisible()) return;
  if (stage.width <= 0 || stage.height <= 0 ||
      stage.pixels.size() != size_t(stage.width) * size_t(stage.height)) {
    return;
  }
  if (stage_rect_ != stage_rect) bars_drawn_ = false;
  stage_rect_ = stage_rect;
  QBackingStore* store = window_->backingStore();
  QWindow* handle = window_->windowHandle();
  const bool direct = store && handle && handle->isExposed() && store->size() == window_->size();
  const bool bars = !bars_drawn_ || !direct;
  const bool changed = TakeChangedTiles(stage, bars);

  if (self_pacing_) WaitForRefresh();

  if (direct && changed) {
    // Straight into the backing store, then onto the screen.
    const QRect area = StageArea().toAlignedRect();
    QRegion region = bars ? QRegion(window_->rect()) : QRegion(area & window_->rect());
    store->beginPaint(region);
    QPaintDevice* device = store->paintDevice();
    QImage* image = device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
    if (image && window_->devicePixelRatioF() == 1.0 && image->size() == window_->size() &&
        (image->format() == QImage::Format_RGB32 ||
         image->format() == QImage::Format_ARGB32_Premultiplied)) {
      region = ScaleInto(*image, area, bars);
    } else {
      QPainter painter(device);
      Paint(painter, bars);
    }
    store->endPaint();
    store->flush(region, handle);
    bars_drawn_ = true;
  } else if (!direct) {
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
