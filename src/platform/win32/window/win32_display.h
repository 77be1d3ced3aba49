// Presenting the stage on the experiment window, in one of two ways decided when a run binds
// the window (with the same measurement as on every system, timing/present_mode.h):
// - locked: a DXGI flip-model swap chain (Direct3D 11) on the window, presented with sync
//   interval 1 and at most one frame queued, so that every present waits for the display's
//   refresh. The window's picture is kept in a texture updated with the changed parts only
//   and copied into the back buffer. A frame's time is the refresh at which it was shown,
//   from IDXGISwapChain::GetFrameStatistics where the driver gives it, else when the wait
//   for the present returned.
// - fallback: the changed parts of the window's picture sent with GDI (StretchDIBits), paced
//   on the monotonic clock at the measured or reported refresh rate; a frame's time is when
//   it was handed to GDI, not when the display showed it.
// In both ways the stage is scaled (nearest pixel) into the window's picture on the
// processor (StagePicture), so both show the same pixels.
//
// Wine under Xvfb makes the device and the swap chain, but its presents do not wait and it
// gives no frame statistics: the measurement then chooses the fallback and says why.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/surface.h"
#include "platform/platform.h"
#include "platform/win32/window/stage_picture.h"
#include "platform/win32/window/windows_api.h"
#include "timing/present_mode.h"

namespace pyokoran {

class DeadlineSleeper;
struct D3DPresenter;

class Win32Display {
 public:
  Win32Display();
  ~Win32Display();
  Win32Display(const Win32Display&) = delete;
  Win32Display& operator=(const Win32Display&) = delete;

  // Start-up. False when there is no screen to present on.
  bool Init();
  // A run binds its window (run = true): measures its presents through Direct3D (unless the
  // fallback is forced, PYOKORAN_PRESENT), decides the mode and tells it in one line on
  // standard error. A window that had a flip-model swap chain is not given to GDI: when the
  // fallback is chosen after one was made, remake_window is asked for a fresh window, which
  // is used from then on. Binding null ends the run: one line with the frames presented.
  void Bind(HWND window, bool run, const std::function<HWND()>& remake_window);
  // The window bound now (it may have been remade).
  HWND window() const { return window_; }
  // The stage stretched into stage_rect (window pixels) of the bound window, after waiting
  // for the next refresh. changed, when given, names the only areas of the stage that may
  // differ from the previous present. Does nothing while no window is bound.
  void Present(const Surface& stage, const Rect& stage_rect,
               const std::vector<Rect>* changed = nullptr);
  // The bound window asks for its picture again (WM_PAINT): the frame on screen, with black
  // bars. Validates the window's update region.
  void Repaint(HWND window);
  // The window is about to go: let go of it without a word.
  void Forget(HWND window) {
    if (window_ == window) Shutdown();
  }
  void Shutdown();
  // The trial loop went round once (called from YieldSlice).
  void NoteLoopPass() { ++passes_since_present_; }

  bool locked() const;
  // Monotonic ns (TickThread::MonotonicNs) of the last present's time; 0 before one and when
  // the last one did not go out.
  int64_t last_present_ns() const { return last_present_ns_; }
  // How long the last present took to hand its picture over, in ns (after the wait for its
  // refresh: the Direct3D present and its frame latency wait, or GDI's drawing and flush); 0
  // when it did not go out.
  int64_t last_send_ns() const { return last_send_ns_; }
  // The last present's time is the display system's report of the refresh that showed it
  // (DXGI frame statistics), not a time taken here.
  bool last_stamp_reported() const { return last_stamp_reported_; }
  // Monotonic ns at which a locked run's presents stopped waiting; 0 while they wait.
  int64_t lock_lost_ns() const { return lock_lost_ns_; }
  // The run's figures so far (tick lag and scheduling left to the tick thread).
  PresentationReport Report() const;
  // For tests: the picture the window is sent from.
  const StagePicture& picture() const { return picture_; }

 private:
  struct Stats {
    int presented = 0;
    int dropped = 0;
    double longest_gap_ms = 0;
  };
  bool StartD3D(std::vector<double>& intervals_ms, std::vector<double>& work_ms);
  void StopD3D();
  void SendGdi(HDC dc, const std::vector<Rect>& rects);
  bool PresentD3D(const std::vector<Rect>& rects, int64_t& shown_ns, bool& reported);
  void WaitForRefresh();
  double ReportedRefreshHz() const;
  void CountPresent(int64_t now_ns);
  void LoseD3D(const char* why);

  HWND window_ = nullptr;
  std::function<HWND()> remake_window_;
  StagePicture picture_;
  std::unique_ptr<D3DPresenter> d3d_;
  std::unique_ptr<DeadlineSleeper> wait_;
  ModeDecision decision_;
  bool in_run_ = false;
  bool pace_locked_ = false;
  int64_t anchor_ns_ = 0;
  int64_t period_ns_ = 16666667;
  LockWatch lock_watch_;
  int64_t lock_lost_ns_ = 0;
  int64_t last_present_ns_ = 0;
  int64_t last_send_ns_ = 0;
  bool last_stamp_reported_ = false;
  int64_t previous_present_ns_ = 0;
  bool have_last_present_ = false;
  int passes_since_present_ = 0;
  bool compare_next_ = false;
  Rect stage_rect_;
  Stats stats_;
  std::string statistics_note_;  // what GetFrameStatistics answered when the window was bound
  int statistics_frames_ = 0;    // locked frames timed by the frame statistics
  bool made_chain_ = false;      // a swap chain was made on the window bound
};

}  // namespace pyokoran
