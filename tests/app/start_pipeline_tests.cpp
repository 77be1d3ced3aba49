// Whole Start commands over the fake platform: dialog, run with scripted presses, result
// files, ranking.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <cstdio>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "app/my_app.h"
#include "platform/fake/fake_platform.h"
#include "support/temp_working_dir.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

// 2014-05-07 13:05:09 in Japan.
constexpr int64_t kRunTime = 1399435509;

class StartPipeline : public ::testing::Test {
 protected:
  StartPipeline() {
    TempWorkingDir::CopySampleStimuli();
    test::SetTimeZone("JST-9");
    platform.now_seconds = kRunTime;
    platform.screen = {1920, 1080};
  }

  Program& program() { return app_.program(); }

  // Presses every target that is up on the hole where it stands, and the first distractor
  // that comes up, each for one event delivery.
  void StrikeTargetsAndOneDistractor() {
    platform.on_pump = [this] {
      PointerHandler* pointer = platform.pointer();
      if (!pointer) return;
      if (pressed_) {
        pointer->OnButtonUp(MouseButton::Left);
        pressed_ = false;
        return;
      }
      const Scheduler& s = program().scheduler;
      for (int i = 0; i < s.creature_count; ++i) {
        const CreatureSlot& slot = s.slots[i];
        if (!slot.up || slot.hit || slot.depth > 64) continue;
        if (!slot.target && struck_distractor_) continue;
        if (!slot.target) struck_distractor_ = true;
        // Stage to screen: the stage fills 1440 x 1080 pixels from x = 240.
        const HoleCentre& c = program().layout.holes[slot.hole];
        pointer->OnButtonDown(MouseButton::Left, 240 + (c.x * 1440 + 1023) / 1024,
                              (c.y * 1080 + 767) / 768);
        pressed_ = true;
        return;
      }
    };
  }

  void StartOnce() {
    platform.main_window_actions.push_back([](MainWindowHandler& w) { w.OnLeftButtonDown(); });
  }

  std::vector<std::string> CallsFrom(const std::string& first) const {
    auto it = std::find(platform.calls.begin(), platform.calls.end(), first);
    return {it, platform.calls.end()};
  }

  TempWorkingDir dir_;
  FakePlatform platform;
  CMyApp app_{platform};
  bool pressed_ = false;
  bool struck_distractor_ = false;
};

TEST_F(StartPipeline, DefaultRunWritesBothResultFilesAndOpensTheRanking) {
  platform.whole_ms_refresh = true;  // the pacing the files were recorded with
  platform.dialog_answers.push_back(
      {true, [](ConditionControls& c) { c.seed = std::string("1"); }});
  StrikeTargetsAndOneDistractor();
  StartOnce();
  app_.Run();

  std::vector<std::string> expected = {
      "ShowConditionDialog", "CreateExperimentWindow", "BindPresentWindow(Experiment)",
      "ShowMessage",         "StartTickThread",        "StopTickThread",
      "ShowMessage",         "BindPresentWindow(Main)", "DestroyExperimentWindow",
      "RestoreMainWindow",   "ShowResultDialog"};
  std::vector<std::string> calls = CallsFrom("ShowConditionDialog");
  calls.resize(expected.size());
  EXPECT_EQ(calls, expected);
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].caption, "開始");
  EXPECT_EQ(platform.messages[1].caption, "終了");

  const ScoreCounters& n = program().scheduler.counters;
  EXPECT_GT(n.Hit, 20);
  EXPECT_EQ(n.FA, 1);
  EXPECT_GT(n.CR, 10);
  EXPECT_EQ(platform.sounds_played, n.Hit + n.FA);
  EXPECT_EQ(program().stimuli.target_sound, nullptr) << "sounds are released after the run";

  // The whole run is reproduced from seed 1 and the virtual clock, so both files are fixed.
  EXPECT_EQ(TempWorkingDir::Read("ピョコラン.txt"),
            TempWorkingDir::Read(std::string(PYOKORAN_SOURCE_DIR) +
                                 "/tests/app/golden/default_run_summary.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"),
            TempWorkingDir::Read(std::string(PYOKORAN_SOURCE_DIR) +
                                 "/tests/app/golden/default_run_SBJ0000.csv"));

  // The timing record beside them, fixed by the same virtual clock.
  const std::string golden = std::string(PYOKORAN_SOURCE_DIR) + "/tests/app/golden/";
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000_timing.csv"),
            TempWorkingDir::Read(golden + "default_run_SBJ0000_timing.csv"));
  EXPECT_EQ(TempWorkingDir::Read("ピョコラン_timing.txt"),
            TempWorkingDir::Read(golden + "default_run_timing.txt"));
  EXPECT_FALSE(std::filesystem::exists("SBJ0000_frames.csv"))
      << "no frames file where the display system reports nothing";

  ASSERT_EQ(platform.result_dialogs.size(), 1u);
  const ResultDialogContent& ranking = platform.result_dialogs[0];
  ASSERT_EQ(ranking.lines.size(), 1u);
  EXPECT_EQ(ranking.selected, 0);
  EXPECT_EQ(ranking.summary.rfind("【最終結果】 SBJ0000 さん ／ スコア：", 0), 0u);
}

