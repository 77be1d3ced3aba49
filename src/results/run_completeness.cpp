#include "results/run_completeness.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "results/folder_lock.h"
#include "results/result_files.h"
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
  std::string files;
  for (const std::string& name : run.missing) files += "[" + name + "]";
  return "記録 " + Utf8Name(run.subject) + " " + run.date + " " + run.time +
         " は書き込みの途中で終わったため、" + files + "にその行がありません。\n" +
         "このことを[" + kIncompleteRunsFileName + "]に記録しました。";
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

}  // namespace pyokoran
