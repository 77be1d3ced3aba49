#include "preparation/run_preparation.h"

#include "app/program.h"

namespace pyokoran {

int PrepareRun(Program&) { return 0; }

}  // namespace pyokoran
