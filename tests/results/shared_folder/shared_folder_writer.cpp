// Several programs writing into one working folder at once, as the PCs of a class sharing a
// folder do: each process of this tool appends runs through the program's own result-file
// code, and one more checks what they left.
//
//   shared_folder_writer write FOLDER WRITER RUNS [RESCUE_FOLDER [RETRIES]]
//       appends RUNS runs of writer WRITER; prints "ok W K", "rescued W K" or "failed W K"
//       per run, and exits 3 when the ranking after a run does not name that run as newest.
//       RETRIES: how often a refused file is tried again (0.1 s apart) before giving up.
//   shared_folder_writer check FOLDER SECONDS
//       runs the start-up check of incomplete runs again and again while others write;
//       prints every alarm.
//   shared_folder_writer hold FILE SECONDS
//       holds FILE open for writing, shared with nobody (Windows; a spreadsheet does this).
//   shared_folder_writer verify FOLDER WRITERS RUNS ACKNOWLEDGED_FILE
//       checks every file: headers first and once, every line a whole line of a known run,
//       each run whole in every file or in none, no line twice; runs listed as "ok" or
//       "rescued" in ACKNOWLEDGED_FILE must be there; cut-off tails kept once in .partial.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "results/folder_lock.h"
#include "results/result_files.h"
#include "results/result_viewer.h"
#include "results/run_completeness.h"
#include "shared_folder/hold_file.h"
#include "timing/timing_files.h"

namespace {

using namespace pyokoran;

constexpr int64_t kFirstSecond = 1700000000;

// Run k of writer w: its subject (one shared by all writers every third run), its time and
// its counts, so that every run's lines differ from every other's and its score is its own.
void SetUpRun(Program& p, FakePlatform& platform, int w, int k) {
  p.settings.subject = k % 3 == 0 ? "S" : "W" + std::to_string(w);
  platform.computer_name = "PC" + std::to_string(w);
  platform.now_seconds = kFirstSecond + int64_t(w) * 100000 + k;
  p.effective_seed = w * 1000 + k;
  // Every appearance a hit, so that the counts agree with the rows.
  TrialLog& log = p.scheduler.log;
  log.count = 1 + (w + k) % 7;
  p.scheduler.counters = {log.count, 0, 0, 0};
  for (int i = 0; i < log.count; ++i) {
    log.records[i] = {i + 1, 1 + i % 3, 1, 1 + i, 100 + i, 200 + i, 1, 90 + i, 80 + i,
                      300 + i, 1000 * i + 300, 0};
    p.timing.rows[i] = AppearanceTiming{};
    p.timing.rows[i].shown_at = 1000 * i;
  }
}

// The files a run goes to and its lines in each, exactly as the program writes them.
std::vector<FilePart> ExpectedParts(int w, int k) {
  FakePlatform platform;
  auto p = std::make_unique<Program>(platform);
  SetUpRun(*p, platform, w, k);
  const Stamp stamp = LocalStamp(platform.now_seconds);
  std::vector<FilePart> parts = ResultFileParts(*p, stamp);
  AppendTimingParts(*p, stamp, parts);
  return parts;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type at = 0;
  while (at < text.size()) {
    const auto lf = text.find('\n', at);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, lf - at));
    at = lf + 1;
  }
  return lines;
}

// The whole file (its name in UTF-8, as the program's own files are opened).
std::string ReadAll(const std::string& path, bool& exists) {
  std::string bytes;
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY);
  exists = fd >= 0;
  if (fd < 0) return bytes;
  FileStatus info;
  if (StatusOf(fd, info)) {
    bytes.resize(size_t(info.size));
    const int64_t n = ReadAt(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? size_t(n) : 0);
  }
  close(fd);
  return bytes;
}

