// Feedback sounds: a WAV image from memory, played asynchronously over SDL2 audio. SDL is
// started on the first Play, so the program starts without it; with no audio device, or a
// WAV SDL cannot read, playing is silent.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pyokoran {

class SdlSound {
 public:
  SdlSound();
  ~SdlSound();
  SdlSound(const SdlSound&) = delete;
  SdlSound& operator=(const SdlSound&) = delete;

  // Starts wav, cutting off what still plays; null or unplayable only stops. The image is
  // parsed and converted once and kept, keyed by its address and checked against its bytes.
  // UI thread.
  void Play(const std::vector<uint8_t>* wav);
  // Starts SDL audio and opens the device now rather than at the first Play (which then
  // costs the opening, here about 10 ms); harmless when repeated. UI thread.
  void Prepare();
  // True once an audio device is open.
  bool device_open() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pyokoran
