// The command-line modes. A new mode: its description in a file of its own, one line here.
#include "cli/analysis_modes.h"
#include "cli/command_line.h"

namespace pyokoran {

CommandMode CheckTimingMode(const SystemCommands& system);

std::vector<CommandMode> CommandModes(const SystemCommands& system) {
  return {
      ReportMode(system),
      SimulateMode(),
      CheckTimingMode(system),
  };
}

}  // namespace pyokoran
