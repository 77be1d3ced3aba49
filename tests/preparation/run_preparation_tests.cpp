#include "preparation/run_preparation.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

const char* const kHoleMessage = "穴の数は 3 以上，15 以下でなければなりません。";
const char* const kCreatureMessage = "ポッコの数は穴の数より小さくなければなりません。";

auto Fields(const ExperimentSettings& s) {
  return std::make_tuple(s.subject, s.n_tgtpokko, s.n_dstpokko, s.n_holes, s.duration, s.isi1,
                         s.isi2, s.time_limit, s.random_seed, s.flag_ordered);
}

std::vector<int32_t> SlotFields(const CreatureSlot& s) {
  return {s.target, s.hole, s.show_at, s.hide_at, s.depth, s.shown_at, s.up, s.hit, s.redraw,
          s.pending};
}

// Runs in a working folder holding the sample stimuli, which preparation loads last.
class PrepareRunTest : public testing::Test {
 protected:
  PrepareRunTest() { TempWorkingDir::CopySampleStimuli(); }

  void Ok(std::function<void(ConditionControls&)> edit) {
    platform.dialog_answers.push_back({true, std::move(edit)});
  }
  void Cancel() { platform.dialog_answers.push_back({false, nullptr}); }

  TempWorkingDir dir_;
  FakePlatform platform;
  Program program{platform};
};

TEST_F(PrepareRunTest, SeedOnePlacesTheDefaultCreatures) {
  Ok([](ConditionControls& c) { c.seed = "1"; });
  ASSERT_EQ(PrepareRun(program), 1);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(program.effective_seed, 1);
  EXPECT_EQ(program.settings.random_seed, 1);

  const Scheduler& s = program.scheduler;
  ASSERT_EQ(s.creature_count, 9);
  const int32_t holes[] = {2, 4, 8, 1, 11, 0, 7, 5, 9};
  const int32_t ticks[] = {3169, 3645, 2607, 2294, 2238, 3063, 2332, 2114, 3039};
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(testing::Message() << "slot " << i);
    EXPECT_EQ(s.slots[i].target, i < 6 ? 1 : 0);
    EXPECT_EQ(s.slots[i].hole, holes[i]);
    EXPECT_EQ(s.slots[i].show_at, ticks[i]);
    EXPECT_EQ(s.slots[i].hide_at, ticks[i] + 2000);
  }
  EXPECT_EQ(program.layout.holes[11], (HoleCentre{881, 625}));  // ordered
  EXPECT_EQ(s.log.count, 0);
  EXPECT_EQ(s.log.records[4999].Trial, 5000);
}

TEST_F(PrepareRunTest, SeedZeroTakesTheClockAndStaysZero) {
  platform.now_seconds = 0x5F5E1234;
  Ok(nullptr);
  ASSERT_EQ(PrepareRun(program), 1);
  EXPECT_EQ(program.effective_seed, 0x1234);
  EXPECT_EQ(program.settings.random_seed, 0);

  Ok([](ConditionControls& c) { c.seed = "-5"; });  // 4294967291
  ASSERT_EQ(PrepareRun(program), 1);
  EXPECT_EQ(program.effective_seed, -5);
  EXPECT_EQ(program.settings.random_seed, -5);
}

TEST_F(PrepareRunTest, CancelChangesNothing) {
  const auto before = Fields(program.settings);
  Cancel();
  EXPECT_EQ(PrepareRun(program), 0);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(Fields(program.settings), before);
  EXPECT_EQ(program.effective_seed, 0);
  EXPECT_EQ(program.scheduler.creature_count, 0);
}

struct ValidationCase {
  std::string name;
  std::string holes, targets, distractors;
  const char* message;  // null: the values pass
};
std::ostream& operator<<(std::ostream& os, const ValidationCase& c) { return os << c.name; }

class PrepareRunValidation : public PrepareRunTest,
                             public testing::WithParamInterface<ValidationCase> {};

