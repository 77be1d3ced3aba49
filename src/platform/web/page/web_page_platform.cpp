#include "platform/web/page/web_page_platform.h"

#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "display/full_screen_display.h"
#include "display/surface.h"
#include "platform/cp932.h"
#include "settings/condition_dialog.h"
#include "timing/browser_timing_check.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"

namespace pyokoran {
namespace {

WebPagePlatform* the_platform = nullptr;

// How long a frame may wait for the page's animation frame before it counts as not shown (a
// hidden tab gets no animation frames).
constexpr auto kMostFrameWait = std::chrono::milliseconds(1000);

int KeyIndex(int virtual_key) {
  if (virtual_key == VK_ESCAPE) return 0;
  if (virtual_key == VK_RETURN) return 1;
  return -1;
}

// Texts handed to the page: UTF-8 in the program's memory, read by the page at once.
const char* C(const std::string& text) { return text.c_str(); }

// The fields of the condition dialog as the page sends them back: each as its length in
// decimal, a colon, and its bytes.
std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (at < text.size()) {
    const size_t colon = text.find(':', at);
    if (colon == std::string::npos) break;
    const size_t length = std::strtoul(text.substr(at, colon - at).c_str(), nullptr, 10);
    if (colon + 1 + length > text.size()) break;
    fields.push_back(text.substr(colon + 1, length));
    at = colon + 1 + length;
  }
  return fields;
}

}  // namespace

WebPagePlatform::WebPagePlatform() { the_platform = this; }

WebPagePlatform::~WebPagePlatform() {
  tick_thread_.Stop();
  if (the_platform == this) the_platform = nullptr;
}

WebPagePlatform* WebPagePlatform::current() { return the_platform; }

// --- From the page ---------------------------------------------------------------------------

void WebPagePlatform::Queue(PageInput input) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(input));
  }
  changed_.notify_all();
}

void WebPagePlatform::Key(int virtual_key, bool down) {
  const int i = KeyIndex(virtual_key);
  if (i < 0) return;
  key_down_[i] = down;
  if (down) key_pressed_[i] = true;
}

void WebPagePlatform::Answer(int request, int code, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answered_request_ = request;
    answer_code_ = code;
    answer_text_ = std::move(text);
  }
  changed_.notify_all();
}

void WebPagePlatform::Presented(int sequence, double frame_ms, double interval_ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_sequence_ = sequence;
    shown_ms_ = frame_ms;
    shown_interval_ms_ = interval_ms;
  }
  changed_.notify_all();
}

void WebPagePlatform::Measured(int request, double median_ms, double sd_ms, int samples) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    measured_request_ = request;
    measured_median_ms_ = median_ms;
    measured_sd_ms_ = sd_ms;
    measured_samples_ = samples;
  }
  changed_.notify_all();
}

int WebPagePlatform::WaitAnswer(int request, std::string* text) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return answered_request_ == request; });
  if (text) *text = std::move(answer_text_);
  return answer_code_;
}

// --- Windows ---------------------------------------------------------------------------------

ScreenSize WebPagePlatform::GetScreenSize() {
  const int width = MAIN_THREAD_EM_ASM_INT({ return PyokoranPage.screenWidth(); });
  const int height = MAIN_THREAD_EM_ASM_INT({ return PyokoranPage.screenHeight(); });
  return {width, height};
}

bool WebPagePlatform::CreateMainWindow(const std::string& title, const std::string& caption_line,
                                       MainWindowHandler& handler) {
  main_ = &handler;
  main_destroyed_ = false;
  // (The page reads the program's memory through this module's view of it, which follows the
  // memory as it grows.)
  MAIN_THREAD_EM_ASM(
      {
        PyokoranPage.heapU8 = function() { return HEAPU8; };
        PyokoranPage.showMainWindow(UTF8ToString($0), UTF8ToString($1));
      },
      C(title), C(caption_line));
  return true;
}

void WebPagePlatform::RestoreMainWindow() {
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.restoreMainWindow(); });
}

void WebPagePlatform::CloseMainWindow() { DestroyMainWindow(); }

