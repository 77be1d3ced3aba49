// A stim folder written by the tests: pictures whose every pixel tells where it came from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_fixture.h"

namespace pyokoran::test {

// Background pixel: x and y in the red and green bytes, their high bits in blue (never the
// key colour).
inline uint32_t BackgroundColour(int32_t x, int32_t y) {
  return uint32_t((x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x80 | (x >> 8) << 2 | (y >> 8));
}

// Creature picture p (0 target 1, 1 distractor 1, 2 target 2, 3 distractor 2): its row in
// red, p in green; columns 0 .. 7 are transparent.
inline uint32_t CreatureColour(int p, int32_t x, int32_t y) {
  if (x < 8) return 0x00FF00;
  return uint32_t(y << 16 | (0x10 + p) << 8 | 0x11);
}

inline const char* kPictureNames[4] = {"tgtpokko1.bmp", "dstpokko1.bmp", "tgtpokko2.bmp",
                                       "dstpokko2.bmp"};

struct StimFolder {
  bool background = true;
  bool pictures[4] = {true, true, true, true};
  bool sounds = true;
};

// Writes dir/stim with what folder asks for; the sounds are a few arbitrary bytes.
inline void WriteStimFolder(const std::filesystem::path& dir, const StimFolder& folder) {
  std::filesystem::path stim = dir / "stim";
  std::filesystem::create_directories(stim);
  if (folder.background) {
    WriteFile((stim / "bg.bmp").string(), MakeBmp24(1024, 768, BackgroundColour));
  }
  for (int p = 0; p < 4; ++p) {
    if (!folder.pictures[p]) continue;
    WriteFile((stim / kPictureNames[p]).string(),
              MakeBmp24(128, 128, [p](int32_t x, int32_t y) { return CreatureColour(p, x, y); }));
  }
  if (folder.sounds) {
    WriteFile((stim / "tgtpokko.wav").string(), {'R', 'I', 'F', 'F', 1, 2, 3});
    WriteFile((stim / "dstpokko.wav").string(), {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'});
  }
}

}  // namespace pyokoran::test
