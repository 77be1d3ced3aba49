#include "timing/timing_files.h"

#include <algorithm>
#include <vector>

#include "app/program.h"
#include "platform/cp932.h"
#include "results/result_files.h"

namespace pyokoran {

namespace {

constexpr const char* kTimingHeader =
    "Subject,Date,Time,Trial,ShowTick,FirstFrame,Onset,FullyUp,Press,RT,OnsetRT,TickLagMs,"
    "PressSource,RiseMs,Over,Computer\n";
constexpr const char* kFramesHeader = "Subject,Date,Time,Frame,FrameTime,Msc,Completion,Dropped\n";
constexpr const char* kTimingSummaryHeader =
    "Subject\tDate\tTime\tMode\tRefreshHz\tRefreshSD\tFrames\tDropped\tLongestMs\tTickLagMs\t"
    "Reason\tFrameTimes\tPresentEvery\tRiseMs\tLockLostMs\tUnlockedFrames\tEventClock\t"
    "ArrivalPresses\tOnsetOver\tRiseOver\tBookingLate\tComputer\n";

// Microseconds on the tick clock as milliseconds with three decimals; nothing when unknown.
void AppendMs(std::string& out, int64_t us) {
  if (us == kNoTime) return;
  const char* sign = us < 0 ? "-" : "";
  const uint64_t magnitude = us < 0 ? uint64_t(0) - uint64_t(us) : uint64_t(us);
  AppendF(out, "%s%llu.%03llu", sign, static_cast<unsigned long long>(magnitude / 1000),
          static_cast<unsigned long long>(magnitude % 1000));
}

// This computer's name as the files carry it: code page 932 where it converts, without the
// separators of either file or line breaks.
std::string ComputerField(const std::string& utf8) {
  std::string name;
  if (!Utf8ToCp932(utf8, name)) name = utf8;
  for (char& c : name) {
    if (c == ',' || c == '\t' || c == '\n' || c == '\r' || c == '"') c = '_';
  }
  return name;
}

constexpr int64_t kBookingSlackUs = 2000;

// Which of a row's figures lie beyond what the run's presentation promises, against its
// refresh interval, frame interval and rise (all in microseconds; 0 = not known).
struct RowBounds {
  int64_t refresh_us = 0;
  int64_t frame_us = 0;
  int64_t rise_us = 0;
};
struct RowExcess {
  bool onset = false;    // not stamped by the display system, and sending took over a refresh
  bool rise = false;     // rose more than two frames slower than the run's rise
  bool booking = false;  // booked later after the press (or the first frame) than a frame allows
};
RowExcess ExcessOf(const TrialRecord& r, const AppearanceTiming& t, const RowBounds& b) {
  RowExcess e;
  if (b.refresh_us > 0 && t.onset_us != kNoTime && !t.onset_reported &&
      t.onset_send_us != kNoTime) {
    e.onset = t.onset_send_us > b.refresh_us;
  }
  if (b.rise_us > 0 && t.first_frame_us != kNoTime && t.fully_up_us != kNoTime) {
    e.rise = t.fully_up_us - t.first_frame_us > b.rise_us + 2 * b.frame_us;
  }
  if (b.frame_us > 0 && r.Resp != 0 && t.press_us != kNoTime) {
    // A press held before the creature came up can be booked no sooner than its first frame.
    const int64_t from = t.first_frame_us != kNoTime ? std::max(t.press_us, t.first_frame_us)
                                                     : t.press_us;
    // A press waits at most one present for the next delivery, then the loop's yield and the
    // tick's millisecond.
    e.booking = int64_t(r.TotalRT) * 1000 - from > b.frame_us + kBookingSlackUs;
  }
  return e;
}

}  // namespace

std::string TimingFileName(const std::string& subject) {
  std::string name = AppearanceFileName(subject);
  if (name.size() < 4) return {};
  return name.substr(0, name.size() - 4) + "_timing.csv";
}

std::string FramesFileName(const std::string& subject) {
  std::string name = AppearanceFileName(subject);
  if (name.size() < 4) return {};
  return name.substr(0, name.size() - 4) + "_frames.csv";
}

void AppendTimingParts(Program& program, const Stamp& stamp, std::vector<FilePart>& parts) {
  const ExperimentSettings& s = program.settings;
  const std::string computer = ComputerField(program.platform.ComputerName());

  PresentationReport report;
  if (!program.platform.GetPresentationReport(report)) report.mode = "unknown";
  RowBounds bounds;
  if (report.refresh_hz > 0) {
    bounds.refresh_us = int64_t(1e6 / report.refresh_hz);
    bounds.frame_us = int64_t(1e6 * std::max(report.present_every, 1) / report.refresh_hz);
  }
  if (report.rise_ms > 0) bounds.rise_us = int64_t(report.rise_ms * 1000);
  int arrival_presses = 0, onset_over = 0, rise_over = 0, booking_late = 0;

  // One row per logged appearance, in log order.
  const TrialLog& log = program.scheduler.log;
  const int32_t count = std::clamp(log.count, 0, kLogCapacity);
  const std::string start = LineStart(s.subject, stamp, ',');
  std::string rows;
  rows.reserve(size_t(count) * (start.size() + 64));
  for (int32_t i = 0; i < count; ++i) {
    const TrialRecord& r = log.records[i];
    const AppearanceTiming& t = program.timing.rows[i];
    rows += start;
    AppendFields(rows, {i + 1, t.shown_at}, ',');
    AppendMs(rows, t.first_frame_us);
    rows += ',';
    AppendMs(rows, t.onset_us);
    rows += ',';
    AppendMs(rows, t.fully_up_us);
    rows += ',';
    const bool pressed = r.Resp != 0 && t.press_us != kNoTime;
    if (pressed) AppendMs(rows, t.press_us);
    rows += ',';
    if (r.Resp != 0) AppendF(rows, "%d", r.RT);
    rows += ',';
    if (pressed && t.onset_us != kNoTime) AppendMs(rows, t.press_us - t.onset_us);
    rows += ',';
    AppendMs(rows, t.tick_lag_us);
    rows += ',';
    if (pressed) {
      rows += t.press_from_event ? "event" : "arrival";
      if (!t.press_from_event) ++arrival_presses;
    }
    rows += ',';
    if (t.first_frame_us != kNoTime && t.fully_up_us != kNoTime) {
      AppendMs(rows, t.fully_up_us - t.first_frame_us);
    }
    rows += ',';
    const RowExcess e = ExcessOf(r, t, bounds);
    onset_over += e.onset;
    rise_over += e.rise;
    booking_late += e.booking;
    bool first_flag = true;
    for (const auto& [flag, word] : {std::pair{e.onset, "onset"}, {e.rise, "rise"}, {e.booking, "booking"}}) {
      if (!flag) continue;
      if (!first_flag) rows += ' ';
      rows += word;
      first_flag = false;
    }
    rows += ',';
    rows += computer;
    rows += '\n';
  }
  const std::string name = TimingFileName(s.subject);
  parts.push_back({name.empty() ? s.subject + "_timing.csv" : name, kTimingHeader, std::move(rows)});

  // Every frame as the display system reported it, where it did.
  const std::vector<FrameRow>& frames = program.timing.frame_rows;
  if (!frames.empty()) {
    std::string text;
    text.reserve(frames.size() * (start.size() + 40));
    for (const FrameRow& f : frames) {
      text += start;
      AppendFields(text, {f.frame}, ',');
      AppendMs(text, f.time_us);
      AppendF(text, ",%llu,%s,%d\n", static_cast<unsigned long long>(f.completion.msc),
              CompletionModeName(f.completion.mode), f.dropped ? 1 : 0);
    }
    const std::string frames_name = FramesFileName(s.subject);
    parts.push_back({frames_name.empty() ? s.subject + "_frames.csv" : frames_name, kFramesHeader,
                     std::move(text)});
  }

  // The run's line: how its frames reached the screen.
  std::string line = LineStart(s.subject, stamp, '\t');
  AppendF(line, "%s\t%.3f\t", report.mode.c_str(), report.refresh_hz);
  if (report.swap_samples > 0) AppendF(line, "%.3f", report.swap_sd_ms);
  AppendF(line, "\t%d\t%d\t%.3f\t%.3f\t", report.frames, report.dropped,
          report.longest_interval_ms, report.tick_lag_ms);
  // Free text without tabs or line breaks, so that the line stays one row.
  auto text = [](std::string t) {
    for (char& c : t) {
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return t;
  };
  // Texts of any length: appended whole, never through a formatted buffer.
  line += text(report.reason);
  line += '\t';
  line += text(report.flip_source);
  AppendF(line, "\t%d\t", report.present_every);
  if (report.rise_ms > 0) AppendF(line, "%.1f", report.rise_ms);
  line += '\t';
  if (report.lock_lost_ms >= 0) AppendF(line, "%.3f", report.lock_lost_ms);
  AppendF(line, "\t%d\t", report.unlocked_frames);
  line += text(report.event_clock);
  AppendF(line, "\t%d\t%d\t%d\t%d\t", arrival_presses, onset_over, rise_over, booking_late);
  line += computer;
  line += '\n';
  parts.push_back({kTimingSummaryFileName, kTimingSummaryHeader, std::move(line)});
}

}  // namespace pyokoran
