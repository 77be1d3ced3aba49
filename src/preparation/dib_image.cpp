#include "preparation/dib_image.h"

#include <algorithm>
#include <cstdio>
#include <new>


#include "platform/file_system.h"
#include "platform/regular_file.h"

namespace pyokoran {

namespace {

constexpr int64_t kFileHeaderBytes = 14;
constexpr int64_t kInfoHeaderBytes = 40;
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}

// Position and width of a mask's bits; false when its bits are not one contiguous run.
bool SplitMask(uint32_t mask, int32_t& shift, int32_t& width) {
  shift = width = 0;
  if (mask == 0) return true;
  while (!(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  while (mask & 1) {
    mask >>= 1;
    ++width;
  }
  return mask == 0;
}

// A channel value of width bits widened to 8 bits by repeating its bits (5 bits: v << 3 |
// v >> 2), as display drivers expand them.
uint32_t Widen(uint32_t v, int32_t width) {
  if (width == 0) return 0;
  if (width >= 8) return v >> (width - 8);
  uint32_t x = v << (8 - width);
  for (int32_t s = width; s < 8; s += width) x |= x >> s;
  return x & 0xFF;
}

// Reads the whole file; false when it cannot be opened or read, or is too large.
bool ReadFile(const std::string& path, std::vector<uint8_t>& header, std::vector<uint8_t>& rest) {
  std::FILE* f = FopenRegular(path.c_str(), "rb");
  if (!f) return false;
  bool ok = false;
  FileStatus info;
  int64_t length = -1;
  if (StatusOf(fileno(f), info) && info.regular) length = info.size;
  if (length >= kFileHeaderBytes && length <= kMaxDibFileBytes) {
    header.resize(kFileHeaderBytes);
    if (std::fread(header.data(), 1, header.size(), f) == header.size() && header[0] == 'B' &&
        header[1] == 'M') {
      try {
        rest.resize(size_t(length - kFileHeaderBytes));
        ok = rest.empty() || std::fread(rest.data(), 1, rest.size(), f) == rest.size();
      } catch (const std::bad_alloc&) {
        ok = false;
      }
    }
  }
  std::fclose(f);
  return ok;
}

}  // namespace

void DibImage::Release() { *this = DibImage{}; }

int DibImage::Load(const std::string& path) {
  Release();
  std::vector<uint8_t> file_header, b;
  if (!ReadFile(path, file_header, b)) return 0;
  const int64_t size = int64_t(b.size());
  if (size < kInfoHeaderBytes) return 0;

  const int64_t header_size = U32(b, 0);
  const int32_t width = int32_t(U32(b, 4));
  const int32_t height = int32_t(U32(b, 8));
  const int32_t bits = U16(b, 14);
  const uint32_t compression = U32(b, 16);
  const uint32_t colours_used = U32(b, 32);
  if (header_size < kInfoHeaderBytes || header_size > size) return 0;
  if (width <= 0 || width > kMaxDibSide || height == 0 || height < -kMaxDibSide ||
      height > kMaxDibSide) {
    return 0;
  }

  int32_t colour_count = 0;
  switch (bits) {
    case 1: case 4: case 8:
      if (compression != BI_RGB) return 0;
      // A table longer than the file can hold fails the bounds check below.
      if (colours_used > (1u << 16)) return 0;
      colour_count = colours_used != 0 ? int32_t(colours_used) : (1 << bits);
      break;
    case 16: case 32:
      if (compression != BI_RGB && compression != BI_BITFIELDS) return 0;
      break;
    case 24:
      if (compression != BI_RGB) return 0;
      break;
    default:
      return 0;
  }

  // Colour table or masks follow the information header. With the classic 40-byte header
  // the rows follow them directly; longer headers are written by editors that put the rows
  // where the file header's offset says.
  const int64_t table_offset = header_size;
  int64_t table_end = table_offset + 4 * int64_t(colour_count);
  int64_t mask_offset = -1;
  if (compression == BI_BITFIELDS) {
    if (header_size >= 52) {
      mask_offset = 40;  // inside the V2..V5 header
    } else {
      mask_offset = table_offset;
      table_end = table_offset + 12;
    }
  }
  if (table_end > size) return 0;
  int64_t bits_offset = table_end;
  if (header_size > kInfoHeaderBytes) {
    bits_offset = int64_t(U32(file_header, 10)) - kFileHeaderBytes;
    if (bits_offset < table_end) return 0;
  }
  const int64_t stride = ((int64_t(width) * bits + 31) / 32) * 4;
  const int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
  if (bits_offset > size || stride * rows > size - bits_offset) return 0;

  // Channel masks of 16 and 32-bit pixels.
  uint32_t masks[3] = {};
  if (mask_offset >= 0) {
    for (int c = 0; c < 3; ++c) masks[c] = U32(b, size_t(mask_offset + 4 * c));
  } else if (bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bits == 32) {
    masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
  }
  for (int c = 0; c < 3; ++c) {
    if (!SplitMask(masks[c], shifts_[c], widths_[c])) return 0;
    masks_[c] = masks[c];
  }

  if (bits <= 8) {
    palette_.assign(256, 0);  // indices past the table draw black
    int32_t entries = std::min(colour_count, 256);
    for (int32_t i = 0; i < entries; ++i) {
      size_t at = size_t(table_offset + 4 * i);
      palette_[size_t(i)] = uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 1]) << 8 | b[at];
    }
    palette_offset_ = table_offset;
  }
  width_ = width;
  height_ = height;
  bit_count_ = bits;
  colour_count_ = colour_count;
  bits_offset_ = bits_offset;
  stride_ = stride;
  top_down_ = height < 0;
  block_ = std::move(b);
  return 1;
}

