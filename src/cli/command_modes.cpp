// The command-line modes. A new mode: its description in a file of its own, one line here.
#include "cli/analysis_modes.h"
#include "cli/command_line.h"

namespace pyokoran {

CommandMode CheckTimingMode();

std::vector<CommandMode> CommandModes() {
  return {
      ReportMode(),
      SimulateMode(),
      CheckTimingMode(),
  };
}

}  // namespace pyokoran
