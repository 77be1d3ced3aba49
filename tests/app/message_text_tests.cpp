#include "app/message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/folder_lock.h"
#include "results/result_files.h"
#include "results/run_completeness.h"

namespace pyokoran {
namespace {

TEST(MessageTextTest, TheNameStandsOnALineOfItsOwn) {
  struct Case {
    const char* before;
    const char* name;
    const char* after;
    const char* text;
  };
  const Case cases[] = {
      {"次のレポートを書けませんでした。", "C:\\lab\\ピョコラン_report.html", "ディスクがいっぱいです。",
       "次のレポートを書けませんでした。\nC:\\lab\\ピョコラン_report.html\nディスクがいっぱいです。"},
      {"作業フォルダを用意できませんでした。\n", "/home/lab/ピョコラン", "", "作業フォルダを用意できませんでした。\n/home/lab/ピョコラン"},
      {"", "/x", "\n二行目", "/x\n二行目"},
  };
  for (const Case& c : cases) EXPECT_EQ(NamingFile(c.before, c.name, c.after), c.text) << c.name;
}

TEST(MessageTextTest, FullNamesAreFileNameLines) {
  for (const char* line : {"/home/lab/ピョコラン.txt", "C:\\Users\\lab\\ピョコラン", "d:/lab", "\\\\server\\share\\x.csv"}) {
    EXPECT_TRUE(IsFileNameLine(line)) << line;
  }
  for (const char* line : {"", "ピョコラン.txt", "次のファイル: /home/lab", "C:", "/a\nb", "1:\\x"}) {
    EXPECT_FALSE(IsFileNameLine(line)) << line;
  }
}

// Every message of the result files names its files on lines of their own.
TEST(MessageTextTest, ResultMessagesNameFilesOnLinesOfTheirOwn) {
  IncompleteRun run{"SBJ0000", "2026/12/11", "13:30:00", {"SBJ0000.csv", "ピョコラン_timing.txt"}};
  struct Case {
    std::string text;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {RepairedMessage("ピョコラン.txt"), {"ピョコラン.txt", "ピョコラン.txt.partial"}},
      {IncompleteRunMessage(run), {"SBJ0000.csv", "ピョコラン_timing.txt", "ピョコラン_incomplete.txt"}},
      {RunsWithoutTimingLineMessage({run}, 3), {"ピョコラン_timing.txt", "ピョコラン_incomplete.txt"}},
      {CannotOpenMessage("被験者01.csv"), {"被験者01.csv"}},
      {FolderBusyMessage("/srv/lab/ピョコラン"), {"/srv/lab/ピョコラン"}},
      {NoLocksMessage("\\\\server\\class"), {"\\\\server\\class"}},
  };
  for (const Case& c : cases) {
    const std::string text = "\n" + c.text + "\n";
    for (const std::string& name : c.names) EXPECT_NE(text.find("\n" + name + "\n"), std::string::npos) << c.text;
    EXPECT_EQ(c.text.find('['), std::string::npos) << c.text;
  }
}

}  // namespace
}  // namespace pyokoran
