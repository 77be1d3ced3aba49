// The run's pictures (as surface indices) and feedback sounds.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "preparation/hole_layout.h"

namespace pyokoran {

struct Program;

struct StimulusSet {
  int32_t background = -1;
  int32_t target_pictures[2] = {-1, -1};
  int32_t distractor_pictures[2] = {-1, -1};
  int32_t status_surface = -1;
  int32_t composite_surface[kMaxHoles] = {};
  int32_t base_surface[kMaxHoles] = {};
  int32_t lip_surface[kMaxHoles] = {};
  std::unique_ptr<std::vector<uint8_t>> target_sound;      // null = no sound
  std::unique_ptr<std::vector<uint8_t>> distractor_sound;  // null = no sound
};

// Reads the stim folder into surfaces and sounds. 1 success; 0 after its message, with all
// surfaces released.
int LoadStimuli(Program& program);

}  // namespace pyokoran
