#include "analysis/result_reader.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "app/message_text.h"
#include "platform/cp932.h"
#include "platform/file_system.h"
#include "platform/number_text.h"
#include "platform/regular_file.h"
#include "platform/utf8_path.h"
#include "results/folder_lock.h"
#include "results/result_files.h"
#include "results/subject_id.h"
#include "timing/timing_files.h"

namespace pyokoran {
namespace {

static_assert(sizeof(AppearanceRow) == 24, "a million rows must stay small");

constexpr size_t kSummaryColumns = 17;
// How long reading waits for a program writing into the folder.
constexpr int kReadWaitMs = 5000;
// No line the program writes comes near this; longer ones are skipped unread.
constexpr size_t kMaxLineBytes = 64 * 1024;
// Files larger than this are not read (the report of 10 000 runs reads about 150 MB).
constexpr uint64_t kMaxFileBytes = kMaxResultFileBytes;
constexpr size_t kAppearanceColumns = 24;
constexpr const char* kAppearanceHeader =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error";

// The problems of lines (and files) kept word for word: the first ones, each cut to a length;
// the rest are counted in one closing line.
constexpr size_t kMaxLineProblems = 50;
constexpr size_t kMaxProblemBytes = 300;
// Runs whose files disagree, listed by name; each run's row says it in any case.
constexpr size_t kMaxRunProblems = 100;

// At most max bytes of UTF-8 text, never a split character, with "…" when cut.
std::string Cut(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text + "\u2026";
}

// The problem list a reading adds to, bounded.
class Problems {
 public:
  explicit Problems(std::vector<std::string>& list) : list_(list) {}
  void Add(std::string text) {
    if (kept_ < kMaxLineProblems) {
      list_.push_back(Cut(std::move(text), kMaxProblemBytes));
      ++kept_;
    } else {
      ++left_out_;
    }
  }
  // The closing line for what was not kept.
  void Close() {
    if (left_out_ > 0)
      list_.push_back("\u2026 and " + std::to_string(left_out_) + " more lines or files not used (not listed)");
    left_out_ = 0;
  }

 private:
  std::vector<std::string>& list_;
  size_t kept_ = 0, left_out_ = 0;
};

// Hands a file's lines to a function one by one, read block by block so that a large file
// never sits in memory whole: fn(index, line) with the line's 0-based index and the line
// without its CR LF (or LF). A line longer than kMaxLineBytes is skipped with a problem line
// (fn sees it empty, keeping the numbering); a last line without its line feed is torn (a
// kill during an append): it is left out and noted. Bytes read are added to *read. False when
// the stream fails or the reading is stopped.
class LineStream {
 public:
  // block: the buffer to read into, one for all files (a new one per file would be paged in
  // afresh each time).
  LineStream(std::FILE* f, std::string name, Problems& problems, ReadControl* control, std::vector<char>& block)
      : f_(f), name_(std::move(name)), problems_(problems), control_(control), block_(block) {
    block_.resize(kBlockBytes);
  }

  template <typename Fn>
  bool ForEach(Fn&& fn) {
    std::string pending;  // the start of a line whose end is in a later block
    bool skipping = false;  // inside a line longer than the limit
    size_t index = 0;
    std::vector<char>& block = block_;
    for (;;) {
      if (control_ && control_->cancelled())
        return false;
      const size_t n = std::fread(block.data(), 1, block.size(), f_);
      if (n == 0) break;
      if (control_) control_->Add(n);
      std::string_view data(block.data(), n);
      size_t start = 0;
      while (start < data.size()) {
        const size_t end = data.find('\n', start);
        if (end == std::string_view::npos) {
          if (!skipping) {
            pending.append(data.substr(start));
            if (pending.size() > kMaxLineBytes) {
              skipping = true;
              pending.clear();
            }
          }
          break;
        }
        if (skipping || pending.size() + (end - start) > kMaxLineBytes) {
          problems_.Add(name_ + ": line " + std::to_string(index + 1) + " is longer than " +
                              std::to_string(kMaxLineBytes) + " bytes; skipped");
          fn(index++, std::string_view());  // keeps the numbering; empty lines are passed over
          skipping = false;
          pending.clear();
        } else {
          std::string_view line;
          if (pending.empty()) {
            line = data.substr(start, end - start);
          } else {
            pending.append(data.substr(start, end - start));
            line = pending;
          }
          if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
          fn(index++, line);
          pending.clear();
        }
        start = end + 1;
      }
    }
    if (std::ferror(f_)) return false;
    if (skipping || !pending.empty()) {
      problems_.Add(name_ + ": line " + std::to_string(index + 1) +
                          " has no line end (cut off while written); skipped");
    }
    return true;
  }

