#include "platform/win32/window/win32_sound.h"

#include <cstring>

#include "platform/win32/window/windows_api.h"
#include <mmsystem.h>

namespace pyokoran {

bool LooksLikeWav(const std::vector<uint8_t>& image) {
  if (image.size() < 12 || std::memcmp(image.data(), "RIFF", 4) != 0 ||
      std::memcmp(image.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  const uint32_t riff_size = uint32_t(image[4]) | uint32_t(image[5]) << 8 |
                             uint32_t(image[6]) << 16 | uint32_t(image[7]) << 24;
  return uint64_t(riff_size) + 8 <= image.size();
}

void Win32Sound::Play(const std::vector<uint8_t>* wav) {
  if (!wav || !LooksLikeWav(*wav)) {
    Stop();
    return;
  }
  const std::vector<uint8_t>* copy = nullptr;
  for (const std::vector<uint8_t>& c : copies_) {
    if (c.size() == wav->size() && std::memcmp(c.data(), wav->data(), c.size()) == 0) copy = &c;
  }
  if (!copy) {
    Stop();  // no copy may go while the system reads it
    if (copies_.size() >= 2) copies_.erase(copies_.begin());
    copies_.push_back(*wav);
    copy = &copies_.back();
  }
  // A new sound stops the one playing.
  PlaySoundW(reinterpret_cast<LPCWSTR>(copy->data()), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}

void Win32Sound::Stop() {
  PlaySoundW(nullptr, nullptr, 0);
}

}  // namespace pyokoran
