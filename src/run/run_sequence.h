#pragma once

namespace pyokoran {

struct Program;

// Start message, trial loop, end message with the score. 1 = time limit reached,
// 0 = aborted with Escape.
int RunSequence(Program& program);

}  // namespace pyokoran
