// The file operations the program's own files need beyond opening them (regular_file.h),
// on the descriptors OpenRegularFile gives. Names are UTF-8. One implementation per system;
// failures return false (or -1) with errno set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace pyokoran {

// What a name stands for.
enum class PathKind { kMissing, kRegular, kDirectory, kLink, kOther };
// The kind of path; follow_links: what a symbolic link leads to rather than the link.
PathKind KindOfPath(const std::string& path, bool follow_links);

// What the program needs to know of an open file.
struct FileStatus {
  int64_t size = 0;
  bool regular = false;
  bool writable = false;  // any write permission at all (not read-only)
  uint64_t links = 1;     // hard links to it
  unsigned mode = 0;      // permission bits where the system has them
  unsigned owner = 0;     // user and group where the system has them
  unsigned group = 0;
};
bool StatusOf(int fd, FileStatus& status);
// Gives the file at fd the owner (where it differs and the system has owners) and the
// permissions of like; false only when the owner could not be given.
bool TakeOwnerAndMode(int fd, const FileStatus& like);

// Up to size bytes at offset, without moving the file position for reads; -1 on failure.
int64_t ReadAt(int fd, void* buffer, size_t size, int64_t offset);
// Writes all size bytes at offset, whatever the descriptor's position or append mode; false
// (errno set) when not every byte could be written.
bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset);

// A lock on a file held open, honoured between processes and, on a network share that keeps
// locks, between computers: fcntl open-file-description locks on Linux (NFS and the SMB
// client pass them on), LockFileEx on Windows (kept by the SMB server). Released by
// UnlockFile, by closing the descriptor and when the process ends.
enum class FileLock {
  kTaken,
  kBusy,     // another process holds a lock that conflicts
  kRefused,  // the file system keeps no locks (ENOLCK, a share without them)
};
// Tries once, without waiting.
FileLock TryLockFile(int fd, bool exclusive);
void UnlockFile(int fd);

// The user's own folder for the program's data on this computer (never shared), made if
// missing: $XDG_DATA_HOME/pyokoran (else ~/.local/share/pyokoran), %LOCALAPPDATA%\Pyokoran.
// "" when there is none.
std::string LocalDataFolder();
// This computer's name (UTF-8); "" when the system does not tell it.
std::string ComputerName();

// Everything written reaches the disk.
bool FlushToDisk(int fd);
// The folder's entries (a new or renamed file in it) reach the disk, where the system lets
// a program ask for it; quietly nothing otherwise.
void FlushFolder(const std::string& folder);
bool TruncateFile(int fd, int64_t size);
// A new file that did not exist (not even as a link), for writing; mode as for open(2).
int CreateNewFile(const std::string& path, unsigned mode);
bool RemoveFile(const std::string& path);
// An existing file for reading, never through a symbolic link and never waiting for a peer
// (a FIFO); -1 otherwise.
int OpenNoFollow(const std::string& path);
// Puts from in the place of to, in one step where the system can: a reader sees the old
// file or the new one, never neither.
bool ReplaceFileWith(const std::string& from, const std::string& to);
// Puts from at the name to only while nothing (not even a link) is there; false with EEXIST
// when something is.
bool MoveToNewName(const std::string& from, const std::string& to);
// The file a name finally stands for once symbolic links are followed; false on a loop.
bool FollowLinks(const std::string& path, std::string& target);
// A new folder named after pattern, whose last six characters ("XXXXXX") are replaced.
bool MakeTemporaryFolder(std::string& pattern);
// The process's current folder ("" when it cannot be told), and making another one current.
std::string CurrentFolderPath();
bool EnterFolder(const std::string& path);
// Renames a file or folder; false (EEXIST or the like) where to exists as a folder.
bool RenamePath(const std::string& from, const std::string& to);
// Gives a folder made private (MakeTemporaryFolder) the permissions a new folder gets.
bool GiveDefaultPermissions(const std::string& folder);
// This process's id.
long ProcessId();
// The local calendar time of t.
bool LocalTimeOf(std::time_t t, std::tm& local);

// The current folder held open so that the process can go back to it.
class FolderHandle {
 public:
  FolderHandle() = default;
  ~FolderHandle();
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  // Holds path (the current folder for ".").
  bool Open(const std::string& path);
  bool valid() const;
  // Makes it the current folder.
  bool Enter() const;

 private:
  int fd_ = -1;       // where the system holds folders open
  std::string path_;  // where it goes back by name
};

// A regular file mapped into memory for reading; empty when it cannot be opened or is empty.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool opened() const { return opened_; }
  std::string_view bytes() const { return {data_, size_}; }

 private:
  bool opened_ = false;
  const char* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;  // the system's mapping object, where it has one
};

}  // namespace pyokoran
