#include "analysis/report.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <unistd.h>
#include <unordered_map>

#include "analysis/html_report.h"
#include "app/message_text.h"
#include "platform/file_system.h"
#include "platform/number_text.h"
#include "platform/utf8_path.h"

namespace pyokoran {
namespace {

// Fixed-point text without the locale; empty for a missing value.
std::string Fixed(double v, int digits) {
  if (!std::isfinite(v)) return {};
  char buffer[64];
  auto [p, ec] = FixedToChars(buffer, buffer + sizeof buffer, v, digits);
  if (ec != std::errc()) return {};
  std::string s(buffer, p);
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s = std::string(s[0] == '-' ? s.substr(1) : s);
  return s;
}

std::string Count(int64_t v) { return std::to_string(v); }

void MeasureCells(std::vector<std::string>& c, const Measures& m, const MeasureOptions& options) {
  c.push_back(Count(m.targets));
  c.push_back(Count(m.distractors));
  c.push_back(Count(m.Hit));
  c.push_back(Count(m.Miss));
  c.push_back(Count(m.FA));
  c.push_back(Count(m.CR));
  c.push_back(Fixed(m.hit_rate, 4));
  c.push_back(Fixed(m.hit_rate_ci.low, 4));
  c.push_back(Fixed(m.hit_rate_ci.high, 4));
  c.push_back(Fixed(m.fa_rate, 4));
  c.push_back(Fixed(m.fa_rate_ci.low, 4));
  c.push_back(Fixed(m.fa_rate_ci.high, 4));
  c.push_back(Fixed(m.hit_rate_ll, 4));
  c.push_back(Fixed(m.fa_rate_ll, 4));
  c.push_back(Fixed(m.d_prime, 3));
  c.push_back(Fixed(m.d_prime_se, 3));
  c.push_back(Fixed(m.d_prime_ci.low, 3));
  c.push_back(Fixed(m.d_prime_ci.high, 3));
  c.push_back(Fixed(m.criterion, 3));
  c.push_back(Fixed(m.hit_rt.mean, 1));
  c.push_back(Fixed(m.hit_rt.mean_ci.low, 1));
  c.push_back(Fixed(m.hit_rt.mean_ci.high, 1));
  c.push_back(Fixed(m.hit_rt.median, 1));
  c.push_back(Fixed(m.hit_rt.sd, 1));
  c.push_back(Count(m.hit_rt.n));
  c.push_back(Fixed(m.fa_rt.mean, 1));
  c.push_back(Fixed(m.fa_rt.median, 1));
  c.push_back(Fixed(m.fa_rt.sd, 1));
  c.push_back(Count(m.fa_rt.n));
  c.push_back(Count(m.anticipations));
  c.push_back(std::to_string(options.anticipation_ms));
  c.push_back(Count(m.anticipations_excluded));
  c.push_back(Count(m.over_rt_limit));
  c.push_back(Fixed(m.onset_rt.mean, 1));
  c.push_back(Fixed(m.onset_rt.median, 1));
  c.push_back(Count(m.onset_rt.n));
  c.push_back(Count(m.onset_rt_flagged));
}

// The timing summary's counts of rows beyond their bounds, summed over the runs whose line
// has them; empty where none has.
void TimingCountCells(std::vector<std::string>& c, const Report& report, const std::vector<size_t>& runs) {
  for (int32_t RunRecord::*count :
       {&RunRecord::arrival_presses, &RunRecord::onset_over, &RunRecord::rise_over, &RunRecord::booking_late}) {
    int64_t sum = -1;
    for (size_t i : runs) {
      const int32_t v = report.results.runs[i].*count;
      if (v >= 0) sum = std::max<int64_t>(sum, 0) + v;
    }
    c.push_back(sum >= 0 ? Count(sum) : std::string());
  }
}

// The mean and SD of the runs' own measures; empty on a run's row.
void SpreadCells(std::vector<std::string>& c, const RunSpread* s) {
  if (!s) {
    c.resize(c.size() + 11);
    return;
  }
  for (const auto& [spread, digits] : {std::pair{&s->hit_rate, 4}, std::pair{&s->fa_rate, 4},
                                       std::pair{&s->d_prime, 3}}) {
    c.push_back(Fixed(spread->mean, digits));
    c.push_back(Fixed(spread->sd, digits));
  }
  c.push_back(Count(s->d_prime.n));
  c.push_back(Fixed(s->criterion.mean, 3));
  c.push_back(Fixed(s->criterion.sd, 3));
  c.push_back(Fixed(s->hit_rt_mean.mean, 1));
  c.push_back(Fixed(s->hit_rt_mean.sd, 1));
}

void SettingCells(std::vector<std::string>& c, const RunCondition& k) {
  for (int32_t v : {k.TgtPokko, k.DstPokko, k.Holes, k.Ordered, k.Dur, k.ISI_1, k.ISI_2, k.TmLimit})
    c.push_back(std::to_string(v));
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
    if (cells[i].find_first_of(",\"\r\n") == std::string::npos) out += cells[i];  // no copy
    else out += Quoted(cells[i]);
  }
  out += "\r\n";
}

// A pooled row's Problems: how many of its runs have problems of their own.
std::string ProblemRunsCell(const Report& report, const std::vector<size_t>& runs) {
  size_t n = 0;
  for (size_t i : runs) n += !report.results.runs[i].problems.empty();
  if (n == 0) return {};
  return std::to_string(n) + " of " + std::to_string(runs.size()) + (runs.size() == 1 ? " run" : " runs") +
         " with problems";
}

// A pooled row's Presentation: its runs' modes, with how many runs each where they differ.
std::string PresentationCell(const Report& report, const std::vector<size_t>& runs) {
  std::vector<std::pair<std::string, size_t>> modes;
  for (size_t i : runs) {
    const std::string& mode = report.results.runs[i].presentation;
    auto it = std::find_if(modes.begin(), modes.end(), [&](const auto& m) { return m.first == mode; });
    if (it == modes.end()) modes.emplace_back(mode, 1);
    else ++it->second;
  }
  if (modes.size() == 1) return modes[0].first;
  std::string cell;
  for (const auto& [mode, n] : modes)
    cell += (cell.empty() ? "" : ", ") + (mode.empty() ? std::string("none") : mode) + " " + std::to_string(n);
  return cell;
}

// A pooled row's Computer: the computers its runs were recorded on, in the order first met.
std::string ComputersCell(const Report& report, const std::vector<size_t>& runs) {
  std::vector<std::string_view> names;
  for (size_t i : runs) {
    const std::string& name = report.results.runs[i].computer;
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  std::string cell;
  for (std::string_view name : names) (cell += cell.empty() ? "" : ", ") += name;
  return cell;
}

}  // namespace

std::string SpreadsheetText(const std::string& cell) {
  if (cell.empty() || std::string_view("=+-@\t\r").find(cell[0]) == std::string_view::npos) return cell;
  return "'" + cell;
}

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> columns = {
      "Level", "RunId", "Subject", "Date", "Time", "Runs", "Simulated", "Conditions", "Condition",
      "TgtPokko", "DstPokko", "Holes", "Ordered", "Dur", "ISI_1", "ISI_2", "TmLimit", "RndSeed",
      "Targets", "Distractors", "Hit", "Miss", "FA", "CR",
      "HitRate", "HitRate_CI_Low", "HitRate_CI_High", "FARate", "FARate_CI_Low", "FARate_CI_High",
      "HitRateLL", "FARateLL", "dPrime", "dPrime_SE", "dPrime_CI_Low", "dPrime_CI_High", "Criterion",
      "HitRT_Mean", "HitRT_CI_Low", "HitRT_CI_High", "HitRT_Median", "HitRT_SD", "HitRT_N",
      "FART_Mean", "FART_Median", "FART_SD", "FART_N",
      "Anticipations", "AnticipationLimit", "AnticipationsExcluded", "RTsOverLimit",
      "OnsetRT_Mean", "OnsetRT_Median", "OnsetRT_N", "OnsetRT_Flagged", "Presentation",
      "ArrivalPresses", "OnsetOver", "RiseOver", "BookingLate",
      "HitRate_RunMean", "HitRate_RunSD", "FARate_RunMean", "FARate_RunSD", "dPrime_RunMean",
      "dPrime_RunSD", "dPrime_RunN", "Criterion_RunMean", "Criterion_RunSD", "HitRT_RunMean",
      "HitRT_RunSD", "Problems", "Computer"};
  return columns;
}

