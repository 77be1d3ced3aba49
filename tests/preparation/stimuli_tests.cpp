#include "preparation/stimuli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>

#include "app/program.h"
#include "display/surfaces.h"
#include "platform/fake/fake_platform.h"
#include "stim_fixture.h"

namespace pyokoran {
namespace {

using test::BackgroundColour;
using test::CreatureColour;

// A program with its display up, 12 holes, and a temporary working directory.
class StimuliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitDisplay(platform, program->display), 1);
    program->settings.n_holes = 12;
    program->layout.holes[0] = {143, 141};
    for (int h = 1; h < 12; ++h) program->layout.holes[h] = {100 + 60 * h, 600};
  }
  const Surface& Pixels(int32_t index) {
    return program->display.surfaces.slots.at(size_t(index)).surface;
  }
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
  test::TempDir dir;
  test::ScopedWorkingDirectory cd{dir.path()};
};

TEST_F(StimuliTest, FullFolderBuildsEveryHoleFromTheBackground) {
  test::WriteStimFolder(dir.path(), {});
  ASSERT_EQ(LoadStimuli(*program), 1);
  const StimulusSet& s = program->stimuli;
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(program->display.surfaces.count(), 1 + 4 + 1 + 3 * 12);
  EXPECT_EQ(s.background, 0);
  EXPECT_EQ(s.status_surface, 5);
  EXPECT_EQ(Pixels(s.status_surface).width, 420);
  EXPECT_EQ(Pixels(s.status_surface).height, 32);
  EXPECT_EQ(Pixels(s.background).at(1023, 767), BackgroundColour(1023, 767));
  EXPECT_EQ(Pixels(s.background).at(0, 0), BackgroundColour(0, 0));
  // Pictures in the order target 1, distractor 1, target 2, distractor 2.
  const int32_t pictures[4] = {s.target_pictures[0], s.distractor_pictures[0],
                               s.target_pictures[1], s.distractor_pictures[1]};
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(pictures[p], 1 + p);
    EXPECT_EQ(Pixels(pictures[p]).at(100, 127), CreatureColour(p, 100, 127)) << p;
    EXPECT_EQ(Pixels(pictures[p]).at(3, 3), KEY_GREEN);
  }

  // Hole 0 at (143, 141): the background region (79, 77) - (206, 204) with the black hole.
  const Surface& base = Pixels(s.base_surface[0]);
  const Surface& lip = Pixels(s.lip_surface[0]);
  EXPECT_EQ(base.at(0, 0), BackgroundColour(79, 77));
  EXPECT_EQ(base.at(127, 75), BackgroundColour(206, 152));
  EXPECT_EQ(base.at(45, 76), BackgroundColour(124, 153));
  EXPECT_EQ(base.at(46, 76), 0u);
  EXPECT_EQ(base.at(64, 124), 0u);
  EXPECT_EQ(base.at(64, 125), BackgroundColour(143, 202));
  EXPECT_EQ(base.at(127, 127), BackgroundColour(206, 204));
  // The lip keeps only the ground below row 100 outside the opening.
  EXPECT_EQ(lip.at(0, 100), KEY_GREEN);
  EXPECT_EQ(lip.at(127, 0), KEY_GREEN);
  EXPECT_EQ(lip.at(64, 110), KEY_GREEN);
  EXPECT_EQ(lip.at(0, 127), BackgroundColour(79, 204));
  EXPECT_EQ(lip.at(64, 125), BackgroundColour(143, 202));
  // The composite surfaces exist but are not drawn into yet.
  EXPECT_EQ(Pixels(s.composite_surface[11]).at(64, 64), 0u);

  ASSERT_TRUE(s.target_sound && s.distractor_sound);
  EXPECT_EQ(*s.target_sound, (std::vector<uint8_t>{'R', 'I', 'F', 'F', 1, 2, 3}));
  EXPECT_EQ(s.distractor_sound->size(), 9u);
}

TEST_F(StimuliTest, OnlyTheFourPicturesGiveAGreenFieldAndSilence) {
  test::WriteStimFolder(dir.path(), {.background = false, .sounds = false});
  ASSERT_EQ(LoadStimuli(*program), 1);
  EXPECT_EQ(Pixels(program->stimuli.background).at(500, 300), 0x0000C800u);
  EXPECT_EQ(Pixels(program->stimuli.base_surface[0]).at(0, 0), 0x0000C800u);
  EXPECT_FALSE(program->stimuli.target_sound);
  EXPECT_FALSE(program->stimuli.distractor_sound);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StimuliTest, EmptySoundFileIsReadAsAnEmptySound) {
  test::WriteStimFolder(dir.path(), {});
  test::WriteFile("stim/dstpokko.wav", {});
  ASSERT_EQ(LoadStimuli(*program), 1);
  ASSERT_TRUE(program->stimuli.distractor_sound);
  EXPECT_TRUE(program->stimuli.distractor_sound->empty());
}

