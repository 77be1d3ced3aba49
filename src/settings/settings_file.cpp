#include "settings/settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pyokoran {

namespace {

constexpr size_t kPieceBytes = 1023;  // what one read of the 1024-byte line buffer takes
constexpr const char* kTrimSet = " \t\n";

std::string Trim(const std::string& s) {
  size_t first = s.find_first_not_of(kTrimSet);
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(kTrimSet);
  return s.substr(first, last - first + 1);
}

// The file as text mode reads it: a CR directly before an LF is dropped.
std::string TextModeRead(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

bool ReadWholeFile(const std::string& name, std::string& bytes) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
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

}  // namespace

void SettingsFile::Load(const std::string& base_name) {
  file_name_ = base_name + ".ini";
  keys_.clear();
  values_.clear();
  std::string bytes;
  if (!ReadWholeFile(file_name_, bytes)) return;
  Parse(bytes);
}

void SettingsFile::Parse(const std::string& bytes) {
  const std::string text = TextModeRead(bytes);
  size_t pos = 0;
  while (pos < text.size()) {
    // One read of the line reader: up to 1023 bytes, ending after a line feed.
    size_t end = text.find('\n', pos);
    size_t len = (end == std::string::npos) ? text.size() - pos : end - pos + 1;
    if (len > kPieceBytes) len = kPieceBytes;
    std::string piece = text.substr(pos, len);
    pos += len;
    piece.resize(std::strlen(piece.c_str()));  // the reader's string ends at a NUL byte

    std::string line = Trim(piece);
    if (line.empty()) continue;

    // key: first run without "=" after leading "="; value: the next such run.
    size_t k0 = line.find_first_not_of('=');
    if (k0 == std::string::npos) continue;  // nothing but "=": no key
    size_t k1 = line.find('=', k0);
    std::string key = line.substr(k0, k1 == std::string::npos ? std::string::npos : k1 - k0);
    std::string value;
    if (k1 != std::string::npos) {
      size_t v0 = line.find_first_not_of('=', k1);
      if (v0 != std::string::npos) {
        size_t v1 = line.find('=', v0);
        value = line.substr(v0, v1 == std::string::npos ? std::string::npos : v1 - v0);
      }
    }
    SetString(Trim(key), Trim(value));
  }
}

std::string SettingsFile::Serialise() const {
  std::string out;
  for (size_t i = 0; i < keys_.size(); ++i) {
    out += keys_[i];
    out += " = ";
    out += values_[i];
    out += "\r\n";
  }
  return out;
}

void SettingsFile::Save() const {
  if (file_name_.empty()) return;
  // Write a new file beside the old one and rename it into place, so that a failure at any
  // point leaves the old file whole.
  std::string temp = file_name_ + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return;
  struct stat old_file;
  ::fchmod(fd, ::stat(file_name_.c_str(), &old_file) == 0 ? (old_file.st_mode & 07777) : 0644);
  bool ok = WriteAll(fd, Serialise()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), file_name_.c_str()) != 0) {
    ::unlink(temp.c_str());
  }
}

int SettingsFile::Find(const std::string& key) const {
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == key) return int(i);
  }
  return -1;
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

void SettingsFile::SetString(const std::string& key, const std::string& value) {
  int i = Find(key);
  if (i >= 0) {
    values_[size_t(i)] = value;
    return;
  }
  keys_.push_back(key);
  values_.push_back(value);
}

void SettingsFile::SetInt(const std::string& key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  SetString(key, text);
}

}  // namespace pyokoran
