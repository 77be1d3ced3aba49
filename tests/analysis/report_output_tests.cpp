#include "analysis/report.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <fstream>

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

}  // namespace
}  // namespace pyokoran
