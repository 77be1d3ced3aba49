#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/experiment_settings.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

// A file's bytes, what the store holds after reading them, and what it writes back.
struct ParseCase {
  const char* name;
  std::string input;
  std::vector<std::pair<std::string, std::string>> entries;
  std::string rewritten;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << c.name; }

class SettingsFileParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SettingsFileParse, StoresAndRewrites) {
  const ParseCase& c = GetParam();
  SettingsFile file;
  file.Parse(c.input);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < file.entry_count(); ++i) entries.emplace_back(file.keys()[i], file.values()[i]);
  EXPECT_EQ(entries, c.entries);
  EXPECT_EQ(file.Serialise(), c.rewritten);
}

const std::string kLong(1030, 'k');

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsFileParse,
    ::testing::Values(
        ParseCase{"BlanksAroundEquals", "n_holes = 8\r\n", {{"n_holes", "8"}}, "n_holes = 8\r\n"},
        ParseCase{"NoBlanks", "n_holes=8\n", {{"n_holes", "8"}}, "n_holes = 8\r\n"},
        ParseCase{"InnerBlanksKeptEndsTrimmed", " \tsubject = \tA B\t \r\n",
                  {{"subject", "A B"}}, "subject = A B\r\n"},
        ParseCase{"ValueEndsAtEquals", "a=b=c\n", {{"a", "b"}}, "a = b\r\n"},
        ParseCase{"DoubleEqualsBeforeValue", "key == b\n", {{"key", "b"}}, "key = b\r\n"},
        ParseCase{"LeadingEqualsIsSkipped", "=text\n", {{"text", ""}}, "text = \r\n"},
        ParseCase{"KeyOnly", "lonely\n", {{"lonely", ""}}, "lonely = \r\n"},
        ParseCase{"OnlyEqualsIsSkipped", "===\n", {}, ""},
        ParseCase{"BlankLinesSkipped", "\r\n  \t\r\na=1\n\n", {{"a", "1"}}, "a = 1\r\n"},
        ParseCase{"HeadingAndComment", "[section]\n# note\n",
                  {{"[section]", ""}, {"# note", ""}}, "[section] = \r\n# note = \r\n"},
        ParseCase{"CaseSensitiveKeys", "N_HOLES = 9\nn_holes = 8\n",
                  {{"N_HOLES", "9"}, {"n_holes", "8"}}, "N_HOLES = 9\r\nn_holes = 8\r\n"},
        ParseCase{"DuplicateKeysMergeAtFirstWithLastValue", "a = 1\nb = 2\na = 3\n",
                  {{"a", "3"}, {"b", "2"}}, "a = 3\r\nb = 2\r\n"},
        ParseCase{"LoneCarriageReturnStays", "a = 1\r", {{"a", "1\r"}}, "a = 1\r\r\n"},
        ParseCase{"LongLineReadInPieces", kLong + "=v\n",
                  {{kLong.substr(0, 1023), ""}, {"kkkkkkk", "v"}},
                  kLong.substr(0, 1023) + " = \r\nkkkkkkk = v\r\n"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(SettingsFile, GetIntConvertsAsStrtolWithSaturation) {
  struct Row {
    const char* text;
    int32_t expected;
  };
  const Row rows[] = {
      {"42", 42},           {" -7", -7},           {"+5", 5},
      {"90s", 90},          {"abc", 0},            {"", 0},
      {"4000000000", INT32_MAX}, {"-99999999999", INT32_MIN}, {"-294967296", -294967296},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    SettingsFile file;
    file.SetString("k", row.text);
    int32_t value = 123;
    EXPECT_EQ(file.GetInt("k", value), 1);
    EXPECT_EQ(value, row.expected);
  }
  SettingsFile file;
  int32_t untouched = 123;
  std::string text = "keep";
  EXPECT_EQ(file.GetInt("missing", untouched), 0);
  EXPECT_EQ(file.GetString("missing", text), 0);
  EXPECT_EQ(untouched, 123);
  EXPECT_EQ(text, "keep");
}

TEST(SettingsFile, SetIntWritesPlainDecimal) {
  SettingsFile file;
  file.SetInt("a", -5);
  file.SetInt("b", 0);
  file.SetInt("a", INT32_MIN);
  EXPECT_EQ(file.Serialise(), "a = -2147483648\r\nb = 0\r\n");
}

class SettingsFileOnDisk : public ::testing::Test {
 protected:
  static std::string Read(const std::string& name) { return TempWorkingDir::Read(name); }
  static void Write(const std::string& name, const std::string& bytes) {
    TempWorkingDir::Write(name, bytes);
  }

  TempWorkingDir dir_;
};

TEST_F(SettingsFileOnDisk, MissingFileGivesDefaultsAndIsCreatedWithTenLines) {
  SettingsFile file;
  file.Load("ピョコラン");
  EXPECT_EQ(file.file_name(), "ピョコラン.ini");
  EXPECT_EQ(file.entry_count(), 0);
  ExperimentSettings settings;
  ReadSettings(file, settings);
  StoreSettings(file, settings);
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"),
            "subject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\nn_holes = 12\r\n"
            "duration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\ntime_limit = 60\r\n"
            "random_seed = 0\r\nflag_ordered = 1\r\n");
}

TEST_F(SettingsFileOnDisk, ExistingFileKeepsForeignKeysAheadOfMissingSettings) {
  Write("ピョコラン.ini",
        "# experimenter notes\r\nN_HOLES=4\r\nn_holes=9\r\nextra = kept value\r\n"
        "time_limit = 90s\r\nn_holes = 10\r\n");
  SettingsFile file;
  file.Load("ピョコラン");
  ExperimentSettings settings;
  ReadSettings(file, settings);
  EXPECT_EQ(settings.n_holes, 10);
  EXPECT_EQ(settings.time_limit, 90);
  EXPECT_EQ(settings.n_tgtpokko, 6);
  StoreSettings(file, settings);
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"),
            "# experimenter notes = \r\nN_HOLES = 4\r\nn_holes = 10\r\nextra = kept value\r\n"
            "time_limit = 90\r\nsubject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\n"
            "duration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\nrandom_seed = 0\r\n"
            "flag_ordered = 1\r\n");
}

TEST_F(SettingsFileOnDisk, SaveWithoutLoadWritesNothing) {
  Write("ピョコラン.ini", "a = 1\r\n");
  SettingsFile file;
  file.SetString("a", "2");
  file.Save();
  EXPECT_EQ(Read("ピョコラン.ini"), "a = 1\r\n");
}

TEST_F(SettingsFileOnDisk, FailedSaveLeavesOldFileWhole) {
  Write("ピョコラン.ini", "a = 1\r\n");
  SettingsFile file;
  file.Load("ピョコラン");
  file.SetString("a", "2");
  // A folder in the way of the temporary file's rename target cannot be replaced.
  ASSERT_EQ(rename("ピョコラン.ini", "saved.ini"), 0);
  ASSERT_EQ(mkdir("ピョコラン.ini", 0755), 0);
  file.Save();
  EXPECT_EQ(Read("saved.ini"), "a = 1\r\n");
  // No temporary file is left behind.
  EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 2"), 0);
}

}  // namespace
}  // namespace pyokoran
