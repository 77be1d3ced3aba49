#include "analysis/trial_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "platform/file_system.h"
#include "platform/number_text.h"
#include "platform/utf8_path.h"
#include "results/subject_id.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

constexpr const char* kNa = "NA";
// The timing record's columns carried into the trial file, by their names there.
constexpr const char* kTimingColumns[] = {"ShowTick", "FirstFrame", "Onset", "FullyUp", "Press", "TickLagMs",
                                          "PressSource", "Over"};
constexpr size_t kTimingCount = std::size(kTimingColumns);
// Of those, the ones that hold words, not numbers.
constexpr size_t kFirstTextColumn = 6;
constexpr size_t kFlushBytes = size_t(1) << 20;

std::vector<std::string_view> Split(std::string_view line, char sep) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(sep, start);
    fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// A cell as written: quoted where it holds a separator, a quote or a line break.
void AppendCell(std::string& out, std::string_view cell) {
  if (cell.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(cell);
    return;
  }
  out += '"';
  for (char ch : cell) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

// "," and the number.
void AppendInt(std::string& out, int32_t v) {
  char buffer[16];
  buffer[0] = ',';
  auto [p, ec] = std::to_chars(buffer + 1, buffer + sizeof buffer, v);
  out.append(buffer, p);
}

// A timing cell as a number, else NA (the record leaves cells empty where nothing happened).
void AppendNumber(std::string& out, std::string_view cell) {
  double v = 0;
  auto [p, ec] = DecimalFromChars(cell.data(), cell.data() + cell.size(), v);
  if (cell.empty() || ec != std::errc() || p != cell.data() + cell.size() || !std::isfinite(v)) out += kNa;
  else out.append(cell);
}

// A word cell of the timing record (letters and spaces only: anything else is not one), else
// NA; empty stays empty where that says something (an Over without flags), else NA (a row
// without a press has no PressSource).
void AppendWord(std::string& out, std::string_view cell, bool empty_is_na) {
  const bool word =
      std::all_of(cell.begin(), cell.end(), [](char ch) { return (ch >= 'a' && ch <= 'z') || ch == ' '; });
  if (word && !(empty_is_na && cell.empty())) out.append(cell);
  else out += kNa;
}

// The onset RT as the reader took it (ms with up to three decimals).
void AppendMs(std::string& out, double v) {
  char buffer[64];
  auto [p, ec] = FixedToChars(buffer, buffer + sizeof buffer, v, 3);
  if (ec != std::errc()) {
    out += kNa;
    return;
  }
  std::string_view s(buffer, size_t(p - buffer));
  while (s.back() == '0') s.remove_suffix(1);
  if (s.back() == '.') s.remove_suffix(1);
  out.append(s);
}

// One subject's timing record: its lines grouped by run (date and time), with the column of
// each name carried over.
class TimingRecord {
 public:
  TimingRecord(const std::string& folder, const std::string& subject) : file_(PathOf(folder, subject)) {
    if (!file_.opened()) return;
    const std::string_view bytes = file_.bytes();
    size_t start = 0;
    bool header = true;
    while (start < bytes.size()) {
      const size_t end = bytes.find('\n', start);
      if (end == std::string_view::npos) break;  // a torn last line is left out
      std::string_view line = bytes.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (header) {
        header = false;
        if (!ReadHeader(line)) return;
        continue;
      }
      std::vector<std::string_view> f;
      if (!Fields(line, subject, f)) continue;
      // Rows are numbered from 1 in each run: a number not beyond the one before starts the
      // next run of the same date and time (another computer's, in the same second).
      int32_t trial = 0;
      auto [p, ec] = std::from_chars(f[trial_].data(), f[trial_].data() + f[trial_].size(), trial);
      if (ec != std::errc()) trial = 0;
      const std::string key = Key(f[date_], f[time_]);
      std::vector<std::vector<std::string_view>>& blocks = runs_[key];
      if (blocks.empty() || key != last_key_ || trial <= last_trial_) blocks.emplace_back();
      blocks.back().push_back(line);  // kept as a line: split again when used
      last_key_ = key;
      last_trial_ = trial;
    }
  }

  // The fields of one run's lines, keyed by trial number (empty when the record has none);
  // occurrence tells runs of the same date and time apart by their order.
  std::unordered_map<int32_t, std::vector<std::string_view>> Run(const std::string& subject, const std::string& date,
                                                                const std::string& time, int32_t occurrence) const {
    std::unordered_map<int32_t, std::vector<std::string_view>> rows;
    auto it = runs_.find(Key(date, time));
    if (it == runs_.end() || occurrence < 0 || size_t(occurrence) >= it->second.size()) return rows;
    for (std::string_view line : it->second[size_t(occurrence)]) {
      std::vector<std::string_view> f;
      if (!Fields(line, subject, f)) continue;
      int32_t trial = 0;
      auto [p, ec] = std::from_chars(f[trial_].data(), f[trial_].data() + f[trial_].size(), trial);
      if (ec == std::errc() && p == f[trial_].data() + f[trial_].size()) rows.emplace(trial, std::move(f));
    }
    return rows;
  }
  // Index into a line of the named column, or -1 where the record lacks it.
  int Column(size_t k) const { return index_[k]; }

 private:
  // A line's fields, the subject's own first (it may hold commas: the surplus fields at the
  // front belong to it); false for a line of another subject or with too few fields.
  bool Fields(std::string_view line, const std::string& subject, std::vector<std::string_view>& f) const {
    f = Split(line, ',');
    if (f.size() < columns_) return false;
    // Lines appended by a later version under an older header carry columns of their own at
    // the end: the surplus is the subject's only as far as the date then stands there.
    size_t extra = f.size() - columns_;
    auto date_at = [&](size_t k) {
      const std::string_view d = f[date_ + k];
      return d.size() == 10 && d[4] == '/' && d[7] == '/';
    };
    while (extra > 0 && !date_at(extra)) --extra;
    const std::string_view who(f[0].data(), size_t(f[extra].data() + f[extra].size() - f[0].data()));
    if (who != subject) return false;
    f.erase(f.begin() + 1, f.begin() + 1 + ptrdiff_t(extra));
    f[0] = who;
    return true;
  }
  static std::string PathOf(const std::string& folder, const std::string& subject) {
    // Never a subject that would name more than a file here, never a file beyond the cap
    // every result file has.
    const std::string name = SubjectNamesOnlyAFile(subject) ? TimingFileName(subject) : std::string();
    if (name.empty()) return {};
    const std::filesystem::path path =
        (folder.empty() ? std::filesystem::path(".") : PathFromUtf8(folder)) / PathFromUtf8(name);
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) > kMaxResultFileBytes && !ec) return {};
    return Utf8FromPath(path);
  }
  static std::string Key(std::string_view date, std::string_view time) {
    std::string k(date);
    k += '\x1f';
    k.append(time);
    return k;
  }
  bool ReadHeader(std::string_view line) {
    const auto names = Split(line, ',');
    columns_ = names.size();
    int date = -1, time = -1, trial = -1;
    for (size_t c = 0; c < names.size(); ++c) {
      if (names[c] == "Date") date = int(c);
      else if (names[c] == "Time") time = int(c);
      else if (names[c] == "Trial") trial = int(c);
      for (size_t k = 0; k < kTimingCount; ++k) {
        if (names[c] == kTimingColumns[k]) index_[k] = int(c);
      }
    }
    if (names.empty() || names[0] != "Subject" || date < 0 || time < 0 || trial < 0) return false;
    date_ = size_t(date), time_ = size_t(time), trial_ = size_t(trial);
    return true;
  }

  MappedFile file_;
  size_t columns_ = 0, date_ = 0, time_ = 0, trial_ = 0;
  int index_[kTimingCount] = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::unordered_map<std::string, std::vector<std::vector<std::string_view>>> runs_;
  std::string last_key_;
  int32_t last_trial_ = 0;
};

}  // namespace

