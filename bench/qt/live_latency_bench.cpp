// How fast a press is booked, and what a run costs in CPU, on the real Qt platform.
//
// A whole run of the trial loop with the default settings plays in the experiment window
// while a second thread presses on risen creatures, a few times a second: either by posting
// mouse events to the window (as the window system's reader would) or, under an X server,
// through the XTEST extension. The time from the press leaving that thread to the booking
// (RegisterResponse starts the feedback sound first) is the latency. CPU time of the
// process and of the UI thread are taken over the run.
//
//   live_latency_bench [--inject=post|xtest|none] [--seconds=60] [--yield=wait|spin]
//                      [--seed=N] [--stim=FOLDER] [--fbdir=FOLDER] [--stall=MS]
//
// With --stall, every third press is made while the UI thread is stalled for MS ms before
// its next delivery of events (as a busy machine or a slow frame would), so that the press
// reaches the loop MS ms late: its stamp must still be its own time, and the line after the
// errors counts the presses stamped with their arrival.
//
// With --stim, the stimuli in FOLDER/stim are loaded as Start loads them, so every changed
// frame draws its holes and composes the stage before it is presented; without it the run
// presents a blank stage.
//
//   QT_QPA_PLATFORM=offscreen live_latency_bench --inject=post
//   xvfb-run -s "-screen 0 1024x768x24" live_latency_bench --inject=xtest
//
// With the presses' injection times taken on the run's tick clock, it also prints for every
// booked press the error of two figures against the injection (mean, SD, 99th percentile):
// the booked RT (its TotalRT against the injection) and the press stamp of the timing
// record; and the standard deviation of the intervals between consecutive frames.
//
// With --fbdir (the folder given to Xvfb's -fbdir, with --stim), a second thread watches the
// X server's frame buffer itself (the file Xvfb keeps it in, mapped): every few hundred
// microseconds it compares each hole's cell with the bare hole, and the first change after
// an appearance was scheduled is when its onset reached the X server. Against that it prints
// the onset stamp's error and the reaction time from the onset's (OnsetRT against injection
// - onset in the frame buffer), each with the watch's own uncertainty (half the time
// between the two polls around the change).
//
//   Xvfb :5 -screen 0 1024x768x24 -fbdir /tmp/fb & DISPLAY=:5 live_latency_bench
//       --inject=xtest --stim=SOURCE_DIR --fbdir=/tmp/fb
//
// Goals: median and 99th percentile within 1 ms plus one frame while creatures move; CPU
// of the process at most a quarter of one core while idle passes dominate; press stamp
// error p99 <= 1 ms where the system's event times are usable (XTest under an X server);
// the booked RT never earlier than the press; frame-interval SD <= 0.5 ms where locked.
#include <QApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <algorithm>
#include <climits>
#include <cmath>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/program.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_platform.h"
#include "preparation/hole_layout.h"
#include "preparation/random.h"
#include "run/scheduler.h"
#include "run/trial_loop.h"
#include "platform/tick_thread.h"
#include "xvfb_frame_buffer.h"

namespace pyokoran {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string inject = "post";
  int seconds = 60;
  bool spin = false;
  uint32_t seed = 1;
  std::string stim;  // folder holding stim/; empty: no pictures
  std::string fbdir;  // Xvfb's -fbdir folder; empty: the frame buffer is not watched
  int stall_ms = 0;   // the UI thread stalled this long before every third press's delivery
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--inject=", 0) == 0) o.inject = a.substr(9);
    if (a.rfind("--seconds=", 0) == 0) o.seconds = std::max(1, std::atoi(a.c_str() + 10));
    if (a == "--yield=spin") o.spin = true;
    if (a.rfind("--seed=", 0) == 0) o.seed = uint32_t(std::strtoul(a.c_str() + 7, nullptr, 10));
    if (a.rfind("--stim=", 0) == 0) o.stim = a.substr(7);
    if (a.rfind("--fbdir=", 0) == 0) o.fbdir = a.substr(8);
    if (a.rfind("--stall=", 0) == 0) o.stall_ms = std::max(0, std::atoi(a.c_str() + 8));
  }
  return o;
}

