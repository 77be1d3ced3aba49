#include "simulation/simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <functional>
#include <ctime>
#include <sstream>
#include <vector>

#include "analysis/report.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(std::filesystem::u8path(name), std::ios::binary) << bytes;
}

struct ExGaussianMoments {
  double mu, sigma, tau;
};
// Method of moments: tau from the skewness (2 tau^3 / sd^3), then mu and sigma.
ExGaussianMoments FitExGaussianByMoments(const std::vector<double>& x) {
  double mean = 0, m2 = 0, m3 = 0;
  for (double v : x) mean += v;
  mean /= double(x.size());
  for (double v : x) {
    m2 += (v - mean) * (v - mean);
    m3 += (v - mean) * (v - mean) * (v - mean);
  }
  m2 /= double(x.size());
  m3 /= double(x.size());
  const double tau = std::cbrt(std::max(m3, 0.0) / 2);
  return {mean - tau, std::sqrt(std::max(m2 - tau * tau, 0.0)), tau};
}

std::string Read(const std::string& name) {
  std::ifstream in(std::filesystem::u8path(name), std::ios::binary);
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
  // The delay runs from the onset: fitted by moments, the reaction times from the onset
  // give back the participant's ex-Gaussian; the booked RT adds the time from the scheduled
  // appearance to the onset and up to a millisecond to book the press.
  std::vector<double> onset_rts;
  double booked_minus_onset = 0;
  for (const RunRecord& r : report.results.runs) {
    for (const AppearanceRow& row : r.rows) {
      if (row.Tgt != 1 || row.Resp != 1) continue;
      ASSERT_TRUE(row.has_onset_rt());
      onset_rts.push_back(row.onset_rt());
      booked_minus_onset += row.RT - row.onset_rt();
    }
  }
  ASSERT_EQ(int64_t(onset_rts.size()), m.Hit);
  const ExGaussianMoments fit = FitExGaussianByMoments(onset_rts);
  EXPECT_NEAR(fit.mu, 350, 6);
  EXPECT_NEAR(fit.sigma, 40, 8);
  EXPECT_NEAR(fit.tau, 80, 6);
  EXPECT_NEAR(m.onset_rt.mean, 430, 3);
  EXPECT_GT(booked_minus_onset / double(onset_rts.size()), 0);
  EXPECT_EQ(m.anticipations, 0);

  // The CSV holds every run, the subject's one condition and the subject.
  const std::string csv = ReportCsv(report);
  size_t lines = 0;
  for (size_t p = 0; (p = csv.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 1u + 300u + 1u + 1u);

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
  EXPECT_NE(error.find("not marked as simulated"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists("lab/SIMULATED.txt"));

  o.out_dir = "sim";
  o.hit = 1.5;
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("--hit"), std::string::npos);
  EXPECT_EQ(Read("ピョコラン.txt"), "real\r\n");
}

// Lines of a result file with the date and time fields (the second and third) left out.
std::vector<std::string> LinesWithoutStamps(const std::string& bytes, char sep) {
  std::vector<std::string> out;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) {
    const size_t a = line.find(sep), b = line.find(sep, a + 1), c = line.find(sep, b + 1);
    out.push_back(c == std::string::npos ? line : line.substr(0, a) + line.substr(c));
  }
  return out;
}

std::vector<std::string> Stamps(const std::string& summary) {
  std::vector<std::string> out;
  std::istringstream in(summary);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const size_t a = line.find('\t');
    out.push_back(line.substr(a + 1, 19));
  }
  return out;
}

