// The timing record written beside the result files for every completed run: one row per
// logged appearance in "<subject>_timing.csv" (when it reached the screen and when it was
// struck, on the tick clock) and one line per run in "ピョコラン_timing.txt" (how frames were
// presented). The result files themselves are never touched.
#pragma once

#include <string>

namespace pyokoran {

struct Program;

inline constexpr const char* kTimingSummaryFileName = "ピョコラン_timing.txt";

// The subject's timing file: the appearance file's name with "_timing" before ".csv";
// empty when the subject cannot name a file.
std::string TimingFileName(const std::string& subject);

// The subject's file of frames as the display system reported them: the appearance file's
// name with "_frames" before ".csv"; empty when the subject cannot name a file.
std::string FramesFileName(const std::string& subject);

// Appends the run's timing rows and its line, after the result files have been written for
// it (results_written = 1), and, where the display system reported how each frame completed,
// one row per presented frame to the frames file. An aborted run, or one whose result files
// failed, writes nothing.
// 1 = nothing to write or both written; 0 after the result files' message.
int WriteTimingFiles(Program& program, int completed, int results_written);

}  // namespace pyokoran