// The Qt platform with two taps: bookings are timed where RegisterResponse starts the
// sound, and after each delivery of events the holes with a strikable creature are
// published for the pressing thread.
class BenchPlatform : public QtPlatform {
 public:
  BenchPlatform(int& argc, char** argv, bool spin) : QtPlatform(argc, argv), spin_(spin) {}

  Program* program = nullptr;
  std::atomic<uint32_t> strikable_holes{0};
  std::atomic<int64_t> passes{0};

  void PlayWav(const std::vector<uint8_t>* wav) override {
    const Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_booking_ = now;
      ++bookings_;
    }
    booked_.notify_all();
    QtPlatform::PlayWav(wav);
  }

  // Asked by the pressing thread: the next delivery waits stall_ms first; stalling is set while
  // it waits, so the press can be made then.
  std::atomic<int> stall_ms{0};
  std::atomic<bool> stalling{false};

  void PumpEvents() override {
    if (const int ms = stall_ms.exchange(0)) {
      stalling = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      stalling = false;
    }
    QtPlatform::PumpEvents();
    passes.fetch_add(1, std::memory_order_relaxed);
    uint32_t mask = 0;
    const Scheduler& s = program->scheduler;
    for (int i = 0; i < s.creature_count; ++i) {
      const CreatureSlot& slot = s.slots[i];
      if (slot.up && !slot.hit && slot.depth < 64) mask |= 1u << slot.hole;
    }
    strikable_holes.store(mask, std::memory_order_relaxed);
  }

  void PresentChanged(const Surface& stage, const Rect& stage_rect,
                      const std::vector<Rect>& changed) override {
    QtPlatform::PresentChanged(stage, stage_rect, changed);
    int64_t at;
    if (LastPresentTickUs(at)) {
      present_us.push_back(at);
      presented.store(true, std::memory_order_release);
    }
  }
  std::atomic<bool> presented{false};
  std::vector<int64_t> present_us;  // every frame's time on the tick clock

  void YieldSlice() override {
    if (spin_) {
      std::this_thread::yield();
    } else {
      QtPlatform::YieldSlice();
    }
  }

  int64_t bookings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bookings_;
  }
  // Waits up to timeout for a booking after the count before; its time, or false.
  bool WaitForBooking(int64_t before, std::chrono::milliseconds timeout, Clock::time_point& at) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!booked_.wait_for(lock, timeout, [&] { return bookings_ > before; })) return false;
    at = last_booking_;
    return true;
  }

 private:
  bool spin_;
  std::mutex mutex_;
  std::condition_variable booked_;
  int64_t bookings_ = 0;
  Clock::time_point last_booking_;
};

// Presses the left button at physical screen pixels and releases it.
class Injector {
 public:
  virtual ~Injector() = default;
  virtual void Press(int x, int y) = 0;
  virtual void Release(int x, int y) = 0;
};

// Posts mouse events to the experiment window from this thread; Qt wakes the UI thread.
class PostInjector : public Injector {
 public:
  PostInjector(QWindow* window, const QPointingDevice* mouse)
      : window_(window), mouse_(mouse), ratio_(window->devicePixelRatio()) {}
  void Press(int x, int y) override { Post(QEvent::MouseButtonPress, x, y, Qt::LeftButton); }
  void Release(int x, int y) override { Post(QEvent::MouseButtonRelease, x, y, Qt::NoButton); }

 private:
  void Post(QEvent::Type type, int x, int y, Qt::MouseButtons buttons) {
    const QPointF p(x / ratio_, y / ratio_);
    QCoreApplication::postEvent(
        window_, new QMouseEvent(type, p, p, p, Qt::LeftButton, buttons, Qt::NoModifier,
                                 Qt::MouseEventNotSynthesized, mouse_));
  }
  QWindow* window_;
  const QPointingDevice* mouse_;
  qreal ratio_;
};

