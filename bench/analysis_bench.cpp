// Time of the simulated participant and of the report.
//  - Simulation: complete 60-s runs of the default settings at 60 Hz through preparation
//    (stimuli loaded from the folder's stim/), trial loop and result writing. Goal: < 10 ms
//    per run. CPU time is the figure; the wall time also waits for the result files' fsync.
//  - Report: 10 000 runs of 50 subjects (the simulated runs, appearance files and timing
//    records, repeated under other subjects and times). First the library alone (reading,
//    measuring, the CSV, then the HTML report) in a process of its own, so that its peak memory
//    is its own, and the same runs measured again with another limit (what the window does for
//    a new limit); then, where the program is built beside this bench, the program's own
//    `--report` (CSV, side file, schemas, groups, PDF and HTML) three times, each beside `cat`
//    reading the same files. Goals: < 1 s, at most 3 x the CPU of cat, < 100 MB peak RSS.
//    Then --trials: the extra CPU of the trial file beside cp writing the same bytes.
//
//   analysis_bench [folder holding stim/] [simulated runs, default 100]
//   analysis_bench --report-only FOLDER   (what the bench runs in that process)
// With ANALYSIS_BENCH_KEEP set, the folder of 10 000 runs is kept (for a profiler).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/html_report.h"
#include "analysis/report.h"
#include "simulation/simulator.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double WallMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The body of a result file (header dropped) as copy `copy` of itself: each run's subject
// replaced by subject and its date and time by one of its own, run k of copy c becoming run
// c * batch + k, 70 s after the one before.
std::string Retimed(const std::string& body, int copy, const std::string& subject, char sep,
                    std::map<std::string, int>& order) {
  std::string out;
  out.reserve(body.size());
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size() - 1;
    std::string line = body.substr(start, end + 1 - start);
    start = end + 1;
    const size_t a = line.find(sep), b = line.find(sep, a + 1), c = line.find(sep, b + 1);
    if (c == std::string::npos) continue;
    std::string stamp = line.substr(a + 1, c - a - 1);
    stamp[b - a - 1] = ' ';  // the same key in both files
    const auto [it, added] = order.emplace(stamp, int(order.size()));
    const time_t t = time_t(1798761600) + time_t(copy) * 86400 * 7 + time_t(it->second) * 70;
    tm when{};
    gmtime_r(&t, &when);
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d%c%02d:%02d:%02d", (when.tm_year + 1900) % 10000,
                  (when.tm_mon + 1) % 100, when.tm_mday % 100, sep, when.tm_hour % 100, when.tm_min % 100,
                  when.tm_sec % 100);
    out += subject + sep + text + line.substr(c);
  }
  return out;
}

// A child's CPU time (user + system), wall time and peak RSS.
struct ChildFigures {
  double cpu_ms = 0, wall_ms = 0, peak_mb = 0;
};

// Runs argv[0] with argv, its output to /dev/null; false when it fails.
bool RunChild(const std::vector<std::string>& args, ChildFigures& figures, bool quiet) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  const double wall0 = WallMs();
  const pid_t child = fork();
  if (child == 0) {
    if (quiet) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
        _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return false;
  figures.wall_ms = WallMs() - wall0;
  figures.cpu_ms = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  figures.peak_mb = double(usage.ru_maxrss) / 1024.0;
  return true;
}

}  // namespace

