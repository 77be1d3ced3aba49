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

#include "app/message_text.h"
#include "app/program.h"
#include "display/surfaces.h"
#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "results/rescued_runs.h"
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
  const int side = OpenRegularFile(name.c_str(), O_RDWR | O_CREAT);
  if (side < 0) return false;
  FileStatus info;
  char last = '\n';
  bool ok = StatusOf(side, info) &&
            (info.size == 0 || ReadAt(side, &last, 1, info.size - 1) == 1);
  int64_t at = info.size;
  // A program stopped after keeping the tail but before cutting it off left it as the side
  // file's last line already: it is kept once.
  const int64_t length = to - from;
  if (ok && length > 0 && info.size >= length + 2) {
    const int64_t line_start = info.size - length - 2;
    std::string kept(size_t(length) + 3, '\0'), tail(size_t(length), '\0');
    const bool whole_line = line_start == 0 ? ReadAt(side, kept.data() + 1, kept.size() - 1, 0) == length + 2
                                            : ReadAt(side, kept.data(), kept.size(), line_start - 1) == length + 3;
    if (line_start == 0) kept[0] = '\n';
    if (whole_line && ReadAt(fd, tail.data(), tail.size(), from) == length && kept == "\n" + tail + "\r\n") {
      return close(side) == 0;
    }
  }
  if (ok && last != '\n') {
    ok = WriteAllAt(side, "\r\n", 2, at);
    at += 2;
  }
  char block[65536];
  for (int64_t from_at = from; ok && from_at < to;) {
    const int64_t n = ReadAt(fd, block, size_t(std::min<int64_t>(to - from_at, sizeof block)), from_at);
    ok = n > 0 && WriteAllAt(side, block, size_t(n), at);
    from_at += n > 0 ? n : 0;
    at += n > 0 ? n : 0;
  }
  ok = ok && WriteAllAt(side, "\r\n", 2, at) && SyncFile(side);
  return close(side) == 0 && ok;
}

// One file of a run while it is appended to.
struct OpenPart {
  int fd = -1;
  bool created = false;  // made by this run: written under a new name, then put in place
  bool in_place = false;
  bool written = false;
  int64_t before = 0;  // its size before this run's bytes
};

// The name a new file is written under until it is whole: a program killed in between leaves
// it there, never a file without its header. Under the folder's lock one found is left over.
std::string NewFileName(const std::string& name) { return name + ".new"; }

// Takes back what this run wrote: a file it made is removed, another cut back to its size
// before the run. False when that did not succeed.
bool TakeBack(const std::string& name, OpenPart& file) {
  if (file.created) return RemoveFile(file.in_place ? name : NewFileName(name));
  FileStatus info;
  if (StatusOf(file.fd, info) && info.size == file.before) return true;  // nothing got there
  return TruncateFile(file.fd, file.before) && SyncFile(file.fd);
}

}  // namespace