// Real button events through the X server's XTEST extension, from the libX11 and libXtst
// that xdotool uses, loaded at run time.
class XTestInjector : public Injector {
 public:
  bool Open() {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!x11 || !xtst) return false;
    open_ = reinterpret_cast<OpenFn>(dlsym(x11, "XOpenDisplay"));
    close_ = reinterpret_cast<DisplayFn>(dlsym(x11, "XCloseDisplay"));
    flush_ = reinterpret_cast<DisplayFn>(dlsym(x11, "XFlush"));
    sync_ = reinterpret_cast<SyncFn>(dlsym(x11, "XSync"));
    button_ = reinterpret_cast<ButtonFn>(dlsym(xtst, "XTestFakeButtonEvent"));
    motion_ = reinterpret_cast<MotionFn>(dlsym(xtst, "XTestFakeMotionEvent"));
    if (!open_ || !close_ || !flush_ || !sync_ || !button_ || !motion_) return false;
    display_ = open_(nullptr);
    return display_ != nullptr;
  }
  ~XTestInjector() override {
    if (display_) close_(display_);
  }
  void Move(int x, int y) {
    motion_(display_, -1, x, y, 0);
    sync_(display_, 0);
  }
  void Press(int, int) override {
    button_(display_, 1, 1, 0);
    flush_(display_);
  }
  void Release(int, int) override {
    button_(display_, 1, 0, 0);
    flush_(display_);
  }

 private:
  using Display = void;
  using OpenFn = Display* (*)(const char*);
  using DisplayFn = int (*)(Display*);
  using SyncFn = int (*)(Display*, int);
  using ButtonFn = int (*)(Display*, unsigned, int, unsigned long);
  using MotionFn = int (*)(Display*, int, int, int, unsigned long);
  OpenFn open_ = nullptr;
  DisplayFn close_ = nullptr;
  DisplayFn flush_ = nullptr;
  SyncFn sync_ = nullptr;
  ButtonFn button_ = nullptr;
  MotionFn motion_ = nullptr;
  Display* display_ = nullptr;
};

// Polls the frame buffer: for every hole, when its cell stopped or started being the bare
// hole it was when the watch began.
class CellWatch {
 public:
  // Between the poll before (after_us) and the one that saw it (before_us), on the tick
  // clock, converted at once (the conversion needs the running tick thread).
  struct Change {
    int64_t after_us, before_us;
    bool bare;
  };
  using ToTickUs = std::function<bool(int64_t monotonic_ns, int64_t& tick_us)>;
  CellWatch(const FrameBuffer& fb, std::vector<QRect> cells, ToTickUs to_tick)
      : fb_(fb), cells_(std::move(cells)), to_tick_(std::move(to_tick)) {
    changes_.resize(cells_.size());
  }
  void Run(const std::atomic<bool>& stop) {
    for (const QRect& r : cells_) bare_.push_back(Copy(r));
    std::vector<bool> was_bare(cells_.size(), true);
    int64_t previous_ns = TickThread::MonotonicNs();
    while (!stop.load(std::memory_order_relaxed)) {
      for (size_t h = 0; h < cells_.size(); ++h) {
        const bool bare = Same(cells_[h], bare_[h]);
        if (bare != was_bare[h]) {
          int64_t after_us, before_us;
          if (to_tick_(previous_ns, after_us) && to_tick_(TickThread::MonotonicNs(), before_us)) {
            changes_[h].push_back({after_us, before_us, bare});
          }
          was_bare[h] = bare;
        }
      }
      previous_ns = TickThread::MonotonicNs();
      ++polls_;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  const std::vector<Change>& changes(size_t hole) const { return changes_[hole]; }
  int64_t polls() const { return polls_; }

 private:
  std::vector<uint32_t> Copy(const QRect& r) const {
    std::vector<uint32_t> v;
    for (int y = r.top(); y <= r.bottom(); ++y) v.insert(v.end(), fb_.Row(y) + r.left(), fb_.Row(y) + r.right() + 1);
    return v;
  }
  bool Same(const QRect& r, const std::vector<uint32_t>& bare) const {
    const size_t w = size_t(r.width());
    for (int y = r.top(), i = 0; y <= r.bottom(); ++y, ++i) {
      if (std::memcmp(fb_.Row(y) + r.left(), bare.data() + size_t(i) * w, w * 4) != 0) return false;
    }
    return true;
  }
  const FrameBuffer& fb_;
  std::vector<QRect> cells_;
  ToTickUs to_tick_;
  std::vector<std::vector<uint32_t>> bare_;
  std::vector<std::vector<Change>> changes_;
  int64_t polls_ = 0;
};

// Adds every elapsed millisecond to tick, sleeping to absolute deadlines; stands in for
// the run's timer where the platform does not start one.
class Ticker {
 public:
  explicit Ticker(std::atomic<int32_t>& tick)
      : thread_([this, &tick] {
          Clock::time_point next = Clock::now();
          while (!stop_.load()) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            tick.fetch_add(1, std::memory_order_relaxed);
          }
        }) {}
  ~Ticker() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t i = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
  return sorted[i];
}

}  // namespace
}  // namespace pyokoran

