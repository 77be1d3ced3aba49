// A scripted platform for tests and headless tools: answers message boxes and dialogs from a
// script and records what was shown, injects key states and pointer events, runs a virtual
// millisecond clock, and keeps presented frames in memory. No thread, no window, no sound.
#pragma once

#include <atomic>
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "display/surface.h"
#include "platform/platform.h"
#include "settings/condition_dialog.h"

namespace pyokoran {

class FakePlatform : public Platform {
 public:
  // ---- Script ---------------------------------------------------------------------------
  ScreenSize screen{1920, 1080};
  bool main_window_ok = true;
  bool display_ok = true;
  bool tick_clock_available = true;
  bool clock_has_ms_resolution = true;
  bool tick_thread_ok = true;
  int64_t now_seconds = 1399435509;  // calendar time answered by CurrentTime

  // One answer to the condition dialog: OK after edit has changed the controls, or Cancel.
  // With no answer left the dialog is cancelled.
  struct DialogAnswer {
    bool ok = true;
    std::function<void(ConditionControls&)> edit;
  };
  std::deque<DialogAnswer> dialog_answers;

  // Run one after the other by RunMessageLoop, as if the user did them in the main window;
  // the loop then closes the window if nothing did.
  std::deque<std::function<void(MainWindowHandler&)>> main_window_actions;

  // Called at every PumpEvents, ShowMessage and Present, for tests that act at a moment.
  std::function<void()> on_pump;
  std::function<void(const std::string& text, const std::string& caption)> on_message;
  // Called at every KeyActive before the key is looked at, for tests that change keys while
  // a loop polls them.
  std::function<void(int virtual_key)> on_key_query;

  // Input that arrives at a virtual tick, while a yield or a present lets time pass, and
  // waits in the queue for the next PumpEvents, which delivers it before on_pump, telling
  // the experiment window's handler that tick as the event's time.
  void ArriveAt(int32_t tick, std::function<void()> event);
  // Delivers arrived input at every KeyActive as well, as a platform whose key query pumps
  // events would (a fault: a press arriving in a present is booked with an earlier tick).
  bool key_query_delivers = false;

  // Virtual time: each YieldSlice advances the tick by yield_ms; each Present advances it to
  // the refresh on which the frame is shown, of a display running at refresh_hz (0 = presents
  // take no time). As the real program does, a frame stays on screen for PresentEvery
  // (refresh_hz) refreshes, so that frames come at 60 Hz on displays at multiples of it. The
  // tick counts every millisecond of virtual time, presents' included.
  int32_t yield_ms = 1;
  int32_t refresh_hz = 60;
  // Presents wait whole milliseconds of the tick only, up to the refresh, and drop the rest
  // of its interval (so at 60 Hz the tick sees a frame every 16 ms, and PresentEvery is 1):
  // how scripted runs used to be paced. Runs recorded that way are replayed with it.
  bool whole_ms_refresh = false;
  // The mode the presentation report gives ("fallback", "locked", "locked-forced").
  std::string presentation_mode = "fallback";
  // Where the report says frame times came from.
  std::string frame_times = "scripted";
  // Whether Present keeps a copy of the frame in last_frame (a simulation looks at none).
  bool keep_frames = true;
  // While set, presents fail (the window hidden, the picture not sent): no frame is counted,
  // the screen keeps what it had, and LastPresentFailed says so.
  bool presents_fail = false;
  // What LastPresentSendUs answers for every frame that went out; -1: the platform cannot tell.
  int64_t present_send_us = -1;
  // Whether presents report their completion as a display system would: flipped, on the
  // virtual display's refresh (counted from the tick thread's start), at its time.
  bool report_completions = false;
  // AskRetry's answers in turn (true = 再試行); no when none is left.
  std::deque<bool> retry_answers;
  // What UserDataFolder and ComputerName answer.
  std::string user_data_folder;
  std::string computer_name;