// Run k of a simulation with --seed S is the run that seed S + k alone gives: its summary
// line, appearance rows and timing rows, date and time aside.
TEST_F(SimulatorTest, RunKOfASeedIsTheRunOfSeedSPlusKAlone) {
  SimulationOptions o;
  o.runs = 3;
  o.has_seed = true;
  o.seed = 40;
  o.out_dir = "three";
  SimulationResult result;
  std::string error;
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;
  o.runs = 1;
  o.seed = 42;
  o.out_dir = "alone";
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;

  for (const auto& [file, sep] : {std::pair<std::string, char>{"ピョコラン.txt", '\t'},
                                  {"SIM01.csv", ','}, {"SIM01_timing.csv", ','}}) {
    SCOPED_TRACE(file);
    const std::vector<std::string> three = LinesWithoutStamps(Read("three/" + file), sep);
    const std::vector<std::string> alone = LinesWithoutStamps(Read("alone/" + file), sep);
    ASSERT_GT(alone.size(), 1u);
    // The last lines of the three runs are the third run's.
    ASSERT_GE(three.size(), alone.size());
    EXPECT_EQ(std::vector<std::string>(three.end() - ptrdiff_t(alone.size() - 1), three.end()),
              std::vector<std::string>(alone.begin() + 1, alone.end()));
  }
  EXPECT_NE(Read("three/ピョコラン.txt").find("\t42\t"), std::string::npos);
}

// Nobody looks at the virtual display, so its frames are not composed: runs with hits, false
// alarms and slow presses at two refresh rates come out as with every frame drawn.
TEST_F(SimulatorTest, FramesLeftUncomposedGiveTheSameFiles) {
  const struct {
    const char* name;
    int32_t refresh_hz;
    double hit, false_alarm, mu, tau;
  } cases[] = {{"60 Hz", 60, 0.85, 0.10, 400, 100}, {"144 Hz quick", 144, 1.0, 0.5, 150, 10},
               {"30 Hz slow", 30, 0.3, 0.0, 900, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulationOptions o;
    o.runs = 3;
    o.has_seed = true;
    o.seed = 7;
    o.refresh_hz = c.refresh_hz;
    o.hit = c.hit;
    o.false_alarm = c.false_alarm;
    o.rt_mu = c.mu;
    o.rt_tau = c.tau;
    SimulationResult result;
    std::string error;
    o.out_dir = std::string("unseen ") + c.name;
    ASSERT_TRUE(RunSimulation(o, result, error)) << error;
    o.compose_frames = true;
    o.out_dir = std::string("composed ") + c.name;
    ASSERT_TRUE(RunSimulation(o, result, error)) << error;
    for (const auto& [file, sep] : {std::pair<std::string, char>{"ピョコラン.txt", '\t'},
                                    {"ピョコラン_timing.txt", '\t'},
                                    {"SIM01.csv", ','},
                                    {"SIM01_timing.csv", ','}}) {
      SCOPED_TRACE(file);
      const auto unseen = LinesWithoutStamps(Read(std::string("unseen ") + c.name + "/" + file), sep);
      ASSERT_GT(unseen.size(), 3u);
      EXPECT_EQ(unseen, LinesWithoutStamps(Read(std::string("composed ") + c.name + "/" + file), sep));
    }
  }
}

// The virtual display paces frames as the real program would at each refresh rate: each frame
// shown for PresentEvery refreshes, so a creature rises in RiseMs (within one frame), every
// frame stamp lies on that frame grid, and the run's line says so.
TEST_F(SimulatorTest, FramesComeAtTheProgramsPaceForEachRefresh) {
  const struct {
    int32_t hz;
    int present_every;
    double rise_ms;
  } rows[] = {{60, 1, 516.7}, {75, 1, 413.3}, {120, 2, 516.7}, {144, 1, 215.3}, {240, 4, 516.7}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.hz);
    SimulationOptions o;
    o.has_seed = true;
    o.seed = 3;
    o.refresh_hz = row.hz;
    o.out_dir = "at " + std::to_string(row.hz);
    SimulationResult result;
    std::string error;
    ASSERT_TRUE(RunSimulation(o, result, error)) << error;

    const std::string line = Read(o.out_dir + "/ピョコラン_timing.txt");
    std::ostringstream fields;
    fields << '\t' << row.present_every << '\t' << std::fixed << std::setprecision(1) << row.rise_ms << '\t';
    EXPECT_NE(line.find(fields.str()), std::string::npos) << line;

    const double frame_us = 1e6 * row.present_every / row.hz;
    std::istringstream rows_in(Read(o.out_dir + "/SIM01_timing.csv"));
    std::string text;
    std::getline(rows_in, text);
    int checked = 0;
    while (std::getline(rows_in, text)) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      std::vector<std::string> f(1);
      for (char c : text) {
      if (c == ',') {
        f.emplace_back();
      } else {
        f.back().push_back(c);
      }
    }
      ASSERT_GE(f.size(), 15u) << text;
      EXPECT_EQ(f[14], "") << "nothing beyond the mode's bounds: " << text;
      if (f[5].empty() || f[13].empty() || !f[8].empty()) continue;  // a strike stops the rise
      const double first_us = std::stod(f[5]) * 1000, rise_us = std::stod(f[13]) * 1000;
      EXPECT_LT(std::fabs(rise_us - row.rise_ms * 1000), frame_us) << text;
      // Refresh k begins at k / hz seconds, to the microsecond.
      const double frames = first_us / frame_us;
      EXPECT_LT(std::fabs(frames - std::round(frames)) * frame_us, 1.5) << text;
      ++checked;
    }
    EXPECT_GT(checked, 20);
  }
}