int main(int argc, char** argv) {
  using namespace pyokoran;
  const Options options = Parse(argc, argv);
  BenchPlatform platform(argc, argv, options.spin);
  auto program = std::make_unique<Program>(platform);  // the log is too big for the stack
  platform.program = program.get();

  // A run prepared as Start prepares it, without the dialog (and the pictures unless asked).
  Program& p = *program;
  p.settings.time_limit = options.seconds;
  InitDisplay(platform, p.display);
  SeedRandom(p.random, options.seed);
  InitCreatureSlots(p);
  MakeHoleLayout(p.layout, p.settings, p.random);
  ResetTrialLog(p.scheduler.log);
  ResetTimingLog(p.timing);
  if (!options.stim.empty()) {
    if (chdir(options.stim.c_str()) != 0 || !LoadStimuli(p)) {
      std::fprintf(stderr, "live_latency_bench: no stimuli loaded from %s\n", options.stim.c_str());
      return 1;
    }
  }
  platform.CreateExperimentWindow(p.touch_wnd);
  BindClipper(platform, p.display, WindowId::Experiment);
  const QPointingDevice* mouse = QPointingDevice::primaryPointingDevice();
  for (Clock::time_point until = Clock::now() + std::chrono::milliseconds(300);
       Clock::now() < until;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  // Stage pixels to screen pixels, the inverse of ScreenToStage.
  const StageGeometry& g = p.display.geometry;
  const bool fitted = g.stage_rect.right > g.stage_rect.left;
  auto to_screen = [&](int32_t x, int32_t y, int& sx, int& sy) {
    if (!fitted) {
      sx = x;
      sy = y;
      return;
    }
    const int w = g.stage_rect.right - g.stage_rect.left;
    const int h = g.stage_rect.bottom - g.stage_rect.top;
    sx = g.stage_rect.left + int(int64_t(x) * w / kStageWidth);
    sy = g.stage_rect.top + int(int64_t(y) * h / kStageHeight);
  };

  std::unique_ptr<Injector> injector;
  XTestInjector* xtest = nullptr;
  if (options.inject == "post") {
    injector = std::make_unique<PostInjector>(platform.experiment_window(), mouse);
  } else if (options.inject == "xtest") {
    auto x = std::make_unique<XTestInjector>();
    if (!x->Open()) {
      std::fprintf(stderr, "live_latency_bench: no X display with XTEST\n");
      return 1;
    }
    xtest = x.get();
    injector = std::move(x);
  }

  // The run's timer, or a stand-in while the platform has none.
  StartMsTimer(platform, p.timer);
  const bool platform_timer = p.timer.timer_id != 0;
  StopMsTimer(platform, p.timer);
  std::unique_ptr<Ticker> ticker;
  if (!platform_timer) ticker = std::make_unique<Ticker>(p.timer.tick);

  // Presses on a strikable creature every 150-400 ms; every other one is a quick click
  // (released at once), the others are held 50 ms.
  std::atomic<bool> stop{false};
  std::vector<double> latencies_ms;
  std::vector<int64_t> injected_us;  // tick clock, of every booked press, in booking order
  int unbooked = 0;
  std::thread presser([&] {
    if (!injector) return;
    std::mt19937 rng(options.seed);
    bool quick = true;
    int presses = 0;
    while (!stop.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150 + rng() % 250));
      const uint32_t mask = platform.strikable_holes.load(std::memory_order_relaxed);
      if (mask == 0 || stop.load()) continue;
      std::vector<int> holes;
      for (int h = 0; h < kMaxHoles; ++h) {
        if (mask & (1u << h)) holes.push_back(h);
      }
      const HoleCentre c = p.layout.holes[holes[rng() % holes.size()]];
      int x, y;
      to_screen(c.x, c.y, x, y);
      if (xtest) xtest->Move(x, y);
      if (options.stall_ms > 0 && ++presses % 3 == 0) {
        // The press is made while the UI thread waits.
        platform.stall_ms = options.stall_ms;
        for (int wait = 0; !platform.stalling && wait < 200 && !stop.load(); ++wait) {
          std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
      }
      const int64_t before = platform.bookings();
      const Clock::time_point pressed = Clock::now();
      int64_t injected = 0;
      const bool on_tick_clock = platform.TickClockUsAt(
          std::chrono::duration_cast<std::chrono::nanoseconds>(pressed.time_since_epoch()).count(),
          injected);
      injector->Press(x, y);
      if (quick) injector->Release(x, y);
      Clock::time_point booked;
      if (platform.WaitForBooking(before, std::chrono::milliseconds(250 + options.stall_ms), booked)) {
        latencies_ms.push_back(std::chrono::duration<double, std::milli>(booked - pressed).count());
        injected_us.push_back(on_tick_clock ? injected : INT64_MIN);
      } else {
        ++unbooked;  // the creature went down before the press arrived
      }
      if (!quick) {
        std::this_thread::sleep_until(pressed + std::chrono::milliseconds(50));
        injector->Release(x, y);
      }
      quick = !quick;
    }
  });

  // The frame buffer's cells, watched from the first frame on (the holes are bare then).
  FrameBuffer fb;
  std::unique_ptr<CellWatch> watch;
  std::atomic<bool> stop_watch{false};
  std::thread watcher;
  if (!options.fbdir.empty()) {
    if (options.stim.empty() || !fb.Open(options.fbdir)) {
      std::fprintf(stderr, "live_latency_bench: --fbdir needs --stim and a 32-bit Xvfb_screen0 in %s\n",
                   options.fbdir.c_str());
      return 1;
    }
    std::vector<QRect> cells;
    for (int h = 0; h < p.settings.n_holes; ++h) {
      const HoleCentre c = p.layout.holes[h];
      int l, t, r, b;
      to_screen(c.x - 64, c.y - 64, l, t);
      to_screen(c.x + 64, c.y + 64, r, b);
      cells.push_back(QRect(QPoint(l, t), QPoint(r - 1, b - 1)) & QRect(0, 0, fb.width(), fb.height()));
    }
    watch = std::make_unique<CellWatch>(fb, cells, [&platform](int64_t ns, int64_t& us) {
      return platform.TickClockUsAt(ns, us);
    });
    watcher = std::thread([&] {
      while (!platform.presented.load(std::memory_order_acquire) && !stop_watch.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the first frame is in
      watch->Run(stop_watch);
    });
  }

  const double cpu_before = CpuSeconds(RUSAGE_SELF);
  const double ui_before = CpuSeconds(RUSAGE_THREAD);
  const Clock::time_point start = Clock::now();
  const int result = RunTrialLoop(p);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpu_before;
  const double ui = CpuSeconds(RUSAGE_THREAD) - ui_before;
  stop = true;
  presser.join();
  stop_watch = true;
  if (watcher.joinable()) watcher.join();
  ticker.reset();
  platform.DestroyExperimentWindow();

  std::sort(latencies_ms.begin(), latencies_ms.end());
  const ScoreCounters& c = p.scheduler.counters;
  std::printf("live_latency_bench: %s run of %d s, inject=%s, yield=%s, timer=%s, seed %u, %s\n",
              result == 1 ? "complete" : "aborted", options.seconds, options.inject.c_str(),
              options.spin ? "spin" : "wait", platform_timer ? "platform" : "stand-in",
              options.seed, options.stim.empty() ? "blank stage" : "stimuli drawn");
  std::printf("  wall %.1f s, %lld passes (%.0f per s); Hit %d, FA %d, Miss %d, CR %d\n", wall,
              static_cast<long long>(platform.passes.load()), double(platform.passes.load()) / wall,
              c.Hit, c.FA, c.Miss, c.CR);
  if (!latencies_ms.empty()) {
    std::printf("  press to booking: %zu presses, median %.3f ms, p90 %.3f ms, p99 %.3f ms, "
                "max %.3f ms; %d not booked\n",
                latencies_ms.size(), Percentile(latencies_ms, 50), Percentile(latencies_ms, 90),
                Percentile(latencies_ms, 99), latencies_ms.back(), unbooked);
  }
  std::printf("  CPU: process %.1f %% of one core, UI thread %.1f %%\n", 100.0 * cpu / wall,
              100.0 * ui / wall);

  // Errors against the injection, press by press in booking order.
  std::vector<double> booked_error, stamp_error;
  int booked_early = 0;
  size_t k = 0;
  for (int i = 0; i < p.scheduler.log.count && k < injected_us.size(); ++i) {
    const TrialRecord& r = p.scheduler.log.records[i];
    if (r.Resp != 1) continue;
    const int64_t injected = injected_us[k++];
    if (injected == INT64_MIN) continue;
    const AppearanceTiming& t = p.timing.rows[i];
    booked_error.push_back(double(int64_t(r.TotalRT) * 1000 - injected) / 1000.0);
    booked_early += int64_t(r.TotalRT) * 1000 + 999 < injected;
    if (t.press_us != kNoTime) stamp_error.push_back(double(t.press_us - injected) / 1000.0);
  }
  auto print_error = [](const char* what, std::vector<double> v, const char* noun = "presses") {
    if (v.empty()) {
      std::printf("  %-34s no %s\n", what, noun);
      return;
    }
    double mean = 0, squares = 0;
    for (double e : v) mean += e / double(v.size());
    for (double e : v) squares += (e - mean) * (e - mean);
    std::sort(v.begin(), v.end());
    std::printf("  %-34s %zu %s, mean %+.3f ms, SD %.3f ms, p99 %+.3f ms\n", what, v.size(), noun,
                mean, v.size() > 1 ? std::sqrt(squares / double(v.size() - 1)) : 0.0,
                Percentile(v, 99));
  };
  std::printf("  error against the injection:\n");
  print_error("booked RT (TotalRT - injection):", booked_error);
  print_error("press stamp:", stamp_error);
  std::printf("  booked RT earlier than the press: %d (goal 0)\n", booked_early);
  int arrival_stamped = 0, stamped_late = 0, booked_presses = 0;
  for (int i = 0; i < p.scheduler.log.count; ++i) {
    if (p.scheduler.log.records[i].Resp != 1) continue;
    ++booked_presses;
    arrival_stamped += !p.timing.rows[i].press_from_event;
  }
  for (double e : stamp_error) stamped_late += e > 5.0;
  std::printf("  press stamps from the arrival: %d of %d; stamps over 5 ms after the injection: %d\n",
              arrival_stamped, booked_presses, stamped_late);
  std::printf("  booked RT - true RT: minimum %+.3f ms (goal >= 0)\n",
              booked_error.empty() ? 0.0 : *std::min_element(booked_error.begin(), booked_error.end()));

  if (watch) {
    // The onset in the frame buffer: the first change of the hole's cell from bare after the
    // appearance was scheduled; its time the middle of the two polls around it.
    std::vector<double> onset_error, rt_error, uncertainty;
    int unmatched = 0;
    k = 0;
    for (int i = 0; i < p.scheduler.log.count; ++i) {
      const TrialRecord& r = p.scheduler.log.records[i];
      const AppearanceTiming& t = p.timing.rows[i];
      int64_t injected = INT64_MIN;
      if (r.Resp == 1 && k < injected_us.size()) injected = injected_us[k++];
      if (t.onset_us == kNoTime || r.Hole < 1 || size_t(r.Hole) > size_t(p.settings.n_holes)) continue;
      bool found = false;
      for (const CellWatch::Change& c : watch->changes(size_t(r.Hole - 1))) {
        const int64_t after_us = c.after_us, before_us = c.before_us;
        if (c.bare || before_us < int64_t(t.shown_at) * 1000) continue;
        const int64_t fb_onset = (after_us + before_us) / 2;
        onset_error.push_back(double(t.onset_us - fb_onset) / 1000.0);
        uncertainty.push_back(double(before_us - after_us) / 2000.0);
        if (injected != INT64_MIN && t.press_us != kNoTime) {
          rt_error.push_back(double((t.press_us - t.onset_us) - (injected - fb_onset)) / 1000.0);
        }
        found = true;
        break;
      }
      unmatched += !found;
    }
    std::printf("  against the X server's frame buffer (%lld polls; %d onsets not seen there):\n",
                static_cast<long long>(watch->polls()), unmatched);
    print_error("onset stamp - onset in the buffer:", onset_error, "onsets");
    print_error("RT from the onset:", rt_error);
    print_error("(the watch's uncertainty, +-)", uncertainty, "onsets");
    if (!onset_error.empty()) {
      std::printf("  onset stamp - onset in the buffer: min %+.3f ms, max %+.3f ms\n",
                  *std::min_element(onset_error.begin(), onset_error.end()),
                  *std::max_element(onset_error.begin(), onset_error.end()));
    }
  }

  PresentationReport report;
  platform.GetPresentationReport(report);
  const double period_ms = report.refresh_hz > 0 ? 1000.0 / report.refresh_hz : 16.667;
  std::vector<double> intervals;
  for (size_t i = 1; i < platform.present_us.size(); ++i) {
    const double gap = double(platform.present_us[i] - platform.present_us[i - 1]) / 1000.0;
    if (gap <= 1.5 * period_ms) intervals.push_back(gap);  // consecutive frames only
  }
  double mean = 0, squares = 0;
  for (double v : intervals) mean += v / double(intervals.size());
  for (double v : intervals) squares += (v - mean) * (v - mean);
  // What the timing record's booking flag weighs: the booking against the press stamp (or the
  // first frame, for a press held from before), against a frame and a frame plus 2 ms.
  std::vector<double> booking_ms;
  for (int i = 0; i < p.scheduler.log.count; ++i) {
    const TrialRecord& r = p.scheduler.log.records[i];
    const AppearanceTiming& t = p.timing.rows[i];
    if (r.Resp != 1 || t.press_us == kNoTime) continue;
    const int64_t from = t.first_frame_us != kNoTime ? std::max(t.press_us, t.first_frame_us) : t.press_us;
    booking_ms.push_back(double(int64_t(r.TotalRT) * 1000 - from) / 1000.0);
  }
  if (!booking_ms.empty()) {
    std::sort(booking_ms.begin(), booking_ms.end());
    const double frame_ms = period_ms * std::max(report.present_every, 1);
    const auto over = [&](double bound) {
      return booking_ms.end() - std::upper_bound(booking_ms.begin(), booking_ms.end(), bound);
    };
    std::printf("  booking - press stamp: %zu presses, min %+.3f ms, median %+.3f ms, p99 %+.3f ms, max %+.3f ms; "
                "over a frame (%.3f ms): %td, over a frame + 2 ms: %td\n",
                booking_ms.size(), booking_ms.front(), Percentile(booking_ms, 50), Percentile(booking_ms, 99),
                booking_ms.back(), frame_ms, over(frame_ms), over(frame_ms + 2.0));
  }
  std::printf("  frames (%s): %zu consecutive intervals, mean %.3f ms, SD %.3f ms (goal <= 0.5 ms "
              "where locked); %d dropped; tick lag %.3f ms\n",
              report.mode.c_str(), intervals.size(), mean,
              intervals.size() > 1 ? std::sqrt(squares / double(intervals.size() - 1)) : 0.0,
              report.dropped, report.tick_lag_ms);
  return 0;
}
