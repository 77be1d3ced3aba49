#include "simulation/simulator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/math/distributions/normal.hpp>

#include "analysis/result_reader.h"
#include "app/my_app.h"
#include "app/program.h"
#include "display/surfaces.h"
#include "platform/cp932.h"
#include "platform/fake/fake_platform.h"
#include "platform/regular_file.h"
#include "preparation/run_preparation.h"
#include "results/result_files.h"
#include "run/run_sequence.h"
#include "settings/experiment_settings.h"
#include "settings/settings_file.h"

namespace pyokoran {
namespace {

constexpr const char* kCannotWriteMessage = "データファイルを開くことができません";
// The virtual screen is the stage itself: screen pixels are stage pixels.
constexpr ScreenSize kSimulatedScreen{kStageWidth, kStageHeight};

// The participant: watches the creatures come up, decides once per appearance whether to
// strike it, and presses on its hole after an ex-Gaussian delay from the first moment it
// was seen. A delay that outlasts the appearance strikes nothing.
class SimulatedParticipant {
 public:
  SimulatedParticipant(const SimulationOptions& o, uint64_t seed) : options_(o), random_(seed) {}

  void BeginRun() {
    for (Pending& p : planned_) p = Pending{};
    for (int32_t& s : seen_) s = -1;
  }

  // Called at every event delivery of the trial loop.
  void Act(const Program& program, PointerHandler* pointer, int32_t now) {
    const Scheduler& s = program.scheduler;
    const int count = std::clamp(s.creature_count, 0, kMaxCreatures);
    bool pressed = false;
    for (int i = 0; i < count; ++i) {
      const CreatureSlot& slot = s.slots[i];
      if (!slot.up) continue;
      if (seen_[i] != slot.shown_at) {
        // A new appearance.
        seen_[i] = slot.shown_at;
        const double p = slot.target ? options_.hit : options_.false_alarm;
        planned_[i] = Pending{};
        if (Unit() < p) planned_[i] = {true, slot.shown_at, now + Delay()};
      }
      Pending& plan = planned_[i];
      if (!pressed && plan.active && plan.shown_at == slot.shown_at && !slot.hit &&
          now >= plan.at && pointer) {
        const HoleCentre& c = program.layout.holes[std::clamp(slot.hole, 0, kMaxHoles - 1)];
        pointer->OnButtonDown(MouseButton::Left, c.x, c.y);
        pointer->OnButtonUp(MouseButton::Left);
        plan.active = false;
        pressed = true;  // one press per delivery; the next waits a pass
      }
    }
  }

 private:
  struct Pending {
    bool active = false;
    int32_t shown_at = 0;
    double at = 0;
  };

  double Unit() { return double(random_() >> 11) * 0x1.0p-53; }
  double Delay() {
    const double u = std::clamp(Unit(), 1e-12, 1.0 - 1e-12);
    const double normal = boost::math::quantile(boost::math::normal_distribution<double>(
                                                    options_.rt_mu, std::max(options_.rt_sigma, 1e-9)), u);
    const double exponential = -options_.rt_tau * std::log1p(-Unit());
    return std::max(0.0, normal + exponential);
  }

  const SimulationOptions& options_;
  std::mt19937_64 random_;
  Pending planned_[kMaxCreatures];
  int32_t seen_[kMaxCreatures];
};

// The scripted platform as a virtual display: presents only keep time (refresh pacing, no
// copy of the frame), each yield is one millisecond, and every event delivery lets the
// participant act.
class SimulationPlatform : public FakePlatform {
 public:
  SimulationPlatform() {
    screen = kSimulatedScreen;
    yield_ms = 1;
  }
  Program* program = nullptr;
  SimulatedParticipant* participant = nullptr;
  std::atomic<int32_t>* tick = nullptr;

  void PumpEvents() override {
    if (participant && program && tick) participant->Act(*program, pointer(), tick->load());
  }
  void YieldSlice() override {
    AdvanceMs(yield_ms);
    us_ += 1000 * int64_t(yield_ms);
  }
  void Present(const Surface&, const Rect&) override {
    ++frames_presented;
    if (refresh_hz <= 0 || !tick_running()) return;
    const int64_t period = 1000000 / refresh_hz;
    const int64_t next = (us_ / period + 1) * period;
    while (tick_running() && us_ + 1000 <= next) {
      AdvanceMs(1);
      us_ += 1000;
    }
    us_ = next;
  }
  void DrawText(Surface&, const Rect&, const std::string&, int32_t, uint32_t) override {}
  bool StartTickThread(std::atomic<int32_t>& t, void (*hook)(int32_t)) override {
    us_ = 0;
    tick = &t;
    return FakePlatform::StartTickThread(t, hook);
  }