// Options and folders that are refused before anything is written.
TEST_F(SimulatorTest, BadOptionsAndFoldersAreRefusedBeforeAnythingIsWritten) {
  std::filesystem::create_directory("timing_only");
  Write("timing_only/ピョコラン_timing.txt", "x\r\n");
  std::filesystem::create_directory("report_only");
  Write("report_only/ピョコラン_report.pdf", "%PDF-");
  Write("a_file", "x");
  const struct {
    const char* name;
    std::function<void(SimulationOptions&)> change;
    const char* in_error;
  } rows[] = {
      {"negative_mean", [](SimulationOptions& o) { o.rt_mu = -50; }, "--rt"},
      {"seed_zero", [](SimulationOptions& o) { o.has_seed = true, o.seed = 0; }, "--seed 0"},
      {"seed_wraps", [](SimulationOptions& o) { o.has_seed = true, o.seed = 4294967295u, o.runs = 2; },
       "4294967294"},
      {"empty_subject", [](SimulationOptions& o) { o.has_subject = true, o.subject = ""; },
       "--subject needs"},
      {"subject_with_slash", [](SimulationOptions& o) { o.has_subject = true, o.subject = "a/b"; },
       "[a/b.csv]"},
      {"subject_with_line_feed",
       [](SimulationOptions& o) { o.has_subject = true, o.subject = "S01\n"; }, "制御文字"},
      {"stim_folder", [](SimulationOptions& o) { o.out_dir = "stim"; }, "stim holds"},
      {"timing_file_only", [](SimulationOptions& o) { o.out_dir = "timing_only"; },
       "ピョコラン_timing.txt"},
      {"report_only", [](SimulationOptions& o) { o.out_dir = "report_only"; }, "report"},
      {"a_file", [](SimulationOptions& o) { o.out_dir = "a_file"; }, "not a folder"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SimulationOptions o;
    o.out_dir = "new";
    row.change(o);
    SimulationResult result;
    std::string error;
    EXPECT_FALSE(RunSimulation(o, result, error));
    EXPECT_NE(error.find(row.in_error), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists("new"));
    EXPECT_FALSE(std::filesystem::exists(o.out_dir + "/SIMULATED.txt"));
  }
  // The subject of the settings is checked as well.
  Write("ピョコラン.ini", "subject = lab/P01\r\n");
  SimulationOptions o;
  o.out_dir = "new";
  SimulationResult result;
  std::string error;
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("[lab/P01.csv]"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists("new"));
}

// Every run gets a date and time that no earlier run of the folder has, also after a
// simulation that was cut short (its torn last summary line included), and none lies
// before today.
TEST_F(SimulatorTest, EveryRunGetsATimeNoEarlierRunHas) {
  SimulationOptions o;
  o.runs = 3;
  o.out_dir = "sim";
  int calls = 0;
  o.progress = [&calls](int32_t done, int32_t total, double seconds) {
    EXPECT_EQ(done, ++calls);
    EXPECT_EQ(total, 3);
    EXPECT_GE(seconds, 0);
  };
  SimulationResult result;
  std::string error;
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;
  EXPECT_EQ(calls, 3);
  // A run cut short while its summary line was written, an hour after the last.
  const std::vector<std::string> first = Stamps(Read("sim/ピョコラン.txt"));
  ASSERT_EQ(first.size(), 3u);
  std::string later = first.back();
  later[11] = char(later[11] + 1);  // the hour's tens digit: 10 hours on
  {
    std::ofstream f(std::filesystem::u8path("sim/ピョコラン.txt"), std::ios::binary | std::ios::app);
    f << "SIM01\t" << later.substr(0, 10) << "\t" << later.substr(11) << "\t6\t3";
  }
  o.progress = nullptr;
  o.runs = 2;
  ASSERT_TRUE(RunSimulation(o, result, error)) << error;
  const std::vector<std::string> all = Stamps(Read("sim/ピョコラン.txt"));
  ASSERT_EQ(all.size(), 5u);  // the torn line was cut off into .partial
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1], all[i]);
  EXPECT_GT(all[3], later);
  const time_t now = std::time(nullptr);
  char today[16];
  std::strftime(today, sizeof today, "%Y/%m/%d", std::localtime(&now));
  EXPECT_GE(all[0].substr(0, 10), std::string(today));
  EXPECT_NE(Read("sim/SIMULATED.txt").find("not when anything happened"), std::string::npos);
}

