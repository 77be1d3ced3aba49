#include "app/guide.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/utf8_path.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

// Folders under the working folder: none holds the guide, one only its English page, one both
// (its name in Japanese, as an installation folder may be).
TEST(GuideTest, TheFirstFolderThatHoldsAPageGivesItsPagesJapaneseFirst) {
  TempWorkingDir dir;
  namespace fs = std::filesystem;
  for (const char* folder : {"empty", "english", "ピョコラン"}) fs::create_directory(PathFromUtf8(folder));
  TempWorkingDir::Write("english/guide.en.html", "<html>");
  TempWorkingDir::Write("ピョコラン/guide.en.html", "<html>");
  TempWorkingDir::Write("ピョコラン/guide.html", "<html>");
  fs::create_directory(PathFromUtf8("empty/guide.html"));  // a folder is not a page

  const std::string both = Utf8FromPath(PathFromUtf8(dir.path()) / PathFromUtf8("ピョコラン"));
  const std::string english = Utf8FromPath(PathFromUtf8(dir.path()) / "english");
  const std::string empty = Utf8FromPath(PathFromUtf8(dir.path()) / "empty");
  auto page = [](const std::string& folder, const char* name) {
    return Utf8FromPath(PathFromUtf8(folder) / name);
  };
  struct Case {
    std::vector<std::string> folders;
    std::vector<std::string> pages;
  };
  const Case cases[] = {
      {{empty, both, english}, {page(both, "guide.html"), page(both, "guide.en.html")}},
      {{"", english, both}, {page(english, "guide.en.html")}},
      {{empty, dir.path() + "/missing"}, {}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindGuidePages(c.folders), c.pages) << "first folder: " << (c.folders.empty() ? "" : c.folders[0]);
  }
}

}  // namespace
}  // namespace pyokoran