void WebPagePlatform::DestroyMainWindow() {
  if (main_destroyed_) return;
  main_destroyed_ = true;
  MainWindowHandler* handler = main_;
  main_ = nullptr;
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.mainWindowClosed(); });
  if (handler) handler->OnDestroy();
}

int WebPagePlatform::RunMessageLoop() {
  while (!main_destroyed_) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !inbox_.empty(); });
    }
    PumpEvents();
    if (after_command_ && !main_destroyed_) after_command_();
  }
  return 0;
}

bool WebPagePlatform::CreateExperimentWindow(PointerHandler& handler) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Input of an earlier window is not this one's.
    std::erase_if(inbox_, [](const PageInput& i) { return i.kind != PageInput::Kind::Command &&
                                                          i.kind != PageInput::Kind::MainClick &&
                                                          i.kind != PageInput::Kind::MainKey; });
  }
  experiment_ = &handler;
  presented_run_ = false;
  // The canvas over the whole page; the page measures its animation frames meanwhile.
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.showExperimentWindow($0); }, request);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(2000), [&] { return measured_request_ == request; });
  run_report_ = PresentationReport{};
  run_report_.mode = "browser";
  run_report_.reason = "the page's animation frames; the browser reports no flip time and no refresh lock";
  run_report_.flip_source = "requestAnimationFrame time of the frame that drew it (no flip time)";
  run_report_.event_clock = "the events' timeStamp (performance.now of the page)";
  run_report_.tick_scheduling = DescribeTickScheduling({});
  refresh_hz_ = 60;
  if (measured_request_ == request && measured_samples_ > 0 && measured_median_ms_ > 0) {
    refresh_hz_ = 1000.0 / measured_median_ms_;
    run_report_.swap_samples = measured_samples_;
    run_report_.swap_median_ms = measured_median_ms_;
    run_report_.swap_sd_ms = measured_sd_ms_;
    run_report_.swap_mean_ms = measured_median_ms_;
  }
  run_report_.reported_hz = run_report_.refresh_hz = refresh_hz_;
  run_report_.present_every = PresentEvery(refresh_hz_);
  run_report_.rise_ms = RiseTimeMs(refresh_hz_ / run_report_.present_every);
  last_frame_ms_ = 0;
  return true;
}

void WebPagePlatform::DestroyExperimentWindow() {
  PointerHandler* handler = experiment_;
  experiment_ = nullptr;
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.hideExperimentWindow(); });
  if (handler) handler->OnCloseOrDestroy();
}

// --- Dialogs ---------------------------------------------------------------------------------

void WebPagePlatform::ShowMessage(const std::string& text, const std::string& caption,
                                  MessageIcon icon) {
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.message($0, UTF8ToString($1), UTF8ToString($2), $3, 0); },
                           request, C(text), C(caption), int(icon));
  WaitAnswer(request, nullptr);
}

bool WebPagePlatform::AskRetry(const std::string& text, const std::string& caption) {
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.message($0, UTF8ToString($1), UTF8ToString($2), 2, 1); },
                           request, C(text), C(caption));
  return WaitAnswer(request, nullptr) == IDOK;
}

void WebPagePlatform::ShowAboutBox(const AboutBoxContent& content) {
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.about($0, UTF8ToString($1), UTF8ToString($2)); }, request,
                           C(content.version), C(content.working_folder));
  WaitAnswer(request, nullptr);
}

