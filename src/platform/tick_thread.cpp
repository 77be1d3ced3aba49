#include "platform/tick_thread.h"

namespace pyokoran {

bool TickThread::ClockHasMsResolution() { return true; }
bool TickThread::Start(std::atomic<int32_t>&, void (*)(int32_t)) { return false; }
void TickThread::Stop() {}

}  // namespace pyokoran
