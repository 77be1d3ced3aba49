#include "simulation/simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/report.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string Read(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override {
    TempWorkingDir::CopySampleStimuli();
    Write("ピョコラン.ini", "subject = SIM01\r\ntime_limit = 30\r\n");
    // A participant's data, which no simulation may touch.
    Write("ピョコラン.txt", "real\r\n");
    Write("SIM01.csv", "real\r\n");
  }
  TempWorkingDir dir_;
};

// Pooled over 300 runs, the rates lie within four binomial standard errors of the
// participant's probabilities, d' within the range those bounds allow, and the report reads
// back exactly the counts the runs booked.
TEST_F(SimulatorTest, ThreeHundredRunsMatchTheParticipantAndReadBack) {
  SimulationOptions o;
  o.runs = 300;
  o.hit = 0.8;
  o.false_alarm = 0.2;
  o.rt_mu = 350;
  o.rt_sigma = 40;
  o.rt_tau = 80;
  o.has_seed = true;
  o.seed = 11;
  SimulationResult result;
  std::string error;
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;
  EXPECT_EQ(result.runs, 300);
  EXPECT_EQ(Read("ピョコラン.txt"), "real\r\n");
  EXPECT_EQ(Read("SIM01.csv"), "real\r\n");

  Report report;
  ASSERT_TRUE(BuildReport("simulated", {}, report, error)) << error;
  EXPECT_TRUE(report.results.simulated);
  EXPECT_TRUE(report.results.problems.empty());
  ASSERT_EQ(report.results.runs.size(), 300u);
  ASSERT_EQ(report.subjects.size(), 1u);
  const Measures& m = report.subjects[0].measures;
  EXPECT_EQ(m.Hit, result.totals.Hit);
  EXPECT_EQ(m.Miss, result.totals.Miss);
  EXPECT_EQ(m.FA, result.totals.FA);
  EXPECT_EQ(m.CR, result.totals.CR);
  int64_t rows = 0;
  for (const RunRecord& r : report.results.runs) {
    rows += int64_t(r.rows.size());
    EXPECT_EQ(r.TmLimit, 30);
  }
  EXPECT_EQ(rows, result.appearances);

  const double h_se = 4 * std::sqrt(0.8 * 0.2 / double(m.targets));
  const double f_se = 4 * std::sqrt(0.2 * 0.8 / double(m.distractors));
  EXPECT_NEAR(m.hit_rate, 0.8, h_se);
  EXPECT_NEAR(m.fa_rate, 0.2, f_se);
  EXPECT_GT(m.d_prime, NormalQuantile(0.8 - h_se) - NormalQuantile(0.2 + f_se));
  EXPECT_LT(m.d_prime, NormalQuantile(0.8 + h_se) - NormalQuantile(0.2 - f_se));
  // Ex-Gaussian mean mu + tau, plus up to a frame to see the creature and one to book the press.
  EXPECT_GT(m.hit_rt.mean, 430 - 5);
  EXPECT_LT(m.hit_rt.mean, 430 + 35);
  EXPECT_EQ(m.anticipations, 0);

  // The CSV holds every run and the subject.
  const std::string csv = ReportCsv(report);
  size_t lines = 0;
  for (size_t p = 0; (p = csv.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 1u + 300u + 1u);

  // The same seed plans the same layouts and schedules: a second simulation into its own
  // folder writes the same appearances.
  o.runs = 2;
  o.out_dir = "again";
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;
  Report again;
  ASSERT_TRUE(BuildReport("again", {}, again, error)) << error;
  const RunRecord& first = report.results.runs.back();  // oldest
  const RunRecord& repeat = again.results.runs.back();
  EXPECT_EQ(first.RndSeed, 11);
  EXPECT_EQ(repeat.RndSeed, 11);
  ASSERT_EQ(first.rows.size(), repeat.rows.size());
  for (size_t i = 0; i < first.rows.size(); ++i) {
    EXPECT_EQ(first.rows[i].Hole, repeat.rows[i].Hole);
    EXPECT_EQ(first.rows[i].RT, repeat.rows[i].RT);
  }
}

TEST_F(SimulatorTest, RefusesTheWorkingFolderAndFoldersWithRealResults) {
  SimulationOptions o;
  o.runs = 1;
  SimulationResult result;
  std::string error;
  o.out_dir = ".";
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("folder of their own"), std::string::npos) << error;

  std::filesystem::create_directory("lab");
  Write("lab/P01.csv", "real\r\n");
  o.out_dir = "lab";
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("not simulated"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists("lab/SIMULATED.txt"));

  o.out_dir = "sim";
  o.hit = 1.5;
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("--hit"), std::string::npos);
  EXPECT_EQ(Read("ピョコラン.txt"), "real\r\n");
}

TEST_F(SimulatorTest, AMissingPictureStopsWithTheProgramsMessage) {
  std::filesystem::remove("stim/dstpokko1.bmp");
  SimulationOptions o;
  SimulationResult result;
  std::string error;
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("stim/dstpokko1.bmp"), std::string::npos) << error;
}

TEST(Simulator, RtTripleParsing) {
  double mu, sigma, tau;
  EXPECT_TRUE(ParseRtTriple("450,60.5,0", mu, sigma, tau));
  EXPECT_EQ(sigma, 60.5);
  for (const char* bad : {"", "450,60", "450,60,120,1", "450,-1,100", "a,b,c", "450, 60,100"}) {
    EXPECT_FALSE(ParseRtTriple(bad, mu, sigma, tau)) << bad;
  }
}

}  // namespace
}  // namespace pyokoran