int WebPagePlatform::ShowConditionDialog(CSubject& dialog) {
  // The controls as the desktop dialogs fill them; the subject from code page 932.
  const ConditionControls shown = dialog.ToControls();
  std::string subject;
  Cp932ToUtf8(shown.subject, subject);
  // In the order of the page's fields: subject, holes, targets, distractors, time limit,
  // exposure, pause minimum and maximum, seed.
  const std::string* numbers[] = {&shown.holes,    &shown.targets,  &shown.distractors,
                                  &shown.time_limit, &shown.duration, &shown.isi1,
                                  &shown.isi2,     &shown.seed};
  std::string fields = std::to_string(subject.size()) + ":" + subject;
  for (const std::string* n : numbers) fields += std::to_string(n->size()) + ":" + *n;
  int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.conditionDialog($0, UTF8ToString($1), $2); }, request,
                           C(fields), shown.ordered ? 1 : 0);
  // (The page reads the message after this call has gone on to wait: it lives as long.)
  std::string problem;
  for (;;) {
    std::string text;
    if (WaitAnswer(request, &text) != IDOK) return IDCANCEL;
    const std::vector<std::string> got = SplitFields(text);
    if (got.size() != 10) return IDCANCEL;
    ConditionControls controls;
    problem.clear();
    int failed = 0;
    // A subject left as shown keeps its bytes; a typed one must be code page 932.
    if (got[0] == subject) {
      controls.subject = shown.subject;
    } else if (!Utf8ToCp932(got[0], controls.subject)) {
      problem = "Subject ID に使えない文字が含まれています。\n"
                "シフトJIS（コードページ 932）で表せる文字で入力してください。";
      failed = IDC_SUBJECT;
    }
    if (failed == 0) {
      controls.holes = got[1];
      controls.targets = got[2];
      controls.distractors = got[3];
      controls.time_limit = got[4];
      controls.duration = got[5];
      controls.isi1 = got[6];
      controls.isi2 = got[7];
      controls.seed = got[8];
      controls.ordered = got[9] == "1";
      failed = dialog.FromControls(controls);
      if (failed == 0) {
        MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.conditionClosed(); });
        return IDOK;
      }
      problem = dialog.FieldMessage(failed);
    }
    // The message over the dialog; the field then gets the focus with its text selected.
    request = NextRequest();
    MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.conditionProblem($0, UTF8ToString($1), $2); }, request,
                             C(problem), failed);
  }
}

void WebPagePlatform::ShowResultDialog(const ResultDialogContent& content) {
  std::string lines;
  for (const std::string& line : content.lines) lines += line + '\n';
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.ranking($0, UTF8ToString($1), UTF8ToString($2), $3); },
                           request, C(lines), C(content.summary), content.selected);
  WaitAnswer(request, nullptr);
}

// --- Events and keys -------------------------------------------------------------------------

bool WebPagePlatform::PageTimeToTick(double time_ms, int64_t& tick_us) const {
  if (time_ms <= 0) return false;
  return tick_thread_.TickClockUs(int64_t(std::llround(time_ms * 1e6)), tick_us);
}

namespace {

bool MainWindowInput(PageInput::Kind kind) {
  return kind == PageInput::Kind::Command || kind == PageInput::Kind::MainClick ||
         kind == PageInput::Kind::MainKey || kind == PageInput::Kind::CheckTiming;
}

}  // namespace

bool WebPagePlatform::TakeInput(PageInput& input, bool experiment_only) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto next = inbox_.begin();
  if (experiment_only) {
    next = std::find_if(inbox_.begin(), inbox_.end(),
                        [](const PageInput& i) { return !MainWindowInput(i.kind); });
  }
  if (next == inbox_.end()) return false;
  input = std::move(*next);
  inbox_.erase(next);
  return true;
}

void WebPagePlatform::PumpEvents() {
  PageInput input;
  // (The timing check's window lets the main window's input wait for the main window.)
  while (TakeInput(input, checking_)) Deliver(input);
}

void WebPagePlatform::Deliver(PageInput& input) {
  using Kind = PageInput::Kind;
  switch (input.kind) {
    case Kind::Command:
      if (main_) main_->OnCommand(input.value);
      break;
    case Kind::MainClick:
      if (main_) main_->OnLeftButtonDown();
      break;
    case Kind::MainKey:
      if (main_) main_->OnKeyDown(input.value);
      break;
    case Kind::CheckTiming:
      if (main_ && !experiment_) RunTimingCheck();
      break;
    default: {
      if (!experiment_) break;
      PointerHandler& h = *experiment_;
      int64_t tick_us;
      const bool timed = input.kind == Kind::ButtonDown || input.kind == Kind::ButtonUp ||
                         input.kind == Kind::Touch;
      if (timed) {
        if (PageTimeToTick(input.time_ms, tick_us)) {
          h.OnEventTime(tick_us, EventTimeSource::Event);
        } else if (TickClockNowUs(tick_us)) {
          h.OnEventTime(tick_us, EventTimeSource::Arrival);
        }
      }
      const MouseButton button = input.value == 2 ? MouseButton::Right : MouseButton::Left;
      switch (input.kind) {
        case Kind::ButtonDown: h.OnButtonDown(button, input.x, input.y); break;
        case Kind::ButtonUp: h.OnButtonUp(button); break;
        case Kind::MouseMove: h.OnMouseMove(input.x, input.y, input.value != 0); break;
        case Kind::Touch: h.OnTouch(input.contacts); break;
        case Kind::Activate: h.OnActivate(input.value != 0); break;
        case Kind::Close: h.OnCloseOrDestroy(); break;
        default: break;
      }
    }
  }
}

