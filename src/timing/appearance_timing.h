// When each appearance reached the participant's screen and when it was struck, on the tick
// clock in microseconds: the first presented frame of the appearance, the first that showed
// any of the creature (onset: a picture whose top rows are key colour shows only a few
// frames later), the first in which it was fully up, and the time of the press that struck
// it. Kept beside
// the trial log, row for row.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "run/scheduler.h"
#include "timing/flip_times.h"

namespace pyokoran {

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

struct AppearanceTiming {
  int32_t shown_at = 0;          // scheduled show tick
  int64_t first_frame_us = kNoTime;  // first frame of the appearance (depth 124)
  int64_t onset_us = kNoTime;    // first frame showing any of the creature
  int64_t onset_send_us = kNoTime;  // how long that frame's present took to send it
  bool onset_reported = false;   // its time is the display system's report of its completion
  int64_t fully_up_us = kNoTime;  // first frame showing it fully up
  int64_t press_us = kNoTime;    // the press that struck it
  bool press_from_event = false;  // press_us is the event's own time, not its arrival
  int64_t tick_lag_us = 0;       // how far the tick counter was behind the clock at booking
};

struct SlotTiming {
  AppearanceTiming appearance;  // the slot's current appearance
  int32_t row = -1;             // its row in the log once booked, while frames still follow
  bool first_frame_due = false;  // begun: the next presented frame is its first
  bool onset_due = false;       // drawn visible: the next presented frame is the onset
  bool fully_up_due = false;    // drawn fully up: the next presented frame shows it so
};

// A presented frame as the display system reported its completion.
struct FrameRow {
  int32_t frame = 0;      // its number among the run's presented frames, from 1
  int64_t time_us = 0;    // on the tick clock
  FrameCompletion completion;
  bool dropped = false;   // skipped, or shown on a later refresh than due
};

struct TimingLog {
  SlotTiming slots[kMaxCreatures];
  AppearanceTiming rows[kLogCapacity];  // row i belongs to the trial log's record i
  int64_t press_us = kNoTime;  // the trial loop's press being tested (RegisterResponse books it)
  bool press_from_event = false;  // its time is the event's own
  int64_t tick_lag_us = 0;     // the counter's lag behind the clock when the loop read the tick
  int32_t frames = 0;          // frames presented in the run
  std::vector<FrameRow> frame_rows;  // where the display system reports completions
};

// Run preparation: every slot and row cleared.
void ResetTimingLog(TimingLog& timing);
// Scheduler: an appearance of slot begins, scheduled for shown_at.
void BeginAppearanceTiming(TimingLog& timing, int slot, int32_t shown_at);
// Frame composition: the slot's hole was drawn; visible = some of the creature shows,
// fully_up = all of it has risen.
void NoteHoleDrawn(TimingLog& timing, int slot, bool visible, bool fully_up);
// After a present, with its time: it is the onset or fully-up frame of every slot drawn so
// since the previous one. send_us: how long the present took to send the picture (kNoTime:
// not known); reported: tick_us is the display system's report of the frame's completion.
void NoteFramePresented(TimingLog& timing, int64_t tick_us, int64_t send_us = kNoTime,
                        bool reported = false);
// After NoteFramePresented, where the display system reported how the frame completed.
void NoteFrameCompletion(TimingLog& timing, int64_t tick_us, const FrameCompletion& completion,
                         bool dropped);
// Scheduler: the slot's appearance was booked in row of the log, struck at press_us
// (kNoTime for a Miss or CR; from_event: the event's own time), with the tick counter
// tick_lag_us behind the clock. Frames that follow still fill the row in.
void NoteAppearanceBooked(TimingLog& timing, int slot, int32_t row, int64_t press_us,
                          bool from_event, int64_t tick_lag_us);

}  // namespace pyokoran