RunCondition ConditionOf(const RunRecord& r) {
  return {r.TgtPokko, r.DstPokko, r.Holes, r.Ordered, r.Dur, r.ISI_1, r.ISI_2, r.TmLimit};
}

std::string ConditionName(const RunCondition& k) {
  char name[128];
  std::snprintf(name, sizeof name, "T%d D%d H%d %ds %dms %d-%dms %s", int(k.TgtPokko), int(k.DstPokko),
                int(k.Holes), int(k.TmLimit), int(k.Dur), int(k.ISI_1), int(k.ISI_2), k.Ordered ? "rows" : "random");
  return name;
}

GroupStat DescribeGroup(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
               values.end());
  const RtStats d = Describe(values);
  GroupStat g;
  g.n = d.n;
  g.mean = d.mean;
  g.sd = d.sd;
  if (d.n >= 2 && std::isfinite(d.sd)) g.se = d.sd / std::sqrt(double(d.n));
  g.ci = d.mean_ci;
  return g;
}

double SubjectFigure(const ConditionReport& k, int measure, bool run_mean) {
  const Measures& m = k.measures;
  const RunSpread& s = k.spread;
  switch (measure) {
    case 0: return run_mean ? s.hit_rate.mean : m.hit_rate;
    case 1: return run_mean ? s.fa_rate.mean : m.fa_rate;
    case 2: return run_mean ? s.d_prime.mean : m.d_prime;
    case 3: return run_mean ? s.criterion.mean : m.criterion;
    case 4: return run_mean ? s.hit_rt_mean.mean : m.hit_rt.mean;
    default: return kNoValue;
  }
}

namespace {
std::string& ProgramVersionSetting() {
  static std::string version;
  return version;
}
}  // namespace

void SetReportProgramVersion(const std::string& version) { ProgramVersionSetting() = version; }

std::string DefaultProgramVersion() {
  if (!ProgramVersionSetting().empty()) return ProgramVersionSetting();
#ifdef PYOKORAN_PROJECT_VERSION
  return "pyokoran " PYOKORAN_PROJECT_VERSION;
#else
  return "pyokoran";
#endif
}

