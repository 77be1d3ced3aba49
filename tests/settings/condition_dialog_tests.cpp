#include "settings/condition_dialog.h"

#include <gtest/gtest.h>

#include "settings/experiment_settings.h"

namespace pyokoran {
namespace {

TEST(ConditionDialog, OpensWithTheSettingsAsText) {
  ExperimentSettings settings;
  settings.random_seed = -5;
  CSubject dialog;
  dialog.CopyFrom(settings);
  ConditionControls c = dialog.ToControls();
  EXPECT_EQ(c.subject, "SBJ0000");
  EXPECT_EQ(c.holes, "12");
  EXPECT_EQ(c.targets, "6");
  EXPECT_EQ(c.distractors, "3");
  EXPECT_EQ(c.time_limit, "60");
  EXPECT_EQ(c.duration, "2000");
  EXPECT_EQ(c.isi1, "1000");
  EXPECT_EQ(c.isi2, "3000");
  EXPECT_EQ(c.seed, "4294967291");
  EXPECT_TRUE(c.ordered);
}

TEST(ConditionDialog, CheckBoxOutOfRangeIsCleared) {
  const struct {
    int32_t stored;
    bool checked;
    int32_t after_ok;
  } rows[] = {{5, false, 0}, {-1, false, 0}, {0, false, 0}, {1, true, 1}, {2, true, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored);
    CSubject dialog;
    dialog.ordered = row.stored;
    ConditionControls c = dialog.ToControls();
    EXPECT_EQ(c.ordered, row.checked);
    ASSERT_EQ(dialog.FromControls(dialog.ToControls()), 0);
    EXPECT_EQ(dialog.ordered, row.after_ok);
  }
}

// What one number field's text becomes: the first 63 characters scanned like "%d" ("%u" for
// the seed); a field that does not begin with a number fails.
struct FieldCase {
  const char* text;
  bool passes;
  int64_t value;
};

TEST(ConditionDialog, NumberFieldsScanLikeScanf) {
  const std::string padded = std::string(62, ' ') + "5";  // the digit is the 63rd character
  const FieldCase signed_rows[] = {
      {"8x", true, 8},        {" 7", true, 7},           {"\t-12", true, -12},
      {"+3", true, 3},        {"", false, 0},            {"   ", false, 0},
      {"x8", false, 0},       {"-", false, 0},           {"- 5", false, 0},
      {"99999999999", true, 2147483647}, {"-99999999999", true, -2147483648LL},
      {padded.c_str(), true, 5},
  };
  for (const FieldCase& row : signed_rows) {
    SCOPED_TRACE(std::string("holes '") + row.text + "'");
    CSubject dialog;
    ConditionControls c = dialog.ToControls();
    c.holes = row.text;
    EXPECT_EQ(dialog.FromControls(c), row.passes ? 0 : IDC_HOLES);
    if (row.passes) {
      EXPECT_EQ(dialog.holes, row.value);
    }
  }
  CSubject dialog;
  ConditionControls c = dialog.ToControls();
  c.holes = std::string(63, ' ') + "5";  // the digit lies beyond what is scanned
  EXPECT_EQ(dialog.FromControls(c), IDC_HOLES);

  const FieldCase seed_rows[] = {
      {"-5", true, 4294967291LL}, {"-1", true, 4294967295LL}, {"4000000000", true, 4000000000LL},
      {"0", true, 0},             {"seed", false, 0},
  };
  for (const FieldCase& row : seed_rows) {
    SCOPED_TRACE(std::string("seed '") + row.text + "'");
    CSubject d;
    ConditionControls sc = d.ToControls();
    sc.seed = row.text;
    EXPECT_EQ(d.FromControls(sc), row.passes ? 0 : IDC_SEED);
    if (row.passes) {
      EXPECT_EQ(d.seed, row.value);
    }
  }
}

TEST(ConditionDialog, ExchangeStopsAtTheFirstFailingFieldInExchangeOrder) {
  CSubject dialog;
  ConditionControls c = dialog.ToControls();
  c.subject = std::string("new one");
  c.holes.clear();
  c.targets.clear();
  c.distractors = std::string("4");
  EXPECT_EQ(dialog.FromControls(c), IDC_TARGETS);  // before holes, though holes is first in tab order
  EXPECT_EQ(dialog.subject, "new one");            // fields before the failing one are read
  EXPECT_EQ(dialog.distractors, 0);
  EXPECT_NE(CSubject::NumberMessage(IDC_SEED), CSubject::NumberMessage(IDC_TARGETS));
}

}  // namespace
}  // namespace pyokoran
