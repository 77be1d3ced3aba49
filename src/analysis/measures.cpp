#include "analysis/measures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>
#include <unordered_map>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/statistics/univariate_statistics.hpp>

namespace pyokoran {
namespace {

constexpr double kZ975 = 1.959963984540054;  // the normal quantile at 0.975

// Student's t quantile at 0.975 for df degrees of freedom. The report asks for it once per row
// and most rows share a few df, while Boost's inverse is dear: kept per thread as computed.
double T975(int64_t df) {
  thread_local std::unordered_map<int64_t, double> known;
  const auto it = known.find(df);
  if (it != known.end()) return it->second;
  const double q = boost::math::quantile(boost::math::students_t_distribution<double>(double(df)), 0.975);
  if (known.size() < 100000) known.emplace(df, q);
  return q;
}

// The median of many whole numbers within a narrow range, by counting them: what sorting would
// give, without moving hundreds of thousands of values about. False where the values are not
// such (then the caller sorts).
bool CountedMedian(const std::vector<double>& values, double& median) {
  constexpr size_t kMinValues = 4096;
  if (values.size() < kMinValues) return false;
  double lo = values[0], hi = values[0];
  bool whole = true;
  for (const double v : values) {
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
    whole &= v == std::trunc(v) && !(v == 0 && std::signbit(v));
  }
  if (!whole || !(hi - lo < double(8 * values.size()))) return false;
  thread_local std::vector<uint32_t> counts;
  counts.assign(size_t(hi - lo) + 1, 0);
  for (const double v : values) ++counts[size_t(v - lo)];
  const size_t n = values.size();
  // The k-th smallest value, 0-based.
  const size_t first = (n - 1) / 2, second = n / 2;
  double a = 0, b = 0;
  size_t seen = 0;
  bool have_a = false;
  for (size_t i = 0; i < counts.size(); ++i) {
    seen += counts[i];
    if (!have_a && seen > first) {
      a = lo + double(i);
      have_a = true;
    }
    if (seen > second) {
      b = lo + double(i);
      break;
    }
  }
  median = (n & 1) ? a : (a + b) / 2;
  return true;
}

}  // namespace

double NormalQuantile(double p) {
  if (!(p > 0.0 && p < 1.0)) return kNoValue;
  return boost::math::quantile(boost::math::normal_distribution<double>(), p);
}

double DPrime(double hit_rate, double fa_rate) {
  return NormalQuantile(hit_rate) - NormalQuantile(fa_rate);
}

double Criterion(double hit_rate, double fa_rate) {
  return -(NormalQuantile(hit_rate) + NormalQuantile(fa_rate)) / 2.0;
}

RtStats Describe(std::vector<double>& values) {
  RtStats s;
  s.n = int32_t(values.size());
  if (values.empty()) return s;
  s.mean = boost::math::statistics::mean(values);
  if (values.size() >= 2) s.sd = std::sqrt(boost::math::statistics::sample_variance(values));
  if (!CountedMedian(values, s.median)) s.median = boost::math::statistics::median(values);
  if (values.size() >= 2 && std::isfinite(s.sd)) {
    const double half = T975(int64_t(values.size()) - 1) * s.sd / std::sqrt(double(values.size()));
    s.mean_ci = {s.mean - half, s.mean + half};
  }
  return s;
}

Interval WilsonInterval(int64_t k, int64_t n) {
  if (n <= 0 || k < 0 || k > n) return {};
  const double z2 = kZ975 * kZ975, nn = double(n), p = double(k) / nn;
  const double centre = (p + z2 / (2 * nn)) / (1 + z2 / nn);
  const double half = kZ975 / (1 + z2 / nn) * std::sqrt(p * (1 - p) / nn + z2 / (4 * nn * nn));
  return {std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

double DPrimeStandardError(double h, double f, int64_t n_targets, int64_t n_distractors) {
  const double zh = NormalQuantile(h), zf = NormalQuantile(f);
  if (!std::isfinite(zh) || !std::isfinite(zf) || n_targets <= 0 || n_distractors <= 0) return kNoValue;
  const boost::math::normal_distribution<double> normal;
  const double ph = boost::math::pdf(normal, zh), pf = boost::math::pdf(normal, zf);
  return std::sqrt(h * (1 - h) / (double(n_targets) * ph * ph) +
                   f * (1 - f) / (double(n_distractors) * pf * pf));
}

RunSpread SpreadOverRuns(const std::vector<const Measures*>& runs) {
  auto spread = [&](double Measures::*field, bool rt) {
    std::vector<double> values;
    for (const Measures* m : runs) {
      const double v = rt ? m->hit_rt.mean : m->*field;
      if (std::isfinite(v)) values.push_back(v);
    }
    Spread s;
    s.n = int32_t(values.size());
    if (!values.empty()) s.mean = boost::math::statistics::mean(values);
    if (values.size() >= 2) s.sd = std::sqrt(boost::math::statistics::sample_variance(values));
    return s;
  };
  RunSpread r;
  r.hit_rate = spread(&Measures::hit_rate, false);
  r.fa_rate = spread(&Measures::fa_rate, false);
  r.d_prime = spread(&Measures::d_prime, false);
  r.criterion = spread(&Measures::criterion, false);
  r.hit_rt_mean = spread(nullptr, true);
  return r;
}

Measures Measure(const std::vector<const RunRecord*>& runs, const MeasureOptions& options) {
  Measures m;
  // Kept from call to call: a report measures thousands of runs and pools them.
  thread_local std::vector<double> hit_rts, fa_rts, onset_rts;
  hit_rts.clear();
  fa_rts.clear();
  onset_rts.clear();
  for (const RunRecord* run : runs) {
    int64_t hit = run->Hit, fa = run->FA;
    for (const AppearanceRow& r : run->rows) {
      if (!r.Resp) continue;
      if (r.RT < options.anticipation_ms) {
        ++m.anticipations;
        // Out of the counts too, as far as the run's counts hold the response.
        int64_t& count = r.Tgt ? hit : fa;
        if (options.exclude_anticipations && count > 0) {
          --count;
          ++m.anticipations_excluded;
        }
        continue;
      }
      if (!RtCounts(r.RT, options)) {
        ++m.over_rt_limit;
        continue;
      }
      (r.Tgt ? hit_rts : fa_rts).push_back(r.RT);
      if (r.Tgt && r.has_onset_rt() && (!options.onset_locked_only || run->presentation == "locked")) {
        if (r.onset_rt_flagged()) {
          ++m.onset_rt_flagged;
          if (options.exclude_flagged_onsets) continue;
        }
        onset_rts.push_back(r.onset_rt());
      }
    }
    m.Hit += hit;
    m.Miss += run->Miss;
    m.FA += fa;
    m.CR += run->CR;
  }
  m.targets = m.Hit + m.Miss;
  m.distractors = m.FA + m.CR;
  if (m.targets > 0) {
    m.hit_rate = double(m.Hit) / double(m.targets);
    m.hit_rate_ll = (double(m.Hit) + 0.5) / (double(m.targets) + 1.0);
  }
  if (m.distractors > 0) {
    m.fa_rate = double(m.FA) / double(m.distractors);
    m.fa_rate_ll = (double(m.FA) + 0.5) / (double(m.distractors) + 1.0);
  }
  m.d_prime = DPrime(m.hit_rate_ll, m.fa_rate_ll);
  m.criterion = Criterion(m.hit_rate_ll, m.fa_rate_ll);
  m.hit_rate_ci = WilsonInterval(m.Hit, m.targets);
  m.fa_rate_ci = WilsonInterval(m.FA, m.distractors);
  m.d_prime_se = DPrimeStandardError(m.hit_rate_ll, m.fa_rate_ll, m.targets, m.distractors);
  if (std::isfinite(m.d_prime) && std::isfinite(m.d_prime_se))
    m.d_prime_ci = {m.d_prime - kZ975 * m.d_prime_se, m.d_prime + kZ975 * m.d_prime_se};
  m.hit_rt = Describe(hit_rts);
  m.fa_rt = Describe(fa_rts);
  m.onset_rt = Describe(onset_rts);
  return m;
}

std::vector<RtPoint> HitRtAcrossRun(const RunRecord& run, const MeasureOptions& options) {
  std::vector<RtPoint> points;
  for (const AppearanceRow& r : run.rows) {
    if (r.Tgt && r.Resp && RtCounts(r.RT, options)) points.push_back({double(r.TotalRT), double(r.RT)});
  }
  return points;
}

std::vector<double> HitRts(const std::vector<const RunRecord*>& runs, const MeasureOptions& options) {
  // Counted first: over thousands of runs a growing vector would hold up to three times as much.
  size_t n = 0;
  for (const RunRecord* run : runs) {
    for (const AppearanceRow& r : run->rows) n += r.Tgt && r.Resp && RtCounts(r.RT, options);
  }
  std::vector<double> rts;
  rts.reserve(n);
  for (const RunRecord* run : runs) {
    for (const AppearanceRow& r : run->rows) {
      if (r.Tgt && r.Resp && RtCounts(r.RT, options)) rts.push_back(r.RT);
    }
  }
  return rts;
}

bool ShowTimesKnown(const RunRecord& run) {
  for (const AppearanceRow& r : run.rows) {
    if (r.ShowMs < 0 && !r.Resp) return false;
  }
  return true;
}

Histogram MakeHistogram(const std::vector<double>& values, double width) {
  Histogram h;
  h.width = width;
  if (values.empty() || !(width > 0)) return h;
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  h.start = std::floor(*lo / width) * width;
  const double bins = std::floor((*hi - h.start) / width) + 1;
  h.counts.assign(size_t(std::min(bins, 10000.0)), 0);
  for (double v : values) {
    const size_t k = std::min(size_t((v - h.start) / width), h.counts.size() - 1);
    ++h.counts[k];
  }
  return h;
}

std::vector<RateBin> RatesAcrossRun(const RunRecord& run, int32_t bin_ms, const MeasureOptions& options) {
  std::vector<RateBin> bins;
  if (bin_ms <= 0 || run.rows.empty()) return bins;
  // Show times: the timing record's, else a response's tick less its RT, else between the
  // neighbours whose show time is known.
  const size_t n = run.rows.size();
  std::vector<double> t(n, -1);
  for (size_t i = 0; i < n; ++i) {
    const AppearanceRow& r = run.rows[i];
    if (r.ShowMs >= 0) t[i] = r.ShowMs;
    else if (r.Resp) t[i] = std::max(0.0, double(r.TotalRT) - double(r.RT));
  }
  double before = 0;
  for (size_t i = 0; i < n; ++i) {
    if (t[i] >= 0) {
      before = t[i];
      continue;
    }
    size_t j = i;
    while (j < n && t[j] < 0) ++j;
    const double after = j < n ? t[j] : std::max(before, double(run.TmLimit) * 1000.0);
    for (size_t k = i; k < j; ++k) t[k] = before + (after - before) * double(k - i + 1) / double(j - i + 1);
    i = j - 1;
  }
  std::vector<int32_t> hit, miss, fa, cr;
  for (size_t i = 0; i < n; ++i) {
    const double clamped = std::clamp(t[i], 0.0, 1e7);
    const size_t k = size_t(clamped / bin_ms);
    if (k >= hit.size()) {
      hit.resize(k + 1);
      miss.resize(k + 1);
      fa.resize(k + 1);
      cr.resize(k + 1);
    }
    const AppearanceRow& r = run.rows[i];
    if (options.exclude_anticipations && r.Resp && r.RT < options.anticipation_ms) continue;
    if (r.Tgt) ++(r.Resp ? hit : miss)[k];
    else ++(r.Resp ? fa : cr)[k];
  }
  for (size_t k = 0; k < hit.size(); ++k) {
    RateBin b;
    b.start_s = double(k) * bin_ms / 1000.0;
    b.targets = hit[k] + miss[k];
    b.distractors = fa[k] + cr[k];
    if (b.targets) b.hit_rate = double(hit[k]) / b.targets;
    if (b.distractors) b.fa_rate = double(fa[k]) / b.distractors;
    bins.push_back(b);
  }
  return bins;
}

}  // namespace pyokoran
