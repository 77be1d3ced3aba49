#include "support/system_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace pyokoran::test {

bool SystemHasFifos() { return true; }
bool SystemHasSymlinks() { return true; }
bool SystemHasXdgUserFolders() { return true; }
bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }
bool MakeSymlink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}
bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }
void RemoveTree(const std::string& path) {
  if (std::system(("rm -rf '" + path + "'").c_str()) != 0) {
    // Left for the system's cleaning of its temporary folder.
  }
}
std::string TemporaryFolderPattern() { return "/tmp/pyokoran-test-XXXXXX"; }
void SetTimeZone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

}  // namespace pyokoran::test
