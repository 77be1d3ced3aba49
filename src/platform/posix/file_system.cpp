#include "platform/file_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/regular_file.h"

namespace pyokoran {
namespace {

constexpr int kMaxLinkHops = 40;

}  // namespace

PathKind KindOfPath(const std::string& path, bool follow_links) {
  struct stat info {};
  if ((follow_links ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) {
    return PathKind::kMissing;
  }
  if (S_ISREG(info.st_mode)) return PathKind::kRegular;
  if (S_ISDIR(info.st_mode)) return PathKind::kDirectory;
  if (S_ISLNK(info.st_mode)) return PathKind::kLink;
  return PathKind::kOther;
}

bool StatusOf(int fd, FileStatus& status) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  status.size = int64_t(info.st_size);
  status.regular = S_ISREG(info.st_mode);
  status.writable = (info.st_mode & 0222) != 0;
  status.links = uint64_t(info.st_nlink);
  status.mode = unsigned(info.st_mode & 07777);
  status.owner = unsigned(info.st_uid);
  status.group = unsigned(info.st_gid);
  return true;
}

bool TakeOwnerAndMode(int fd, const FileStatus& like) {
  bool same_owner = true;
  if (like.owner != ::geteuid() || like.group != ::getegid()) {
    same_owner = ::fchown(fd, like.owner, like.group) == 0;
  }
  ::fchmod(fd, like.mode);
  return same_owner;
}

int64_t ReadAt(int fd, void* buffer, size_t size, int64_t offset) {
  return int64_t(::pread(fd, buffer, size, off_t(offset)));
}

bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= size_t(n);
    offset += n;
  }
  return true;
}

std::string LocalDataFolder() {
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    base = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  // Made one level at a time, private to the user where it is new.
  std::string path;
  for (size_t at = 1; at != std::string::npos;) {
    const size_t slash = base.find('/', at);
    path = base.substr(0, slash);
    ::mkdir(path.c_str(), 0700);
    at = slash == std::string::npos ? slash : slash + 1;
  }
  const std::string folder = base + "/pyokoran";
  ::mkdir(folder.c_str(), 0700);
  return KindOfPath(folder, true) == PathKind::kDirectory ? folder : std::string();
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

bool TruncateFile(int fd, int64_t size) { return ::ftruncate(fd, off_t(size)) == 0; }

int CreateNewFile(const std::string& path, unsigned mode) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

int OpenNoFollow(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveToNewName(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // A file system without the flag: a second name, which fails where one exists, then the
  // first one gone.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Without hard links either: as close as the system allows.
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool FollowLinks(const std::string& start, std::string& target) {
  std::string path = start;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      target = path;
      return true;
    }
    std::string link(size_t(PATH_MAX), '\0');
    ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || size_t(n) >= link.size()) return false;
    link.resize(size_t(n));
    size_t slash = path.rfind('/');
    path = (link[0] == '/' || slash == std::string::npos) ? link : path.substr(0, slash + 1) + link;
  }
  return false;
}

bool MakeTemporaryFolder(std::string& pattern) { return ::mkdtemp(pattern.data()) != nullptr; }

std::string CurrentFolderPath() {
  std::string path(4096, '\0');
  while (!::getcwd(path.data(), path.size())) {
    if (errno != ERANGE) return {};
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return path;
}

bool EnterFolder(const std::string& path) { return ::chdir(path.c_str()) == 0; }

bool RenamePath(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool GiveDefaultPermissions(const std::string& folder) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return ::chmod(folder.c_str(), 0777 & ~mask) == 0;
}

long ProcessId() { return long(::getpid()); }

bool LocalTimeOf(std::time_t t, std::tm& local) { return ::localtime_r(&t, &local) != nullptr; }

MappedFile::MappedFile(const std::string& path) {
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    void* p = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<const char*>(p);
      size_ = size_t(info.st_size);
      ::madvise(p, size_, MADV_SEQUENTIAL);
    }
  }
  opened_ = true;
  ::close(fd);
}

MappedFile::~MappedFile() {
  if (data_) ::munmap(const_cast<char*>(data_), size_);
}

}  // namespace pyokoran
