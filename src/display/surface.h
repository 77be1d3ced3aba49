// A drawing surface: plain memory of 32-bit pixels 0x00RRGGBB (bytes blue, green, red, 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pyokoran {

struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // row after row, width pixels each

  Surface() = default;
  Surface(int32_t w, int32_t h) : width(w), height(h), pixels(size_t(w) * size_t(h), 0) {}
  int32_t pitch() const { return width * 4; }  // bytes per row
  uint32_t* row(int32_t y) { return pixels.data() + size_t(y) * size_t(width); }
  const uint32_t* row(int32_t y) const { return pixels.data() + size_t(y) * size_t(width); }
  uint32_t at(int32_t x, int32_t y) const { return row(y)[x]; }
};

}  // namespace pyokoran
