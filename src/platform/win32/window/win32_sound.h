// Feedback sounds: WAV file images played from memory, asynchronously, a new sound cutting
// off the one still playing (PlaySoundW with SND_MEMORY | SND_ASYNC). Without a sound device
// nothing is heard and nothing is said.
#pragma once

#include <cstdint>
#include <vector>

namespace pyokoran {

class Win32Sound {
 public:
  ~Win32Sound() { Stop(); }
  // Null, or an image that is not a RIFF WAVE file, only stops the current sound. The system
  // reads a sound while it plays, so it plays from a copy of the image kept here: the
  // caller may free its image at any time.
  void Play(const std::vector<uint8_t>* wav);
  void Stop();

 private:
  // Copies of the images played lately (a run plays two), found again by their bytes.
  std::vector<std::vector<uint8_t>> copies_;
};

// True when image starts as a RIFF WAVE file whose stated size fits in it.
bool LooksLikeWav(const std::vector<uint8_t>& image);

}  // namespace pyokoran
