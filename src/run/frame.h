// What the participant sees: each hole's picture and the composed stage with its status line.
#pragma once

#include <cstdint>
#include <string>

namespace pyokoran {

struct Program;

// Where the status band lies on the stage, and its text's size and colour.
constexpr int32_t kStatusX = 10;
constexpr int32_t kStatusY = 4;
constexpr int32_t kStatusTextHeight = 18;
constexpr uint32_t kStatusTextColour = 0xFFFFFF;

// Scheduler, at every change of a slot: recomposes the picture of the hole the slot names
// (ground, creature risen to its depth, lip). Does nothing for an unknown slot or hole.
void DrawHole(Program& program, int slot);
// End of a changed frame step: background, holes and status line onto the stage, then
// presents it. Reads the tick once, for the seconds shown.
void ComposeFrame(Program& program);
// One line of text into the status surface, centred on its black band.
void DrawStatusText(Program& program, const std::string& text, int32_t height, uint32_t colour);
// The status line for a tick and the counters (UTF-8).
std::string FormatStatusText(int32_t tick, int32_t hit, int32_t fa, int32_t miss, int32_t cr);

}  // namespace pyokoran