std::vector<std::string> RunCells(const Report& report, size_t index) {
  const RunRecord& r = report.results.runs[index];
  std::vector<std::string> c;
  c.reserve(ReportColumns().size());
  c = {kLevelRun, std::to_string(r.run_id), r.subject_utf8, r.date, r.time,
       "1", report.results.simulated ? "1" : "0", "1", ConditionName(ConditionOf(r))};
  SettingCells(c, ConditionOf(r));
  c.push_back(std::to_string(r.RndSeed));
  MeasureCells(c, report.run_measures[index], report.options);
  c.push_back(r.frame_times.empty() ? r.presentation : r.presentation + "; " + r.frame_times);
  TimingCountCells(c, report, {index});
  SpreadCells(c, nullptr);
  c.push_back(r.problems);
  c.push_back(r.computer);
  return c;
}

std::vector<std::string> ConditionCells(const Report& report, size_t index) {
  const ConditionReport& k = report.conditions[index];
  std::vector<std::string> c = {kLevelCondition, "", report.subjects[k.subject].subject_utf8, "", "",
                                std::to_string(k.runs.size()), report.results.simulated ? "1" : "0", "1",
                                ConditionName(k.condition)};
  SettingCells(c, k.condition);
  c.emplace_back();  // the seeds differ
  MeasureCells(c, k.measures, report.options);
  c.push_back(PresentationCell(report, k.runs));
  TimingCountCells(c, report, k.runs);
  SpreadCells(c, &k.spread);
  c.push_back(ProblemRunsCell(report, k.runs));
  c.push_back(ComputersCell(report, k.runs));
  return c;
}

std::vector<std::string> SubjectCells(const Report& report, size_t index) {
  const SubjectReport& s = report.subjects[index];
  std::vector<std::string> c = {kLevelSubject, "", s.subject_utf8, "", "", std::to_string(s.runs.size()),
                                report.results.simulated ? "1" : "0", std::to_string(s.conditions.size()),
                                s.conditions.size() == 1 ? ConditionName(report.conditions[s.conditions[0]].condition)
                                                         : std::string()};
  c.resize(c.size() + 9);
  MeasureCells(c, s.measures, report.options);
  c.push_back(PresentationCell(report, s.runs));
  TimingCountCells(c, report, s.runs);
  SpreadCells(c, &s.spread);
  c.push_back(ProblemRunsCell(report, s.runs));
  c.push_back(ComputersCell(report, s.runs));
  return c;
}

namespace {

// The subjects' and conditions' pooled measures and spreads, from the runs' indices.
void PoolGroups(Report& report) {
  auto spread = [&](const std::vector<size_t>& runs) {
    std::vector<const Measures*> m;
    m.reserve(runs.size());
    for (size_t i : runs) m.push_back(&report.run_measures[i]);
    return SpreadOverRuns(m);
  };
  auto records = [&](const std::vector<size_t>& runs) {
    std::vector<const RunRecord*> r;
    r.reserve(runs.size());
    for (size_t i : runs) r.push_back(&report.results.runs[i]);
    return r;
  };
  for (SubjectReport& s : report.subjects) {
    s.measures = Measure(records(s.runs), report.options);
    s.spread = spread(s.runs);
  }
  for (ConditionReport& k : report.conditions) {
    k.measures = Measure(records(k.runs), report.options);
    k.spread = spread(k.runs);
  }
}

// Each subject's conditions, in order of their first (oldest) run.
void GroupConditions(Report& report) {
  report.conditions.clear();
  for (size_t si = 0; si < report.subjects.size(); ++si) {
    SubjectReport& s = report.subjects[si];
    s.conditions.clear();
    std::map<RunCondition, size_t> index;  // condition to its place in s.conditions
    for (size_t run : s.runs) {
      const RunCondition c = ConditionOf(report.results.runs[run]);
      const auto [it, added] = index.emplace(c, s.conditions.size());
      if (added) {
        s.conditions.push_back(report.conditions.size());
        report.conditions.push_back({si, c, {}, {}, {}});
      }
      report.conditions[s.conditions[it->second]].runs.push_back(run);
    }
  }
}

// Every subject's runs under one condition described over the subjects, in order of the
// condition's oldest run; then the differences between each pair of conditions within the
// subjects who ran both.
void BuildGroups(Report& report) {
  report.groups.clear();
  report.differences.clear();
  std::vector<std::pair<int32_t, size_t>> order;  // (oldest run id, index into conditions)
  for (size_t k = 0; k < report.conditions.size(); ++k) {
    int32_t oldest = INT32_MAX;
    for (size_t i : report.conditions[k].runs) oldest = std::min(oldest, report.results.runs[i].run_id);
    order.emplace_back(oldest, k);
  }
  std::stable_sort(order.begin(), order.end());
  for (const auto& [oldest, k] : order) {
    const ConditionReport& c = report.conditions[k];
    auto found = std::find_if(report.groups.begin(), report.groups.end(),
                              [&](const ConditionGroup& g) { return g.condition == c.condition; });
    if (found == report.groups.end()) {
      report.groups.emplace_back();
      report.groups.back().condition = c.condition;
      found = report.groups.end() - 1;
    }
    found->members.push_back(k);
    found->runs += int32_t(c.runs.size());
    for (size_t i : c.runs) found->problem_runs += !report.results.runs[i].problems.empty();
  }
  for (ConditionGroup& g : report.groups) {
    for (int m = 0; m < kGroupMeasures; ++m) {
      for (bool run_mean : {false, true}) {
        std::vector<double> values;
        for (size_t k : g.members) values.push_back(SubjectFigure(report.conditions[k], m, run_mean));
        (run_mean ? g.run_mean : g.pooled)[m] = DescribeGroup(std::move(values));
      }
    }
  }
  for (size_t a = 0; a < report.groups.size(); ++a) {
    for (size_t b = a + 1; b < report.groups.size(); ++b) {
      // The subjects in both, paired.
      std::vector<std::pair<size_t, size_t>> pairs;
      for (size_t ka : report.groups[a].members) {
        for (size_t kb : report.groups[b].members) {
          if (report.conditions[ka].subject == report.conditions[kb].subject) pairs.emplace_back(ka, kb);
        }
      }
      if (pairs.empty()) continue;
      ConditionDifference d;
      d.a = a, d.b = b;
      for (int m = 0; m < kGroupMeasures; ++m) {
        for (bool run_mean : {false, true}) {
          std::vector<double> values;
          for (const auto& [ka, kb] : pairs)
            values.push_back(SubjectFigure(report.conditions[ka], m, run_mean) -
                             SubjectFigure(report.conditions[kb], m, run_mean));
          (run_mean ? d.run_mean : d.pooled)[m] = DescribeGroup(std::move(values));
        }
      }
      report.differences.push_back(d);
    }
  }
}

// The simulator's mark file, as far as it is text of a sensible size.
std::string ReadSimulationNotes(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path path =
      (folder.empty() ? std::filesystem::path(".") : PathFromUtf8(folder)) / kSimulatedMarkFile;
  const int fd = OpenNoFollow(Utf8FromPath(path));
  if (fd < 0) return {};
  FileStatus info;
  std::string text;
  if (StatusOf(fd, info) && info.regular) {
    text.resize(size_t(std::min<int64_t>(info.size, 64 * 1024)));
    const int64_t n = ReadAt(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? size_t(n) : 0);
  }
  close(fd);
  return text;
}

}  // namespace

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
  for (size_t i = 0; i < runs.size(); ++i) runs[i].run_id = int32_t(runs.size() - i);
  MeasureReport(report);
  if (report.results.simulated) report.simulation_notes = ReadSimulationNotes(folder);
  return true;
}