// The report of folder alone: its time, and the figures the parent prints.
int ReportOnly(const char* folder) {
  using namespace pyokoran;
  Report report;
  std::string error;
  const double rc0 = CpuMs(), rw0 = WallMs();
  if (!BuildReport(folder, {}, report, error)) {
    std::fprintf(stderr, "analysis_bench: %s\n", error.c_str());
    return 1;
  }
  const std::string csv = ReportCsv(report);
  const double rcpu = CpuMs() - rc0, rwall = WallMs() - rw0;
  const double hc0 = CpuMs(), hw0 = WallMs();
  const std::string html = ReportHtml(report);
  const double hcpu = CpuMs() - hc0, hwall = WallMs() - hw0;
  size_t appearances = 0;
  for (const RunRecord& r : report.results.runs) appearances += r.rows.size();
  std::printf("  report: %zu runs, %zu appearances, %zu subjects: %.0f ms wall, %.0f ms CPU (goal < 1000 ms), CSV %zu bytes\n",
              report.results.runs.size(), appearances, report.subjects.size(), rwall, rcpu, csv.size());
  std::printf("  HTML report after it: %.0f ms wall, %.0f ms CPU, %zu bytes\n", hwall, hcpu, html.size());
  // A new anticipation limit in the window: the runs read measured again.
  report.options.anticipation_ms = 300;
  const double mc0 = CpuMs(), mw0 = WallMs();
  MeasureReport(report);
  std::printf("  measured again with another limit: %.0f ms wall, %.0f ms CPU\n", WallMs() - mw0, CpuMs() - mc0);
  return 0;
}

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace pyokoran;
  if (argc == 3 && std::string(argv[1]) == "--report-only") return ReportOnly(argv[2]);
  const fs::path stim_folder = fs::absolute(argc > 1 ? argv[1] : ".");
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;

  char pattern[] = "/tmp/pyokoran-analysis-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;
  fs::copy(stim_folder / "stim", work / "stim", fs::copy_options::recursive);
  if (chdir(work.c_str()) != 0) return 1;

  SimulationOptions o;
  o.runs = runs;
  o.has_seed = true;
  o.seed = 1;
  SimulationResult result;
  std::string error;
  const double cpu0 = CpuMs(), wall0 = WallMs();
  if (!RunSimulation(o, result, error)) {
    std::fprintf(stderr, "analysis_bench: %s\n", error.c_str());
    return 1;
  }
  const double cpu = CpuMs() - cpu0, wall = WallMs() - wall0;
  std::printf("analysis_bench: %d simulated 60-s runs (default settings, 60 Hz, stimuli loaded)\n", runs);
  std::printf("  simulation: %.2f ms CPU per run (goal < 10 ms), %.2f ms wall per run with fsync\n",
              cpu / runs, wall / runs);

  // 10 000 runs of 50 subjects: the simulated ones repeated.
  fs::create_directory("big");
  const int copies = (10000 + runs - 1) / runs;
  constexpr int kSubjects = 50;
  std::map<std::string, int> order;  // original date and time of each run: its place in a copy
  std::map<std::string, std::string> headers;
  for (const char* name : {"ピョコラン.txt", "ピョコラン_timing.txt", "SBJ0000.csv", "SBJ0000_timing.csv"}) {
    const std::string text = Read(fs::path("simulated") / name);
    const std::string header = text.substr(0, text.find('\n') + 1);
    const std::string body = text.substr(header.size());
    const bool summary = name[0] != 'S';  // the summaries: one file, tab-separated
    for (int k = 0; k < copies; ++k) {
      char subject[16];
      std::snprintf(subject, sizeof subject, "S%03d", k % kSubjects);
      std::string file = summary ? std::string(name) : std::string(name).replace(0, 7, subject);
      std::ofstream out(fs::path("big") / file, std::ios::binary | std::ios::app);
      if (headers.emplace(file, header).second) out << header;
      out << Retimed(body, k, subject, summary ? '\t' : ',', order);
    }
  }
  fs::copy_file(fs::path("simulated") / kSimulatedMarkFile, fs::path("big") / kSimulatedMarkFile);
  std::fflush(stdout);
  // The library's report in a process of its own, for its own peak memory (files read from the
  // page cache).
  ChildFigures library;
  if (!RunChild({"/proc/self/exe", "--report-only", "big"}, library, false)) return 1;
  std::printf("  report process: peak RSS %.1f MB (goal < 100 MB)\n", library.peak_mb);
  // The program's own --report, where it is built beside this bench.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const fs::path program = n > 0 ? fs::path(std::string(self, size_t(n))).parent_path() / "pyokoran" : fs::path();
  if (!program.empty() && fs::exists(program)) {
    // What --report reads: the two summaries and each subject's appearance and timing files.
    std::vector<std::string> cat = {"/bin/cat"};
    uint64_t bytes = 0;
    for (const auto& entry : fs::directory_iterator("big")) {
      if (entry.path().extension() == ".csv" || entry.path().extension() == ".txt") {
        cat.push_back(entry.path().string());
        bytes += entry.file_size();
      }
    }
    std::printf("  %s --report over the same folder (CSV, side file, schemas, groups, PDF, HTML), each beside cat "
                "reading its %.0f MB:\n",
                program.c_str(), double(bytes) / 1e6);
    for (int i = 0; i < 3; ++i) {
      ChildFigures f, c;
      if (!RunChild(cat, c, true) || !RunChild({program.string(), "--report", "big", "--out", "report"}, f, true)) {
        std::fprintf(stderr, "analysis_bench: %s --report failed\n", program.c_str());
        return 1;
      }
      std::printf("    %.0f ms CPU (user + system), %.0f ms wall (goal < 1000 ms), peak RSS %.1f MB (goal < 100 MB); "
                  "cat %.0f ms CPU: %.1f x (goal <= 3 x)\n",
                  f.cpu_ms, f.wall_ms, f.peak_mb, c.cpu_ms, f.cpu_ms / std::max(1.0, c.cpu_ms));
    }
    // The trial file: the CPU it adds to --report, beside cp writing its bytes anew.
    for (int i = 0; i < 3; ++i) {
      ChildFigures plain, trials, cp;
      if (!RunChild({program.string(), "--report", "big", "--out", "report"}, plain, true) ||
          !RunChild({program.string(), "--report", "big", "--out", "report", "--trials", "trials.csv"}, trials, true) ||
          !RunChild({"/bin/cp", "trials.csv", "trials-copy.csv"}, cp, true)) {
        std::fprintf(stderr, "analysis_bench: --trials failed\n");
        return 1;
      }
      const double extra = trials.cpu_ms - plain.cpu_ms;
      std::printf("    --trials (%.0f MB): %.0f ms CPU more, peak RSS %.1f MB; cp of the file %.0f ms CPU: %.1f x\n",
                  double(fs::file_size("trials.csv")) / 1e6, extra, trials.peak_mb, cp.cpu_ms,
                  extra / std::max(1.0, cp.cpu_ms));
      fs::remove("trials-copy.csv");
    }
  }
  if (chdir("/") != 0) return 1;
  // Kept for a profiler when asked.
  if (std::getenv("ANALYSIS_BENCH_KEEP")) {
    std::printf("  folder kept: %s\n", (work / "big").c_str());
    return 0;
  }
  fs::remove_all(work);
  return 0;
}
