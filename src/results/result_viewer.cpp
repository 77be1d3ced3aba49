#include "results/result_viewer.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string_view>
#include <utility>

#include "app/program.h"
#include "platform/cp932.h"
#include "platform/number_text.h"
#include "platform/regular_file.h"
#include "results/folder_lock.h"
#include "results/result_files.h"

namespace pyokoran {
namespace {

// One read of the summary file the way a 1000-byte line buffer takes it: at most 999 bytes,
// ending after a line feed; the CR LF line ends are seen as LF. False at end of file.
// consumed counts the file's bytes taken.
bool ReadChunk(std::FILE* file, std::string& chunk, int64_t& consumed) {
  chunk.clear();
  while (chunk.size() < 999) {
    int c = std::getc(file);
    if (c == EOF) break;
    ++consumed;
    if (c == '\r') {
      int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
        ++consumed;
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    chunk += char(c);
    if (c == '\n') break;
  }
  return !chunk.empty();
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The chunk as a line: cut at the first line feed (or NUL) and trimmed at both ends.
std::string TrimmedLine(const std::string& chunk) {
  size_t end = std::min(chunk.find('\n'), chunk.find('\0'));
  if (end == std::string::npos) end = chunk.size();
  size_t begin = 0;
  while (begin < end && IsBlank(chunk[begin])) ++begin;
  while (end > begin && IsBlank(chunk[end - 1])) --end;
  return chunk.substr(begin, end - begin);
}

// Leading blanks, an optional sign and the digits that follow; 0 without digits; saturated
// at the 32-bit range. Independent of the locale.
int32_t ToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t(INT32_MAX) + 1);
  }
  if (negative) value = -value;
  return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// A data line split at tabs, runs of tabs counting as one.
SummaryEntry ParseLine(const std::string& line) {
  std::string_view tokens[17];
  size_t n = 0;
  const std::string_view text(line);
  size_t pos = 0;
  while (pos < text.size() && n < std::size(tokens)) {
    size_t tab = text.find('\t', pos);
    if (tab == std::string_view::npos) tab = text.size();
    if (tab > pos) tokens[n++] = text.substr(pos, tab - pos);
    pos = tab + 1;
  }
  SummaryEntry e;
  e.Subject = tokens[0];
  e.Date = tokens[1];
  e.Time = tokens[2];
  int32_t* numbers[] = {&e.TgtPokko, &e.DstPokko, &e.Holes, &e.Ordered, &e.Dur,
                        &e.ISI_1,    &e.ISI_2,    &e.TmLimit, &e.RndSeed, &e.Hit,
                        &e.Miss,     &e.CR,       &e.FA,      &e.Score};
  for (size_t i = 0; i < std::size(numbers); ++i) *numbers[i] = ToInt(tokens[3 + i]);
  return e;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (n > 0 && size_t(n) < sizeof small) {
    out.assign(small, size_t(n));
  } else if (n > 0) {
    out.resize(size_t(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(size_t(n));
  }
  va_end(again);
  return out;
}

// Code page 932 from the file to UTF-8 for the screen; bad bytes show as U+FFFD.
std::string ForScreen(const std::string& cp932) {
  std::string utf8;
  Cp932ToUtf8(cp932, utf8);
  return utf8;
}

// How long the ranking waits for another program writing into the folder; it then reads
// what is there.
constexpr int kReadWaitMs = 3000;

// The run written at offset with the line `line` (this program's newest) is marked newest in
// place of the last line, when it is found there.
void MarkNewestRun(std::vector<SummaryEntry>& entries, int64_t offset, const std::string& line) {
  if (offset < 0) return;
  for (SummaryEntry& e : entries) {
    if (e.offset != offset) continue;
    std::string written = TrimmedLine(line);
    if (written.rfind(e.Subject + "\t" + e.Date + "\t" + e.Time + "\t", 0) != 0) return;
    entries.back().newest = 0;
    e.newest = 1;
    return;
  }
}

}  // namespace

int ReadSummaryFile(std::vector<SummaryEntry>& entries) {
  entries.clear();
  std::FILE* file = FopenRegular(kSummaryFileName, "rb");
  if (!file) return 0;
  try {
    // The header first, then data lines up to end of file or the first blank line.
    std::string chunk;
    int64_t consumed = 0;
    if (ReadChunk(file, chunk, consumed) && !TrimmedLine(chunk).empty()) {
      // A chunk that follows a line feed starts a line.
      bool line_start = chunk.back() == '\n';
      for (int64_t at = consumed; ReadChunk(file, chunk, consumed); at = consumed) {
        std::string line = TrimmedLine(chunk);
        if (line.empty()) break;
        entries.push_back(ParseLine(line));
        if (line_start) entries.back().offset = at;
        line_start = chunk.back() == '\n';
      }
    }
  } catch (const std::bad_alloc&) {
    entries.clear();
  }
  std::fclose(file);
  if (entries.empty()) return 0;
  entries.back().newest = 1;
  return 1;
}

void RankEntries(std::vector<SummaryEntry>& entries) {
  // The order of an exchange sort that swaps on "<=": highest score first, and among equal
  // scores the later line first. Sorting the lines from last to first stably gives the same
  // order in O(n log n); the entries move once, at the end.
  // The newest run goes first among its score as if it were the last line.
  const size_t count = entries.size();
  std::vector<std::pair<int32_t, size_t>> order;
  order.reserve(count);
  for (size_t i = count; i-- > 0;) {
    if (entries[i].newest == 1) order.push_back({entries[i].Score, i});
  }
  for (size_t i = count; i-- > 0;) {
    if (entries[i].newest != 1) order.push_back({entries[i].Score, i});
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  // Entry order[k].second goes to place k: follow each cycle of the permutation.
  std::vector<bool> placed(count);
  for (size_t k = 0; k < count; ++k) {
    if (placed[k]) continue;
    SummaryEntry held = std::move(entries[k]);
    size_t at = k;
    while (order[at].second != k) {
      entries[at] = std::move(entries[order[at].second]);
      placed[at] = true;
      at = order[at].second;
    }
    entries[at] = std::move(held);
    placed[at] = true;
  }
}

ResultDialogContent MakeResultDialogContent(const std::vector<SummaryEntry>& ranked,
                                            const SummaryEntry& newest) {
  ResultDialogContent content;
  const int count = int(ranked.size());
  content.lines.reserve(ranked.size());
  for (int k = 1; k <= count; ++k) {
    const SummaryEntry& e = ranked[size_t(k - 1)];
    content.lines.push_back(Format("%04d:  %s (%s)   [%4d]   %s", k, ForScreen(e.Date).c_str(),
                                   ForScreen(e.Time).c_str(), e.Score,
                                   ForScreen(e.Subject).c_str()));
  }
  // The list box keeps its lines sorted as text (here by bytes); the zero-padded place
  // number keeps that the ranking order.
  if (!std::is_sorted(content.lines.begin(), content.lines.end())) {
    std::stable_sort(content.lines.begin(), content.lines.end());
  }

  auto first_newest = std::find_if(ranked.begin(), ranked.end(),
                                   [](const SummaryEntry& e) { return e.newest == 1; });
  const int rank = first_newest == ranked.end() ? 1 : int(first_newest - ranked.begin()) + 1;
  const double percent = count > 0 ? double(rank) / count * 100.0 : 0.0;
  // The point is always ".", whatever numeric locale the process runs in.
  char percent_text[64];
  auto [end, ec] = FixedToChars(percent_text, percent_text + sizeof percent_text - 1, percent, 1);
  *(ec == std::errc() ? end : percent_text) = '\0';
  content.summary =
      Format("【最終結果】 %s さん ／ スコア：%d　（順位: %d 人中 %d 位 ／ 上位から %s ％）",
             ForScreen(newest.Subject).c_str(), newest.Score, count, rank, percent_text);
  content.selected = rank - 1;
  return content;
}

void ShowResults(Program& program) {
  ResultDialogContent content;
  try {
    std::vector<SummaryEntry> entries;
    {
      const ResultFolderLock lock(false, kReadWaitMs);  // no run half-written in view
      if (!ReadSummaryFile(entries)) return;
    }
    MarkNewestRun(entries, program.newest_run_offset, program.newest_run_line);
    const SummaryEntry newest =
        *std::find_if(entries.begin(), entries.end(), [](const SummaryEntry& e) { return e.newest == 1; });
    RankEntries(entries);
    content = MakeResultDialogContent(entries, newest);
  } catch (const std::bad_alloc&) {
    return;
  }
  program.platform.ShowResultDialog(content);
}

}  // namespace pyokoran
