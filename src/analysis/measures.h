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
};

struct RtStats {
  int32_t n = 0;
  double mean = kNoValue;
  double median = kNoValue;
  double sd = kNoValue;  // sample SD (n - 1); none below two values
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
  RtStats hit_rt;                 // hits at or above the anticipation limit
  RtStats fa_rt;                  // false alarms at or above the limit
  int32_t anticipations = 0;      // hits and false alarms below the limit (negative ones too)
  RtStats onset_rt;               // hits' reaction time from the onset, where recorded
};

// The standard normal quantile; NaN outside (0, 1).
double NormalQuantile(double p);
// d' and c from two rates as given (no correction); NaN when a rate is 0, 1 or missing.
double DPrime(double hit_rate, double fa_rate);
double Criterion(double hit_rate, double fa_rate);
// Mean, median and sample SD of values (reordered).
RtStats Describe(std::vector<double>& values);

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
// no appearance of that kind). An appearance without a response carries no time in the
// file: it is placed between the responses logged before and after it.
struct RateBin {
  double start_s = 0;
  double hit_rate = kNoValue;
  double fa_rate = kNoValue;
  int32_t targets = 0;
  int32_t distractors = 0;
};
std::vector<RateBin> RatesAcrossRun(const RunRecord& run, int32_t bin_ms = 10000);

}  // namespace pyokoran
