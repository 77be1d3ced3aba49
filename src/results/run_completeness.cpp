#include "results/run_completeness.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "app/message_text.h"
#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "results/folder_lock.h"
#include "results/result_files.h"
#include "results/subject_id.h"
#include "run/scheduler.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

// How long the start waits for another program writing into the folder before it leaves
// the check for the next start.
constexpr int kStartCheckWaitMs = 3000;
constexpr const char* kIncompleteHeader = "Subject\tDate\tTime\tMissing\n";
// Enough for a run's longest rows: 4999 of them with the longest subject.
constexpr int64_t kTailBytes = int64_t(4) << 20;

// The complete lines (CR LF cut off) in the last kTailBytes of a file; a torn last line is
// left out. False when the file cannot be read.
bool TailLines(const std::string& name, std::vector<std::string>& lines) {
  lines.clear();
  const int fd = OpenRegularFile(name.c_str(), O_RDONLY);
  if (fd < 0) return false;
  FileStatus info;
  bool ok = StatusOf(fd, info);
  const int64_t from = ok ? std::max<int64_t>(0, info.size - kTailBytes) : 0;
  std::string bytes(ok ? size_t(info.size - from) : 0, '\0');
  ok = ok && ReadAt(fd, bytes.data(), bytes.size(), from) == int64_t(bytes.size());
  close(fd);
  if (!ok) return false;
  const size_t end = bytes.rfind('\n');
  if (end == std::string::npos) return true;
  size_t start = from == 0 ? 0 : bytes.find('\n') + 1;  // the first line may be cut
  while (start <= end) {
    const size_t lf = bytes.find('\n', start);
    size_t stop = lf;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.emplace_back(bytes, start, stop - start);
    start = lf + 1;
  }
  return true;
}

bool Exists(const std::string& name) {
  return KindOfPath(name, true) != PathKind::kMissing;
}

// Lines that start with prefix (a run's key), wherever they stand: runs of several programs
// sharing the folder may follow each other in any order.
int32_t CountWithKey(const std::vector<std::string>& lines, const std::string& prefix) {
  int32_t n = 0;
  for (const std::string& line : lines) n += line.compare(0, prefix.size(), prefix) == 0;
  return n;
}

std::string Utf8Name(const std::string& cp932) {
  std::string name;
  if (!Cp932ToUtf8(cp932, name)) name = cp932;
  return name;
}

}  // namespace

bool FindIncompleteLastRun(IncompleteRun& run) {
  run = IncompleteRun{};
  std::vector<std::string> summary;
  if (!TailLines(kSummaryFileName, summary) || summary.size() < 2) return false;
  // Subject, date, time and fourteen numbers; tabs beyond them belong to the subject.
  std::vector<std::string_view> fields;
  std::string_view line = summary.back();
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  if (fields.size() < 17) return false;
  const size_t n = fields.size();
  run.subject = std::string(line.substr(0, size_t(fields[n - 16].data() - line.data()) - 1));
  run.date = std::string(fields[n - 16]);
  run.time = std::string(fields[n - 15]);
  int64_t decided = 0;
  for (size_t i = n - 5; i < n - 1; ++i) decided += std::strtol(std::string(fields[i]).c_str(), nullptr, 10);
  const int32_t rows = int32_t(std::clamp<int64_t>(decided, 0, kLogCountLimit));

  // A subject that would name a path (another folder, a server) is never looked up.
  if (!SubjectNamesOnlyAFile(run.subject)) return false;
  const std::string appearance = AppearanceFileName(run.subject);
  const std::string timing = TimingFileName(run.subject);
  // A summary line with no file of the run beside it is taken for one copied or written by
  // hand (the report flags its missing rows); a run of this program leaves at least one.
  if (appearance.empty() || (!Exists(appearance) && !Exists(kTimingSummaryFileName))) return false;
  const std::string comma = run.subject + "," + run.date + "," + run.time + ",";
  std::vector<std::string> lines;
  if (rows > 0 && (!TailLines(appearance, lines) || CountWithKey(lines, comma) < rows)) {
    run.missing.push_back(Utf8Name(appearance));
  }
  // Timing records exist from a later version on: a folder without them lacks nothing.
  if (Exists(kTimingSummaryFileName)) {
    if (rows > 0 && (!TailLines(timing, lines) || CountWithKey(lines, comma) < rows)) {
      run.missing.push_back(Utf8Name(timing));
    }
    const std::string tab = run.subject + "\t" + run.date + "\t" + run.time + "\t";
    if (!TailLines(kTimingSummaryFileName, lines) || CountWithKey(lines, tab) < 1) {
      run.missing.push_back(kTimingSummaryFileName);
    }
  }
  return !run.missing.empty();
}

bool RecordIncompleteRun(const IncompleteRun& run) {
  std::string line = run.subject + "\t" + run.date + "\t" + run.time;
  for (const std::string& name : run.missing) {
    std::string cp932;
    line += "\t" + (Utf8ToCp932(name, cp932) ? cp932 : name);
  }
  return AppendToResultFile(kIncompleteRunsFileName, kIncompleteHeader, line + "\n").written;
}

std::string IncompleteRunMessage(const IncompleteRun& run) {
  std::string text = "記録 " + Utf8Name(run.subject) + " " + run.date + " " + run.time +
                     " は書き込みの途中で終わったため、次のファイルにその行がありません。";
  for (const std::string& name : run.missing) text = NamingFile(text, name);
  return NamingFile(text, "このことを次のファイルに記録しました。", kIncompleteRunsFileName);
}