 private:
  static constexpr size_t kBlockBytes = 1 << 18;
  std::FILE* f_;
  std::string name_;
  Problems& problems_;
  ReadControl* control_;
  std::vector<char>& block_;
};

// Closes a stdio stream on the way out.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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

// The bytes of an 8-byte word (loaded little-endian) that equal the byte repeated in seps, as the
// top bit of each; exact, with no borrow between bytes.
inline uint64_t SeparatorBits(uint64_t word, uint64_t seps) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t x = word ^ seps;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

inline uint64_t Word(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

constexpr bool kWordScan = std::endian::native == std::endian::little;

// Splits line at sep into exactly n fields, taking them from the right so that a subject
// (the first field) may hold sep itself. False when there are fewer.
bool SplitExactly(std::string_view line, char sep, size_t n, std::string_view* fields) {
  // From the end, eight bytes at a time where the machine allows, then byte by byte.
  const char* const begin = line.data();
  const char* end = begin + line.size();  // of the field being looked for
  const char* p = end;                    // scanned back to here
  size_t k = n - 1;
  if constexpr (kWordScan) {
    const uint64_t seps = 0x0101010101010101ULL * uint8_t(sep);
    for (; k >= 1 && p - begin >= 8; p -= 8) {
      for (uint64_t bits = SeparatorBits(Word(p - 8), seps); bits != 0 && k >= 1;) {
        const int top = 63 - std::countl_zero(bits);
        const char* at = p - 8 + (top >> 3);
        fields[k--] = std::string_view(at + 1, size_t(end - at - 1));
        end = at;
        bits &= ~(uint64_t(1) << top);
      }
    }
  }
  while (k >= 1 && p != begin) {
    if (*--p == sep) {
      fields[k--] = std::string_view(p + 1, size_t(end - p - 1));
      end = p;
    }
  }
  if (k != 0) return false;
  fields[0] = std::string_view(begin, size_t(end - begin));
  return true;
}

// Every field of line at sep, left to right, into fields (cleared first).
void SplitAll(std::string_view line, char sep, std::vector<std::string_view>& fields) {
  fields.clear();
  const char* start = line.data();
  const char* const end = start + line.size();
  const char* p = start;
  if constexpr (kWordScan) {
    const uint64_t seps = 0x0101010101010101ULL * uint8_t(sep);
    for (; end - p >= 8; p += 8) {
      for (uint64_t bits = SeparatorBits(Word(p), seps); bits != 0; bits &= bits - 1) {
        const char* at = p + (std::countr_zero(bits) >> 3);
        fields.emplace_back(start, size_t(at - start));
        start = at + 1;
      }
    }
  }
  for (; p != end; ++p) {
    if (*p == sep) {
      fields.emplace_back(start, size_t(p - start));
      start = p + 1;
    }
  }
  fields.emplace_back(start, size_t(end - start));
}

bool ToInt(std::string_view text, int32_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  // The common case, up to nine digits after an optional minus, by hand; anything else as
  // from_chars reads it.
  const char* q = first;
  const bool negative = q != last && *q == '-';
  if (negative) ++q;
  if (last - q >= 1 && last - q <= 9) {
    int32_t v = 0;
    for (; q != last; ++q) {
      const unsigned digit = unsigned(static_cast<unsigned char>(*q)) - '0';
      if (digit > 9) break;
      v = v * 10 + int32_t(digit);
    }
    if (q == last) {
      value = negative ? -v : v;
      return true;
    }
  }
  auto [p, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && p == last && first != last;
}

bool ToDouble(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  auto [p, ec] = DecimalFromChars(first, last, value);
  return ec == std::errc() && p == last && first != last;
}

// A number with at most three decimals ("672.608", "-3", "2238") as whole thousandths: what
// rounding its double times 1000 gives, for every such number of up to twelve whole digits.
// False for any other form, which is then read as a double.
bool ToThousandths(std::string_view text, int64_t& value) {
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  int64_t whole = 0;
  int digits = 0;
  for (; p != end && *p >= '0' && *p <= '9'; ++p) {
    if (++digits > 12) return false;
    whole = whole * 10 + (*p - '0');
  }
  if (digits == 0) return false;
  int64_t fraction = 0;
  int decimals = 0;
  if (p != end && *p == '.') {
    for (++p; p != end && *p >= '0' && *p <= '9'; ++p) {
      if (++decimals > 3) return false;
      fraction = fraction * 10 + (*p - '0');
    }
    if (decimals == 0) return false;
  }
  if (p != end) return false;
  for (; decimals < 3; ++decimals) fraction *= 10;
  value = negative ? -(whole * 1000 + fraction) : whole * 1000 + fraction;
  return true;
}

template <typename T>
bool Fits(int32_t v) {
  return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
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

// The runs by subject, date and time.
struct Index {
  explicit Index(std::vector<std::string>& list) : problems(list) {}
  Problems problems;  // the reading's problem list
  std::unordered_map<std::string, size_t> runs;
  std::string scratch;  // the key looked up last, its buffer reused
  std::vector<char> block;  // the files' blocks are read into

  const std::string& Key(std::string_view subject, std::string_view date, std::string_view time) {
    scratch.assign(subject);
    scratch += '\x1f';
    scratch.append(date);
    scratch += '\x1f';
    scratch.append(time);
    return scratch;
  }
};

// The run of key's subject, date and time that is the n-th of them (0 for the first), made
// (and the ones before it) where the folder had fewer.
RunRecord& FindOrAdd(ResultFolder& out, Index& index, RunRecord&& key, int32_t n = 0) {
  const std::string& k = index.Key(key.subject, key.date, key.time);
  auto it = index.runs.find(k);
  size_t at = 0;
  if (it == index.runs.end()) {
    at = out.runs.size();
    index.runs.emplace(k, at);
  } else {
    at = it->second;
    while (out.runs[at].occurrence < n && out.runs[at].same_key_next >= 0) at = size_t(out.runs[at].same_key_next);
    if (out.runs[at].occurrence == n) return out.runs[at];
    out.runs[at].same_key_next = int32_t(out.runs.size());
    key.occurrence = out.runs[at].occurrence + 1;
    at = out.runs.size();
  }
  key.file_order = int32_t(out.runs.size());
  key.subject_utf8 = ToUtf8(key.subject);
  out.runs.push_back(std::move(key));
  if (out.runs.back().occurrence < n) {
    RunRecord next = out.runs.back();
    next.rows.clear();
    next.in_summary = false;
    return FindOrAdd(out, index, std::move(next), n);
  }
  return out.runs[at];
}

// The n-th run of a subject, date and time, or -1.
int64_t NthRun(const ResultFolder& out, const Index& index, const std::string& key, int32_t n) {
  auto it = index.runs.find(key);
  if (it == index.runs.end()) return -1;
  int64_t at = int64_t(it->second);
  while (at >= 0 && out.runs[size_t(at)].occurrence < n) at = out.runs[size_t(at)].same_key_next;
  return at >= 0 && out.runs[size_t(at)].occurrence == n ? at : -1;
}

// How many blocks of each subject, date and time one file has shown so far.
class Occurrences {
 public:
  int32_t Next(const std::string& key) { return seen_[key]++; }

 private:
  std::unordered_map<std::string, int32_t> seen_;
};

// False only when the reading was stopped.
bool ReadSummary(const std::string& path, ResultFolder& out, Index& index, ReadControl* control) {
  std::error_code ec;
  if (std::filesystem::file_size(PathFromUtf8(path), ec) > kMaxFileBytes && !ec) {
    index.problems.Add(std::string(kSummaryFileName) + ": larger than " +
                           std::to_string(kMaxFileBytes >> 20) + " MiB; not read");
    return true;
  }
  File f(FopenRegular(path.c_str(), "rb"));
  bool stopped = false;
  if (f) {
    LineStream lines(f.get(), kSummaryFileName, index.problems, control, index.block);
    Occurrences seen;
    const bool ok = lines.ForEach([&](size_t i, std::string_view line) {
      if (i == 0 && line.substr(0, 8) == "Subject\t") return;
      if (line.empty()) return;
      RunRecord run;
      if (!ParseSummaryLine(line, run)) {
        index.problems.Add(std::string(kSummaryFileName) + ": line " + std::to_string(i + 1) +
                               " is not a summary line; skipped");
        return;
      }
      run.in_summary = true;
      const int32_t n = seen.Next(index.Key(run.subject, run.date, run.time));
      FindOrAdd(out, index, std::move(run), n);
    });
    stopped = !ok && !std::ferror(f.get());
    if (!ok && !stopped) f.reset();
  }
  if (!f) {
    // Lines read before a failure are kept; the file is said to be unreadable.
    index.problems.Add(std::string(kSummaryFileName) + ": cannot be read; skipped");
  }
  return !stopped;
}

// The rows of one appearance file, line by line. Rows of another subject than `subject` (when
// not empty) are left out with a problem line.
class AppearanceReader {
 public:
  AppearanceReader(const std::string& name, const std::string& subject, ResultFolder& out, Index& index)
      : name_(name), subject_(subject), out_(out), index_(index) {}

  void Line(size_t i, std::string_view line) {
    if (i == 0 || line.empty()) return;  // the header
    // The reader's own arrays, not cleared line by line: a field is read only once split, a
    // number only once parsed (the trial number of a line that fails is 0).
    std::string_view* const f = f_;
    int32_t* const v = v_;
    v[3] = 0;
    bool ok = SplitExactly(line, ',', kAppearanceColumns, f) && f[1].size() == 10 && !f[2].empty();
    // The columns the measures use; the run's settings only where a run begins.
    for (size_t k : {3, 13, 14, 15, 18, 21, 22, 23}) ok = ok && ToInt(f[k], v[k]);
    // A run's rows are numbered from 1: a number not beyond the one before starts another run
    // of the same subject, date and time (recorded by another computer in the same second).
    const bool new_run = ok && (!current_ || f[0] != current_->subject || f[1] != current_->date ||
                                f[2] != current_->time || v[3] <= last_trial_);
    last_trial_ = v[3];
    for (size_t k = 4; new_run && k <= 12; ++k) ok = ok && ToInt(f[k], v[k]);
    ok = ok && Fits<int16_t>(v[3]) && Fits<int8_t>(v[13]) && Fits<int8_t>(v[14]) && Fits<int8_t>(v[15]) &&
         Fits<int8_t>(v[18]) && Fits<int8_t>(v[23]);
    if (!ok) {
      index_.problems.Add(name_ + ": line " + std::to_string(i + 1) +
                              " is not an appearance row; skipped");
      return;
    }
    if (!subject_.empty() && f[0] != subject_) {
      index_.problems.Add(name_ + ": line " + std::to_string(i + 1) +
                              " belongs to another subject; skipped");
      return;
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
      const int32_t n = seen_.Next(index_.Key(key.subject, key.date, key.time));
      current_ = &FindOrAdd(out_, index_, std::move(key), n);
      // A summarised run says how many rows to expect.
      if (current_->in_summary && current_->rows.empty())
        current_->rows.reserve(size_t(std::clamp<int64_t>(
            int64_t(current_->Hit) + current_->Miss + current_->CR + current_->FA, 0, kLoggedRowLimit)));
    }
    if (current_->rows.size() >= size_t(kLoggedRowLimit)) {
      if (!current_->rows_cut) {
        current_->rows_cut = true;
        index_.problems.Add(name_ + ": line " + std::to_string(i + 1) + " and later rows of " +
                                ToUtf8(current_->subject) + " " + current_->date + " " + current_->time +
                                " are beyond " + std::to_string(kLoggedRowLimit) + " rows; skipped");
      }
      return;
    }
    AppearanceRow row;
    row.Trial = int16_t(v[3]);
    row.Pokko = int8_t(v[13]);
    row.Tgt = int8_t(v[14]);
    row.Hole = int8_t(v[15]);
    row.Resp = int8_t(v[18]);
    row.RT = v[21];
    row.TotalRT = v[22];
    row.Error = int8_t(v[23]);
    current_->rows.push_back(row);
  }

 private:
  const std::string& name_;
  const std::string& subject_;
  ResultFolder& out_;
  Index& index_;
  RunRecord* current_ = nullptr;
  int32_t last_trial_ = 0;
  Occurrences seen_;
  std::string_view f_[kAppearanceColumns];
  int32_t v_[kAppearanceColumns] = {};
};

// The reactions times from the onset in a subject's timing record, line by line.
class TimingReader {
 public:
  // Rows of another subject than subject (when not empty) are left out with a problem line.
  TimingReader(const std::string& name, const std::string& subject, ResultFolder& out, Index& index)
      : name_(name), subject_(subject), out_(out), index_(index) {}

  void Line(size_t i, std::string_view line) {
    if (i == 0) {
      Header(line);
      return;
    }
    if (!usable_ || line.empty()) return;
    SplitAll(line, ',', fields_);
    // A subject may hold the separator: the surplus fields at the front belong to it. Rows
    // appended by a later version under an older header carry columns of their own at the
    // end: the surplus is the subject's only as far as the date then stands where it should.
    if (fields_.size() < columns_) return;
    size_t extra = fields_.size() - columns_;
    auto date_at = [&](size_t k) {
      const std::string_view d = fields_[size_t(date_) + k];
      return d.size() == 10 && d[4] == '/' && d[7] == '/';
    };
    while (extra > 0 && !date_at(extra)) --extra;
    who_.assign(fields_[0]);
    for (size_t k = 1; k <= extra; ++k) {
      who_ += ',';
      who_.append(fields_[k]);
    }
    if (!subject_.empty() && who_ != subject_) {
      index_.problems.Add(name_ + ": line " + std::to_string(i + 1) + " belongs to another subject; skipped");
      return;
    }
    auto field = [&](int c) { return fields_[size_t(c) == 0 ? 0 : size_t(c) + extra]; };
    int32_t trial_number = 0;
    double rt = 0;
    if (!ToInt(field(trial_), trial_number)) return;
    const std::string_view onset = field(onset_rt_);  // empty without a press
    // A run's rows follow one another, numbered from 1: a row of another subject, date or time,
    // or a number not beyond the one before, starts the next block, which is the n-th run of
    // its key as in the other files.
    const std::string_view date = field(date_), time = field(time_);
    if (!block_ || block_subject_ != who_ || block_date_ != date || block_time_ != time ||
        trial_number <= last_trial_) {
      block_ = true;
      block_subject_ = who_;
      block_date_.assign(date);
      block_time_.assign(time);
      const std::string& key = index_.Key(who_, date, time);
      block_run_ = NthRun(out_, index_, key, seen_.Next(key));
    }
    last_trial_ = trial_number;
    if (block_run_ < 0) return;
    RunRecord& run = out_.runs[size_t(block_run_)];
    ++run.timing_rows;
    const std::string_view shown = show_tick_ >= 0 ? field(show_tick_) : std::string_view();
    const bool flagged =
        (over_ >= 0 && !field(over_).empty()) || (press_source_ >= 0 && field(press_source_) == "arrival");
    if (onset.empty() && shown.empty() && !flagged) return;
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
    if (!row) return;
    row->timing_flags = 0;
    if (over_ >= 0 && !field(over_).empty()) {
      for (const std::string_view word : SplitFields(field(over_), ' ')) {
        if (word == "onset") row->timing_flags |= AppearanceRow::kOnsetOver;
        else if (word == "rise") row->timing_flags |= AppearanceRow::kRiseOver;
        else if (word == "booking") row->timing_flags |= AppearanceRow::kBookingLate;
      }
    }
    if (press_source_ >= 0 && field(press_source_) == "arrival") row->timing_flags |= AppearanceRow::kArrivalPress;
    double show = 0;
    int64_t thousandths = 0;
    if (shown.empty()) {
    } else if (ToThousandths(shown, thousandths)) {
      if (thousandths >= 0 && thousandths < int64_t(2e12)) row->ShowMs = int32_t((thousandths + 500) / 1000);
    } else if (ToDouble(shown, show) && show >= 0 && show < 2e9) {
      row->ShowMs = int32_t(std::lround(show));
    }
    if (onset.empty()) return;
    if (ToThousandths(onset, thousandths) ? !row->SetOnsetRtUs(thousandths)
                                          : !ToDouble(onset, rt) || !row->SetOnsetRt(rt)) {
      index_.problems.Add(name_ + ": line " + std::to_string(i + 1) +
                              ": the reaction time from the onset is not a number of ms within 30 minutes; not used");
    }
  }

 private:
  void Header(std::string_view line) {
    const auto header = SplitFields(line, ',');
    int subject = -1;
    for (size_t c = 0; c < header.size(); ++c) {
      const std::string n = Normalised(header[c]);
      if (n == "subject") subject = int(c);
      else if (n == "date") date_ = int(c);
      else if (n == "time") time_ = int(c);
      else if (n == "trial") trial_ = int(c);
      else if (n == "showtick") show_tick_ = int(c);
      else if (n == "presssource") press_source_ = int(c);
      else if (n == "over") over_ = int(c);
      else if (onset_rt_ < 0 && n != "onset" && n.find("onset") != std::string::npos &&
               n.find("rt") != std::string::npos)
        onset_rt_ = int(c);
    }
    columns_ = header.size();
    usable_ = subject == 0 && date_ >= 0 && time_ >= 0 && trial_ >= 0 && onset_rt_ >= 0;
    if (!usable_) index_.problems.Add(name_ + ": no reaction time from the onset found; not used");
  }

  const std::string& name_;
  const std::string& subject_;
  ResultFolder& out_;
  Index& index_;
  bool usable_ = false;
  size_t columns_ = 0;
  int date_ = -1, time_ = -1, trial_ = -1, onset_rt_ = -1, show_tick_ = -1, press_source_ = -1, over_ = -1;
  std::vector<std::string_view> fields_;
  std::string who_;
  // The block of rows being read: its key, its run (-1 for none) and the last row's number.
  bool block_ = false;
  std::string block_subject_, block_date_, block_time_;
  int64_t block_run_ = -1;
  int32_t last_trial_ = 0;
  Occurrences seen_;
};

}  // namespace

bool AppearanceRow::SetOnsetRt(double ms) {
  if (!(std::fabs(ms) <= 30.0 * 60 * 1000)) {
    onset_us_ = kNoOnset;
    return false;
  }
  onset_us_ = int32_t(std::lround(ms * 1000.0));
  return true;
}

bool AppearanceRow::SetOnsetRtUs(int64_t us) {
  if (!(us >= -1800000000 && us <= 1800000000)) {
    onset_us_ = kNoOnset;
    return false;
  }
  onset_us_ = int32_t(us);
  return true;
}

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

bool ReadResultFolder(const std::string& folder, ResultFolder& out, std::string& error,
                      ReadControl* control) {
  namespace fs = std::filesystem;
  out = ResultFolder{};
  std::error_code ec;
  const fs::path dir = folder.empty() ? fs::path(".") : PathFromUtf8(folder);
  if (!fs::is_directory(dir, ec)) {
    error = NamingFile("not a folder:", Utf8FromPath(dir));
    return false;
  }
  // Programs sharing the folder write whole runs under its lock: read under it too, so that
  // no run is seen half-written (after a wait, what is there is read).
  const ResultFolderLock lock(false, kReadWaitMs, folder);
  auto stopped = [&] {
    error = "reading stopped";
    out = ResultFolder{};
    return false;
  };
  Index index(out.problems);
  bool found = false;
  const fs::path summary = dir / PathFromUtf8(kSummaryFileName);
  if (fs::is_regular_file(summary, ec)) {
    found = true;
    if (control) {
      // Until the summary names the files to read, the share of every result file is a guess.
      uint64_t guess = 0;
      for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".csv" || it->path() == summary) {
          const uintmax_t size = it->is_regular_file(ec) ? it->file_size(ec) : 0;
          if (!ec) guess += std::min<uintmax_t>(size, kMaxFileBytes);
        }
      }
      ec.clear();
      control->SetTotal(guess);
    }
    if (!ReadSummary(Utf8FromPath(summary), out, index, control)) return stopped();
  } else if (fs::symlink_status(summary, ec).type() != fs::file_type::not_found) {
    index.problems.Add(std::string(kSummaryFileName) + ": not a regular file; skipped");
  }
  out.simulated = fs::is_regular_file(dir / kSimulatedMarkFile, ec);

  // Appearance files first (they name the runs), then the timing records that refer to them.
  // With a summary, exactly each summarised subject's files are read (a copy of a file beside
  // them would count its rows twice); without one, every file that carries the header.
  // A subject's files are known by their names and their headers: its appearance file must
  // carry the appearance header and its timing file must not, whatever another subject's ID
  // would make of the names. An ID that would name more than a file in the folder (a
  // separator, a drive, a device) is never used as a path.
  std::vector<fs::path> csv;
  std::vector<std::string> subjects;  // the subject each listed file belongs to, or empty
  std::vector<char> timing_files;     // 1 where the listed file is the subject's timing file
  std::unordered_set<std::string> seen;
  for (const RunRecord& run : out.runs) {
    if (!seen.insert(run.subject).second) continue;
    const std::string name = SubjectNamesOnlyAFile(run.subject) ? AppearanceFileName(run.subject) : std::string();
    if (name.empty()) {
      index.problems.Add(std::string(kSummaryFileName) + ": the subject ID " + ToUtf8(run.subject) +
                         " names no file of this folder; its files not read");
      continue;
    }
    csv.push_back(dir / PathFromUtf8(name));
    subjects.push_back(run.subject);
    timing_files.push_back(0);
    csv.push_back(dir / PathFromUtf8(name.substr(0, name.size() - 4) + "_timing.csv"));
    subjects.push_back(run.subject);
    timing_files.push_back(1);
  }
  if (out.runs.empty()) {
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".csv" && it->is_regular_file(ec)) csv.push_back(it->path());
    }
    if (ec) {
      error = NamingFile("cannot list", Utf8FromPath(dir), ec.message());
      return false;
    }
    std::sort(csv.begin(), csv.end());
    subjects.assign(csv.size(), std::string());
    timing_files.assign(csv.size(), 0);
  }
  if (control) {
    // Now the files are known: what is left to read, after what has been.
    uint64_t total = control->done();
    for (const fs::path& p : csv) {
      const uintmax_t size = fs::file_size(p, ec);
      if (!ec && size <= kMaxFileBytes) total += size;
    }
    ec.clear();
    control->SetTotal(total);
  }
  std::vector<std::string> timing, timing_subjects;  // read once every run is known
  for (size_t i = 0; i < csv.size(); ++i) {
    const fs::path& p = csv[i];
    if (!subjects[i].empty() && !fs::exists(fs::symlink_status(p, ec))) continue;
    const uintmax_t size = fs::file_size(p, ec);
    if (!ec && size > kMaxFileBytes) {
      index.problems.Add(Utf8FromPath(p.filename()) + ": larger than " +
                             std::to_string(kMaxFileBytes >> 20) + " MiB; not read");
      continue;
    }
    const std::string name = Utf8FromPath(p.filename());
    File f(FopenRegular(Utf8FromPath(p).c_str(), "rb"));
    if (!f) {
      index.problems.Add(name + ": cannot be read; skipped");
      continue;
    }
    // The first line up to its CR or LF tells what the file is.
    std::string header;
    for (int c; header.size() <= kMaxLineBytes && (c = std::fgetc(f.get())) != EOF && c != '\r' && c != '\n';)
      header += char(c);
    if (std::ferror(f.get()) || std::fseek(f.get(), 0, SEEK_SET) != 0) {
      index.problems.Add(name + ": cannot be read; skipped");
      continue;
    }
    if (timing_files[i] && header == kAppearanceHeader) {
      index.problems.Add(name + ": holds appearance rows, not timing records; not read");
      if (control) control->Add(size);
    } else if (header == kAppearanceHeader) {
      found = true;
      AppearanceReader reader(name, subjects[i], out, index);
      LineStream lines(f.get(), name, index.problems, control, index.block);
      if (!lines.ForEach([&](size_t k, std::string_view line) { reader.Line(k, line); })) {
        if (!std::ferror(f.get())) return stopped();
        index.problems.Add(name + ": cannot be read; skipped");
      }
    } else if (timing_files[i] ||
               (subjects[i].empty() && Utf8FromPath(p.stem()).size() > 7 &&
                Utf8FromPath(p.stem()).compare(Utf8FromPath(p.stem()).size() - 7, 7, "_timing") == 0)) {
      timing.push_back(Utf8FromPath(p));
      timing_subjects.push_back(subjects[i]);
    } else {
      if (!subjects[i].empty()) index.problems.Add(name + ": not an appearance file; not read");
      if (control) control->Add(size);  // not read: counted as done
    }
  }
  for (size_t t = 0; t < timing.size(); ++t) {
    const std::string& path = timing[t];
    const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
    File f(FopenRegular(path.c_str(), "rb"));
    if (!f) {
      index.problems.Add(name + ": cannot be read; skipped");
      continue;
    }
    TimingReader reader(name, timing_subjects[t], out, index);
    LineStream lines(f.get(), name, index.problems, control, index.block);
    if (!lines.ForEach([&](size_t k, std::string_view line) { reader.Line(k, line); })) {
      if (!std::ferror(f.get())) return stopped();
      index.problems.Add(name + ": cannot be read; skipped");
    }
  }

