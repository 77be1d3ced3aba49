#include "timing/appearance_timing.h"

namespace pyokoran {

namespace {

bool ValidSlot(int slot) { return slot >= 0 && slot < kMaxCreatures; }

}  // namespace

void ResetTimingLog(TimingLog& timing) {
  for (SlotTiming& s : timing.slots) s = SlotTiming{};
  for (AppearanceTiming& r : timing.rows) r = AppearanceTiming{};
  timing.press_us = kNoTime;
  timing.press_from_event = false;
  timing.frames = 0;
  timing.frame_rows.clear();
}

void BeginAppearanceTiming(TimingLog& timing, int slot, int32_t shown_at) {
  if (!ValidSlot(slot)) return;
  SlotTiming& s = timing.slots[slot];
  s = SlotTiming{};
  s.appearance.shown_at = shown_at;
  s.first_frame_due = true;
}

void NoteHoleDrawn(TimingLog& timing, int slot, bool visible, bool fully_up) {
  if (!ValidSlot(slot)) return;
  SlotTiming& s = timing.slots[slot];
  if (visible && s.appearance.onset_us == kNoTime) s.onset_due = true;
  if (fully_up && s.appearance.fully_up_us == kNoTime) s.fully_up_due = true;
}

void NoteFramePresented(TimingLog& timing, int64_t tick_us, int64_t send_us, bool reported) {
  ++timing.frames;
  for (SlotTiming& s : timing.slots) {
    if (!s.first_frame_due && !s.onset_due && !s.fully_up_due) continue;
    if (s.first_frame_due) s.appearance.first_frame_us = tick_us;
    if (s.onset_due) {
      s.appearance.onset_us = tick_us;
      s.appearance.onset_send_us = send_us;
      s.appearance.onset_reported = reported;
    }
    if (s.fully_up_due) s.appearance.fully_up_us = tick_us;
    s.first_frame_due = s.onset_due = s.fully_up_due = false;
    if (s.row >= 0 && s.row < kLogCapacity) {
      AppearanceTiming& r = timing.rows[s.row];
      r.first_frame_us = s.appearance.first_frame_us;
      r.onset_us = s.appearance.onset_us;
      r.onset_send_us = s.appearance.onset_send_us;
      r.onset_reported = s.appearance.onset_reported;
      r.fully_up_us = s.appearance.fully_up_us;
    }
  }
}

void NoteFrameCompletion(TimingLog& timing, int64_t tick_us, const FrameCompletion& completion,
                         bool dropped) {
  timing.frame_rows.push_back(FrameRow{timing.frames, tick_us, completion, dropped});
}

void NoteAppearanceBooked(TimingLog& timing, int slot, int32_t row, int64_t press_us,
                          bool from_event, int64_t tick_lag_us) {
  if (!ValidSlot(slot) || row < 0 || row >= kLogCapacity) return;
  SlotTiming& s = timing.slots[slot];
  s.appearance.press_us = press_us;
  s.appearance.press_from_event = press_us != kNoTime && from_event;
  s.appearance.tick_lag_us = tick_lag_us;
  s.row = row;
  timing.rows[row] = s.appearance;
}

}  // namespace pyokoran
