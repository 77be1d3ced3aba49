#include "analysis/result_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "platform/utf8_path.h"
#include "results/result_files.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

constexpr size_t kSummaryColumns = 17;
// No line the program writes comes near this; longer ones are skipped unread.
constexpr size_t kMaxLineBytes = 64 * 1024;
// Files larger than this are not read (the report of 10 000 runs reads about 150 MB).
constexpr uint64_t kMaxFileBytes = uint64_t(1) << 30;
constexpr size_t kAppearanceColumns = 24;
constexpr const char* kAppearanceHeader =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error";

// The whole file, or false when it cannot be opened or read as a regular file.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::FILE* f = FopenRegular(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > 0) bytes.reserve(size_t(size));
    std::rewind(f);
  }
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Lines without their CR LF (or LF); a last line without its line feed is torn (a kill
// during an append): it is left out and noted in problems under name.
std::vector<std::string_view> SplitLines(std::string_view bytes, const std::string& name,
                                         std::vector<std::string>& problems) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) {
      problems.push_back(name + ": line " + std::to_string(lines.size() + 1) +
                         " has no line end (cut off while written); skipped");
      break;
    }
    if (end - start > kMaxLineBytes) {
      problems.push_back(name + ": line " + std::to_string(lines.size() + 1) + " is longer than " +
                         std::to_string(kMaxLineBytes) + " bytes; skipped");
      lines.emplace_back();  // keeps the numbering; empty lines are passed over
      start = end + 1;
      continue;
    }
    size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.emplace_back(bytes.data() + start, stop - start);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string_view> SplitFields(std::string_view line, char sep) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(sep, start);
    if (end == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

// A subject may hold the separator: the surplus fields at the front are joined back into it.
bool FoldSubject(std::vector<std::string_view>& fields, size_t columns, char sep,
                 std::string& subject) {
  if (fields.size() < columns) return false;
  const size_t extra = fields.size() - columns;
  subject.assign(fields[0]);
  for (size_t i = 1; i <= extra; ++i) {
    subject += sep;
    subject.append(fields[i]);
  }
  fields.erase(fields.begin() + 1, fields.begin() + 1 + ptrdiff_t(extra));
  return true;
}

// Splits line at sep into exactly n fields, taking them from the right so that a subject
// (the first field) may hold sep itself. False when there are fewer.
bool SplitExactly(std::string_view line, char sep, size_t n, std::string_view* fields) {
  size_t end = line.size();
  for (size_t k = n - 1; k >= 1; --k) {
    if (end == 0) return false;
    const size_t p = line.rfind(sep, end - 1);
    if (p == std::string_view::npos) return false;
    fields[k] = line.substr(p + 1, end - p - 1);
    end = p;
  }
  fields[0] = line.substr(0, end);
  return true;
}

bool ToInt(std::string_view text, int32_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  auto [p, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && p == last && first != last;
}

bool ToDouble(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  auto [p, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && p == last && first != last;
}

std::string Key(const std::string& subject, std::string_view date, std::string_view time) {
  std::string key = subject;
  key += '\x1f';
  key.append(date);
  key += '\x1f';
  key.append(time);
  return key;
}

std::string ToUtf8(const std::string& cp932) {
  std::string out;
  Cp932ToUtf8(cp932, out);
  return out;
}

// Lower-case letters and digits only: "RT_onset" and "RT from onset" both give "rtonset".
std::string Normalised(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c)) out += char(std::tolower(c));
  }
  return out;
}

struct Index {
  std::unordered_map<std::string, size_t> runs;
};

RunRecord& FindOrAdd(ResultFolder& out, Index& index, RunRecord&& key) {
  const std::string k = Key(key.subject, key.date, key.time);
  auto it = index.runs.find(k);
  if (it != index.runs.end()) return out.runs[it->second];
  key.file_order = int32_t(out.runs.size());
  key.subject_utf8 = ToUtf8(key.subject);
  index.runs.emplace(k, out.runs.size());
  out.runs.push_back(std::move(key));
  return out.runs.back();
}

