// Feedback sounds through SDL's disk driver, which writes every sample the device plays to a
// file: a sound comes out, a new one cuts off the last, unreadable images stay silent.
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/qt/sdl_sound.h"

namespace pyokoran {

namespace {

// A WAV image: 16-bit stereo at 44100 Hz (the device's format, so samples pass unchanged),
// every sample set to value.
std::vector<uint8_t> ConstantWav(int16_t value, int frames) {
  auto put32 = [](std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
  };
  auto put16 = [](std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
  };
  const uint32_t data_bytes = uint32_t(frames) * 4;
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
  put32(wav, 36 + data_bytes);
  for (char c : std::string("WAVEfmt ")) wav.push_back(uint8_t(c));
  put32(wav, 16);
  put16(wav, 1);  // PCM
  put16(wav, 2);
  put32(wav, 44100);
  put32(wav, 44100 * 4);
  put16(wav, 4);
  put16(wav, 16);
  for (char c : std::string("data")) wav.push_back(uint8_t(c));
  put32(wav, data_bytes);
  for (int i = 0; i < frames * 2; ++i) put16(wav, uint16_t(value));
  return wav;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The samples written so far, as runs of equal values: (value, count).
std::vector<std::pair<int16_t, long>> Runs(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::pair<int16_t, long>> runs;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    int16_t v = int16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    if (!runs.empty() && runs.back().first == v) {
      ++runs.back().second;
    } else {
      runs.push_back({v, 1});
    }
  }
  return runs;
}

std::string g_output;  // SDL_DISKAUDIOFILE

}  // namespace

class SdlSoundTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A long sound cut off by a short one that plays to its end, then silence.
  void newSoundCutsOffTheLast() {
    const std::vector<uint8_t> long_sound = ConstantWav(1000, 44100);  // 1 s
    const std::vector<uint8_t> short_sound = ConstantWav(-2000, 4410);  // 0.1 s
    {
      SdlSound sound;
      sound.Play(&long_sound);
      QVERIFY(sound.device_open());
      Sleep(150);
      sound.Play(&short_sound);
      Sleep(800);  // the short sound takes 100 ms; the rest is room for a loaded machine
    }
    std::vector<std::pair<int16_t, long>> runs = Runs(g_output);
    std::vector<std::pair<int16_t, long>> sounding;
    for (const auto& run : runs) {
      if (run.first != 0) sounding.push_back(run);
    }
    QCOMPARE(sounding.size(), size_t(2));
    QCOMPARE(sounding[0].first, int16_t(1000));
    QVERIFY(sounding[0].second < 44100 * 2);  // cut off before its end
    QVERIFY(sounding[0].second > 0);
    QCOMPARE(sounding[1].first, int16_t(-2000));
    QCOMPARE(sounding[1].second, 4410L * 2);  // played whole
  }

  // An image SDL cannot read and a null image are silent; a changed image at the same
  // address plays its new samples, not those made from the old ones.
  void unreadableIsSilentAndChangedImagesArePlayedAfresh() {
    std::vector<uint8_t> image = {'R', 'I', 'F', 'F', 1, 2, 3};
    std::vector<uint8_t> empty;
    {
      SdlSound sound;
      sound.Play(&image);
      sound.Play(&empty);
      sound.Play(nullptr);
      Sleep(50);
      image = ConstantWav(300, 441);  // 10 ms
      sound.Play(&image);
      Sleep(200);
      image = ConstantWav(-700, 441);
      sound.Play(&image);
      Sleep(300);
    }
    std::vector<int16_t> values;
    for (const auto& run : Runs(g_output)) {
      if (run.first != 0) values.push_back(run.first);
    }
    QCOMPARE(values, (std::vector<int16_t>{300, -700}));
  }
};

}  // namespace pyokoran

int main(int argc, char** argv) {
  char dir[] = "/tmp/pyokoran-sound-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  pyokoran::g_output = std::string(dir) + "/out.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", pyokoran::g_output.c_str(), 1);
  pyokoran::SdlSoundTest test;
  int result = QTest::qExec(&test, argc, argv);
  unlink(pyokoran::g_output.c_str());
  rmdir(dir);
  return result;
}

#include "sdl_sound_tests.moc"
