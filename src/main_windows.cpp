// ピョコラン on Windows: a reaction-time experiment in which creatures rise out of holes.
#include <windows.h>

#include <string>

#include "cli/build_version.h"
#include "platform/win32/wide.h"
#include "platform/win32/window/win32_program.h"

namespace {

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
  return pyokoran::WideToUtf8(path.substr(0, path.find_last_of(L"\\/")));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace pyokoran;
  Win32Start start;
  start.version = VersionText();
  start.sample_stimuli = ProgramFolder() + "\\stim";
  return RunWin32Program(start);
}
