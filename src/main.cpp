// ピョコラン: a reaction-time experiment in which creatures rise out of holes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/my_app.h"
#include "app/working_folder.h"
#include "cli/build_version.h"
#include "cli/command_line.h"
#include "gui/report_window.h"
#include "platform/qt/qt_platform.h"
#include "timing/present_mode.h"

int main(int argc, char** argv) {
  using namespace pyokoran;
  const std::vector<CommandMode> modes = CommandModes();
  const CommandLine command_line = ParseCommandLine(ArgumentList(argc, argv), modes);
  if (!command_line.present.empty()) setenv(kPresentModeVariable, command_line.present.c_str(), 1);
  switch (command_line.action) {
    case CommandAction::PrintHelp:
    case CommandAction::PrintVersion:
      std::fputs(command_line.text.c_str(), stdout);
      return 0;
    case CommandAction::Fail:
      std::fputs(command_line.text.c_str(), stderr);
      return command_line.exit_status;
    case CommandAction::RunMode:
      return command_line.mode->run(
          {*command_line.parser, command_line.arguments, command_line.folder, argc, argv});
    case CommandAction::OpenProgram:
      break;
  }

  if (!command_line.folder.empty()) {
    std::string error;
    if (!EnterWorkingFolder(command_line.folder, error)) {
      std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
      return 1;
    }
  }
  QtPlatform platform(argc, argv);
  platform.SetReportOpener(&OpenReportWindow);
  CMyApp app(platform, VersionText());
  return app.Run();
}
