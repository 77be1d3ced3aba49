#include "analysis/measures.h"

#include <gtest/gtest.h>

#include <cmath>
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
  b.rows.back().has_onset_rt = true;  // a false alarm's onset RT is not a hit's
  b.rows[0].has_onset_rt = true;
  b.rows[0].onset_rt = 287.5;
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

// Unanswered appearances carry no time; they fall between the responses around them.
TEST(Measures, RatesAcrossRunPlaceUnansweredAppearancesBetweenResponses) {
  RunRecord run;
  run.TmLimit = 30;
  AppearanceRow miss;
  miss.Tgt = 1;
  AppearanceRow cr;
  run.rows = {Response(1, 400), miss, Response(1, 9000), cr, miss, Response(0, 24000)};
  // Times: 1400, 5700 (between 1400 and 10000), 10000, 15000, 20000, 25000.
  const auto bins = RatesAcrossRun(run, 10000);
  ASSERT_EQ(bins.size(), 3u);
  EXPECT_DOUBLE_EQ(bins[0].hit_rate, 0.5);
  EXPECT_TRUE(std::isnan(bins[0].fa_rate));
  EXPECT_DOUBLE_EQ(bins[1].hit_rate, 1.0);
  EXPECT_DOUBLE_EQ(bins[1].fa_rate, 0.0);
  EXPECT_DOUBLE_EQ(bins[2].hit_rate, 0.0);
  EXPECT_DOUBLE_EQ(bins[2].fa_rate, 1.0);
  EXPECT_EQ(bins[2].start_s, 20);
}

}  // namespace
}  // namespace pyokoran
