#include "preparation/stimuli.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <new>


#include "app/program.h"
#include "display/surfaces.h"
#include "platform/file_system.h"
#include "platform/regular_file.h"
#include "preparation/dib_image.h"

namespace pyokoran {

namespace {

constexpr int32_t kCell = 128;
constexpr int32_t kStatusWidth = 420;
constexpr int32_t kStatusHeight = 32;
// The hole opening inside a cell, and the line below which the ground stands in front.
constexpr int32_t kHoleX = 64, kHoleY = 100, kHoleRx = 64, kHoleRy = 24;

std::string Numbered(const char* pattern, int k) {
  char name[64];
  std::snprintf(name, sizeof name, pattern, k);
  return name;
}

// The whole picture stretched over the whole surface.
void DrawPicture(FullScreenDisplay& display, DibImage& image, int32_t surface, int32_t width,
                 int32_t height) {
  SurfaceDC dc;
  if (!GetSurfaceDC(display, surface, dc)) return;
  int32_t rows = image.height() < 0 ? -image.height() : image.height();
  Rect src{0, 0, image.width(), rows};
  Rect dst{0, 0, width, height};
  image.Draw(dc, &src, &dst);
  ReleaseSurfaceDC(display, surface, dc);
}

// Sound: a file that cannot be opened leaves the buffer as it is; an opened one replaces
// it with its whole content, or with null when it is larger than kMaxSoundFileBytes, cannot
// be read or memory runs out.
void LoadSound(const char* path, std::unique_ptr<std::vector<uint8_t>>& buffer) {
  std::FILE* f = FopenRegular(path, "rb");
  if (!f) return;
  buffer.reset();
  FileStatus info;
  if (StatusOf(fileno(f), info) && info.size <= kMaxSoundFileBytes) {
    try {
      auto data = std::make_unique<std::vector<uint8_t>>(size_t(info.size));
      // A file that grows while it is read gets no more than its length at the open.
      if (data->empty() || std::fread(data->data(), 1, data->size(), f) == data->size()) {
        buffer = std::move(data);
      }
    } catch (const std::bad_alloc&) {
    }
  }
  std::fclose(f);
}

// The first row of a surface that holds a pixel other than the key colour; its height when
// none does.
int32_t GroundTop(FullScreenDisplay& display, int32_t index) {
  if (index < 0 || index >= display.surfaces.count()) return 0;
  const Surface& s = display.surfaces.slots[size_t(index)].surface;
  for (int32_t y = 0; y < s.height; ++y) {
    const uint32_t* row = s.row(y);
    for (int32_t x = 0; x < s.width; ++x) {
      if (row[x] != KEY_GREEN) return y;
    }
  }
  return s.height;
}

}  // namespace

int LoadStimuli(Program& program) {
  FullScreenDisplay& display = program.display;
  StimulusSet& stim = program.stimuli;
  const int n_holes = std::clamp<int32_t>(program.settings.n_holes, 0, kMaxHoles);
  DibImage image;
  stim.stage_composed = false;
  std::fill(std::begin(stim.ground_rows), std::end(stim.ground_rows), 0);
  stim.status_text.clear();

  // Background: the picture, or plain green when it is missing or cannot be drawn.
  stim.background = CreateSurface(display, kStageWidth, kStageHeight);
  if (image.Load(kBackgroundFile)) {
    DrawPicture(display, image, stim.background, kStageWidth, kStageHeight);
  } else {
    FillSurface(display, stim.background, kDefaultBackground);
  }

  // Creature pictures: target 1, distractor 1, target 2, distractor 2; the first that
  // fails stops the loading.
  for (int k = 1; k <= 2; ++k) {
    struct {
      int32_t* surface;
      const char* pattern;
    } pictures[] = {{&stim.target_pictures[k - 1], kTargetPictureFile},
                    {&stim.distractor_pictures[k - 1], kDistractorPictureFile}};
    for (auto& picture : pictures) {
      *picture.surface = CreateSurface(display, kCell, kCell);
      std::string name = Numbered(picture.pattern, k);
      if (!image.Load(name)) {
        image.Release();
        program.platform.ShowMessage("パターンファイル[" + name + "]が見つかりません。", "Error",
                                     MessageIcon::None);
        ReleaseAllSurfaces(display);
        return 0;
      }
      DrawPicture(display, image, *picture.surface, kCell, kCell);
      NoteOpaqueRuns(display, *picture.surface, KEY_GREEN);  // copied keyed every frame
    }
  }
  image.Release();

  stim.status_surface = CreateSurface(display, kStatusWidth, kStatusHeight);
  for (int h = 0; h < n_holes; ++h) {
    stim.composite_surface[h] = CreateSurface(display, kCell, kCell);
    stim.base_surface[h] = CreateSurface(display, kCell, kCell);
    stim.lip_surface[h] = CreateSurface(display, kCell, kCell);
  }

  // Each hole's ground: its cell of the background with the black opening.
  for (int h = 0; h < n_holes; ++h) {
    const HoleCentre& c = program.layout.holes[h];
    Rect src{c.x - kCell / 2, c.y - kCell / 2, c.x + kCell / 2, c.y + kCell / 2};
    Rect dst{0, 0, kCell, kCell};
    BltStretch(display, stim.base_surface[h], &dst, stim.background, &src, NO_KEY);
    FillEllipse(display, stim.base_surface[h], kHoleX, kHoleY, kHoleRx, kHoleRy, 0x000000);
  }
  // Each hole's lip: the ground in front of the opening, everything else the key colour.
  for (int h = 0; h < n_holes; ++h) {
    BltAt(display, stim.lip_surface[h], 0, 0, stim.base_surface[h], NO_KEY);
    FillBox(display, stim.lip_surface[h], 0, 0, kCell, kHoleY, KEY_GREEN);
    FillEllipse(display, stim.lip_surface[h], kHoleX, kHoleY, kHoleRx, kHoleRy, KEY_GREEN);
    stim.lip_ground_top[h] = GroundTop(display, stim.lip_surface[h]);
    NoteOpaqueRuns(display, stim.lip_surface[h], KEY_GREEN);
  }

  LoadSound(kTargetSoundFile, stim.target_sound);
  LoadSound(kDistractorSoundFile, stim.distractor_sound);
  return 1;
}

}  // namespace pyokoran
