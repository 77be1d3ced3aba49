// The two result files in the working folder: the summary file, one tab-separated line per
// completed run, and the subject's appearance file, one comma-separated row per logged
// appearance. Both only ever grow; lines end in CR LF.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace pyokoran {

struct Program;

// Summary file name (UTF-8); read back by the result viewer.
inline constexpr const char* kSummaryFileName = "ピョコラン.txt";

// The appearance file of a subject (code page 932 bytes): the subject in UTF-8 plus ".csv",
// or its bytes unchanged when they are not code page 932. Empty when the subject cannot
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
// Appends text (LF line ends, written as CR LF) to the file `name` in the working folder; a
// file that does not exist yet is created and gets header first, one that exists (even
// empty) gets no header. Every write, the sync and the close are checked. After a failed
// write the file is put back as it was (a new one removed), so no half line stays behind.
// False on any failure.
bool AppendToResultFile(const std::string& name, const char* header, const std::string& text);
// The message shown when a result file cannot be opened or written.
inline constexpr const char* kCannotOpenMessage = "データファイルを開くことができません";

// Releases the run's surfaces and sounds; for a completed run appends the summary line and
// the per-appearance rows, each file on disk before the next is touched. 1 = nothing to
// write or both written; 0 after the message, when a file cannot be opened or written.
int WriteResultFiles(Program& program, int completed);

}  // namespace pyokoran
