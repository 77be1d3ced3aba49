#include "run/trial_loop.h"

#include "app/program.h"

namespace pyokoran {

int RunTrialLoop(Program&) { return 0; }

}  // namespace pyokoran
