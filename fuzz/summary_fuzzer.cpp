// The summary reader behind the ranking: any summary file is read without a fault, ranked
// in the specified order (an exchange sort with "<=", kept here as the reference), and
// turned into the result dialog's lines and text.
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "results/result_files.h"
#include "results/result_viewer.h"

using namespace pyokoran;

namespace {

bool Same(const SummaryEntry& a, const SummaryEntry& b) {
  return a.Subject == b.Subject && a.Date == b.Date && a.Time == b.Time &&
         a.TgtPokko == b.TgtPokko && a.DstPokko == b.DstPokko && a.Holes == b.Holes &&
         a.Ordered == b.Ordered && a.Dur == b.Dur && a.ISI_1 == b.ISI_1 && a.ISI_2 == b.ISI_2 &&
         a.TmLimit == b.TmLimit && a.RndSeed == b.RndSeed && a.Hit == b.Hit &&
         a.Miss == b.Miss && a.CR == b.CR && a.FA == b.FA && a.Score == b.Score &&
         a.newest == b.newest;
}

// The ranking as specified: every later entry whose score is at least the current one's
// is swapped forward.
void ExchangeSort(std::vector<SummaryEntry>& entries) {
  for (size_t i = 0; i + 1 < entries.size(); ++i) {
    for (size_t j = i + 1; j < entries.size(); ++j) {
      if (entries[i].Score <= entries[j].Score) std::swap(entries[i], entries[j]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<SummaryEntry> entries;
  int read = 0;
  {
    fuzz::InScratchFolder scratch;
    fuzz::WriteWholeFile(kSummaryFileName, data, size);
    read = ReadSummaryFile(entries);
  }
  if (!read) {
    if (!entries.empty()) std::abort();
    return 0;
  }
  if (entries.empty() || entries.back().newest != 1) std::abort();
  for (size_t i = 0; i + 1 < entries.size(); ++i) {
    if (entries[i].newest != 0) std::abort();
  }
  const SummaryEntry newest = entries.back();

  std::vector<SummaryEntry> expected = entries;
  ExchangeSort(expected);
  RankEntries(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!Same(entries[i], expected[i])) {
      fuzz::PropertyFailed("the ranking differs from the exchange sort at this place",
                           expected[i].Subject + " " + std::to_string(expected[i].Score),
                           entries[i].Subject + " " + std::to_string(entries[i].Score));
    }
  }

  const ResultDialogContent content = MakeResultDialogContent(entries, newest);
  if (content.lines.size() != entries.size() || content.selected < 0 ||
      size_t(content.selected) >= content.lines.size() || content.summary.empty()) {
    std::abort();
  }
  return 0;
}