void WebPagePlatform::YieldSlice() { sched_yield(); }

bool WebPagePlatform::KeyActive(int virtual_key) {
  const int i = KeyIndex(virtual_key);
  if (i < 0) return false;
  const bool pressed = key_pressed_[i].exchange(false);
  return pressed || key_down_[i];
}

// --- The timing check ---------------------------------------------------------------------

namespace {

// The check's window: each press's delay from its time to the program's pump.
class TimedPresses : public NoPointer {
 public:
  explicit TimedPresses(WebPagePlatform& platform) : platform_(platform) {}
  void OnEventTime(int64_t tick_us, EventTimeSource source) override {
    event_us_ = source == EventTimeSource::Event ? tick_us : -1;
  }
  void OnButtonDown(MouseButton, int32_t, int32_t) override { Note(); }
  void OnTouch(const std::vector<TouchContact>& contacts) override {
    // A touch counts where a finger went down: the first event of a contact.
    if (contacts.size() > contacts_) Note();
    contacts_ = 0;
    for (const TouchContact& c : contacts) {
      if (!c.up) ++contacts_;
    }
  }
  std::vector<double> delays_ms;

 private:
  void Note() {
    int64_t now_us;
    if (event_us_ >= 0 && platform_.TickClockNowUs(now_us)) {
      delays_ms.push_back(double(std::max<int64_t>(now_us - event_us_, 0)) / 1000.0);
    }
    event_us_ = -1;
  }
  WebPagePlatform& platform_;
  int64_t event_us_ = -1;
  size_t contacts_ = 0;
};

constexpr auto kTimingCheckLength = std::chrono::milliseconds(3000);

}  // namespace

void WebPagePlatform::PageDelay(double delay_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (checking_ && std::isfinite(delay_ms)) page_delays_ms_.push_back(std::max(delay_ms, 0.0));
}

void WebPagePlatform::RunTimingCheck() {
  BrowserTimingFigures figures;
  figures.headless = MAIN_THREAD_EM_ASM_INT({ return PyokoranPage.headless() ? 1 : 0; }) != 0;
  TimedPresses presses(*this);
  std::atomic<int32_t> tick{0};
  const bool ticking = tick_thread_.Start(tick, nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    checking_ = true;
    page_delays_ms_.clear();
  }
  CreateExperimentWindow(presses);
  figures.present_every = run_report_.present_every;
  const ScreenSize screen = GetScreenSize();
  Surface stage(kStageWidth, kStageHeight);
  const Rect rect = FitStage(screen.width, screen.height);  // as a run fits its stage
  const auto start = std::chrono::steady_clock::now();
  double last_ms = 0;
  KeyActive(VK_ESCAPE);  // (a press from before the check is not its end)
  for (int frame = 0; std::chrono::steady_clock::now() - start < kTimingCheckLength; ++frame) {
    DrawCheckPattern(stage, frame);
    Present(stage, rect);
    if (!last_present_failed_) {
      if (last_ms > 0) figures.frame_intervals_ms.push_back(last_frame_ms_ - last_ms);
      last_ms = last_frame_ms_;
    }
    PumpEvents();
    if (KeyActive(VK_ESCAPE)) break;  // as in a run
  }
  DestroyExperimentWindow();
  RestoreMainWindow();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    checking_ = false;
    figures.page_delays_ms = std::move(page_delays_ms_);
    page_delays_ms_.clear();
  }
  figures.pump_delays_ms = std::move(presses.delays_ms);
  figures.tick_lag_ms = ticking ? double(tick_thread_.largest_lag_ns()) / 1e6 : 1e9;
  figures.tick_scheduling = ticking ? DescribeTickScheduling({}) : "tick thread: not started";
  if (ticking) tick_thread_.Stop();
  const TimingVerdict verdict = JudgeBrowserTimingCheck(figures);
  std::fputs(verdict.text.c_str(), stdout);
  std::fflush(stdout);
  const int request = NextRequest();
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.timingReport($0, UTF8ToString($1)); }, request,
                           C(verdict.text));
  WaitAnswer(request, nullptr);
}

