#pragma once

namespace pyokoran {

struct Program;

// The real-time part of a run. 1 = ended after the time limit, 0 = aborted with Escape.
int RunTrialLoop(Program& program);

}  // namespace pyokoran
