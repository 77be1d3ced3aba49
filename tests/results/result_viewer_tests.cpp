#include "results/result_viewer.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <ostream>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "results/result_files.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

const std::string kHeader =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";

// A summary data line as the result files write it.
std::string DataLine(const std::string& subject, const std::string& date, const std::string& time,
                int score) {
  return subject + "\t" + date + "\t" + time + "\t6\t3\t12\t1\t2000\t1000\t3000\t60\t4711\t" +
         std::to_string(score + 2) + "\t4\t30\t2\t" + std::to_string(score) + "\r\n";
}
std::string DataLine(const std::string& subject, int score) {
  return DataLine(subject, "2014/05/07", "10:00:00", score);
}

class ResultViewerTest : public ::testing::Test {
 protected:
  TempWorkingDir dir;
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
};

// One viewing of a summary file: the list lines in display order, the static text and the
// selected line; no lines means no dialog at all.
struct ViewCase {
  const char* name;
  std::string file;  // "" = no summary file
  std::vector<std::string> lines;
  std::string summary;
  int selected = 0;
  friend std::ostream& operator<<(std::ostream& os, const ViewCase& c) { return os << c.name; }
};

class ResultViewerViewTest : public ResultViewerTest,
                             public ::testing::WithParamInterface<ViewCase> {};

