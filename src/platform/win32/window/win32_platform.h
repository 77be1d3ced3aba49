// The platform over the Windows API: the program as it runs on Windows.
//
// Window messages reach the program's handlers only from the message loop, a modal loop
// (dialogs and message boxes) or PumpEvents. A message the system sends to a window at
// another moment (while the program is itself calling the system, or, under Wine, while it
// asks for a key's state) is held and delivered at the next PumpEvents, in order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/tick_thread.h"
#include "platform/win32/window/key_latch.h"
#include "platform/win32/window/windows_api.h"

namespace pyokoran {

class Win32Display;
class Win32Sound;
class GdiText;
class DeadlineSleeper;
struct PointerApi;

class Win32Platform : public Platform {
 public:
  explicit Win32Platform(HINSTANCE instance);
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

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
  void PresentChanged(const Surface& stage, const Rect& stage_rect,
                      const std::vector<Rect>& changed) override;
  void DrawText(Surface& surface, const Rect& rect, const std::string& text, int32_t height,
                uint32_t colour) override;
  void ShutdownDisplay() override;
  bool LastPresentTickUs(int64_t& tick_us) override;
  bool LastPresentSendUs(int64_t& send_us) override;
  bool LastPresentFailed() override;
  bool LastPresentStampReported() override;
  bool GetPresentationReport(PresentationReport& report) override;
  bool RunPresentationCheck(PresentationReport& report) override;
  bool TickClockAvailable() override;
  bool TickClockHasMsResolution() override;
  bool StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) override;
  void StopTickThread() override;
  bool TickClockNowUs(int64_t& tick_us) override;
  int64_t CurrentTime() override;
  void PlayWav(const std::vector<uint8_t>* wav) override;

  // For tests.
  HWND main_window() const { return main_; }
  HWND experiment_window() const { return experiment_; }
  // Input comes as pointer messages (the mouse too), not as mouse and WM_TOUCH messages.
  bool pointer_messages() const;
  Win32Display& display() { return *display_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK KeyMessageHook(int code, WPARAM wparam, LPARAM lparam);
  LRESULT MainMessage(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT ExperimentMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  bool RegisterWindowClass();
  HWND MakeExperimentWindow();
  // The experiment window again, for GDI after a flip-model swap chain.
  HWND RemakeExperimentWindow();
  // The window that owns modal windows now: the experiment window during a run.
  HWND Owner() const;
  // Runs a modal dialog or message box: keys held now do not act in it; the handlers may
  // run meanwhile.
  template <class F>
  auto Modal(F&& show) -> decltype(show());
  // Calls the experiment window's handler now (in the pump or a modal loop) or holds the
  // call for the next PumpEvents.
  void ToPointer(std::function<void(PointerHandler&)> call);
  // The arrival time of the input being handled, on the tick clock; false without a tick.
  bool ArrivalUs(int64_t& tick_us, uint64_t& counter);
  bool HandlePointer(HWND window, UINT message, WPARAM wparam);
  bool HandleTouch(HWND window, WPARAM wparam, LPARAM lparam);
  void NotePresentTime();
  void PaintMain();

  HINSTANCE instance_;
  HWND main_ = nullptr;
  // This copy's claim on its working folder: a named mutex, and the folder's hash as a
  // property of the main window, by which a second copy finds it.
  HANDLE folder_mutex_ = nullptr;
  uint64_t folder_hash_ = 0;
  HWND experiment_ = nullptr;
  HWND check_window_ = nullptr;  // the timing check's window
  MainWindowHandler* main_handler_ = nullptr;
  PointerHandler* pointer_handler_ = nullptr;
  std::wstring caption_line_;
  HFONT caption_font_ = nullptr;
  bool class_registered_ = false;
  bool main_destroyed_ = false;
  bool run_under_way_ = false;
  bool in_pump_ = false;
  int modal_depth_ = 0;
  bool remaking_ = false;  // the experiment window being replaced: its handler stays
  std::deque<std::function<void(PointerHandler&)>> held_;
  KeyLatch keys_;
  HHOOK key_hook_ = nullptr;
  std::unique_ptr<PointerApi> pointer_api_;
  bool touch_ready_ = false;       // a ready digitizer, for WM_TOUCH
  bool touch_registered_ = false;  // the experiment window takes WM_TOUCH now
  std::unique_ptr<Win32Display> display_;
  std::unique_ptr<GdiText> text_;
  std::unique_ptr<Win32Sound> sound_;
  std::unique_ptr<DeadlineSleeper> yield_wait_;
  TickThread tick_thread_;
  bool have_present_time_ = false;
  int64_t present_tick_us_ = 0;
  bool presented_run_ = false;
  int64_t lock_lost_tick_us_ = -1;
  int presses_timed_ = 0;    // presses of the run stamped with the input's own time
  int presses_arrival_ = 0;  // and with their arrival
};

}  // namespace pyokoran
