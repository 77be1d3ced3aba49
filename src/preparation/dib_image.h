// A Windows bitmap (BMP) held in memory and drawn, scaled, into a surface.
//
// Load accepts what can be drawn: an information header of 40 bytes or longer (V4/V5),
// 1, 4 or 8 bits with a colour table, 16 and 32 bits (plain or with BI_BITFIELDS masks),
// 24 bits, rows bottom-up or top-down (negative height). Every part the drawing reads (the
// header, the colour table or masks, every pixel row) must lie inside the file; anything
// else (RLE or embedded JPEG/PNG, a zero or absurd size, a short or lying file) fails the
// load, so the caller can say so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/surfaces.h"

namespace pyokoran {

// Largest width or height Load accepts, and the largest file it reads.
constexpr int32_t kMaxDibSide = 32768;
constexpr int64_t kMaxDibFileBytes = int64_t(256) << 20;

class DibImage {
 public:
  // Reads a BMP file whole. 1 success; 0 failure (no message), leaving the image empty.
  // Any previous image is released first.
  int Load(const std::string& path);
  // Draws source rectangle src of the picture (top row 0) into destination rectangle dst of
  // the context's surface, scaled to the nearest pixel and clipped to the surface. Null src
  // means the whole picture; null dst a rectangle of the source's size at (0, 0). Returns
  // the number of source rows, or 0 when nothing could be drawn.
  int Draw(SurfaceDC& dc, const Rect* src, const Rect* dst) const;
  // Gives the memory back; every field 0.
  void Release();

  bool empty() const { return block_.empty(); }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }  // negative for top-down rows
  int32_t bit_count() const { return bit_count_; }
  int32_t colour_count() const { return colour_count_; }
  // The file less its 14-byte file header; the information header is its first byte.
  const std::vector<uint8_t>& block() const { return block_; }
  // Offsets into block(): colour table (-1 when the image has none) and first pixel row.
  int64_t palette_offset() const { return palette_offset_; }
  int64_t bits_offset() const { return bits_offset_; }

 private:
  uint32_t PixelAt(const uint8_t* row, int32_t x) const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t bit_count_ = 0;
  int32_t colour_count_ = 0;
  std::vector<uint8_t> block_;
  int64_t palette_offset_ = -1;
  int64_t bits_offset_ = 0;
  // Decoding state derived from the headers.
  int64_t stride_ = 0;
  bool top_down_ = false;
  uint32_t masks_[3] = {};  // red, green, blue for 16 and 32 bits
  int32_t shifts_[3] = {};
  int32_t widths_[3] = {};
  std::vector<uint32_t> palette_;  // 0x00RRGGBB per index; 256 entries for indexed images
};

}  // namespace pyokoran