 private:
  int64_t us_ = 0;
};

// Goes back to the folder it was made in when it ends.
class FolderGuard {
 public:
  FolderGuard() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderGuard() {
    if (fd_ >= 0) {
      if (fchdir(fd_) != 0) std::perror("pyokoran: cannot return to the working folder");
      close(fd_);
    }
  }
  FolderGuard(const FolderGuard&) = delete;
  FolderGuard& operator=(const FolderGuard&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool IsResultFile(const std::filesystem::path& p) {
  return p.filename() == kSummaryFileName || p.extension() == ".csv" ||
         p.filename() == "ピョコラン.ini";
}

// Makes the output folder, or checks an existing one: it must not be the working folder
// and must not hold results that are not marked as simulated.
bool PrepareOutputFolder(const std::string& out, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (out.empty()) {
    error = "the output folder is empty";
    return false;
  }
  fs::create_directories(out, ec);
  if (!fs::is_directory(out, ec)) {
    error = "cannot make the output folder " + out + (ec ? ": " + ec.message() : "");
    return false;
  }
  if (fs::equivalent(out, ".", ec)) {
    error = "the simulated runs need a folder of their own: " + out + " is the working folder";
    return false;
  }
  if (!fs::exists(fs::path(out) / kSimulatedMarkFile, ec)) {
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
      if (IsResultFile(it->path())) {
        error = out + " holds result files that are not simulated; choose another --out folder";
        return false;
      }
    }
  }
  return !ec || (error = "cannot read " + out + ": " + ec.message(), false);
}

std::string DescribeSimulation(const SimulationOptions& o, const ExperimentSettings& s) {
  char text[512];
  std::snprintf(text, sizeof text,
                "%d runs; hit %.4g, false alarm %.4g, RT mu %.4g sigma %.4g tau %.4g ms, refresh %d Hz, "
                "seed %s; settings %d/%d creatures, %d holes, duration %d, pauses %d-%d ms, %d s",
                o.runs, o.hit, o.false_alarm, o.rt_mu, o.rt_sigma, o.rt_tau, o.refresh_hz,
                o.has_seed ? std::to_string(o.seed).c_str() : "from the settings", s.n_tgtpokko,
                s.n_dstpokko, s.n_holes, s.duration, s.isi1, s.isi2, s.time_limit);
  return text;
}

// The mark: what wrote this folder, appended once per simulation; ends with the calendar
// second of the last run so that a later simulation continues after it.
bool AppendMark(const std::string& out, const std::string& line) {
  const std::string path = (std::filesystem::path(out) / kSimulatedMarkFile).string();
  std::FILE* f = FopenRegular(path.c_str(), "ab");
  if (!f) return false;
  const bool ok = std::fputs(line.c_str(), f) >= 0;
  return std::fclose(f) == 0 && ok;
}

int64_t LastMarkedTime(const std::string& out) {
  const std::string path = (std::filesystem::path(out) / kSimulatedMarkFile).string();
  std::FILE* f = FopenRegular(path.c_str(), "rb");
  if (!f) return 0;
  char line[1024];
  int64_t last = 0;
  while (std::fgets(line, sizeof line, f)) {
    long long t = 0;
    if (std::sscanf(line, "last run at %lld", &t) == 1) last = t;
  }
  std::fclose(f);
  return last;
}

std::string LastMessage(const FakePlatform& platform) {
  return platform.messages.empty() ? std::string("a run step failed")
                                   : platform.messages.back().text;
}

}  // namespace

std::string CheckSimulationOptions(const SimulationOptions& o) {
  auto probability = [](double p) { return p >= 0.0 && p <= 1.0; };
  if (o.runs < 1) return "the number of runs must be at least 1";
  if (!probability(o.hit)) return "--hit must lie between 0 and 1";
  if (!probability(o.false_alarm)) return "--false-alarm must lie between 0 and 1";
  if (!std::isfinite(o.rt_mu) || !(o.rt_sigma >= 0) || !(o.rt_tau >= 0) ||
      !std::isfinite(o.rt_sigma) || !std::isfinite(o.rt_tau) || std::fabs(o.rt_mu) > 1e7 ||
      o.rt_sigma > 1e7 || o.rt_tau > 1e7)
    return "--rt needs MU,SIGMA,TAU in ms with SIGMA and TAU not negative";
  if (o.refresh_hz < 1 || o.refresh_hz > 1000) return "--refresh must lie between 1 and 1000 Hz";
  if (o.has_subject) {
    std::string cp932;
    if (o.subject.empty() || !Utf8ToCp932(o.subject, cp932))
      return "--subject must be text that code page 932 can hold";
  }
  return {};
}

bool ParseRtTriple(const std::string& text, double& mu, double& sigma, double& tau) {
  double v[3];
  const char* p = text.data();
  const char* end = p + text.size();
  for (int i = 0; i < 3; ++i) {
    auto [q, ec] = std::from_chars(p, end, v[i]);
    if (ec != std::errc() || !std::isfinite(v[i])) return false;
    p = q;
    if (i < 2) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  if (p != end || v[1] < 0 || v[2] < 0) return false;
  mu = v[0];
  sigma = v[1];
  tau = v[2];
  return true;
}

bool RunSimulation(const SimulationOptions& options, SimulationResult& result, std::string& error) {
  result = SimulationResult{};
  result.out_dir = options.out_dir;
  error = CheckSimulationOptions(options);
  if (!error.empty()) return false;

  FolderGuard work;
  if (work.fd() < 0) {
    error = std::string("cannot open the working folder: ") + std::strerror(errno);
    return false;
  }
  if (!PrepareOutputFolder(options.out_dir, error)) return false;
  const int out = open(options.out_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (out < 0) {
    error = "cannot open " + options.out_dir + ": " + std::strerror(errno);
    return false;
  }
  struct CloseOut {
    int fd;
    ~CloseOut() { close(fd); }
  } close_out{out};

  auto platform = std::make_unique<SimulationPlatform>();
  auto program = std::make_unique<Program>(*platform);  // the log is too big for the stack
  platform->refresh_hz = options.refresh_hz;
  platform->program = program.get();

  // The settings as the program would start with them.
  program->settings_file.Load(kProgramName);
  ReadSettings(program->settings_file, program->settings);
  std::string subject = program->settings.subject;
  if (options.has_subject) Utf8ToCp932(options.subject, subject);
  if (!InitDisplay(*platform, program->display) || !InitMsTimer(*platform, program->timer)) {
    error = "the virtual display did not start";
    return false;
  }

  uint64_t participant_seed = options.has_seed ? options.seed : std::random_device{}();
  SimulatedParticipant participant(options, participant_seed * 0x9E3779B97F4A7C15ull + 1);
  platform->participant = &participant;

  // Calendar times: one run after the other, the last one now, after any earlier simulation
  // in the same folder.
  const int64_t step = int64_t(std::max(program->settings.time_limit, 0)) + 10;
  int64_t first = int64_t(std::time(nullptr)) - step * (options.runs - 1);
  if (fchdir(out) != 0) {
    error = "cannot enter " + options.out_dir;
    return false;
  }
  first = std::max(first, LastMarkedTime(".") + step);
  if (!AppendMark(".", "Simulated runs written by pyokoran --simulate; not a participant's data.\n" +
                           DescribeSimulation(options, program->settings) + "\n")) {
    error = "cannot write the mark file in " + options.out_dir;
    return false;
  }

  for (int32_t k = 0; k < options.runs; ++k) {
    platform->now_seconds = first + step * k;
    platform->messages.clear();
    platform->calls.clear();
    platform->dialogs_opened.clear();
    FakePlatform::DialogAnswer answer;
    answer.edit = [&](ConditionControls& c) {
      c.subject = subject;
      if (options.has_seed) c.seed = std::to_string(uint32_t(options.seed + uint32_t(k)));
    };
    platform->dialog_answers.clear();
    platform->dialog_answers.push_back(std::move(answer));

    // Preparation reads the stimuli of the working folder; the run writes into out.
    if (fchdir(work.fd()) != 0 || !PrepareRun(*program)) {
      error = "run " + std::to_string(k + 1) + " could not be prepared: " + LastMessage(*platform);
      return false;
    }
    ReleaseAllSurfaces(program->display);  // nothing is looked at: no drawing
    participant.BeginRun();
    if (fchdir(out) != 0) {
      error = "cannot enter " + options.out_dir;
      return false;
    }
    platform->CreateExperimentWindow(program->touch_wnd);
    BindClipper(*platform, program->display, WindowId::Experiment);
    const int completed = RunSequence(*program);
    WriteResultFiles(*program, completed);
    BindClipper(*platform, program->display, WindowId::Main);
    platform->DestroyExperimentWindow();
    for (const auto& m : platform->messages) {
      if (m.text == kCannotWriteMessage) {
        error = "run " + std::to_string(k + 1) + ": " + m.text + " (" + options.out_dir + ")";
        return false;
      }
    }
    const ScoreCounters& c = program->scheduler.counters;
    result.totals.Hit += c.Hit;
    result.totals.Miss += c.Miss;
    result.totals.FA += c.FA;
    result.totals.CR += c.CR;
    result.appearances += std::clamp(program->scheduler.log.count, 0, kLogCountLimit);
    ++result.runs;
  }
  AppendMark(".", "last run at " + std::to_string(first + step * (options.runs - 1)) + "\n");
  ShutdownDisplay(*platform, program->display);
  return true;
}

}  // namespace pyokoran
