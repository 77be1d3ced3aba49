// Feedback sounds: a WAV image from memory, played asynchronously over SDL2 audio.
#pragma once

#include <cstdint>
#include <vector>

namespace pyokoran {

class SdlSound {
 public:
  ~SdlSound();
  // Starts wav, cutting off what still plays; null or unplayable only stops.
  void Play(const std::vector<uint8_t>* wav);
};

}  // namespace pyokoran
