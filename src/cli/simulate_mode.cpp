// --simulate N [--hit P] [--false-alarm P] [--rt MU,SIGMA,TAU] [--refresh HZ] [--seed S]
// [--subject ID] [--out DIR]: complete runs with a simulated participant, into a folder of
// their own.
#include <cstdio>

#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>

#include "app/working_folder.h"
#include "cli/analysis_modes.h"
#include "simulation/simulator.h"

namespace pyokoran {
namespace {

const QCommandLineOption kSimulate(
    "simulate",
    "Run N complete runs of the working folder's settings with a simulated participant and "
    "write them into a folder of their own.",
    "N");
const QCommandLineOption kHit("hit", "--simulate: probability of striking a target (default 0.85).", "P");
const QCommandLineOption kFalseAlarm(
    "false-alarm", "--simulate: probability of striking a distractor (default 0.10).", "P");
const QCommandLineOption kRt(
    "rt", "--simulate: ex-Gaussian delay from the onset, ms (default 400,50,100).", "MU,SIGMA,TAU");
const QCommandLineOption kRefresh("refresh", "--simulate: display refresh, Hz (default 60).", "HZ");
const QCommandLineOption kSeed(
    "seed",
    "--simulate: seed of the first run, 1 to 4294967295 (or as the RndSeed column shows it); "
    "run k uses S + k and is the run --seed S+k --simulate 1 gives.",
    "S");
const QCommandLineOption kSubject = SubjectOption();

// The options as values, or the first problem.
std::string Read(const QCommandLineParser& parser, SimulationOptions& o) {
  bool ok = false;
  o.runs = parser.value(kSimulate).toInt(&ok);
  if (!ok || o.runs < 1 || o.runs > 1000000) return "--simulate needs a number of runs from 1 to 1000000.";
  if (parser.isSet(kHit)) {
    o.hit = parser.value(kHit).toDouble(&ok);
    if (!ok) return "--hit needs a probability.";
  }
  if (parser.isSet(kFalseAlarm)) {
    o.false_alarm = parser.value(kFalseAlarm).toDouble(&ok);
    if (!ok) return "--false-alarm needs a probability.";
  }
  if (parser.isSet(kRt) &&
      !ParseRtTriple(parser.value(kRt).toStdString(), o.rt_mu, o.rt_sigma, o.rt_tau))
    return "--rt needs MU,SIGMA,TAU in ms, for example 400,50,100.";
  if (parser.isSet(kRefresh)) {
    o.refresh_hz = parser.value(kRefresh).toInt(&ok);
    if (!ok) return "--refresh needs a whole number of Hz.";
  }
  if (parser.isSet(kSeed)) {
    // The RndSeed column shows seeds above 2147483647 as negative numbers: the same seeds.
    const qlonglong seed = parser.value(kSeed).toLongLong(&ok);
    if (!ok || seed < INT32_MIN || seed > qlonglong(UINT32_MAX))
      return "--seed needs a whole number from 1 to 4294967295.";
    o.has_seed = true;
    o.seed = uint32_t(seed);
  }
  if (parser.isSet(kSubject)) {
    o.has_subject = true;
    o.subject = parser.value(kSubject).toStdString();
  }
  if (parser.isSet(AnalysisOutOption())) o.out_dir = parser.value(AnalysisOutOption()).toStdString();
  const std::string problem = CheckSimulationOptions(o);
  return problem.empty() ? "" : problem + ".";
}

std::string CheckSimulate(const QCommandLineParser& parser) {
  SimulationOptions o;
  return Read(parser, o);
}

int RunSimulate(const ModeRun& run) {
  SimulationOptions o;
  Read(run.parser, o);
  std::string error;
  if (!run.folder.empty() && !EnterWorkingFolder(run.folder, error)) {
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  // Progress on stderr every few seconds, with an estimate of the time left.
  auto last = std::make_shared<double>(0.0);
  o.progress = [last](int32_t done, int32_t total, double seconds) {
    if (done == total || seconds - *last < 5.0) return;
    *last = seconds;
    const double left = seconds / done * (total - done);
    std::fprintf(stderr, "pyokoran: %d of %d runs (%.0f runs/s), about %.0f min %02.0f s left\n",
                 done, total, done / seconds, std::floor(left / 60), std::fmod(left, 60.0));
  };
  SimulationResult result;
  const bool done = RunSimulation(o, result, error);
  if (result.runs > 0) {
    std::printf("%d simulated runs written to %s/ (Hit %d, Miss %d, FA %d, CR %d; %lld appearances)\n",
                result.runs, result.out_dir.c_str(), result.totals.Hit, result.totals.Miss,
                result.totals.FA, result.totals.CR, static_cast<long long>(result.appearances));
  }
  if (!done) {
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

CommandMode SimulateMode() {
  CommandMode mode;
  mode.options = {kSimulate, kHit, kFalseAlarm, kRt, kRefresh, kSeed, kSubject, AnalysisOutOption()};
  mode.check = CheckSimulate;
  mode.run = RunSimulate;
  return mode;
}

}  // namespace pyokoran
