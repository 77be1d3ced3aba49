#include "results/result_files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>
#include <vector>

#include "app/program.h"
#include "display/surfaces.h"
#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "results/run_completeness.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

constexpr const char* kSummaryHeader =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\n";
constexpr const char* kAppearanceHeader =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\n";

}  // namespace

Stamp LocalStamp(int64_t seconds) {
  Stamp stamp;
  const time_t t = time_t(seconds);
  tm local{};
  if (int64_t(t) != seconds || !LocalTimeOf(t, local) || local.tm_year > INT_MAX - 1900) {
    return stamp;
  }
  stamp.year = local.tm_year + 1900;
  stamp.month = local.tm_mon + 1;
  stamp.day = local.tm_mday;
  stamp.hour = local.tm_hour;
  stamp.minute = local.tm_min;
  stamp.second = local.tm_sec;
  return stamp;
}

void AppendF(std::string& out, const char* format, ...) {
  char buffer[128];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) out.append(buffer, std::min(size_t(n), sizeof buffer - 1));
}

std::string LineStart(const std::string& subject, const Stamp& s, char sep) {
  std::string line = subject;
  line += sep;
  AppendF(line, "%04d/%02d/%02d%c%02d:%02d:%02d%c", s.year, s.month, s.day, sep, s.hour,
          s.minute, s.second, sep);
  return line;
}

void AppendFields(std::string& line, std::initializer_list<int32_t> values, char sep) {
  for (int32_t v : values) AppendF(line, "%d%c", v, sep);
}

namespace {

// The bytes a text-mode write puts on disk: every line feed as CR LF.
std::string ToDiskText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool WriteAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= size_t(n);
  }
  return true;
}

// Data on disk; files that cannot be synchronised (devices) count as written.
bool SyncFile(int fd) { return FlushToDisk(fd) || errno == EINVAL || errno == EROFS; }

void SyncWorkingFolder() { FlushFolder("."); }

// The length of the file up to and including its last line feed (0 without one).
bool CompleteLength(int fd, int64_t size, int64_t& complete) {
  char block[65536];
  int64_t end = size;
  while (end > 0) {
    const int64_t start = std::max<int64_t>(0, end - int64_t(sizeof block));
    const int64_t n = ReadAt(fd, block, size_t(end - start), start);
    if (n != end - start) return false;
    for (int64_t i = n; i > 0; --i) {
      if (block[i - 1] == '\n') {
        complete = start + i;
        return true;
      }
    }
    end = start;
  }
  complete = 0;
  return true;
}

// Appends bytes [from, to) of fd to the side file `name`, created if needed, as a line of
// its own (ended by CR LF, and after a line end where the file lacked one), and syncs it.
bool CopyToSideFile(int fd, int64_t from, int64_t to, const std::string& name) {
  const int side = OpenRegularFile(name.c_str(), O_RDWR | O_APPEND | O_CREAT);
  if (side < 0) return false;
  FileStatus info;
  char last = '\n';
  bool ok = StatusOf(side, info) &&
            (info.size == 0 || ReadAt(side, &last, 1, info.size - 1) == 1) &&
            (last == '\n' || WriteAll(side, "\r\n"));
  char block[65536];
  for (int64_t at = from; ok && at < to;) {
    const int64_t n = ReadAt(fd, block, size_t(std::min<int64_t>(to - at, sizeof block)), at);
    ok = n > 0 && WriteAll(side, std::string(block, size_t(n)));
    at += n > 0 ? n : 0;
  }
  ok = ok && WriteAll(side, "\r\n") && SyncFile(side);
  return close(side) == 0 && ok;
}

}  // namespace

AppendOutcome AppendToResultFile(const std::string& name, const char* header,
                                 const std::string& text) {
  bool created = true;
  int fd = OpenRegularFile(name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL);
  if (fd < 0 && errno == EEXIST) {
    created = false;
    fd = OpenRegularFile(name.c_str(), O_RDWR | O_APPEND);
  }
  if (fd < 0) return {};

  FileStatus info;
  bool ok = StatusOf(fd, info);
  int64_t size = info.size;
  bool with_header = created;
  AppendOutcome outcome;
  // A last line without its line feed is what a kill during an earlier append leaves: cut
  // back to the last complete line, the cut bytes kept in <name>.partial first.
  char last = '\n';
  if (ok && size > 0 && (ok = ReadAt(fd, &last, 1, size - 1) == 1) && last != '\n') {
    int64_t complete = 0;
    ok = CompleteLength(fd, size, complete) &&
         CopyToSideFile(fd, complete, size, name + kPartialSuffix) &&
         TruncateFile(fd, complete) && SyncFile(fd);
    if (ok) {
      size = complete;
      outcome.repaired = true;
      // Nothing complete was left, not even the header: write the file as if new.
      with_header = size == 0;
    }
  }

  if (ok) {
    ok = WriteAll(fd, ToDiskText(with_header ? header + text : text)) && SyncFile(fd);
    if (!ok) {
      // No half line stays behind: an existing file is put back, a new one removed.
      if (created) {
        RemoveFile(name);
      } else if (TruncateFile(fd, size)) {
        SyncFile(fd);
      }
    }
  }
  const bool closed = close(fd) == 0;
  if (ok && (created || outcome.repaired)) SyncWorkingFolder();  // new directory entries
  outcome.written = ok && closed;
  return outcome;
}

