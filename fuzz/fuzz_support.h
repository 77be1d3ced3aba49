// Shared by the fuzz targets: a scratch working folder for the readers that take a file name,
// and a failure report that prints what differed before libFuzzer saves the input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace pyokoran::fuzz {

// A fresh folder under the temporary folder, made once per process and removed when the
// process ends normally.
inline const char* ScratchFolder() {
  static char path[4096];
  if (path[0]) return path;
  std::string pattern = std::filesystem::temp_directory_path() / "pyokoran-fuzz-XXXXXX";
  if (pattern.size() >= sizeof path || !mkdtemp(pattern.data())) {
    std::perror("pyokoran fuzz: scratch folder");
    std::abort();
  }
  pattern.copy(path, pattern.size());
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  });
  return path;
}

// The scratch folder as the working folder for the readers that take the working folder's
// files, until the end of the scope (libFuzzer reads its corpus by relative names).
class InScratchFolder {
 public:
  InScratchFolder() : back_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (back_ < 0 || chdir(ScratchFolder()) != 0) std::abort();
  }
  ~InScratchFolder() {
    if (fchdir(back_) != 0) std::abort();
    close(back_);
  }
  InScratchFolder(const InScratchFolder&) = delete;
  InScratchFolder& operator=(const InScratchFolder&) = delete;

 private:
  int back_;
};

// Replaces the file with bytes; aborts when it cannot be written.
inline void WriteWholeFile(const char* name, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(name, "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
    std::perror(name);
    std::abort();
  }
}

// Bytes as a C string literal, for the report.
inline std::string Escaped(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += char(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

// A property that does not hold: says which, with the two sides, and aborts so that
// libFuzzer keeps the input as a crash.
[[noreturn]] inline void PropertyFailed(const char* what, const std::string& expected,
                                        const std::string& actual) {
  std::fprintf(stderr, "\n*** %s\n  expected %s\n  actual   %s\n", what, Escaped(expected).c_str(),
               Escaped(actual).c_str());
  std::abort();
}

}  // namespace pyokoran::fuzz
