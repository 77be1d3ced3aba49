// Reading the result files of a working folder back for analysis: the summary file, each
// summarised subject's appearance file, and the timing records where they exist. Lines are taken
// as written (code page 932, CR LF); a line that cannot be read is skipped and noted.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pyokoran {

// One appearance row of a run, as far as the analysis needs it; kept small (24 bytes), as a
// folder of 10 000 runs holds over a million. The small fields take what the program writes
// (at most 4999 rows a run, 14 creatures, 15 holes; a row whose values do not fit is not taken
// for an appearance row).
struct AppearanceRow {
  // What the timing record's row says of its figures: kOnsetOver (its onset stamp lies beyond
  // what the run's presentation promises), kRiseOver, kBookingLate (the flags of its Over
  // column) and kArrivalPress (its press was stamped when it arrived, not by its event).
  static constexpr uint8_t kOnsetOver = 1, kRiseOver = 2, kBookingLate = 4, kArrivalPress = 8;

  int32_t RT = 0;
  int32_t TotalRT = 0;
  int32_t ShowMs = -1;  // when it was shown (ms in the run), from the timing record; -1 unknown
  int16_t Trial = 0;
  int8_t Hole = 0;
  int8_t Pokko = 0;
  int8_t Error = 0;
  int8_t Tgt = 0;
  int8_t Resp = 0;
  uint8_t timing_flags = 0;  // of the k* above, from the timing record

  // True when the onset RT leans on a stamp its row marks: the onset over its bound or the
  // press stamped at its arrival.
  bool onset_rt_flagged() const { return (timing_flags & (kOnsetOver | kArrivalPress)) != 0; }

  // The reaction time from the first frame that showed the creature, in ms, where the timing
  // record gave one; kept to the microsecond (the record writes three decimals).
  bool has_onset_rt() const { return onset_us_ != kNoOnset; }
  double onset_rt() const { return double(onset_us_) / 1000.0; }
  // False (and none kept) for a value beyond 30 minutes either way or not a number.
  bool SetOnsetRt(double ms);
  // The same from whole microseconds (ms * 1000, rounded).
  bool SetOnsetRtUs(int64_t us);

 private:
  static constexpr int32_t kNoOnset = INT32_MIN;
  int32_t onset_us_ = kNoOnset;
};

// One run: its summary line and its appearance rows, keyed by subject, date and time.
struct RunRecord {
  std::string subject;       // code page 932 bytes, as written
  std::string subject_utf8;  // for display and export
  std::string date;          // "YYYY/MM/DD"
  std::string time;          // "HH:MM:SS"
  int32_t TgtPokko = 0, DstPokko = 0, Holes = 0, Ordered = 0, Dur = 0, ISI_1 = 0, ISI_2 = 0,
          TmLimit = 0, RndSeed = 0;
  int32_t Hit = 0, Miss = 0, CR = 0, FA = 0;  // from the summary line, else counted from rows
  bool in_summary = false;  // false: known from its appearance rows only
  int32_t file_order = 0;   // position of first sight (summary lines first), for stable order
  int32_t run_id = 0;       // 1, 2, ... oldest first over the folder (set by the report)
  std::vector<AppearanceRow> rows;
  bool rows_cut = false;     // rows beyond the log limit were left out
  int32_t timing_rows = 0;  // rows of the subject's timing file that belong to this run
  bool timing_line = false;  // the timing summary has the run's line
  std::string problems;     // what the files lack for this run ("" when they agree), UTF-8
  std::string presentation;  // the timing summary's Mode ("locked", "fallback", ...); "" without one
  std::string frame_times;   // the timing summary's FrameTimes: where frame times came from
  std::string computer;      // the timing summary's Computer: where the run was recorded ("" without)
  // Several computers sharing a folder may record one subject in the same second: runs of one
  // subject, date and time are told apart by their order, the same in every file.
  int32_t occurrence = 0;      // 0 for the first run of its subject, date and time, 1 for the next
  int32_t same_key_next = -1;  // the next such run, -1 for none
  // The timing summary's counts of the run's rows beyond their bounds: presses stamped at
  // their arrival, onsets, rises and bookings over; -1 where the line has no such column.
  int32_t arrival_presses = -1, onset_over = -1, rise_over = -1, booking_late = -1;
};

struct ResultFolder {
  std::vector<RunRecord> runs;        // in the order first seen
  bool simulated = false;             // the folder carries the simulator's mark
  std::vector<std::string> problems;  // lines or files skipped, one sentence each (UTF-8)
};

// How far a reading has come, and a way to stop it, shared between the reading thread and
// another that watches it.
class ReadControl {
 public:
  // Bytes of the result files read so far, and of all there are to read (a guess from the
  // folder's files until the summary has named them).
  uint64_t done() const { return done_.load(std::memory_order_relaxed); }
  uint64_t total() const { return total_.load(std::memory_order_relaxed); }
  // Asks the reading to stop soon (from any thread); it then fails with "reading stopped".
  void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
  bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }

  // The reading's side.
  void SetTotal(uint64_t bytes) { total_.store(bytes, std::memory_order_relaxed); }
  void Add(uint64_t bytes) { done_.fetch_add(bytes, std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> done_{0}, total_{0};
  std::atomic<bool> cancel_{false};
};

// Name of the mark file the simulator leaves in every folder it writes.
inline constexpr const char* kSimulatedMarkFile = "SIMULATED.txt";

// Reads folder's summary file and, for each subject in it, exactly "<subject>.csv" and
// "<subject>_timing.csv" (rows of another subject there are skipped and noted); without
// summary lines, every file *.csv that carries the appearance header and every timing record.
// A last line without its line end (a kill during the append) is left out with a problem line;
// a summarised run whose rows disagree with its counts is told in its `problems`. False (with a reason in error) only when the folder cannot be
// read at all or holds no result file; true for an empty but valid result set. The files are
// read block by block, never whole; control, when given, follows the reading and may stop it.
bool ReadResultFolder(const std::string& folder, ResultFolder& out, std::string& error,
                      ReadControl* control = nullptr);

// Result files larger than this are not read (by the report nor by the trial file).
inline constexpr uint64_t kMaxResultFileBytes = uint64_t(1) << 30;

// Runs over this many appearances keep only their first rows in the appearance file.
inline constexpr int32_t kLoggedRowLimit = 4999;

// One data line of the summary file (no line end); false when it is not one. Tabs beyond
// the sixteen separators are taken to belong to the subject.
bool ParseSummaryLine(std::string_view line, RunRecord& run);

}  // namespace pyokoran
