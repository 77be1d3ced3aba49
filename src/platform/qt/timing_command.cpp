#include "platform/qt/timing_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qt/qt_platform.h"
#include "timing/present_mode.h"
#include "timing/timing_check.h"

namespace pyokoran {

bool RunTimingCommand(int& argc, char** argv, int& code) {
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--check-timing") == 0) {
      check = true;
    } else if (std::strncmp(a, "--present=", 10) == 0) {
      if (ParseForcedMode(a + 10) == ForcedMode::None) {
        std::fprintf(stderr, "pyokoran: --present takes locked or fallback, not '%s'\n", a + 10);
        code = 2;
        return true;
      }
      setenv(kPresentModeVariable, a + 10, 1);
    }
  }
  if (!check) return false;
  QtPlatform platform(argc, argv);
  code = CheckTiming(platform, stdout);
  return true;
}

}  // namespace pyokoran