// Where the display system reports how each frame completed, every presented frame gets a row
// in the frames file, in order, with its time, refresh counter and how it completed.
TEST_F(StartPipeline, FramesFileHoldsEveryReportedFrame) {
  platform.report_completions = true;
  platform.dialog_answers.push_back(
      {true, [](ConditionControls& c) { c.time_limit = std::string("5"); }});
  StartOnce();
  app_.Run();
  const std::string text = TempWorkingDir::Read("SBJ0000_frames.csv");
  ASSERT_EQ(text.rfind("Subject,Date,Time,Frame,FrameTime,Msc,Completion,Dropped\r\n", 0), 0u) << text;
  int rows = 0;
  int previous_frame = 0;
  long long previous_msc = -1;
  for (size_t at = text.find("\r\n") + 2; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    int frame = 0;
    long long msc = 0;
    char time[32] = {}, mode[32] = {};
    int dropped = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "SBJ0000,%*[^,],%*[^,],%d,%31[^,],%lld,%31[^,],%d", &frame, time,
                          &msc, mode, &dropped), 5) << line;
    EXPECT_GT(frame, previous_frame) << line;
    EXPECT_GT(msc, previous_msc) << line;
    EXPECT_STREQ(mode, "flip");
    EXPECT_EQ(dropped, 0);
    previous_frame = frame, previous_msc = msc;
    ++rows;
  }
  EXPECT_EQ(rows, program().timing.frames);
  EXPECT_GT(rows, 50);
}

// The run's line gives the mode as the display reported it: a lock forced on swaps that did
// not wait is never written as "locked".
TEST_F(StartPipeline, TimingLineWritesTheModeAsItWas) {
  for (const char* mode : {"locked-forced", "locked"}) {
    std::remove("ピョコラン_timing.txt");
    platform.presentation_mode = mode;
    platform.dialog_answers.push_back(
        {true, [](ConditionControls& c) { c.time_limit = std::string("2"); }});
    StartOnce();
    app_.Run();
    const std::string text = TempWorkingDir::Read("ピョコラン_timing.txt");
    EXPECT_NE(text.find(std::string("\t") + mode + "\t"), std::string::npos) << text;
    EXPECT_NE(text.find("\tscripted display\t"), std::string::npos) << "the reason beside it";
  }
}

