// Under emscripten fsync does nothing: in a page, what was written lives in the file system in
// memory until the page writes it back into the browser's storage. A flush therefore asks the
// page to do so (its Module.onFlush, called with a function to call when it is done) and waits
// for it, for at most a few seconds; where there is no such page (Node.js, whose files are the
// host's) it returns at once.
#include <emscripten.h>
#include <unistd.h>

#include <atomic>

#include "platform/file_system.h"

namespace pyokoran {
namespace {

constexpr int kMostWaitMs = 5000;

// Requests are numbered; the page raises stored to each number it is done with. Both live as
// long as the program, so an answer that comes after the wait gave up lands nowhere harmful.
std::atomic<int> requested{0};
alignas(4) std::atomic<int> stored{0};

void StoreInThePage() {
  const int request = ++requested;
  MAIN_THREAD_ASYNC_EM_ASM(
      {
        var done = function() {
          var at = $0 >> 2;
          for (var now = Atomics.load(HEAP32, at); now < $1; now = Atomics.load(HEAP32, at)) {
            Atomics.compareExchange(HEAP32, at, now, $1);
          }
        };
        if (Module["onFlush"]) Module["onFlush"](done); else done();
      },
      &stored, request);
  for (int waited = 0; stored.load() < request && waited < kMostWaitMs; ++waited) ::usleep(1000);
}

}  // namespace

bool FlushToDisk(int fd) {
  if (::fsync(fd) != 0) return false;
  StoreInThePage();
  return true;
}

void FlushFolder(const std::string&) { StoreInThePage(); }

}  // namespace pyokoran
