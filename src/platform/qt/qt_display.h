// Presenting the stage on screen and drawing text into surfaces, over Qt.
//
// Frames go into the bound window's backing store, stretched into stage_rect with the rest
// of the window black, and are flushed at once; only the parts of the stage that changed
// since the frame on screen are scaled and sent. OpenGL is not used:
// the windows are plain widgets owned by the shell, a GL child window would take their
// mouse and touch input, QOpenGLWidget costs 27-47 ms a frame, and software GL (llvmpipe
// under Xvfb) takes 8-10 ms a frame without waiting for the refresh either. A backing-store
// flush never waits for the
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
#include <vector>

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
  // waiting for the next refresh. Does nothing while no visible window is bound. Only the
  // 64 x 64 tiles of the stage that differ from the frame on screen are scaled and sent.
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
  // The frame on screen and the black bars around it, onto a painter over the bound window.
  void Paint(QPainter& painter, bool bars);
  // Takes the stage's changed tiles into shown_; true when any changed.
  bool TakeChangedTiles(const Surface& stage, bool all);
  // Where the stage lands in the window, in its logical pixels.
  QRectF StageArea() const;
  // The changed tiles scaled to the nearest pixel into area of target (a 32-bit image, one
  // pixel per logical pixel), black around area when bars is set; the part of the window
  // that changed. Much cheaper than QPainter's scaled drawImage.
  QRegion ScaleInto(QImage& target, const QRect& area, bool bars);
  void WaitForRefresh();
  void NoteRefreshRate();

  QPointer<QWidget> window_;
  QImage shown_;                 // the stage as on screen now, for repaints and comparison
  std::vector<uint8_t> changed_;  // per 64 x 64 tile of the stage, row by row
  int tiles_x_ = 0, tiles_y_ = 0;
  std::vector<int32_t> columns_, rows_;    // stage column and row of each target pixel
  std::vector<int32_t> tile_x_, tile_y_;  // first target pixel of each tile column and row
  QRect scaled_area_;
  QSize scaled_from_;
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
