#include <fcntl.h>
#include <unistd.h>

#include "platform/file_system.h"

namespace pyokoran {

bool FlushToDisk(int fd) { return ::fsync(fd) == 0; }

void FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace pyokoran
