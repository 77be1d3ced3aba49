#include "analysis/html_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>

#include "support/temp_working_dir.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

// A report over made-up runs: each subject gets `runs` runs whose appearances alternate
// target and distractor, every target struck after rt ms, distractors struck when fa.
Report MakeReport(const std::vector<std::string>& subjects, size_t runs, int rows, int rt = 450,
                  bool fa = false, bool distractors = true) {
  Report report;
  report.folder = "/data/lab";
  report.language = ReportLanguage::kEnglish;
  for (const std::string& s : subjects) {
    for (size_t k = 0; k < runs; ++k) {
      RunRecord run;
      run.subject = run.subject_utf8 = s;
      run.date = "2026/12/10";
      run.time = "10:00:" + std::to_string(10 + k % 50);
      run.TmLimit = 60;
      for (int i = 0; i < rows; ++i) {
        const bool target = !distractors || i % 2 == 0;
        const bool resp = target || fa;
        AppearanceRow row;
        row.Trial = i + 1;
        row.Pokko = row.Hole = 1;
        row.Tgt = target ? 1 : 0;
        row.Resp = resp ? 1 : 0;
        row.RT = resp ? rt : 0;
        row.TotalRT = 1000 * (i + 1);
        run.rows.push_back(row);
        (target ? (resp ? run.Hit : run.Miss) : (resp ? run.FA : run.CR))++;
      }
      report.results.runs.push_back(run);
    }
  }
  MeasureReport(report);
  return report;
}

// The value of attribute name on every element tag in html.
std::vector<double> Attributes(const std::string& html, const std::string& tag, const std::string& name) {
  std::vector<double> values;
  const std::regex re("<" + tag + "[^>]*\\s" + name + "=\"([-0-9.]+)\"");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
    values.push_back(std::stod((*it)[1]));
  return values;
}

struct EscapeCase {
  const char* name;
  std::string text, html;
  friend std::ostream& operator<<(std::ostream& os, const EscapeCase& c) { return os << c.name; }
};

