// Time of the report over one subject whose runs all differ in condition: 40 000, 80 000 and
// 160 000 runs, each with one appearance row, read, measured and written as the CSV. Each size
// runs in a process of its own so that its peak memory is its own. Goal: time grows in
// proportion to the runs (160 000 within 4.5 times the time of 40 000, not 16 times).
//
//   condition_rows_bench [runs ...]
//   condition_rows_bench --one N   (what the bench runs in each process)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/report.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A folder of n runs of subject S, run k with Dur 1000 + k (so no two alike).
std::string MakeFolder(int n) {
  std::string dir = (std::filesystem::temp_directory_path() / "condition_rows_bench_XXXXXX").string();
  if (!mkdtemp(dir.data())) return {};
  std::ofstream summary(dir + "/ピョコラン.txt", std::ios::binary);
  std::ofstream rows(dir + "/S.csv", std::ios::binary);
  summary << "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\tRndSeed\tHit\tMiss\t"
             "CR\tFA\tScore\r\n";
  rows << "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,RndSeed,Pokko,Tgt,Hole,"
          "Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
  for (int k = 0; k < n; ++k) {
    char date[16], time[16];
    std::snprintf(date, sizeof date, "2026/%02d/%02d", 1 + k / 86400 % 12, 1 + k / 3600 % 24);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", k / 3600 % 24, k / 60 % 60, k % 60);
    const int dur = 1000 + k;
    summary << "S\t" << date << '\t' << time << "\t6\t3\t12\t1\t" << dur << "\t1000\t3000\t60\t" << k + 1
            << "\t1\t0\t0\t0\t1\r\n";
    rows << "S," << date << ',' << time << ",1,6,3,12,1," << dur << ",1000,3000,60," << k + 1
         << ",1,1,1,100,100,1,100,100,400,3400,0\r\n";
  }
  return dir;
}

int One(int n) {
  const std::string dir = MakeFolder(n);
  if (dir.empty()) return 1;
  const double start = CpuMs();
  pyokoran::Report report;
  std::string error;
  const bool ok = pyokoran::BuildReport(dir, {}, report, error);
  const std::string csv = ok ? pyokoran::ReportCsv(report) : std::string();
  const double ms = CpuMs() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::filesystem::remove_all(dir);
  if (!ok || report.conditions.size() != size_t(n)) {
    std::fprintf(stderr, "%d runs: %s (%zu condition rows)\n", n, error.c_str(), report.conditions.size());
    return 1;
  }
  std::printf("%7d runs, %7zu condition rows: %8.0f ms CPU (read, measure, CSV), peak %5.0f MB\n", n,
              report.conditions.size(), ms, double(usage.ru_maxrss) / 1024);
  std::printf("%d %f\n", n, ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--one") return One(std::atoi(argv[2]));
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {40000, 80000, 160000};
  std::vector<double> ms;
  for (int n : sizes) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      dup2(pipe_fds[1], 1);
      close(pipe_fds[0]);
      const std::string count = std::to_string(n);
      execl("/proc/self/exe", argv[0], "--one", count.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipe_fds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t r; (r = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(r));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    const size_t last = out.rfind('\n', out.size() - 2);
    std::fputs(out.substr(0, last + 1).c_str(), stdout);
    int runs = 0;
    double t = 0;
    std::sscanf(out.c_str() + last + 1, "%d %lf", &runs, &t);
    ms.push_back(t);
  }
  if (ms.size() >= 2) {
    const double growth = ms.back() / ms.front(), runs = double(sizes.back()) / sizes.front();
    const bool linear = growth <= runs * 1.125;
    std::printf("%.0f times the runs took %.2f times the time: %s\n", runs, growth,
                linear ? "linear (goal met)" : "more than linear (goal missed)");
    return linear ? 0 : 1;
  }
  return 0;
}