const std::vector<std::string>& TrialColumns() {
  static const std::vector<std::string> columns = {
      "RunId", "Subject", "Date", "Time", "Simulated", "TgtPokko", "DstPokko", "Holes", "Ordered",
      "Dur", "ISI_1", "ISI_2", "TmLimit", "RndSeed", "Trial", "Pokko", "Kind", "Hole", "Outcome",
      "RT", "TotalRT", "Anticipation", "OnsetRT", "ShowTick", "FirstFrame", "Onset", "FullyUp",
      "Press", "TickLagMs", "PressSource", "Over"};
  return columns;
}

bool WriteTrialsCsv(const Report& report, const std::string& path, std::string& error) {
  const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  // The file, then its schema beside it.
  return WriteReportStreamed(
      path,
      [&](const ReportSink& emit) {
        std::string out = "\xEF\xBB\xBF";
        const auto& names = TrialColumns();
        for (size_t i = 0; i < names.size(); ++i) {
          if (i) out += ',';
          out += names[i];
        }
        out += "\r\n";
        std::vector<size_t> order(report.subjects.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
          return report.subjects[a].subject_utf8 < report.subjects[b].subject_utf8;
        });
        const std::string simulated = report.results.simulated ? "1" : "0";
        for (size_t si : order) {
          const SubjectReport& s = report.subjects[si];
          const TimingRecord timing(report.folder, s.subject);
          for (size_t ri : s.runs) {
            const RunRecord& run = report.results.runs[ri];
            const auto timed = timing.Run(s.subject, run.date, run.time, run.occurrence);
            // The cells every row of the run shares.
            std::string head = std::to_string(run.run_id);
            head += ',';
            AppendCell(head, SpreadsheetText(run.subject_utf8));
            for (const std::string* t : {&run.date, &run.time, &simulated}) {
              head += ',';
              AppendCell(head, *t);
            }
            for (int32_t v : {run.TgtPokko, run.DstPokko, run.Holes, run.Ordered, run.Dur, run.ISI_1,
                              run.ISI_2, run.TmLimit, run.RndSeed})
              AppendInt(head, v);
            for (const AppearanceRow& r : run.rows) {
              out += head;
              AppendInt(out, r.Trial);
              AppendInt(out, r.Pokko);
              out += r.Tgt ? ",target" : ",distractor";
              AppendInt(out, r.Hole);
              out += r.Tgt ? (r.Resp ? ",Hit" : ",Miss") : (r.Resp ? ",FA" : ",CR");
              if (r.Resp) {
                AppendInt(out, r.RT);
                AppendInt(out, r.TotalRT);
                out += r.RT < report.options.anticipation_ms ? ",1," : ",0,";
              } else {
                out += ",NA,NA,NA,";
              }
              if (r.has_onset_rt()) AppendMs(out, r.onset_rt());
              else out += kNa;
              auto it = timed.find(r.Trial);
              for (size_t k = 0; k < kTimingCount; ++k) {
                out += ',';
                const int c = timing.Column(k);
                if (it == timed.end() || c < 0) out += kNa;
                else if (k < kFirstTextColumn) AppendNumber(out, it->second[size_t(c)]);
                else AppendWord(out, it->second[size_t(c)], std::string_view(kTimingColumns[k]) == "PressSource");
              }
              out += "\r\n";
              if (out.size() >= kFlushBytes) {
                if (!emit(out)) return false;
                out.clear();
              }
            }
          }
        }
        return emit(out);
      },
      error) &&
         WriteReportFile(SchemaPathFor(path), TableSchemaJson(TrialColumns(), "pyokoran trials", name, true), error);
}

}  // namespace pyokoran
