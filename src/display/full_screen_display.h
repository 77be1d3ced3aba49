// The display object: the 1024 x 768 stage, its fit into the screen, and the table of
// off-screen surfaces.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "display/surface.h"
#include "platform/platform.h"

namespace pyokoran {

constexpr int32_t kStageWidth = 1024;
constexpr int32_t kStageHeight = 768;
constexpr int32_t SURFACE_PRIMARY = -1;
constexpr int32_t SURFACE_STAGE = -2;
constexpr uint32_t KEY_GREEN = 0x00FF00;

// A run of pixels on one row, columns begin ... end - 1.
struct PixelRun {
  int32_t begin = 0;
  int32_t end = 0;
};

// The pixels of a surface that a copy keyed on `key` takes: row y's runs of other pixels are
// runs[row_first[y]] ... runs[row_first[y + 1] - 1], left to right.
struct OpaqueRuns {
  uint32_t key = 0;
  std::vector<int32_t> row_first;  // empty: no runs made
  std::vector<PixelRun> runs;
};

struct SurfaceSlot {
  Surface surface;
  // Made on request for a picture that is copied keyed again and again; dropped by every
  // change to the surface made through the primitives.
  OpaqueRuns opaque_runs;
  bool created = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t locked = 0;
  uint32_t* pixels = nullptr;  // first pixel while locked
  bool dc_out = false;         // a SurfaceDC is handed out; the surface is busy until it returns
};

struct SurfaceTable {
  // Index = surface index. A deque, so that a surface handed out through a SurfaceDC stays
  // where it is while others are created.
  std::deque<SurfaceSlot> slots;
  int32_t count() const { return int32_t(slots.size()); }
};

struct StageGeometry {
  int32_t screen_width = 0;
  int32_t screen_height = 0;
  int32_t stage_width = 0;
  int32_t stage_height = 0;
  Rect stage_rect;
  Rect source_rect;
};

struct FullScreenDisplay {
  bool initialised = false;  // the platform's display is up (InitDisplay succeeded)
  // The visible screen. It has no memory here: the platform shows the stage on it, and the
  // primitives refuse index -1 (see surfaces.h).
  SurfaceSlot primary;
  SurfaceSlot stage;
  StageGeometry geometry;
  SurfaceTable surfaces;
  // Nothing ever looks at the frames (the simulator's virtual display): the stage is not
  // composed, and a hole's picture is drawn only while it must show whether the creature is
  // visible yet. Presents, their times and the timing record are as in a run on a screen.
  bool frames_unseen = false;
};

struct StagePoint {
  int32_t x = 0;
  int32_t y = 0;
};

// Start-up: screen size, fit, the stage surface, then the platform's display. 1 when the
// display is ready; 0 makes start-up fail (what was made is released by ShutdownDisplay).
int InitDisplay(Platform& platform, FullScreenDisplay& display);
// Frames are shown through the given window from now on.
void BindClipper(Platform& platform, FullScreenDisplay& display, WindowId window);
// Shows the stage surface in stage_rect, paced by the display's refresh. changed, when
// given, names the only areas of the stage that differ from the frame presented before.
// 1 when the stage went to the platform, 0 when it was busy (the screen keeps its frame).
int PresentFrame(Platform& platform, FullScreenDisplay& display,
                 const std::vector<Rect>* changed = nullptr);
// Releases every surface and the display; harmless when repeated.
void ShutdownDisplay(Platform& platform, FullScreenDisplay& display);
// The largest centred 4:3 rectangle of the screen (physical pixels).
Rect FitStage(int32_t screen_width, int32_t screen_height);
// A screen point to stage pixels, unclamped (truncated toward zero).
StagePoint ScreenToStage(const StageGeometry& geometry, int32_t x, int32_t y);

}  // namespace pyokoran