RunAppendOutcome AppendRun(const std::vector<FilePart>& parts, int lock_wait_ms) {
  RunAppendOutcome outcome;
  const ResultFolderLock lock(true, lock_wait_ms);
  if (!lock.may_go_on()) {
    outcome.busy = true;
    return outcome;
  }

  // Every file is opened before any is written: a run lands whole or not at all.
  std::vector<OpenPart> files(parts.size());
  auto close_all = [&files] {
    bool ok = true;
    for (OpenPart& file : files) {
      if (file.fd >= 0) ok = close(file.fd) == 0 && ok;
      file.fd = -1;
    }
    return ok;
  };
  bool ok = true;
  for (size_t i = 0; ok && i < parts.size(); ++i) {
    OpenPart& file = files[i];
    const std::string& name = parts[i].name;
    file.fd = name.empty() ? -1 : OpenRegularFile(name.c_str(), O_RDWR);
    if (file.fd < 0 && errno == ENOENT) {
      const std::string temporary = NewFileName(name);
      RemoveFile(temporary);
      file.fd = OpenRegularFile(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL);
      file.created = file.fd >= 0;
    }
    if (file.fd < 0) {
      outcome.failed = name;
      ok = false;
    }
  }
  if (!ok) {
    close_all();
    for (size_t i = 0; i < parts.size(); ++i) {
      if (files[i].created) RemoveFile(NewFileName(parts[i].name));
    }
    return outcome;
  }

  bool repaired_any = false;
  for (size_t i = 0; ok && i < parts.size(); ++i) {
    OpenPart& file = files[i];
    const FilePart& part = parts[i];
    FileStatus info;
    ok = StatusOf(file.fd, info);
    int64_t size = info.size;
    bool with_header = file.created;
    // A last line without its line feed is what a kill during an earlier append leaves: cut
    // back to the last complete line, the cut bytes kept in <name>.partial first.
    char last = '\n';
    if (ok && size > 0 && (ok = ReadAt(file.fd, &last, 1, size - 1) == 1) && last != '\n') {
      int64_t complete = 0;
      ok = CompleteLength(file.fd, size, complete) &&
           CopyToSideFile(file.fd, complete, size, part.name + kPartialSuffix) &&
           TruncateFile(file.fd, complete) && SyncFile(file.fd);
      if (ok) {
        size = complete;
        outcome.repaired.push_back(part.name);
        repaired_any = true;
        // Nothing complete was left, not even the header: write the file as if new.
        with_header = with_header || size == 0;
      }
    }
    if (!ok) {
      outcome.failed = part.name;
      break;
    }
    file.before = size;
    const std::string header = with_header ? ToDiskText(part.header) : std::string();
    const std::string bytes = header + ToDiskText(part.text);
    if (i == 0) outcome.first_offset = size + int64_t(header.size());
    file.written = true;
    ok = WriteAllAt(file.fd, bytes.data(), bytes.size(), size) && SyncFile(file.fd);
    if (ok && file.created) ok = file.in_place = MoveToNewName(NewFileName(part.name), part.name);
    if (!ok) outcome.failed = part.name;
  }
  if (!ok) {
    // No half run stays behind, nor a half line: each file is put back as it was.
    for (size_t i = 0; i < parts.size(); ++i) {
      if ((files[i].written || files[i].created) && !TakeBack(parts[i].name, files[i]) &&
          files[i].written) {
        outcome.stuck.push_back(parts[i].name);
      }
    }
    outcome.first_offset = -1;
  }
  close_all();  // what was synced is on disk; a late close error changes nothing
  bool created_any = false;
  for (const OpenPart& file : files) created_any = created_any || file.created;
  if (created_any || repaired_any) SyncWorkingFolder();  // new directory entries
  outcome.written = ok;
  return outcome;
}

AppendOutcome AppendToResultFile(const std::string& name, const char* header,
                                 const std::string& text) {
  const RunAppendOutcome run = AppendRun({FilePart{name, header, text}});
  return {run.written, !run.repaired.empty()};
}

std::string RepairedMessage(const std::string& name) {
  return NamingFile(NamingFile("データファイルの最後の行が途中で切れていました（書き込み中に終了したためと思われます）。",
                               name, "切れていた部分を次のファイルに移してから、今回の結果を追加しました。"),
                    name + kPartialSuffix);
}