std::string RepairedMessage(const std::string& name) {
  return "データファイル[" + name +
         "]の最後の行が途中で切れていました（書き込み中に終了したためと思われます）。\n"
         "切れていた部分を[" + name + kPartialSuffix + "]に移してから、今回の結果を追加しました。";
}

std::string CannotOpenMessage(const std::string& name) {
  return std::string(kCannotOpenMessage) + "\n[" + name + "]";
}

void RecordMissingLines(const std::string& subject, const Stamp& stamp,
                        const std::vector<std::string>& missing) {
  IncompleteRun run;
  run.subject = subject;
  const std::string start = LineStart(subject, stamp, '\t');
  const size_t date = subject.size() + 1, time = start.find('\t', date) + 1;
  run.date = start.substr(date, time - 1 - date);
  run.time = start.substr(time, start.size() - 1 - time);
  for (const std::string& name : missing) {
    if (!name.empty()) run.missing.push_back(name);
  }
  RecordIncompleteRun(run);
}

std::string AppearanceFileName(const std::string& subject) {
  std::string name;
  if (!Cp932ToUtf8(subject, name)) name = subject;
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return {};
  return name + ".csv";
}

int WriteResultFiles(Program& program, int completed) {
  // The run's stimuli are finished with, completed or not.
  ReleaseAllSurfaces(program.display);
  program.stimuli.target_sound.reset();
  program.stimuli.distractor_sound.reset();

  program.result_time = program.platform.CurrentTime();
  const Stamp stamp = LocalStamp(program.result_time);
  if (completed == 0) return 1;

  const ExperimentSettings& s = program.settings;
  const ScoreCounters& c = program.scheduler.counters;
  const int32_t seed = program.effective_seed;
  const int32_t score = int32_t(uint32_t(c.Hit) - uint32_t(c.FA));

  std::string summary = LineStart(s.subject, stamp, '\t');
  AppendFields(summary,
               {s.n_tgtpokko, s.n_dstpokko, s.n_holes, s.flag_ordered, s.duration, s.isi1,
                s.isi2, s.time_limit, seed, c.Hit, c.Miss, c.CR, c.FA},
               '\t');
  AppendF(summary, "%d\n", score);
  // A file repaired before its append is reported once both files are written.
  std::vector<std::string> repaired;
  auto append = [&repaired](const std::string& name, const char* header,
                            const std::string& text) {
    const AppendOutcome outcome = AppendToResultFile(name, header, text);
    if (outcome.repaired) repaired.push_back(name);
    return outcome.written;
  };
  auto report_repairs = [&] {
    for (const std::string& name : repaired) {
      program.platform.ShowMessage(RepairedMessage(name), kApplicationTitle,
                                   MessageIcon::Exclamation);
    }
  };
  auto fail = [&](const std::string& file) {
    report_repairs();
    program.platform.ShowMessage(CannotOpenMessage(file), kApplicationTitle,
                                 MessageIcon::Exclamation);
    return 0;
  };
  if (!append(kSummaryFileName, kSummaryHeader, summary)) return fail(kSummaryFileName);

  // From here on the summary line stays: a file that fails is recorded with the run, and so
  // are the timing files that then are not written.
  const std::string name = AppearanceFileName(s.subject);
  auto fail_after_summary = [&](const std::string& file) {
    RecordMissingLines(s.subject, stamp, {file, TimingFileName(s.subject), kTimingSummaryFileName});
    return fail(file);
  };
  if (name.empty()) return fail_after_summary(s.subject + ".csv");
  const TrialLog& log = program.scheduler.log;
  const int32_t count = std::clamp(log.count, 0, kLogCapacity);
  const std::string start = LineStart(s.subject, stamp, ',');
  std::string rows;
  rows.reserve(size_t(count) * (start.size() + 96));
  for (int32_t i = 0; i < count; ++i) {
    const TrialRecord& r = log.records[i];
    rows += start;
    AppendFields(rows,
                 {i + 1, s.n_tgtpokko, s.n_dstpokko, s.n_holes, s.flag_ordered, s.duration,
                  s.isi1, s.isi2, s.time_limit, seed, r.Pokko, r.Tgt, r.Hole, r.Hole_X,
                  r.Hole_Y, r.Resp, r.Resp_X, r.Resp_Y, r.RT, r.TotalRT},
                 ',');
    AppendF(rows, "%d\n", r.Error);
  }
  if (!append(name, kAppearanceHeader, rows)) return fail_after_summary(name);
  report_repairs();
  return 1;
}

}  // namespace pyokoran
