#include "run/frame.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "display/surfaces.h"

namespace pyokoran {

namespace {

constexpr int32_t kCell = 128;

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Where the status band lands on the stage.
Rect StatusBandRect(const FullScreenDisplay& display, int32_t index) {
  if (index < 0 || index >= display.surfaces.count()) return {};
  const SurfaceSlot& slot = display.surfaces.slots[size_t(index)];
  return Rect{kStatusX, kStatusY, kStatusX + slot.width, kStatusY + slot.height};
}

// Whether the hole's picture shows any of the creature: some row from depth down differs
// from the bare ground.
bool CreatureShows(const FullScreenDisplay& display, const StimulusSet& stim, int h,
                   int32_t depth) {
  const int32_t composite = stim.composite_surface[h], base = stim.base_surface[h];
  if (composite < 0 || base < 0 || composite >= display.surfaces.count() ||
      base >= display.surfaces.count()) {
    return false;
  }
  const Surface& c = display.surfaces.slots[size_t(composite)].surface;
  const Surface& b = display.surfaces.slots[size_t(base)].surface;
  if (c.width != b.width || c.height != b.height) return false;
  const int32_t first = std::clamp(depth, 0, c.height);
  return std::memcmp(c.row(first), b.row(first),
                     size_t(c.height - first) * size_t(c.width) * sizeof(uint32_t)) != 0;
}

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
  StimulusSet& stim = program.stimuli;
  const int32_t composite = stim.composite_surface[h];

  if (display.frames_unseen) {
    // Once the creature is known to show (or while no creature is up) the picture serves
    // nothing: it is drawn whole again when next it must tell whether a creature shows.
    const SlotTiming& timing = program.timing.slots[slot_index];
    const bool shown = timing.appearance.onset_us != kNoTime || timing.onset_due;
    if (!slot.up || shown) {
      stim.ground_rows[h] = 0;
      if (slot.up) NoteHoleDrawn(program.timing, slot_index, true, slot.depth == 0);
      return;
    }
  }

  // Rows above the creature and the lip stay bare ground, so only the rows from the first
  // that may differ from the ground, now or as last drawn, are drawn again.
  const bool creature = slot.depth >= 0 && slot.depth < kCell;
  const int32_t lip_top = std::clamp(stim.lip_ground_top[h], 0, kCell);
  const int32_t first = std::min(creature ? slot.depth : kCell, lip_top);
  const int32_t top = std::min(std::clamp(stim.ground_rows[h], 0, kCell), first);
  if (top < kCell) {
    Rect rows{0, top, kCell, kCell};
    const bool ground = BltStretch(display, composite, &rows, stim.base_surface[h], &rows, NO_KEY);
    stim.ground_rows[h] = ground ? first : 0;
  }
  if (creature) {
    const int32_t* pictures = slot.target ? stim.target_pictures : stim.distractor_pictures;
    int32_t picture = pictures[slot.hit ? 1 : 0];
    // The creature's top rows, unscaled, with their top at row depth.
    Rect src{0, 0, kCell, kCell - slot.depth};
    Rect dst{0, slot.depth, kCell, kCell};
    BltStretch(display, composite, &dst, picture, &src, KEY_GREEN);
  }
  // The lip: only its rows that hold ground, the rows above being all key colour.
  if (lip_top < kCell) {
    Rect src{0, lip_top, kCell, kCell};
    BltStretch(display, composite, &src, stim.lip_surface[h], &src, KEY_GREEN);
  }
  stim.redrawn_top[h] = stim.hole_changed[h] ? std::min(stim.redrawn_top[h], top) : top;
  stim.hole_changed[h] = true;

