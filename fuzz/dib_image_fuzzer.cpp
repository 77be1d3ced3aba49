// The BMP decoder and its drawing: any file is either refused by Load or drawn, whole,
// scaled and through odd rectangles, into a surface without touching memory outside the
// picture or the surface.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "preparation/dib_image.h"

using namespace pyokoran;

namespace {

// Fills the surface with a colour no picture pixel has (bit 24 set), so the drawing can be
// told apart from what was there.
void Clear(Surface& s) {
  for (uint32_t& p : s.pixels) p = 0xFF000000u;
}

// Every pixel Draw wrote must be a 0x00RRGGBB value.
void CheckPixels(const Surface& s) {
  for (uint32_t p : s.pixels) {
    if (p != 0xFF000000u && (p >> 24) != 0) std::abort();
  }
}

int32_t Word(const uint8_t* data, size_t size, size_t at) {
  int32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = int32_t(uint32_t(v) << 8 | (at + i < size ? data[at + i] : 0));
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = std::string(fuzz::ScratchFolder()) + "/picture.bmp";
  fuzz::WriteWholeFile(path.c_str(), data, size);

  DibImage image;
  if (!image.Load(path)) {
    if (!image.empty() || image.width() != 0 || image.height() != 0) std::abort();
    return 0;
  }
  if (image.width() <= 0 || image.height() == 0) std::abort();
  const int32_t rows = image.height() < 0 ? -image.height() : image.height();

  Surface surface(61, 47);
  SurfaceDC dc{&surface};

  // Whole picture at its own size from (0, 0), clipped to the surface.
  Clear(surface);
  if (image.Draw(dc, nullptr, nullptr) != rows) std::abort();
  CheckPixels(surface);

  // Whole picture squeezed or stretched over the surface, as the stage's background is.
  Clear(surface);
  const Rect all{0, 0, surface.width, surface.height};
  if (image.Draw(dc, nullptr, &all) != rows) std::abort();
  CheckPixels(surface);
  for (uint32_t p : surface.pixels) {
    if (p == 0xFF000000u) std::abort();  // every pixel of the surface was drawn
  }

  // Rectangles taken from the file's last 32 bytes: partly outside the picture, partly off
  // the surface, mirrored or empty.
  const size_t at = size >= 32 ? size - 32 : 0;
  Rect src{Word(data, size, at), Word(data, size, at + 4), Word(data, size, at + 8),
           Word(data, size, at + 12)};
  Rect dst{Word(data, size, at + 16), Word(data, size, at + 20), Word(data, size, at + 24),
           Word(data, size, at + 28)};
  // Mostly small rectangles near the picture, so that drawing happens often.
  src = {src.left % 64 - 8, src.top % 64 - 8, src.right % 96, src.bottom % 96};
  dst = {dst.left % 80 - 10, dst.top % 80 - 10, dst.right % 128, dst.bottom % 128};
  Clear(surface);
  image.Draw(dc, &src, &dst);
  image.Draw(dc, &src, nullptr);
  image.Draw(dc, nullptr, &dst);
  CheckPixels(surface);
  return 0;
}
