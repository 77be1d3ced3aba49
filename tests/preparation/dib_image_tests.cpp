#include "preparation/dib_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "bmp_fixture.h"

namespace pyokoran {
namespace {

using test::BmpLayout;
using test::MakeBmp;

// The 5 x 3 test picture: eight saturated colours laid out so that a mirrored, flipped or
// shifted decode shows.
constexpr uint32_t kColours[8] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                  0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
int Index8(int32_t x, int32_t y) { return (x + 5 * y) % 8; }
// Two colours for 1-bit pictures.
constexpr uint32_t kTwo[2] = {0x123456, 0xFEDCBA};
int Index2(int32_t x, int32_t y) {
  static const int rows[3][5] = {{1, 0, 0, 0, 0}, {0, 1, 1, 0, 0}, {0, 0, 0, 1, 1}};
  return rows[y][x];
}

// The raw word of a saturated colour under three channel masks.
uint32_t Pack(uint32_t colour, uint32_t r, uint32_t g, uint32_t b) {
  return (colour & 0xFF0000 ? r : 0) | (colour & 0x00FF00 ? g : 0) | (colour & 0x0000FF ? b : 0);
}

struct FormatCase {
  const char* name;
  std::function<BmpLayout()> layout;
};
std::ostream& operator<<(std::ostream& os, const FormatCase& c) { return os << c.name; }

BmpLayout Base(int bits, int32_t height = 3) {
  BmpLayout s;
  s.width = 5;
  s.height = height;
  s.bits = bits;
  return s;
}
BmpLayout Indexed(int bits, size_t table, uint32_t used, int32_t height = 3) {
  BmpLayout s = Base(bits, height);
  s.palette.assign(std::begin(kColours), std::end(kColours));
  s.palette.resize(table, 0x0A0B0C);
  s.colours_used = used;
  s.pixel = [](int32_t x, int32_t y) { return uint32_t(Index8(x, y)); };
  return s;
}
BmpLayout Direct(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t extra = 0,
               int32_t height = 3) {
  BmpLayout s = Base(bits, height);
  s.pixel = [=](int32_t x, int32_t y) { return Pack(kColours[Index8(x, y)], r, g, b) | extra; };
  return s;
}
BmpLayout WithMasks(BmpLayout s, uint32_t r, uint32_t g, uint32_t b, uint32_t header = 40) {
  s.compression = 3;
  s.masks[0] = r, s.masks[1] = g, s.masks[2] = b;
  s.header_size = header;
  return s;
}
BmpLayout WithHeader(BmpLayout s, uint32_t header, uint32_t gap) {
  s.header_size = header;
  s.gap = gap;
  return s;
}

class DibFormatTest : public ::testing::TestWithParam<FormatCase> {
 protected:
  test::TempDir dir;
};

TEST_P(DibFormatTest, DrawsEveryPixelInPlace) {
  BmpLayout layout = GetParam().layout();
  std::string path = dir.File("picture.bmp");
  ASSERT_TRUE(test::WriteFile(path, MakeBmp(layout)));
  DibImage image;
  ASSERT_EQ(image.Load(path), 1);
  EXPECT_EQ(image.width(), 5);
  EXPECT_EQ(image.height(), layout.height);
  Surface surface(5, 3);
  SurfaceDC dc{&surface};
  EXPECT_EQ(image.Draw(dc, nullptr, nullptr), 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 5; ++x) {
      uint32_t expected = layout.bits == 1 ? kTwo[Index2(x, y)] : kColours[Index8(x, y)];
      EXPECT_EQ(surface.at(x, y), expected) << "pixel " << x << ", " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DibFormatTest,
    ::testing::Values(
        FormatCase{"bits1",
                   [] {
                     BmpLayout s = Base(1);
                     s.palette = {kTwo[0], kTwo[1]};
                     s.pixel = [](int32_t x, int32_t y) { return uint32_t(Index2(x, y)); };
                     return s;
                   }},
        FormatCase{"bits4", [] { return Indexed(4, 16, 0); }},
        FormatCase{"bits4_used8", [] { return Indexed(4, 8, 8); }},
        FormatCase{"bits8", [] { return Indexed(8, 256, 0); }},
        FormatCase{"bits8_used8_top_down", [] { return Indexed(8, 8, 8, -3); }},
        FormatCase{"bits8_v5_header", [] { return WithHeader(Indexed(8, 8, 8), 124, 4); }},
        FormatCase{"bits16_555", [] { return Direct(16, 0x7C00, 0x03E0, 0x001F); }},
        FormatCase{"bits16_565_bitfields",
                   [] { return WithMasks(Direct(16, 0xF800, 0x07E0, 0x001F), 0xF800, 0x07E0,
                                         0x001F); }},
        FormatCase{"bits16_bitfields_v5_top_down",
                   [] {
                     BmpLayout s = WithMasks(Direct(16, 0xF800, 0x07E0, 0x001F, 0, -3), 0xF800,
                                           0x07E0, 0x001F, 124);
                     s.gap = 6;
                     return s;
                   }},
        FormatCase{"bits24", [] { return Direct(24, 0xFF0000, 0x00FF00, 0x0000FF); }},
        FormatCase{"bits24_top_down",
                   [] { return Direct(24, 0xFF0000, 0x00FF00, 0x0000FF, 0, -3); }},
        FormatCase{"bits24_v4_header",
                   [] { return WithHeader(Direct(24, 0xFF0000, 0x00FF00, 0x0000FF), 108, 0); }},
        FormatCase{"bits24_v5_header_gap",
                   [] { return WithHeader(Direct(24, 0xFF0000, 0x00FF00, 0x0000FF), 124, 10); }},
        FormatCase{"bits32_alpha_ignored",
                   [] { return Direct(32, 0xFF0000, 0x00FF00, 0x0000FF, 0x7F000000); }},
        FormatCase{"bits32_bitfields_bgr",
                   [] { return WithMasks(Direct(32, 0x0000FF, 0x00FF00, 0xFF0000), 0x0000FF,
                                         0x00FF00, 0xFF0000); }},
        FormatCase{"bits32_bitfields_v5_top_down",
                   [] { return WithMasks(Direct(32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000, -3),
                                         0xFF0000, 0x00FF00, 0x0000FF, 124); }}),
    [](const auto& info) { return std::string(info.param.name); });

class DibImageTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "p.bmp") {
    std::string path = dir.File(name);
    EXPECT_TRUE(test::WriteFile(path, bytes));
    return path;
  }
  test::TempDir dir;
};

TEST_F(DibImageTest, ColourTableAndRowsWhereTheHeadersPutThem) {
  struct Case {
    const char* name;
    BmpLayout layout;
    int32_t colour_count;
    int64_t bits_offset;
  } cases[] = {
      {"24-bit, 54-byte headers", Direct(24, 0xFF0000, 0xFF00, 0xFF), 0, 40},
      {"8-bit, colours used 0", Indexed(8, 256, 0), 256, 40 + 1024},
      {"8-bit, colours used 16", Indexed(8, 16, 16), 16, 40 + 64},
      {"4-bit, colours used 0", Indexed(4, 16, 0), 16, 40 + 64},
      {"1-bit, colours used 0", Indexed(1, 2, 0), 2, 40 + 8},
      {"24-bit, colours used 5", [] {
         BmpLayout s = Direct(24, 0xFF0000, 0xFF00, 0xFF);
         s.colours_used = 5;
         return s;
       }(), 0, 40},
      {"32-bit bitfields after a 40-byte header",
       WithMasks(Direct(32, 0xFF0000, 0xFF00, 0xFF), 0xFF0000, 0xFF00, 0xFF), 0, 52},
      {"V5 header, offset with a gap", WithHeader(Indexed(8, 8, 8), 124, 4), 8, 124 + 32 + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DibImage image;
    ASSERT_EQ(image.Load(Write(MakeBmp(c.layout))), 1);
    EXPECT_EQ(image.colour_count(), c.colour_count);
    EXPECT_EQ(image.bits_offset(), c.bits_offset);
    EXPECT_EQ(image.palette_offset(), c.layout.bits <= 8 ? int64_t(c.layout.header_size) : -1);
    EXPECT_EQ(image.block().size(), MakeBmp(c.layout).size() - 14);
  }
}

TEST_F(DibImageTest, ChannelsOfOtherWidthsAreWidenedOrNarrowed) {
  BmpLayout s565 = WithMasks(Base(16), 0xF800, 0x07E0, 0x001F);
  s565.width = 1, s565.height = 1;
  s565.pixel = [](int32_t, int32_t) { return uint32_t(16 << 11 | 32 << 5 | 16); };
  BmpLayout s1010 = WithMasks(Base(32), 0x3FF00000, 0x000FFC00, 0x000003FF);
  s1010.width = 1, s1010.height = 1;
  s1010.pixel = [](int32_t, int32_t) { return uint32_t(0x3FF << 20 | 0x200 << 10 | 0x001); };
  BmpLayout index_past_table = Indexed(8, 2, 2);
  index_past_table.pixel = [](int32_t, int32_t) { return 5u; };
  struct {
    BmpLayout layout;
    uint32_t pixel;
  } cases[] = {{s565, 0x848284}, {s1010, 0xFF8000}, {index_past_table, 0x000000}};
  for (auto& c : cases) {
    DibImage image;
    ASSERT_EQ(image.Load(Write(MakeBmp(c.layout))), 1);
    Surface surface(1, 1);
    surface.pixels[0] = 0xABCDEF;
    SurfaceDC dc{&surface};
    image.Draw(dc, nullptr, nullptr);
    EXPECT_EQ(surface.at(0, 0), c.pixel) << std::hex << c.pixel;
  }
}

// Every case starts from a valid 24-bit 4 x 2 file (62 bytes: 54 of headers, 2 rows of 12)
// and breaks one thing.
TEST_F(DibImageTest, FilesThatCannotBeDrawnFailCleanly) {
  const std::vector<uint8_t> good = MakeBmp(Direct(24, 0xFF0000, 0xFF00, 0xFF, 0, 2));
  auto with = [&](std::function<void(std::vector<uint8_t>&)> change) {
    std::vector<uint8_t> b = good;
    change(b);
    return b;
  };
  auto put32 = [](size_t at, uint32_t v) {
    return [=](std::vector<uint8_t>& b) { test::Put32(b, at, v); };
  };
  auto put16 = [](size_t at, uint32_t v) {
    return [=](std::vector<uint8_t>& b) { test::Put16(b, at, v); };
  };
  BmpLayout bad_mask = WithMasks(Direct(16, 0xF800, 0x07E0, 0x001F), 0xF00F, 0x07E0, 0x001F);
  BmpLayout lying_table = Indexed(8, 16, 16);
  lying_table.colours_used = 60000;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty file", {}},
      {"shorter than the file header", {'B', 'M', 0, 0, 0}},
      {"file header only", std::vector<uint8_t>(good.begin(), good.begin() + 14)},
      {"information header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 40)},
      {"last pixel row cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"wrong magic", with([](auto& b) { b[1] = 'A'; })},
      {"core header of 12 bytes", with(put32(14, 12))},
      {"header longer than the file", with(put32(14, 4000))},
      {"width 0", with(put32(18, 0))},
      {"negative width", with(put32(18, uint32_t(-4)))},
      {"absurd width", with(put32(18, 100000))},
      {"height 0", with(put32(22, 0))},
      {"height lies", with(put32(22, 1000))},
      {"most negative height", with(put32(22, 0x80000000u))},
      {"width and height overflow a row", with([](auto& b) {
         test::Put32(b, 18, 32768);
         test::Put32(b, 22, 32768);
       })},
      {"2 bits per pixel", with(put16(28, 2))},
      {"0 bits per pixel", with(put16(28, 0))},
      {"RLE8", MakeBmp([] {
         BmpLayout s = Indexed(8, 256, 0);
         s.compression = 1;
         return s;
       }())},
      {"24 bits with bitfields", with(put32(30, 3))},
      {"embedded PNG", with(put32(30, 5))},
      {"colour table past the end", MakeBmp(lying_table)},
      {"non-contiguous mask", MakeBmp(bad_mask)},
      {"V5 offset past the end", [&] {
         std::vector<uint8_t> b = MakeBmp(WithHeader(Direct(24, 0xFF0000, 0xFF00, 0xFF), 124, 0));
         test::Put32(b, 10, uint32_t(b.size() + 10));
         return b;
       }()},
      {"V5 offset inside the header", [&] {
         std::vector<uint8_t> b = MakeBmp(WithHeader(Direct(24, 0xFF0000, 0xFF00, 0xFF), 124, 0));
         test::Put32(b, 10, 14 + 60);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DibImage image;
    EXPECT_EQ(image.Load(Write(c.bytes)), 0);
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(image.width(), 0);
    Surface surface(4, 4);
    SurfaceDC dc{&surface};
    EXPECT_EQ(image.Draw(dc, nullptr, nullptr), 0);
  }
  DibImage image;
  EXPECT_EQ(image.Load(dir.File("missing.bmp")), 0);
  EXPECT_EQ(image.Load(dir.path().string()), 0) << "a directory";
}

TEST_F(DibImageTest, AFailedLoadLeavesTheImageEmpty) {
  DibImage image;
  ASSERT_EQ(image.Load(Write(MakeBmp(Indexed(8, 256, 0)))), 1);
  EXPECT_FALSE(image.empty());
  EXPECT_EQ(image.Load(dir.File("missing.bmp")), 0);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(image.bit_count(), 0);
  EXPECT_EQ(image.colour_count(), 0);
  ASSERT_EQ(image.Load(Write(MakeBmp(Indexed(4, 16, 0)))), 1);
  image.Release();
  EXPECT_TRUE(image.empty());
}

TEST_F(DibImageTest, ScalesToTheDestinationAndClipsToTheSurface) {
  // 64 x 64 picture whose pixel encodes its own position.
  auto position = [](int32_t x, int32_t y) { return uint32_t(y << 16 | x << 8); };
  DibImage image;
  ASSERT_EQ(image.Load(Write(test::MakeBmp24(64, 64, position))), 1);
  Surface surface(128, 128);
  SurfaceDC dc{&surface};

  Rect whole{0, 0, 64, 64}, cell{0, 0, 128, 128};
  EXPECT_EQ(image.Draw(dc, &whole, &cell), 64);
  for (int y : {0, 1, 2, 127})
    for (int x : {0, 1, 2, 127}) EXPECT_EQ(surface.at(x, y), position(x / 2, y / 2)) << x << "," << y;

  // Rows 10 .. 19 of the picture, unscaled.
  Rect band{0, 10, 64, 20}, top{0, 0, 64, 10};
  EXPECT_EQ(image.Draw(dc, &band, &top), 10);
  EXPECT_EQ(surface.at(3, 0), position(3, 10));
  EXPECT_EQ(surface.at(63, 9), position(63, 19));
  EXPECT_EQ(surface.at(64, 0), position(32, 0)) << "outside the destination: unchanged";

  // A destination partly off the surface draws the part on it.
  Rect off{-10, -10, 54, 54};
  EXPECT_EQ(image.Draw(dc, &whole, &off), 64);
  EXPECT_EQ(surface.at(0, 0), position(10, 10));
  EXPECT_EQ(surface.at(43, 43), position(53, 53));
  // Empty or inverted rectangles draw nothing.
  Rect empty{5, 5, 5, 9}, inverted{9, 9, 5, 5};
  EXPECT_EQ(image.Draw(dc, &empty, &cell), 0);
  EXPECT_EQ(image.Draw(dc, &whole, &inverted), 0);
  SurfaceDC none;
  EXPECT_EQ(image.Draw(none, &whole, &cell), 0);
}

}  // namespace
}  // namespace pyokoran