void ReadSummary(const std::string& path, ResultFolder& out, Index& index) {
  std::string bytes;
  std::error_code ec;
  if (std::filesystem::file_size(PathFromUtf8(path), ec) > kMaxFileBytes && !ec) {
    out.problems.push_back(std::string(kSummaryFileName) + ": larger than " +
                           std::to_string(kMaxFileBytes >> 20) + " MiB; not read");
    return;
  }
  if (!ReadWholeFile(path, bytes)) {
    out.problems.push_back(std::string(kSummaryFileName) + ": cannot be read; skipped");
    return;
  }
  const auto lines = SplitLines(bytes, kSummaryFileName, out.problems);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == 0 && lines[0].substr(0, 8) == "Subject\t") continue;
    if (lines[i].empty()) continue;
    RunRecord run;
    if (!ParseSummaryLine(lines[i], run)) {
      out.problems.push_back(std::string(kSummaryFileName) + ": line " + std::to_string(i + 1) +
                             " is not a summary line; skipped");
      continue;
    }
    run.in_summary = true;
    const std::string k = Key(run.subject, run.date, run.time);
    if (index.runs.count(k)) {
      out.problems.push_back(std::string(kSummaryFileName) + ": line " + std::to_string(i + 1) +
                             " repeats the run of " + ToUtf8(run.subject) + " at " + run.date +
                             " " + run.time + "; skipped");
      continue;
    }
    FindOrAdd(out, index, std::move(run));
  }
}

// Rows of another subject than `subject` (when not empty) are left out with a problem line.
void ReadAppearances(const std::string& name, const std::string& subject, std::string_view bytes,
                     ResultFolder& out, Index& index) {
  const auto lines = SplitLines(bytes, name, out.problems);
  RunRecord* current = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    AppearanceRow row;
    std::string_view f[kAppearanceColumns];
    int32_t v[kAppearanceColumns] = {};
    bool ok = SplitExactly(lines[i], ',', kAppearanceColumns, f) && f[1].size() == 10 && !f[2].empty();
    // The columns the measures use; the run's settings only where a run begins.
    for (size_t k : {3, 13, 14, 15, 18, 21, 22, 23}) ok = ok && ToInt(f[k], v[k]);
    const bool new_run =
        ok && (!current || f[0] != current->subject || f[1] != current->date || f[2] != current->time);
    for (size_t k = 4; new_run && k <= 12; ++k) ok = ok && ToInt(f[k], v[k]);
    if (!ok) {
      out.problems.push_back(name + ": line " + std::to_string(i + 1) +
                             " is not an appearance row; skipped");
      continue;
    }
    if (!subject.empty() && f[0] != subject) {
      out.problems.push_back(name + ": line " + std::to_string(i + 1) +
                             " belongs to another subject; skipped");
      continue;
    }
    if (new_run) {
      RunRecord key;
      key.subject.assign(f[0]);
      key.date.assign(f[1]);
      key.time.assign(f[2]);
      key.TgtPokko = v[4];
      key.DstPokko = v[5];
      key.Holes = v[6];
      key.Ordered = v[7];
      key.Dur = v[8];
      key.ISI_1 = v[9];
      key.ISI_2 = v[10];
      key.TmLimit = v[11];
      key.RndSeed = v[12];
      current = &FindOrAdd(out, index, std::move(key));
    }
    if (current->rows.size() >= size_t(kLoggedRowLimit)) {
      if (!current->rows_cut) {
        current->rows_cut = true;
        out.problems.push_back(name + ": line " + std::to_string(i + 1) + " and later rows of " +
                               ToUtf8(current->subject) + " " + current->date + " " + current->time +
                               " are beyond " + std::to_string(kLoggedRowLimit) + " rows; skipped");
      }
      continue;
    }
    row.Trial = v[3];
    row.Pokko = v[13];
    row.Tgt = v[14];
    row.Hole = v[15];
    row.Resp = v[18];
    row.RT = v[21];
    row.TotalRT = v[22];
    row.Error = v[23];
    current->rows.push_back(row);
  }
}