void MeasureReport(Report& report) {
  const auto& runs = report.results.runs;
  report.run_measures.clear();
  report.subjects.clear();
  report.conditions.clear();
  report.run_measures.reserve(runs.size());
  std::unordered_map<std::string, size_t> subject_index;
  for (size_t i = 0; i < runs.size(); ++i) {
    report.run_measures.push_back(Measure({&runs[i]}, report.options));
    if (report.options.exclude_problem_runs && !runs[i].problems.empty()) continue;
    auto [it, added] = subject_index.emplace(runs[i].subject, report.subjects.size());
    if (added) {
      report.subjects.emplace_back();
      report.subjects.back().subject = runs[i].subject;
      report.subjects.back().subject_utf8 = runs[i].subject_utf8;
    }
    report.subjects[it->second].runs.push_back(i);
  }
  for (SubjectReport& s : report.subjects) std::reverse(s.runs.begin(), s.runs.end());
  GroupConditions(report);
  PoolGroups(report);
  BuildGroups(report);
}

Report ReportOfSubject(const Report& all, size_t subject) {
  Report r;
  r.folder = all.folder;
  r.language = all.language;
  r.options = all.options;
  r.program_version = all.program_version;
  r.simulation_notes = all.simulation_notes;
  r.results.simulated = all.results.simulated;
  r.results.problems = all.results.problems;
  if (subject >= all.subjects.size()) return r;
  // The subject's runs in the newest-first order of the whole report.
  std::vector<size_t> order = all.subjects[subject].runs;
  std::sort(order.begin(), order.end());
  auto index_of = [&](size_t i) { return size_t(std::lower_bound(order.begin(), order.end(), i) - order.begin()); };
  for (size_t i : order) {
    r.results.runs.push_back(all.results.runs[i]);
    r.run_measures.push_back(all.run_measures[i]);
  }
  SubjectReport s = all.subjects[subject];
  for (size_t& i : s.runs) i = index_of(i);
  s.conditions.clear();
  for (size_t k : all.subjects[subject].conditions) {
    ConditionReport c = all.conditions[k];
    c.subject = 0;
    for (size_t& i : c.runs) i = index_of(i);
    s.conditions.push_back(r.conditions.size());
    r.conditions.push_back(std::move(c));
  }
  r.subjects.push_back(std::move(s));
  BuildGroups(r);
  return r;
}

std::vector<const RunRecord*> SubjectRuns(const Report& report, const SubjectReport& subject) {
  std::vector<const RunRecord*> runs;
  runs.reserve(subject.runs.size());
  for (size_t i : subject.runs) runs.push_back(&report.results.runs[i]);
  return runs;
}

