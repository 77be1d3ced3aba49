// The two result files in the working folder: the summary file, one tab-separated line per
// completed run, and the subject's appearance file, one comma-separated row per logged
// appearance. Both only ever grow; lines end in CR LF.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

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

// Appends text (lines ending in LF, written as CR LF) to the result file `name` in the
// working folder, refusing anything that is not a regular file. A new file gets header
// first; an existing one (even empty) gets none. A file whose last line lacks its line feed
// (a kill during an earlier append) is first cut back to its last complete line, the cut
// bytes appended to <name>.partial (cut back to nothing, it gets the header again). Data and
// folder are synced; a write that fails puts the file back as it was before the append (a
// new one removed).
AppendOutcome AppendToResultFile(const std::string& name, const char* header,
                                 const std::string& text);
// The message telling the user that the result file `name` was repaired.
std::string RepairedMessage(const std::string& name);

// Releases the run's surfaces and sounds; for a completed run appends the summary line and
// the per-appearance rows, each file on disk before the next is touched. 1 = nothing to
// write or both written; 0 after the message naming the file, when a file cannot be opened
// or written (when that is the appearance file, the run is recorded as incomplete).
// A repaired file is reported after the writing, in a message of its own.
int WriteResultFiles(Program& program, int completed);

}  // namespace pyokoran
