#pragma once

namespace pyokoran {

struct Program;

// The condition dialog until its values pass or it is cancelled, then commit, seeding,
// creatures, hole layout, log and stimuli. 1 = a run is ready; 0 = cancelled or failed
// (already reported).
int PrepareRun(Program& program);

}  // namespace pyokoran
