// Cost of a frame on the real platform: ComposeFrame (background, 15 holes, status text)
// and QtDisplay::Present scaled to the whole screen, unpaced (goal: 2 ms together at
// 1920 x 1080 under Xvfb); then a paced run for the frame rate and dropped frames; then a
// screenshot of the screen. Run it through bench/qt/run_present_bench.sh, which starts its
// own Xvfb.
// Usage: present_bench <folder holding stim/> [screenshot.png] [hold ms]
#include "app/program.h"
#include "display/surfaces.h"
#include "run/frame.h"

#include "platform/qt/qt_display.h"
#include "platform/qt/qt_platform.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <algorithm>
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

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-38s median %6.3f ms   p95 %6.3f ms   max %6.3f ms\n", what, ms[ms.size() / 2],
              ms[ms.size() * 95 / 100], ms.back());
}

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

  // The window the frames go into, covering the screen, and a display of our own so that
  // the wait for the refresh can be left out of the cost.
  QWindow window;
  window.setFlags(Qt::Window | Qt::FramelessWindowHint);
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

  // Unpaced: what a frame costs, back to back (the X server is still taking the previous
  // frame while the next one is drawn) and one per refresh interval (as in a run).
  display.set_self_pacing(false);
  display.Bind(&window, true);
  std::vector<double> holes, compose, present, total, spaced, spaced_compose, spaced_present;
  auto next = Clock::now();
  for (int n = 0; n < 600; ++n) {
    const bool one_per_refresh = n >= 400;
    if (one_per_refresh) {
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
    } else {
      next = Clock::now();
    }
    auto t0 = Clock::now();
    frame(n);
    auto t1 = Clock::now();
    ComposeFrame(*program);  // its own present goes nowhere: the platform's display is unbound
    auto t2 = Clock::now();
    display.Present(program->display.stage.surface, g.stage_rect);
    auto t3 = Clock::now();
    QCoreApplication::processEvents();
    display.NoteLoopPass();
    if (one_per_refresh) {
      spaced_compose.push_back(Ms(t2 - t1));
      spaced_present.push_back(Ms(t3 - t2));
      spaced.push_back(Ms(t3 - t1));
      continue;
    }
    holes.push_back(Ms(t1 - t0));
    compose.push_back(Ms(t2 - t1));
    present.push_back(Ms(t3 - t2));
    total.push_back(Ms(t3 - t1));
  }
  display.Bind(nullptr, false);
  std::printf("back to back, %zu frames:\n", total.size());
  Report("  DrawHole x 9 (moving creatures)", holes);
  Report("  ComposeFrame (15 holes, text)", compose);
  Report("  Present to the screen", present);
  Report("  ComposeFrame + Present", total);
  std::printf("one frame per refresh interval, %zu frames:\n", spaced.size());
  Report("  ComposeFrame", spaced_compose);
  Report("  Present to the screen", spaced_present);
  Report("  ComposeFrame + Present (goal 2 ms)", spaced);

  // Paced, as in a run.
  display.set_self_pacing(true);
  display.Bind(&window, true);
  auto start = Clock::now();
  const int paced = 180;
  for (int n = 0; n < paced; ++n) {
    frame(n);
    ComposeFrame(*program);
    display.Present(program->display.stage.surface, g.stage_rect);
    QCoreApplication::processEvents();
    display.NoteLoopPass();
  }
  double seconds = Ms(Clock::now() - start) / 1000;
  std::printf("paced: %d frames in %.3f s = %.2f frames/s (refresh %.2f Hz), %d dropped, longest interval %.1f ms\n",
              paced, seconds, paced / seconds, display.stats().refresh_hz, display.stats().dropped,
              display.stats().longest_gap_ms);

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
