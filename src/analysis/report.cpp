#include "analysis/report.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <unordered_map>

#include "analysis/html_report.h"
#include "platform/file_system.h"

namespace pyokoran {
namespace {

// Fixed-point text without the locale; empty for a missing value.
std::string Fixed(double v, int digits) {
  if (!std::isfinite(v)) return {};
  char buffer[64];
  auto [p, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, digits);
  if (ec != std::errc()) return {};
  std::string s(buffer, p);
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s = std::string(s[0] == '-' ? s.substr(1) : s);
  return s;
}

std::string Count(int64_t v) { return std::to_string(v); }

void MeasureCells(std::vector<std::string>& c, const Measures& m) {
  c.push_back(Count(m.targets));
  c.push_back(Count(m.distractors));
  c.push_back(Count(m.Hit));
  c.push_back(Count(m.Miss));
  c.push_back(Count(m.FA));
  c.push_back(Count(m.CR));
  c.push_back(Fixed(m.hit_rate, 4));
  c.push_back(Fixed(m.fa_rate, 4));
  c.push_back(Fixed(m.hit_rate_ll, 4));
  c.push_back(Fixed(m.fa_rate_ll, 4));
  c.push_back(Fixed(m.d_prime, 3));
  c.push_back(Fixed(m.criterion, 3));
  c.push_back(Fixed(m.hit_rt.mean, 1));
  c.push_back(Fixed(m.hit_rt.median, 1));
  c.push_back(Fixed(m.hit_rt.sd, 1));
  c.push_back(Count(m.hit_rt.n));
  c.push_back(Fixed(m.fa_rt.mean, 1));
  c.push_back(Count(m.fa_rt.n));
  c.push_back(Count(m.anticipations));
  c.push_back(Fixed(m.onset_rt.mean, 1));
  c.push_back(Fixed(m.onset_rt.median, 1));
  c.push_back(Count(m.onset_rt.n));
}

// RFC 4180 quoting where a cell needs it.
std::string Quoted(const std::string& cell) {
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string q = "\"";
  for (char ch : cell) {
    if (ch == '"') q += '"';
    q += ch;
  }
  return q + '"';
}

void AppendRow(std::string& out, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) out += ',';
    out += Quoted(cells[i]);
  }
  out += "\r\n";
}

}  // namespace

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> columns = {
      "Level", "Subject", "Date", "Time", "Runs", "Simulated", "TgtPokko", "DstPokko",
      "Holes", "Ordered", "Dur", "ISI_1", "ISI_2", "TmLimit", "RndSeed", "Targets",
      "Distractors", "Hit", "Miss", "FA", "CR", "HitRate", "FARate", "HitRateLL",
      "FARateLL", "dPrime", "Criterion", "HitRT_Mean", "HitRT_Median", "HitRT_SD", "HitRT_N",
      "FART_Mean", "FART_N", "Anticipations", "OnsetRT_Mean", "OnsetRT_Median", "OnsetRT_N", "Problems"};
  return columns;
}

std::vector<std::string> RunCells(const Report& report, size_t index) {
  const RunRecord& r = report.results.runs[index];
  std::vector<std::string> c = {"run", r.subject_utf8, r.date, r.time, "1",
                                report.results.simulated ? "1" : "0"};
  for (int32_t v : {r.TgtPokko, r.DstPokko, r.Holes, r.Ordered, r.Dur, r.ISI_1, r.ISI_2,
                    r.TmLimit, r.RndSeed}) {
    c.push_back(std::to_string(v));
  }
  MeasureCells(c, report.run_measures[index]);
  c.push_back(r.problems);
  return c;
}

std::vector<std::string> SubjectCells(const Report& report, size_t index) {
  const SubjectReport& s = report.subjects[index];
  std::vector<std::string> c = {"subject", s.subject_utf8, "", "", std::to_string(s.runs.size()),
                                report.results.simulated ? "1" : "0"};
  c.resize(c.size() + 9);
  MeasureCells(c, s.measures);
  c.emplace_back();
  return c;
}

