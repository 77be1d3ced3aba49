// Off-screen surfaces named by an index, and the drawing primitives on them. Index
// SURFACE_PRIMARY (-1) is the visible screen, SURFACE_STAGE (-2) the 1024 x 768 stage.
#pragma once

#include <cstdint>

#include "display/full_screen_display.h"

namespace pyokoran {

constexpr int32_t NO_KEY = -1;

// A drawing context on one surface, for pictures and text.
struct SurfaceDC {
  Surface* surface = nullptr;
};

// New surface; its index, or -1 on failure.
int32_t CreateSurface(FullScreenDisplay& display, int32_t width, int32_t height);
// Every off-screen surface released; the next one created gets index 0.
void ReleaseAllSurfaces(FullScreenDisplay& display);
int GetSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc);
int ReleaseSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc);
// The whole source with its top-left corner at (x, y); source pixels equal to key (a pixel
// value, or NO_KEY) are not copied.
int BltAt(FullScreenDisplay& display, int32_t dst, int32_t x, int32_t y, int32_t src,
          int32_t key);
// Source rectangle into destination rectangle, scaled; null means the whole surface.
int BltStretch(FullScreenDisplay& display, int32_t dst, const Rect* dst_rect, int32_t src,
               const Rect* src_rect, int32_t key);
// colour is a COLORREF (0x00BBGGRR), written as the pixel 0x00RRGGBB.
int FillSurface(FullScreenDisplay& display, int32_t index, uint32_t colour);
int LockSurface(FullScreenDisplay& display, int32_t index);
int UnlockSurface(FullScreenDisplay& display, int32_t index);
void DrawHLine(FullScreenDisplay& display, int32_t index, int32_t x, int32_t y, int32_t length,
               uint32_t colour);
void FillBox(FullScreenDisplay& display, int32_t index, int32_t left, int32_t top, int32_t right,
             int32_t bottom, uint32_t colour);
void FillEllipse(FullScreenDisplay& display, int32_t index, int32_t cx, int32_t cy, int32_t rx,
                 int32_t ry, uint32_t colour);

}  // namespace pyokoran
