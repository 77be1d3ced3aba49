#include "app/my_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "settings/condition_dialog.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

const char kDefaultFile[] =
    "subject = SBJ0000\r\nn_tgtpokko = 6\r\nn_dstpokko = 3\r\nn_holes = 12\r\n"
    "duration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\ntime_limit = 60\r\n"
    "random_seed = 0\r\nflag_ordered = 1\r\n";

// Each test starts the program in a fresh, empty working directory.
class AppTest : public ::testing::Test {
 protected:
  static std::string Read(const std::string& name) { return TempWorkingDir::Read(name); }
  static void Write(const std::string& name, const std::string& bytes) {
    TempWorkingDir::Write(name, bytes);
  }

  TempWorkingDir dir_;
  FakePlatform platform;
};

TEST_F(AppTest, FirstStartWritesTheTenDefaultsAtExit) {
  CMyApp app(platform);
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnCommand(ID_APP_EXIT); });
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(platform.title, "ピョコラン");
  EXPECT_EQ(platform.caption_line.rfind("ピョコラン / ", 0), 0u);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(Read("ピョコラン.ini"), kDefaultFile);
}

// A last run whose summary line was written but not its rows (the program was stopped
// between the two files) is told at the next start, once.
TEST_F(AppTest, StartTellsOfALastRunWithoutItsRowsOnce) {
  Write("ピョコラン.txt",
        "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
        "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n"
        "A\t2014/05/07\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t1\t1\t0\t0\t0\t1\r\n");
  Write("A.csv", "Subject,Date\r\n");
  for (int start = 0; start < 2; ++start) {
    FakePlatform fresh;
    CMyApp app(fresh);
    app.Run();
    ASSERT_EQ(fresh.messages.size(), start == 0 ? 1u : 0u);
    if (start == 0) EXPECT_NE(fresh.messages[0].text.find("\nA.csv\n"), std::string::npos);
  }
  EXPECT_NE(Read("ピョコラン_incomplete.txt").find("A\t2014/05/07\t10:00:00\tA.csv"), std::string::npos);
}

TEST_F(AppTest, StartUpReadsTheFileAndExitKeepsItsOtherLines) {
  Write("ピョコラン.ini", "[run]\r\nsubject=A 01 \r\nn_holes = 9\r\nn_holes = 10\r\nnote = x\r\n");
  CMyApp app(platform);
  ExperimentSettings seen;
  platform.main_window_actions.push_back([&](MainWindowHandler&) { seen = app.program().settings; });
  app.Run();
  EXPECT_EQ(seen.subject, "A 01");
  EXPECT_EQ(seen.n_holes, 10);
  EXPECT_EQ(seen.time_limit, 60);
  EXPECT_EQ(Read("ピョコラン.ini"),
            "[run] = \r\nsubject = A 01\r\nn_holes = 10\r\nnote = x\r\nn_tgtpokko = 6\r\n"
            "n_dstpokko = 3\r\nduration = 2000\r\nisi1 = 1000\r\nisi2 = 3000\r\n"
            "time_limit = 60\r\nrandom_seed = 0\r\nflag_ordered = 1\r\n");
}

TEST_F(AppTest, FailedDisplayEndsAtOnceAndLeavesTheFileAlone) {
  Write("ピョコラン.ini", "n_holes = 5\n");
  platform.display_ok = false;
  CMyApp app(platform);
  app.Run();
  EXPECT_EQ(Read("ピョコラン.ini"), "n_holes = 5\n");
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.dialogs_opened.size(), 0u);
  // The loop never ran; the window was destroyed, which released the display.
  std::vector<std::string> expected = {"CreateMainWindow", "InitDisplay", "DestroyMainWindow"};
  EXPECT_EQ(platform.calls, expected);
}

TEST_F(AppTest, FailedDisplayWithoutAFileCreatesNone) {
  platform.display_ok = false;
  CMyApp app(platform);
  app.Run();
  EXPECT_EQ(Read("ピョコラン.ini"), "<missing>");
}

TEST_F(AppTest, EscapeRestoresTheMainWindowAndAboutShowsTheBox) {
  CMyApp app(platform, "1.2.3 (git abc)", {"/usr/share/doc/pyokoran/guide.html"});
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnKeyDown(VK_ESCAPE); });
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnKeyDown('A'); });
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnCommand(ID_APP_ABOUT); });
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnCommand(ID_APP_ABOUT); });
  app.Run();
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "RestoreMainWindow"), 1);
  EXPECT_EQ(platform.about_boxes, 2);
  EXPECT_EQ(platform.about_box.version, "1.2.3 (git abc)");
  EXPECT_EQ(platform.about_box.working_folder, dir_.path());
  EXPECT_EQ(platform.about_box.guide_pages, std::vector<std::string>{"/usr/share/doc/pyokoran/guide.html"});
}

TEST_F(AppTest, CancelledStartOpensNoWindowAndChangesNothing) {
  CMyApp app(platform);
  platform.dialog_answers.push_back({false, nullptr});
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnLeftButtonDown(); });
  platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnCommand(ID_APP_EXIT); });
  app.Run();
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "CreateExperimentWindow"), 0);
  EXPECT_TRUE(platform.result_dialogs.empty());
  EXPECT_EQ(Read("ピョコラン.ini"), kDefaultFile);
}

// A seed typed above 2^31 is stored signed and comes back as the same 32 bits.
TEST_F(AppTest, LargeSeedRoundTripsThroughTheFile) {
  {
    CMyApp app(platform);
    platform.main_window_actions.push_back([&](MainWindowHandler&) {
      CSubject dialog;
      dialog.CopyFrom(app.program().settings);
      ConditionControls controls = dialog.ToControls();
      controls.seed = "4000000000";
      ASSERT_EQ(dialog.FromControls(controls), 0);
      dialog.CopyTo(app.program().settings);
    });
    app.Run();
  }
  EXPECT_NE(Read("ピョコラン.ini").find("random_seed = -294967296\r\n"), std::string::npos);
  FakePlatform second;
  CMyApp app(second);
  ConditionControls shown;
  second.main_window_actions.push_back([&](MainWindowHandler&) {
    CSubject dialog;
    dialog.CopyFrom(app.program().settings);
    shown = dialog.ToControls();
  });
  app.Run();
  EXPECT_EQ(shown.seed, "4000000000");
}

}  // namespace
}  // namespace pyokoran
