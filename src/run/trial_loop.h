// The real-time part of a run, between the start and the end message.
#pragma once

namespace pyokoran {

struct Program;

// Resets the holes, waits for Escape and Return to be released, starts the timer, then
// tests responses, delivers events and advances frames until the time limit has passed
// with no creature up (returns 1) or Escape is pressed (returns 0 once it is released).
// Called by RunSequence.
int RunTrialLoop(Program& program);

}  // namespace pyokoran
