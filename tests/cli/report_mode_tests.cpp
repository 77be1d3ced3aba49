// --report's outputs when links and FIFOs appear at their temporary names while the folder
// is being read, after the outputs were checked.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "analysis/report.h"
#include "cli/analysis_modes.h"
#include "platform/file_system.h"
#include "support/system_support.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

void Write(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

std::string Read(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReportMode, LinksAndFifosPlantedDuringTheReadAreNeverUsed) {
  if (!test::SystemHasFifos() || !test::SystemHasSymlinks()) GTEST_SKIP() << "needs FIFOs and symbolic links";
  TempWorkingDir dir;
  Write("victim.txt", "keep");
  SystemCommands system;  // --report without a PDF
  const std::vector<CommandMode> modes = CommandModes(system);
  for (const bool fifo : {false, true}) {
    const CommandLine line = ParseCommandLine({"pyokoran", "--report", ".", "--out", "r", "--trials", "t.csv"},
                                              system, modes, "");
    ASSERT_EQ(line.action, CommandAction::RunMode) << line.text;
    int argc = 0;
    const ModeRun run{*line.options, line.arguments, "", "", argc, nullptr};
    ReportOutputs outputs;
    int status = 0;
    ASSERT_TRUE(PrepareReportOutputs(run, false, outputs, status));
    // What appears while the folder is read.
    for (const std::string& out : {std::string("r.csv"), std::string("r_about.txt"), std::string("r.html"),
                                   std::string("t.csv")}) {
      ASSERT_TRUE(fifo ? test::MakeFifo(out + ".part") : test::MakeSymlink("victim.txt", out + ".part")) << out;
    }
    Report report;
    report.folder = ".";
    EXPECT_EQ(WriteReportOutputs(report, outputs, nullptr), 0);
    for (const char* out : {"r.csv", "r_about.txt", "r.html", "t.csv"}) EXPECT_TRUE(IsOurReport(out)) << out;
  }
  EXPECT_EQ(Read("victim.txt"), "keep");
}

}  // namespace
}  // namespace pyokoran
