#include "platform/fake/fake_platform.h"

#include "app/program.h"
#include "timing/present_mode.h"

namespace pyokoran {

void FakePlatform::SetKeyDown(int virtual_key, bool down) {
  KeyState& k = keys_[virtual_key];
  if (down && !k.down) k.pressed = true;
  k.down = down;
}

void FakePlatform::PressKey(int virtual_key) {
  keys_[virtual_key].pressed = true;
}

void FakePlatform::ArriveAt(int32_t tick, std::function<void()> event) {
  auto at = scheduled_.begin();
  while (at != scheduled_.end() && at->first <= tick) ++at;
  scheduled_.insert(at, {tick, std::move(event)});
}

void FakePlatform::DeliverArrived() {
  std::vector<std::pair<int32_t, std::function<void()>>> events;
  events.swap(arrived_);
  for (auto& [tick, event] : events) {
    // The event's own time: the tick at which it arrived, exactly.
    if (pointer_) pointer_->OnEventTime(int64_t(tick) * 1000, EventTimeSource::Event);
    event();
  }
}

bool FakePlatform::TickClockNowUs(int64_t& tick_us) {
  if (!tick_) return false;
  // As the real clock: what the tick would read had it kept up, the fraction from virtual time.
  tick_us = (int64_t(tick_->load(std::memory_order_relaxed)) + behind_ms_) * 1000 +
            virtual_us_ % 1000;
  return true;
}

void FakePlatform::AdvanceMs(int32_t ms) {
  if (tick_ && ms > 0) AdvanceToUs(virtual_us_ + int64_t(ms) * 1000);
}

void FakePlatform::AdvanceToUs(int64_t target_us) {
  while (tick_ && virtual_us_ / 1000 < target_us / 1000) {
    virtual_us_ = (virtual_us_ / 1000 + 1) * 1000;
    MillisecondPassed();
  }
  if (tick_) virtual_us_ = std::max(virtual_us_, target_us);
}

void FakePlatform::MillisecondPassed() {
  const int32_t tick = tick_->load(std::memory_order_relaxed);
  if (stall_left_ms_ > 0) {
    --stall_left_ms_;
    ++behind_ms_;
  } else {
    // The thread wakes: every elapsed millisecond is added, one at a time.
    for (int32_t k = 0; k <= behind_ms_; ++k) {
      tick_->store(tick + k + 1, std::memory_order_relaxed);
      if (hook_) hook_(tick + k + 1);
    }
    behind_ms_ = 0;
  }
  const int32_t clock_ms = tick_->load(std::memory_order_relaxed) + behind_ms_;
  while (!scheduled_.empty() && scheduled_.front().first <= clock_ms) {
    arrived_.push_back(std::move(scheduled_.front()));
    scheduled_.pop_front();
  }
}

ScreenSize FakePlatform::GetScreenSize() { return screen; }

bool FakePlatform::CreateMainWindow(const std::string& t, const std::string& caption,
                                    MainWindowHandler& handler) {
  calls.push_back("CreateMainWindow");
  if (!main_window_ok) return false;
  title = t;
  caption_line = caption;
  main_handler_ = &handler;
  main_window_open = true;
  return true;
}

void FakePlatform::RestoreMainWindow() { calls.push_back("RestoreMainWindow"); }

void FakePlatform::CloseMainWindow() {
  calls.push_back("CloseMainWindow");
  DestroyMainWindow();
}

void FakePlatform::DestroyMainWindow() {
  if (!main_handler_) return;
  calls.push_back("DestroyMainWindow");
  MainWindowHandler* handler = main_handler_;
  main_handler_ = nullptr;
  main_window_open = false;
  handler->OnDestroy();
}

int FakePlatform::RunMessageLoop() {
  calls.push_back("RunMessageLoop");
  while (main_handler_ && !main_window_actions.empty()) {
    auto action = std::move(main_window_actions.front());
    main_window_actions.pop_front();
    action(*main_handler_);
  }
  if (main_handler_) CloseMainWindow();
  return 0;
}

bool FakePlatform::CreateExperimentWindow(PointerHandler& handler) {
  calls.push_back("CreateExperimentWindow");
  pointer_ = &handler;
  experiment_window_open = true;
  handler.OnActivate(true);
  return true;
}

void FakePlatform::DestroyExperimentWindow() {
  calls.push_back("DestroyExperimentWindow");
  if (pointer_) pointer_->OnCloseOrDestroy();
  pointer_ = nullptr;
  experiment_window_open = false;
}

void FakePlatform::ShowMessage(const std::string& text, const std::string& caption,
                               MessageIcon icon) {
  calls.push_back("ShowMessage");
  messages.push_back({text, caption, icon});
  if (on_message) on_message(text, caption);
}

bool FakePlatform::AskRetry(const std::string& text, const std::string& caption) {
  calls.push_back("AskRetry");
  messages.push_back({text, caption, MessageIcon::Exclamation, true});
  if (on_message) on_message(text, caption);
  if (retry_answers.empty()) return false;
  const bool retry = retry_answers.front();
  retry_answers.pop_front();
  return retry;
}

void FakePlatform::ShowAboutBox(const AboutBoxContent& content) {
  calls.push_back("ShowAboutBox");
  ++about_boxes;
  about_box = content;
}

int FakePlatform::ShowConditionDialog(CSubject& dialog) {
  calls.push_back("ShowConditionDialog");
  ConditionControls controls = dialog.ToControls();
  dialogs_opened.push_back(controls);
  for (;;) {
    if (dialog_answers.empty()) return IDCANCEL;
    DialogAnswer answer = std::move(dialog_answers.front());
    dialog_answers.pop_front();
    if (!answer.ok) return IDCANCEL;
    if (answer.edit) answer.edit(controls);
    int failed = dialog.FromControls(controls);
    if (failed == 0) return IDOK;
    // The field's message; the dialog stays open with what was typed.
    ShowMessage(dialog.FieldMessage(failed), kApplicationTitle, MessageIcon::Exclamation);
    dialog_number_fields.push_back(failed);
  }
}

void FakePlatform::ShowResultDialog(const ResultDialogContent& content) {
  calls.push_back("ShowResultDialog");
  result_dialogs.push_back(content);
}

void FakePlatform::PumpEvents() {
  DeliverArrived();
  if (on_pump) on_pump();
}

void FakePlatform::YieldSlice() { AdvanceMs(yield_ms); }

bool FakePlatform::KeyActive(int virtual_key) {
  if (key_query_delivers) DeliverArrived();
  if (on_key_query) on_key_query(virtual_key);
  KeyState& k = keys_[virtual_key];
  bool active = k.down || k.pressed;
  k.pressed = false;
  return active;
}

bool FakePlatform::InitDisplay() {
  calls.push_back("InitDisplay");
  return display_ok;
}

void FakePlatform::BindPresentWindow(WindowId window) {
  calls.push_back(window == WindowId::Main ? "BindPresentWindow(Main)"
                                           : "BindPresentWindow(Experiment)");
  present_window = window;
  if (window == WindowId::Experiment) {
    run_frames_ = 0;
    last_present_tick_us_ = -1;
  }
}

void FakePlatform::Present(const Surface& stage, const Rect& stage_rect) {
  last_present_failed_ = presents_fail;
  if (presents_fail) {
    last_present_tick_us_ = -1;  // as a hidden window's: returns at once, nothing shown
    return;
  }
  ++frames_presented;
  if (keep_frames) last_frame = stage;
  last_stage_rect = stage_rect;
  if (refresh_hz > 0 && tick_ && whole_ms_refresh) {
    const int64_t period_us = 1000000 / refresh_hz;
    const int64_t next_us = (virtual_us_ / period_us + 1) * period_us;
    while (tick_ && virtual_us_ + 1000 <= next_us) {
      virtual_us_ += 1000;
      MillisecondPassed();
    }
    virtual_us_ = next_us;
  } else if (refresh_hz > 0 && tick_) {
    // Wait for the next refresh of the virtual display on which a frame may be shown: refresh
    // k begins at k / refresh_hz seconds, rounded up to the microsecond.
    const int64_t every = PresentEvery(refresh_hz);
    const int64_t k = (virtual_us_ * refresh_hz / 1000000 / every + 1) * every;
    AdvanceToUs((k * 1000000 + refresh_hz - 1) / refresh_hz);
  }
  ++run_frames_;
  // The tick clock: whole milliseconds from the tick, the fraction from virtual time.
  if (tick_) last_present_tick_us_ = int64_t(tick_->load()) * 1000 + virtual_us_ % 1000;
}

bool FakePlatform::LastPresentCompletion(FrameCompletion& completion, bool& dropped) {
  if (!report_completions || last_present_failed_ || !tick_ || last_present_tick_us_ < 0) return false;
  const int64_t period_us = refresh_hz > 0 ? 1000000 / refresh_hz : 16667;
  completion = FrameCompletion{uint64_t(virtual_us_), uint64_t(virtual_us_ / period_us), CompletionMode::Flip};
  dropped = false;
  return true;
}

bool FakePlatform::LastPresentTickUs(int64_t& tick_us) {
  if (!tick_ || last_present_tick_us_ < 0) return false;
  tick_us = last_present_tick_us_;
  return true;
}

bool FakePlatform::GetPresentationReport(PresentationReport& report) {
  report = PresentationReport{};
  report.mode = presentation_mode;
  report.reason = "scripted display";
  report.reported_hz = report.refresh_hz = refresh_hz;
  report.present_every = PresentEvery(refresh_hz);
  report.frames = run_frames_;
  report.flip_source = frame_times;
  report.rise_ms = RiseTimeMs(double(refresh_hz) / report.present_every);
  report.event_clock = "scripted";
  return true;
}

void FakePlatform::DrawText(Surface&, const Rect&, const std::string& text, int32_t,
                            uint32_t) {
  drawn_texts.push_back(text);
}

void FakePlatform::ShutdownDisplay() { calls.push_back("ShutdownDisplay"); }

bool FakePlatform::TickClockAvailable() { return tick_clock_available; }

bool FakePlatform::TickClockHasMsResolution() { return clock_has_ms_resolution; }

bool FakePlatform::StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  calls.push_back("StartTickThread");
  if (!tick_thread_ok) return false;
  tick_ = &tick;
  hook_ = hook;
  virtual_us_ = 0;
  stall_left_ms_ = behind_ms_ = 0;
  return true;
}

void FakePlatform::StopTickThread() {
  if (tick_) calls.push_back("StopTickThread");
  tick_ = nullptr;
  hook_ = nullptr;
}

int64_t FakePlatform::CurrentTime() { return now_seconds; }

void FakePlatform::PlayWav(const std::vector<uint8_t>* wav) {
  ++sounds_played;
  last_sound = wav;
}

}  // namespace pyokoran
