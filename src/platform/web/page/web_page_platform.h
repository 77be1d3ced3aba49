// The program in a browser page. The program (its whole user-interface thread: message loop,
// dialogs, runs) runs on a worker of the page, where it may block as on the desktop; the page
// (web/task.js) does what only the page can: the canvas, presenting on its animation frames,
// input, HTML dialogs, sound and the storage. Requests go to the page as asynchronous calls on
// its thread; what the page has to tell (input, answers of dialogs, frames shown) it hands to
// the functions at the end of this file, which queue it: the experiment window's handlers see
// input only when the trial loop pumps events.
//
// Times: input events carry their timeStamp and frames the time of the animation frame that
// drew them, both as performance.timeOrigin + performance.now() of the page, in ms, which is
// the monotonic clock the tick thread runs on (platform/web/tick_clock.cpp).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/tick_thread.h"

namespace pyokoran {

// One thing the page reported, queued until the program's thread delivers it.
struct PageInput {
  enum class Kind {
    Command, MainClick, MainKey, ButtonDown, ButtonUp, MouseMove, Touch, Activate, Close,
    CheckTiming,  // the page's menu: the timing check, served where the main window is
  };
  Kind kind = Kind::Command;
  int value = 0;  // the command, key, button (0 left, 2 right), held state or activation
  int32_t x = 0, y = 0;
  double time_ms = 0;  // the event's time on the page's clock; 0 = none
  std::vector<TouchContact> contacts;
};

class WebPagePlatform : public Platform {
 public:
  WebPagePlatform();
  ~WebPagePlatform() override;

  // Called after every command the main window served (the page has no reliable end: a tab
  // may be closed at any time).
  void SetAfterCommand(std::function<void()> after) { after_command_ = std::move(after); }

  // --- From the page (its thread) ---
  void Queue(PageInput input);
  void Key(int virtual_key, bool down);
  void Answer(int request, int code, std::string text);
  void Presented(int sequence, double frame_ms, double interval_ms);
  void Measured(int request, double median_ms, double sd_ms, int samples);
  // A press's delay from its timeStamp to the page's handler (kept during the timing check).
  void PageDelay(double delay_ms);

  ScreenSize GetScreenSize() override;
  bool CreateMainWindow(const std::string& title, const std::string& caption_line,
                        MainWindowHandler& handler) override;
  void RestoreMainWindow() override;
  void CloseMainWindow() override;
  void DestroyMainWindow() override;
  int RunMessageLoop() override;
  bool CreateExperimentWindow(PointerHandler& handler) override;
  void DestroyExperimentWindow() override;

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool AskRetry(const std::string& text, const std::string& caption) override;
  std::string ComputerName() override { return {}; }
  void ShowAboutBox(const AboutBoxContent& content) override;
  int ShowConditionDialog(CSubject& dialog) override;
  void ShowResultDialog(const ResultDialogContent& content) override;

  void PumpEvents() override;
  void YieldSlice() override;
  bool KeyActive(int virtual_key) override;

  bool InitDisplay() override { return true; }
  void BindPresentWindow(WindowId window) override { bound_ = window; }
  void Present(const Surface& stage, const Rect& stage_rect) override;
  void DrawText(Surface& surface, const Rect& rect, const std::string& text, int32_t height,
                uint32_t colour) override;
  void ShutdownDisplay() override {}
  bool LastPresentTickUs(int64_t& tick_us) override;
  bool LastPresentFailed() override { return last_present_failed_; }
  bool GetPresentationReport(PresentationReport& report) override;

  bool TickClockAvailable() override { return TickThread::ClockAvailable(); }
  bool TickClockHasMsResolution() override { return TickThread::ClockHasMsResolution(); }
  bool StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) override;
  void StopTickThread() override { tick_thread_.Stop(); }
  bool TickClockNowUs(int64_t& tick_us) override;
  int64_t CurrentTime() override;

  void PlayWav(const std::vector<uint8_t>* wav) override;

  // The platform the page's functions talk to (one per program).
  static WebPagePlatform* current();

 private:
  // Waits for the page's answer to request; its code, and its text in text.
  int WaitAnswer(int request, std::string* text);
  int NextRequest() { return ++request_; }
  bool PageTimeToTick(double time_ms, int64_t& tick_us) const;
  // The next input waiting (experiment_only: only the experiment window's); false when none.
  bool TakeInput(PageInput& input, bool experiment_only);
  void Deliver(PageInput& input);
  // The timing check: the pattern on the page's frames for a few seconds, the presses made
  // meanwhile timed; the report shown and printed.
  void RunTimingCheck();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PageInput> inbox_;
  int answered_request_ = 0;
  int answer_code_ = 0;
  std::string answer_text_;
  int shown_sequence_ = 0;
  double shown_ms_ = 0;
  double shown_interval_ms_ = 0;
  int measured_request_ = 0;
  double measured_median_ms_ = 0, measured_sd_ms_ = 0;
  int measured_samples_ = 0;
  bool checking_ = false;               // the timing check runs
  std::vector<double> page_delays_ms_;  // its presses, timeStamp to the page's handler

  // Escape and Return: down now, and pressed since the last query.
  std::atomic<bool> key_down_[2] = {false, false};
  std::atomic<bool> key_pressed_[2] = {false, false};

  int request_ = 0;
  MainWindowHandler* main_ = nullptr;
  PointerHandler* experiment_ = nullptr;
  bool main_destroyed_ = false;
  WindowId bound_ = WindowId::Main;
  std::function<void()> after_command_;

  std::vector<uint8_t> rgba_;  // the frame the page draws next, red green blue alpha
  int sequence_ = 0;
  bool last_present_failed_ = false;
  bool have_present_time_ = false;
  int64_t present_tick_us_ = 0;

  // The run's frames.
  bool presented_run_ = false;
  PresentationReport run_report_;
  double refresh_hz_ = 60;
  double last_frame_ms_ = 0;

  TickThread tick_thread_;
};

}  // namespace pyokoran