std::string ReportCsv(const Report& report) {
  std::string out = "\xEF\xBB\xBF";
  out.reserve(size_t(report.results.runs.size() + report.conditions.size() + report.subjects.size() + 1) * 400);
  AppendRow(out, ReportColumns());
  // Text a spreadsheet would run as a formula is written as text.
  const auto& names = ReportColumns();
  const size_t subject = size_t(std::find(names.begin(), names.end(), "Subject") - names.begin());
  const size_t problems = size_t(std::find(names.begin(), names.end(), "Problems") - names.begin());
  const size_t computer = size_t(std::find(names.begin(), names.end(), "Computer") - names.begin());
  auto row = [&](std::vector<std::string>&& cells) {
    for (size_t c : {subject, problems, computer}) cells[c] = SpreadsheetText(cells[c]);
    AppendRow(out, cells);
  };
  for (size_t i = 0; i < report.results.runs.size(); ++i) row(RunCells(report, i));
  for (size_t i = 0; i < report.subjects.size(); ++i) {
    for (size_t k : report.subjects[i].conditions) row(ConditionCells(report, k));
    row(SubjectCells(report, i));
  }
  return out;
}

const std::vector<std::string>& GroupColumns() {
  static const std::vector<std::string> columns = {"Level", "Condition", "Condition_B", "Measure", "From",
                                                    "N", "Mean", "SD", "SE", "CI_Low", "CI_High",
                                                    "Runs", "ProblemRuns"};
  return columns;
}

std::string GroupsPathFor(const std::string& base) { return base + "_groups.csv"; }

std::string GroupCsv(const Report& report) {
  std::string out = "\xEF\xBB\xBF";
  AppendRow(out, GroupColumns());
  auto stat_rows = [&](const char* level, const std::string& a, const std::string& b, const GroupStat* pooled,
                       const GroupStat* run_mean, const std::string& runs, const std::string& problem_runs) {
    for (int m = 0; m < kGroupMeasures; ++m) {
      for (bool from_runs : {false, true}) {
        const GroupStat& g = (from_runs ? run_mean : pooled)[m];
        const int digits = m == 4 ? 1 : m < 2 ? 4 : 3;
        AppendRow(out, {level, a, b, kGroupMeasureNames[m], from_runs ? "run_mean" : "subject_pooled",
                        Count(g.n), Fixed(g.mean, digits + 1), Fixed(g.sd, digits + 1), Fixed(g.se, digits + 1),
                        Fixed(g.ci.low, digits + 1), Fixed(g.ci.high, digits + 1), runs, problem_runs});
      }
    }
  };
  for (const ConditionGroup& g : report.groups)
    stat_rows(kLevelGroup, ConditionName(g.condition), "", g.pooled, g.run_mean, Count(g.runs), Count(g.problem_runs));
  for (const ConditionDifference& d : report.differences)
    stat_rows(kLevelDifference, ConditionName(report.groups[d.a].condition),
              ConditionName(report.groups[d.b].condition), d.pooled, d.run_mean, "", "");
  return out;
}

namespace {

// A JSON string literal.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
      out += buffer;
    } else {
      out += ch;
    }
  }
  return out + '"';
}

// The Table Schema type of a column of the program's CSVs, with its format where it has one.
std::pair<const char*, const char*> ColumnType(std::string_view name) {
  static const std::string_view text[] = {"Level", "Subject", "Condition", "Condition_B", "Measure", "From",
                                          "Problems", "Kind", "Outcome", "Presentation", "Computer",
                                          "PressSource", "Over"};
  static const std::string_view whole[] = {
      "RunId", "Runs", "Simulated", "Conditions", "TgtPokko", "DstPokko", "Holes", "Ordered", "Dur", "ISI_1",
      "ISI_2", "TmLimit", "RndSeed", "Targets", "Distractors", "Hit", "Miss", "FA", "CR", "HitRT_N", "FART_N",
      "Anticipations", "AnticipationLimit", "AnticipationsExcluded", "OnsetRT_N", "OnsetRT_Flagged",
      "ArrivalPresses", "OnsetOver", "RiseOver", "BookingLate", "dPrime_RunN", "N",
      "ProblemRuns", "Trial", "Pokko", "Hole", "RT", "TotalRT", "Anticipation", "RTsOverLimit"};
  if (name == "Date") return {"date", "%Y/%m/%d"};
  if (name == "Time") return {"time", "%H:%M:%S"};
  if (std::find(std::begin(text), std::end(text), name) != std::end(text)) return {"string", nullptr};
  if (std::find(std::begin(whole), std::end(whole), name) != std::end(whole)) return {"integer", nullptr};
  return {"number", nullptr};
}

}  // namespace

std::string SchemaPathFor(const std::string& csv_path) {
  const size_t n = csv_path.size();
  const bool csv = n >= 4 && csv_path[n - 4] == '.' && (csv_path[n - 3] | 0x20) == 'c' &&
                   (csv_path[n - 2] | 0x20) == 's' && (csv_path[n - 1] | 0x20) == 'v';
  return (csv ? csv_path.substr(0, n - 4) : csv_path) + ".schema.json";
}