// Labels far ahead of the clock: the last one 30 days on, and 100 000 runs one second apart
// from now (more seconds than any step-by-step search would try). The new runs come later.
TEST_F(SimulatorTest, NewRunsAreLabelledAfterLabelsFarAhead) {
  const struct {
    const char* name;
    int64_t first_ahead_s;  // the first label's distance from now
    int lines;
  } cases[] = {{"30 days ahead", 30 * 86400, 1}, {"100 000 runs ahead", 1, 100000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::RemoveTree("sim");
    ASSERT_TRUE(test::MakeFolder("sim"));
    Write("sim/SIMULATED.txt", "Simulated runs\n");
    std::string summary =
        "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\tRndSeed\tHit\tMiss"
        "\tCR\tFA\tScore\r\n";
    std::string last;
    for (int i = 0; i < c.lines; ++i) {
      const std::time_t t = std::time(nullptr) + c.first_ahead_s + i;
      char label[32];
      std::strftime(label, sizeof label, "%Y/%m/%d\t%H:%M:%S", std::localtime(&t));
      last = label;
      summary += "OLD\t" + last + "\t6\t3\t12\t1\t2000\t1000\t3000\t30\t7\t0\t0\t0\t0\t0\r\n";
    }
    Write("sim/ピョコラン.txt", summary);
    SimulationOptions o;
    o.runs = 2;
    o.out_dir = "sim";
    SimulationResult result;
    std::string error;
    ASSERT_TRUE(RunSimulation(o, result, error)) << error;
    const std::vector<std::string> all = Stamps(Read("sim/ピョコラン.txt"));
    ASSERT_EQ(all.size(), size_t(c.lines) + 2);
    EXPECT_GT(all[all.size() - 2], last);
    EXPECT_GT(all.back(), all[all.size() - 2]);
  }
}

// A run that cannot be prepared leaves no folder behind.
TEST_F(SimulatorTest, AFailedPreparationLeavesNoFolder) {
  std::filesystem::remove("stim/tgtpokko2.bmp");
  SimulationOptions o;
  o.out_dir = "never";
  SimulationResult result;
  std::string error;
  EXPECT_FALSE(RunSimulation(o, result, error));
  EXPECT_NE(error.find("tgtpokko2.bmp"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists("never"));
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
  for (const char* bad :
       {"", "450,60", "450,60,120,1", "450,-1,100", "-400,50,100", "a,b,c", "450, 60,100"}) {
    EXPECT_FALSE(ParseRtTriple(bad, mu, sigma, tau)) << bad;
  }
}

}  // namespace
}  // namespace pyokoran
