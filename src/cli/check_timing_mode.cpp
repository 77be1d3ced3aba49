// --check-timing: the timing self-check instead of the program.
#include "cli/command_line.h"

namespace pyokoran {

CommandMode CheckTimingMode(const SystemCommands& system) {
  CommandMode mode;
  mode.options = {CommandOption{
      {"check-timing"},
      "Open the full-screen window alone for at most five seconds, measure how frames reach "
      "the screen and how the tick keeps time, print the figures against their thresholds "
      "and end with PASS (exit status 0) or FAIL (1).",
      ""}};
  mode.run = system.check_timing;
  return mode;
}

}  // namespace pyokoran
