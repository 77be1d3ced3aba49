#include "display/surfaces.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <ostream>

namespace pyokoran {
namespace {

// A display with its stage and a few 128 x 128 surfaces, as a run would have.
class SurfacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display.stage.surface = Surface(kStageWidth, kStageHeight);
    display.stage.width = kStageWidth;
    display.stage.height = kStageHeight;
    display.stage.created = true;
    a = CreateSurface(display, 128, 128);
    b = CreateSurface(display, 128, 128);
  }
  const Surface& Pixels(int32_t index) {
    return index == SURFACE_STAGE ? display.stage.surface
                                  : display.surfaces.slots[size_t(index)].surface;
  }
  // First and last column of colour c on row y, or {-1, -1}; fails if the run has holes.
  std::pair<int, int> SpanOf(int32_t index, int y, uint32_t pixel) {
    const Surface& s = Pixels(index);
    int first = -1, last = -1;
    for (int x = 0; x < s.width; ++x) {
      if (s.at(x, y) != pixel) continue;
      if (first < 0) first = x;
      EXPECT_TRUE(last < 0 || last == x - 1) << "gap in row " << y << " at " << x;
      last = x;
    }
    return {first, last};
  }
  FullScreenDisplay display;
  int32_t a = -1, b = -1;
};

TEST_F(SurfacesTest, IndicesGrowFromZeroAndFailedCreationsTakeNoSlot) {
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-5, 10}, {100000, 100000},
                      {INT_MAX, 1}, {kMaxSurfaceSide, kMaxSurfaceSide}}) {
    EXPECT_EQ(CreateSurface(display, w, h), -1) << w << " x " << h;
  }
  EXPECT_EQ(CreateSurface(display, 420, 32), 2);
  ReleaseAllSurfaces(display);
  EXPECT_EQ(display.surfaces.count(), 0);
  EXPECT_EQ(CreateSurface(display, 1, 1), 0);
}

