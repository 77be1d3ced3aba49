// The timing record written beside the result files for every completed run: one row per
// logged appearance in "<subject>_timing.csv" (when it reached the screen and when it was
// struck, on the tick clock) and one line per run in "ピョコラン_timing.txt" (how frames were
// presented). The result files themselves are never touched.
#pragma once

#include <string>
#include <vector>

#include "results/result_files.h"

namespace pyokoran {

struct Program;

inline constexpr const char* kTimingSummaryFileName = "ピョコラン_timing.txt";

// The subject's timing file: the appearance file's name with "_timing" before ".csv";
// empty when the subject cannot name a file.
std::string TimingFileName(const std::string& subject);

// The subject's file of frames as the display system reported them: the appearance file's
// name with "_frames" before ".csv"; empty when the subject cannot name a file.
std::string FramesFileName(const std::string& subject);

// The run's timing rows, its line and, where the display system reported how each frame
// completed, one row per presented frame, as parts of the run's append (after the result
// files' parts). Both timing files end each row with the computer's name.
void AppendTimingParts(Program& program, const Stamp& stamp, std::vector<FilePart>& parts);

}  // namespace pyokoran