std::string CannotOpenMessage(const std::string& name) {
  return NamingFile(kCannotOpenMessage, name);
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

std::vector<FilePart> ResultFileParts(const Program& program, const Stamp& stamp) {
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
  // A subject that cannot name a file fails as a file that cannot be opened.
  return {FilePart{kSummaryFileName, kSummaryHeader, std::move(summary)},
          FilePart{AppearanceFileName(s.subject), kAppearanceHeader, std::move(rows)}};
}

namespace {

// "YYYYMMDD-HHMMSS" of a stamp, for file names.
std::string StampLabel(const Stamp& t) {
  std::string label;
  AppendF(label, "%04d%02d%02d-%02d%02d%02d", std::max(t.year, 0), std::max(t.month, 0),
          std::max(t.day, 0), std::max(t.hour, 0), std::max(t.minute, 0), std::max(t.second, 0));
  return label;
}

void TellRepairs(Program& program, const RunAppendOutcome& outcome) {
  for (const std::string& name : outcome.repaired) {
    program.platform.ShowMessage(RepairedMessage(name), kApplicationTitle,
                                 MessageIcon::Exclamation);
  }
}

// The parts not named in stuck.
std::vector<FilePart> PartsNotIn(const std::vector<FilePart>& parts, const std::vector<std::string>& stuck) {
  std::vector<FilePart> rest;
  for (const FilePart& part : parts) {
    if (std::find(stuck.begin(), stuck.end(), part.name) == stuck.end()) rest.push_back(part);
  }
  return rest;
}

// Whether the file `name` already holds text whole among its last lines: a putting in place
// that was stopped (a kill) between two files left it there.
bool AlreadyHolds(const std::string& name, const std::string& text) {
  constexpr int64_t kTail = int64_t(8) << 20;
  const std::string bytes = ToDiskText(text);
  if (bytes.empty()) return false;
  const int fd = OpenRegularFile(name.c_str(), O_RDONLY);
  if (fd < 0) return false;
  FileStatus info;
  std::string tail;
  bool ok = StatusOf(fd, info);
  if (ok) {
    const int64_t from = std::max<int64_t>(0, info.size - kTail);
    tail.resize(size_t(info.size - from));
    ok = ReadAt(fd, tail.data(), tail.size(), from) == int64_t(tail.size());
  }
  close(fd);
  if (!ok) return false;
  for (size_t at = tail.find(bytes); at != std::string::npos; at = tail.find(bytes, at + 1)) {
    if (at == 0 || tail[at - 1] == '\n') return true;
  }
  return false;
}

// Runs kept in the rescue folder for this working folder go in first, oldest first. A
// file that already holds its share of a run (an earlier putting in place was stopped) is
// not given it twice.
void PutRescuedRunsInPlace(Program& program, const std::string& folder) {
  for (RescuedRun& run : FindRescuedRuns(program.rescue_folder, folder)) {
    std::vector<FilePart> parts;
    for (FilePart& part : run.parts) {
      if (!AlreadyHolds(part.name, part.text)) parts.push_back(std::move(part));
    }
    const RunAppendOutcome outcome = AppendRun(parts, program.lock_wait_ms);
    TellRepairs(program, outcome);
    if (!outcome.stuck.empty()) {
      // Files that kept their share of the run: the rescue file keeps only the rest.
      const std::string kept = SaveRescuedRun(program.rescue_folder, folder,
                                              PartsNotIn(parts, outcome.stuck), "kept");
      if (!kept.empty()) RemoveFile(run.path);
      program.platform.ShowMessage(StillRescuedMessage(kept.empty() ? run.path : kept),
                                   kApplicationTitle, MessageIcon::Exclamation);
      return;
    }
    if (outcome.written && RemoveFile(run.path)) {
      program.platform.ShowMessage(PutInPlaceMessage(run.path), kApplicationTitle,
                                   MessageIcon::None);
    } else if (!outcome.written) {
      program.platform.ShowMessage(StillRescuedMessage(run.path), kApplicationTitle,
                                   MessageIcon::Exclamation);
      return;
    }
  }
}

}  // namespace

std::string CannotWriteRetryMessage(const std::string& name) {
  return CannotOpenMessage(name) +
         "\nほかのプログラム（表計算ソフトなど）でこのファイルを開いている場合は閉じてから、"
         "読み取り専用の場合はそれを解除してから、[再試行]を押してください。";
}

int WriteResultFiles(Program& program, int completed) {
  // The run's stimuli are finished with, completed or not.
  ReleaseAllSurfaces(program.display);
  program.stimuli.target_sound.reset();
  program.stimuli.distractor_sound.reset();

  program.result_time = program.platform.CurrentTime();
  const Stamp stamp = LocalStamp(program.result_time);
  if (completed == 0) return 1;

  std::vector<FilePart> parts = ResultFileParts(program, stamp);
  AppendTimingParts(program, stamp, parts);
  const std::string folder = CurrentFolderPath();
  const ExperimentSettings& s = program.settings;
  if (parts[1].name.empty()) parts[1].name = s.subject + ".csv";

  // Taken once for the rescued runs and this one, so that nobody writes in between.
  const ResultFolderLock lock(true, program.lock_wait_ms);
  if (lock.may_go_on() && !program.rescue_folder.empty()) PutRescuedRunsInPlace(program, folder);
  for (;;) {
    const RunAppendOutcome outcome = AppendRun(parts, program.lock_wait_ms);
    TellRepairs(program, outcome);
    if (outcome.written) {
      if (parts[0].name == kSummaryFileName) {
        program.newest_run_offset = outcome.first_offset;
        program.newest_run_line = parts[0].text;
      }
      return 1;
    }
    if (!outcome.stuck.empty()) {
      // Bytes of the run that could not be taken back: those files keep their share of it,
      // the rest is recorded as missing and kept as below.
      std::vector<std::string> missing;
      for (const FilePart& part : PartsNotIn(parts, outcome.stuck)) missing.push_back(part.name);
      RecordMissingLines(s.subject, stamp, missing);
      parts = PartsNotIn(parts, outcome.stuck);
    }
    const std::string& failed = outcome.failed;
    if (program.rescue_folder.empty()) {
      program.platform.ShowMessage(
          outcome.busy ? FolderBusyMessage(folder) : CannotOpenMessage(failed), kApplicationTitle,
          MessageIcon::Exclamation);
      return 0;
    }
    const std::string ask = outcome.busy ? FolderBusyMessage(folder) : CannotWriteRetryMessage(failed);
    if (program.platform.AskRetry(ask, kApplicationTitle)) continue;
    const std::string kept = SaveRescuedRun(program.rescue_folder, folder, parts, StampLabel(stamp));
    program.platform.ShowMessage(kept.empty() ? NotRescuedMessage() : RescuedMessage(kept),
                                 kApplicationTitle, MessageIcon::Exclamation);
    return 0;
  }
}

}  // namespace pyokoran