  if (slot.up) {
    // Some of the creature shows when the hole differs from its bare ground below depth.
    const SlotTiming& timing = program.timing.slots[slot_index];
    bool visible = timing.appearance.onset_us != kNoTime || timing.onset_due;
    if (!visible && slot.depth < kCell) visible = CreatureShows(display, stim, h, slot.depth);
    NoteHoleDrawn(program.timing, slot_index, visible, slot.depth == 0);
  }
}

void ComposeFrame(Program& program) {
  FullScreenDisplay& display = program.display;
  StimulusSet& stim = program.stimuli;
  // The background is the same all run and every hole picture and the status band cover
  // their cells whole (cells never overlap), so once the stage holds a composed frame only
  // the rows of holes redrawn since and the band need copying again: the stage comes out the
  // same.
  // What was copied is handed to the present, which then sends only that.
  std::vector<Rect>& changed = stim.changed_areas;
  changed.clear();
  if (display.frames_unseen) {
    // Nothing looks at the stage: the frame is presented as it stands.
    for (bool& h : stim.hole_changed) h = false;
    stim.stage_composed = true;
    ReadTick(program.platform, program.timer);
    if (PresentFrame(program.platform, display, &changed)) {
      int64_t tick_us;
      if (!program.platform.LastPresentTickUs(tick_us)) {
        tick_us = int64_t(ReadTick(program.platform, program.timer)) * 1000;
      }
      NoteFramePresented(program.timing, tick_us);
    }
    return;
  }
  const bool whole = !stim.stage_composed;
  if (whole) {
    BltAt(display, SURFACE_STAGE, 0, 0, stim.background, NO_KEY);
    changed.push_back(Rect{0, 0, kStageWidth, kStageHeight});
  }
  const int n_holes = program.settings.n_holes < kMaxHoles ? program.settings.n_holes : kMaxHoles;
  const Rect band = StatusBandRect(display, stim.status_surface);
  bool band_covered = false;  // a hole copied over part of the band
  for (int h = 0; h < n_holes; ++h) {
    if (!whole && !stim.hole_changed[h]) continue;
    stim.hole_changed[h] = false;
    // Only the picture's rows from the first redrawn since the last frame.
    const int32_t top = whole ? 0 : std::clamp(stim.redrawn_top[h], 0, kCell);
    if (top == kCell) continue;
    const HoleCentre& c = program.layout.holes[h];
    if (int64_t(c.x) - kCell / 2 < 0 || int64_t(c.y) - kCell / 2 < 0 ||
        int64_t(c.x) + kCell / 2 > kStageWidth || int64_t(c.y) + kCell / 2 > kStageHeight) {
      continue;  // a cell off the stage is not drawn
    }
    const Rect area{c.x - kCell / 2, c.y - kCell / 2 + top, c.x + kCell / 2, c.y + kCell / 2};
    const Rect rows{0, top, kCell, kCell};
    if (BltStretch(display, SURFACE_STAGE, &area, stim.composite_surface[h], &rows, NO_KEY)) {
      if (!whole) changed.push_back(area);
      band_covered = band_covered || Overlap(area, band);
    }
  }
  stim.stage_composed = true;

  // The band's text is drawn again only when it changes, and the band copied again only
  // then or when a hole was copied over it.
  // The text is formatted again only when what it shows (whole seconds and counters) does.
  const ScoreCounters& n = program.scheduler.counters;
  const int32_t tick = ReadTick(program.platform, program.timer);
  const std::array<int32_t, 5> shown{tick / 1000, n.Hit, n.FA, n.Miss, n.CR};
  bool new_text = false;
  if (whole || shown != stim.status_shown) {
    std::string text = FormatStatusText(tick, n.Hit, n.FA, n.Miss, n.CR);
    new_text = whole || text != stim.status_text;
    stim.status_shown = shown;
    if (new_text) {
      FillSurface(display, stim.status_surface, 0x000000);
      DrawStatusText(program, text, kStatusTextHeight, kStatusTextColour);
      stim.status_text = std::move(text);
    }
  }
  if (new_text || band_covered) {
    if (BltAt(display, SURFACE_STAGE, kStatusX, kStatusY, stim.status_surface, KEY_GREEN) &&
        !whole) {
      changed.push_back(band);
    }
  }
  // A frame that did not go out is neither counted nor stamped: what it showed first is
  // stamped by the next frame that does.
  if (PresentFrame(program.platform, display, &changed) && !program.platform.LastPresentFailed()) {
    int64_t tick_us;
    if (!program.platform.LastPresentTickUs(tick_us)) {
      tick_us = int64_t(ReadTick(program.platform, program.timer)) * 1000;
    }
    FrameCompletion completion;
    bool dropped = false;
    const bool reported = program.platform.LastPresentCompletion(completion, dropped);
    int64_t send_us = kNoTime;
    if (!program.platform.LastPresentSendUs(send_us)) send_us = kNoTime;
    NoteFramePresented(program.timing, tick_us, send_us,
                       reported || program.platform.LastPresentStampReported());
    if (reported) NoteFrameCompletion(program.timing, tick_us, completion, dropped);
  }
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