TEST_F(SurfacesTest, UnknownIndicesAndThePrimaryAreRefused) {
  for (int32_t index : {SURFACE_PRIMARY, -3, 2, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(index);
    SurfaceDC dc;
    EXPECT_EQ(FillSurface(display, index, 0xFFFFFF), 0);
    EXPECT_EQ(LockSurface(display, index), 0);
    EXPECT_EQ(UnlockSurface(display, index), 0);
    EXPECT_EQ(GetSurfaceDC(display, index, dc), 0);
    EXPECT_EQ(BltAt(display, index, 0, 0, a, NO_KEY), 0);
    EXPECT_EQ(BltAt(display, SURFACE_STAGE, 0, 0, index, NO_KEY), 0);
    DrawHLine(display, index, 0, 0, 10, 0xFF);
    FillEllipse(display, index, 64, 100, 64, 24, 0xFF);
  }
  EXPECT_EQ(FillSurface(display, SURFACE_STAGE, 0xFF), 1);
  EXPECT_EQ(Pixels(SURFACE_STAGE).at(1023, 767), 0xFF0000u);
}

TEST_F(SurfacesTest, ColourRefsBecomeRgbPixels) {
  EXPECT_EQ(FillSurface(display, a, 0x00C800), 1);
  EXPECT_EQ(Pixels(a).at(5, 5), 0x0000C800u);
  EXPECT_EQ(FillSurface(display, a, 0xFF123456), 1);  // the top byte is dropped
  EXPECT_EQ(Pixels(a).at(0, 0), 0x00563412u);
  DrawHLine(display, a, 0, 0, 1, 0x000000FF);  // red
  uint8_t bytes[4];
  std::memcpy(bytes, &Pixels(a).pixels[0], 4);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(bytes[3], 0x00);
}

struct HLineCase {
  const char* name;
  int32_t x, y, length;
  int first, last;  // columns drawn on row y, -1 for none
};
std::ostream& operator<<(std::ostream& os, const HLineCase& c) { return os << c.name; }

class DrawHLineTest : public SurfacesTest, public ::testing::WithParamInterface<HLineCase> {};

TEST_P(DrawHLineTest, ClipsToTheSurfaceAndLeavesItUnlocked) {
  const HLineCase& c = GetParam();
  DrawHLine(display, a, c.x, c.y, c.length, 0xFFFFFF);
  int row = c.y >= 0 && c.y < 128 ? c.y : 0;
  EXPECT_EQ(SpanOf(a, row, 0xFFFFFF), std::make_pair(c.first, c.last));
  for (int y = 0; y < 128; ++y) {
    if (y != row) {
      EXPECT_EQ(SpanOf(a, y, 0xFFFFFF).first, -1) << "row " << y;
    }
  }
  EXPECT_EQ(display.surfaces.slots[size_t(a)].locked, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Spans, DrawHLineTest,
    ::testing::Values(HLineCase{"inside", 5, 3, 10, 5, 14},
                      HLineCase{"left_edge", -10, 7, 20, 0, 9},
                      HLineCase{"right_edge", 120, 7, 20, 120, 127},
                      HLineCase{"both_edges", -1, 0, 130, 0, 127},
                      HLineCase{"below", 0, 128, 20, -1, -1},
                      HLineCase{"above", 0, -1, 20, -1, -1},
                      HLineCase{"empty", 5, 5, 0, -1, -1},
                      HLineCase{"negative", 5, 5, -4, -1, -1},
                      HLineCase{"past_right", 128, 5, 4, -1, -1},
                      HLineCase{"huge", INT_MIN, 5, INT_MAX, -1, -1},
                      HLineCase{"huge_length", 100, 9, INT_MAX, 100, 127}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfacesTest, FillBoxTurnsTheLipRowsGreen) {
  FillSurface(display, a, 0x808080);
  FillBox(display, a, 0, 0, 128, 100, KEY_GREEN);
  for (int y = 0; y <= 100; ++y) EXPECT_EQ(SpanOf(a, y, KEY_GREEN), std::make_pair(0, 127));
  EXPECT_EQ(SpanOf(a, 101, KEY_GREEN).first, -1);
  // Rows far outside the surface are not walked one by one.
  FillBox(display, b, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0xFFFFFF);
  EXPECT_EQ(SpanOf(b, 127, 0xFFFFFF), std::make_pair(0, 127));
}

TEST_F(SurfacesTest, HoleEllipseCoversRows76To124) {
  FillEllipse(display, a, 64, 100, 64, 24, 0xFFFFFF);
  for (int y = 0; y < 128; ++y) {
    SCOPED_TRACE(y);
    auto [first, last] = SpanOf(a, y, 0xFFFFFF);
    if (y < 76 || y > 124) {
      EXPECT_EQ(first, -1);
      continue;
    }
    ASSERT_GE(first, 0);
    if (y >= 96 && y <= 104) {
      EXPECT_EQ(std::make_pair(first, last), std::make_pair(0, 127));
    } else {
      EXPECT_EQ(first + last, 128) << "centred on column 64";
    }
    // Spans widen toward the centre line and narrow again below it.
    int above = SpanOf(a, y - 1, 0xFFFFFF).first;
    if (y > 76 && y <= 100) {
      EXPECT_LE(first, above);
    } else if (y > 100) {
      EXPECT_GE(first, above);
    }
  }
  EXPECT_EQ(SpanOf(a, 76, 0xFFFFFF), std::make_pair(46, 82));
  EXPECT_EQ(SpanOf(a, 124, 0xFFFFFF), std::make_pair(46, 82));
}

TEST_F(SurfacesTest, TallEllipseAndCircleKeepTheirBounds) {
  // The octant walk keeps the top row while the circle is flat there: half-widths up to 3.
  FillEllipse(display, a, 50, 50, 10, 20, 0xFFFFFF);
  EXPECT_EQ(SpanOf(a, 29, 0xFFFFFF).first, -1);
  EXPECT_EQ(SpanOf(a, 30, 0xFFFFFF), std::make_pair(47, 53));
  EXPECT_EQ(SpanOf(a, 50, 0xFFFFFF), std::make_pair(40, 60));
  EXPECT_EQ(SpanOf(a, 70, 0xFFFFFF), std::make_pair(47, 53));
  EXPECT_EQ(SpanOf(a, 71, 0xFFFFFF).first, -1);

  FillEllipse(display, b, 64, 64, 10, 10, 0xFFFFFF);
  EXPECT_EQ(SpanOf(b, 54, 0xFFFFFF), std::make_pair(61, 67));
  EXPECT_EQ(SpanOf(b, 64, 0xFFFFFF), std::make_pair(54, 74));
  EXPECT_EQ(SpanOf(b, 53, 0xFFFFFF).first, -1);
  // Out-of-range semi-axes draw nothing (and do not spin).
  FillEllipse(display, b, 0, 0, -1, 5, 0xFF);
  FillEllipse(display, b, 0, 0, INT_MAX, INT_MAX, 0xFF);
  EXPECT_EQ(Pixels(b).at(0, 0), 0u);
}

TEST_F(SurfacesTest, LockStateIsKeptByTheShapes) {
  EXPECT_EQ(LockSurface(display, a), 1);
  EXPECT_EQ(LockSurface(display, a), 0);
  EXPECT_EQ(display.surfaces.slots[size_t(a)].pixels, Pixels(a).pixels.data());
  FillEllipse(display, a, 64, 100, 64, 24, 0xFFFFFF);
  EXPECT_EQ(display.surfaces.slots[size_t(a)].locked, 1);
  EXPECT_EQ(Pixels(a).at(64, 100), 0xFFFFFFu);
  // A locked surface cannot be copied or filled.
  EXPECT_EQ(BltAt(display, b, 0, 0, a, NO_KEY), 0);
  EXPECT_EQ(FillSurface(display, a, 0), 0);
  EXPECT_EQ(UnlockSurface(display, a), 1);
  EXPECT_EQ(UnlockSurface(display, a), 0);
  EXPECT_EQ(display.surfaces.slots[size_t(a)].pixels, nullptr);
}

TEST_F(SurfacesTest, SurfaceWithAContextOutIsBusyUntilItReturns) {
  SurfaceDC dc, other;
  ASSERT_EQ(GetSurfaceDC(display, a, dc), 1);
  EXPECT_EQ(dc.surface, &display.surfaces.slots[size_t(a)].surface);
  EXPECT_EQ(GetSurfaceDC(display, a, other), 0);
  EXPECT_EQ(LockSurface(display, a), 0);
  EXPECT_EQ(BltAt(display, a, 0, 0, b, NO_KEY), 0);
  EXPECT_EQ(ReleaseSurfaceDC(display, b, dc), 0);
  EXPECT_NE(dc.surface, nullptr);
  EXPECT_EQ(ReleaseSurfaceDC(display, a, dc), 1);
  EXPECT_EQ(dc.surface, nullptr);
  EXPECT_EQ(BltAt(display, a, 0, 0, b, NO_KEY), 1);
}

TEST_F(SurfacesTest, KeyedCopyLeavesPixelsUnderGreen) {
  FillSurface(display, SURFACE_STAGE, 0x0000FF);  // red
  FillSurface(display, a, 0xFF0000);              // blue
  FillBox(display, a, 0, 0, 127, 63, KEY_GREEN);  // top half transparent
  EXPECT_EQ(BltAt(display, SURFACE_STAGE, 100, 200, a, KEY_GREEN), 1);
  const Surface& stage = Pixels(SURFACE_STAGE);
  EXPECT_EQ(stage.at(100, 200), 0xFF0000u);  // under green: unchanged
  EXPECT_EQ(stage.at(227, 263), 0xFF0000u);
  EXPECT_EQ(stage.at(100, 264), 0x0000FFu);  // blue copied
  EXPECT_EQ(stage.at(227, 327), 0x0000FFu);
  EXPECT_EQ(stage.at(228, 327), 0xFF0000u);  // outside the copy
  EXPECT_EQ(BltAt(display, SURFACE_STAGE, 100, 200, a, NO_KEY), 1);
  EXPECT_EQ(stage.at(100, 200), KEY_GREEN);
}

TEST_F(SurfacesTest, CopiesThatLeaveTheDestinationAreRefusedWhole) {
  FillSurface(display, a, 0xFFFFFF);
  for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {INT_MAX, 0}, {0, INT_MAX}}) {
    EXPECT_EQ(BltAt(display, b, x, y, a, NO_KEY), 0) << x << ", " << y;
  }
  EXPECT_EQ(SpanOf(b, 0, 0xFFFFFF).first, -1);
  EXPECT_EQ(SpanOf(b, 127, 0xFFFFFF).first, -1);
  Rect outside{0, 0, 129, 10}, inverted{10, 10, 5, 20}, inside{0, 0, 10, 10};
  EXPECT_EQ(BltStretch(display, b, &outside, a, &inside, NO_KEY), 0);
  EXPECT_EQ(BltStretch(display, b, &inside, a, &outside, NO_KEY), 0);
  EXPECT_EQ(BltStretch(display, b, &inverted, a, &inside, NO_KEY), 0);
  EXPECT_EQ(BltStretch(display, b, &inside, a, &inverted, NO_KEY), 0);
  EXPECT_EQ(SpanOf(b, 5, 0xFFFFFF).first, -1);
  EXPECT_EQ(BltStretch(display, b, nullptr, a, nullptr, NO_KEY), 1);
  EXPECT_EQ(SpanOf(b, 127, 0xFFFFFF), std::make_pair(0, 127));
}

TEST_F(SurfacesTest, StretchDoublesEachPixelAndPicksRowsUnscaled) {
  // Source: pixel value = 0x00YYXX00 for its own position.
  Surface& src = display.surfaces.slots[size_t(a)].surface;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) src.row(y)[x] = uint32_t(y << 16 | x << 8);
  Rect s{10, 20, 74, 84}, d{0, 0, 128, 128};
  ASSERT_EQ(BltStretch(display, b, &d, a, &s, NO_KEY), 1);
  for (int y : {0, 1, 2, 127})
    for (int x : {0, 1, 2, 127})
      EXPECT_EQ(Pixels(b).at(x, y), uint32_t((20 + y / 2) << 16 | (10 + x / 2) << 8))
          << x << ", " << y;
  // The creature copy of a rising hole: rows 0 .. 3 of the source at rows 124 .. 127.
  Rect top4{0, 0, 128, 4}, bottom4{0, 124, 128, 128};
  ASSERT_EQ(BltStretch(display, b, &bottom4, a, &top4, NO_KEY), 1);
  EXPECT_EQ(Pixels(b).at(7, 124), uint32_t(0 << 16 | 7 << 8));
  EXPECT_EQ(Pixels(b).at(7, 127), uint32_t(3 << 16 | 7 << 8));
  // A surface copied onto itself, overlapping, reads the source as it was.
  Rect from{0, 0, 100, 1}, to{1, 0, 101, 1};
  ASSERT_EQ(BltStretch(display, a, &to, a, &from, NO_KEY), 1);
  EXPECT_EQ(Pixels(a).at(1, 0), 0u);
  EXPECT_EQ(Pixels(a).at(100, 0), uint32_t(99 << 8));
}

