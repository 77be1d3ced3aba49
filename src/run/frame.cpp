#include "run/frame.h"

#include "app/program.h"

namespace pyokoran {

void DrawHole(Program&, int) {}
void ComposeFrame(Program&) {}
void DrawStatusText(Program&, const std::string&, int32_t, uint32_t) {}

}  // namespace pyokoran
