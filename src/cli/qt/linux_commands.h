// The command line on Linux: the report with its PDF (through the report window, drawn
// offscreen without a display) and the timing check on the Qt platform.
#pragma once

#include "cli/command_line.h"

namespace pyokoran {

SystemCommands LinuxCommands();

}  // namespace pyokoran