bool BuildReport(const std::string& folder, const MeasureOptions& options, Report& report,
                 std::string& error, ReadControl* control) {
  report = Report{};
  report.folder = folder;
  report.options = options;
  if (!ReadResultFolder(folder, report.results, error, control)) return false;

  // Newest first; among equal times the later line first.
  auto& runs = report.results.runs;
  std::sort(runs.begin(), runs.end(), [](const RunRecord& a, const RunRecord& b) {
    if (a.date != b.date) return a.date > b.date;
    if (a.time != b.time) return a.time > b.time;
    return a.file_order > b.file_order;
  });
  report.run_measures.reserve(runs.size());
  std::unordered_map<std::string, size_t> subject_index;
  for (size_t i = 0; i < runs.size(); ++i) {
    report.run_measures.push_back(Measure({&runs[i]}, options));
    auto [it, added] = subject_index.emplace(runs[i].subject, report.subjects.size());
    if (added) report.subjects.push_back({runs[i].subject, runs[i].subject_utf8, {}, {}});
    report.subjects[it->second].runs.push_back(i);
  }
  for (SubjectReport& s : report.subjects) {
    std::reverse(s.runs.begin(), s.runs.end());
    s.measures = Measure(SubjectRuns(report, s), options);
  }
  return true;
}

std::vector<const RunRecord*> SubjectRuns(const Report& report, const SubjectReport& subject) {
  std::vector<const RunRecord*> runs;
  runs.reserve(subject.runs.size());
  for (size_t i : subject.runs) runs.push_back(&report.results.runs[i]);
  return runs;
}

std::string ReportCsv(const Report& report) {
  std::string out = "\xEF\xBB\xBF";
  out.reserve(size_t(report.results.runs.size() + report.subjects.size() + 1) * 200);
  AppendRow(out, ReportColumns());
  for (size_t i = 0; i < report.results.runs.size(); ++i) AppendRow(out, RunCells(report, i));
  for (size_t i = 0; i < report.subjects.size(); ++i) AppendRow(out, SubjectCells(report, i));
  return out;
}

bool IsOurReport(const std::string& path) {
  const int fd = OpenNoFollow(path);
  if (fd < 0) return false;
  FileStatus info;
  std::string head, tail;
  if (StatusOf(fd, info) && info.regular) {
    head.resize(size_t(std::min<int64_t>(info.size, 1 << 16)));
    const int64_t n = ReadAt(fd, head.data(), head.size(), 0);
    head.resize(n > 0 ? size_t(n) : 0);
    if (info.size > int64_t(head.size())) {
      tail.resize(size_t(std::min<int64_t>(info.size - int64_t(head.size()), 1 << 16)));
      const int64_t m = ReadAt(fd, tail.data(), tail.size(), info.size - int64_t(tail.size()));
      tail.resize(m > 0 ? size_t(m) : 0);
    }
  }
  close(fd);
  if (head.rfind("\xEF\xBB\xBFLevel,", 0) == 0) return true;
  if (head.rfind("%PDF-", 0) == 0) {
    // The creator in the document information, as plain or UTF-16 text.
    const std::string plain = "(pyokoran)";
    const std::string wide = std::string("\0p\0y\0o\0k\0o\0r\0a\0n)", 17);
    for (const std::string* part : {&head, &tail}) {
      if (part->find(plain) != std::string::npos || part->find(wide) != std::string::npos)
        return true;
    }
    return false;
  }
  return IsHtmlReport(path);
}

bool WriteReportCsv(const Report& report, const std::string& path, std::string& error) {
  // Only an earlier report may be replaced: under its name could be a subject's file.
  if (KindOfPath(path, false) != PathKind::kMissing && !IsOurReport(path)) {
    error = path + " exists and is not a report; not replaced";
    return false;
  }
  const std::string bytes = ReportCsv(report);
  // Into a new file beside the target, renamed over it once complete; whatever lies at the
  // temporary name (a link planted there too) is removed, never followed.
  const std::string temp = path + ".part";
  if (const PathKind kind = KindOfPath(temp, false);
      kind != PathKind::kMissing && kind != PathKind::kDirectory) {
    RemoveFile(temp);
  }
  int fd = CreateNewFile(temp, 0666);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const char* p = bytes.data();
  size_t left = bytes.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= size_t(n);
  }
  const int saved = errno;
  ok = close(fd) == 0 && ok;
  if (ok && !ReplaceFileWith(temp, path)) ok = false;
  if (!ok) {
    error = "cannot write " + path + ": " + std::strerror(errno ? errno : saved);
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace pyokoran
