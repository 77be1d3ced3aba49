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
#include <QtGui/qguiapplication_platform.h>
#include <QtGui/qopenglcontext_platform.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/qt/x11_present.h"
#include "platform/qt/x11_window_picture.h"
#include "platform/tick_thread.h"
#include "timing/timing_check.h"

namespace pyokoran {

namespace {

// The face the status line asks for; the platform maps it to IPA P Gothic.
const char* const kStatusFace = "ＭＳ Ｐゴシック";
constexpr int kTile = 64;
// Rows fetched ahead (to be written) where whole rows are not read in order.
constexpr int kAhead = 4;

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Milliseconds since the previous lap, when measuring.
class Mark {
 public:
  explicit Mark(bool on) : on_(on), last_(on ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point()) {}
  double Lap() {
    if (!on_) return 0;
    const auto now = std::chrono::steady_clock::now();
    const double ms = Milliseconds(now - last_);
    last_ = now;
    return ms;
  }

 private:
  bool on_;
  std::chrono::steady_clock::time_point last_;
};

// GLX_OML_sync_control, looked up at run time (Bool, Display*, GLXDrawable).
using GetSyncValuesOML = int (*)(void*, unsigned long, int64_t*, int64_t*, int64_t*);
using WaitForSbcOML = int (*)(void*, unsigned long, int64_t, int64_t*, int64_t*, int64_t*);
// Round trips that check the display system's clock.
constexpr int kClockProbes = 8;

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
  picture_.reset();
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
    std::vector<double> intervals, work;
    bool gl = false;
    if (window_->surfaceType() == QSurface::OpenGLSurface && forced != ForcedMode::Fallback) {
      gl = StartOpenGL(intervals, work);
    }
    decision_ = DecidePresentMode(intervals, ReportedRefreshHz(), forced, gl, work);
    if (decision_.mode == PresentMode::Fallback) StopOpenGL();
    pace_locked_ = locked() && !decision_.refresh_locked;
    // A frame every n-th refresh at multiples of 60 Hz: each frame lasts a sixtieth.
    period_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(decision_.present_every / decision_.refresh_hz));
    lock_watch_.Start(1000.0 / decision_.refresh_hz);
    lock_lost_ns_ = 0;
    completions_.Start(decision_.present_every);
    unconfirmed_ = 0;
    last_completion_known_ = false;
    last_failed_ = false;
    if (!locked()) {
      if (!backing_store_only_) picture_ = X11WindowPicture::Create(window_);
      if (!picture_) store_ = std::make_unique<QBackingStore>(window_);
    }

    stats_ = Stats{.refresh_hz = decision_.refresh_hz};
    have_last_present_ = false;
    passes_since_present_ = 0;
    last_present_ns_ = 0;
    in_run_ = true;
    Repaint();
    std::fprintf(stderr,
                 "pyokoran: presenting %s (%s): %d swap intervals, mean %.3f ms, SD %.3f ms; "
                 "screen reports %.2f Hz; frames %s at %.3f Hz%s\n",
                 locked() && !pace_locked_ ? "locked to the refresh through OpenGL"
                 : locked()        ? "through OpenGL, forced although not locked to the refresh"
                 : shared_picture() ? "not locked to the refresh, through memory shared with the X server"
                                    : "not locked to the refresh, through the window's backing store",
                 decision_.reason.c_str(), decision_.samples, decision_.mean_ms,
                 decision_.sd_ms, decision_.reported_hz, locked() && !pace_locked_ ? "locked" : "paced",
                 decision_.refresh_hz, self_pacing_ ? "" : " (unpaced)");
    if (locked()) std::fprintf(stderr, "pyokoran: frame times: %s\n", DescribeFrameTimes().c_str());
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
  FillFromDecision(decision_, locked(), r);
  r.flip_source = locked() ? DescribeFrameTimes()
                           : "clock-paced (the picture handed to the X server)";
  r.lock_lost_ms = lock_watch_.lost() ? double(lock_lost_ns_) / 1e6 : -1.0;
  r.unlocked_frames = lock_watch_.unlocked_frames();
  r.frames = stats_.presented;
  r.dropped = stats_.dropped;
  r.longest_interval_ms = stats_.longest_gap_ms;
  return r;
}

