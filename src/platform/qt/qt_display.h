// Presenting the stage on the experiment window and drawing text into surfaces, over Qt.
//
// Two ways to the screen, decided when a run binds the window (see timing/present_mode.h):
// - locked: OpenGL on the window itself, swap interval 1. The stage is kept as a texture
//   updated with the changed parts only, drawn unfiltered into stage_rect with black around
//   it, and every swap waits for the display's refresh. A frame's time is the display
//   system's own report of when the picture reached the screen, mapped onto the monotonic
//   clock: the X Present extension's completion of the swap (with its refresh count and
//   whether it flipped or was copied), read on a connection of our own (X11PresentWatch),
//   or else GLX_OML_sync_control's; where neither is to be had, when the swap and a
//   glFinish returned, which may be a refresh or two before the picture is shown.
// - fallback: only the changed parts of the stage, scaled (nearest pixel) into a picture of
//   the window and sent: on X11 through memory shared with the server (X11WindowPicture),
//   elsewhere, or where that cannot be had, through the window's backing store. Nothing
//   waits for the refresh, so Present paces itself on the monotonic clock at the measured
//   or reported refresh rate; a frame's time is when it was handed to the window system.
//   Its phase is not locked to the real beam.
// Software OpenGL (llvmpipe under Xvfb) and drivers that ignore the swap interval do not
// block in the swap, and end up in the fallback. QOpenGLWidget (27-47 ms a frame) is not
// used, nor a child window, which would take the window's input.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/surface.h"
#include "platform/platform.h"
#include "timing/flip_times.h"
#include "timing/present_mode.h"

class QBackingStore;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QPainter;

namespace pyokoran {

class X11PresentWatch;
class X11WindowPicture;

class QtDisplay : public QObject {
 public:
  // What a run's presents looked like.
  struct Stats {
    int presented = 0;
    int dropped = 0;         // presents more than 1.5 refresh intervals after the previous one
    double refresh_hz = 0;   // the rate presents are locked or paced at
    double longest_gap_ms = 0;  // longest interval between consecutive presents (dropped or not)
  };

  QtDisplay();
  ~QtDisplay() override;

  // Start-up. False when there is no screen to present on.
  bool Init();
  // Whether OpenGL contexts can be made here at all (asked once).
  static bool OpenGLAvailable();
  // A run binds its window (run = true): waits until it is shown, measures its swaps when
  // its surface takes OpenGL, decides the mode (forced by PYOKORAN_PRESENT if set) and
  // tells it in one line on standard error. Binding null (run = false) ends the run: one
  // line with the frames presented and dropped.
  void Bind(QWindow* window, bool run);
  // The stage stretched into stage_rect (physical screen pixels) of the bound window, after
  // waiting for the next refresh. Does nothing while no visible window is bound. changed,
  // when given, names the only areas of the stage that may differ from the previous present
  // (each is narrowed to the box around its pixels that do); otherwise the stage is compared
  // with it in 64 x 64 tiles. Only what changed is sent.
  void Present(const Surface& stage, const Rect& stage_rect,
               const std::vector<Rect>* changed = nullptr);
  // The window system needs the picture again: the frame on screen, with black bars.
  void Repaint();
  void RepaintIfBound(QWindow* window) {
    if (window_ == window) Repaint();
  }
  // The window is about to go: let go of it without a word.
  void Forget(QWindow* window) {
    if (window_ == window) Shutdown();
  }
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
  // For benchmarks: how long the parts of the last present took, in milliseconds. take:
  // finding and copying what changed (locked: and the texture update); wait: for the window
  // system to have read the previous frame (backing store: Qt's round trip before painting)
  // or, locked, the glFinish after the swap; draw: scaling into the window's picture, or
  // clearing and drawing the quad; send: handing it over (the flush, or the swap).
  struct Parts {
    double take = 0, wait = 0, draw = 0, send = 0;
  };
  // Locked, measuring adds a glFinish before the swap, so that drawing and swap separate.
  void set_measure_parts(bool on) { measure_parts_ = on; }
  const Parts& parts() const { return parts_; }
  // For tests: every OpenGL frame is read back before its swap (read_back()).
  void set_read_back(bool on) { read_back_ = on; }
  const QImage& read_back() const { return read_back_image_; }
  // For tests and benchmarks: the fallback goes through Qt's backing store even on X11.
  void set_backing_store_only(bool on) { backing_store_only_ = on; }
  // For tests: what the window's picture holds (physical pixels); null in locked mode.
  QImage BackingStoreImage();
  const Stats& stats() const { return stats_; }
  const ModeDecision& decision() const { return decision_; }
  // Through OpenGL (measured locked, or forced so).
  bool locked() const { return gl_ready_ && decision_.mode != PresentMode::Fallback; }
  // The fallback presents through memory shared with the X server.
  bool shared_picture() const { return picture_ != nullptr; }
  // CLOCK_MONOTONIC ns of the last present's time (see the header comment); 0 before one
  // and when the last present did not go out.
  int64_t last_present_ns() const { return last_present_ns_; }
  // How long the last present took to hand its picture over (the swap or the flush), after
  // any wait for the refresh; 0 when it did not go out.
  int64_t last_send_ns() const { return last_send_ns_; }
  // The last present did not go out (the window hidden, or drawing or sending failed).
  bool last_present_failed() const { return last_failed_; }
  // How the display system says the last locked frame completed; null where it says nothing.
  const FrameCompletion* last_completion() const {
    return last_completion_known_ ? &last_completion_ : nullptr;
  }
  // That frame's refresh counter skipped (it was shown later than due).
  bool last_dropped() const { return last_dropped_; }
  // Where locked frame times come from.
  enum class FrameTimeSource { SwapReturn, Present, Oml };
  FrameTimeSource frame_time_source() const { return source_; }
  // CLOCK_MONOTONIC ns at which the run's lock was lost; 0 while kept.
  int64_t lock_lost_ns() const { return lock_lost_ns_; }
  // The run's figures so far (tick lag left 0: the tick thread knows it).
  PresentationReport Report() const;

