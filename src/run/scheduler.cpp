#include "run/scheduler.h"

#include "app/program.h"

namespace pyokoran {

void InitCreatureSlots(Program&) {}
void ResetTrialLog(TrialLog&) {}
void UpdateFrame(Program&, int) {}
int FindStruckSlot(const Program&, int32_t, int32_t) { return -1; }
void RegisterResponse(Program&, int, int32_t, int32_t, int32_t) {}

}  // namespace pyokoran
