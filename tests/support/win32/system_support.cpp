#include "support/system_support.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/win32/wide.h"

namespace pyokoran::test {

bool SystemHasFifos() { return false; }
// Making symbolic links needs a privilege (or developer mode) on Windows.
bool SystemHasSymlinks() { return false; }
// The documents folder is the system's known folder there.
bool SystemHasXdgUserFolders() { return false; }
bool MakeFifo(const std::string&) {
  errno = ENOSYS;
  return false;
}
bool MakeSymlink(const std::string& target, const std::string& link) {
  std::wstring wide_target, wide_link;
  if (!Utf8ToWide(target, wide_target) || !Utf8ToWide(link, wide_link)) return false;
  // Without developer mode or the privilege the system refuses, and the caller skips.
  if (CreateSymbolicLinkW(wide_link.c_str(), wide_target.c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    return true;
  }
  SetErrnoFromLastError();
  return false;
}
bool MakeFolder(const std::string& path) {
  std::wstring wide;
  if (!Utf8ToWide(path, wide)) return false;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  SetErrnoFromLastError();
  return false;
}
void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::u8path(path), ignored);
}
std::string TemporaryFolderPattern() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  std::string folder = WideToUtf8(std::wstring(buffer, n));
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + "pyokoran-test-XXXXXX";
}
void SetTimeZone(const char* tz) {
  _putenv_s("TZ", tz);
  _tzset();
}

}  // namespace pyokoran::test