void QtDisplay::Shutdown() {
  StopOpenGL();
  store_.reset();
  picture_.reset();
  window_ = nullptr;
  shown_ = QImage();
  in_run_ = false;
}

bool QtDisplay::StartOpenGL(std::vector<double>& intervals_ms, std::vector<double>& work_ms) {
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
  // Watching the window's presents from before the first swap: whether the swaps go
  // through Present at all shows in the completions they bring.
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    present_watch_ = X11PresentWatch::Create(uint32_t(window_->winId()));
  }
  int completions = 0;

  // The swaps of a black window, timed where each one has completed.
  f->glClearColor(0, 0, 0, 1);
  // The drawing before each swap is timed apart: a swap that waits has an interval that
  // follows the refresh whatever the drawing took; a merely slow one follows the drawing.
  int64_t previous = 0;
  for (int i = 0; i < kSwapsToMeasure; ++i) {
    const int64_t begun = TickThread::MonotonicNs();
    f->glViewport(0, 0, int(window_->width() * window_->devicePixelRatio()),
                  int(window_->height() * window_->devicePixelRatio()));
    f->glClear(GL_COLOR_BUFFER_BIT);
    f->glFinish();
    const int64_t drawn = TickThread::MonotonicNs();
    context_->swapBuffers(window_);
    f->glFinish();
    const int64_t now = TickThread::MonotonicNs();
    if (i > 0) {
      intervals_ms.push_back(double(now - previous) / 1e6);
      work_ms.push_back(double(drawn - begun) / 1e6);
    }
    previous = now;
    if (present_watch_) completions += present_watch_->Drain();
  }
  if (present_watch_) {
    // The last swaps' completions may still be on their way.
    FrameCompletion late;
    const int64_t until = TickThread::MonotonicNs() + 100'000'000;
    while (completions < kSwapsToMeasure && present_watch_->Next(until, late)) ++completions;
  }
  ChooseFrameTimeSource(kSwapsToMeasure, completions);
  return true;
}

void QtDisplay::ChooseFrameTimeSource(int swaps, int present_completions) {
  source_ = FrameTimeSource::SwapReturn;
  ust_check_ = UstCheck{};
  std::string why;
  if (!present_watch_) {
    why = "no X Present extension to watch";
  } else if (present_completions < swaps / 2) {
    why = "the swaps did not go through X Present (" + std::to_string(present_completions) +
          " completions for " + std::to_string(swaps) + " swaps)";
  } else {
    ust_check_ = CheckUstClock(present_watch_->Probe(kClockProbes));
    if (ust_check_.kind != UstCheck::Unchecked) {
      source_ = FrameTimeSource::Present;
      return;
    }
    why = "X Present's clock did not answer";
  }
  present_watch_.reset();
  // GLX_OML_sync_control, where the context is GLX on X11 (an EGL context has no GLX
  // functions to look up).
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  const bool glx = context_->nativeInterface<QNativeInterface::QGLXContext>() != nullptr;
  void* display = x11 && glx ? static_cast<void*>(x11->display()) : nullptr;
  const auto get = reinterpret_cast<GetSyncValuesOML>(context_->getProcAddress("glXGetSyncValuesOML"));
  const auto wait = reinterpret_cast<WaitForSbcOML>(context_->getProcAddress("glXWaitForSbcOML"));
  std::vector<UstProbe> probes;
  if (display && get && wait) {
    const unsigned long drawable = window_->winId();
    for (int i = 0; i < kClockProbes; ++i) {
      int64_t ust = 0, msc = 0, sbc = 0;
      const int64_t before = TickThread::MonotonicNs();
      if (!get(display, drawable, &ust, &msc, &sbc) || ust <= 0) break;
      probes.push_back({before, uint64_t(ust), TickThread::MonotonicNs()});
    }
  }
  if (probes.size() == size_t(kClockProbes)) {
    ust_check_ = CheckUstClock(probes);
    if (ust_check_.kind != UstCheck::Unchecked) {
      source_ = FrameTimeSource::Oml;
      oml_display_ = display;
      oml_get_sync_values_ = reinterpret_cast<void*>(get);
      oml_wait_for_sbc_ = reinterpret_cast<void*>(wait);
      return;
    }
  }
  ust_check_ = UstCheck{};
  source_why_ = why + "; no GLX_OML_sync_control";
}