  // The timing summary: how each run was presented and where its frame times came from.
  const fs::path timing_summary = dir / PathFromUtf8(kTimingSummaryFileName);
  bool timing_summary_read = false;  // runs without a line there can be told
  if (fs::is_regular_file(timing_summary, ec)) {
    const uintmax_t size = fs::file_size(timing_summary, ec);
    File f(!ec && size <= kMaxFileBytes ? FopenRegular(Utf8FromPath(timing_summary).c_str(), "rb") : nullptr);
    if (f) {
      if (control) control->SetTotal(control->total() + size);
      size_t columns = 0;
      int mode = -1, frame_times = -1, computer = -1;
      Occurrences seen;
      // The counts of rows beyond their bounds, where the line has them.
      constexpr const char* kCountNames[] = {"ArrivalPresses", "OnsetOver", "RiseOver", "BookingLate"};
      int counts[4] = {-1, -1, -1, -1};
      LineStream lines(f.get(), kTimingSummaryFileName, index.problems, control, index.block);
      const bool ok = lines.ForEach([&](size_t k, std::string_view line) {
        const auto fields = SplitFields(line.substr(0, std::min<size_t>(line.size(), kMaxLineBytes)), '\t');
        if (k == 0) {
          for (size_t c = 0; c < fields.size(); ++c) {
            if (fields[c] == "Mode") mode = int(c);
            else if (fields[c] == "FrameTimes") frame_times = int(c);
            else if (fields[c] == "Computer") computer = int(c);
            for (int n = 0; n < 4; ++n) {
              if (fields[c] == kCountNames[n]) counts[n] = int(c);
            }
          }
          if (mode > 2 && fields[0] == "Subject" && fields[1] == "Date" && fields[2] == "Time") columns = fields.size();
          return;
        }
        // A subject may hold the separator: the surplus fields at the front belong to it. A
        // line the header does not describe still names its run in its first three fields.
        // Lines appended by a later version under an older header carry columns of their own
        // at the end: the surplus is the subject's only as far as the date then stands there.
        const bool described = columns > 0 && fields.size() >= columns;
        if (!described && fields.size() < 3) return;
        size_t extra = described ? fields.size() - columns : 0;
        auto date_at = [&](size_t k) {
          const std::string_view d = fields[1 + k];
          return d.size() == 10 && d[4] == '/' && d[7] == '/';
        };
        while (extra > 0 && !date_at(extra)) --extra;
        const std::string_view who(fields[0].data(),
                                   size_t(fields[extra].data() + fields[extra].size() - fields[0].data()));
        const std::string& key = index.Key(who, fields[1 + extra], fields[2 + extra]);
        const int64_t at = NthRun(out, index, key, seen.Next(key));
        if (at < 0) return;
        RunRecord& run = out.runs[size_t(at)];
        run.timing_line = true;
        if (!described) return;
        run.presentation.assign(fields[size_t(mode) + extra]);
        if (frame_times >= 0 && !fields[size_t(frame_times) + extra].empty()) {
          run.frame_times.assign(fields[size_t(frame_times) + extra]);
        }
        if (computer >= 0) run.computer.assign(fields[size_t(computer) + extra]);
        int32_t* targets[4] = {&run.arrival_presses, &run.onset_over, &run.rise_over, &run.booking_late};
        for (int n = 0; n < 4; ++n) {
          int32_t v = -1;
          if (counts[n] >= 0 && !ToInt(fields[size_t(counts[n]) + extra], v)) v = -1;
          *targets[n] = v >= 0 ? v : -1;
        }
      });
      if (!ok && !std::ferror(f.get())) return stopped();
      if (!ok) index.problems.Add(std::string(kTimingSummaryFileName) + ": cannot be read; skipped");
      timing_summary_read = ok;
    } else {
      index.problems.Add(std::string(kTimingSummaryFileName) + ": cannot be read or larger than " +
                         std::to_string(kMaxFileBytes >> 20) + " MiB; not read");
    }
  }

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
  const bool timed_folder = fs::is_regular_file(timing_summary, ec);
  index.problems.Close();
  size_t run_problems = 0;
  for (RunRecord& run : out.runs) {
    if (!run.in_summary) continue;
    const int32_t decided = run.Hit + run.Miss + run.CR + run.FA;
    const int32_t expected = std::min(decided, kLoggedRowLimit);
    const int32_t rows = int32_t(run.rows.size());
    std::string& p = run.problems;
    if (rows == 0 && expected > 0) p = "appearance rows missing";
    else if (rows != expected)
      p = "appearance rows " + std::to_string(rows) + " of " + std::to_string(expected);
    // All rows there but booked otherwise than the summary line says: the rows' counts are
    // used, as they are what the RT figures come from.
    if (rows == decided && decided <= kLoggedRowLimit) {
      int32_t counted[4] = {0, 0, 0, 0};  // Hit, Miss, CR, FA
      for (const AppearanceRow& r : run.rows) ++counted[r.Tgt ? (r.Resp ? 0 : 1) : (r.Resp ? 3 : 2)];
      int32_t* summary[4] = {&run.Hit, &run.Miss, &run.CR, &run.FA};
      static const char* const names[4] = {"Hit", "Miss", "CR", "FA"};
      std::string differ;
      for (int k = 0; k < 4; ++k) {
        if (*summary[k] == counted[k]) continue;
        differ += std::string(differ.empty() ? "" : ", ") + names[k] + " " + std::to_string(*summary[k]) +
                  " in the summary, " + std::to_string(counted[k]) + " in the rows";
        *summary[k] = counted[k];
      }
      if (!differ.empty()) p = differ + "; the rows' counts used";
    }
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
    if (timing_summary_read && !run.timing_line) {
      if (!p.empty()) p += "; ";
      p += std::string("line missing in ") + kTimingSummaryFileName;
    }
    if (!p.empty() && run_problems++ < kMaxRunProblems)
      out.problems.push_back(Cut(run.subject_utf8, kMaxProblemBytes) + " " + run.date + " " + run.time + ": " + p);
  }
  if (run_problems > kMaxRunProblems) {
    out.problems.push_back("\u2026 and " + std::to_string(run_problems - kMaxRunProblems) +
                           " more runs whose files disagree (each run's row says what)");
  }
  if (!found) {
    error = NamingFile("no result files in", Utf8FromPath(dir));
    for (const std::string& p : out.problems) error += "\n" + p;
    return false;
  }
  return true;
}

}  // namespace pyokoran