const EscapeCase kEscapeCases[] = {
    {"Plain", "SBJ0001", "SBJ0001"},
    {"Markup", "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
    {"AmpersandAndQuotes", "R&D \"a\" 'b'", "R&amp;D &quot;a&quot; &#39;b&#39;"},
    {"Japanese", "被験者１", "被験者１"},
    {"ControlCharacters", std::string("a\0b\x1b", 4), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
    {"NotUtf8", "\x82\xa0x\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"CutSequence", "ab\xE3\x81", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"Surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
};

class HtmlEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(HtmlEscapeTest, ShowsTextNeverMarkup) { EXPECT_EQ(HtmlEscape(GetParam().text), GetParam().html); }

INSTANTIATE_TEST_SUITE_P(Cases, HtmlEscapeTest, testing::ValuesIn(kEscapeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ShortenUtf8, CutsWholeCharacters) {
  EXPECT_EQ(ShortenUtf8("abc", 3), "abc");
  EXPECT_EQ(ShortenUtf8("abcd", 3), "abc…");
  EXPECT_EQ(ShortenUtf8("被験者番号", 2), "被験…");
  EXPECT_EQ(ShortenUtf8("", 0), "");
}

TEST(ReportHtml, HoldsTablesAndFourPlotsWithData) {
  Report report = MakeReport({"B", "A"}, 3, 40);
  report.results.simulated = true;
  const std::string html = ReportHtml(report);
  EXPECT_EQ(html.rfind(kHtmlReportHead, 0), 0u);
  EXPECT_NE(html.find("SIMULATED DATA"), std::string::npos);
  for (const char* kind : {"rt-histogram", "rt-across-run", "rates", "dprime"})
    EXPECT_TRUE(std::regex_search(html, std::regex(std::string("data-plot=\"") + kind + "\" data-marks=\"[1-9]")))
        << kind;
  // Subjects sorted; the newest run's date and time in the titles.
  EXPECT_LT(html.find("<h3>Subject A"), html.find("<h3>Subject B"));
  EXPECT_NE(html.find("Hit RT across the run: A, 2026/12/10 10:00:"), std::string::npos);
  // Nothing to fetch.
  EXPECT_EQ(html.find("src="), std::string::npos);
  EXPECT_EQ(html.find("href="), std::string::npos);

  // In Japanese unless asked otherwise; the column names stay as the CSV has them.
  report.language = ReportLanguage::kJapanese;
  const std::string japanese = ReportHtml(report);
  for (const char* text : {"<body lang=\"ja\">", "<h3>参加者 A", "試行中のヒットの RT: A, 2026/12/10 10:00:",
                           "シミュレーションのデータ", "<th>HitRate</th>"})
    EXPECT_NE(japanese.find(text), std::string::npos) << text;
  EXPECT_EQ(japanese.find("Hit RT across the run"), std::string::npos);
}

TEST(ReportHtml, RatesOfZeroAndOneStayInsideTheFrame) {
  // Every target struck, every distractor struck too: rates of exactly 1; then none: 0.
  for (bool fa : {true, false}) {
    const std::string html = ReportHtml(MakeReport({"S"}, 1, 30, 450, fa));
    const size_t start = html.find("data-plot=\"rates\"");
    const std::string rates = html.substr(start, html.find("</svg>", start) - start);
    const std::vector<double> ys = Attributes(rates, "circle", "cy");
    const std::vector<double> top = Attributes(rates, "rect class=\"frame\"", "y");
    const std::vector<double> height = Attributes(rates, "rect class=\"frame\"", "height");
    ASSERT_FALSE(ys.empty());
    ASSERT_EQ(top.size(), 1u);
    ASSERT_EQ(height.size(), 1u);
    for (double y : ys) {
      EXPECT_GT(y, top[0] + 3);
      EXPECT_LT(y, top[0] + height[0] - 3);
    }
    EXPECT_NE(rates.find("<text class=\"count\""), std::string::npos) << "bins show their counts";
  }
}

TEST(ReportHtml, EmptyPlotsSayWhy) {
  const std::string html = ReportHtml(MakeReport({"S"}, 2, 10, 450, false, /*distractors=*/false));
  EXPECT_NE(html.find("no d′: no run of this subject had both targets and distractors"), std::string::npos);
  const std::string anticipations = ReportHtml(MakeReport({"S"}, 1, 10, /*rt=*/20));
  EXPECT_NE(anticipations.find("no hit at or above the anticipation limit"), std::string::npos);
}

TEST(ReportHtml, HostileInputStaysBounded) {
  // A 60 000-character subject ID of markup, one RT far out, thousands of problems.
  const std::string id = std::string(30000, '<') + std::string(30000, '"');
  Report report = MakeReport({id}, 3, 4);
  report.results.runs[0].rows[0].RT = 2000000000;
  report.run_measures[0] = Measure({&report.results.runs[0]}, report.options);
  for (int i = 0; i < 5000; ++i) report.results.problems.push_back("line <" + std::to_string(i) + "> skipped");
  std::string html = ReportHtml(report);
  EXPECT_LT(html.size(), 1u << 20);
  EXPECT_EQ(html.find("<<"), std::string::npos);
  EXPECT_NE(html.find("… and 4950 more"), std::string::npos);
  // Titles carry at most 80 characters of the ID, table cells 400.
  EXPECT_NE(html.find("<title>d′ across the runs of " + HtmlEscape(std::string(80, '<')) + "…</title>"),
            std::string::npos);
  EXPECT_EQ(html.find(HtmlEscape(std::string(401, '<'))), std::string::npos);

  // 10 000 runs of one subject: the table and the d' plot keep to their bounds and say so.
  html = ReportHtml(MakeReport({"S"}, 10000, 4));
  EXPECT_LT(html.size(), 4u << 20);
  EXPECT_NE(html.find("The newest 2000 of 10000 runs shown"), std::string::npos);
  EXPECT_NE(html.find("last 2000 of 10000 runs shown"), std::string::npos);
}

TEST(WriteReportHtml, ReplacesOnlyAnEarlierReport) {
  TempWorkingDir dir;
  const Report report = MakeReport({"S"}, 1, 10);
  std::string error;
  ASSERT_TRUE(WriteReportHtml(report, "r.html", error)) << error;
  EXPECT_TRUE(IsHtmlReport("r.html"));
  EXPECT_TRUE(WriteReportHtml(report, "r.html", error)) << error;

  // Somebody's own page, a folder and a FIFO under the name are left alone.
  std::ofstream("notes.html") << "<!DOCTYPE html>\n<p>my notes</p>\n";
  test::MakeFolder("folder.html");
  const bool fifo = test::MakeFifo("fifo.html");
  for (const char* name : {"notes.html", "folder.html", "fifo.html"}) {
    if (!fifo && std::string(name) == "fifo.html") continue;  // a system without FIFOs
    error.clear();
    EXPECT_FALSE(WriteReportHtml(report, name, error)) << name;
    EXPECT_NE(error.find("not a report"), std::string::npos) << error;
  }
  std::stringstream kept;
  kept << std::ifstream("notes.html").rdbuf();
  EXPECT_EQ(kept.str(), "<!DOCTYPE html>\n<p>my notes</p>\n");
  EXPECT_FALSE(std::filesystem::exists("notes.html.part"));
}

}  // namespace
}  // namespace pyokoran