std::string TableSchemaJson(const std::vector<std::string>& columns, const std::string& title,
                            const std::string& csv_name, bool na_marks_missing) {
  const std::string file = csv_name;
  const std::string pandas = na_marks_missing
                                 ? "pandas.read_csv(\"" + file + "\", dtype={\"Subject\": str})"
                                 : "pandas.read_csv(\"" + file + "\", dtype={\"Subject\": str}, keep_default_na=False, "
                                   "na_values=[\"\"])";
  const std::string r = na_marks_missing
                            ? "read.csv(\"" + file + "\", fileEncoding = \"UTF-8-BOM\", colClasses = c(Subject = \"character\"))"
                            : "read.csv(\"" + file + "\", fileEncoding = \"UTF-8-BOM\", colClasses = c(Subject = \"character\"), "
                              "na.strings = \"\")";
  const std::string readr = na_marks_missing
                                ? "readr::read_csv(\"" + file + "\", col_types = readr::cols(Subject = \"c\"))"
                                : "readr::read_csv(\"" + file + "\", col_types = readr::cols(Subject = \"c\"), na = \"\")";
  std::string out = kSchemaHead;
  out += "  \"title\": " + Json(title) + ",\n";
  out += "  \"description\": " +
         Json("UTF-8 with a byte-order mark, comma-separated, CR LF. Subject is text: read it as text, or IDs "
              "such as 001 and 1 become one number. A text cell starting with =, +, - or @ is written with a "
              "leading apostrophe so that spreadsheets show it as text; remove it to get the ID as recorded.") +
         ",\n";
  out += "  \"x-read\": {\n    \"pandas\": " + Json(pandas) + ",\n    \"R\": " + Json(r) +
         ",\n    \"readr\": " + Json(readr) + "\n  },\n";
  out += std::string("  \"missingValues\": [") + (na_marks_missing ? "\"NA\"" : "\"\"") + "],\n";
  out += "  \"fields\": [\n";
  for (size_t i = 0; i < columns.size(); ++i) {
    const auto [type, format] = ColumnType(columns[i]);
    out += "    {\"name\": " + Json(columns[i]) + ", \"type\": \"" + type + "\"";
    if (format) out += std::string(", \"format\": \"") + format + "\"";
    out += i + 1 < columns.size() ? "},\n" : "}\n";
  }
  out += "  ]\n}\n";
  return out;
}

bool WriteReportSchemas(const Report& report, const std::string& base, std::string& error) {
  const std::string groups = GroupsPathFor(base);
  auto name = [](const std::string& path) { return Utf8FromPath(PathFromUtf8(path).filename()); };
  return WriteReportFile(groups, GroupCsv(report), error) &&
         WriteReportFile(SchemaPathFor(base + ".csv"),
                         TableSchemaJson(ReportColumns(), "pyokoran report table", name(base + ".csv"), false),
                         error) &&
         WriteReportFile(SchemaPathFor(groups),
                         TableSchemaJson(GroupColumns(), "pyokoran report: conditions over subjects", name(groups),
                                         false),
                         error);
}

std::string AboutPathFor(const std::string& base) { return base + "_about.txt"; }