  // ---- Record ---------------------------------------------------------------------------
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    bool retry = false;  // asked with 再試行 and 中止
  };
  std::vector<Message> messages;
  std::vector<ConditionControls> dialogs_opened;  // the controls as each dialog opened
  std::vector<int> dialog_number_fields;  // the field each field message was about
  std::vector<ResultDialogContent> result_dialogs;
  std::vector<std::string> calls;  // window and display calls, in order
  std::vector<std::string> drawn_texts;
  int about_boxes = 0;
  AboutBoxContent about_box;  // what the last About box showed
  int frames_presented = 0;
  Surface last_frame;
  Rect last_stage_rect;
  int sounds_played = 0;
  const std::vector<uint8_t>* last_sound = nullptr;
  bool main_window_open = false;
  bool experiment_window_open = false;
  WindowId present_window = WindowId::Main;

  // ---- Test controls --------------------------------------------------------------------
  void SetKeyDown(int virtual_key, bool down);
  void PressKey(int virtual_key);  // pressed and released: active at the next query only
  // Adds ms to the virtual tick (only while the tick thread runs), calling the hook per ms.
  void AdvanceMs(int32_t ms);
  // Stalls the tick thread: the next ms milliseconds of virtual time pass on the clock (input
  // arrives by the clock) while the tick stands still; then it catches up at once.
  void StallTickMs(int32_t ms) { stall_left_ms_ = std::max(ms, 0); }
  bool tick_running() const { return tick_ != nullptr; }
  PointerHandler* pointer() { return pointer_; }
  MainWindowHandler* main_window() { return main_handler_; }

  // ---- Platform -------------------------------------------------------------------------
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
  // Recorded as a message (with retry set); answered from retry_answers, else no.
  bool AskRetry(const std::string& text, const std::string& caption) override;
  std::string UserDataFolder() override { return user_data_folder; }
  std::string ComputerName() override { return computer_name; }
  void ShowAboutBox(const AboutBoxContent& content) override;
  int ShowConditionDialog(CSubject& dialog) override;
  void ShowResultDialog(const ResultDialogContent& content) override;
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
  bool LastPresentTickUs(int64_t& tick_us) override;
  bool LastPresentFailed() override { return last_present_failed_; }
  bool LastPresentSendUs(int64_t& send_us) override {
    if (present_send_us < 0 || last_present_failed_) return false;
    send_us = present_send_us;
    return true;
  }
  bool LastPresentCompletion(FrameCompletion& completion, bool& dropped) override;
  bool TickClockNowUs(int64_t& tick_us) override;
  bool GetPresentationReport(PresentationReport& report) override;

  std::string title;
  std::string caption_line;

 private:
  struct KeyState {
    bool down = false;
    bool pressed = false;
  };
  std::map<int, KeyState> keys_;
  void DeliverArrived();
  // Moves virtual time on to target_us; the tick counts each millisecond passed.
  void AdvanceToUs(int64_t target_us);
  // The one millisecond of virtual time that ends at virtual_us_.
  void MillisecondPassed();
  std::deque<std::pair<int32_t, std::function<void()>>> scheduled_;  // by tick
  std::vector<std::pair<int32_t, std::function<void()>>> arrived_;  // with their tick
  std::atomic<int32_t>* tick_ = nullptr;
  void (*hook_)(int32_t) = nullptr;
  int64_t virtual_us_ = 0;  // time since the tick thread started, for refresh pacing
  int32_t stall_left_ms_ = 0;  // of a stall: milliseconds the tick still stands still
  int32_t behind_ms_ = 0;      // how far the stalled tick is behind the clock
  int64_t last_present_tick_us_ = -1;  // on the tick clock; -1 before the first
  bool last_present_failed_ = false;
  int run_frames_ = 0;                 // presented since the experiment window was bound
  MainWindowHandler* main_handler_ = nullptr;
  PointerHandler* pointer_ = nullptr;
};

}  // namespace pyokoran