int64_t QtDisplay::AwaitCompletion() {
  last_completion_known_ = false;
  FrameCompletion c;
  bool got = false;
  // A swap completes within a refresh or two; past four (or 100 ms) it is not coming.
  const int64_t deadline_ns = TickThread::MonotonicNs() +
      std::max<int64_t>(100'000'000, 4 * std::chrono::nanoseconds(period_).count());
  if (source_ == FrameTimeSource::Present && present_watch_) {
    got = present_watch_->Next(deadline_ns, c);
  } else if (source_ == FrameTimeSource::Oml) {
    // Asked for only once the swap has completed, so that the wait cannot block.
    const auto get = reinterpret_cast<GetSyncValuesOML>(oml_get_sync_values_);
    const unsigned long drawable = window_->winId();
    int64_t ust = 0, msc = 0, sbc = 0;
    while (oml_target_sbc_ > 0 && get(oml_display_, drawable, &ust, &msc, &sbc) &&
           sbc < oml_target_sbc_ && TickThread::MonotonicNs() < deadline_ns) {
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    got = oml_target_sbc_ > 0 && sbc >= oml_target_sbc_ &&
          reinterpret_cast<WaitForSbcOML>(oml_wait_for_sbc_)(oml_display_, drawable, oml_target_sbc_,
                                                             &ust, &msc, &sbc) &&
          ust > 0;
    c = FrameCompletion{uint64_t(ust), uint64_t(msc), CompletionMode::Unknown};
  } else {
    return 0;
  }
  int64_t ns = 0;
  if (!got || !UstToMonotonicNs(ust_check_, c.ust_us, ns)) {
    ++unconfirmed_;
    return 0;
  }
  last_completion_ = c;
  last_completion_known_ = true;
  // Never later than now: the report came after the picture.
  return std::min(ns, TickThread::MonotonicNs());
}

std::string QtDisplay::DescribeFrameTimes() const {
  std::string text;
  switch (source_) {
    case FrameTimeSource::Present:
      text = "X Present completion (" + DescribeUstCheck(ust_check_) + "); " +
             completions_.Describe() + "; dropped counted from the refresh counter";
      break;
    case FrameTimeSource::Oml:
      text = "GLX_OML_sync_control (" + DescribeUstCheck(ust_check_) +
             "); dropped counted from the refresh counter";
      break;
    case FrameTimeSource::SwapReturn:
      return "swap return (the swap and glFinish returned): " + source_why_;
  }
  if (unconfirmed_ > 0) {
    text += "; " + std::to_string(unconfirmed_) + " frames not reported in time, timed at the swap's return";
  }
  return text;
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
  present_watch_.reset();
  source_ = FrameTimeSource::SwapReturn;
  source_why_ = "no OpenGL";
  oml_display_ = oml_wait_for_sbc_ = oml_get_sync_values_ = nullptr;
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

bool QtDisplay::TakeChanged(const Surface& stage, bool all, const std::vector<Rect>* areas) {
  changed_rects_.clear();
  if (shown_.width() != stage.width || shown_.height() != stage.height) {
    shown_ = QImage(stage.width, stage.height, QImage::Format_RGB32);
    all = true;
    texture_full_ = false;
  }
  auto shown_row = [&](int y) { return reinterpret_cast<uint32_t*>(shown_.scanLine(y)); };
  auto take = [&](const Rect& r) {
    const size_t bytes = size_t(r.right - r.left) * 4;
    for (int y = r.top; y < r.bottom; ++y) std::memcpy(shown_row(y) + r.left, stage.row(y) + r.left, bytes);
    changed_rects_.push_back(r);
  };
  if (all) {
    take(Rect{0, 0, stage.width, stage.height});
    return true;
  }
  if (areas) {
    // Each named area shrunk to the box around its pixels that differ from the screen's.
    for (const Rect& named : *areas) {
      const Rect a{std::max(named.left, 0), std::max(named.top, 0), std::min(named.right, stage.width),
                   std::min(named.bottom, stage.height)};
      if (a.left >= a.right || a.top >= a.bottom) continue;
      Rect box{a.right, -1, a.left, -1};
      for (int y = a.top; y < a.bottom; ++y) {
        const uint32_t* in = stage.row(y);
        const uint32_t* on = shown_row(y);
        if (y + kAhead < a.bottom) {  // the screen's copy is not in the cache by now
          const uint32_t* ahead = shown_row(y + kAhead) + a.left;
          for (int x = 0; x < a.right - a.left; x += 16) __builtin_prefetch(ahead + x, 1, 3);
        }
        if (std::memcmp(in + a.left, on + a.left, size_t(a.right - a.left) * 4) == 0) continue;
        if (box.top < 0) box.top = y;
        box.bottom = y + 1;
        int l = a.left;
        while (l < box.left && in[l] == on[l]) ++l;
        box.left = std::min(box.left, l);
        int r = a.right;
        while (r > box.right && in[r - 1] == on[r - 1]) --r;
        box.right = std::max(box.right, r);
      }
      if (box.top >= 0) take(box);
    }
    return !changed_rects_.empty();
  }
  // Nothing named: compared in 64 x 64 tiles, a row's neighbouring changed tiles as one.
  for (int y0 = 0; y0 < stage.height; y0 += kTile) {
    const int y1 = std::min(y0 + kTile, int(stage.height));
    Rect run{0, y0, 0, y1};
    for (int x0 = 0; x0 < stage.width; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, int(stage.width));
      bool differs = false;
      for (int y = y0; y < y1 && !differs; ++y) {
        differs = std::memcmp(shown_row(y) + x0, stage.row(y) + x0, size_t(x1 - x0) * 4) != 0;
      }
      if (differs) {
        if (run.right != x0) run.left = x0;
        run.right = x1;
      }
      if (run.right > run.left && (!differs || x1 == stage.width)) {
        take(run);
        run = Rect{0, y0, 0, y1};
      }
    }
  }
  return !changed_rects_.empty();
}

void QtDisplay::MapStage(const QRect& area) {
  // Source of every target pixel (the one under its centre), and the first target pixel
  // of every source pixel.
  const int sw = shown_.width(), sh = shown_.height();
  if (area == scaled_area_ && scaled_from_ == shown_.size()) return;
  auto build = [](int target_size, int source_size, std::vector<int32_t>& source,
                  std::vector<int32_t>& first) {
    source.resize(size_t(std::max(target_size, 0)));
    first.assign(size_t(source_size) + 1, std::max(target_size, 0));
    for (int t = target_size - 1; t >= 0; --t) {
      source[size_t(t)] = int32_t((int64_t(2 * t + 1) * source_size) / (int64_t(2) * target_size));
      first[size_t(source[size_t(t)])] = t;
    }
    for (int i = source_size - 1; i >= 0; --i) first[size_t(i)] = std::min(first[size_t(i)], first[size_t(i) + 1]);
  };
  build(area.width(), sw, columns_, first_x_);
  build(area.height(), sh, rows_, first_y_);
  scaled_area_ = area;
  scaled_from_ = shown_.size();
}

QRect QtDisplay::Scaled(const Rect& r, const QRect& area) const {
  return QRect(QPoint(area.left() + first_x_[size_t(r.left)], area.top() + first_y_[size_t(r.top)]),
               QPoint(area.left() + first_x_[size_t(r.right)] - 1, area.top() + first_y_[size_t(r.bottom)] - 1));
}

void QtDisplay::ScaleInto(uchar* bits, qsizetype line, const QRect& clip, const QRect& area, bool bars) {
  auto row = [&](int y) { return reinterpret_cast<uint32_t*>(bits + y * line); };
  if (bars) {
    for (int y = clip.top(); y <= clip.bottom(); ++y) std::fill_n(row(y) + clip.left(), clip.width(), 0xFF000000u);
  }
  if (area.isEmpty() || shown_.isNull()) return;
  MapStage(area);
  for (const Rect& r : changed_rects_) {
    const QRect part = Scaled(r, area) & clip;
    if (part.isEmpty()) continue;
    const int32_t* columns = columns_.data() + (part.left() - area.left());
    const int width = part.width();
    const uchar* previous_in = nullptr;
    const uint32_t* previous_out = nullptr;
    for (int y = part.top(); y <= part.bottom(); ++y) {
      const uchar* in_line = shown_.constScanLine(rows_[size_t(y - area.top())]);
      uint32_t* out = row(y) + part.left();
      if (y + kAhead <= part.bottom()) {  // last read by the window system, elsewhere
        const uint32_t* ahead = row(y + kAhead) + part.left();
        for (int x = 0; x < width; x += 16) __builtin_prefetch(ahead + x, 1, 3);
        __builtin_prefetch(ahead + width - 1, 1, 3);
      }
      if (in_line == previous_in) {
        std::memcpy(out, previous_out, size_t(width) * 4);  // a stage row shown twice
      } else {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(in_line);
        for (int x = 0; x < width; ++x) out[x] = in[columns[x]] | 0xFF000000u;
        previous_in = in_line;
      }
      previous_out = out;
    }
  }
}

bool QtDisplay::FlushBackingStore(bool changed) {
  if ((!store_ && !picture_) || !window_->isExposed()) return false;
  const QSize size = window_->size();
  bool bars = !bars_drawn_;
  if (picture_ && picture_->size() != size) {
    picture_ = X11WindowPicture::Create(window_);
    if (!picture_) store_ = std::make_unique<QBackingStore>(window_);
    bars = true;
  }
  if (store_ && store_->size() != size) {
    store_->resize(size);
    bars = true;
  }
  if (!changed && !bars) return true;
  if (bars && !shown_.isNull()) changed_rects_.assign(1, Rect{0, 0, shown_.width(), shown_.height()});
  const QRect window_rect(QPoint(0, 0), size);
  const QRect area = StageArea().toAlignedRect();
  // One pixel per logical pixel: the changed parts scaled straight into the window's picture.
  const bool direct = picture_ || window_->devicePixelRatio() == 1.0;
  QRegion region;
  if (bars) {
    region = window_rect;
  } else if (direct && !shown_.isNull() && !area.isEmpty()) {
    MapStage(area);
    for (const Rect& r : changed_rects_) region += Scaled(r, area) & window_rect;
  } else {
    region = area & window_rect;
  }
  if (picture_) {
    if (!region.isEmpty()) {
      Mark mark(measure_parts_);
      uchar* bits = picture_->Begin();
      parts_.wait = mark.Lap();
      ScaleInto(bits, picture_->bytes_per_line(), window_rect, area, bars);
      parts_.draw = mark.Lap();
      picture_->Put(region);
      parts_.send = mark.Lap();
    }
    bars_drawn_ = true;
    return true;
  }
  if (region.isEmpty()) return true;
  Mark mark(measure_parts_);
  store_->beginPaint(region);
  parts_.wait = mark.Lap();
  QPaintDevice* device = store_->paintDevice();
  QImage* image = device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
  if (direct && image && image->size() == size &&
      (image->format() == QImage::Format_RGB32 ||
       image->format() == QImage::Format_ARGB32_Premultiplied)) {
    ScaleInto(image->bits(), image->bytesPerLine(), window_rect, area, bars);
  } else {
    QPainter painter(device);
    Paint(painter, bars);
    region |= area & window_rect;
  }
  parts_.draw = mark.Lap();
  store_->endPaint();
  store_->flush(region);
  parts_.send = mark.Lap();
  bars_drawn_ = true;
  return true;
}

bool QtDisplay::DrawAndSwap(bool upload_all) {
  if (!gl_ready_ || !window_->isExposed() || !context_->makeCurrent(window_)) return false;
  QOpenGLFunctions* f = context_->functions();
  Mark mark(measure_parts_);
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
      for (const Rect& r : changed_rects_) {
        const int w = r.right - r.left, h = r.bottom - r.top;
        upload_.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
          std::memcpy(upload_.data() + size_t(y) * size_t(w), shown_.constScanLine(r.top + y) + 4 * r.left,
                      size_t(w) * 4);
        }
        f->glTexSubImage2D(GL_TEXTURE_2D, 0, r.left, r.top, w, h, GL_RGBA, GL_UNSIGNED_BYTE, upload_.data());
      }
    }
  }

  if (measure_parts_) f->glFinish();
  parts_.take += mark.Lap();
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
  if (measure_parts_) f->glFinish();
  parts_.draw = mark.Lap();
  if (present_watch_) present_watch_->Drain();  // reports of earlier swaps, come too late
  oml_target_sbc_ = 0;
  if (source_ == FrameTimeSource::Oml) {
    // The swap about to be asked for is the one after the last counted.
    int64_t ust = 0, msc = 0, sbc = 0;
    if (reinterpret_cast<GetSyncValuesOML>(oml_get_sync_values_)(oml_display_, window_->winId(), &ust,
                                                                 &msc, &sbc)) {
      oml_target_sbc_ = sbc + 1;
    }
  }
  context_->swapBuffers(window_);
  parts_.send = mark.Lap();
  // Returns once the swap has happened, where the driver waits for it; then the display
  // system's report of it, where there is one.
  f->glFinish();
  swap_frame_ns_ = AwaitCompletion();
  parts_.wait = mark.Lap();
  return true;
}