// A failing row gets its message and the dialog again with the values just entered; Cancel
// there leaves the settings as they were before the Start.
TEST_P(PrepareRunValidation, FirstFailingRuleDecidesTheMessage) {
  const ValidationCase& c = GetParam();
  const auto before = Fields(program.settings);
  Ok([&c](ConditionControls& controls) {
    controls.holes = c.holes;
    controls.targets = c.targets;
    controls.distractors = c.distractors;
    controls.subject = "NEW";
  });
  Cancel();
  const int result = PrepareRun(program);

  if (c.message == nullptr) {
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(program.settings.subject, "NEW");
    EXPECT_EQ(std::to_string(program.settings.n_holes), c.holes);
    return;
  }
  EXPECT_EQ(result, 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, c.message);
  EXPECT_EQ(platform.messages[0].caption, "Error");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::None);
  ASSERT_EQ(platform.dialogs_opened.size(), 2u);
  EXPECT_EQ(platform.dialogs_opened[1].holes, c.holes);
  EXPECT_EQ(platform.dialogs_opened[1].targets, c.targets);
  EXPECT_EQ(platform.dialogs_opened[1].subject, "NEW");
  EXPECT_EQ(Fields(program.settings), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PrepareRunValidation,
    testing::Values(
        ValidationCase{"SixteenHoles", "16", "6", "3", kHoleMessage},
        ValidationCase{"NoHoles", "0", "1", "1", kHoleMessage},
        ValidationCase{"TwoHolesFiveCreaturesOnlyHoleMessage", "2", "3", "2", kHoleMessage},
        ValidationCase{"ThreeHolesTwoCreatures", "3", "1", "1", nullptr},
        ValidationCase{"ThreeHolesThreeCreatures", "3", "2", "1", kCreatureMessage},
        ValidationCase{"FifteenHolesFourteenCreatures", "15", "7", "7", nullptr},
        ValidationCase{"DistractorsOnly", "12", "0", "1", nullptr},
        ValidationCase{"SumBeyond32Bits", "12", "2147483647", "1", kCreatureMessage},
        ValidationCase{"SumBelow32Bits", "12", "-2147483648", "-2147483648", nullptr}),
    [](const testing::TestParamInfo<ValidationCase>& info) { return info.param.name; });

TEST_F(PrepareRunTest, CorrectedValuesAreCommittedWithTheRestOfTheFirstEntry) {
  Ok([](ConditionControls& c) {
    c.holes = "16";
    c.time_limit = "30";
  });
  Ok([](ConditionControls& c) { c.holes = "10"; });
  ASSERT_EQ(PrepareRun(program), 1);
  EXPECT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(program.settings.n_holes, 10);
  EXPECT_EQ(program.settings.time_limit, 30);
}

TEST_F(PrepareRunTest, ImpossibleRandomLayoutIsReportedAfterTheCommit) {
  Ok([](ConditionControls& c) {
    c.seed = "3";
    c.targets = c.distractors = "1";
    c.holes = "15";
    c.ordered = false;
  });
  EXPECT_EQ(PrepareRun(program), 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text,
            "刺激配置を作成できません。\n乱数初期値を変えて再試行してください。\n"
            "（０ならば単純に再試行してください）");
  EXPECT_EQ(platform.messages[0].caption, "Error");
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(program.settings.random_seed, 3);
  EXPECT_EQ(program.settings.n_holes, 15);
  EXPECT_EQ(program.settings.flag_ordered, 0);
  EXPECT_EQ(program.effective_seed, 3);
}

TEST_F(PrepareRunTest, SameSeedGivesTheSameCreaturesAndRandomLayout) {
  Ok([](ConditionControls& c) {
    c.seed = "7";
    c.ordered = false;
  });
  ASSERT_EQ(PrepareRun(program), 1);
  std::vector<std::vector<int32_t>> slots;
  for (int i = 0; i < program.scheduler.creature_count; ++i) {
    slots.push_back(SlotFields(program.scheduler.slots[i]));
  }
  const HoleLayout layout = program.layout;
  program.scheduler = Scheduler{};
  program.layout = HoleLayout{};

  Ok(nullptr);  // the dialog opens with what was committed
  ASSERT_EQ(PrepareRun(program), 1);
  EXPECT_EQ(platform.dialogs_opened[1].seed, "7");
  ASSERT_EQ(program.scheduler.creature_count, 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(SlotFields(program.scheduler.slots[i]), slots[i]) << i;
  for (int h = 0; h < 12; ++h) EXPECT_EQ(program.layout.holes[h], layout.holes[h]) << h;
}

}  // namespace
}  // namespace pyokoran