int Write(const std::string& folder, int w, int runs, const std::string& rescue, int retries) {
  if (!EnterFolder(folder)) return 2;
  FakePlatform platform;
  auto p = std::make_unique<Program>(platform);
  p->rescue_folder = rescue;
  p->lock_wait_ms = 60000;
  // A refused file is tried again after a pause, as a user who closes the spreadsheet would.
  platform.on_message = [&platform](const std::string&, const std::string&) {
    if (!platform.retry_answers.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  };
  for (int k = 0; k < runs; ++k) {
    SetUpRun(*p, platform, w, k);
    platform.messages.clear();
    platform.retry_answers.assign(size_t(retries), true);
    const int written = WriteResultFiles(*p, 1);
    bool rescued = false;
    for (const auto& m : platform.messages) rescued = rescued || m.text.find("次のファイルに保存しました") != std::string::npos;
    std::printf("%s %d %d\n", written ? "ok" : rescued ? "rescued" : "failed", w, k);
    std::fflush(stdout);
    if (!written) continue;
    // The ranking names this run as the newest, whatever the others appended since: its
    // subject and score, and the selected line is its date and time.
    platform.result_dialogs.clear();
    ShowResults(*p);
    const Stamp t = LocalStamp(platform.now_seconds);
    char when[64];
    std::snprintf(when, sizeof when, "%04d/%02d/%02d (%02d:%02d:%02d)", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    const std::string own = "【最終結果】 " + p->settings.subject + " さん ／ スコア：" +
                            std::to_string(p->scheduler.counters.Hit) + "　";
    const ResultDialogContent* shown = platform.result_dialogs.empty() ? nullptr : &platform.result_dialogs.back();
    if (!shown || shown->summary.rfind(own, 0) != 0 || shown->selected < 0 ||
        size_t(shown->selected) >= shown->lines.size() ||
        shown->lines[size_t(shown->selected)].find(when) == std::string::npos) {
      std::fprintf(stderr, "writer %d run %d: the ranking names another run: %s\n", w, k,
                   shown ? shown->summary.c_str() : "(none)");
      return 3;
    }
  }
  return 0;
}

int Check(const std::string& folder, double seconds) {
  if (!EnterFolder(folder)) return 2;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int alarms = 0;
  while (std::chrono::steady_clock::now() < end) {
    IncompleteRun run;
    if (CheckLastRunAtStart(run)) {
      std::printf("alarm %s %s %s\n", run.subject.c_str(), run.date.c_str(), run.time.c_str());
      ++alarms;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  return alarms == 0 ? 0 : 1;
}

int Verify(const std::string& folder, int writers, int runs, const std::string& acknowledged_file) {
  // Every line any run may write, by file: which run it belongs to and where in the run.
  struct Where {
    int run;
    size_t index;
  };
  std::map<std::string, std::map<std::string, Where>> known;
  std::map<std::string, std::string> headers;
  std::vector<std::map<std::string, size_t>> run_lines(size_t(writers * runs));
  for (int w = 0; w < writers; ++w) {
    for (int k = 0; k < runs; ++k) {
      const int run = w * runs + k;
      for (const FilePart& part : ExpectedParts(w, k)) {
        headers[part.name] = part.header.substr(0, part.header.size() - 1);
        const std::vector<std::string> lines = Lines(part.text);
        run_lines[size_t(run)][part.name] = lines.size();
        for (size_t i = 0; i < lines.size(); ++i) known[part.name][lines[i]] = {run, i};
      }
    }
  }
  std::set<int> acknowledged;
  {
    bool exists = false;
    std::istringstream in(ReadAll(acknowledged_file, exists));
    std::string word;
    int w = 0, k = 0;
    while (in >> word >> w >> k) {
      if (word == "ok" || word == "rescued") acknowledged.insert(w * runs + k);
    }
  }

  int problems = 0;
  auto problem = [&problems](const std::string& what) {
    if (++problems <= 20) std::printf("problem: %s\n", what.c_str());
  };
  // For each run and file: how many of its lines were found, and whether in order, together.
  std::vector<std::map<std::string, size_t>> found(run_lines.size());
  std::map<std::string, std::set<std::string>> fragments;
  for (const auto& [name, header] : headers) {
    bool exists = false;
    const std::string bytes = ReadAll(folder + "/" + name, exists);
    if (!exists) continue;
    // A torn last line is what a killed writer leaves in a file nobody appended to since;
    // it must be the start of a line of a run that was not acknowledged.
    std::string text = bytes;
    if (!text.empty() && text.back() != '\n') {
      const size_t cut = text.rfind('\n') + 1;
      std::string tail = text.substr(cut);
      if (!tail.empty() && tail.back() == '\r') tail.pop_back();
      bool of_a_killed_run = false;
      for (const auto& [line, where] : known[name]) {
        if (line.compare(0, tail.size(), tail) == 0 && !acknowledged.count(where.run)) of_a_killed_run = true;
      }
      if (!of_a_killed_run) problem(name + ": a torn last line of no killed run");
      text.resize(cut);
    }
    std::vector<std::string> lines = Lines(text);
    for (std::string& line : lines) {
      if (line.empty() || line.back() != '\r') {
        problem(name + ": a line without CR LF");
      } else {
        line.pop_back();
      }
    }
    if (lines.empty() || lines[0] != header) problem(name + ": the header is not the first line");
    int run = -1;
    size_t next = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      if (lines[i] == header) {
        problem(name + ": a second header at line " + std::to_string(i + 1));
        continue;
      }
      const auto it = known[name].find(lines[i]);
      if (it == known[name].end()) {
        problem(name + ": an unknown (glued or torn) line " + std::to_string(i + 1) + ": " +
                lines[i].substr(0, 80));
        run = -1;
        continue;
      }
      const Where where = it->second;
      if (where.index == 0) {
        if (found[size_t(where.run)][name] > 0) problem(name + ": a run written twice");
        run = where.run;
        next = 0;
      }
      if (where.run != run || where.index != next) {
        problem(name + ": a run's lines not together at line " + std::to_string(i + 1));
        run = -1;
        continue;
      }
      ++next;
      ++found[size_t(run)][name];
    }
    bool partial_exists = false;
    const std::string partial = ReadAll(folder + "/" + name + kPartialSuffix, partial_exists);
    for (std::string line : Lines(partial)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!fragments[name].insert(line).second) problem(name + ".partial: a tail kept twice");
    }
  }

  int whole = 0, absent = 0, incomplete = 0;
  for (size_t run = 0; run < run_lines.size(); ++run) {
    size_t files_whole = 0, files_absent = 0;
    for (const auto& [name, count] : run_lines[run]) {
      const size_t got = found[run].count(name) ? found[run][name] : 0;
      files_whole += got == count;
      files_absent += got == 0 && count > 0;
    }
    const bool is_whole = files_whole == run_lines[run].size();
    whole += is_whole;
    absent += !is_whole && files_absent + files_whole == run_lines[run].size() && files_whole <= 1;
    if (!is_whole) {
      const bool acked = acknowledged.count(int(run)) > 0;
      if (acked) {
        problem("run " + std::to_string(run / size_t(runs)) + "/" + std::to_string(run % size_t(runs)) +
                " was written but is not whole in every file");
      } else if (files_absent != run_lines[run].size()) {
        ++incomplete;  // stopped by a kill between its lines: allowed, never for a written run
      }
    }
  }
  size_t tails = 0;
  for (const auto& [name, set] : fragments) tails += set.size();
  std::printf("runs whole %d, absent %d, cut off by a kill %d, acknowledged %zu, tails kept %zu, problems %d\n",
              whole, int(run_lines.size()) - whole - incomplete, incomplete, acknowledged.size(), tails,
              problems);
  (void)absent;
  return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 4 && args[0] == "write") {
    return Write(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()),
                 args.size() > 4 ? args[4] : std::string(),
                 args.size() > 5 ? std::atoi(args[5].c_str()) : 0);
  }
  if (args.size() == 3 && args[0] == "check") return Check(args[1], std::atof(args[2].c_str()));
  if (args.size() == 3 && args[0] == "hold") return HoldFile(args[1], std::atof(args[2].c_str()));
  if (args.size() == 5 && args[0] == "verify") {
    return Verify(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()), args[4]);
  }
  std::fprintf(stderr,
               "usage: shared_folder_writer write FOLDER WRITER RUNS [RESCUE [RETRIES]] | check "
               "FOLDER SECONDS | hold FILE SECONDS | verify FOLDER WRITERS RUNS ACKNOWLEDGED\n");
  return 2;
}