// A sound up to the cap is read whole; one byte more and the run is silent for it, with no
// message.
TEST_F(StimuliTest, SoundOverTheCapIsNotLoaded) {
  test::WriteStimFolder(dir.path(), {});
  std::error_code error;
  std::filesystem::resize_file("stim/tgtpokko.wav", kMaxSoundFileBytes, error);
  ASSERT_FALSE(error) << error.message();
  std::filesystem::resize_file("stim/dstpokko.wav", kMaxSoundFileBytes + 1, error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(LoadStimuli(*program), 1);
  ASSERT_TRUE(program->stimuli.target_sound);
  EXPECT_EQ(int64_t(program->stimuli.target_sound->size()), kMaxSoundFileBytes);
  EXPECT_FALSE(program->stimuli.distractor_sound);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StimuliTest, BrokenBackgroundIsReplacedByGreen) {
  test::WriteStimFolder(dir.path(), {});
  test::WriteFile("stim/bg.bmp", {'B', 'M', 0, 0});
  ASSERT_EQ(LoadStimuli(*program), 1);
  EXPECT_EQ(Pixels(program->stimuli.background).at(0, 0), 0x0000C800u);
}

TEST_F(StimuliTest, SmallCreaturePictureFillsItsSurface) {
  test::WriteStimFolder(dir.path(), {});
  test::WriteFile("stim/tgtpokko1.bmp",
                  test::MakeBmp24(64, 64, [](int32_t x, int32_t y) {
                    return uint32_t(y << 16 | x << 8 | 1);
                  }));
  ASSERT_EQ(LoadStimuli(*program), 1);
  const Surface& picture = Pixels(program->stimuli.target_pictures[0]);
  EXPECT_EQ(picture.at(127, 127), uint32_t(63 << 16 | 63 << 8 | 1));
  EXPECT_EQ(picture.at(2, 5), uint32_t(2 << 16 | 1 << 8 | 1));
}

struct MissingCase {
  const char* name;
  test::StimFolder folder;
  const char* message;
};
std::ostream& operator<<(std::ostream& os, const MissingCase& c) { return os << c.name; }

class MissingPictureTest : public StimuliTest,
                           public ::testing::WithParamInterface<MissingCase> {};

// The first picture that fails, in the order target 1, distractor 1, target 2,
// distractor 2, is named; every surface made so far is released.
TEST_P(MissingPictureTest, NamesTheFileAndReleasesEverySurface) {
  test::WriteStimFolder(dir.path(), GetParam().folder);
  program->stimuli.target_sound = std::make_unique<std::vector<uint8_t>>(3, 7);
  EXPECT_EQ(LoadStimuli(*program), 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, GetParam().message);
  EXPECT_EQ(platform.messages[0].caption, "Error");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(program->display.surfaces.count(), 0);
  EXPECT_EQ(CreateSurface(program->display, 8, 8), 0);
  ASSERT_TRUE(program->stimuli.target_sound) << "sounds are not touched";
  EXPECT_EQ(program->stimuli.target_sound->size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, MissingPictureTest,
    ::testing::Values(
        MissingCase{"target1", {.pictures = {false, true, true, true}},
                    "パターンファイル[stim/tgtpokko1.bmp]が見つかりません。"},
        MissingCase{"distractor1", {.pictures = {true, false, true, true}},
                    "パターンファイル[stim/dstpokko1.bmp]が見つかりません。"},
        MissingCase{"target2", {.pictures = {true, true, false, true}},
                    "パターンファイル[stim/tgtpokko2.bmp]が見つかりません。"},
        MissingCase{"distractor2_only", {.background = false, .pictures = {true, true, true, false}},
                    "パターンファイル[stim/dstpokko2.bmp]が見つかりません。"},
        MissingCase{"all", {.pictures = {false, false, false, false}},
                    "パターンファイル[stim/tgtpokko1.bmp]が見つかりません。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StimuliTest, UnreadablePictureIsReportedAsMissing) {
  test::WriteStimFolder(dir.path(), {});
  test::WriteFile("stim/tgtpokko2.bmp", test::MakeBmp24(128, 128, [](int32_t, int32_t) {
                    return 0u;
                  }));
  // Cut the file short: its rows no longer fit.
  std::filesystem::resize_file("stim/tgtpokko2.bmp", 1000);
  EXPECT_EQ(LoadStimuli(*program), 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "パターンファイル[stim/tgtpokko2.bmp]が見つかりません。");
}

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

// The pictures and sounds that come with the program load, and the creatures keep a hard
// edge against the key colour (no near-green pixels that would show as a fringe).
TEST(SampleStimuli, LoadWithCleanTransparentEdges) {
  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  ASSERT_EQ(InitDisplay(platform, program->display), 1);
  program->settings.n_holes = 3;
  program->layout.holes[0] = {184, 384};
  program->layout.holes[1] = {512, 384};
  program->layout.holes[2] = {840, 384};
  test::ScopedWorkingDirectory cd{PYOKORAN_SOURCE_DIR};
  ASSERT_EQ(LoadStimuli(*program), 1);
  EXPECT_TRUE(platform.messages.empty());
  const StimulusSet& s = program->stimuli;
  for (const auto* sound : {s.target_sound.get(), s.distractor_sound.get()}) {
    ASSERT_NE(sound, nullptr);
    ASSERT_GT(sound->size(), 44u);
    EXPECT_EQ(std::string(sound->begin(), sound->begin() + 4), "RIFF");
  }
  for (int32_t index : {s.target_pictures[0], s.target_pictures[1], s.distractor_pictures[0],
                        s.distractor_pictures[1]}) {
    const Surface& p = program->display.surfaces.slots.at(size_t(index)).surface;
    int key = 0;
    for (uint32_t pixel : p.pixels) {
      uint32_t r = pixel >> 16, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
      if (pixel == KEY_GREEN) {
        ++key;
      } else {
        EXPECT_FALSE(g > 200 && r < 60 && b < 60) << std::hex << pixel;
      }
    }
    EXPECT_EQ(p.at(0, 0), KEY_GREEN) << "corners are transparent";
    EXPECT_GT(key, 128 * 128 / 8);
    EXPECT_LT(key, 128 * 128 / 2);
  }
  const Surface& bg = program->display.surfaces.slots.at(size_t(s.background)).surface;
  EXPECT_EQ(std::count(bg.pixels.begin(), bg.pixels.end(), KEY_GREEN), 0);
}

}  // namespace
}  // namespace pyokoran
