// Builds BMP files byte by byte for the tests, in any of the layouts the decoder meets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/file_system.h"
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace pyokoran::test {

struct BmpLayout {
  int32_t width = 1;
  int32_t height = 1;  // negative: top-down rows
  int bits = 24;
  uint32_t compression = 0;  // 3 = BI_BITFIELDS
  uint32_t header_size = 40;
  uint32_t colours_used = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB, written as RGBQUAD
  uint32_t masks[3] = {};         // written with BI_BITFIELDS (after a 40-byte header, or inside)
  uint32_t gap = 0;               // bytes between the tables and the pixel rows
  // Raw value of the pixel at (x, y), y from the top: an index for 1/4/8 bits, the 16 or
  // 32-bit word, or 0x00RRGGBB for 24 bits.
  std::function<uint32_t(int32_t x, int32_t y)> pixel = [](int32_t, int32_t) { return 0u; };
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

inline std::vector<uint8_t> MakeBmp(const BmpLayout& s) {
  const bool bitfields = s.compression == 3;
  const size_t masks_after = bitfields && s.header_size < 52 ? 12 : 0;
  const size_t table = s.palette.size() * 4;
  const size_t offset = 14 + s.header_size + masks_after + table + s.gap;
  const int32_t rows = s.height < 0 ? -s.height : s.height;
  const size_t stride = ((size_t(s.width) * size_t(s.bits) + 31) / 32) * 4;
  std::vector<uint8_t> b(offset + stride * size_t(rows), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, uint32_t(b.size()));
  Put32(b, 10, uint32_t(offset));
  Put32(b, 14, s.header_size);
  Put32(b, 18, uint32_t(s.width));
  Put32(b, 22, uint32_t(s.height));
  Put16(b, 26, 1);
  Put16(b, 28, uint32_t(s.bits));
  Put32(b, 30, s.compression);
  Put32(b, 34, uint32_t(stride * size_t(rows)));
  Put32(b, 46, s.colours_used);
  if (bitfields) {
    // Right after a 40-byte header, or at the same place inside a longer one.
    for (int c = 0; c < 3; ++c) Put32(b, 14 + 40 + size_t(4 * c), s.masks[c]);
  }
  size_t pal = 14 + s.header_size + masks_after;
  for (size_t i = 0; i < s.palette.size(); ++i) Put32(b, pal + 4 * i, s.palette[i]);
  for (int32_t y = 0; y < rows; ++y) {
    size_t file_row = size_t(s.height < 0 ? y : rows - 1 - y);
    size_t row = offset + file_row * stride;
    for (int32_t x = 0; x < s.width; ++x) {
      uint32_t v = s.pixel(x, y);
      switch (s.bits) {
        case 1: b[row + size_t(x / 8)] |= uint8_t((v & 1) << (7 - x % 8)); break;
        case 4: b[row + size_t(x / 2)] |= uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
        case 8: b[row + size_t(x)] = uint8_t(v); break;
        case 16: Put16(b, row + 2 * size_t(x), v); break;
        case 24:
          b[row + 3 * size_t(x)] = uint8_t(v);
          b[row + 3 * size_t(x) + 1] = uint8_t(v >> 8);
          b[row + 3 * size_t(x) + 2] = uint8_t(v >> 16);
          break;
        case 32: Put32(b, row + 4 * size_t(x), v); break;
      }
    }
  }
  return b;
}

// A 24-bit bottom-up picture of width x height from a colour function.
inline std::vector<uint8_t> MakeBmp24(int32_t width, int32_t height,
                                      std::function<uint32_t(int32_t, int32_t)> colour) {
  BmpLayout s;
  s.width = width;
  s.height = height;
  s.pixel = std::move(colour);
  return MakeBmp(s);
}

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  f.close();
  return bool(f);
}

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pyokoran-XXXXXX").string();
    if (MakeTemporaryFolder(pattern)) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Makes dir the working directory until the end of the scope.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace pyokoran::test
