// How long LoadStimuli takes for the sample stimuli and 15 holes (goal: under 50 ms).
// Usage: load_stimuli [folder holding stim/]   (default: the working directory)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/program.h"
#include "display/surfaces.h"
#include "platform/fake/fake_platform.h"

int main(int argc, char** argv) {
  using namespace pyokoran;
  if (argc > 1 && chdir(argv[1]) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  if (!InitDisplay(platform, program->display)) return 1;
  program->settings.n_holes = 15;
  const int xs[5] = {118, 314, 510, 706, 902}, ys[3] = {141, 383, 625};
  for (int h = 0; h < 15; ++h) program->layout.holes[h] = {xs[h % 5], ys[h / 5]};

  std::vector<double> ms;
  for (int i = 0; i < 30; ++i) {
    auto start = std::chrono::steady_clock::now();
    int ok = LoadStimuli(*program);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!ok || !program->stimuli.target_sound) {
      std::fprintf(stderr, "the stim folder did not load\n");
      return 1;
    }
    ReleaseAllSurfaces(program->display);
    program->stimuli.target_sound.reset();
    program->stimuli.distractor_sound.reset();
  }
  std::sort(ms.begin(), ms.end());
  std::printf("LoadStimuli, sample stimuli, 15 holes, %zu runs: min %.2f ms, median %.2f ms, max %.2f ms (goal < 50 ms)\n",
              ms.size(), ms.front(), ms[ms.size() / 2], ms.back());
  return 0;
}
