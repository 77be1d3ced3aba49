#include "run/frame.h"

#include <cstdio>

#include "app/program.h"
#include "display/surfaces.h"

namespace pyokoran {

namespace {
constexpr int32_t kCell = 128;
}  // namespace

std::string FormatStatusText(int32_t tick, int32_t hit, int32_t fa, int32_t miss, int32_t cr) {
  char text[160];
  std::snprintf(text, sizeof text, "%3d びょう…とくてん：%d (%d-%d) ミス：%d CR:%d", tick / 1000,
                int32_t(uint32_t(hit) - uint32_t(fa)), hit, fa, miss, cr);
  return text;
}

void DrawHole(Program& program, int slot_index) {
  const Scheduler& scheduler = program.scheduler;
  if (slot_index < 0 || slot_index >= scheduler.creature_count || slot_index >= kMaxCreatures) {
    return;
  }
  const CreatureSlot& slot = scheduler.slots[slot_index];
  const int h = slot.hole;
  if (h < 0 || h >= kMaxHoles || h >= program.settings.n_holes) return;
  FullScreenDisplay& display = program.display;
  const StimulusSet& stim = program.stimuli;

  BltAt(display, stim.composite_surface[h], 0, 0, stim.base_surface[h], NO_KEY);
  if (slot.depth < kCell) {
    const int32_t* pictures = slot.target ? stim.target_pictures : stim.distractor_pictures;
    int32_t picture = pictures[slot.hit ? 1 : 0];
    // The creature's top rows, unscaled, with their top at row depth.
    Rect src{0, 0, kCell, kCell - slot.depth};
    Rect dst{0, slot.depth, kCell, kCell};
    BltStretch(display, stim.composite_surface[h], &dst, picture, &src, KEY_GREEN);
  }
  BltAt(display, stim.composite_surface[h], 0, 0, stim.lip_surface[h], KEY_GREEN);
  program.stimuli.hole_changed[h] = true;
}

void ComposeFrame(Program& program) {
  FullScreenDisplay& display = program.display;
  StimulusSet& stim = program.stimuli;
  // The background is the same all run and every hole picture and the status band cover
  // their cells whole (cells never overlap), so once the stage holds a composed frame only
  // the holes redrawn since and the band need copying again: the stage comes out the same.
  const bool whole = !stim.stage_composed;
  if (whole) BltAt(display, SURFACE_STAGE, 0, 0, stim.background, NO_KEY);
  const int n_holes = program.settings.n_holes < kMaxHoles ? program.settings.n_holes : kMaxHoles;
  for (int h = 0; h < n_holes; ++h) {
    if (!whole && !stim.hole_changed[h]) continue;
    stim.hole_changed[h] = false;
    const HoleCentre& c = program.layout.holes[h];
    BltAt(display, SURFACE_STAGE, c.x - kCell / 2, c.y - kCell / 2, stim.composite_surface[h],
          NO_KEY);
  }
  stim.stage_composed = true;
  const ScoreCounters& n = program.scheduler.counters;
  int32_t tick = program.timer.tick.load(std::memory_order_relaxed);
  std::string text = FormatStatusText(tick, n.Hit, n.FA, n.Miss, n.CR);
  FillSurface(display, stim.status_surface, 0x000000);
  DrawStatusText(program, text, kStatusTextHeight, kStatusTextColour);
  BltAt(display, SURFACE_STAGE, kStatusX, kStatusY, stim.status_surface, KEY_GREEN);
  PresentFrame(program.platform, display);
}

void DrawStatusText(Program& program, const std::string& text, int32_t height, uint32_t colour) {
  FullScreenDisplay& display = program.display;
  const int32_t index = program.stimuli.status_surface;
  SurfaceDC dc;
  if (!GetSurfaceDC(display, index, dc)) return;
  Surface& surface = *dc.surface;
  program.platform.DrawText(surface, Rect{0, 0, surface.width, surface.height}, text, height,
                            colour);
  ReleaseSurfaceDC(display, index, dc);
}

}  // namespace pyokoran
