// The ranking of every run recorded in the summary file, shown in the result dialog.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pyokoran {

struct Program;

// One data line of the summary file as read back; texts are code page 932 bytes.
struct SummaryEntry {
  std::string Subject;
  std::string Date;
  std::string Time;
  int32_t TgtPokko = 0;
  int32_t DstPokko = 0;
  int32_t Holes = 0;
  int32_t Ordered = 0;
  int32_t Dur = 0;
  int32_t ISI_1 = 0;
  int32_t ISI_2 = 0;
  int32_t TmLimit = 0;
  int32_t RndSeed = 0;
  int32_t Hit = 0;
  int32_t Miss = 0;
  int32_t CR = 0;
  int32_t FA = 0;
  int32_t Score = 0;
  int32_t newest = 0;  // 1 for the newest run (by default the last data line read)
  int64_t offset = -1;  // where its line starts in the file
};

// Reads the summary file in the working folder up to its first blank line. 1 when at least
// one data line was read into entries, 0 otherwise (no file, header only, out of memory).
int ReadSummaryFile(std::vector<SummaryEntry>& entries);
// Highest score first; among equal scores the newest run comes first, then the later line.
void RankEntries(std::vector<SummaryEntry>& entries);
// The dialog's list lines (in the list box's text order), static text and selected line,
// from the ranked entries and the newest run.
ResultDialogContent MakeResultDialogContent(const std::vector<SummaryEntry>& ranked,
                                            const SummaryEntry& newest);
// Ranks every recorded run by score and shows the result dialog; shows nothing when there
// is nothing to show. The newest run is the one this program wrote last, found where it was
// written, whatever other programs sharing the folder appended since; else the last line.
void ShowResults(Program& program);

}  // namespace pyokoran
