// --simulate N [--hit P] [--false-alarm P] [--rt MU,SIGMA,TAU] [--refresh HZ] [--seed S]
// [--subject ID] [--out DIR]: complete runs with a simulated participant, into a folder of
// their own.
#include <cstdio>

#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "app/working_folder.h"
#include "cli/analysis_modes.h"
#include "simulation/simulator.h"

namespace pyokoran {
namespace {

const CommandOption kSimulate{
    {"simulate"},
    "Run N complete runs of the working folder's settings with a simulated participant and "
    "write them into a folder of their own.",
    "N"};
const CommandOption kHit{{"hit"}, "--simulate: probability of striking a target (default 0.85).", "P"};
const CommandOption kFalseAlarm{
    {"false-alarm"}, "--simulate: probability of striking a distractor (default 0.10).", "P"};
const CommandOption kRt{
    {"rt"}, "--simulate: ex-Gaussian delay from the onset, ms (default 400,50,100).", "MU,SIGMA,TAU"};
const CommandOption kRefresh{{"refresh"}, "--simulate: display refresh, Hz (default 60).", "HZ"};
const CommandOption kSeed{
    {"seed"},
    "--simulate: seed of the first run, 1 to 4294967295 (or as the RndSeed column shows it); "
    "run k uses S + k and is the run --seed S+k --simulate 1 gives.",
    "S"};

// The options as values, or the first problem.
std::string Read(const OptionValues& options, SimulationOptions& o) {
  long long whole = 0;
  if (!ParseWholeNumber(options.Value("simulate"), whole) || whole < 1 || whole > 1000000)
    return "--simulate needs a number of runs from 1 to 1000000.";
  o.runs = int32_t(whole);
  if (options.IsSet("hit") && !ParseDecimalNumber(options.Value("hit"), o.hit))
    return "--hit needs a probability.";
  if (options.IsSet("false-alarm") && !ParseDecimalNumber(options.Value("false-alarm"), o.false_alarm))
    return "--false-alarm needs a probability.";
  if (options.IsSet("rt") && !ParseRtTriple(options.Value("rt"), o.rt_mu, o.rt_sigma, o.rt_tau))
    return "--rt needs MU,SIGMA,TAU in ms, for example 400,50,100.";
  if (options.IsSet("refresh")) {
    if (!ParseWholeNumber(options.Value("refresh"), whole) || whole < INT32_MIN || whole > INT32_MAX)
      return "--refresh needs a whole number of Hz.";
    o.refresh_hz = int32_t(whole);
  }
  if (options.IsSet("seed")) {
    // The RndSeed column shows seeds above 2147483647 as negative numbers: the same seeds.
    if (!ParseWholeNumber(options.Value("seed"), whole) || whole < INT32_MIN || whole > (long long)UINT32_MAX)
      return "--seed needs a whole number from 1 to 4294967295.";
    o.has_seed = true;
    o.seed = uint32_t(whole);
  }
  if (options.IsSet("subject")) {
    o.has_subject = true;
    o.subject = options.Value("subject");
  }
  if (options.IsSet("out")) o.out_dir = options.Value("out");
  // A sentence of its own ends as it is; a Japanese one ends with 。 already.
  std::string problem = CheckSimulationOptions(o);
  const bool ended = problem.empty() || problem.back() == '.' ||
                     (problem.size() >= 3 && problem.compare(problem.size() - 3, 3, "。") == 0);
  return ended ? problem : problem + ".";
}

std::string CheckSimulate(const OptionValues& options) {
  SimulationOptions o;
  return Read(options, o);
}

int RunSimulate(const ModeRun& run) {
  SimulationOptions o;
  Read(run.options, o);
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
    std::printf("%d simulated runs written to %s%c (Hit %d, Miss %d, FA %d, CR %d; %lld appearances)\n",
                result.runs, result.out_dir.c_str(), char(std::filesystem::path::preferred_separator),
                result.totals.Hit, result.totals.Miss,
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
  mode.options = {kSimulate, kHit, kFalseAlarm, kRt, kRefresh, kSeed, SubjectOption(false), AnalysisOutOption(false)};
  mode.check = CheckSimulate;
  mode.run = RunSimulate;
  return mode;
}

}  // namespace pyokoran
