// Go/no-go measures of a run or of a subject's runs pooled: counts, hit and false-alarm
// rates, d' and criterion c (log-linear correction), reaction-time statistics.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/result_reader.h"

namespace pyokoran {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct MeasureOptions {
  int32_t anticipation_ms = 150;  // responses with RT below this are counted apart
  // Also leave those responses (as read from the rows) out of Hit and FA and so out of the
  // targets, distractors, rates, d' and c: the appearance counts as not shown.
  bool exclude_anticipations = false;
  // Responses slower than this (ms; 0: no limit) are left out of every RT figure, and counted.
  int32_t max_rt_ms = 0;
  // Onset RTs only of runs presented locked to the refresh.
  bool onset_locked_only = false;
  // Onset RTs whose timing row is flagged (the onset stamp over its bound, or the press stamped
  // at its arrival) left out of the onset figures.
  bool exclude_flagged_onsets = false;
  // Runs with problems left out of the pooled rows and the groups (their own rows stay).
  bool exclude_problem_runs = false;
};

// True when a response's RT counts in the RT figures under options: at or above the
// anticipation limit and not beyond the upper limit.
inline bool RtCounts(int32_t rt, const MeasureOptions& options) {
  return rt >= options.anticipation_ms && (options.max_rt_ms <= 0 || rt <= options.max_rt_ms);
}

// A two-sided 95% interval; NaN ends where it does not exist.
struct Interval {
  double low = kNoValue;
  double high = kNoValue;
};

struct RtStats {
  int32_t n = 0;
  double mean = kNoValue;
  double median = kNoValue;
  double sd = kNoValue;  // sample SD (n - 1); none below two values
  Interval mean_ci;      // t interval of the mean; none below two values
};

struct Measures {
  int64_t targets = 0;      // Hit + Miss
  int64_t distractors = 0;  // FA + CR
  int64_t Hit = 0, Miss = 0, FA = 0, CR = 0;
  double hit_rate = kNoValue;     // Hit / targets, uncorrected
  double fa_rate = kNoValue;      // FA / distractors, uncorrected
  double hit_rate_ll = kNoValue;  // (Hit + 0.5) / (targets + 1)
  double fa_rate_ll = kNoValue;   // (FA + 0.5) / (distractors + 1)
  double d_prime = kNoValue;      // z(hit_rate_ll) - z(fa_rate_ll); none without both kinds
  double criterion = kNoValue;    // -(z(hit_rate_ll) + z(fa_rate_ll)) / 2
  Interval hit_rate_ci;           // Wilson score interval of hit_rate
  Interval fa_rate_ci;            // Wilson score interval of fa_rate
  double d_prime_se = kNoValue;   // binomial standard error of d' at the corrected rates
  Interval d_prime_ci;            // d' -/+ 1.96 standard errors
  RtStats hit_rt;                 // hits at or above the anticipation limit
  RtStats fa_rt;                  // false alarms at or above the limit
  int32_t anticipations = 0;      // hits and false alarms below the limit (negative ones too)
  int32_t anticipations_excluded = 0;  // of those, left out of Hit and FA (exclude_anticipations)
  RtStats onset_rt;               // hits' reaction time from the onset, where recorded
  int32_t onset_rt_flagged = 0;   // of the hits' onset RTs, those whose timing row is flagged
                                  // (left out of onset_rt under exclude_flagged_onsets)
  int32_t over_rt_limit = 0;      // hits and false alarms beyond the upper RT limit
};

// The standard normal quantile; NaN outside (0, 1).
double NormalQuantile(double p);
// d' and c from two rates as given (no correction); NaN when a rate is 0, 1 or missing.
double DPrime(double hit_rate, double fa_rate);
double Criterion(double hit_rate, double fa_rate);
// Mean, median, sample SD and the mean's 95% t interval of values (reordered).
RtStats Describe(std::vector<double>& values);
// 95% Wilson score interval of the proportion k / n; none for n = 0.
Interval WilsonInterval(int64_t k, int64_t n);
// Standard error of d' from rates h and f seen over n_targets and n_distractors:
// sqrt(h(1-h) / (n_t phi(z(h))^2) + f(1-f) / (n_d phi(z(f))^2)); NaN without a value.
double DPrimeStandardError(double h, double f, int64_t n_targets, int64_t n_distractors);

// Mean and sample SD over runs of one per-run measure (runs without the value left out).
struct Spread {
  double mean = kNoValue;
  double sd = kNoValue;
  int32_t n = 0;  // runs that had the value
};
struct RunSpread {
  Spread hit_rate, fa_rate, d_prime, criterion, hit_rt_mean;
};
RunSpread SpreadOverRuns(const std::vector<const Measures*>& runs);

// Counts from the summary lines (or rows), reaction times from the rows, of all runs given.
Measures Measure(const std::vector<const RunRecord*>& runs, const MeasureOptions& options);

// Plot data. Hits' RT (at or above the limit) against their TotalRT.
struct RtPoint {
  double total_rt = 0;
  double rt = 0;
};
std::vector<RtPoint> HitRtAcrossRun(const RunRecord& run, const MeasureOptions& options);
// Hits' RTs at or above the limit, of all runs given.
std::vector<double> HitRts(const std::vector<const RunRecord*>& runs, const MeasureOptions& options);
// Counts of values in bins [start + k * width, start + (k + 1) * width).
struct Histogram {
  double start = 0;
  double width = 0;
  std::vector<int32_t> counts;
};
Histogram MakeHistogram(const std::vector<double>& values, double width);
// Uncorrected hit and false-alarm rates per bin of bin_ms across the run (NaN where a bin saw
// no appearance of that kind), each appearance in the bin of its show time: the timing
// record's, else (answered) its response's tick less its RT; an unanswered appearance without a
// timing record is placed between its neighbours' show times. With options that leave
// anticipations out of Hit and FA, those appearances are left out here too.
// True when every appearance of run has a known show time (none is placed between others).
bool ShowTimesKnown(const RunRecord& run);
struct RateBin {
  double start_s = 0;
  double hit_rate = kNoValue;
  double fa_rate = kNoValue;
  int32_t targets = 0;
  int32_t distractors = 0;
};
std::vector<RateBin> RatesAcrossRun(const RunRecord& run, int32_t bin_ms = 10000,
                                    const MeasureOptions& options = {});

}  // namespace pyokoran
