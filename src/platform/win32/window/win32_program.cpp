#include "platform/win32/window/win32_program.h"

#include <windows.h>

namespace pyokoran {

std::string WineVersion() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using VersionFn = const char*(__cdecl*)();
  auto version = ntdll ? reinterpret_cast<VersionFn>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                       : nullptr;
  const char* text = version ? version() : nullptr;
  return text ? text : "";
}

// The window layer is not built yet: the program says so instead of showing nothing.
int RunWin32Program(const Win32Start&) {
  MessageBoxW(nullptr, L"このビルドにはウィンドウがありません。", L"ピョコラン", MB_OK | MB_ICONERROR);
  return 1;
}

int RunWin32TimingCheck(const std::string&, std::FILE* out) {
  std::fputs("The timing check needs the program's windows, which this build lacks.\n", out);
  return 1;
}

}  // namespace pyokoran