bool CheckLastRunAtStart(IncompleteRun& run) {
  // Under the folder's lock: a run another program is writing is whole before it is looked at.
  const ResultFolderLock lock(true, kStartCheckWaitMs);
  if (!lock.may_go_on() || !FindIncompleteLastRun(run)) return false;
  // Told once: the record's last line names it already.
  std::vector<std::string> recorded;
  const std::string key = run.subject + "\t" + run.date + "\t" + run.time + "\t";
  if (TailLines(kIncompleteRunsFileName, recorded) && CountWithKey(recorded, key) > 0) return false;
  RecordIncompleteRun(run);
  return true;
}

namespace {

// Files beyond this are not looked through at start (the report reads at most as much).
constexpr int64_t kMaxScanBytes = int64_t(1) << 30;

// Each complete line of a file (CR LF cut off) to fn, read block by block; false when the file
// cannot be read or is larger than the scan allows.
template <typename Fn>
bool ForEachLine(const char* name, Fn&& fn) {
  const int fd = OpenRegularFile(name, O_RDONLY);
  if (fd < 0) return false;
  FileStatus info;
  bool ok = StatusOf(fd, info) && info.size <= kMaxScanBytes;
  std::string block(size_t(1) << 18, '\0'), line;
  for (int64_t at = 0; ok;) {
    const int64_t n = ReadAt(fd, block.data(), block.size(), at);
    if (n < 0) ok = false;
    if (n <= 0) break;
    at += n;
    for (size_t start = 0; start < size_t(n);) {
      const size_t lf = block.find('\n', start);
      if (lf >= size_t(n)) {
        line.append(block, start, size_t(n) - start);
        break;
      }
      line.append(block, start, lf - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      fn(std::string_view(line));
      line.clear();
      start = lf + 1;
    }
  }
  close(fd);
  return ok;
}

// "Subject\tDate\tTime" of a line whose first three fields they are (the timing summary, the
// record); empty when it has fewer.
std::string_view LeadingKey(std::string_view line) {
  const size_t t1 = line.find('\t');
  const size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
  if (t2 == std::string_view::npos) return {};
  return line.substr(0, std::min(line.find('\t', t2 + 1), line.size()));
}

}  // namespace

bool CheckRunsWithoutTimingLineAtStart(std::vector<IncompleteRun>& runs, size_t& more) {
  runs.clear();
  more = 0;
  // The runs the timing summary has, and the date and time it began at.
  std::unordered_set<std::string> timed, recorded;
  std::string began;
  bool header = true;
  if (!ForEachLine(kTimingSummaryFileName, [&](std::string_view line) {
        if (std::exchange(header, false)) return;
        const std::string_view key = LeadingKey(line);
        if (key.empty()) return;
        const size_t t1 = key.find('\t');
        const std::string when(key.substr(t1 + 1));
        if (began.empty() || when < began) began = when;
        timed.emplace(key);
      }) ||
      began.empty())
    return false;
  ForEachLine(kIncompleteRunsFileName, [&](std::string_view line) {
    if (const std::string_view key = LeadingKey(line); !key.empty()) recorded.emplace(key);
  });
  // Every summarised run since then that lacks its line and has not been told.
  // The record's text is code page 932, its file names too.
  std::string lines, file;
  if (!Utf8ToCp932(kTimingSummaryFileName, file)) file = kTimingSummaryFileName;
  header = true;
  ForEachLine(kSummaryFileName, [&](std::string_view line) {
    if (std::exchange(header, false)) return;
    // Subject, date, time and fourteen numbers; tabs beyond them belong to the subject.
    size_t tabs = 0, end = line.size();
    for (; tabs < 14 && end > 0; --end) tabs += line[end - 1] == '\t';
    if (tabs < 14) return;
    const std::string_view key = line.substr(0, end);  // "Subject\tDate\tTime"
    const size_t time_tab = key.rfind('\t');
    const size_t date_tab = time_tab == std::string_view::npos || time_tab == 0 ? std::string_view::npos
                                                                               : key.rfind('\t', time_tab - 1);
    if (date_tab == std::string_view::npos) return;
    if (std::string(key.substr(date_tab + 1)) < began) return;  // before timing records began
    const std::string k(key);
    if (timed.count(k) || !recorded.insert(k).second) return;
    lines += k + "\t" + file + "\n";
    if (runs.size() < kMaxToldRuns) {
      IncompleteRun run;
      run.subject = std::string(key.substr(0, date_tab));
      run.date = std::string(key.substr(date_tab + 1, time_tab - date_tab - 1));
      run.time = std::string(key.substr(time_tab + 1));
      run.missing = {kTimingSummaryFileName};
      runs.push_back(std::move(run));
    } else {
      ++more;
    }
  });
  if (lines.empty()) return false;
  // Told once: all of them recorded in one append.
  AppendToResultFile(kIncompleteRunsFileName, kIncompleteHeader, lines);
  return true;
}

std::string RunsWithoutTimingLineMessage(const std::vector<IncompleteRun>& runs, size_t more) {
  std::string list;
  for (const IncompleteRun& run : runs) list += "  " + Utf8Name(run.subject) + " " + run.date + " " + run.time + "\n";
  if (more > 0) list += "  ほか " + std::to_string(more) + " 件\n";
  const std::string head = std::to_string(runs.size() + more) + " 件の記録は書き込みの途中で終わったため、次のファイルにその行がありません。";
  return NamingFile(NamingFile(head, kTimingSummaryFileName, list) + "このことを次のファイルに記録しました。",
                    kIncompleteRunsFileName);
}

}  // namespace pyokoran