QImage QtDisplay::BackingStoreImage() {
  if (picture_ && window_) return picture_->Copy();
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
    changed_rects_.clear();
    if (!shown_.isNull()) changed_rects_.push_back(Rect{0, 0, shown_.width(), shown_.height()});
    FlushBackingStore(true);
  }
}

void QtDisplay::CountPresent(int64_t now_ns, const FrameCompletion* completion) {
  ++stats_.presented;
  last_dropped_ = false;
  // Only presents that follow each other pass by pass count: after a pause in which the
  // loop went round without presenting, the picture was simply standing still.
  const bool follows = have_last_present_ && passes_since_present_ <= 1;
  if (follows) {
    const double gap = double(now_ns - previous_present_ns_) / 1e6;
    // With the display system's refresh counter, a drop is a frame whose counter skipped.
    if (!completion && gap > 1.5 * Milliseconds(period_)) ++stats_.dropped;
    stats_.longest_gap_ms = std::max(stats_.longest_gap_ms, gap);
  }
  if (completion) {
    const int before = completions_.dropped();
    last_dropped_ = completions_.Frame(*completion, follows);
    stats_.dropped += completions_.dropped() - before;
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
    last_present_ns_ = 0;  // nothing went out: no time, not even the previous frame's
    last_failed_ = true;
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
  parts_ = Parts{};
  Mark mark(measure_parts_);
  const bool changed = TakeChanged(stage, whole, changed_areas);
  parts_.take = mark.Lap();

  if (self_pacing_ && (!locked() || pace_locked_ || decision_.present_every > 1)) {
    WaitForRefresh();
  }
  bool sent;
  swap_frame_ns_ = 0;
  last_completion_known_ = false;
  const int64_t send_start_ns = TickThread::MonotonicNs();
  if (locked()) {
    sent = DrawAndSwap(!texture_full_);
    if (sent && last_completion_known_ && last_completion_.mode == CompletionMode::Skip) {
      // The display system replaced it before it was shown: dropped, and not on screen.
      const int before = completions_.dropped();
      completions_.Frame(last_completion_);
      stats_.dropped += completions_.dropped() - before;
      sent = false;
    }
  } else {
    sent = FlushBackingStore(changed);
  }
  last_failed_ = !sent;
  last_send_ns_ = sent ? TickThread::MonotonicNs() - send_start_ns : 0;
  if (!sent) {
    // Neither counted nor stamped: the picture did not go out.
    last_present_ns_ = 0;
    compare_next_ = true;
    return;
  }
  // Locked: when the display system says the picture reached the screen, where it says so.
  const int64_t now_ns = swap_frame_ns_ != 0 ? swap_frame_ns_ : TickThread::MonotonicNs();
  if (locked() && decision_.refresh_locked && decision_.present_every == 1 &&
      lock_watch_.Frame(now_ns / 1000, have_last_present_ && passes_since_present_ <= 1)) {
    // The swaps no longer wait: paced on the clock from here on, counted apart.
    if (lock_lost_ns_ == 0) {
      lock_lost_ns_ = lock_watch_.lost_at_us() * 1000;
      pace_locked_ = true;
      anchor_ = Clock::now();
      std::fprintf(stderr, "pyokoran: the swaps stopped waiting for the refresh; frames are "
                           "paced on the clock from now on\n");
    }
  }
  CountPresent(now_ns, locked() ? last_completion() : nullptr);
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
