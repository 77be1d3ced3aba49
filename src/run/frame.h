// What the participant sees: each hole's picture and the composed stage with its status line.
#pragma once

#include <cstdint>
#include <string>

namespace pyokoran {

struct Program;

// Recomposes the picture of the hole that slot names: ground, creature, lip.
void DrawHole(Program& program, int slot);
// Background, holes and status line onto the stage, then presents it.
void ComposeFrame(Program& program);
// One line of text into the status surface, centred.
void DrawStatusText(Program& program, const std::string& text, int32_t height, uint32_t colour);

}  // namespace pyokoran
