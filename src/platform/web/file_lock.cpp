// In the browser one program writes the working folder: a second page is kept out by the
// page itself (a Web Lock on the folder), and under Node.js the program is the only process.
// The lock is therefore always taken here.
#include "platform/file_system.h"

namespace pyokoran {

FileLock TryLockFile(int, bool) { return FileLock::kTaken; }

void UnlockFile(int) {}

}  // namespace pyokoran
