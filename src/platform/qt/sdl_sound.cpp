#include "platform/qt/sdl_sound.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace pyokoran {

namespace {

// One WAV image as played: the bytes it was made from (to recognise the same image at the
// same address) and its samples in the device's format.
struct Clip {
  const std::vector<uint8_t>* key = nullptr;
  std::vector<uint8_t> source;
  std::vector<uint8_t> samples;  // empty when SDL could not read the image
};

constexpr size_t kMaxClips = 4;  // a run has two sounds

}  // namespace

struct SdlSound::Impl {
  enum class State { kUnopened, kOpen, kFailed };
  State state = State::kUnopened;
  bool sdl_started = false;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec obtained{};
  std::vector<std::unique_ptr<Clip>> clips;  // most recently made last

  // Read and written by the audio thread, under the device lock.
  const Clip* playing = nullptr;
  size_t position = 0;

  ~Impl() {
    if (device != 0) SDL_CloseAudioDevice(device);
    if (sdl_started) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Open() {
    if (state != State::kUnopened) return state == State::kOpen;
    state = State::kFailed;
    // SDL would otherwise take over SIGINT and SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_AUDIO) != 0) return false;
    sdl_started = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = &Impl::Fill;
    want.userdata = this;
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &obtained, 0);
    if (device == 0) return false;
    SDL_PauseAudioDevice(device, 0);
    state = State::kOpen;
    return true;
  }

  static void SDLCALL Fill(void* userdata, Uint8* stream, int len) {
    auto* self = static_cast<Impl*>(userdata);
    std::memset(stream, self->obtained.silence, size_t(len));
    const Clip* clip = self->playing;
    if (!clip) return;
    const size_t n = std::min(size_t(len), clip->samples.size() - self->position);
    std::memcpy(stream, clip->samples.data() + self->position, n);
    self->position += n;
    if (self->position >= clip->samples.size()) self->playing = nullptr;
  }

  // The clip made from wav, made now if the image is new or has changed.
  const Clip* Find(const std::vector<uint8_t>& wav) {
    for (const auto& clip : clips) {
      if (clip->key == &wav && clip->source == wav) return clip.get();
    }
    auto clip = std::make_unique<Clip>();
    clip->key = &wav;
    clip->source = wav;
    clip->samples = Convert(wav);

    // Drop the clip this one replaces, and the oldest when there are too many; never one
    // the audio thread is reading.
    SDL_LockAudioDevice(device);
    auto stale = [&](const std::unique_ptr<Clip>& c) {
      bool drop = c->key == &wav;
      if (drop && playing == c.get()) playing = nullptr;
      return drop;
    };
    clips.erase(std::remove_if(clips.begin(), clips.end(), stale), clips.end());
    if (clips.size() >= kMaxClips) {
      if (playing == clips.front().get()) playing = nullptr;
      clips.erase(clips.begin());
    }
    SDL_UnlockAudioDevice(device);
    clips.push_back(std::move(clip));
    return clips.back().get();
  }

  // The image's samples converted to the device's format; empty when unreadable.
  std::vector<uint8_t> Convert(const std::vector<uint8_t>& wav) const {
    std::vector<uint8_t> out;
    if (wav.empty() || wav.size() > size_t(INT_MAX)) return out;
    SDL_RWops* rw = SDL_RWFromConstMem(wav.data(), int(wav.size()));
    if (!rw) return out;
    SDL_AudioSpec wav_spec{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &wav_spec, &buffer, &length)) return out;
    SDL_AudioCVT cvt{};
    if (SDL_BuildAudioCVT(&cvt, wav_spec.format, wav_spec.channels, wav_spec.freq, obtained.format,
                          obtained.channels, obtained.freq) >= 0 &&
        length <= uint32_t(INT_MAX / std::max(cvt.len_mult, 1))) {
      out.resize(size_t(length) * size_t(std::max(cvt.len_mult, 1)));
      std::memcpy(out.data(), buffer, length);
      cvt.buf = out.data();
      cvt.len = int(length);
      if (cvt.needed && SDL_ConvertAudio(&cvt) != 0) {
        out.clear();
      } else {
        out.resize(cvt.needed ? size_t(cvt.len_cvt) : size_t(length));
      }
    }
    SDL_FreeWAV(buffer);
    return out;
  }
};

SdlSound::SdlSound() : impl_(std::make_unique<Impl>()) {}

SdlSound::~SdlSound() = default;

void SdlSound::Play(const std::vector<uint8_t>* wav) {
  if (!wav && impl_->state != Impl::State::kOpen) return;  // nothing can be playing
  if (!impl_->Open()) return;
  const Clip* clip = wav ? impl_->Find(*wav) : nullptr;
  if (clip && clip->samples.empty()) clip = nullptr;
  SDL_LockAudioDevice(impl_->device);
  impl_->playing = clip;
  impl_->position = 0;
  SDL_UnlockAudioDevice(impl_->device);
}

void SdlSound::Prepare() { impl_->Open(); }

bool SdlSound::device_open() const { return impl_->state == Impl::State::kOpen; }

}  // namespace pyokoran
