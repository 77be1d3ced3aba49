// With PYOKORAN_SLOW_WRITES set, every positioned write of this process reaches the file in
// small pieces with pauses between them, as writes reach a slow network share: another
// process that does not wait for the folder's lock then finds lines half-written.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const bool slow = std::getenv("PYOKORAN_SLOW_WRITES") != nullptr;
  if (!slow) return ssize_t(syscall(SYS_pwrite64, fd, data, size, offset));
  const size_t piece = size < 24 ? size : 24;
  const ssize_t n = ssize_t(syscall(SYS_pwrite64, fd, data, piece, offset));
  usleep(150);
  return n;
}