 private:
  using Clock = std::chrono::steady_clock;
  // The frame on screen and the black bars around it, onto a painter over the bound window.
  void Paint(QPainter& painter, bool bars);
  // Takes what changed on the stage into shown_ and names it in changed_rects_; true when
  // anything changed.
  bool TakeChanged(const Surface& stage, bool all, const std::vector<Rect>* changed);
  // Where the stage lands in the window, in its logical pixels.
  QRectF StageArea() const;
  // The stage mapped onto area (logical pixels of the window, one physical pixel each).
  void MapStage(const QRect& area);
  // Where stage rectangle r lands in area (after MapStage).
  QRect Scaled(const Rect& r, const QRect& area) const;
  // changed_rects_ scaled to the nearest pixel into area of a 32-bit picture of the window
  // (bits, bytes per line), within clip; black all over clip first when bars is set. Much
  // cheaper than QPainter's scaled drawImage.
  void ScaleInto(uchar* bits, qsizetype line, const QRect& clip, const QRect& area, bool bars);
  void WaitForRefresh();
  double ReportedRefreshHz() const;
  // OpenGL: a context on the window, the swaps measured; false when none can be made.
  bool StartOpenGL(std::vector<double>& intervals_ms, std::vector<double>& work_ms);
  // After the measuring swaps (present_completions of them reported by Present): where frame
  // times will come from, the display system's clock checked by round trips.
  void ChooseFrameTimeSource(int swaps, int present_completions);
  // Locked: waits for the display system's report of the swap just made; its time on the
  // monotonic clock, or 0 (then the swap's return is used).
  int64_t AwaitCompletion();
  std::string DescribeFrameTimes() const;
  void StopOpenGL();
  // Draws the texture into stage_rect with black around it and swaps; true when drawn.
  bool DrawAndSwap(bool upload_all);
  // Through the window's picture or the backing store; true when sent.
  bool FlushBackingStore(bool changed);
  void CountPresent(int64_t now_ns, const FrameCompletion* completion);

  QPointer<QWindow> window_;
  QImage shown_;                 // the stage as on screen now, for repaints and comparison
  std::vector<Rect> changed_rects_;  // of the stage, since the previous present
  std::vector<int32_t> columns_, rows_;    // stage column and row of each target pixel
  std::vector<int32_t> first_x_, first_y_;  // first target pixel of each stage column and row
  QRect scaled_area_;
  QSize scaled_from_;
  Rect stage_rect_;
  bool bars_drawn_ = false;  // the black outside stage_rect is in the backing store
  bool self_pacing_ = true;
  bool compare_next_ = false;  // a present was skipped: compare the next one whole
  bool in_run_ = false;
  bool backing_store_only_ = false;
  bool measure_parts_ = false;
  Parts parts_;
  std::unique_ptr<X11WindowPicture> picture_;  // else store_
  std::unique_ptr<QBackingStore> store_;

  // OpenGL.
  std::unique_ptr<QOpenGLContext> context_;
  std::unique_ptr<QOpenGLShaderProgram> program_;
  unsigned texture_ = 0;
  bool gl_ready_ = false;
  bool texture_full_ = false;  // the texture holds all of shown_
  bool read_back_ = false;
  QImage read_back_image_;
  std::vector<uint32_t> upload_;  // one changed part, packed

  // Frame times from the display system (locked).
  FrameTimeSource source_ = FrameTimeSource::SwapReturn;
  std::string source_why_;        // why the swap's return is used
  std::unique_ptr<X11PresentWatch> present_watch_;
  UstCheck ust_check_;
  void* oml_display_ = nullptr;   // the X display of GLX_OML_sync_control
  void* oml_wait_for_sbc_ = nullptr;
  void* oml_get_sync_values_ = nullptr;
  int64_t oml_target_sbc_ = 0;    // the swap counter once the last swap has completed
  int64_t swap_frame_ns_ = 0;     // the last swap's time from the display system; 0 = none
  FrameCompletion last_completion_;
  bool last_completion_known_ = false;
  bool last_dropped_ = false;
  CompletionCount completions_;
  int unconfirmed_ = 0;           // locked frames the display system did not report in time
  bool last_failed_ = false;

  ModeDecision decision_;
  bool pace_locked_ = false;  // locked but the swap was not seen to wait: pace as well
  LockWatch lock_watch_;      // locked: whether the swaps keep waiting
  int64_t lock_lost_ns_ = 0;  // CLOCK_MONOTONIC when it was lost; 0 = kept
  Clock::time_point anchor_;
  Clock::duration period_ = std::chrono::microseconds(16667);
  int64_t last_present_ns_ = 0;
  int64_t last_send_ns_ = 0;
  int64_t previous_present_ns_ = 0;
  bool have_last_present_ = false;
  int passes_since_present_ = 0;
  Stats stats_;
};

}  // namespace pyokoran
