#include "settings/settings_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <vector>
#include <string_view>
#include <utility>

#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "platform/utf8_path.h"

namespace pyokoran {

namespace {

namespace fs = std::filesystem;

constexpr size_t kPieceBytes = 1023;  // what one read of the 1024-byte line buffer takes
constexpr std::string_view kTrimSet = " \t\n";
constexpr size_t kLineOverhead = 3 + 2;  // " = " and CR LF
constexpr const char* kBackupSuffix = ".bak";

std::string_view Trim(std::string_view s) {
  size_t first = s.find_first_not_of(kTrimSet);
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(kTrimSet);
  return s.substr(first, last - first + 1);
}

// The part of value that Save writes after key: a line "key = value" longer than one piece
// would be read back as several entries, so the value is cut where the first piece ends.
std::string_view WrittenValue(std::string_view key, std::string_view value) {
  std::string_view v = value;
  if (v.empty() || key.size() + 3 + v.size() <= kPieceBytes) return v;
  v = v.substr(0, key.size() + 3 < kPieceBytes ? kPieceBytes - 3 - key.size() : 0);
  size_t last = v.find_last_not_of(kTrimSet);
  return last == std::string_view::npos ? std::string_view() : v.substr(0, last + 1);
}

size_t WrittenLineBytes(std::string_view key, std::string_view value) {
  return key.size() + WrittenValue(key, value).size() + kLineOverhead;
}

// Up to max_bytes of a regular file; false when it cannot be opened or read.
bool ReadRegularFile(const std::string& name, size_t max_bytes, std::string& bytes) {
  int fd = OpenRegularFile(name.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool ok = true;
  char buffer[65536];
  while (bytes.size() < max_bytes) {
    size_t want = std::min(sizeof buffer, max_bytes - bytes.size());
    ssize_t n = ::read(fd, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = (n == 0);
      break;
    }
    bytes.append(buffer, size_t(n));
  }
  ::close(fd);
  return ok;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

void SyncFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  FlushFolder(slash == std::string::npos ? "." : path.substr(0, slash + 1));
}

// The copy of the old text, whole and on disk; false when the folder takes no new file.
// Temporary files "<target>.<process id>.tmp" of saves that were cut short: one whose lock
// can be taken has no living writer (a save holds its lock while it writes) and is removed.
// Where the file system keeps no locks only this process's own is.
void RemoveStaleTemporaries(const std::string& target, const std::string& own) {
  const fs::path path = PathFromUtf8(target);
  const std::string stem = Utf8FromPath(path.filename()) + ".";
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  const std::string own_name = Utf8FromPath(PathFromUtf8(own).filename());
  std::vector<std::pair<std::string, bool>> stale;  // a temporary, and whether it is this process's own
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (name.size() <= stem.size() + 4 || name.compare(0, stem.size(), stem) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    const std::string id = name.substr(stem.size(), name.size() - 4 - stem.size());
    if (std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      stale.emplace_back(Utf8FromPath(it->path()), name == own_name);
    }
  }
  for (const auto& [temp, is_own] : stale) {
    const int fd = OpenRegularFile(temp.c_str(), O_RDWR);
    if (fd < 0) continue;
    const FileLock lock = TryLockFile(fd, true);
    if (lock == FileLock::kTaken || (lock == FileLock::kRefused && is_own)) RemoveFile(temp);
    ::close(fd);
  }
}

bool WriteBackup(const std::string& backup, const std::string& text) {
  RemoveFile(backup);
  const int fd = CreateNewFile(backup, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && FlushToDisk(fd);
  ok = ::close(fd) == 0 && ok;
  if (ok) {
    SyncFolderOf(backup);
  } else {
    RemoveFile(backup);
  }
  return ok;
}

// Writes bytes into the file that name stands for, as described at SettingsFile::Save.
// keep_backup: a <file>.bak left by a save cut short is the text the store was loaded from.
void WriteSettingsFile(const std::string& name, const std::string& bytes, bool keep_backup) {
  std::string target;
  if (!FollowLinks(name, target)) return;

  // Opening the old file for writing (without truncating it) proves it is a regular file
  // that may be written. A file with no write permission at all is locked by its owner,
  // also against the superuser.
  FileStatus old_file;
  int fd = OpenRegularFile(target.c_str(), O_WRONLY);
  if (fd < 0 && errno != ENOENT) return;
  const bool exists = fd >= 0;
  if (exists && (!StatusOf(fd, old_file) || !old_file.writable)) {
    ::close(fd);
    return;
  }

  // Crash-safe replacement: a complete new file renamed over the old one. The temporary
  // name is this process's own, so that programs sharing the folder never write into each
  // other's; one left by a save cut short is removed by the next save.
  if (!exists || old_file.links == 1) {
    const std::string temp = target + "." + std::to_string(ProcessId()) + ".tmp";
    RemoveStaleTemporaries(target, temp);
    int temp_fd = CreateNewFile(temp, exists ? 0600 : 0666);
    if (temp_fd >= 0) {
      TryLockFile(temp_fd, true);  // held while it is written; closing releases it
      bool same_owner = true;
      if (exists) same_owner = TakeOwnerAndMode(temp_fd, old_file);
      bool written = same_owner && WriteAll(temp_fd, bytes) && FlushToDisk(temp_fd);
      written = (::close(temp_fd) == 0) && written;
      // The old file is closed first where an open file cannot be replaced.
      if (written && exists) {
        ::close(fd);
        fd = -1;
      }
      if (written && ReplaceFileWith(temp, target)) {
        RemoveFile(target + kBackupSuffix);  // a copy from a save cut short is done with
        SyncFolderOf(target);
        if (fd >= 0) ::close(fd);
        return;
      }
      RemoveFile(temp);
      // The new text could not be written out whole (a full disk): the old file stays.
      if (same_owner && !written) {
        if (exists) ::close(fd);
        return;
      }
      if (exists && fd < 0) {
        fd = OpenRegularFile(target.c_str(), O_WRONLY);
        if (fd < 0) return;
      }
    }
  }

  // In place, as a plain rewrite does it. The old text is copied to <file>.bak first (where
  // the folder takes a new file) and held until the new text is on disk: a save cut short
  // is undone by the next Load, one that fails puts the old text back.
  if (!exists) {
    fd = OpenRegularFile(target.c_str(), O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return;
  }
  std::string old_text;
  const bool have_old = exists && ReadRegularFile(target, SettingsFile::kMaxFileBytes, old_text);
  const std::string backup = target + kBackupSuffix;
  bool backed_up = false;
  if (have_old && !old_text.empty()) {
    // A copy left by a save that was cut short holds the text the store was loaded from.
    backed_up = keep_backup && KindOfPath(backup, false) == PathKind::kRegular;
    if (!backed_up) backed_up = WriteBackup(backup, old_text);
  }
  if (TruncateFile(fd, 0) && WriteAll(fd, bytes) && FlushToDisk(fd)) {
    if (backed_up && RemoveFile(backup)) SyncFolderOf(target);
  } else if (have_old && TruncateFile(fd, 0) && WriteAll(fd, old_text) && FlushToDisk(fd)) {
    if (backed_up && RemoveFile(backup)) SyncFolderOf(target);
  }
  ::close(fd);
}

}  // namespace

bool SettingsFile::HoldsEveryEntryOf(const std::string& bytes, const std::string& backup) {
  // What a save writes ends with a line end (when the old text did) and keeps every key it
  // was loaded with. Only the copy's whole lines count: it may itself be cut short.
  if (bytes.empty()) return false;
  if (bytes.back() != '\n' && backup.back() == '\n') return false;
  SettingsFile now, before;
  now.Parse(bytes);
  before.Parse(backup.substr(0, backup.rfind('\n') + 1));
  for (const std::string& key : before.keys()) {
    if (now.Find(key) < 0) return false;
  }
  return true;
}

void SettingsFile::Clear() {
  keys_.clear();
  values_.clear();
  index_.clear();
}

void SettingsFile::Load(const std::string& base_name) {
  try {
    Clear();
    file_name_ = base_name + ".ini";
    restored_from_backup_ = false;
    std::string bytes;
    const bool read = ReadRegularFile(file_name_, kMaxFileBytes, bytes);
    // A copy beside the file means an in-place save was cut short: the file is taken only
    // when it came out whole, else the copy.
    std::string target, backup;
    if (FollowLinks(file_name_, target) &&
        ReadRegularFile(target + kBackupSuffix, kMaxFileBytes, backup) && !backup.empty()) {
      if (!read || !HoldsEveryEntryOf(bytes, backup)) {
        Parse(backup);
        restored_from_backup_ = true;
        return;
      }
    }
    if (!read) return;
    Parse(bytes);
  } catch (const std::bad_alloc&) {
    // Out of memory while reading: the store is empty and the file is not rewritten at
    // exit, so nothing in it is lost.
    Clear();
    file_name_.clear();
  }
}

void SettingsFile::Parse(const std::string& bytes) {
  size_t stored = 0;
  for (size_t i = 0; i < keys_.size(); ++i) stored += WrittenLineBytes(keys_[i], values_[i]);

  const std::string_view text = bytes;
  size_t pos = 0;
  while (pos < text.size()) {
    // One read of the line reader: up to 1023 bytes of text, ending after a line feed. Text
    // mode drops the CR of every CR LF, so an LF right after 1023 bytes still ends the piece
    // when a CR goes before it. The LF itself is trimmed below, the CR is left out here.
    const std::string_view ahead = text.substr(pos, kPieceBytes + 1);
    size_t lf = ahead.find('\n');
    std::string_view piece;
    if (lf != std::string_view::npos && lf > 0 && ahead[lf - 1] == '\r') {
      piece = ahead.substr(0, lf - 1);
      pos += lf + 1;
    } else if (lf != std::string_view::npos && lf < kPieceBytes) {
      piece = ahead.substr(0, lf + 1);
      pos += lf + 1;
    } else {
      piece = ahead.substr(0, kPieceBytes);
      pos += piece.size();
    }
    std::string_view line = piece.substr(0, piece.find('\0'));  // the reader's string ends at a NUL
    line = Trim(line);
    if (line.empty()) continue;

    // key: first run without "=" after leading "="; value: the next such run.
    size_t k0 = line.find_first_not_of('=');
    if (k0 == std::string_view::npos) continue;  // nothing but "=": no key
    size_t k1 = line.find('=', k0);
    std::string_view key = Trim(line.substr(k0, k1 == std::string_view::npos ? line.npos : k1 - k0));
    if (key.empty()) continue;  // blanks and "=" only before the value: no key either
    std::string_view value;
    if (k1 != std::string_view::npos) {
      size_t v0 = line.find_first_not_of('=', k1);
      if (v0 != std::string_view::npos) {
        size_t v1 = line.find('=', v0);
        value = Trim(line.substr(v0, v1 == std::string_view::npos ? line.npos : v1 - v0));
      }
    }

    // Keep what fits, as written, in the share of the file the next start reads.
    int existing = Find(key);
    size_t grown = stored + WrittenLineBytes(key, value);
    if (existing >= 0) grown -= WrittenLineBytes(key, values_[size_t(existing)]);
    if (grown > kMaxReadEntryBytes) continue;
    stored = grown;
    Set(key, value);
  }
}

std::string SettingsFile::Serialise() const {
  size_t size = 0;
  for (size_t i = 0; i < keys_.size(); ++i) size += WrittenLineBytes(keys_[i], values_[i]);
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < keys_.size(); ++i) {
    out += keys_[i];
    out += " = ";
    out += WrittenValue(keys_[i], values_[i]);
    out += "\r\n";
  }
  return out;
}

void SettingsFile::Save() const {
  if (file_name_.empty()) return;
  try {
    WriteSettingsFile(file_name_, Serialise(), restored_from_backup_);
  } catch (const std::bad_alloc&) {
    // Out of memory: nothing is written and the old file stays.
  }
}

int SettingsFile::Find(std::string_view key) const {
  auto it = index_.find(key);
  return it == index_.end() ? -1 : int(it->second);
}

int SettingsFile::GetString(const std::string& key, std::string& value) const {
  int i = Find(key);
  if (i < 0) return 0;
  value = values_[size_t(i)];
  return 1;
}

int SettingsFile::GetInt(const std::string& key, int32_t& value) const {
  int i = Find(key);
  if (i < 0) return 0;
  long long v = std::strtoll(values_[size_t(i)].c_str(), nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  value = int32_t(v);
  return 1;
}

void SettingsFile::SetString(const std::string& key, const std::string& value) { Set(key, value); }

void SettingsFile::Set(std::string_view key, std::string_view value) {
  int i = Find(key);
  if (i >= 0) {
    values_[size_t(i)] = value;
    return;
  }
  keys_.emplace_back(key);
  values_.emplace_back(value);
  index_.emplace(key, keys_.size() - 1);
}

void SettingsFile::SetInt(const std::string& key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  SetString(key, text);
}

}  // namespace pyokoran
