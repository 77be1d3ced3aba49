// Simulated participants: complete runs of the working folder's settings through the real
// run preparation, trial loop and result writing, on the scripted platform with a virtual
// display, and a participant who strikes what comes up with set probabilities after an
// ex-Gaussian delay. The runs are written into a folder of their own, marked as simulated,
// never into the working folder's result files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "run/scheduler.h"

namespace pyokoran {

struct SimulationOptions {
  int32_t runs = 1;
  double hit = 0.85;          // probability of striking a target that comes up
  double false_alarm = 0.10;  // probability of striking a distractor that comes up
  double rt_mu = 400;         // ex-Gaussian delay from the onset, ms: normal part's mean,
  double rt_sigma = 50;       //   its SD,
  double rt_tau = 100;        //   and the exponential part's mean
  int32_t refresh_hz = 60;    // the virtual display's refresh
  // Run k gets the seed seed + k, and its participant a seed made from it: run k of a
  // simulation is the run that seed + k alone gives. 1 ... 4294967295 - (runs - 1).
  bool has_seed = false;
  uint32_t seed = 0;
  bool has_subject = false;  // else the subject of the settings
  std::string subject;       // UTF-8
  std::string out_dir = "simulated";
  // Compose every frame as a screen would show it (slower; the files come out the same).
  bool compose_frames = false;
  // Called after every run written: runs done, runs asked for, seconds since the start.
  std::function<void(int32_t done, int32_t total, double seconds)> progress;
};

struct SimulationResult {
  int32_t runs = 0;  // runs written
  ScoreCounters totals;
  int64_t appearances = 0;  // rows written
  std::string out_dir;
};

// A reason when options cannot be simulated, else empty.
std::string CheckSimulationOptions(const SimulationOptions& options);
// "MU,SIGMA,TAU" in ms; false unless three finite numbers, SIGMA and TAU not negative.
bool ParseRtTriple(const std::string& text, double& mu, double& sigma, double& tau);

// Runs options.runs runs with the settings file and stim folder of the current working
// folder, each with its timing record. The output folder is made and marked only once the
// first run is prepared. Every run gets a date and time, one second after the one before,
// that no earlier run in the folder has. False with a reason (the program's own message
// where a run step gave one) when the options, the subject, the output folder or a run
// fail; runs written before stay written.
bool RunSimulation(const SimulationOptions& options, SimulationResult& result,
                   std::string& error);

}  // namespace pyokoran