void ReadTiming(const std::string& name, const std::string& bytes, ResultFolder& out,
                Index& index) {
  const auto lines = SplitLines(bytes, name, out.problems);
  if (lines.empty()) return;
  const auto header = SplitFields(lines[0], ',');
  int subject = -1, date = -1, time = -1, trial = -1, onset_rt = -1;
  for (size_t c = 0; c < header.size(); ++c) {
    const std::string n = Normalised(header[c]);
    if (n == "subject") subject = int(c);
    else if (n == "date") date = int(c);
    else if (n == "time") time = int(c);
    else if (n == "trial") trial = int(c);
    else if (onset_rt < 0 && n != "onset" && n.find("onset") != std::string::npos &&
             n.find("rt") != std::string::npos)
      onset_rt = int(c);
  }
  if (subject != 0 || date < 0 || time < 0 || trial < 0 || onset_rt < 0) {
    out.problems.push_back(name + ": no reaction time from the onset found; not used");
    return;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    auto fields = SplitFields(lines[i], ',');
    std::string who;
    if (!FoldSubject(fields, header.size(), ',', who)) continue;
    int32_t trial_number = 0;
    double rt = 0;
    if (!ToInt(fields[size_t(trial)], trial_number)) continue;
    const bool pressed = ToDouble(fields[size_t(onset_rt)], rt);  // empty without a press
    auto it = index.runs.find(Key(who, fields[size_t(date)], fields[size_t(time)]));
    if (it == index.runs.end()) continue;
    RunRecord& run = out.runs[it->second];
    ++run.timing_rows;
    if (!pressed) continue;
    // Rows are numbered 1.. in log order; look there first.
    AppearanceRow* row = nullptr;
    if (trial_number >= 1 && size_t(trial_number) <= run.rows.size() &&
        run.rows[size_t(trial_number) - 1].Trial == trial_number) {
      row = &run.rows[size_t(trial_number) - 1];
    } else {
      for (AppearanceRow& r : run.rows) {
        if (r.Trial == trial_number) row = &r;
      }
    }
    if (!row) continue;
    row->has_onset_rt = true;
    row->onset_rt = rt;
  }
}

}  // namespace

bool ParseSummaryLine(std::string_view line, RunRecord& run) {
  std::string_view f[kSummaryColumns];
  if (!SplitExactly(line, '\t', kSummaryColumns, f) || f[1].size() != 10 || f[2].empty()) return false;
  int32_t* fields[] = {&run.TgtPokko, &run.DstPokko, &run.Holes, &run.Ordered, &run.Dur,
                       &run.ISI_1,    &run.ISI_2,    &run.TmLimit, &run.RndSeed, &run.Hit,
                       &run.Miss,     &run.CR,       &run.FA};
  for (size_t i = 0; i < std::size(fields); ++i) {
    if (!ToInt(f[3 + i], *fields[i])) return false;
  }
  int32_t score = 0;
  if (!ToInt(f[16], score)) return false;
  run.subject.assign(f[0]);
  run.date.assign(f[1]);
  run.time.assign(f[2]);
  return true;
}

