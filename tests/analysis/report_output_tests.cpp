#include "analysis/report.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <fstream>

#include "analysis/html_report.h"
#include "analysis/trial_export.h"
#include "platform/file_system.h"
#include "support/temp_working_dir.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

std::string Read(const std::string& name) {
  std::ifstream in(std::filesystem::u8path(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(std::filesystem::u8path(name), std::ios::binary) << bytes;
}

// What may stand at a report's name: only the program's own reports may be replaced, and
// nothing there (a FIFO, a link) makes the check wait or look elsewhere.
TEST(IsOurReport, OnlyTheProgramsOwnReports) {
  if (!test::SystemHasFifos() || !test::SystemHasSymlinks()) {
    GTEST_SKIP() << "needs FIFOs and symbolic links";
  }
  TempWorkingDir dir;
  Write("ours.csv", "\xEF\xBB\xBFLevel,Subject\r\n");
  Write("user.csv", "Level,Subject\r\n");
  Write("trials.csv", "\xEF\xBB\xBFRunId,Subject\r\n");
  Write("user_trials.csv", "RunId,Subject\r\n");
  Write("r_about.txt", kAboutHead);
  Write("notes.txt", "pyokoran is mentioned here\n");
  // Creator as UTF-16 text with its byte-order mark, as a PDF writer may store it.
  Write("ours.pdf", std::string("%PDF-1.4\n<< /Creator (\xFE\xFF\0p\0y\0o\0k\0o\0r\0a\0n) >>\n",
                                45));
  Write("manuscript.pdf", "%PDF-1.7\n<< /Creator (Writer) >>\n%%EOF\n");
  Write("plain.pdf", "%PDF-1.4\n<< /Creator (pyokoran) >>\n");
  ASSERT_TRUE(test::MakeFifo("fifo.csv"));
  ASSERT_TRUE(test::MakeSymlink("ours.csv", "link.csv"));
  const struct {
    const char* path;
    bool ours;
  } cases[] = {{"ours.csv", true},        {"user.csv", false}, {"ours.pdf", true},
               {"plain.pdf", true},       {"manuscript.pdf", false}, {"fifo.csv", false},
               {"link.csv", false},       {"missing.csv", false},      {"trials.csv", true},
               {"user_trials.csv", false}, {"r_about.txt", true},        {"notes.txt", false}};
  for (const auto& c : cases) EXPECT_EQ(IsOurReport(c.path), c.ours) << c.path;
}

TEST(WriteReportCsv, RefusesAFileNotItsOwnAndNeverFollowsALinkAtThePartName) {
  TempWorkingDir dir;
  Report report;
  std::string error;
  Write("user.csv", "a,b\r\n");
  EXPECT_FALSE(WriteReportCsv(report, "user.csv", error));
  EXPECT_EQ(Read("user.csv"), "a,b\r\n");

  Write("victim.txt", "keep");
  if (!test::SystemHasSymlinks()) GTEST_SKIP() << "needs symbolic links";
  ASSERT_TRUE(test::MakeSymlink("victim.txt", "out.csv.part"));
  ASSERT_TRUE(WriteReportCsv(report, "out.csv", error)) << error;
  EXPECT_EQ(Read("victim.txt"), "keep");
  EXPECT_TRUE(IsOurReport("out.csv"));
  // An earlier report is replaced.
  EXPECT_TRUE(WriteReportCsv(report, "out.csv", error)) << error;
}

// Every writer of a report output, with a link to a file outside and a FIFO planted at its
// temporary name after the target was checked: the file outside is never written and the
// FIFO never waited on.
TEST(ReportOutputs, NeverFollowALinkNorWaitOnAFifoAtTheTemporaryName) {
  if (!test::SystemHasFifos() || !test::SystemHasSymlinks()) GTEST_SKIP() << "needs FIFOs and symbolic links";
  TempWorkingDir dir;
  Report report;
  using Writer = bool (*)(const Report&, const std::string&, std::string&);
  const struct {
    const char* name;
    Writer write;
  } writers[] = {
      {"table", [](const Report& r, const std::string& p, std::string& e) { return WriteReportCsv(r, p, e); }},
      {"side file", [](const Report& r, const std::string& p, std::string& e) { return WriteReportAbout(r, p, e); }},
      {"html", [](const Report& r, const std::string& p, std::string& e) { return WriteReportHtml(r, p, e); }},
      {"trials", [](const Report& r, const std::string& p, std::string& e) { return WriteTrialsCsv(r, p, e); }},
  };
  Write("victim.txt", "keep");
  for (const auto& w : writers) {
    for (const bool fifo : {false, true}) {
      const std::string out = std::string(w.name) + (fifo ? "-fifo" : "-link") + ".out";
      ASSERT_TRUE(fifo ? test::MakeFifo(out + ".part") : test::MakeSymlink("victim.txt", out + ".part"));
      std::string error;
      EXPECT_TRUE(w.write(report, out, error)) << w.name << ": " << error;
      EXPECT_TRUE(IsOurReport(out)) << out;
      EXPECT_EQ(KindOfPath(out + ".part", false), PathKind::kMissing) << out;
    }
  }
  EXPECT_EQ(Read("victim.txt"), "keep");
}

// Control characters from the files or the folder's name are shown as escapes in the side
// file: none reaches it raw.
TEST(ReportAbout, EscapesControlCharacters) {
  Report report;
  report.folder = "lab\x1b[2Jfolder";
  report.results.problems = {"S\r01 2026/12/01 10:00:00: appearance rows missing"};
  const std::string about = ReportAbout(report);
  for (const char c : about) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
  EXPECT_NE(about.find("lab\\x1B[2Jfolder"), std::string::npos) << about;
  EXPECT_NE(about.find("  S\\x0D01 2026/12/01"), std::string::npos) << about;
}

// A file put at the target while the report was being made is not replaced.
TEST(ReportOutputs, ATargetThatAppearsWhileWritingIsKept) {
  TempWorkingDir dir;
  std::string error;
  EXPECT_FALSE(WriteReportStreamed(
      "late.csv",
      [](const ReportSink& emit) {
        Write("late.csv", "theirs");
        return emit("\xEF\xBB\xBFLevel,\r\n");
      },
      error));
  EXPECT_NE(error.find("not a report"), std::string::npos) << error;
  EXPECT_EQ(Read("late.csv"), "theirs");
  EXPECT_EQ(KindOfPath("late.csv.part", false), PathKind::kMissing);
}

}  // namespace
}  // namespace pyokoran
