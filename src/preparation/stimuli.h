// The run's pictures (as surface indices) and feedback sounds.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "preparation/hole_layout.h"

namespace pyokoran {

struct Program;

// Stimulus files, relative to the working directory; %d is 1 (not struck) or 2 (struck).
inline constexpr const char* kBackgroundFile = "stim/bg.bmp";
inline constexpr const char* kTargetPictureFile = "stim/tgtpokko%d.bmp";
inline constexpr const char* kDistractorPictureFile = "stim/dstpokko%d.bmp";
inline constexpr const char* kTargetSoundFile = "stim/tgtpokko.wav";
inline constexpr const char* kDistractorSoundFile = "stim/dstpokko.wav";
// A feedback sound is a short WAV file; a larger one counts as one that could not be read
// and the run is silent for it. 16 MiB holds 90 s of CD-quality stereo.
constexpr int64_t kMaxSoundFileBytes = int64_t(16) << 20;
// Background colour when bg.bmp is missing or cannot be drawn (COLORREF: green 200).
constexpr uint32_t kDefaultBackground = 0x00C800;

struct StimulusSet {
  int32_t background = -1;
  int32_t target_pictures[2] = {-1, -1};      // 0 not struck, 1 struck
  int32_t distractor_pictures[2] = {-1, -1};  // 0 not struck, 1 struck
  int32_t status_surface = -1;
  int32_t composite_surface[kMaxHoles] = {};
  int32_t base_surface[kMaxHoles] = {};
  int32_t lip_surface[kMaxHoles] = {};
  std::unique_ptr<std::vector<uint8_t>> target_sound;      // null = no sound
  std::unique_ptr<std::vector<uint8_t>> distractor_sound;  // null = no sound

  // Frame composition's bookkeeping: the stage already holds this run's last composed frame,
  // and which holes' pictures have been redrawn since.
  bool stage_composed = false;
  bool hole_changed[kMaxHoles] = {};
  // For a changed hole, the first row of its picture redrawn since the stage last took it.
  int32_t redrawn_top[kMaxHoles] = {};
  // The rows at the top of each hole's picture known to hold its bare ground (0: none known).
  int32_t ground_rows[kMaxHoles] = {};
  std::string status_text;  // the text in status_surface, drawn again only when it changes
  std::array<int32_t, 5> status_shown{};  // its whole seconds, Hit, FA, Miss and CR
  std::vector<Rect> changed_areas;  // of the stage in the frame being composed
  // First row of each lip that holds ground (rows above it are all key colour).
  int32_t lip_ground_top[kMaxHoles] = {};
};

// Run preparation: reads the stim folder into surfaces and sounds. 1 success; 0 after the
// message naming the creature picture that failed, with all surfaces released.
int LoadStimuli(Program& program);

}  // namespace pyokoran
