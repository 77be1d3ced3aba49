#pragma once

namespace pyokoran {

struct Program;

// Releases the run's surfaces and sounds; for a completed run appends the summary line and
// the per-appearance rows. 1 = nothing to write or both written; 0 after its message.
int WriteResultFiles(Program& program, int completed);

}  // namespace pyokoran
