#include "analysis/measures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>
#include <ostream>

namespace pyokoran {
namespace {

// Rates, d' and c checked by hand (log-linear: +0.5 to the counts, +1 to the totals).
struct SdtCase {
  const char* name;
  int32_t Hit, Miss, FA, CR;
  double hit_rate, fa_rate, hit_ll, fa_ll, d_prime, criterion;  // NaN: no value
  friend std::ostream& operator<<(std::ostream& os, const SdtCase& c) { return os << c.name; }
};

const double N = kNoValue;
const SdtCase kSdtCases[] = {
    // The correction matters: uncorrected, H = 1 and F = 0 give an infinite d'.
    {"PerfectHitsNoFalseAlarms", 20, 0, 0, 10, 1.0, 0.0, 0.976190, 0.045455, 3.671374, -0.145065},
    {"TextbookNearPointEightFour", 840, 160, 160, 840, 0.84, 0.16, 0.839660, 0.160340, 1.986126, 0.0},
    {"BelowChance", 3, 7, 9, 1, 0.3, 0.9, 0.318182, 0.863636, -1.569593, -0.312007},
    {"EmptyRun", 0, 0, 0, 0, N, N, N, N, N, N},
    {"TargetsOnly", 5, 5, 0, 0, 0.5, N, 0.5, N, N, N},
};

class SdtTest : public testing::TestWithParam<SdtCase> {};

void ExpectNear(double actual, double expected, const char* what) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << what << " = " << actual;
  } else {
    EXPECT_NEAR(actual, expected, 1e-5) << what;
  }
}

TEST_P(SdtTest, RatesDPrimeAndCriterion) {
  const SdtCase& c = GetParam();
  RunRecord run;
  run.Hit = c.Hit;
  run.Miss = c.Miss;
  run.FA = c.FA;
  run.CR = c.CR;
  const Measures m = Measure({&run}, {});
  EXPECT_EQ(m.targets, c.Hit + c.Miss);
  EXPECT_EQ(m.distractors, c.FA + c.CR);
  ExpectNear(m.hit_rate, c.hit_rate, "hit rate");
  ExpectNear(m.fa_rate, c.fa_rate, "false-alarm rate");
  ExpectNear(m.hit_rate_ll, c.hit_ll, "corrected hit rate");
  ExpectNear(m.fa_rate_ll, c.fa_ll, "corrected false-alarm rate");
  ExpectNear(m.d_prime, c.d_prime, "d'");
  ExpectNear(m.criterion, c.criterion, "c");
}

