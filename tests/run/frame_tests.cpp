#include "run/frame.h"

#include <gtest/gtest.h>

#include <memory>

#include "../preparation/stim_fixture.h"
#include "app/program.h"
#include "display/surfaces.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

using test::BackgroundColour;
using test::CreatureColour;

TEST(FormatStatusText, SecondsScoreAndCounts) {
  struct Case {
    int32_t tick, hit, fa, miss, cr;
    const char* text;
  } cases[] = {
      {0, 0, 0, 0, 0, "  0 びょう…とくてん：0 (0-0) ミス：0 CR:0"},
      {5999, 2, 3, 4, 1, "  5 びょう…とくてん：-1 (2-3) ミス：4 CR:1"},
      {60000, 17, 0, 2, 9, " 60 びょう…とくてん：17 (17-0) ミス：2 CR:9"},
      {1234567, 4999, 0, 0, 0, "1234 びょう…とくてん：4999 (4999-0) ミス：0 CR:0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatStatusText(c.tick, c.hit, c.fa, c.miss, c.cr), c.text);
  }
}

// A loaded run of 3 holes with one target and one distractor creature.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteStimFolder(dir.path(), {});
    Program& p = *program;
    ASSERT_EQ(InitDisplay(platform, p.display), 1);
    p.settings.n_holes = 3;
    p.layout.holes[0] = {184, 384};
    p.layout.holes[1] = {512, 384};
    p.layout.holes[2] = {840, 384};
    ASSERT_EQ(LoadStimuli(p), 1);
    p.scheduler.creature_count = 2;
    p.scheduler.slots[0] = {.target = 1, .hole = 0, .depth = 128, .up = 0};
    p.scheduler.slots[1] = {.target = 0, .hole = 2, .depth = 128, .up = 0};
    // As the trial loop starts a run: every hole shows its empty ground.
    for (int h = 0; h < 3; ++h) {
      BltAt(p.display, p.stimuli.composite_surface[h], 0, 0, p.stimuli.base_surface[h], NO_KEY);
    }
  }
  const Surface& Composite(int h) {
    return program->display.surfaces.slots.at(size_t(program->stimuli.composite_surface[h]))
        .surface;
  }
  const Surface& Base(int h) {
    return program->display.surfaces.slots.at(size_t(program->stimuli.base_surface[h])).surface;
  }
  void Show(int slot, int32_t depth, int32_t hit) {
    program->scheduler.slots[slot].depth = depth;
    program->scheduler.slots[slot].hit = hit;
    DrawHole(*program, slot);
  }
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
  test::TempDir dir;
  test::ScopedWorkingDirectory cd{dir.path()};
};

TEST_F(FrameTest, CreatureRisesBehindTheLip) {
  // Depth 124: the picture's top four rows at rows 124 .. 127; only row 124 inside the
  // opening shows, the lip covers the rest.
  Show(0, 124, 0);
  const Surface& c = Composite(0);
  EXPECT_EQ(c.at(64, 124), CreatureColour(0, 64, 0));
  EXPECT_EQ(c.at(82, 124), CreatureColour(0, 82, 0));
  EXPECT_EQ(c.at(45, 124), Base(0).at(45, 124)) << "left of the opening: ground";
  EXPECT_EQ(c.at(64, 125), Base(0).at(64, 125)) << "below the opening: lip";
  EXPECT_EQ(c.at(64, 123), 0u) << "above the creature: the dark hole";

  // Depth 0: the whole picture, its transparent columns showing the ground, its lower part
  // hidden where the ground stands in front.
  Show(0, 0, 0);
  EXPECT_EQ(c.at(64, 0), CreatureColour(0, 64, 0));
  EXPECT_EQ(c.at(64, 100), CreatureColour(0, 64, 100));
  EXPECT_EQ(c.at(64, 120), CreatureColour(0, 64, 120));
  EXPECT_EQ(c.at(3, 50), Base(0).at(3, 50)) << "transparent column";
  EXPECT_EQ(c.at(10, 120), Base(0).at(10, 120)) << "outside the opening below row 100";
  EXPECT_EQ(c.at(127, 110), Base(0).at(127, 110));

  // Depth 128: nothing of the creature.
  Show(0, 128, 0);
  EXPECT_EQ(c.pixels, Base(0).pixels);
}

TEST_F(FrameTest, PictureFollowsKindAndStrike) {
  struct Case {
    int slot, hit, picture, hole;
  } cases[] = {{0, 0, 0, 0}, {0, 1, 2, 0}, {1, 0, 1, 2}, {1, 1, 3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "slot " << c.slot << " hit " << c.hit);
    Show(c.slot, 0, c.hit);
    EXPECT_EQ(Composite(c.hole).at(64, 40), CreatureColour(c.picture, 64, 40));
  }
  EXPECT_EQ(Composite(1).pixels, Base(1).pixels) << "an empty hole is left alone";
}