// Keyed copies from a picture whose opaque runs were noted must equal a pixel-by-pixel
// keyed copy, and so must those from one without them, wherever the copy is cut.
enum class Picture { Mixed, AllKey, AllOpaque, OneColumn };

struct KeyedCopyCase {
  const char* name;
  Picture picture;
  int32_t width, height;
  Rect source;          // of the picture
  int32_t x, y;         // where its top-left corner lands on the stage
  friend std::ostream& operator<<(std::ostream& os, const KeyedCopyCase& c) { return os << c.name; }
};

class KeyedCopyTest : public SurfacesTest, public ::testing::WithParamInterface<KeyedCopyCase> {
 protected:
  // Rows 3 mod 8 all key, rows 5 mod 8 all opaque, the others a mix that has runs touching
  // both edges, runs of one pixel and runs of the key of one pixel.
  static bool IsKey(Picture picture, int32_t x, int32_t y, int32_t width) {
    switch (picture) {
      case Picture::AllKey: return true;
      case Picture::AllOpaque: return false;
      case Picture::OneColumn: return y % 3 == 1;
      case Picture::Mixed: break;
    }
    if (y % 8 == 3) return true;
    if (y % 8 == 5) return false;
    if (x == 0 || x == width - 1) return y % 2 == 0;
    return (x * 7 + y * 3) % 5 == 0 || (x / 9 + y) % 4 == 1;
  }
  void Draw(int32_t picture) {
    const KeyedCopyCase& c = GetParam();
    Surface& src = display.surfaces.slots[size_t(picture)].surface;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        src.row(y)[x] = IsKey(c.picture, x, y, c.width) ? KEY_GREEN : uint32_t(y << 12 | x) + 1;
  }
  void FillStage() {
    Surface& stage = display.stage.surface;
    for (size_t i = 0; i < stage.pixels.size(); ++i) {
      stage.pixels[i] = 0xF00000u | uint32_t(i % 4093);
    }
  }
  // The stage after a keyed copy done pixel by pixel.
  std::vector<uint32_t> Expected(int32_t picture) {
    const KeyedCopyCase& c = GetParam();
    FillStage();
    Surface& stage = display.stage.surface;
    const Surface& src = Pixels(picture);
    for (int32_t y = c.source.top; y < c.source.bottom; ++y) {
      for (int32_t x = c.source.left; x < c.source.right; ++x) {
        if (src.at(x, y) == KEY_GREEN) continue;
        stage.row(c.y + y - c.source.top)[c.x + x - c.source.left] = src.at(x, y);
      }
    }
    return stage.pixels;
  }
  int Copy(int32_t picture) {
    const KeyedCopyCase& c = GetParam();
    FillStage();
    Rect d{c.x, c.y, c.x + c.source.right - c.source.left, c.y + c.source.bottom - c.source.top};
    return BltStretch(display, SURFACE_STAGE, &d, picture, &c.source, KEY_GREEN);
  }
};

