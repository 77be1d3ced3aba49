#include "platform/regular_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/win32/wide.h"

namespace pyokoran {

// The file is opened through the wide API (the name as UTF-16, whatever the system code
// page), shared as POSIX files are (it may be renamed or removed while open), and handed to
// the C runtime as a binary descriptor.
int OpenRegularFile(const char* path, int flags, int mode) {
  std::wstring name;
  if (!Utf8ToWide(path, name)) {
    errno = ENOENT;
    return -1;
  }
  DWORD access = GENERIC_READ;
  if ((flags & O_ACCMODE) == O_WRONLY) access = GENERIC_WRITE;
  if ((flags & O_ACCMODE) == O_RDWR) access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & O_CREAT) && (flags & O_EXCL)) {
    disposition = CREATE_NEW;
  } else if ((flags & O_CREAT) && (flags & O_TRUNC)) {
    disposition = CREATE_ALWAYS;
  } else if (flags & O_CREAT) {
    disposition = OPEN_ALWAYS;
  } else if (flags & O_TRUNC) {
    disposition = TRUNCATE_EXISTING;
  }
  // Without any write permission in mode the new file is made read-only, as open(2) would.
  const DWORD attributes = (flags & O_CREAT) && !(mode & 0222) ? FILE_ATTRIBUTE_READONLY
                                                                : FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD found = GetFileAttributesW(name.c_str());
    if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
    } else {
      SetLastError(error);
      SetErrnoFromLastError();
    }
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    errno = EINVAL;
    return -1;
  }
  int crt_flags = _O_BINARY | _O_NOINHERIT;
  if ((flags & O_ACCMODE) == O_RDONLY) crt_flags |= _O_RDONLY;
  if ((flags & O_ACCMODE) == O_WRONLY) crt_flags |= _O_WRONLY;
  if ((flags & O_ACCMODE) == O_RDWR) crt_flags |= _O_RDWR;
  if (flags & O_APPEND) crt_flags |= _O_APPEND;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crt_flags);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
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
  if (std::strchr(stdio_mode, '+')) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = OpenRegularFile(path, flags);
  if (fd < 0) return nullptr;
  // Always binary: the program's files carry their own line ends.
  std::string mode = stdio_mode;
  if (mode.find('b') == std::string::npos) mode += 'b';
  std::FILE* f = _fdopen(fd, mode.c_str());
  if (!f) _close(fd);
  return f;
}

}  // namespace pyokoran