TEST_F(FrameTest, UnknownSlotsAndHolesDrawNothing) {
  std::vector<uint32_t> before = Composite(0).pixels;
  program->scheduler.slots[0].depth = 0;
  DrawHole(*program, -1);
  DrawHole(*program, 2);
  DrawHole(*program, 1000);
  program->scheduler.slots[1].hole = 3;  // beyond n_holes
  DrawHole(*program, 1);
  program->scheduler.slots[1].hole = -1;
  DrawHole(*program, 1);
  EXPECT_EQ(Composite(0).pixels, before);
}

// After the first frame only the redrawn rows of holes are drawn and copied again; every
// hole must still equal one drawn on bare ground, and every frame one composed from scratch.
TEST_F(FrameTest, LaterFramesEqualFramesComposedWhole) {
  Program& p = *program;
  ComposeFrame(p);
  const struct {
    int slot;
    int32_t depth, hit;
    bool compose;  // false: the next step draws in the same frame
  } steps[] = {{0, 124, 0, true}, {1, 60, 0, true},  {0, 0, 0, true},   {0, 0, 1, true},
               {1, 128, 0, true}, {0, 64, 1, true},  {0, 68, 1, false}, {0, 72, 1, true},
               {0, 4, 0, false},  {0, 120, 0, true}, {0, 124, 0, true}, {0, 128, 0, true},
               {1, 100, 0, true}, {1, 104, 0, true}, {1, 0, 1, false},  {1, 128, 0, true}};
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << "slot " << step.slot << " depth " << step.depth);
    Show(step.slot, step.depth, step.hit);
    const int h = p.scheduler.slots[step.slot].hole;
    const std::vector<uint32_t> drawn = Composite(h).pixels;
    const int32_t ground_rows = p.stimuli.ground_rows[h];
    const bool changed = p.stimuli.hole_changed[h];
    const int32_t redrawn_top = p.stimuli.redrawn_top[h];
    p.stimuli.ground_rows[h] = 0;
    BltAt(p.display, p.stimuli.composite_surface[h], 0, 0, p.stimuli.background, NO_KEY);
    DrawHole(p, step.slot);
    EXPECT_TRUE(Composite(h).pixels == drawn) << "hole " << h << " differs from a fresh one";
    p.stimuli.ground_rows[h] = ground_rows;
    p.stimuli.redrawn_top[h] = redrawn_top;
    p.stimuli.hole_changed[h] = changed;
    if (!step.compose) continue;

    p.timer.tick += 1000;
    ComposeFrame(p);
    const std::vector<uint32_t> incremental = p.display.stage.surface.pixels;
    p.stimuli.stage_composed = false;
    p.display.stage.surface.pixels.assign(incremental.size(), 0x123456);
    ComposeFrame(p);
    EXPECT_TRUE(p.display.stage.surface.pixels == incremental);
  }
}

TEST_F(FrameTest, ComposedFrameShowsBackgroundHolesAndStatusBand) {
  Program& p = *program;
  Show(0, 0, 0);
  p.timer.tick.store(65432);
  p.scheduler.counters = {.Hit = 2, .Miss = 4, .CR = 1, .FA = 3};
  ComposeFrame(p);

  ASSERT_EQ(platform.frames_presented, 1);
  EXPECT_EQ(platform.last_stage_rect, p.display.geometry.stage_rect);
  const Surface& stage = platform.last_frame;
  EXPECT_EQ(stage.pixels, p.display.stage.surface.pixels);
  EXPECT_EQ(stage.at(700, 700), BackgroundColour(700, 700));
  EXPECT_EQ(stage.at(0, 767), BackgroundColour(0, 767));
  // Hole 0 (184, 384) has its creature up; hole 1 (512, 384) is empty.
  EXPECT_EQ(stage.at(120, 320), Composite(0).at(0, 0));
  EXPECT_EQ(stage.at(184, 320 + 40), CreatureColour(0, 64, 40));
  EXPECT_EQ(stage.at(512, 384 + 36), 0u) << "the opening's centre";
  EXPECT_EQ(stage.at(448, 320), BackgroundColour(448, 320));
  EXPECT_EQ(stage.at(575, 447), BackgroundColour(575, 447));
  // The band: black 420 x 32 at (10, 4), the background around it.
  EXPECT_EQ(stage.at(10, 4), 0u);
  EXPECT_EQ(stage.at(429, 35), 0u);
  EXPECT_EQ(stage.at(9, 4), BackgroundColour(9, 4));
  EXPECT_EQ(stage.at(430, 4), BackgroundColour(430, 4));
  EXPECT_EQ(stage.at(10, 36), BackgroundColour(10, 36));
  ASSERT_EQ(platform.drawn_texts.size(), 1u);
  EXPECT_EQ(platform.drawn_texts[0], " 65 びょう…とくてん：-1 (2-3) ミス：4 CR:1");
}

}  // namespace
}  // namespace pyokoran
