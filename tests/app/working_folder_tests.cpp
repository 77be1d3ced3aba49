#include "app/working_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "platform/fake/fake_platform.h"
#include "support/temp_working_dir.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

namespace fs = std::filesystem;

// In a scratch folder holding home/ and home/Dokumente/; "~" in a row stands for home.
class UserFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::SystemHasXdgUserFolders()) {
      GTEST_SKIP() << "the XDG user folders are the Linux desktop's";
    }
  }
  UserFoldersTest() {
    fs::create_directories(home + "/Dokumente");
  }
  std::string Expand(std::string text) const {
    for (size_t at; (at = text.find('~')) != std::string::npos;) text.replace(at, 1, home);
    return text;
  }
  TempWorkingDir dir_;
  const std::string home = dir_.path() + "/home";
};

struct DocumentsRow {
  const char* name;
  const char* variable;   // $XDG_DOCUMENTS_DIR
  const char* user_dirs;  // the file's text
  const char* expected;
};
std::ostream& operator<<(std::ostream& out, const DocumentsRow& row) { return out << row.name; }

class DocumentsFolderTest : public UserFoldersTest,
                            public ::testing::WithParamInterface<DocumentsRow> {};

TEST_P(DocumentsFolderTest, Chooses) {
  const DocumentsRow& row = GetParam();
  UserFolders folders{home, Expand(row.variable), Expand(row.user_dirs)};
  EXPECT_EQ(DocumentsWorkingFolder(folders), Expand(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DocumentsFolderTest,
    ::testing::Values(
        DocumentsRow{"Nothing", "", "", "~/ピョコラン"},
        DocumentsRow{"UserDirsWithHome", "",
                     "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
                     "~/Dokumente/ピョコラン"},
        DocumentsRow{"UserDirsAbsolute", "", "XDG_DOCUMENTS_DIR=\"~/Dokumente/\"\n",
                     "~/Dokumente/ピョコラン"},
        DocumentsRow{"VariableWins", "~/Dokumente", "XDG_DOCUMENTS_DIR=\"$HOME/Other\"\n",
                     "~/Dokumente/ピョコラン"},
        // xdg-user-dirs names the home folder itself for a folder the user gave up.
        DocumentsRow{"DocumentsIsHome", "", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "~/ピョコラン"},
        DocumentsRow{"DocumentsMissing", "", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n",
                     "~/ピョコラン"},
        DocumentsRow{"RelativeIgnored", "Dokumente", "XDG_DOCUMENTS_DIR=Dokumente\n",
                     "~/ピョコラン"}),
    [](const ::testing::TestParamInfo<DocumentsRow>& info) { return std::string(info.param.name); });

// The first start from the desktop menu.
enum class Before { Nothing, EmptyFolder, AFile, ParentIsAFile, NoSamples };

struct FirstStartRow {
  const char* name;
  Before before;
  bool opens;
  const char* message_has;  // in the message box, when it does not open
};
std::ostream& operator<<(std::ostream& out, const FirstStartRow& row) { return out << row.name; }

class FirstStartTest : public UserFoldersTest, public ::testing::WithParamInterface<FirstStartRow> {
 protected:
  FakePlatform platform;
};

TEST_P(FirstStartTest, PreparesTheFolder) {
  const FirstStartRow& row = GetParam();
  std::string folder = home + "/Dokumente/ピョコラン";
  std::string samples = std::string(PYOKORAN_SOURCE_DIR) + "/stim";
  switch (row.before) {
    case Before::Nothing: break;
    case Before::EmptyFolder: fs::create_directory(folder); break;
    case Before::AFile: TempWorkingDir::Write(folder, "x"); break;
    case Before::ParentIsAFile:
      TempWorkingDir::Write(home + "/file", "x");
      folder = home + "/file/ピョコラン";
      break;
    case Before::NoSamples: samples = home + "/no-stim"; break;
  }
  const bool opened = OpenLauncherFolder(platform, folder, samples);
  EXPECT_EQ(opened, row.opens);
  if (row.opens) {
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(CurrentFolder(), folder);
    // A new folder holds the whole sample set; one that existed is left as it was.
    const bool made = row.before == Before::Nothing;
    EXPECT_EQ(fs::exists(folder + "/stim/bg.bmp"), made);
    if (made) {
      for (const auto& sample : fs::directory_iterator(samples)) {
        const std::string name = sample.path().filename().string();
        EXPECT_EQ(TempWorkingDir::Read(folder + "/stim/" + name),
                  TempWorkingDir::Read(sample.path().string()))
            << name;
      }
    }
  } else {
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].text.find(folder), std::string::npos);
    EXPECT_NE(platform.messages[0].text.find(row.message_has), std::string::npos)
        << platform.messages[0].text;
    EXPECT_EQ(platform.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(CurrentFolder(), dir_.path());
  }
  // Nothing half-made beside it: only the folder itself, when it was made or was there.
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(home + "/Dokumente")) {
    ++entries;
    EXPECT_EQ(entry.path().string(), home + "/Dokumente/ピョコラン");
  }
  EXPECT_EQ(entries, row.before == Before::NoSamples || row.before == Before::ParentIsAFile ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FirstStartTest,
    ::testing::Values(FirstStartRow{"NotYet", Before::Nothing, true, ""},
                      FirstStartRow{"Exists", Before::EmptyFolder, true, ""},
                      FirstStartRow{"AFileOfThatName", Before::AFile, false, "ファイル"},
                      FirstStartRow{"CannotBeCreated", Before::ParentIsAFile, false,
                                    "フォルダを作れません (Not a directory)"},
                      FirstStartRow{"NoSampleStimuli", Before::NoSamples, false, "見本の刺激"}),
    [](const ::testing::TestParamInfo<FirstStartRow>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace pyokoran
