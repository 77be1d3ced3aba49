#include <fcntl.h>
#include <unistd.h>

#include "platform/file_system.h"

namespace pyokoran {

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderHandle::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ >= 0;
}

bool FolderHandle::valid() const { return fd_ >= 0; }

bool FolderHandle::Enter() const { return fd_ >= 0 && ::fchdir(fd_) == 0; }

}  // namespace pyokoran
