// Presenting the stage on screen and drawing text into surfaces, over Qt.
//
// Frames go into the bound window's backing store (QPainter::drawImage, stretched into
// stage_rect, the rest of the window black) and are flushed at once. OpenGL is not used:
// the windows are plain widgets owned by the shell, a GL child window would take their
// mouse and touch input, QOpenGLWidget costs 27-47 ms a frame, and software GL (llvmpipe,
// Xvfb) neither paces nor keeps within a frame. A backing-store flush never waits for the
// refresh, so Present paces itself: it waits for the next refresh on the monotonic clock,
// at the screen's refresh rate, before copying. This stands in for waiting for the end of
// the vertical blank; its phase is not locked to the real beam.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <string>

#include "display/surface.h"
#include "platform/platform.h"

class QWidget;
class QPainter;

namespace pyokoran {

class QtDisplay : public QObject {
 public:
  // What a run's presents looked like.
  struct Stats {
    int presented = 0;
    int dropped = 0;         // presents more than 1.5 refresh intervals after the previous one
    double refresh_hz = 0;   // the rate presents are paced at
    double longest_gap_ms = 0;  // longest interval between consecutive presents (dropped or not)
  };

  QtDisplay();
  ~QtDisplay() override;

  // Start-up. False when there is no screen to present on.
  bool Init();
  // Frames go to this window (the one covering the screen) from now on. Binding the
  // experiment window (run = true) starts a run: one line on standard error tells how
  // presents are paced. Binding back (run = false) ends it: one line with the dropped frames.
  void Bind(QWidget* window, bool run);
  // The stage stretched into stage_rect (physical screen pixels) of the bound window, after
  // waiting for the next refresh. Does nothing while no visible window is bound.
  void Present(const Surface& stage, const Rect& stage_rect);
  void Shutdown();
  // The trial loop went round once (called from YieldSlice): a present that follows more
  // than one pass after the previous one comes after a pause in which nothing moved, and is
  // not a dropped frame.
  void NoteLoopPass() { ++passes_since_present_; }

  // One line of text in the proportional Japanese font (pixel height height, colour a
  // COLORREF), centred both ways in rect of the surface, on a transparent background.
  static void DrawText(Surface& surface, const Rect& rect, const std::string& text,
                       int32_t height, uint32_t colour);

  // For tests and benchmarks: presents without waiting for the refresh.
  void set_self_pacing(bool on) { self_pacing_ = on; }
  const Stats& stats() const { return stats_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using Clock = std::chrono::steady_clock;
  // The last frame and the black bars around it, onto a painter over the bound window.
  void Paint(QPainter& painter, bool bars);
  void WaitForRefresh();
  void NoteRefreshRate();

  QPointer<QWidget> window_;
  QImage frame_;  // a copy of the last stage presented, for repaints
  Rect stage_rect_;
  bool bars_drawn_ = false;  // the black outside stage_rect is in the backing store
  bool self_pacing_ = true;
  bool in_run_ = false;
  Clock::time_point anchor_;
  Clock::duration period_ = std::chrono::microseconds(16667);
  Clock::time_point last_present_;
  bool have_last_present_ = false;
  int passes_since_present_ = 0;
  Stats stats_;
};

}  // namespace pyokoran