namespace {

// Control characters as \xHH, so that a name from the files cannot start a line or move the
// cursor in the side file; line feeds kept where keep_lines.
std::string Printable(std::string_view text, bool keep_lines) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if ((b < 0x20 && !(keep_lines && b == '\n')) || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> ExclusionsInForce(const MeasureOptions& options, bool japanese) {
  std::vector<std::string> out;
  const std::string limit = std::to_string(options.anticipation_ms), max = std::to_string(options.max_rt_ms);
  if (japanese) {
    out.push_back("RT が " + limit + " ms 未満のヒットとフォールスアラームは予期反応とし、Anticipations に数え、反応時間の数値からは除きます" +
                  (options.exclude_anticipations
                       ? std::string("。Hit と FA からも除きます（--exclude-anticipations）: その出現はターゲットにもディストラクタにも"
                                     "数えず、率・d′・c にも入りません。")
                       : std::string("。Hit と FA には残します。")));
    out.push_back(options.max_rt_ms > 0 ? "RT が " + max + " ms を超えるヒットとフォールスアラーム（--max-rt）は RTsOverLimit に"
                                                      "数え、反応時間の数値からは除きます。Hit と FA には残します。"
                                         : std::string("RT の上限はありません。"));
    out.push_back(options.onset_locked_only
                      ? std::string("見えはじめからの反応時間は、リフレッシュに同期して表示した試行だけから取ります（--onset-locked-only）。")
                      : std::string("見えはじめからの反応時間は、タイミング記録のあるすべての試行から取ります（表示の方式を問いません）。"));
    out.push_back(options.exclude_flagged_onsets
                      ? std::string("タイミング記録の行に印のあるヒット（見えはじめの刻印が限度を超えた onset、または押下を届いた時刻で"
                                    "刻んだ arrival）は、見えはじめからの反応時間から除きます（--exclude-flagged-onsets）。"
                                    "除いた数は OnsetRT_Flagged です。")
                      : std::string("タイミング記録の行に印のあるヒットも、見えはじめからの反応時間に含めます（その数は OnsetRT_Flagged）。"));
    out.push_back(options.exclude_problem_runs
                      ? std::string("問題のある試行は、合算の行とグループから除きます（--exclude-problem-runs）。試行自身の行は残ります。")
                      : std::string("問題のある試行も、合算の行とグループに含めます。"));
    return out;
  }
  out.push_back("Hits and false alarms with an RT below " + limit +
                " ms are anticipations: counted in Anticipations and left out of every RT figure" +
                (options.exclude_anticipations ? std::string("; left out of Hit and FA too (--exclude-anticipations): "
                                                             "such an appearance counts in neither Hit nor FA, nor "
                                                             "in Targets or Distractors, so not in the rates, d' and c")
                                               : std::string("; they stay in Hit and FA")) +
                ".");
  out.push_back(options.max_rt_ms > 0
                    ? "Hits and false alarms with an RT above " + max +
                          " ms (--max-rt) are counted in RTsOverLimit and left out of every RT figure; they stay "
                          "in Hit and FA."
                    : std::string("No upper RT limit."));
  out.push_back(options.onset_locked_only
                    ? std::string("Onset RTs only from runs presented locked to the refresh (--onset-locked-only).")
                    : std::string("Onset RTs from every run with a timing record, whatever its presentation."));
  out.push_back(options.exclude_flagged_onsets
                    ? std::string("Hits whose timing row is flagged (an onset stamp over its bound, or a press stamped at "
                                  "its arrival) are left out of the onset RTs (--exclude-flagged-onsets); "
                                  "OnsetRT_Flagged says how many.")
                    : std::string("Hits whose timing row is flagged are kept in the onset RTs (OnsetRT_Flagged says how "
                                  "many)."));
  out.push_back(options.exclude_problem_runs
                    ? std::string("Runs with problems are left out of the pooled rows and the groups "
                                  "(--exclude-problem-runs); their own rows stay.")
                    : std::string("Runs with problems are kept in the pooled rows and the groups."));
  return out;
}

std::string ReportAbout(const Report& report) {
  const ResultFolder& results = report.results;
  std::string out = kAboutHead;
  out += "Program: " + report.program_version + "\n";
  char when[64] = "";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", utc);
  out += std::string("Written: ") + when + "\n";
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::absolute(PathFromUtf8(report.folder.empty() ? "." : report.folder), ec);
  out += "Folder: " + Printable(ec ? report.folder : Utf8FromPath(folder.lexically_normal()), false) + "\n";
  out += "Runs: " + std::to_string(results.runs.size()) + "; subjects: " + std::to_string(report.subjects.size()) +
         "; subject x condition rows: " + std::to_string(report.conditions.size()) + "\n";
  out += std::string("Simulated data: ") + (results.simulated ? "yes" : "no") + "\n";
  out += "Anticipation limit: " + std::to_string(report.options.anticipation_ms) +
         " ms. Hits and false alarms with an RT below it are counted in Anticipations and left out of "
         "every RT figure.\n";
  out += report.options.exclude_anticipations
             ? "Anticipations in Hit and FA: left out (--exclude-anticipations). Such a response's appearance "
               "counts in neither Hit nor FA, nor in Targets or Distractors, so not in the rates, d' and c "
               "(AnticipationsExcluded says how many).\n"
             : "Anticipations in Hit and FA: kept (the default). Hit, FA, the rates, d' and c count them.\n";
  out += "Exclusions in force:\n";
  for (const std::string& e : ExclusionsInForce(report.options)) out += "  " + e + "\n";
  out += R"(
Rows (column Level):
  run                one run (RunId numbers the runs oldest first, as in the trial file).
  subject_condition  one subject's runs alike in every setting but the seed, pooled.
  subject            all of one subject's runs pooled; Conditions says how many conditions
                     that row mixes (more than 1: read the subject_condition rows).
Pooled rows sum the counts of their runs and pool the reaction times; beside them,
*_RunMean and *_RunSD are the mean and SD of the runs' own values (runs without the value
left out; dPrime_RunN runs had a d'). A pooled d' grows with the number of runs when the
runs are near perfect (the correction below shrinks with the counts): compare it with
dPrime_RunMean.
Measures:
  HitRate = Hit / Targets, FARate = FA / Distractors, uncorrected; *_CI_Low and *_CI_High:
  95% Wilson score intervals.
  HitRateLL = (Hit + 0.5) / (Targets + 1), FARateLL = (FA + 0.5) / (Distractors + 1)
  (log-linear correction); dPrime = z(HitRateLL) - z(FARateLL), Criterion = -(z(HitRateLL)
  + z(FARateLL)) / 2.
  dPrime_SE = sqrt(H(1-H) / (Targets phi(z(H))^2) + F(1-F) / (Distractors phi(z(F))^2)) at
  the corrected rates H and F; dPrime_CI_* = dPrime -/+ z dPrime_SE, and the Wilson
  intervals use the same z = 1.959963984540054 (the normal quantile at 0.975).
  RT: the time from the creature's scheduled appearance to the press, in ms, as the result
  files book it (it includes the time until the creature is first drawn). OnsetRT: the time
  from the first frame that showed any of the creature to the press, from the timing record.
  HitRT_*: hits at or above the anticipation limit; HitRT_CI_*: 95% t interval of the mean
  (n - 1 degrees of freedom). FART_*: the same for false alarms. OnsetRT_*: hits at or above
  the limit, where the timing record gives their onset RT.
  OnsetRT_Flagged: of those hits, the ones whose timing row is flagged: its onset stamp
  beyond what the run's presentation promises (Over holds onset) or its press stamped when it
  arrived rather than by its event (PressSource arrival); left out of OnsetRT_* only with
  --exclude-flagged-onsets.
Presentation: the run's mode from the timing summary (locked: frames locked to the refresh;
fallback: paced on the clock; simulated) and where its frame times came from; on a pooled row
the modes of its runs (with how many runs each where they differ). RTsOverLimit: responses
beyond the upper RT limit, when one is set.
ArrivalPresses, OnsetOver, RiseOver, BookingLate: the run's counts from the timing summary:
presses stamped at their arrival, onsets whose stamp is not the display system's report and
whose present took longer than a refresh, rises more than two frames longer than the run's
RiseMs, and bookings later than a frame (plus 2 ms) after the press; on a pooled row the sums
over the runs that have them; empty where the timing summary has no such count.
Computer: the computer the run was recorded on, from the timing summary (several computers
may share one folder; two runs of one subject in the same second are told apart by it); on a
pooled row the computers of its runs.
Condition names a run's settings: T targets, D distractors, H holes, the run's length, the
exposure, the pause range, and holes in rows or at random places.
Missing values are empty cells. Problems names what the files lack for a run (a summary line
whose counts differ from its complete appearance rows is named there, and the rows' counts
are used); on a pooled row it says how many of its runs have problems.

Groups (<name>_groups.csv): for each condition, each subject's figure (HitRate, FARate,
dPrime, Criterion, HitRT_Mean) from its runs pooled (From = subject_pooled) and as the mean
of its runs' own values (From = run_mean), described over the subjects: N, Mean, SD, SE =
SD / sqrt(N), and the mean's 95% t interval (N - 1 degrees of freedom). Level
group_condition is one condition; condition_difference is Condition minus Condition_B within
the subjects who ran both (paired).

Reading the tables (keeps Subject as text, so that IDs such as 001 and 1 stay apart; the
types of every column are in <name>.schema.json, a Frictionless Data table schema):
  pandas: pandas.read_csv("<name>.csv", dtype={"Subject": str}, keep_default_na=False, na_values=[""])
  R:      read.csv("<name>.csv", fileEncoding = "UTF-8-BOM", colClasses = c(Subject = "character"), na.strings = "")
  readr:  readr::read_csv("<name>.csv", col_types = readr::cols(Subject = "c"), na = "")
A text cell starting with =, +, - or @ (a subject ID such as =1+2) is written with a leading
apostrophe so that spreadsheets show it as text; remove it to get the ID as recorded.
)";
  if (!results.problems.empty()) {
    out += "\nLines or files not used (" + std::to_string(results.problems.size()) + "):\n";
    for (size_t i = 0; i < results.problems.size() && i < 200; ++i)
      out += "  " + Printable(results.problems[i], false) + "\n";
    if (results.problems.size() > 200) out += "  ...\n";
  }
  if (results.simulated) {
    out += std::string("\nSimulation (") + kSimulatedMarkFile + "):\n";
    std::string line;
    for (char ch : report.simulation_notes) {
      if (ch == '\r') continue;
      if (ch == '\n') {
        out += "  " + line + "\n";
        line.clear();
      } else {
        line += ch;
      }
    }
    if (!line.empty()) out += "  " + line + "\n";
  }
  return Printable(out, true);
}