bool ReadResultFolder(const std::string& folder, ResultFolder& out, std::string& error) {
  namespace fs = std::filesystem;
  out = ResultFolder{};
  std::error_code ec;
  const fs::path dir = folder.empty() ? fs::path(".") : PathFromUtf8(folder);
  if (!fs::is_directory(dir, ec)) {
    error = "not a folder: " + Utf8FromPath(dir);
    return false;
  }
  Index index;
  bool found = false;
  const fs::path summary = dir / PathFromUtf8(kSummaryFileName);
  if (fs::is_regular_file(summary, ec)) {
    found = true;
    ReadSummary(Utf8FromPath(summary), out, index);
  } else if (fs::symlink_status(summary, ec).type() != fs::file_type::not_found) {
    out.problems.push_back(std::string(kSummaryFileName) + ": not a regular file; skipped");
  }
  out.simulated = fs::is_regular_file(dir / kSimulatedMarkFile, ec);

  // Appearance files first (they name the runs), then the timing records that refer to them.
  // With a summary, exactly each summarised subject's files are read (a copy of a file beside
  // them would count its rows twice); without one, every file that carries the header.
  std::vector<fs::path> csv;
  std::vector<std::string> subjects;  // the subject each listed file belongs to, or empty
  std::unordered_set<std::string> seen;
  for (const RunRecord& run : out.runs) {
    if (!seen.insert(run.subject).second) continue;
    const std::string name = AppearanceFileName(run.subject);
    if (name.empty()) continue;
    csv.push_back(dir / PathFromUtf8(name));
    subjects.push_back(run.subject);
    csv.push_back(dir / PathFromUtf8(name.substr(0, name.size() - 4) + "_timing.csv"));
    subjects.push_back(run.subject);
  }
  if (out.runs.empty()) {
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".csv" && it->is_regular_file(ec)) csv.push_back(it->path());
    }
    if (ec) {
      error = "cannot list " + Utf8FromPath(dir) + ": " + ec.message();
      return false;
    }
    std::sort(csv.begin(), csv.end());
    subjects.assign(csv.size(), std::string());
  }
  std::vector<std::pair<std::string, std::string>> timing;
  for (size_t i = 0; i < csv.size(); ++i) {
    const fs::path& p = csv[i];
    if (!subjects[i].empty() && !fs::exists(fs::symlink_status(p, ec))) continue;
    const uintmax_t size = fs::file_size(p, ec);
    if (!ec && size > kMaxFileBytes) {
      out.problems.push_back(Utf8FromPath(p.filename()) + ": larger than " +
                             std::to_string(kMaxFileBytes >> 20) + " MiB; not read");
      continue;
    }
    const MappedFile file(Utf8FromPath(p));
    if (!file.opened()) {
      out.problems.push_back(Utf8FromPath(p.filename()) + ": cannot be read; skipped");
      continue;
    }
    const std::string_view bytes = file.bytes();
    const size_t eol = bytes.find_first_of("\r\n");
    const std::string_view header = bytes.substr(0, eol);
    if (header == kAppearanceHeader) {
      found = true;
      ReadAppearances(Utf8FromPath(p.filename()), subjects[i], bytes, out, index);
    } else if (Utf8FromPath(p.stem()).size() > 7 &&
               Utf8FromPath(p.stem()).compare(Utf8FromPath(p.stem()).size() - 7, 7, "_timing") == 0) {
      timing.emplace_back(Utf8FromPath(p.filename()), std::string(bytes));
    }
  }
  for (auto& [name, bytes] : timing) ReadTiming(name, bytes, out, index);

  // Runs known from their rows only get their counts from the rows.
  for (RunRecord& run : out.runs) {
    if (run.in_summary) continue;
    for (const AppearanceRow& r : run.rows) {
      if (r.Tgt) (r.Resp ? run.Hit : run.Miss) += 1;
      else (r.Resp ? run.FA : run.CR) += 1;
    }
  }
  // Summarised runs whose rows disagree with their counts: a missing or cut appearance file,
  // the row limit, a missing or cut timing file (where the folder keeps timing records).
  const bool timed_folder = fs::is_regular_file(dir / PathFromUtf8(kTimingSummaryFileName), ec);
  for (RunRecord& run : out.runs) {
    if (!run.in_summary) continue;
    const int32_t decided = run.Hit + run.Miss + run.CR + run.FA;
    const int32_t expected = std::min(decided, kLoggedRowLimit);
    const int32_t rows = int32_t(run.rows.size());
    std::string& p = run.problems;
    if (rows == 0 && expected > 0) p = "appearance rows missing";
    else if (rows != expected)
      p = "appearance rows " + std::to_string(rows) + " of " + std::to_string(expected);
    if (decided > kLoggedRowLimit) {
      if (!p.empty()) p += "; ";
      p += "over the " + std::to_string(kLoggedRowLimit) + "-row log limit (" +
           std::to_string(decided) + " appearances)";
    }
    // A run recorded before timing records began has none at all: told only where the folder
    // keeps the timing summary.
    if ((timed_folder || run.timing_rows > 0) && run.timing_rows < rows) {
      if (!p.empty()) p += "; ";
      p += run.timing_rows == 0 ? std::string("timing rows missing")
                                : "timing rows " + std::to_string(run.timing_rows) + " of " +
                                      std::to_string(rows);
    }
    if (!p.empty())
      out.problems.push_back(run.subject_utf8 + " " + run.date + " " + run.time + ": " + p);
  }
  if (!found) {
    error = "no result files in " + Utf8FromPath(dir);
    for (const std::string& p : out.problems) error += "\n" + p;
    return false;
  }
  return true;
}

}  // namespace pyokoran
