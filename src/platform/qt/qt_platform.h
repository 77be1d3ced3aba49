// The platform over Qt 6 Widgets and SDL2 audio: the one the real program runs on.
#pragma once

#include <functional>
#include <memory>

#include <QLocalServer>
#include <QLockFile>

#include "platform/platform.h"
#include "platform/tick_thread.h"
#include "timing/event_clock.h"

class QApplication;
class QObject;
class QWidget;

namespace pyokoran {

class QtMainWindow;
class QtDisplay;
class QtExperimentWindow;
class SdlSound;
class KeyTracker;

class QtPlatform : public Platform {
 public:
  // Creates the QApplication; argc and argv must outlive the platform.
  QtPlatform(int& argc, char** argv);
  ~QtPlatform() override;

  ScreenSize GetScreenSize() override;
  bool CreateMainWindow(const std::string& title, const std::string& caption_line,
                        MainWindowHandler& handler) override;
  void RestoreMainWindow() override;
  void CloseMainWindow() override;
  void DestroyMainWindow() override;
  int RunMessageLoop() override;
  bool CreateExperimentWindow(PointerHandler& handler) override;
  void DestroyExperimentWindow() override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   MessageIcon icon) override;
  bool AskRetry(const std::string& text, const std::string& caption) override;
  std::string UserDataFolder() override;
  std::string ComputerName() override;
  bool ClaimWorkingFolder(const std::string& folder) override;
  void ShowAboutBox(const AboutBoxContent& content) override;
  int ShowConditionDialog(CSubject& dialog) override;
  void ShowResultDialog(const ResultDialogContent& content) override;
  void ShowReport() override;
  void PumpEvents() override;
  void YieldSlice() override;
  bool KeyActive(int virtual_key) override;
  bool InitDisplay() override;
  void BindPresentWindow(WindowId window) override;
  void Present(const Surface& stage, const Rect& stage_rect) override;
  void DrawText(Surface& surface, const Rect& rect, const std::string& text, int32_t height,
                uint32_t colour) override;
  void ShutdownDisplay() override;
  bool TickClockAvailable() override;
  bool TickClockHasMsResolution() override;
  bool StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) override;
  void StopTickThread() override;
  int64_t CurrentTime() override;
  void PlayWav(const std::vector<uint8_t>* wav) override;
  void PresentChanged(const Surface& stage, const Rect& stage_rect,
                      const std::vector<Rect>& changed) override;
  bool LastPresentTickUs(int64_t& tick_us) override;
  bool LastPresentSendUs(int64_t& send_us) override;
  bool LastPresentFailed() override;
  bool LastPresentCompletion(FrameCompletion& completion, bool& dropped) override;
  bool TickClockNowUs(int64_t& tick_us) override {
    return tick_thread_.TickClockUs(TickThread::MonotonicNs(), tick_us);
  }
  bool GetPresentationReport(PresentationReport& report) override;
  bool RunPresentationCheck(PresentationReport& report) override;

  // For benchmarks: a CLOCK_MONOTONIC time (ns) on the tick clock (us), while the tick
  // thread runs.
  bool TickClockUsAt(int64_t monotonic_ns, int64_t& tick_us) const {
    return tick_thread_.TickClockUs(monotonic_ns, tick_us);
  }

  // What ShowReport opens, given the main window as parent; set by the program (the report
  // window lives outside the platform layer).
  void SetReportOpener(std::function<void(QWidget* parent)> opener) { report_opener_ = std::move(opener); }

  // For widget tests.
  QtMainWindow* main_window() { return main_window_.get(); }
  QtExperimentWindow* experiment_window() { return experiment_window_.get(); }
  QtDisplay* display() { return display_.get(); }
  KeyTracker& keys() { return *keys_; }

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<KeyTracker> keys_;
  std::unique_ptr<QtMainWindow> main_window_;
  std::unique_ptr<QtExperimentWindow> experiment_window_;
  std::unique_ptr<QtDisplay> display_;
  std::unique_ptr<SdlSound> sound_;
  TickThread tick_thread_;
  // The last present's time on the tick clock, taken when it was made.
  bool have_present_time_ = false;
  int64_t present_tick_us_ = 0;
  // Round trips to the X server before a run: how its event times are mapped.
  void CheckEventClock();
  bool presented_run_ = false;  // a run has bound the experiment window
  int64_t lock_lost_tick_us_ = -1;  // when the run's lock was lost, on the tick clock
  EventClock event_clock_;      // input events' own times onto the tick clock
  void NotePresentTime();
  std::function<void(QWidget*)> report_opener_;
  // This copy's claim on its working folder, and where a second copy asks it to the front.
  std::unique_ptr<QLockFile> folder_claim_;
  std::unique_ptr<QLocalServer> front_server_;
};

}  // namespace pyokoran
