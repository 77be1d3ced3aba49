// Byte-range locks between processes and, over NFS and SMB, between computers: fcntl locks
// of the open file description, released when it is closed or the process ends.
#include <fcntl.h>

#include <cerrno>

#include "platform/file_system.h"

namespace pyokoran {

FileLock TryLockFile(int fd, bool exclusive) {
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return FileLock::kBusy;
    return FileLock::kRefused;  // ENOLCK, EOPNOTSUPP, EINVAL: no locks here
  }
  return FileLock::kTaken;
}

void UnlockFile(int fd) {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  ::fcntl(fd, F_OFD_SETLK, &lock);
}

}  // namespace pyokoran
