// One run as the participant sees it: start message, trial loop, end message.
#pragma once

namespace pyokoran {

struct Program;

// Start message, trial loop, end message with the score and the four counts. 1 = time
// limit reached, 0 = aborted with Escape. Called by the Start command.
int RunSequence(Program& program);

}  // namespace pyokoran
