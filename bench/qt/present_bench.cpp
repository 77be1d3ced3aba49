// Cost of a frame on the real platform at 1920 x 1080, in the frame loop's shape: every
// 16.7 ms nine creatures move (DrawHole), ComposeFrame copies their holes (and the status
// band when its text changes) onto the stage, and QtDisplay::Present sends what changed,
// unpaced. After each present the bench makes a round trip to the X server, so that
// "until the server has it" includes the server's copy of the frame (in the locked mode
// the swap and glFinish already wait for it); "handed to the server" stops when Present
// returns. Each way to the screen is measured: the fallback through memory shared with
// the X server (what a run uses on X11 without a locked swap), the fallback through Qt's
// backing store (used where shared memory cannot be had), and OpenGL (forced; under Xvfb
// that is Mesa's software rasterizer). For each, the parts of Present (QtDisplay::Parts;
// in the locked mode a glFinish is added before the swap to separate drawing from it).
// Goal per frame, ComposeFrame + Present until the server has it: median <= 1 ms and 95th
// percentile <= 2 ms. Then a paced run in the mode a run would choose, with its
// frame-interval standard deviation, and a screenshot. Run it through
// bench/qt/run_present_bench.sh, which starts its own Xvfb on a free display.
// Usage: present_bench <folder holding stim/> [screenshot.png] [hold ms]
#include "app/program.h"
#include "display/surfaces.h"
#include "run/frame.h"
#include "timing/present_mode.h"

#include "platform/qt/qt_display.h"
#include "platform/qt/qt_experiment_window.h"
#include "platform/qt/qt_platform.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <xcb/xcb.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#undef slots

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Prints the figures; with a goal, whether the median and the 95th percentile meet it.
void Report(const char* what, std::vector<double> ms, bool goal = false) {
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2], p95 = ms[ms.size() * 95 / 100];
  std::printf("%-46s median %6.3f ms   p95 %6.3f ms   max %6.3f ms", what, median, p95, ms.back());
  if (goal) {
    std::printf("   goal median <= 1, p95 <= 2: %s", median <= 1.0 && p95 <= 2.0 ? "met" : "NOT MET");
  }
  std::printf("\n");
}

// A round trip to the X server: once it answers, it has processed every request before.
void SyncWithServer() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* c = x11->connection();
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

class NoPointer : public pyokoran::PointerHandler {
 public:
  void OnButtonDown(pyokoran::MouseButton, int32_t, int32_t) override {}
  void OnButtonUp(pyokoran::MouseButton) override {}
  void OnMouseMove(int32_t, int32_t, bool) override {}
  void OnTouch(const std::vector<pyokoran::TouchContact>&) override {}
  void OnActivate(bool) override {}
  void OnCloseOrDestroy() override {}
};

}  // namespace

