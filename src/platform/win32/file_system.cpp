#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <random>

#include "platform/regular_file.h"
#include "platform/win32/wide.h"

namespace pyokoran {
namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

std::wstring Wide(const std::string& path) {
  std::wstring out;
  Utf8ToWide(path, out);
  return out;
}

}  // namespace

PathKind KindOfPath(const std::string& path, bool follow_links) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (!follow_links && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return PathKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kRegular;
}

bool StatusOf(int fd, FileStatus& status) {
  BY_HANDLE_FILE_INFORMATION info{};
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
    errno = EBADF;
    return false;
  }
  status.size = int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  status.regular = GetFileType(h) == FILE_TYPE_DISK &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  status.writable = !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  status.links = info.nNumberOfLinks;
  status.mode = status.writable ? 0666 : 0444;
  status.owner = status.group = 0;
  return true;
}

// Windows files carry no owner the program could give; a new file inherits the folder's
// permissions.
bool TakeOwnerAndMode(int, const FileStatus&) { return true; }

int64_t ReadAt(int fd, void* buffer, size_t size, int64_t offset) {
  OVERLAPPED at{};
  at.Offset = DWORD(uint64_t(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = DWORD(uint64_t(offset) >> 32);
  DWORD read = 0;
  const DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : DWORD(size);
  if (!ReadFile(HandleOf(fd), buffer, want, &read, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    SetErrnoFromLastError();
    return -1;
  }
  return int64_t(read);
}

bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset) {
  // At an explicit offset through the handle: never the C runtime's append, which seeks to
  // the end and then writes in a second step.
  const char* p = static_cast<const char*>(data);
  const HANDLE h = HandleOf(fd);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = DWORD(uint64_t(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(uint64_t(offset) >> 32);
    const DWORD want = size > 0x40000000u ? 0x40000000u : DWORD(size);
    DWORD written = 0;
    if (!WriteFile(h, p, want, &written, &at)) {
      SetErrnoFromLastError();
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    p += written;
    size -= written;
    offset += written;
  }
  return true;
}

FileLock TryLockFile(int fd, bool exclusive) {
  OVERLAPPED at{};
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(HandleOf(fd), flags, 0, 1, 0, &at)) return FileLock::kTaken;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return FileLock::kBusy;
  return FileLock::kRefused;
}

void UnlockFile(int fd) {
  OVERLAPPED at{};
  UnlockFileEx(HandleOf(fd), 0, 1, 0, &at);
}

std::string LocalDataFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::wstring folder = std::wstring(base) + L"\\Pyokoran";
  CreateDirectoryW(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return WideToUtf8(folder);
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return WideToUtf8(std::wstring(name, size));
}

bool FlushToDisk(int fd) {
  if (FlushFileBuffers(HandleOf(fd))) return true;
  SetErrnoFromLastError();
  return false;
}

// NTFS journals its folders; a program cannot flush one.
void FlushFolder(const std::string&) {}

bool TruncateFile(int fd, int64_t size) {
  const errno_t error = _chsize_s(fd, size);
  if (error == 0) return true;
  errno = error;
  return false;
}

int CreateNewFile(const std::string& path, unsigned mode) {
  return OpenRegularFile(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, int(mode));
}

int OpenNoFollow(const std::string& path) {
  if (KindOfPath(path, false) == PathKind::kLink) {
    errno = ELOOP;
    return -1;
  }
  return OpenRegularFile(path.c_str(), O_RDONLY);
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileW(Wide(path).c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

// ReplaceFileW keeps the old file's attributes and security; MoveFileExW is the fallback
// where it cannot (no old file, another volume, a file system without it).
bool ReplaceFileWith(const std::string& from, const std::string& to) {
  const std::wstring source = Wide(from), target = Wide(to);
  if (ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  if (MoveFileExW(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  SetErrnoFromLastError();
  return false;
}

bool MoveToNewName(const std::string& from, const std::string& to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  SetErrnoFromLastError();
  return false;
}

// Links on Windows (reparse points) are followed by the system when a file is opened.
// The system resolves every link on the way when it opens the name; the name of what it
// opened is the target. A name that does not exist (yet) stands for itself.
bool FollowLinks(const std::string& path, std::string& target) {
  target = path;
  const std::wstring name = Wide(path);
  HANDLE file = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_CANT_RESOLVE_FILENAME) {
      SetErrnoFromLastError();
      return false;  // a loop of links
    }
    return true;
  }
  std::wstring final_name(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(file, final_name.data(), DWORD(final_name.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= final_name.size()) {
    final_name.resize(n + 1);
    n = GetFinalPathNameByHandleW(file, final_name.data(), DWORD(final_name.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(file);
  if (n == 0 || n >= final_name.size()) return true;
  final_name.resize(n);
  // \\?\C:\dir\file and \\?\UNC\server\share\file in their everyday forms.
  if (final_name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    final_name = L"\\\\" + final_name.substr(8);
  } else if (final_name.rfind(L"\\\\?\\", 0) == 0) {
    final_name = final_name.substr(4);
  }
  // The name itself when it already names that file, so that messages keep the user's form.
  std::wstring full(MAX_PATH, L'\0');
  const DWORD full_n = GetFullPathNameW(name.c_str(), DWORD(full.size()), full.data(), nullptr);
  if (full_n > 0 && full_n < full.size()) {
    full.resize(full_n);
    if (CompareStringOrdinal(full.c_str(), int(full.size()), final_name.c_str(),
                             int(final_name.size()), TRUE) == CSTR_EQUAL) {
      return true;
    }
  }
  target = WideToUtf8(final_name);
  return true;
}

bool MakeTemporaryFolder(std::string& pattern) {
  if (pattern.size() < 6) {
    errno = EINVAL;
    return false;
  }
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::mt19937 random(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = pattern.size() - 6; i < pattern.size(); ++i) {
      pattern[i] = kLetters[random() % (sizeof kLetters - 1)];
    }
    if (CreateDirectoryW(Wide(pattern).c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  SetErrnoFromLastError();
  return false;
}

std::string CurrentFolderPath() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::wstring path(n, L'\0');
  if (n == 0 || GetCurrentDirectoryW(n, path.data()) != n - 1) return {};
  path.resize(n - 1);
  return WideToUtf8(path);
}

bool EnterFolder(const std::string& path) {
  if (SetCurrentDirectoryW(Wide(path).c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool RenamePath(const std::string& from, const std::string& to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  SetErrnoFromLastError();
  return false;
}

// A new folder inherits its parent's permissions already.
bool GiveDefaultPermissions(const std::string&) { return true; }

long ProcessId() { return long(GetCurrentProcessId()); }

bool LocalTimeOf(std::time_t t, std::tm& local) { return localtime_s(&local, &t) == 0; }

FolderHandle::~FolderHandle() = default;

bool FolderHandle::Open(const std::string& path) {
  path_.clear();
  std::wstring wide = Wide(path);
  if (path == ".") {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    wide.assign(n, L'\0');
    if (n == 0 || GetCurrentDirectoryW(n, wide.data()) != n - 1) return false;
    wide.resize(n - 1);
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = ENOTDIR;
    return false;
  }
  path_ = WideToUtf8(wide);
  return true;
}

bool FolderHandle::valid() const { return !path_.empty(); }

bool FolderHandle::Enter() const {
  return !path_.empty() && SetCurrentDirectoryW(Wide(path_).c_str());
}

MappedFile::MappedFile(const std::string& path) {
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  FileStatus status;
  if (StatusOf(fd, status) && status.size > 0) {
    HANDLE mapping = CreateFileMappingW(HandleOf(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping) {
      const void* p = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      if (p) {
        data_ = static_cast<const char*>(p);
        size_ = size_t(status.size);
        mapping_ = mapping;
      } else {
        CloseHandle(mapping);
      }
    }
  }
  opened_ = true;
  _close(fd);
}

MappedFile::~MappedFile() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(static_cast<HANDLE>(mapping_));
}

}  // namespace pyokoran