// --- Display ---------------------------------------------------------------------------------

void WebPagePlatform::Present(const Surface& stage, const Rect& stage_rect) {
  last_present_failed_ = true;
  have_present_time_ = false;
  if (!experiment_ || stage.width <= 0 || stage.height <= 0 ||
      stage.pixels.size() != size_t(stage.width) * size_t(stage.height)) {
    return;
  }
  rgba_.resize(stage.pixels.size() * 4);
  uint8_t* out = rgba_.data();
  for (uint32_t p : stage.pixels) {
    *out++ = uint8_t(p >> 16);
    *out++ = uint8_t(p >> 8);
    *out++ = uint8_t(p);
    *out++ = 255;
  }
  const int sequence = ++sequence_;
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.present($0, $1, $2, $3, $4, $5, $6, $7, $8); }, rgba_.data(),
                           stage.width, stage.height, stage_rect.left, stage_rect.top,
                           stage_rect.right, stage_rect.bottom, sequence, run_report_.present_every);
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, kMostFrameWait, [&] { return shown_sequence_ >= sequence; })) return;
  const double frame_ms = shown_ms_;
  const double interval_ms = shown_interval_ms_;
  lock.unlock();
  last_present_failed_ = false;
  have_present_time_ = PageTimeToTick(frame_ms, present_tick_us_);
  presented_run_ = true;
  ++run_report_.frames;
  if (last_frame_ms_ > 0) {
    const double gap = frame_ms - last_frame_ms_;
    const double frame = run_report_.present_every * 1000.0 / refresh_hz_;
    if (gap > 1.5 * frame) ++run_report_.dropped;
    run_report_.longest_interval_ms = std::max(run_report_.longest_interval_ms, gap);
  }
  (void)interval_ms;
  last_frame_ms_ = frame_ms;
}

bool WebPagePlatform::LastPresentTickUs(int64_t& tick_us) {
  if (!have_present_time_ || last_present_failed_) return false;
  tick_us = present_tick_us_;
  return true;
}

bool WebPagePlatform::GetPresentationReport(PresentationReport& report) {
  if (!presented_run_) return false;
  report = run_report_;
  report.tick_lag_ms = double(tick_thread_.largest_lag_ns()) / 1e6;
  return true;
}

void WebPagePlatform::DrawText(Surface& surface, const Rect& rect, const std::string& text,
                               int32_t height, uint32_t colour) {
  const int32_t x0 = std::max(rect.left, 0), x1 = std::min(rect.right, surface.width);
  const int32_t y0 = std::max(rect.top, 0), y1 = std::min(rect.bottom, surface.height);
  if (x1 <= x0 || y1 <= y0 || surface.pixels.size() != size_t(surface.width) * size_t(surface.height)) {
    return;
  }
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  std::vector<uint8_t> alpha(size_t(w) * size_t(h));
  // The text's coverage, drawn on this thread's own canvas (a worker has no page to draw in).
  const int drawn = EM_ASM_INT(
      {
        if (typeof OffscreenCanvas !== "function") return 0;
        var w = $0;
        var h = $1;
        var canvas = new OffscreenCanvas(w, h);
        var g = canvas.getContext("2d");
        if (!g) return 0;
        g.font = $2 + 'px "Hiragino Sans", "Hiragino Kaku Gothic ProN", "Noto Sans CJK JP", "Yu Gothic", "Meiryo", sans-serif';
        g.textAlign = "center";
        g.textBaseline = "middle";
        g.fillStyle = "#fff";
        g.fillText(UTF8ToString($3), w / 2, h / 2);
        var data = g.getImageData(0, 0, w, h).data;
        var out = $4;
        for (var i = 0; i < w * h; ++i) HEAPU8[out + i] = data[4 * i + 3];
        return 1;
      },
      w, h, std::clamp(height, 1, 1000), C(text), alpha.data());
  if (!drawn) return;
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* row = surface.row(y);
    const uint8_t* a = alpha.data() + size_t(y - rect.top) * size_t(w);
    for (int32_t x = x0; x < x1; ++x) {
      const uint32_t k = a[x - rect.left];
      if (k == 0) continue;
      const uint32_t p = row[x];
      const uint32_t pr = (p >> 16) & 0xFF, pg = (p >> 8) & 0xFF, pb = p & 0xFF;
      const uint32_t nr = (r * k + pr * (255 - k)) / 255;
      const uint32_t ng = (g * k + pg * (255 - k)) / 255;
      const uint32_t nb = (b * k + pb * (255 - k)) / 255;
      row[x] = (nr << 16) | (ng << 8) | nb;
    }
  }
}

