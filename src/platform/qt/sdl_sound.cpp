#include "platform/qt/sdl_sound.h"

namespace pyokoran {

SdlSound::~SdlSound() = default;
void SdlSound::Play(const std::vector<uint8_t>*) {}

}  // namespace pyokoran
