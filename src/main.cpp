// ピョコラン: a reaction-time experiment in which creatures rise out of holes.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/report.h"
#include "app/guide.h"
#include "app/my_app.h"
#include "app/working_folder.h"
#include "cli/build_version.h"
#include "cli/command_line.h"
#include "cli/qt/linux_commands.h"
#include "gui/report_window.h"
#include "platform/qt/qt_platform.h"
#include "timing/present_mode.h"

namespace {

// The sample stimuli: installed beside the program (<prefix>/share/pyokoran/stim), or in the
// source tree of a build that was not installed.
std::string SampleStimuliFolder() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  const fs::path installed = program.parent_path().parent_path() / PYOKORAN_DATA_DIR / "stim";
  if (!error && fs::is_directory(installed, error)) return installed.string();
  return PYOKORAN_SOURCE_DIR "/stim";
}

// The guide's pages: installed with the package's documents (<prefix>/share/doc/pyokoran), or
// beside the program in a build that was not installed.
std::vector<std::string> GuidePages() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return pyokoran::FindGuidePages(
      {(program.parent_path().parent_path() / PYOKORAN_DOC_DIR).string(), program.parent_path().string()});
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pyokoran;
  const SystemCommands system = LinuxCommands();
  const std::vector<CommandMode> modes = CommandModes(system);
  const CommandLine command_line = ParseCommandLine(ArgumentList(argc, argv), system, modes,
                                                    DocumentsWorkingFolder(ReadUserFolders()));
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
          {*command_line.options, command_line.arguments, command_line.folder, command_line.present,
           argc, argv});
    case CommandAction::OpenProgram:
      break;
  }

  if (!command_line.folder.empty() && !command_line.documents) {
    std::string error;
    if (!EnterWorkingFolder(command_line.folder, error)) {
      std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
      return 1;
    }
  }
  QtPlatform platform(argc, argv);
  platform.SetReportOpener(&OpenReportWindow);
  if (command_line.documents &&
      !OpenLauncherFolder(platform, command_line.folder, SampleStimuliFolder())) {
    return 1;
  }
  // The report window's files name the version with its commit, as --report's do.
  SetReportProgramVersion("pyokoran " + VersionText());
  CMyApp app(platform, VersionText(), GuidePages());
  return app.Run();
}
