// The thread behind the millisecond tick: sleeps until absolute 1 ms deadlines on the
// monotonic clock and adds every elapsed millisecond to the tick.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace pyokoran {

class TickThread {
 public:
  ~TickThread() { Stop(); }
  // True when the monotonic clock resolves 1 ms or better.
  static bool ClockHasMsResolution();
  // False if a thread already runs or could not be started.
  bool Start(std::atomic<int32_t>& tick, void (*hook)(int32_t));
  // Stops and joins; harmless when idle.
  void Stop();

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace pyokoran
