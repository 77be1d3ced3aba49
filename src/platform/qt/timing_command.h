// The command-line side of presentation timing: --present=locked|fallback forces a mode (as
// the PYOKORAN_PRESENT variable does), --check-timing runs the timing self-check instead
// of the program.
#pragma once

namespace pyokoran {

// Called first by main. True when the command line asked for something other than the
// program (the check, or a bad mode), with the exit code in code.
bool RunTimingCommand(int& argc, char** argv, int& code);

}  // namespace pyokoran
