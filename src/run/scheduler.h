// When and where each creature comes up, how responses are booked, the counters and the
// per-appearance log.
#pragma once

#include <cstdint>

namespace pyokoran {

struct Program;

constexpr int kMaxCreatures = 15;
constexpr int kLogCapacity = 5000;
constexpr int kLogCountLimit = 4999;

constexpr int32_t STEP_PX = 4;         // rows per frame of rising or sinking
constexpr int32_t kHiddenDepth = 128;  // the creature picture's height
constexpr int32_t kRiseStartDepth = 124;
constexpr int32_t HIT_SHOW_MS = 1000;  // a struck creature stays fully up this long
constexpr double HIT_RADIUS = 64.0;    // stage pixels from the hole centre

struct CreatureSlot {
  int32_t target = 0;    // 1 target, 0 distractor
  int32_t hole = 0;      // hole occupied or reserved
  int32_t show_at = 0;   // tick of the next appearance; 0 = none pending
  int32_t hide_at = 0;   // tick from which a fully risen creature sinks; 0 once sinking
  int32_t depth = 128;   // rows of the picture still below the hole's top (128 hidden, 0 up)
  int32_t shown_at = 0;  // scheduled show tick of the current appearance
  int32_t up = 0;        // 1 from the start of an appearance until fully sunk
  int32_t hit = 0;       // 1 once the current appearance was struck
  int32_t redraw = 0;    // 1 when a response changed the picture
  int32_t pending = 0;   // 1 while an appearance is scheduled (show_at may then be 0)
  int32_t sinking = 0;   // 1 from the frame sinking begins (hide_at may have been 0 before)
};

struct ScoreCounters {
  int32_t Hit = 0;
  int32_t Miss = 0;
  int32_t CR = 0;
  int32_t FA = 0;
};

struct TrialRecord {
  int32_t Trial = 0;
  int32_t Pokko = 0;
  int32_t Tgt = 0;
  int32_t Hole = 0;
  int32_t Hole_X = 0;
  int32_t Hole_Y = 0;
  int32_t Resp = 0;
  int32_t Resp_X = 0;
  int32_t Resp_Y = 0;
  int32_t RT = 0;
  int32_t TotalRT = 0;
  int32_t Error = 0;
};

struct TrialLog {
  int32_t count = 0;
  TrialRecord records[kLogCapacity];
};

// The scheduler's state for one run.
struct Scheduler {
  CreatureSlot slots[kMaxCreatures];
  int32_t creature_count = 0;
  int32_t occupancy[kMaxCreatures] = {};
  ScoreCounters counters;
  TrialLog log;
};

// Run preparation, after seeding: creature_count, occupancy and counters cleared, every
// creature placed in its first hole with its first show tick (draws random numbers). Expects
// validated settings (creature_count < n_holes <= 15); otherwise no creature is placed.
void InitCreatureSlots(Program& program);
// Count 0, every record numbered and its response fields cleared.
void ResetTrialLog(TrialLog& log);
// Called by the trial loop once per pass: advances every slot by one frame, reading the tick
// afresh per slot; draws changed holes and composes the frame when anything changed (or
// force is 1).
void UpdateFrame(Program& program, int force);
// The first up, unstruck slot whose hole centre lies within 64 stage pixels; -1 for none.
int FindStruckSlot(const Program& program, int32_t x, int32_t y);
// Books a response that struck slot at tick now, starting its feedback sound first.
void RegisterResponse(Program& program, int slot, int32_t x, int32_t y, int32_t now);

}  // namespace pyokoran
