// Round trips to the X server that show what its event clock is: a property is changed on a
// window of a connection of our own, and the server's timestamp of the change notification
// is read between two monotonic times.
#pragma once

#include <vector>

#include "timing/event_clock.h"

namespace pyokoran {

// count round trips (none when there is no X display to reach).
std::vector<ClockProbe> ProbeX11EventClock(int count);

}  // namespace pyokoran