INSTANTIATE_TEST_SUITE_P(Measures, SdtTest, testing::ValuesIn(kSdtCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Measures, TextbookRatesGiveDPrimeTwoAndNeutralCriterion) {
  EXPECT_NEAR(DPrime(0.84, 0.16), 1.9889, 1e-4);
  EXPECT_NEAR(Criterion(0.84, 0.16), 0.0, 1e-12);
  EXPECT_TRUE(std::isnan(DPrime(1.0, 0.2)));
}

AppearanceRow Response(int32_t tgt, int32_t rt) {
  AppearanceRow r;
  r.Tgt = tgt;
  r.Resp = 1;
  r.RT = rt;
  r.TotalRT = 1000 + rt;
  return r;
}

// Negative and anticipatory RTs are counted apart and kept out of the RT figures, not out
// of the counts; RTs pool over a subject's runs.
TEST(Measures, AnticipationsAreCountedApartAndLeftOutOfRtFigures) {
  RunRecord a, b;
  for (int32_t rt : {-20, 100, 149, 150}) a.rows.push_back(Response(1, rt));
  for (int32_t rt : {300, 450}) b.rows.push_back(Response(1, rt));
  a.rows.push_back(Response(0, 80));
  b.rows.push_back(Response(0, 500));
  b.rows.back().SetOnsetRt(0);  // a false alarm's onset RT is not a hit's
  b.rows[0].SetOnsetRt(287.5);
  a.Hit = 4;
  b.Hit = 2;
  a.FA = b.FA = 1;

  const Measures m = Measure({&a, &b}, {});
  EXPECT_EQ(m.Hit, 6);
  EXPECT_EQ(m.anticipations, 4);
  EXPECT_EQ(m.hit_rt.n, 3);
  EXPECT_DOUBLE_EQ(m.hit_rt.mean, 300);
  EXPECT_DOUBLE_EQ(m.hit_rt.median, 300);
  EXPECT_DOUBLE_EQ(m.hit_rt.sd, 150);
  EXPECT_EQ(m.fa_rt.n, 1);
  EXPECT_DOUBLE_EQ(m.fa_rt.mean, 500);
  EXPECT_TRUE(std::isnan(m.fa_rt.sd));
  EXPECT_EQ(m.onset_rt.n, 1);
  EXPECT_DOUBLE_EQ(m.onset_rt.mean, 287.5);

  MeasureOptions none;
  none.anticipation_ms = -1000;
  EXPECT_EQ(Measure({&a, &b}, none).hit_rt.n, 6);
}

// 95% intervals against values worked out by hand.
TEST(Measures, IntervalsAgainstHandWorkedValues) {
  const struct {
    int64_t k, n;
    double low, high;
  } wilson[] = {{8, 10, 0.490162, 0.943318}, {0, 10, 0.0, 0.277533}, {10, 10, 0.722467, 1.0},
                {84, 100, 0.755797, 0.899047}};
  for (const auto& c : wilson) {
    const Interval i = WilsonInterval(c.k, c.n);
    EXPECT_NEAR(i.low, c.low, 1e-6) << c.k << "/" << c.n;
    EXPECT_NEAR(i.high, c.high, 1e-6) << c.k << "/" << c.n;
  }
  EXPECT_TRUE(std::isnan(WilsonInterval(0, 0).low));

  EXPECT_NEAR(DPrimeStandardError(0.84, 0.16, 100, 100), 0.213084, 1e-6);
  EXPECT_TRUE(std::isnan(DPrimeStandardError(1.0, 0.16, 100, 100)));
  EXPECT_TRUE(std::isnan(DPrimeStandardError(0.84, 0.16, 100, 0)));

  // t with 2 degrees of freedom: 300 -/+ 4.302653 * 150 / sqrt(3).
  std::vector<double> rts = {150, 450, 300};
  const RtStats s = Describe(rts);
  EXPECT_NEAR(s.mean_ci.low, -72.6207, 1e-3);
  EXPECT_NEAR(s.mean_ci.high, 672.6207, 1e-3);
  std::vector<double> one = {300};
  EXPECT_TRUE(std::isnan(Describe(one).mean_ci.low));

  // A run's d' interval is its d' -/+ 1.96 standard errors.
  RunRecord run;
  run.Hit = 84, run.Miss = 16, run.FA = 16, run.CR = 84;
  const Measures m = Measure({&run}, {});
  EXPECT_NEAR(m.d_prime - m.d_prime_ci.low, 1.959964 * m.d_prime_se, 1e-6);
  EXPECT_NEAR(m.d_prime_ci.high - m.d_prime, 1.959964 * m.d_prime_se, 1e-6);
  EXPECT_NEAR(m.hit_rate_ci.low, 0.755797, 1e-6);
}

// Left out of the counts as well, on request: the appearance counts in neither Hit nor the
// targets (nor FA and the distractors), so the rates are those of the other appearances.
TEST(Measures, AnticipationsLeftOutOfHitAndFaOnRequest) {
  RunRecord run;
  for (int32_t rt : {-20, 100, 400, 500}) run.rows.push_back(Response(1, rt));
  run.rows.push_back(Response(0, 90));
  run.rows.push_back(Response(0, 600));
  run.Hit = 4, run.Miss = 4, run.FA = 2, run.CR = 8;

  MeasureOptions exclude;
  exclude.exclude_anticipations = true;
  const Measures kept = Measure({&run}, {}), left_out = Measure({&run}, exclude);
  EXPECT_EQ(kept.Hit, 4);
  EXPECT_EQ(kept.anticipations_excluded, 0);
  EXPECT_EQ(left_out.Hit, 2);
  EXPECT_EQ(left_out.targets, 6);
  EXPECT_EQ(left_out.FA, 1);
  EXPECT_EQ(left_out.distractors, 9);
  EXPECT_DOUBLE_EQ(left_out.hit_rate, 2.0 / 6.0);
  EXPECT_EQ(left_out.anticipations, 3);
  EXPECT_EQ(left_out.anticipations_excluded, 3);
  EXPECT_EQ(left_out.hit_rt.n, kept.hit_rt.n);  // RT figures never held them

  // Rows that disagree with the counts never take a count below zero.
  RunRecord cut = run;
  cut.Hit = 1, cut.FA = 0;
  const Measures m = Measure({&cut}, exclude);
  EXPECT_EQ(m.Hit, 0);
  EXPECT_EQ(m.FA, 0);
  EXPECT_EQ(m.anticipations_excluded, 1);
}

TEST(Measures, SpreadOverRunsLeavesOutRunsWithoutTheValue) {
  Measures a, b, c;
  a.d_prime = 1.0, b.d_prime = 3.0;  // c has no d'
  a.hit_rt.mean = 400;
  const RunSpread s = SpreadOverRuns({&a, &b, &c});
  EXPECT_DOUBLE_EQ(s.d_prime.mean, 2.0);
  EXPECT_DOUBLE_EQ(s.d_prime.sd, std::sqrt(2.0));
  EXPECT_EQ(s.d_prime.n, 2);
  EXPECT_DOUBLE_EQ(s.hit_rt_mean.mean, 400);
  EXPECT_TRUE(std::isnan(s.hit_rt_mean.sd));
  EXPECT_TRUE(std::isnan(s.hit_rate.mean));
}

// Each appearance counts in the bin of its show time: the timing record's, else a response's
// tick less its RT, else (unanswered, no record) between its neighbours' show times. The log
// books a miss when the creature goes down, after later appearances' responses.
TEST(Measures, RatesAcrossRunPlaceEveryAppearanceAtItsShowTime) {
  RunRecord run;
  run.TmLimit = 60;
  AppearanceRow miss;
  miss.Tgt = 1;
  miss.ShowMs = 29700;
  AppearanceRow cr;  // no timing record: between 29 700 and 34 500
  auto response = [](int32_t tgt, int32_t rt, int32_t total) {
    AppearanceRow r = Response(tgt, rt);
    r.TotalRT = total;
    return r;
  };
  run.rows = {response(1, 400, 1400), response(1, 500, 35000), miss, cr, response(0, 600, 45000)};
  const auto bins = RatesAcrossRun(run, 10000);
  ASSERT_EQ(bins.size(), 5u);
  EXPECT_DOUBLE_EQ(bins[0].hit_rate, 1.0);
  EXPECT_EQ(bins[1].targets + bins[1].distractors, 0);
  EXPECT_DOUBLE_EQ(bins[2].hit_rate, 0.0);  // the miss shown at 29.7 s
  EXPECT_DOUBLE_EQ(bins[3].hit_rate, 1.0);
  EXPECT_DOUBLE_EQ(bins[3].fa_rate, 0.0);
  EXPECT_DOUBLE_EQ(bins[4].fa_rate, 1.0);
  EXPECT_FALSE(ShowTimesKnown(run));
  run.rows[3].ShowMs = 32000;
  EXPECT_TRUE(ShowTimesKnown(run));

  // Anticipations left out of Hit and FA leave the rates too: the hit at 400 ms goes.
  MeasureOptions exclude;
  exclude.anticipation_ms = 450;
  exclude.exclude_anticipations = true;
  const auto without = RatesAcrossRun(run, 10000, exclude);
  ASSERT_EQ(without.size(), 5u);
  EXPECT_EQ(without[0].targets, 0);
  EXPECT_DOUBLE_EQ(without[3].hit_rate, 1.0);
}

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

// Many values take another way to their median (counted where they are whole and close
// together): it must be the sorted middle all the same, for odd and even counts, negative
// values, a wide range and values that are not whole.
TEST(Describe, MedianOfManyValuesIsTheSortedMiddle) {
  const std::vector<std::vector<double>> sets = [] {
    std::vector<std::vector<double>> s;
    for (size_t n : {4096u, 4097u, 10001u}) {
      std::vector<double> v;
      for (size_t i = 0; i < n; ++i) v.push_back(double((i * 7919) % 3001) - 200);  // -200..2800, shuffled
      s.push_back(v);
    }
    std::vector<double> wide = s[0];
    wide.back() = 1e9;  // too wide to count
    s.push_back(wide);
    std::vector<double> halves = s[1];
    halves[5] += 0.5;  // not whole
    s.push_back(halves);
    std::vector<double> even_gap(5000, 100.0);
    for (size_t i = 2500; i < 5000; ++i) even_gap[i] = 301.0;  // the middle two differ
    s.push_back(even_gap);
    return s;
  }();
  for (size_t k = 0; k < sets.size(); ++k) {
    std::vector<double> sorted = sets[k];
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double expected = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::vector<double> values = sets[k];
    EXPECT_EQ(Describe(values).median, expected) << "set " << k;
  }
}

}  // namespace
}  // namespace pyokoran
