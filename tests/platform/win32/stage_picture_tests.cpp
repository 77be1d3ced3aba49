// The window's picture both ways to the screen send from: the stage scaled to the nearest
// pixel into its rectangle, black around it, and only what changed sent again.
#include "platform/win32/window/stage_picture.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace pyokoran {
namespace {

// A stage whose every pixel tells where it is.
Surface Numbered(int32_t w, int32_t h) {
  Surface s(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) s.row(y)[x] = uint32_t(y * 1000 + x + 1);
  }
  return s;
}

// The picture as the stage scaled by hand: the stage pixel under each window pixel's centre.
void ExpectScaled(const StagePicture& picture, const Surface& stage, const Rect& r) {
  const int32_t w = r.right - r.left, h = r.bottom - r.top;
  for (int32_t y = 0; y < picture.height(); ++y) {
    for (int32_t x = 0; x < picture.width(); ++x) {
      uint32_t expect = 0;
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
        const int32_t sx = int32_t((2 * int64_t(x - r.left) + 1) * stage.width / (2 * int64_t(w)));
        const int32_t sy = int32_t((2 * int64_t(y - r.top) + 1) * stage.height / (2 * int64_t(h)));
        expect = stage.at(sx, sy);
      }
      ASSERT_EQ(picture.row(y)[x], expect) << "at " << x << "," << y;
    }
  }
}

struct LayoutCase {
  const char* name;
  int32_t window_w, window_h;
  Rect stage_rect;
  friend std::ostream& operator<<(std::ostream& out, const LayoutCase& c) { return out << c.name; }
};

class StagePictureLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(StagePictureLayoutTest, FirstFrameIsTheWholeStageBetweenBlackBars) {
  const LayoutCase& c = GetParam();
  const Surface stage = Numbered(64, 48);
  StagePicture picture;
  picture.SetLayout(c.window_w, c.window_h, c.stage_rect);
  const std::vector<Rect> sent = picture.Take(stage, nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Rect{0, 0, c.window_w, c.window_h}));
  ExpectScaled(picture, stage, c.stage_rect);
}

// Stage 64 x 48 (4:3).
INSTANTIATE_TEST_SUITE_P(
    Cases, StagePictureLayoutTest,
    ::testing::Values(LayoutCase{"SameSize", 64, 48, {0, 0, 64, 48}},
                      LayoutCase{"WideScreenBars", 160, 90, {20, 0, 140, 90}},
                      LayoutCase{"TallScreenBars", 90, 120, {0, 26, 90, 94}},
                      LayoutCase{"ShrunkOddly", 37, 29, {0, 1, 37, 28}},
                      LayoutCase{"ReachingOutside", 50, 40, {-10, -5, 70, 55}}));

TEST(StagePictureTest, NamedChangesSendOnlyTheirDifferingBox) {
  Surface stage = Numbered(64, 48);
  StagePicture picture;
  picture.SetLayout(128, 96, {0, 0, 128, 96});
  picture.Take(stage, nullptr);
  stage.row(10)[20] = 0xFF0000;
  stage.row(12)[22] = 0x00FF00;
  const std::vector<Rect> named = {{16, 8, 32, 16}, {40, 40, 48, 48}};  // the second unchanged
  const std::vector<Rect> sent = picture.Take(stage, &named);
  ASSERT_EQ(picture.changed_stage().size(), 1u);
  EXPECT_EQ(picture.changed_stage()[0], (Rect{20, 10, 23, 13}));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Rect{40, 20, 46, 26}));
  ExpectScaled(picture, stage, {0, 0, 128, 96});
}

TEST(StagePictureTest, UnnamedChangesAreFoundInTiles) {
  Surface stage = Numbered(200, 150);
  StagePicture picture;
  picture.SetLayout(200, 150, {0, 0, 200, 150});
  picture.Take(stage, nullptr);
  EXPECT_TRUE(picture.Take(stage, nullptr).empty());  // nothing changed, nothing sent
  stage.row(70)[70] = 1;    // tile (1, 1)
  stage.row(70)[130] = 1;   // tile (2, 1), its neighbour: one run
  stage.row(140)[199] = 1;  // the last, narrower tile of the last row
  const std::vector<Rect> sent = picture.Take(stage, nullptr);
  EXPECT_EQ(picture.changed_stage(),
            (std::vector<Rect>{{64, 64, 192, 128}, {192, 128, 200, 150}}));
  EXPECT_EQ(sent.size(), 2u);
  ExpectScaled(picture, stage, {0, 0, 200, 150});
}

TEST(StagePictureTest, ANewLayoutOrALostPictureSendsEverything) {
  const Surface stage = Numbered(64, 48);
  StagePicture picture;
  picture.SetLayout(64, 48, {0, 0, 64, 48});
  picture.Take(stage, nullptr);
  picture.Invalidate();
  EXPECT_EQ(picture.Take(stage, nullptr), (std::vector<Rect>{{0, 0, 64, 48}}));
  picture.SetLayout(80, 60, {8, 6, 72, 54});
  EXPECT_EQ(picture.Take(stage, nullptr), (std::vector<Rect>{{0, 0, 80, 60}}));
  ExpectScaled(picture, stage, {8, 6, 72, 54});
}

TEST(StagePictureTest, MalformedStagesAndEmptyWindowsSendNothing) {
  Surface broken(10, 10);
  broken.pixels.resize(5);
  StagePicture picture;
  picture.SetLayout(64, 48, {0, 0, 64, 48});
  EXPECT_TRUE(picture.Take(broken, nullptr).empty());
  StagePicture empty;
  empty.SetLayout(0, 0, {0, 0, 0, 0});
  EXPECT_TRUE(empty.Take(Numbered(8, 6), nullptr).empty());
  // Named areas outside the stage are ignored.
  picture.Take(Numbered(64, 48), nullptr);
  const std::vector<Rect> outside = {{-20, -20, -1, -1}, {100, 100, 200, 200}, {5, 5, 5, 9}};
  EXPECT_TRUE(picture.Take(Numbered(64, 48), &outside).empty());
}

}  // namespace
}  // namespace pyokoran
