#include "run/scheduler.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/program.h"
#include "run/frame.h"

namespace pyokoran {

namespace {

// Ticks and sums are stored in 32 bits; values beyond that range stop at its ends.
int32_t Saturate(int64_t value) {
  return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

int64_t TimeLimitTicks(const ExperimentSettings& settings) {
  return int64_t(settings.time_limit) * 1000;
}

// trunc(u * (isi2 - isi1) + isi1): a pause drawn from the settings' range.
int64_t Pause(const ExperimentSettings& settings, double u) {
  const double span = double(int64_t(settings.isi2) - settings.isi1);
  return int64_t(u * span + settings.isi1);
}

void Schedule(CreatureSlot& slot, int64_t show_tick, int32_t duration) {
  slot.shown_at = slot.show_at = Saturate(show_tick);
  slot.hide_at = Saturate(int64_t(slot.show_at) + duration);
  slot.pending = 1;
  slot.sinking = 0;
}

// The record's place in the log.
int32_t Append(TrialLog& log, const TrialRecord& record) {
  const int32_t row = log.count;
  log.records[log.count] = record;
  log.records[log.count].Trial = log.count + 1;
  if (log.count < kLogCountLimit) ++log.count;
  return row;
}

// A record of the slot's current appearance, without a response.
TrialRecord RecordOf(const Program& program, int slot_index) {
  const CreatureSlot& slot = program.scheduler.slots[slot_index];
  const HoleCentre& centre = program.layout.holes[slot.hole];
  TrialRecord r;
  r.Pokko = slot_index + 1;
  r.Tgt = slot.target;
  r.Hole = slot.hole + 1;
  r.Hole_X = centre.x;
  r.Hole_Y = centre.y;
  return r;
}

// A Miss or CR: the slot's appearance sank back unstruck.
void AppendUnstruck(Program& program, int slot_index) {
  TrialRecord r = RecordOf(program, slot_index);
  r.Error = r.Tgt;
  const int32_t row = Append(program.scheduler.log, r);
  int64_t lag_us = 0;
  ReadTick(program.platform, program.timer, &lag_us);
  NoteAppearanceBooked(program.timing, slot_index, row, kNoTime, false, lag_us);
}

// A sinking slot has reached the bottom: book it, reserve another hole, draw a new pause.
void EndAppearance(Program& program, int slot_index, int32_t now) {
  Scheduler& scheduler = program.scheduler;
  const ExperimentSettings& settings = program.settings;
  CreatureSlot& slot = scheduler.slots[slot_index];

  slot.depth = kHiddenDepth;
  scheduler.occupancy[slot.hole] = 0;
  if (!slot.hit) {
    if (slot.target) {
      ++scheduler.counters.Miss;
    } else {
      ++scheduler.counters.CR;
    }
    AppendUnstruck(program, slot_index);
  }

  // The hole just left and those of the other creatures always leave one free.
  const int32_t left = slot.hole;
  int32_t h;
  do {
    h = int32_t(settings.n_holes * RandomUnit(program.random));
  } while (h == left || scheduler.occupancy[h] != 0);
  slot.hole = h;
  scheduler.occupancy[h] = 1;

  const double u = RandomUnit(program.random);
  slot.up = 0;
  Schedule(slot, int64_t(now) + Pause(settings, u), settings.duration);
}

}  // namespace

void InitCreatureSlots(Program& program) {
  Scheduler& scheduler = program.scheduler;
  const ExperimentSettings& settings = program.settings;

  scheduler.creature_count = Saturate(int64_t(settings.n_tgtpokko) + settings.n_dstpokko);
  const bool holes_valid = settings.n_holes >= 1 && settings.n_holes <= kMaxHoles;
  if (!holes_valid || scheduler.creature_count >= settings.n_holes) {
    scheduler.creature_count = 0;  // unvalidated settings: an endless hole search otherwise
  }
  const int32_t n_holes = holes_valid ? settings.n_holes : kMaxHoles;
  std::fill_n(scheduler.occupancy, n_holes, 0);
  scheduler.counters = ScoreCounters{};

  for (int i = 0; i < scheduler.creature_count; ++i) {
    CreatureSlot& slot = scheduler.slots[i];
    slot.target = i < settings.n_tgtpokko ? 1 : 0;
    int32_t h;
    bool taken;
    do {
      h = int32_t(RandomUnit(program.random) * settings.n_holes);
      taken = false;
      for (int j = 0; j < i; ++j) taken = taken || scheduler.slots[j].hole == h;
    } while (taken);
    slot.hole = h;
    scheduler.occupancy[h] = 1;

    // The first pause is isi1 longer than the later ones.
    const double u = RandomUnit(program.random);
    slot.depth = kHiddenDepth;
    slot.up = slot.hit = slot.redraw = 0;
    Schedule(slot, settings.isi1 + Pause(settings, u), settings.duration);
  }
}

void ResetTrialLog(TrialLog& log) {
  log.count = 0;
  for (int i = 0; i < kLogCapacity; ++i) {
    TrialRecord& r = log.records[i];
    r.Trial = i + 1;
    r.Resp = r.RT = r.TotalRT = r.Error = 0;
  }
}

void UpdateFrame(Program& program, int force) {
  Scheduler& scheduler = program.scheduler;
  const int64_t limit = TimeLimitTicks(program.settings);
  bool changed = force != 0;
  auto draw = [&](int i) {
    DrawHole(program, i);
    changed = true;
  };

  for (int i = 0; i < scheduler.creature_count; ++i) {
    CreatureSlot& slot = scheduler.slots[i];
    const int32_t now = ReadTick(program.platform, program.timer);

    if (!slot.up) {
      // Waiting: the appearance begins once its tick has come, but never after the limit.
      if (slot.pending && now >= slot.show_at && now < limit) {
        slot.up = 1;
        slot.show_at = 0;
        slot.pending = 0;
        slot.hit = 0;
        slot.depth = kRiseStartDepth;
        BeginAppearanceTiming(program.timing, i, slot.shown_at);
        draw(i);
      }
    } else if (!slot.pending && !slot.sinking) {
      if (slot.depth > 0) {
        slot.depth = std::max(slot.depth - STEP_PX, 0);  // rising
        draw(i);
      } else if (ReadTick(program.platform, program.timer) >= slot.hide_at) {
        slot.hide_at = 0;  // fully up until now: sinking begins
        slot.sinking = 1;
        slot.depth = STEP_PX;
        draw(i);
      } else if (slot.redraw == 1) {
        draw(i);
        slot.redraw = 0;
      }
    } else if (slot.depth != 0) {
      // Sinking.
      slot.depth += STEP_PX;
      if (slot.depth < kHiddenDepth) {
        draw(i);
      } else {
        EndAppearance(program, i, now);
        draw(i);
      }
    }
  }
  if (changed) ComposeFrame(program);
}

int FindStruckSlot(const Program& program, int32_t x, int32_t y) {
  const Scheduler& scheduler = program.scheduler;
  for (int i = 0; i < scheduler.creature_count; ++i) {
    const CreatureSlot& slot = scheduler.slots[i];
    if (!slot.up || slot.hit) continue;
    const HoleCentre& centre = program.layout.holes[slot.hole];
    const double dx = double(x) - centre.x;
    const double dy = double(y) - centre.y;
    if (std::sqrt(dy * dy + dx * dx) <= HIT_RADIUS) return i;
  }
  return -1;
}

void RegisterResponse(Program& program, int slot_index, int32_t x, int32_t y, int32_t now) {
  Scheduler& scheduler = program.scheduler;
  if (slot_index < 0 || slot_index >= scheduler.creature_count) return;
  CreatureSlot& slot = scheduler.slots[slot_index];

  program.platform.PlayWav(slot.target ? program.stimuli.target_sound.get()
                                       : program.stimuli.distractor_sound.get());
  if (slot.target) {
    ++scheduler.counters.Hit;
  } else {
    ++scheduler.counters.FA;
  }

  TrialRecord r = RecordOf(program, slot_index);
  r.Resp = 1;
  r.Resp_X = x;
  r.Resp_Y = y;
  r.RT = Saturate(int64_t(now) - slot.shown_at);
  r.TotalRT = now;
  r.Error = slot.target ? 0 : 1;
  const int32_t row = Append(scheduler.log, r);
  NoteAppearanceBooked(program.timing, slot_index, row, program.timing.press_us,
                       program.timing.press_from_event, program.timing.tick_lag_us);

  // Fully up at once, whatever it was doing, for HIT_SHOW_MS from the response.
  slot.hit = 1;
  slot.redraw = 1;
  slot.depth = 0;
  slot.show_at = 0;
  slot.pending = 0;
  slot.sinking = 0;
  slot.hide_at = Saturate(int64_t(now) + HIT_SHOW_MS);
}

}  // namespace pyokoran
