// --check-timing: the timing self-check instead of the program.
#include "cli/command_line.h"
#include "platform/qt/qt_platform.h"
#include "timing/timing_check.h"

namespace pyokoran {

namespace {

int RunCheckTiming(const ModeRun& run) {
  QtPlatform platform(run.argc, run.argv);
  return CheckTiming(platform, stdout);
}

}  // namespace

CommandMode CheckTimingMode() {
  CommandMode mode;
  mode.options = {QCommandLineOption(
      "check-timing",
      "Open the full-screen window alone for at most five seconds, measure how frames reach "
      "the screen and how the tick keeps time, print the figures against their thresholds "
      "and end with PASS (exit status 0) or FAIL (1).")};
  mode.run = RunCheckTiming;
  return mode;
}

}  // namespace pyokoran
