// The two result files in the working folder: the summary file, one tab-separated line per
// completed run, and the subject's appearance file, one comma-separated row per logged
// appearance. Both only ever grow; lines end in CR LF.
#pragma once

#include <string>

namespace pyokoran {

struct Program;

// Summary file name (UTF-8); read back by the result viewer.
inline constexpr const char* kSummaryFileName = "ピョコラン.txt";

// The appearance file of a subject (code page 932 bytes): the subject in UTF-8 plus ".csv",
// or its bytes unchanged when they do not convert losslessly. Empty when the subject cannot
// name a file in the working folder (it holds "/" or a NUL byte).
std::string AppearanceFileName(const std::string& subject);

// Releases the run's surfaces and sounds; for a completed run appends the summary line and
// the per-appearance rows, each file on disk before the next is touched. 1 = nothing to
// write or both written; 0 after the message, when a file cannot be opened or written.
int WriteResultFiles(Program& program, int completed);

}  // namespace pyokoran