int main(int argc, char** argv) {
  using namespace pyokoran;
  if (argc < 2) {
    std::fprintf(stderr, "usage: present_bench <folder holding stim/> [screenshot.png] [hold ms]\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string shot = argc > 2 ? argv[2] : "";
  const int hold_ms = argc > 3 ? std::atoi(argv[3]) : 0;

  QtPlatform platform(argc, argv);
  auto program = std::make_unique<Program>(platform);
  if (!InitDisplay(platform, program->display)) return 1;
  const StageGeometry& g = program->display.geometry;
  std::printf("screen %d x %d, stage_rect (%d, %d, %d, %d)\n", g.screen_width, g.screen_height,
              g.stage_rect.left, g.stage_rect.top, g.stage_rect.right, g.stage_rect.bottom);

  program->settings.n_holes = 15;
  const int xs[5] = {118, 314, 510, 706, 902}, ys[3] = {141, 383, 625};
  for (int h = 0; h < 15; ++h) program->layout.holes[h] = {xs[h % 5], ys[h / 5]};
  {
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(source);
    int ok = LoadStimuli(*program);
    std::filesystem::current_path(previous);
    if (!ok) return 1;
  }
  StimulusSet& s = program->stimuli;
  for (int h = 0; h < 15; ++h) BltAt(program->display, s.composite_surface[h], 0, 0, s.base_surface[h], NO_KEY);
  Scheduler& sched = program->scheduler;
  sched.creature_count = 9;
  for (int i = 0; i < 9; ++i) {
    sched.slots[i] = CreatureSlot{.target = i < 6, .hole = i * 15 / 9, .depth = 124, .up = 1};
  }

  // The experiment window the frames go into, covering the screen, and a display of our
  // own so that the wait for the refresh can be left out of the cost.
  NoPointer no_pointer;
  QtExperimentWindow window(nullptr, no_pointer, QtDisplay::OpenGLAvailable());
  window.setGeometry(QGuiApplication::primaryScreen()->geometry());
  window.show();
  window.requestActivate();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "window not exposed\n");
    return 1;
  }
  QtDisplay display;
  display.Init();

  auto frame = [&](int n) {
    for (int i = 0; i < 9; ++i) {
      CreatureSlot& c = sched.slots[i];
      c.depth = (124 - 4 * ((n + 5 * i) % 32) + 128) % 128;
      c.hit = (n / 64 + i) % 3 == 0;
      DrawHole(*program, i);
    }
    program->timer.tick.store(n * 16);
    sched.counters = {.Hit = n / 10, .Miss = n / 30, .CR = n / 20, .FA = n / 40};
  };

  // Unpaced, one frame per refresh interval as in a run, in each mode; the fallback also
  // through Qt's backing store, for comparison.
  struct Way {
    const char* mode;
    bool backing_store_only;
  };
  for (const Way way : {Way{"fallback", false}, Way{"fallback", true}, Way{"locked", false}}) {
    const std::string mode = way.mode;
    if (mode == "locked" && window.surfaceType() != QSurface::OpenGLSurface) {
      std::printf("locked: no OpenGL here\n");
      continue;
    }
    qputenv(kPresentModeVariable, way.mode);
    display.set_self_pacing(false);
    display.set_backing_store_only(way.backing_store_only);
    display.Bind(&window, true);
    qunsetenv(kPresentModeVariable);
    s.stage_composed = false;
    std::vector<double> holes, compose, present, handed, total;
    std::vector<double> take, wait, draw, send;
    display.set_measure_parts(true);
    auto next = Clock::now();
    for (int n = 0; n < 300; ++n) {
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
      auto t0 = Clock::now();
      frame(n);
      auto t1 = Clock::now();
      ComposeFrame(*program);  // its own present goes nowhere: the platform's display is unbound
      auto t2 = Clock::now();
      display.Present(program->display.stage.surface, g.stage_rect, &s.changed_areas);
      auto t2a = Clock::now();
      SyncWithServer();
      auto t3 = Clock::now();
      QCoreApplication::processEvents();
      display.NoteLoopPass();
      if (n < 20) continue;  // the first frames are sent whole
      holes.push_back(Ms(t1 - t0));
      compose.push_back(Ms(t2 - t1));
      present.push_back(Ms(t3 - t2));
      handed.push_back(Ms(t2a - t2));
      take.push_back(display.parts().take);
      wait.push_back(display.parts().wait);
      draw.push_back(display.parts().draw);
      send.push_back(display.parts().send);
      total.push_back(Ms(t3 - t1));
    }
    const char* path = display.locked()           ? "OpenGL"
                       : display.shared_picture() ? "memory shared with the X server"
                                                  : "Qt's backing store";
    display.set_measure_parts(false);
    display.Bind(nullptr, false);
    std::printf("%s through %s (%s), one frame per refresh interval, %zu frames:\n", way.mode,
                path, display.decision().reason.c_str(), total.size());
    Report("  DrawHole x 9 (moving creatures)", holes);
    Report("  ComposeFrame (holes, text)", compose);
    const bool gl = mode == "locked";
    if (gl) {
      Report("    take: what changed, texture updated", take);
      Report("    draw: clear, quad (glFinish)", draw);
      Report("    send: swap", send);
      Report("    wait: glFinish after the swap", wait);
    } else {
      Report("    take: what changed found and copied", take);
      Report("    wait: server done with the previous frame", wait);
      Report("    draw: scaled into the window's picture", draw);
      Report("    send: handed over (put, flush)", send);
    }
    Report("  Present, handed to the server", handed);
    Report("  Present, until the server has it", present);
    Report("  ComposeFrame + Present", total, true);
  }

  // Paced, as in a run, in the mode a run would choose.
  display.set_self_pacing(true);
  display.set_backing_store_only(false);
  display.Bind(&window, true);
  auto start = Clock::now();
  const int paced = 180;
  std::vector<double> intervals;
  int64_t previous = 0;
  for (int n = 0; n < paced; ++n) {
    frame(n);
    ComposeFrame(*program);
    display.Present(program->display.stage.surface, g.stage_rect, &s.changed_areas);
    if (previous) intervals.push_back(double(display.last_present_ns() - previous) / 1e6);
    previous = display.last_present_ns();
    QCoreApplication::processEvents();
    display.NoteLoopPass();
  }
  double seconds = Ms(Clock::now() - start) / 1000;
  double mean = 0, squares = 0;
  for (double v : intervals) mean += v / double(intervals.size());
  for (double v : intervals) squares += (v - mean) * (v - mean);
  std::printf("paced (%s): %d frames in %.3f s = %.2f frames/s (refresh %.2f Hz), %d dropped, "
              "longest interval %.1f ms, interval SD %.3f ms (goal <= 0.5 ms where locked)\n",
              display.locked() ? "locked" : "fallback", paced, seconds, paced / seconds,
              display.stats().refresh_hz, display.stats().dropped, display.stats().longest_gap_ms,
              std::sqrt(squares / double(intervals.size() - 1)));

  // One last frame with every creature at some height, for the screenshot.
  for (int i = 0; i < 9; ++i) {
    sched.slots[i].depth = (i * 23) % 100;
    sched.slots[i].hit = i % 4 == 3;
    DrawHole(*program, i);
  }
  ComposeFrame(*program);
  display.Present(program->display.stage.surface, g.stage_rect);
  QCoreApplication::processEvents();
  if (!shot.empty()) {
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    std::printf("screenshot %s: %s\n", shot.c_str(), screen.save(QString::fromStdString(shot)) ? "saved" : "FAILED");
  }
  auto until = Clock::now() + std::chrono::milliseconds(hold_ms);
  while (Clock::now() < until) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  display.Bind(nullptr, false);
  ShutdownDisplay(platform, program->display);
  return 0;
}
