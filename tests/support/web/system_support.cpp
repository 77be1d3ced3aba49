// Tests under Node.js: the host's files through emscripten's file system, no FIFOs, and local
// times from JavaScript's Date, which follows the process's TZ.
#include "support/system_support.h"

#include <emscripten.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

namespace pyokoran::test {

bool SystemHasFifos() { return false; }
bool SystemHasSymlinks() { return true; }
bool SystemHasXdgUserFolders() { return true; }
bool MakeFifo(const std::string&) {
  errno = ENOSYS;
  return false;
}
bool MakeSymlink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}
bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }
void RemoveTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}
std::string TemporaryFolderPattern() { return "/tmp/pyokoran-test-XXXXXX"; }
void SetTimeZone(const char* tz) {
  MAIN_THREAD_EM_ASM({ process.env.TZ = UTF8ToString($0); }, tz);
  ::tzset();
}

}  // namespace pyokoran::test
