// The browser build's program: its command line (--help, --version, --simulate and --report's
// CSV and HTML) under Node.js, in the host's folders, and in a page (simulate.html); and in a
// page without arguments the task itself (index.html).
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/report.h"
#include "cli/analysis_modes.h"
#include "cli/build_version.h"
#include "cli/command_line.h"
#include "platform/web/task.h"

namespace {

using namespace pyokoran;

int NoTimingCheck(const ModeRun&) {
  std::fputs("pyokoran: --check-timing needs a screen: in the page (index.html) choose "
             "ピョコラン(E) → タイミングの確認 (Check timing).\n", stderr);
  return 1;
}

SystemCommands WebCommands() {
  SystemCommands system;
  system.launcher = "browser page";
  system.present_help = "Not used here: the page presents on the browser's animation frames.";
  system.report_pdf = false;
  system.report = RunReportCsvHtml;
  system.check_timing = NoTimingCheck;
  return system;
}

}  // namespace

int main(int argc, char** argv) {
  const SystemCommands system = WebCommands();
  const std::vector<CommandMode> modes = CommandModes(system);
  const CommandLine command_line = ParseCommandLine(ArgumentList(argc, argv), system, modes, "(none in the browser build yet)");
  SetReportProgramVersion("pyokoran " + VersionText());
  switch (command_line.action) {
    case CommandAction::PrintHelp:
    case CommandAction::PrintVersion:
      std::fputs(command_line.text.c_str(), stdout);
      return 0;
    case CommandAction::Fail:
      std::fputs(command_line.text.c_str(), stderr);
      return command_line.exit_status;
    case CommandAction::RunMode:
      return command_line.mode->run({*command_line.options, command_line.arguments, command_line.folder,
                                     command_line.present, argc, argv});
    case CommandAction::OpenProgram:
      break;
  }
  return RunTaskHere(VersionText());
}