// --- Time and sound ----------------------------------------------------------------------------

bool WebPagePlatform::StartTickThread(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  return tick_thread_.Start(tick, hook);
}

bool WebPagePlatform::TickClockNowUs(int64_t& tick_us) {
  return tick_thread_.TickClockUs(TickThread::MonotonicNs(), tick_us);
}

int64_t WebPagePlatform::CurrentTime() { return int64_t(std::time(nullptr)); }

void WebPagePlatform::PlayWav(const std::vector<uint8_t>* wav) {
  // A copy of its own for the page, which frees it once it has read it.
  uint8_t* copy = nullptr;
  size_t size = 0;
  if (wav && !wav->empty()) {
    size = wav->size();
    copy = static_cast<uint8_t*>(std::malloc(size));
    if (copy) std::memcpy(copy, wav->data(), size);
  }
  MAIN_THREAD_ASYNC_EM_ASM({ PyokoranPage.play($0, $1); }, copy, copy ? int(size) : 0);
}

}  // namespace pyokoran

// --- What the page calls (on its own thread) ----------------------------------------------------

using pyokoran::PageInput;
using pyokoran::WebPagePlatform;

extern "C" {

EMSCRIPTEN_KEEPALIVE void pyokoran_page_input(int kind, int value, int x, int y, double time_ms) {
  WebPagePlatform* p = WebPagePlatform::current();
  if (!p || kind < 0 || kind > int(PageInput::Kind::CheckTiming)) return;
  PageInput input;
  input.kind = PageInput::Kind(kind);
  input.value = value;
  input.x = x;
  input.y = y;
  input.time_ms = time_ms;
  p->Queue(std::move(input));
}

// A touch event: each of its contacts in the order the browser reported them, then its end.
// Both only on the page's thread, one event after the other.
std::vector<pyokoran::TouchContact> page_touch_contacts;

EMSCRIPTEN_KEEPALIVE void pyokoran_page_touch_contact(int x, int y, int lifted) {
  page_touch_contacts.push_back({x, y, lifted != 0});
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_touch_end(double time_ms) {
  PageInput input;
  input.kind = PageInput::Kind::Touch;
  input.time_ms = time_ms;
  input.contacts = std::move(page_touch_contacts);
  page_touch_contacts.clear();
  if (WebPagePlatform* p = WebPagePlatform::current()) p->Queue(std::move(input));
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_key(int virtual_key, int down) {
  if (WebPagePlatform* p = WebPagePlatform::current()) p->Key(virtual_key, down != 0);
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_answer(int request, int code, const char* text) {
  if (WebPagePlatform* p = WebPagePlatform::current()) p->Answer(request, code, text ? text : "");
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_presented(int sequence, double frame_ms, double interval_ms) {
  if (WebPagePlatform* p = WebPagePlatform::current()) p->Presented(sequence, frame_ms, interval_ms);
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_input_delay(double delay_ms) {
  if (WebPagePlatform* p = WebPagePlatform::current()) p->PageDelay(delay_ms);
}

EMSCRIPTEN_KEEPALIVE void pyokoran_page_measured(int request, double median_ms, double sd_ms, int samples) {
  if (WebPagePlatform* p = WebPagePlatform::current()) p->Measured(request, median_ms, sd_ms, samples);
}

}  // extern "C"
