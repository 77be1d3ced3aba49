#include "results/result_viewer.h"

#include "app/program.h"

namespace pyokoran {

void ShowResults(Program&) {}

}  // namespace pyokoran
