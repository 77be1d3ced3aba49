#include "app/message_text.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace pyokoran
