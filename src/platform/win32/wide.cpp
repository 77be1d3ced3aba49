#include "platform/win32/wide.h"

#include <windows.h>

#include <cerrno>

namespace pyokoran {

bool Utf8ToWide(const std::string& text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                    nullptr, 0);
  if (n <= 0) {
    const int m = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    out.resize(size_t(m > 0 ? m : 0));
    if (m > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), m);
    return false;
  }
  out.resize(size_t(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
  return true;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  }
  return out;
}

void SetErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_DIRECTORY:
      errno = EISDIR;
      break;
    default:
      errno = EIO;
      break;
  }
}

}  // namespace pyokoran
