#include "run/run_sequence.h"

#include "app/program.h"

namespace pyokoran {

int RunSequence(Program&) { return 0; }

}  // namespace pyokoran
