// Runs whose lines are not in all four files a completed run appends to (the summary file,
// the subject's appearance file, the subject's timing file and the timing summary): a kill
// between two appends, or a full disk after the summary line was written. The files keep
// their lines as written; such runs are told to the user and listed in a record beside them.
#pragma once

#include <string>
#include <vector>

namespace pyokoran {

// Tab-separated, CR LF, one line per run: "Subject Date Time" and the files that lack its
// lines (header "Subject\tDate\tTime\tMissing").
inline constexpr const char* kIncompleteRunsFileName = "ピョコラン_incomplete.txt";

struct IncompleteRun {
  std::string subject;  // code page 932 bytes, as in the summary line
  std::string date, time;
  std::vector<std::string> missing;  // file names (UTF-8) that lack the run's lines
};

// Checks the last complete line of the summary file in the current folder: whether the
// subject's appearance file holds the run's rows (one per decided appearance, at most 4999)
// among its last lines and, where the folder has timing records, whether both hold the run,
// each found by the run's subject, date and time wherever it stands. False when
// the run is whole (or there is none), and when neither the appearance file nor the timing
// summary exists (a summary line copied or written by hand).
bool FindIncompleteLastRun(IncompleteRun& run);

// Appends run to the record (with its header when new). False when it cannot be written.
bool RecordIncompleteRun(const IncompleteRun& run);

// The message telling the user which files lack the run's lines.
std::string IncompleteRunMessage(const IncompleteRun& run);

// At start, under the folder's lock: the last run when it is incomplete and not yet in the
// record, recorded now; false otherwise (also when another program holds the folder).
bool CheckLastRunAtStart(IncompleteRun& run);

// At start: every summarised run since the timing summary began whose line it lacks (a kill
// between the last two appends) and that the record does not name yet, recorded now in one
// append. runs: the first kMaxToldRuns of them; more: how many beyond. False when none.
inline constexpr size_t kMaxToldRuns = 10;
bool CheckRunsWithoutTimingLineAtStart(std::vector<IncompleteRun>& runs, size_t& more);

// The message naming them (the list bounded).
std::string RunsWithoutTimingLineMessage(const std::vector<IncompleteRun>& runs, size_t more);

}  // namespace pyokoran
