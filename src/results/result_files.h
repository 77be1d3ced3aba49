// The two result files in the working folder: the summary file, one tab-separated line per
// completed run, and the subject's appearance file, one comma-separated row per logged
// appearance. Both only ever grow; lines end in CR LF.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "results/folder_lock.h"

namespace pyokoran {

struct Program;

// Summary file name (UTF-8); read back by the result viewer.
inline constexpr const char* kSummaryFileName = "ピョコラン.txt";

// The appearance file of a subject (code page 932 bytes): the subject in UTF-8 plus ".csv",
// or its bytes unchanged when they do not convert losslessly. Empty when the subject cannot
// name a file in the working folder (it holds "/" or a NUL byte).
std::string AppearanceFileName(const std::string& subject);

// Local date and time of a run's end; 0000/00/00 -1:-1:-1 when the conversion fails.
struct Stamp {
  int year = 0, month = 0, day = 0;
  int hour = -1, minute = -1, second = -1;
};
Stamp LocalStamp(int64_t seconds);

// Shared with the files written beside the result files.
// printf into the end of out (at most 127 bytes).
__attribute__((format(printf, 2, 3))) void AppendF(std::string& out, const char* format, ...);
// "subject<sep>date<sep>time<sep>", the start of every line of both files.
std::string LineStart(const std::string& subject, const Stamp& stamp, char sep);
// Each value followed by sep.
void AppendFields(std::string& line, std::initializer_list<int32_t> values, char sep);
// The message shown when a result file cannot be opened or written.
inline constexpr const char* kCannotOpenMessage = "データファイルを開くことができません";
// That message with the file's name (UTF-8) on a line of its own.
std::string CannotOpenMessage(const std::string& name);
// A completed run whose summary line is written but whose lines are missing from the named
// files (a full disk): the run goes into the record of incomplete runs.
void RecordMissingLines(const std::string& subject, const Stamp& stamp,
                        const std::vector<std::string>& missing);

// The side file beside a result file that keeps the bytes cut off its torn last line.
inline constexpr const char* kPartialSuffix = ".partial";

// How an append went: written, and whether a torn last line was cut off first (which stays
// done even when the append then fails).
struct AppendOutcome {
  bool written = false;
  bool repaired = false;
};

// One file's share of a run: text (lines ending in LF, written as CR LF) appended to the
// file `name` in the working folder, which starts with header when it is new.
struct FilePart {
  std::string name;
  std::string header;
  std::string text;
};

// How a run's append went.
struct RunAppendOutcome {
  bool written = false;               // every part, or (false) none of them
  bool busy = false;                  // another program held the folder's lock for the whole wait
  std::string failed;                 // the file that could not be opened or written
  std::vector<std::string> repaired;  // files whose torn last line was cut off first
  std::vector<std::string> stuck;     // files whose bytes of this run could not be taken back
  int64_t first_offset = -1;          // where the first part's text starts in its file
};

// Appends every part of a run, all or nothing, under the folder's lock (so several programs
// may share one folder): each file is opened before any is written, then measured, repaired,
// written at its end and synced in turn; a failure takes back this run's bytes from every
// file (a new file is removed). Only regular files are written. A new file gets its header
// in the same write as its first line; an existing one (even empty) gets none. A file whose
// last line lacks its line feed (a kill during an earlier append) is first cut back to its
// last complete line, the cut bytes appended to <name>.partial on a line of their own (cut
// back to nothing, it gets the header again).
RunAppendOutcome AppendRun(const std::vector<FilePart>& parts, int lock_wait_ms = kLockWaitMs);
// The same for one file.
AppendOutcome AppendToResultFile(const std::string& name, const char* header,
                                 const std::string& text);
// The message telling the user that the result file `name` was repaired.
std::string RepairedMessage(const std::string& name);
// The message offering to try again when the file `name` cannot be opened or written.
std::string CannotWriteRetryMessage(const std::string& name);

// The summary line and the appearance rows of the completed run in program, stamped stamp.
std::vector<FilePart> ResultFileParts(const Program& program, const Stamp& stamp);

// Releases the run's surfaces and sounds; for a completed run appends the summary line, the
// appearance rows and the timing record in one append (AppendRun). 1 = nothing to write or
// all written. When a file cannot be opened or written (held by another program, read-only,
// a full disk) or another program holds the folder, the user may try again; given up (or
// without a rescue folder) the message naming the file is shown and 0 returned, and the
// run's lines are kept in the rescue folder when there is one, which the message names.
// Runs kept there for this working folder are put in place first, and that is told.
// A repaired file is reported after the writing, in a message of its own.
int WriteResultFiles(Program& program, int completed);

}  // namespace pyokoran