uint32_t DibImage::PixelAt(const uint8_t* row, int32_t x) const {
  switch (bit_count_) {
    case 1: return palette_[(row[x >> 3] >> (7 - (x & 7))) & 1];
    case 4: return palette_[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
    case 8: return palette_[row[x]];
    case 24: {
      const uint8_t* p = row + 3 * int64_t(x);
      return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    default: {
      uint32_t v;
      if (bit_count_ == 16) {
        const uint8_t* p = row + 2 * int64_t(x);
        v = uint32_t(p[0] | p[1] << 8);
      } else {
        const uint8_t* p = row + 4 * int64_t(x);
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
      }
      uint32_t out = 0;
      for (int c = 0; c < 3; ++c) {
        out = out << 8 | Widen((v & masks_[c]) >> shifts_[c], widths_[c]);
      }
      return out;
    }
  }
}

int DibImage::Draw(SurfaceDC& dc, const Rect* src, const Rect* dst) const {
  if (empty() || !dc.surface) return 0;
  Surface& out = *dc.surface;
  const int32_t rows = top_down_ ? -height_ : height_;
  Rect s = src ? *src : Rect{0, 0, width_, rows};
  // Extents up to 2^30 keep the sampling arithmetic below inside 64 bits.
  constexpr int64_t kMaxExtent = int64_t(1) << 30;
  const int64_t sw = int64_t(s.right) - s.left, sh = int64_t(s.bottom) - s.top;
  if (sw <= 0 || sh <= 0 || sw > kMaxExtent || sh > kMaxExtent) return 0;
  Rect d = dst ? *dst : Rect{0, 0, int32_t(std::min<int64_t>(sw, INT32_MAX)),
                             int32_t(std::min<int64_t>(sh, INT32_MAX))};
  const int64_t dw = int64_t(d.right) - d.left, dh = int64_t(d.bottom) - d.top;
  if (dw <= 0 || dh <= 0 || dw > kMaxExtent || dh > kMaxExtent) return 0;

  // Only the destination pixels on the surface are visited; each takes the source pixel
  // under its centre, if that lies in the picture.
  const int64_t x0 = std::max<int64_t>(d.left, 0), x1 = std::min<int64_t>(d.right, out.width);
  const int64_t y0 = std::max<int64_t>(d.top, 0), y1 = std::min<int64_t>(d.bottom, out.height);
  if (x0 >= x1 || y0 >= y1) return int(std::min<int64_t>(sh, INT32_MAX));
  std::vector<int32_t> columns(size_t(x1 - x0));
  for (int64_t x = x0; x < x1; ++x) {
    int64_t sx = s.left + ((2 * (x - d.left) + 1) * sw) / (2 * dw);
    columns[size_t(x - x0)] = sx >= 0 && sx < width_ ? int32_t(sx) : -1;
  }
  for (int64_t y = y0; y < y1; ++y) {
    int64_t sy = s.top + ((2 * (y - d.top) + 1) * sh) / (2 * dh);
    if (sy < 0 || sy >= rows) continue;
    int64_t file_row = top_down_ ? sy : rows - 1 - sy;
    const uint8_t* row = block_.data() + bits_offset_ + file_row * stride_;
    uint32_t* line = out.row(int32_t(y));
    for (int64_t x = x0; x < x1; ++x) {
      int32_t sx = columns[size_t(x - x0)];
      if (sx >= 0) line[x] = PixelAt(row, sx);
    }
  }
  return int(std::min<int64_t>(sh, INT32_MAX));
}

}  // namespace pyokoran
