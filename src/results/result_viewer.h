#pragma once

namespace pyokoran {

struct Program;

// Ranks every recorded run by score and shows the result dialog; shows nothing when there
// is nothing to show.
void ShowResults(Program& program);

}  // namespace pyokoran