bool WriteReportAbout(const Report& report, const std::string& path, std::string& error) {
  return WriteReportFile(path, ReportAbout(report), error);
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
  if (head.rfind("\xEF\xBB\xBFLevel,", 0) == 0 || head.rfind("\xEF\xBB\xBFRunId,", 0) == 0 ||
      head.rfind(kAboutHead, 0) == 0 || head.rfind(kSchemaHead, 0) == 0)
    return true;
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
  return WriteReportFile(path, ReportCsv(report), error);
}

bool WriteReportFile(const std::string& path, const std::string& bytes, std::string& error) {
  return WriteReportStreamed(path, [&](const ReportSink& emit) { return emit(bytes); }, error);
}

bool WriteReportStreamed(const std::string& path, const std::function<bool(const ReportSink&)>& produce,
                         std::string& error) {
  // Only an earlier report may be replaced: under its name could be a subject's file.
  if (KindOfPath(path, false) != PathKind::kMissing && !IsOurReport(path)) {
    error = NamingFile("not replaced: this file exists and is not a report:", path);
    return false;
  }
  // Into a new file beside the target, created at this moment and renamed over it once
  // complete. Whatever lies at the temporary name (a leftover, or a link or FIFO planted there)
  // is never opened: it is removed and the name taken afresh, exclusively.
  const std::string temp = path + ".part";
  int fd = CreateNewFile(temp, 0666);
  if (fd < 0 && errno == EEXIST && KindOfPath(temp, false) != PathKind::kDirectory && RemoveFile(temp))
    fd = CreateNewFile(temp, 0666);
  if (fd < 0) {
    error = NamingFile("cannot write", path, std::strerror(errno));
    return false;
  }
  int saved = 0;
  const ReportSink emit = [&](std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        saved = n < 0 ? errno : ENOSPC;
        return false;
      }
      p += n;
      left -= size_t(n);
    }
    return true;
  };
  bool ok = produce(emit) && saved == 0;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  // Looked at again just before: only an earlier report is replaced; an absent target is taken
  // only while it stays absent.
  if (ok) {
    const bool absent = KindOfPath(path, false) == PathKind::kMissing;
    if (!absent && !IsOurReport(path)) {
      RemoveFile(temp);
      error = NamingFile("not replaced: this file exists and is not a report:", path);
      return false;
    }
    if (!(absent ? MoveToNewName(temp, path) : ReplaceFileWith(temp, path))) {
      ok = false;
      saved = errno;
    }
  }
  if (!ok) {
    error = NamingFile("cannot write", path, saved ? std::strerror(saved) : "");
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace pyokoran
