#include "simulation/simulator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string_view>
#include <vector>

#include <boost/math/distributions/normal.hpp>

#include "analysis/result_reader.h"
#include "platform/file_system.h"
#include "platform/number_text.h"
#include "platform/utf8_path.h"
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
#include "results/run_completeness.h"
#include "results/subject_id.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

// The virtual screen is the stage itself: screen pixels are stage pixels.
constexpr ScreenSize kSimulatedScreen{kStageWidth, kStageHeight};

// The participant: watches the creatures come up, decides once per appearance whether to
// strike it, and presses on its hole an ex-Gaussian delay after the frame that first showed
// any of it (the timing record's onset), the press carrying that moment as its event time.
// A delay that outlasts the appearance strikes nothing.
class SimulatedParticipant {
 public:
  explicit SimulatedParticipant(const SimulationOptions& o) : options_(o) {}

  // Every run starts afresh from its own seed, so a run never depends on the runs before it.
  void BeginRun(uint64_t seed) {
    random_.seed(seed);
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
      Pending& plan = planned_[i];
      if (seen_[i] != slot.shown_at) {
        // A new appearance: decided at once, so the draws come in a fixed order.
        seen_[i] = slot.shown_at;
        const double p = slot.target ? options_.hit : options_.false_alarm;
        plan = Pending{};
        if (Unit() < p) plan = {true, slot.shown_at, kNoTime, std::llround(Delay() * 1000.0)};
      }
      if (!plan.active || plan.shown_at != slot.shown_at || slot.hit) continue;
      if (plan.at_us == kNoTime) {
        const AppearanceTiming& seen = program.timing.slots[i].appearance;
        if (seen.shown_at != slot.shown_at || seen.onset_us == kNoTime) continue;
        plan.at_us = seen.onset_us + plan.delay_us;
      }
      if (!pressed && pointer && int64_t(now) * 1000 >= plan.at_us) {
        const HoleCentre& c = program.layout.holes[std::clamp(slot.hole, 0, kMaxHoles - 1)];
        pointer->OnEventTime(plan.at_us, EventTimeSource::Event);
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
    int64_t at_us = kNoTime;  // when the press happens, once the onset is known
    int64_t delay_us = 0;     // from the onset
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

// The scripted platform as a virtual display: each hole's picture is drawn as in a real run
// until it shows whether the creature is visible (the onset is found in it), the stage is not
// composed as nobody looks at it, presents wait for the display's refresh, each yield is one
// millisecond, and every event delivery lets the participant act.
class SimulationPlatform : public FakePlatform {
 public:
  SimulationPlatform() {
    screen = kSimulatedScreen;
    yield_ms = 1;
    keep_frames = false;
  }
  Program* program = nullptr;
  SimulatedParticipant* participant = nullptr;
  std::atomic<int32_t>* tick = nullptr;

  void PumpEvents() override {
    FakePlatform::PumpEvents();
    if (participant && program && tick) participant->Act(*program, pointer(), tick->load());
  }
  void DrawText(Surface&, const Rect&, const std::string&, int32_t, uint32_t) override {}
  bool StartTickThread(std::atomic<int32_t>& t, void (*hook)(int32_t)) override {
    tick = &t;
    return FakePlatform::StartTickThread(t, hook);
  }
  bool GetPresentationReport(PresentationReport& report) override {
    FakePlatform::GetPresentationReport(report);
    report.mode = "simulated";
    report.reason = "virtual display";
    return true;
  }
};

// Goes back to the folder it was made in when it ends.
class FolderGuard {
 public:
  FolderGuard() { folder_.Open("."); }
  ~FolderGuard() {
    if (folder_.valid() && !folder_.Enter()) {
      std::perror("pyokoran: cannot return to the working folder");
    }
  }
  FolderGuard(const FolderGuard&) = delete;
  FolderGuard& operator=(const FolderGuard&) = delete;
  const FolderHandle& folder() const { return folder_; }

 private:
  FolderHandle folder_;
};

// Any file the program reads or writes in a working folder, its stimuli and its reports.
bool IsProgramFile(const std::filesystem::path& p) {
  const std::string name = Utf8FromPath(p.filename());
  const std::string ext = Utf8FromPath(p.extension());
  for (const char* own :
       {kSummaryFileName, "ピョコラン.ini", "ピョコラン.ini.bak", "ピョコラン.ini.tmp",
        kTimingSummaryFileName, kIncompleteRunsFileName, "ピョコラン_report.pdf", "ピョコラン_report.html", "stim",
        "bg.bmp", "tgtpokko1.bmp", "tgtpokko2.bmp", "dstpokko1.bmp", "dstpokko2.bmp",
        "tgtpokko.wav", "dstpokko.wav"}) {
    if (name == own) return true;
  }
  return ext == ".csv" || ext == ".partial";
}

// An output folder is new, or already marked as simulated, or holds none of the program's
// files: never the working folder. Nothing is made here.
bool CheckOutputFolder(const std::string& out, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (out.empty()) {
    error = "the output folder is empty";
    return false;
  }
  const fs::file_status status = fs::status(PathFromUtf8(out), ec);
  if (status.type() == fs::file_type::not_found) return true;
  if (!fs::is_directory(status)) {
    error = "cannot use " + out + " as the output folder: it is not a folder";
    return false;
  }
  if (fs::equivalent(PathFromUtf8(out), ".", ec)) {
    error = "the simulated runs need a folder of their own: " + out + " is the working folder";
    return false;
  }
  if (!fs::exists(PathFromUtf8(out) / kSimulatedMarkFile, ec)) {
    for (fs::directory_iterator it(PathFromUtf8(out), ec), end; !ec && it != end; it.increment(ec)) {
      if (IsProgramFile(it->path())) {
        error = out + " holds the program's files (" + Utf8FromPath(it->path().filename()) +
                ") and is not marked as simulated; choose another --out folder";
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

bool AppendMark(const std::string& out, const std::string& line) {
  const std::string path = Utf8FromPath(PathFromUtf8(out) / kSimulatedMarkFile);
  std::FILE* f = FopenRegular(path.c_str(), "ab");
  if (!f) return false;
  const bool ok = std::fputs(line.c_str(), f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// "YYYY/MM/DD HH:MM:SS": ordered as the times it names.
std::string StampKey(const Stamp& s) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", s.year, s.month, s.day,
                s.hour, s.minute, s.second);
  return text;
}

// The latest date and time any run in the summary file of the current folder carries, torn
// last line included (empty when none): a simulation cut short leaves its runs there.
std::string LatestRunKey() {
  std::FILE* f = FopenRegular(kSummaryFileName, "rb");
  if (!f) return {};
  char latest[20] = "";  // "YYYY/MM/DD HH:MM:SS", empty when none yet
  auto take = [&](std::string_view line) {
    // Subject, date and time are the first three fields; the date and time are the last two
    // fields before the fourteen numbers, as a subject holds no tab.
    const size_t t1 = line.find('\t');
    if (t1 == std::string_view::npos || line.size() < t1 + 21 || line[t1 + 11] != '\t' || line[t1 + 20] != '\t') return;
    char key[20];
    std::memcpy(key, line.data() + t1 + 1, 10);
    key[10] = ' ';
    std::memcpy(key + 11, line.data() + t1 + 12, 8);
    key[19] = '\0';
    if (std::memchr(key, '\t', 19)) return;
    if (key[0] >= '0' && key[0] <= '9' && std::strcmp(key, latest) > 0) std::memcpy(latest, key, sizeof key);
  };
  // Block by block, each line looked at where it lies (only a line across two blocks is
  // copied, and only its start): a summary file of gigabytes is read in seconds.
  std::vector<char> block(size_t(1) << 18);
  std::string carry;  // the start of a line that goes on in the next block
  for (size_t n; (n = std::fread(block.data(), 1, block.size(), f)) > 0;) {
    const char* p = block.data();
    const char* const end = p + n;
    while (p < end) {
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
      if (!lf) {
        if (carry.size() < 4096) carry.append(p, std::min<size_t>(size_t(end - p), 4096 - carry.size()));
        break;
      }
      if (carry.empty()) {
        take(std::string_view(p, size_t(lf - p)));
      } else {
        if (carry.size() < 4096) carry.append(p, std::min<size_t>(size_t(lf - p), 4096 - carry.size()));
        take(carry);
        carry.clear();
      }
      p = lf + 1;
    }
  }
  if (!carry.empty()) take(carry);
  std::fclose(f);
  return latest;
}

// The second of the local time a key "YYYY/MM/DD HH:MM:SS" names, or a little before it
// around a change of the clocks; -1 when it names none.
int64_t SecondsOfKey(const std::string& key) {
  std::tm t{};
  if (std::sscanf(key.c_str(), "%d/%d/%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                  &t.tm_sec) != 6)
    return -1;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&t);
  return seconds == std::time_t(-1) ? -1 : int64_t(seconds) - 2 * 3600;
}

std::string LastMessage(const FakePlatform& platform) {
  return platform.messages.empty() ? std::string("a run step failed")
                                   : platform.messages.back().text;
}

// The participant's seed of a run with the given program seed.
uint64_t ParticipantSeed(uint32_t run_seed) {
  return uint64_t(run_seed) * 0x9E3779B97F4A7C15ull + 1;
}

}  // namespace

std::string CheckSimulationOptions(const SimulationOptions& o) {
  auto probability = [](double p) { return p >= 0.0 && p <= 1.0; };
  if (o.runs < 1) return "the number of runs must be at least 1";
  if (!probability(o.hit)) return "--hit must lie between 0 and 1";
  if (!probability(o.false_alarm)) return "--false-alarm must lie between 0 and 1";
  if (!std::isfinite(o.rt_mu) || !(o.rt_mu >= 0) || !(o.rt_sigma >= 0) || !(o.rt_tau >= 0) ||
      !std::isfinite(o.rt_sigma) || !std::isfinite(o.rt_tau) || o.rt_mu > 1e7 ||
      o.rt_sigma > 1e7 || o.rt_tau > 1e7)
    return "--rt needs MU,SIGMA,TAU in ms, none of them negative";
  if (o.refresh_hz < 1 || o.refresh_hz > 1000) return "--refresh must lie between 1 and 1000 Hz";
  if (o.has_seed && o.seed == 0)
    return "--seed 0 would draw the seed from the clock; give a seed from 1 to 4294967295";
  if (o.has_seed && uint64_t(o.seed) + uint64_t(o.runs) - 1 > UINT32_MAX)
    return "--seed S gives run k the seed S + k, which must stay within 4294967295: with " +
           std::to_string(o.runs) + " runs S can be at most " +
           std::to_string(uint64_t(UINT32_MAX) - uint64_t(o.runs) + 1);
  if (o.has_subject) {
    std::string cp932;
    if (o.subject.empty()) return "--subject needs a subject ID";
    if (!Utf8ToCp932(o.subject, cp932)) return "--subject must be text that code page 932 can hold";
    const std::string problem = SubjectIdProblem(cp932);
    if (!problem.empty()) return "--subject: " + problem;
  }
  return {};
}

bool ParseRtTriple(const std::string& text, double& mu, double& sigma, double& tau) {
  double v[3];
  const char* p = text.data();
  const char* end = p + text.size();
  for (int i = 0; i < 3; ++i) {
    auto [q, ec] = DecimalFromChars(p, end, v[i]);
    if (ec != std::errc() || !std::isfinite(v[i])) return false;
    p = q;
    if (i < 2) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  if (p != end || v[0] < 0 || v[1] < 0 || v[2] < 0) return false;
  mu = v[0];
  sigma = v[1];
  tau = v[2];
  return true;
}

bool RunSimulation(const SimulationOptions& options, SimulationResult& result, std::string& error) {
  namespace fs = std::filesystem;
  result = SimulationResult{};
  result.out_dir = options.out_dir;
  error = CheckSimulationOptions(options);
  if (!error.empty()) return false;

  FolderGuard work;
  if (!work.folder().valid()) {
    error = std::string("cannot open the working folder: ") + std::strerror(errno);
    return false;
  }
  if (!CheckOutputFolder(options.out_dir, error)) return false;

  auto platform = std::make_unique<SimulationPlatform>();
  auto program = std::make_unique<Program>(*platform);  // the log is too big for the stack
  platform->refresh_hz = options.refresh_hz;
  platform->program = program.get();

  // The settings as the program would start with them.
  program->settings_file.Load(kProgramName);
  ReadSettings(program->settings_file, program->settings);
  std::string subject = program->settings.subject;
  if (options.has_subject) Utf8ToCp932(options.subject, subject);
  if (const std::string problem = SubjectIdProblem(subject); !problem.empty()) {
    error = "the subject of the settings cannot be used: " + problem;
    return false;
  }
  if (!InitDisplay(*platform, program->display) || !InitMsTimer(*platform, program->timer)) {
    error = "the virtual display did not start";
    return false;
  }
  program->display.frames_unseen = !options.compose_frames;  // nobody looks at the virtual display

  SimulatedParticipant participant(options);
  platform->participant = &participant;
  std::random_device entropy;

  FolderHandle out;
  const auto started = std::chrono::steady_clock::now();
  int64_t when = 0;
  std::string latest;

  for (int32_t k = 0; k < options.runs; ++k) {
    platform->messages.clear();
    platform->calls.clear();
    platform->dialogs_opened.clear();
    const uint32_t run_seed = uint32_t(options.seed + uint32_t(k));
    FakePlatform::DialogAnswer answer;
    answer.edit = [&](ConditionControls& c) {
      c.subject = subject;
      if (options.has_seed) c.seed = std::to_string(run_seed);
    };
    platform->dialog_answers.clear();
    platform->dialog_answers.push_back(std::move(answer));

    // Preparation reads the stimuli of the working folder; the run writes into out.
    if (!work.folder().Enter() || !PrepareRun(*program)) {
      error = "run " + std::to_string(k + 1) + " could not be prepared: " + LastMessage(*platform);
      return false;
    }
    if (k == 0) {
      // The first run is ready: only now is the folder made and marked.
      std::error_code ec;
      const bool made = fs::create_directories(PathFromUtf8(options.out_dir), ec);
      if (!out.Open(options.out_dir) || !out.Enter() ||
          !AppendMark(".", "Simulated runs written by pyokoran --simulate; not a participant's data.\n" +
                               DescribeSimulation(options, program->settings) +
                               "\nDates and times label the runs in the order they were "
                               "simulated, one second apart and after every earlier run in this "
                               "folder; they are not when anything happened.\n")) {
        error = "cannot write into the output folder " + options.out_dir +
                (ec ? ": " + ec.message() : std::string());
        if (work.folder().Enter() && made) {
          fs::remove(PathFromUtf8(options.out_dir) / kSimulatedMarkFile, ec);
          fs::remove(PathFromUtf8(options.out_dir), ec);
        }
        return false;
      }
      latest = LatestRunKey();
      when = int64_t(std::time(nullptr));
    } else if (!out.Enter()) {
      error = "cannot enter " + options.out_dir;
      return false;
    }
    // A date and time later than every run in this folder has, however far ahead of the
    // clock they are: from just before the latest label (local clocks can repeat an hour),
    // second by second.
    if (k == 0 && !latest.empty()) when = std::max(when, SecondsOfKey(latest));
    for (int guard = 0; StampKey(LocalStamp(when)) <= latest && guard < 4 * 24 * 3600; ++guard) ++when;
    if (StampKey(LocalStamp(when)) <= latest) {
      error = "no date and time can label a run after the latest one in " + options.out_dir + " (" + latest + ")";
      return false;
    }
    latest = StampKey(LocalStamp(when));
    platform->now_seconds = when++;

    participant.BeginRun(options.has_seed ? ParticipantSeed(run_seed)
                                          : (uint64_t(entropy()) << 32 | entropy()));
    platform->CreateExperimentWindow(program->touch_wnd);
    BindClipper(*platform, program->display, WindowId::Experiment);
    const int completed = RunSequence(*program);
    const int written = WriteResultFiles(*program, completed);
    BindClipper(*platform, program->display, WindowId::Main);
    platform->DestroyExperimentWindow();
    if (written == 0) {
      error = "run " + std::to_string(k + 1) + ": " + LastMessage(*platform) + " (" + options.out_dir + ")";
      return false;
    }
    const ScoreCounters& c = program->scheduler.counters;
    result.totals.Hit += c.Hit;
    result.totals.Miss += c.Miss;
    result.totals.FA += c.FA;
    result.totals.CR += c.CR;
    result.appearances += std::clamp(program->scheduler.log.count, 0, kLogCountLimit);
    ++result.runs;
    if (options.progress) {
      options.progress(result.runs, options.runs,
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
  }
  ShutdownDisplay(*platform, program->display);
  return true;
}

}  // namespace pyokoran