// Long texts (where frame times came from, with the reason another source was not used) are
// written whole, and every column after them stays in its place.
TEST_F(StartPipeline, TimingLineKeepsLongTextsWhole) {
  std::string long_text = "swap return (the swap and glFinish returned): ";
  while (long_text.size() < 300) long_text += "the swaps did not go through X Present; ";
  platform.frame_times = long_text;
  platform.dialog_answers.push_back(
      {true, [](ConditionControls& c) { c.time_limit = std::string("2"); }});
  StartOnce();
  app_.Run();
  const std::string text = TempWorkingDir::Read("ピョコラン_timing.txt");
  const size_t line = text.find("\r\n") + 2;
  const std::string row = text.substr(line, text.find("\r\n", line) - line);
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t tab = row.find('\t', at);
    fields.push_back(row.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  ASSERT_EQ(fields.size(), 22u) << row;
  EXPECT_EQ(fields[11], long_text);
  EXPECT_EQ(fields[12], "1") << "PresentEvery";
  EXPECT_EQ(fields[16], "scripted") << "EventClock";
  EXPECT_EQ(fields[17], "0") << "ArrivalPresses";
  EXPECT_EQ(fields[21], "") << "Computer (the scripted platform names none)";
}

// Each row says where its press time came from and which of its figures lie beyond what the
// mode promises; the run's line counts them. Here every frame takes 20 ms to hand over (more
// than a 60 Hz refresh), and every press was made 40 ms before the pass that tests it, its
// time alternately the event's own and its arrival.
TEST_F(StartPipeline, TimingRowsMarkArrivalStampsAndFiguresBeyondTheMode) {
  platform.present_send_us = 20000;
  platform.dialog_answers.push_back(
      {true, [](ConditionControls& c) { c.time_limit = std::string("10"); }});
  int presses = 0;
  platform.on_pump = [&] {
    PointerHandler* pointer = platform.pointer();
    if (!pointer) return;
    if (pressed_) {
      pointer->OnButtonUp(MouseButton::Left);
      pressed_ = false;
      return;
    }
    const Scheduler& s = program().scheduler;
    for (int i = 0; i < s.creature_count; ++i) {
      const CreatureSlot& slot = s.slots[i];
      if (!slot.up || slot.hit || slot.depth > 64 || !slot.target) continue;
      const HoleCentre& c = program().layout.holes[slot.hole];
      pointer->OnEventTime(int64_t(program().timer.tick.load()) * 1000 - 40000,
                           presses++ % 2 ? EventTimeSource::Arrival : EventTimeSource::Event);
      pointer->OnButtonDown(MouseButton::Left, 240 + (c.x * 1440 + 1023) / 1024,
                            (c.y * 1080 + 767) / 768);
      pressed_ = true;
      return;
    }
  };
  StartOnce();
  app_.Run();

  const std::string text = TempWorkingDir::Read("SBJ0000_timing.csv");
  std::istringstream in(text);
  std::string row;
  std::getline(in, row);
  ASSERT_EQ(row, "Subject,Date,Time,Trial,ShowTick,FirstFrame,Onset,FullyUp,Press,RT,OnsetRT,TickLagMs,"
                 "PressSource,RiseMs,Over,Computer\r");
  int rows = 0, event = 0, arrival = 0, onset = 0, booking = 0;
  while (std::getline(in, row)) {
    row.pop_back();  // CR
    std::vector<std::string> f(1);
    for (char c : row) {
      if (c == ',') {
        f.emplace_back();
      } else {
        f.back().push_back(c);
      }
    }
    ASSERT_EQ(f.size(), 16u) << row;
    ++rows;
    const bool pressed = !f[8].empty();
    EXPECT_EQ(f[12].empty(), !pressed) << row;
    event += f[12] == "event";
    arrival += f[12] == "arrival";
    EXPECT_FALSE(f[13].empty()) << row;
    const bool has_onset = f[14].find("onset") != std::string::npos;
    const bool has_booking = f[14].find("booking") != std::string::npos;
    EXPECT_EQ(has_onset, !f[6].empty()) << row;
    EXPECT_EQ(has_booking, pressed) << row;
    onset += has_onset;
    booking += has_booking;
  }
  EXPECT_GT(rows, 10);
  EXPECT_EQ(event + arrival, presses);
  EXPECT_EQ(arrival, presses / 2);
  const std::string line = TempWorkingDir::Read("ピョコラン_timing.txt");
  const std::string counts = "\t" + std::to_string(arrival) + "\t" + std::to_string(onset) + "\t0\t" +
                             std::to_string(booking) + "\t\r\n";
  EXPECT_EQ(line.substr(line.size() - counts.size()), counts) << line;
}

TEST_F(StartPipeline, EscapeAbortsWithoutRecordingButStillRanks) {
  TempWorkingDir::Write("ピョコラン.txt",
                        "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\t"
                        "ISI_2\tTmLimit\tRndSeed\tHit\tMiss\tCR\tFA\tScore\r\n"
                        "A\t2014/05/07\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t1\t10\t0\t0"
                        "\t0\t10\r\n");
  const std::string summary_before = TempWorkingDir::Read("ピョコラン.txt");
  platform.dialog_answers.push_back({true, nullptr});
  int pumps = 0;
  platform.on_pump = [&] {
    if (++pumps == 5000) platform.PressKey(VK_ESCAPE);
  };
  StartOnce();
  app_.Run();

  EXPECT_EQ(TempWorkingDir::Read("ピョコラン.txt"), summary_before);
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), "<missing>");
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000_timing.csv"), "<missing>");
  EXPECT_EQ(TempWorkingDir::Read("ピョコラン_timing.txt"), "<missing>");
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[1].caption, "終了");
  ASSERT_EQ(platform.result_dialogs.size(), 1u);
  EXPECT_EQ(platform.result_dialogs[0].lines.size(), 1u);
  std::vector<std::string> after = CallsFrom("DestroyExperimentWindow");
  after.resize(3);
  EXPECT_EQ(after, (std::vector<std::string>{"DestroyExperimentWindow", "RestoreMainWindow",
                                             "ShowResultDialog"}));
}

TEST_F(StartPipeline, ValidationMessageThenCorrectedValueRunsWithIt) {
  platform.dialog_answers.push_back({true, [](ConditionControls& c) {
                                       c.holes = std::string("16");
                                       c.time_limit = std::string("1");
                                     }});
  platform.dialog_answers.push_back(
      {true, [](ConditionControls& c) { c.holes = std::string("10"); }});
  StartOnce();
  app_.Run();

  ASSERT_GE(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "穴の数は 3 以上，15 以下でなければなりません。");
  EXPECT_EQ(platform.messages[0].caption, "Error");
  ASSERT_EQ(platform.dialogs_opened.size(), 2u);
  EXPECT_EQ(platform.dialogs_opened[1].holes, "16") << "shown again with what was entered";
  EXPECT_EQ(program().settings.n_holes, 10);
  EXPECT_EQ(program().settings.time_limit, 1);
  EXPECT_NE(TempWorkingDir::Read("ピョコラン.txt").find("\t6\t3\t10\t1\t2000\t1000\t3000\t1\t"),
            std::string::npos);
  EXPECT_NE(TempWorkingDir::Read("ピョコラン.ini").find("n_holes = 10\r\n"), std::string::npos);
}

}  // namespace
}  // namespace pyokoran
