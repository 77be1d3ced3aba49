// The settings file's replacement and the result files' repair as every system runs them
// (on Windows: the wide file API, ReplaceFileW and the write-through move).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "results/result_files.h"
#include "settings/settings_file.h"
#include "support/system_support.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

constexpr const char* kBase = "ピョコラン";
constexpr const char* kIni = "ピョコラン.ini";

TEST(SettingsSave, ReplacesTheFileWholeAndLeavesNothingBeside) {
  TempWorkingDir dir;
  TempWorkingDir::Write(kIni, "Subject = SBJ0000\r\nOther = kept\r\n");
  SettingsFile file;
  file.Load(kBase);
  file.SetString("Subject", "被験者");
  file.Save();
  const std::string text = TempWorkingDir::Read(kIni);
  EXPECT_NE(text.find("Other = kept"), std::string::npos) << text;
  EXPECT_NE(text.find("Subject = 被験者"), std::string::npos) << text;
  for (const char* left : {"ピョコラン.ini.tmp", "ピョコラン.ini.bak"}) {
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(left))) << left;
  }
}

TEST(SettingsSave, LeavesAReadOnlyFileAlone) {
  TempWorkingDir dir;
  const std::string before = "Subject = SBJ0000\r\n";
  TempWorkingDir::Write(kIni, before);
  namespace fs = std::filesystem;
  fs::permissions(fs::u8path(kIni), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  SettingsFile file;
  file.Load(kBase);
  file.SetString("Subject", "OTHER");
  file.Save();
  EXPECT_EQ(TempWorkingDir::Read(kIni), before);
  fs::permissions(fs::u8path(kIni), fs::perms::owner_read | fs::perms::owner_write);
}

// A settings file that is a link to one kept elsewhere stays a link; the file it leads to
// takes the new text.
TEST(SettingsSave, WritesThroughALinkAndKeepsIt) {
  TempWorkingDir dir;
  ASSERT_TRUE(test::MakeFolder("kept"));
  TempWorkingDir::Write("kept/real.ini", "Subject = SBJ0000\r\n");
  const std::u8string absolute =
      std::filesystem::absolute(std::filesystem::u8path("kept/real.ini")).make_preferred().u8string();
  const std::string real(absolute.begin(), absolute.end());
  if (!test::MakeSymlink(real, kIni)) GTEST_SKIP() << "this system refuses symbolic links here";
  if (KindOfPath(kIni, true) != PathKind::kRegular) {
    GTEST_SKIP() << "this system makes links it cannot follow (Wine)";
  }
  SettingsFile file;
  file.Load(kBase);
  file.SetString("Subject", "被験者");
  file.Save();
  EXPECT_EQ(KindOfPath(kIni, false), PathKind::kLink);
  EXPECT_NE(TempWorkingDir::Read("kept/real.ini").find("Subject = 被験者"), std::string::npos);
}

// A last line cut short by a kill is moved to <name>.partial and the file cut back to its
// last complete line before the new text goes on.
// A new file takes a name only while nothing is there: never over a file or a link.
TEST(MoveToNewName, TakesOnlyAFreeName) {
  TempWorkingDir dir;
  TempWorkingDir::Write("new.part", "new");
  TempWorkingDir::Write("taken.csv", "theirs");
  EXPECT_FALSE(MoveToNewName("new.part", "taken.csv"));
  EXPECT_EQ(TempWorkingDir::Read("taken.csv"), "theirs");
  if (test::SystemHasSymlinks() && test::MakeSymlink("elsewhere.txt", "link.csv")) {
    EXPECT_FALSE(MoveToNewName("new.part", "link.csv"));
    EXPECT_EQ(TempWorkingDir::Read("elsewhere.txt"), "<missing>");
  }
  ASSERT_TRUE(MoveToNewName("new.part", "free.csv"));
  EXPECT_EQ(TempWorkingDir::Read("free.csv"), "new");
  EXPECT_EQ(TempWorkingDir::Read("new.part"), "<missing>");
}

TEST(ResultAppend, RepairsATornLastLineIntoThePartialFile) {
  TempWorkingDir dir;
  const std::string name = "被験者.csv";
  TempWorkingDir::Write(name, "H\r\nrow 1\r\nrow 2 cut");
  const AppendOutcome outcome = AppendToResultFile(name, "H\n", "row 3\n");
  EXPECT_TRUE(outcome.written);
  EXPECT_TRUE(outcome.repaired);
  EXPECT_EQ(TempWorkingDir::Read(name), "H\r\nrow 1\r\nrow 3\r\n");
  EXPECT_EQ(TempWorkingDir::Read(name + kPartialSuffix), "row 2 cut\r\n");
}

}  // namespace
}  // namespace pyokoran
