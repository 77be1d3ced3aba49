#include "platform/win32/window/win32_program.h"

#include <cstdlib>

#include "app/my_app.h"
#include "app/working_folder.h"
#include "platform/win32/window/win32_platform.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"

namespace pyokoran {

namespace {

void ForcePresentMode(const std::string& present) {
  if (!present.empty()) _putenv_s(kPresentModeVariable, present.c_str());
}

}  // namespace

std::string WineVersion() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using VersionFn = const char*(__cdecl*)();
  auto version = ntdll ? reinterpret_cast<VersionFn>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                       : nullptr;
  const char* text = version ? version() : nullptr;
  return text ? text : "";
}

int RunWin32Program(const Win32Start& start) {
  ForcePresentMode(start.present);
  Win32Platform platform(GetModuleHandleW(nullptr));
  if (!start.launcher_folder.empty() &&
      !OpenLauncherFolder(platform, start.launcher_folder, start.sample_stimuli)) {
    return 1;
  }
  CMyApp app(platform, start.version, start.guide_pages);
  return app.Run();
}

int RunWin32TimingCheck(const std::string& present, std::FILE* out) {
  ForcePresentMode(present);
  const std::string wine = WineVersion();
  if (!wine.empty()) {
    std::fprintf(out,
                 "note: running under Wine %s, not Windows: its presents, frame statistics, "
                 "input times and timers say nothing about a Windows PC. Run this check on the "
                 "lab's Windows PC.\n",
                 wine.c_str());
  }
  Win32Platform platform(GetModuleHandleW(nullptr));
  return CheckTiming(platform, out);
}

}  // namespace pyokoran
