// ピョコラン on Windows: a reaction-time experiment in which creatures rise out of holes. A
// program of the window subsystem: its command line prints to the console it was started
// from (or wherever its output was sent); started without one, it opens its window.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/guide.h"
#include "app/working_folder.h"
#include "analysis/report.h"
#include "cli/build_version.h"
#include "cli/command_line.h"
#include "platform/win32/wide.h"
#include "platform/win32/window/win32_program.h"
#include "timing/present_mode.h"

namespace {

using namespace pyokoran;

// The folder the program file lies in.
std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return WideToUtf8(path.substr(0, path.find_last_of(L"\\/")));
}

std::wstring Variable(const wchar_t* name) {
  std::wstring value(256, L'\0');
  DWORD n = GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
  if (n >= value.size()) {
    value.resize(n);
    n = GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
  }
  value.resize(n < value.size() ? n : 0);
  return value;
}

// The Start menu's working folder: ピョコラン in the user's Documents (wherever the user has
// moved it), else in the user's profile folder.
std::string DocumentsFolder() {
  PWSTR documents = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &documents)))
    folder = WideToUtf8(documents);
  CoTaskMemFree(documents);
  if (folder.empty()) folder = WideToUtf8(Variable(L"USERPROFILE"));
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + "ピョコラン";
}

// The command line as UTF-8, the program's name first.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide && i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  if (arguments.empty()) arguments.push_back("pyokoran");
  return arguments;
}

bool Usable(HANDLE handle) {
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// stdout and stderr where the user can read them: a file or pipe they were sent to stays; else
// the console of the process that started the program (a Command Prompt, PowerShell), which
// shows UTF-8 while the program writes to it. Without either they go nowhere.
class ConsoleOutput {
 public:
  ConsoleOutput() {
    const bool out = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = Usable(GetStdHandle(STD_ERROR_HANDLE));
    if ((!out || !err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
      if (!out) std::freopen("CONOUT$", "w", stdout);
      if (!err) std::freopen("CONOUT$", "w", stderr);
      visible_ = true;
    }
    visible_ = visible_ || (out && err);
    if (GetConsoleWindow() != nullptr) {
      code_page_ = GetConsoleOutputCP();
      SetConsoleOutputCP(CP_UTF8);
    }
  }
  ~ConsoleOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (code_page_ != 0) SetConsoleOutputCP(code_page_);
  }
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // Prints text to out, or (started from a shortcut, without a console) shows it in a
  // message box, so that a refusal is never silent.
  void Say(const std::string& text, std::FILE* out, bool error) const {
    if (visible_) {
      std::fputs(text.c_str(), out);
      return;
    }
    std::wstring wide;
    Utf8ToWide(text, wide);
    MessageBoxW(nullptr, wide.c_str(), L"ピョコラン", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
  }

 private:
  UINT code_page_ = 0;
  bool visible_ = false;
};

// PYOKORAN_PRESENT when it names a mode, else empty.
std::string PresentVariable() {
  const std::string value = WideToUtf8(Variable(L"PYOKORAN_PRESENT"));
  return ParseForcedMode(value.c_str()) == ForcedMode::None ? std::string() : value;
}

int RunCheckTiming(const ModeRun& run) { return RunWin32TimingCheck(run.present, stdout); }

SystemCommands WindowsCommands() {
  SystemCommands system;
  system.launcher = "Start menu";
  system.present_help =
      "Present frames in MODE: locked (a Direct3D flip-model swap chain, locked to the "
      "display's refresh) or fallback (GDI, paced by the clock), whatever the measurement "
      "says. The PYOKORAN_PRESENT variable does the same.";
  system.report_pdf = false;  // --report writes the CSV and the HTML
  system.check_timing = RunCheckTiming;
  return system;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::vector<std::string> arguments = Arguments();
  if (arguments.size() == 1) {
    Win32Start start;
    start.version = VersionText();
    start.sample_stimuli = ProgramFolder() + "\\stim";
    start.guide_pages = FindGuidePages({ProgramFolder()});
    start.present = PresentVariable();
    SetReportProgramVersion("pyokoran " + VersionText());
    return RunWin32Program(start);
  }

  ConsoleOutput console;
  const SystemCommands system = WindowsCommands();
  const std::vector<CommandMode> modes = CommandModes(system);
  CommandLine command_line = ParseCommandLine(arguments, system, modes, DocumentsFolder());
  if (command_line.present.empty()) command_line.present = PresentVariable();
  switch (command_line.action) {
    case CommandAction::PrintHelp:
    case CommandAction::PrintVersion:
      console.Say(command_line.text, stdout, false);
      return 0;
    case CommandAction::Fail:
      console.Say(command_line.text, stderr, true);
      return command_line.exit_status;
    case CommandAction::RunMode: {
      std::vector<char*> argv;
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      int argc = int(arguments.size());
      return command_line.mode->run({*command_line.options, command_line.arguments, command_line.folder,
                                     command_line.present, argc, argv.data()});
    }
    case CommandAction::OpenProgram:
      break;
  }

  Win32Start start;
  start.version = VersionText();
  start.sample_stimuli = ProgramFolder() + "\\stim";
  start.guide_pages = FindGuidePages({ProgramFolder()});
  start.present = command_line.present;
  if (command_line.documents) {
    start.launcher_folder = command_line.folder;
  } else if (!command_line.folder.empty()) {
    std::string error;
    if (!EnterWorkingFolder(command_line.folder, error)) {
      console.Say("pyokoran: " + error + "\n", stderr, true);
      return 1;
    }
  }
  SetReportProgramVersion("pyokoran " + VersionText());
  return RunWin32Program(start);
}