TEST_P(ResultViewerViewTest, ShowsRanking) {
  const ViewCase& c = GetParam();
  if (!c.file.empty()) TempWorkingDir::Write(kSummaryFileName, c.file);
  ShowResults(*program);
  if (c.lines.empty()) {
    EXPECT_TRUE(platform.result_dialogs.empty());
    return;
  }
  ASSERT_EQ(platform.result_dialogs.size(), 1u);
  const ResultDialogContent& shown = platform.result_dialogs[0];
  EXPECT_EQ(shown.lines, c.lines);
  EXPECT_EQ(shown.summary, c.summary);
  EXPECT_EQ(shown.selected, c.selected);
  EXPECT_TRUE(platform.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultViewerViewTest,
    ::testing::Values(
        ViewCase{"ThreeRuns",
                 kHeader + DataLine("A", "2014/05/07", "10:00:00", 10) +
                     DataLine("B", "2014/05/07", "11:00:00", 25) +
                     DataLine("C", "2014/05/08", "09:30:00", 17),
                 {"0001:  2014/05/07 (11:00:00)   [  25]   B",
                  "0002:  2014/05/08 (09:30:00)   [  17]   C",
                  "0003:  2014/05/07 (10:00:00)   [  10]   A"},
                 "【最終結果】 C さん ／ スコア：17　（順位: 3 人中 2 位 ／ 上位から 66.7 ％）",
                 1},
        ViewCase{"OneRun", kHeader + DataLine("A01", 7),
                 {"0001:  2014/05/07 (10:00:00)   [   7]   A01"},
                 "【最終結果】 A01 さん ／ スコア：7　（順位: 1 人中 1 位 ／ 上位から 100.0 ％）",
                 0},
        // The newest run comes first among equal scores; older ties keep newest-first order.
        ViewCase{"NewestTiesOlderRuns",
                 kHeader + DataLine("A", 20) + DataLine("B", 17) + DataLine("C", 17) + DataLine("D", 17),
                 {"0001:  2014/05/07 (10:00:00)   [  20]   A",
                  "0002:  2014/05/07 (10:00:00)   [  17]   D",
                  "0003:  2014/05/07 (10:00:00)   [  17]   C",
                  "0004:  2014/05/07 (10:00:00)   [  17]   B"},
                 "【最終結果】 D さん ／ スコア：17　（順位: 4 人中 2 位 ／ 上位から 50.0 ％）",
                 1},
        ViewCase{"NewestLowestOfFour",
                 kHeader + DataLine("A", 9) + DataLine("B", 30) + DataLine("C", 12) + DataLine("D", 3),
                 {"0001:  2014/05/07 (10:00:00)   [  30]   B",
                  "0002:  2014/05/07 (10:00:00)   [  12]   C",
                  "0003:  2014/05/07 (10:00:00)   [   9]   A",
                  "0004:  2014/05/07 (10:00:00)   [   3]   D"},
                 "【最終結果】 D さん ／ スコア：3　（順位: 4 人中 4 位 ／ 上位から 100.0 ％）",
                 3},
        ViewCase{"NegativeScoreBelowZero",
                 kHeader + DataLine("A", -3) + DataLine("B", 0),
                 {"0001:  2014/05/07 (10:00:00)   [   0]   B",
                  "0002:  2014/05/07 (10:00:00)   [  -3]   A"},
                 "【最終結果】 B さん ／ スコア：0　（順位: 2 人中 1 位 ／ 上位から 50.0 ％）",
                 0},
        // A blank line ends the file for the viewer; the newest run is the line before it.
        ViewCase{"BlankLineEndsReading",
                 kHeader + DataLine("A", 10) + DataLine("B", 5) + " \t\r\n" + DataLine("C", 50),
                 {"0001:  2014/05/07 (10:00:00)   [  10]   A",
                  "0002:  2014/05/07 (10:00:00)   [   5]   B"},
                 "【最終結果】 B さん ／ スコア：5　（順位: 2 人中 2 位 ／ 上位から 100.0 ％）",
                 1},
        ViewCase{"JapaneseSubjectShownInUtf8",
                 kHeader + DataLine("\x94\xED\x8C\xB1\x8E\xD2", 12) + DataLine("\xFF" "B", 4),
                 {"0001:  2014/05/07 (10:00:00)   [  12]   被験者",
                  "0002:  2014/05/07 (10:00:00)   [   4]   \uFFFD" "B"},
                 "【最終結果】 \uFFFD" "B さん ／ スコア：4　（順位: 2 人中 2 位 ／ 上位から 100.0 ％）",
                 1},
        ViewCase{"NoFile", "", {}, "", 0},
        ViewCase{"EmptyFile", "\r\n", {}, "", 0},
        ViewCase{"HeaderOnly", kHeader, {}, "", 0},
        ViewCase{"SecondLineBlank", kHeader + "\r\n" + DataLine("A", 1), {}, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Malformed lines are taken apart as far as they go.
TEST_F(ResultViewerTest, ReadsFieldsAsFarAsTheyGo) {
  TempWorkingDir::Write(
      kSummaryFileName,
      kHeader + DataLine("S1", "2014/05/07", "13:05:09", 23) +
          // Leading and doubled tabs separate like one; numbers as atoi reads them.
          "\tS2\t\td\tt\t7x\t -8\tjunk\t99999999999\t-99999999999\r\n" +
          "S3\r\n");
  std::vector<SummaryEntry> entries;
  ASSERT_EQ(ReadSummaryFile(entries), 1);
  ASSERT_EQ(entries.size(), 3u);

  const SummaryEntry& full = entries[0];
  EXPECT_EQ(full.Subject, "S1");
  EXPECT_EQ(full.Date, "2014/05/07");
  EXPECT_EQ(full.Time, "13:05:09");
  EXPECT_EQ((std::vector<int32_t>{full.TgtPokko, full.DstPokko, full.Holes, full.Ordered,
                                  full.Dur, full.ISI_1, full.ISI_2, full.TmLimit, full.RndSeed,
                                  full.Hit, full.Miss, full.CR, full.FA, full.Score}),
            (std::vector<int32_t>{6, 3, 12, 1, 2000, 1000, 3000, 60, 4711, 25, 4, 30, 2, 23}));
  EXPECT_EQ(full.newest, 0);

  const SummaryEntry& odd = entries[1];
  EXPECT_EQ(odd.Subject, "S2");
  EXPECT_EQ(odd.Date, "d");
  EXPECT_EQ(odd.Time, "t");
  EXPECT_EQ((std::vector<int32_t>{odd.TgtPokko, odd.DstPokko, odd.Holes, odd.Ordered, odd.Dur,
                                  odd.Score}),
            (std::vector<int32_t>{7, -8, 0, INT32_MAX, INT32_MIN, 0}));

  EXPECT_EQ(entries[2].Subject, "S3");
  EXPECT_EQ(entries[2].Date, "");
  EXPECT_EQ(entries[2].Score, 0);
  EXPECT_EQ(entries[2].newest, 1);
}

// Lines are read 999 bytes at a time with CR LF seen as one line feed: a 998-byte line
// still ends in its own read, a longer one goes on in the next read as a line of its own.
TEST_F(ResultViewerTest, ReadsLongLinesInPieces) {
  const std::string fits = std::string(998 - 2, 'a') + "\t5";
  const std::string too_long = std::string(999, 'b') + "\tc\t\t\t1";
  TempWorkingDir::Write(kSummaryFileName,
                        kHeader + fits + "\r\n" + too_long + "\r\n" + DataLine("D", 8));
  std::vector<SummaryEntry> entries;
  ASSERT_EQ(ReadSummaryFile(entries), 1);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Subject.size(), 996u);
  EXPECT_EQ(entries[0].Date, "5");
  EXPECT_EQ(entries[1].Subject, std::string(999, 'b'));
  EXPECT_EQ(entries[2].Subject, "c");
  EXPECT_EQ(entries[2].Date, "1");
  EXPECT_EQ(entries[3].Subject, "D");
}

// The ranking is the order of an exchange sort that swaps on "<=", which puts the later of
// equal scores first; each row is the scores of the lines in file order.
std::vector<int> ExchangeSortOrder(const std::vector<int>& scores) {
  std::vector<int> lines(scores.size());
  for (size_t i = 0; i < lines.size(); ++i) lines[i] = int(i);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    for (size_t j = i + 1; j < lines.size(); ++j) {
      if (scores[size_t(lines[i])] <= scores[size_t(lines[j])]) std::swap(lines[i], lines[j]);
    }
  }
  return lines;
}

std::vector<int> RankedOrder(const std::vector<int>& scores) {
  std::vector<SummaryEntry> entries(scores.size());
  for (size_t i = 0; i < scores.size(); ++i) {
    entries[i].Score = scores[i];
    entries[i].RndSeed = int32_t(i);
  }
  RankEntries(entries);
  std::vector<int> lines;
  for (const SummaryEntry& e : entries) lines.push_back(e.RndSeed);
  return lines;
}

struct TieCase {
  const char* name;
  std::vector<int> scores;
  friend std::ostream& operator<<(std::ostream& os, const TieCase& c) { return os << c.name; }
};

class RankingTieTest : public ::testing::TestWithParam<TieCase> {};

TEST_P(RankingTieTest, SameOrderAsExchangeSort) {
  const std::vector<int>& scores = GetParam().scores;
  EXPECT_EQ(RankedOrder(scores), ExchangeSortOrder(scores));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RankingTieTest,
    ::testing::Values(TieCase{"Empty", {}}, TieCase{"One", {7}},
                      TieCase{"AllEqual", {5, 5, 5, 5, 5}},
                      TieCase{"NewestTiesWithOlder", {10, 25, 17, 25}},
                      TieCase{"TiesSeparatedByOthers", {3, 9, 3, 1, 9, 3, 9}},
                      TieCase{"Ascending", {1, 2, 2, 3, 3, 3}},
                      TieCase{"Descending", {3, 3, 3, 2, 2, 1}},
                      TieCase{"NegativeAndExtremes", {-3, INT32_MIN, 0, -3, INT32_MAX, 0, INT32_MIN}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every sequence of up to 7 lines over three scores: ties in every arrangement.
TEST(RankingTies, EveryShortSequenceOfThreeScores) {
  for (size_t n = 1; n <= 7; ++n) {
    std::vector<int> scores(n, 0);
    for (;;) {
      ASSERT_EQ(RankedOrder(scores), ExchangeSortOrder(scores)) << ::testing::PrintToString(scores);
      size_t d = 0;
      while (d < n && ++scores[d] == 3) scores[d++] = 0;
      if (d == n) break;
    }
  }
}

}  // namespace
}  // namespace pyokoran