TEST_P(KeyedCopyTest, NotedRunsCopyExactlyWhatThePixelTestCopies) {
  const KeyedCopyCase& c = GetParam();
  const int32_t picture = CreateSurface(display, c.width, c.height);
  ASSERT_GE(picture, 0);
  Draw(picture);
  const std::vector<uint32_t> expected = Expected(picture);

  ASSERT_EQ(Copy(picture), 1);
  EXPECT_TRUE(Pixels(SURFACE_STAGE).pixels == expected) << "without runs";
  ASSERT_EQ(NoteOpaqueRuns(display, picture, KEY_GREEN), 1);
  ASSERT_FALSE(display.surfaces.slots[size_t(picture)].opaque_runs.row_first.empty());
  ASSERT_EQ(Copy(picture), 1);
  EXPECT_TRUE(Pixels(SURFACE_STAGE).pixels == expected) << "with runs";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, KeyedCopyTest,
    ::testing::Values(
        KeyedCopyCase{"WholeMixedPicture", Picture::Mixed, 128, 128, {0, 0, 128, 128}, 300, 200},
        KeyedCopyCase{"CutInsideRuns", Picture::Mixed, 128, 128, {1, 2, 127, 125}, 10, 20},
        KeyedCopyCase{"OneColumnOfTheMiddle", Picture::Mixed, 128, 128, {64, 0, 65, 128}, 0, 0},
        KeyedCopyCase{"OneRow", Picture::Mixed, 128, 128, {0, 6, 128, 7}, 5, 5},
        KeyedCopyCase{"TopRowsAtTheStageCorner", Picture::Mixed, 128, 128, {0, 0, 128, 40},
                      kStageWidth - 128, kStageHeight - 40},
        KeyedCopyCase{"BottomRowsAtTheStageOrigin", Picture::Mixed, 128, 128, {0, 100, 128, 128},
                      0, 0},
        KeyedCopyCase{"WidePictureEdgeToEdge", Picture::Mixed, kStageWidth, 24,
                      {0, 0, kStageWidth, 24}, 0, kStageHeight - 24},
        KeyedCopyCase{"AllKey", Picture::AllKey, 128, 128, {0, 0, 128, 128}, 7, 9},
        KeyedCopyCase{"AllOpaque", Picture::AllOpaque, 128, 128, {3, 3, 120, 120}, 7, 9},
        KeyedCopyCase{"OnePixelWide", Picture::OneColumn, 1, 50, {0, 0, 1, 50}, kStageWidth - 1,
                      0},
        KeyedCopyCase{"OnePixelWideRowsCut", Picture::OneColumn, 1, 50, {0, 4, 1, 49}, 500, 700}),
    [](const ::testing::TestParamInfo<KeyedCopyCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(SurfacesTest, NotedRunsGiveWayToChangesAndOtherCopies) {
  // Right half of each row opaque blue, left half key.
  constexpr uint32_t kRed = ColorRefToPixel(0x0000FF);
  auto draw = [&] {
    FillSurface(display, a, 0xFF0000);
    FillBox(display, a, 0, 0, 63, 127, KEY_GREEN);
  };
  auto runs_noted = [&] {
    return !display.surfaces.slots[size_t(a)].opaque_runs.row_first.empty();
  };
  struct Change {
    const char* name;
    std::function<void()> apply;  // leaves column 10 of row 0 red
  } changes[] = {
      {"a box drawn", [&] { FillBox(display, a, 0, 0, 127, 0, 0x0000FF); }},
      {"a fill", [&] { FillSurface(display, a, 0x0000FF); }},
      {"a copy into it",
       [&] {
         FillSurface(display, b, 0x0000FF);
         BltAt(display, a, 0, 0, b, NO_KEY);
       }},
      {"a drawing context",
       [&] {
         SurfaceDC dc;
         ASSERT_EQ(GetSurfaceDC(display, a, dc), 1);
         dc.surface->row(0)[10] = kRed;
         ReleaseSurfaceDC(display, a, dc);
       }},
      {"a lock",
       [&] {
         ASSERT_EQ(LockSurface(display, a), 1);
         display.surfaces.slots[size_t(a)].pixels[10] = kRed;
         UnlockSurface(display, a);
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    draw();
    ASSERT_EQ(NoteOpaqueRuns(display, a, KEY_GREEN), 1);
    change.apply();
    EXPECT_FALSE(runs_noted());
    FillSurface(display, b, 0x000000);
    ASSERT_EQ(BltAt(display, b, 0, 0, a, KEY_GREEN), 1);
    EXPECT_EQ(Pixels(b).at(10, 0), kRed);
  }

  // A copy keyed on another colour, a stretched copy and a copy onto itself ignore the runs.
  draw();
  ASSERT_EQ(NoteOpaqueRuns(display, a, KEY_GREEN), 1);
  FillSurface(display, b, 0x000000);
  ASSERT_EQ(BltAt(display, b, 0, 0, a, int32_t(ColorRefToPixel(0xFF0000))), 1);
  EXPECT_EQ(Pixels(b).at(10, 0), KEY_GREEN);
  Rect half{0, 0, 64, 128}, whole{0, 0, 128, 128};
  ASSERT_EQ(BltStretch(display, b, &whole, a, &half, KEY_GREEN), 1);
  EXPECT_EQ(Pixels(b).at(10, 0), KEY_GREEN) << "the left half stretched over b: all key";
  Rect from{64, 0, 128, 128}, to{0, 0, 64, 128};
  ASSERT_EQ(BltStretch(display, a, &to, a, &from, KEY_GREEN), 1);
  EXPECT_EQ(Pixels(a).at(10, 0), ColorRefToPixel(0xFF0000));
  EXPECT_FALSE(runs_noted());
  // Nothing to note on an unknown or busy surface.
  EXPECT_EQ(NoteOpaqueRuns(display, 99, KEY_GREEN), 0);
  EXPECT_EQ(NoteOpaqueRuns(display, SURFACE_PRIMARY, KEY_GREEN), 0);
  ASSERT_EQ(LockSurface(display, a), 1);
  EXPECT_EQ(NoteOpaqueRuns(display, a, KEY_GREEN), 0);
  UnlockSurface(display, a);
}

}  // namespace
}  // namespace pyokoran
