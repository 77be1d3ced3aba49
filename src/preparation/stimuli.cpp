#include "preparation/stimuli.h"

#include "app/program.h"

namespace pyokoran {

int LoadStimuli(Program&) { return 1; }

}  // namespace pyokoran
