#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pyokoran {

int OpenRegularFile(const char* path, int flags, int mode) {
  int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return -1;
  }
  const int status = fcntl(fd, F_GETFL);
  if (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::FILE* FopenRegular(const char* path, const char* stdio_mode) {
  int flags = O_RDONLY;
  if (std::strchr(stdio_mode, 'a')) {
    flags = O_WRONLY | O_APPEND | O_CREAT;
  } else if (std::strchr(stdio_mode, 'w')) {
    flags = O_WRONLY | O_CREAT | O_TRUNC;
  }
  if (std::strchr(stdio_mode, '+')) flags = (flags & ~(O_RDONLY | O_WRONLY)) | O_RDWR;
  const int fd = OpenRegularFile(path, flags);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, stdio_mode);
  if (!f) ::close(fd);
  return f;
}

}  // namespace pyokoran
