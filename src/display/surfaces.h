// Off-screen surfaces named by an index, and the drawing primitives on them. Index
// SURFACE_STAGE (-2) is the 1024 x 768 stage. Index SURFACE_PRIMARY (-1), the visible
// screen, has no pixels in this program (the platform presents the stage onto it), so every
// operation refuses it with 0 and draws nothing; this also covers the -1 that a failed
// CreateSurface returns. Surfaces are software memory: nothing is ever lost, and a copy
// waits for nothing.
#pragma once

#include <cstdint>

#include "display/full_screen_display.h"

namespace pyokoran {

constexpr int32_t NO_KEY = -1;
// Largest side and pixel count CreateSurface accepts.
constexpr int32_t kMaxSurfaceSide = 16384;
constexpr int64_t kMaxSurfacePixels = int64_t(1) << 25;

// A drawing context on one surface, for pictures and text. Valid from GetSurfaceDC to
// ReleaseSurfaceDC (or ReleaseAllSurfaces).
struct SurfaceDC {
  Surface* surface = nullptr;
};

// Run preparation: a new surface filled with black; its index, or -1 for a size that is not
// positive or too large, or when memory runs out.
int32_t CreateSurface(FullScreenDisplay& display, int32_t width, int32_t height);
// Every off-screen surface released; the next one created gets index 0.
void ReleaseAllSurfaces(FullScreenDisplay& display);
// Hands out the surface for pictures and text; the surface is busy (no copy, fill or lock)
// until ReleaseSurfaceDC. 0 when the index is unknown or the surface is locked or busy.
int GetSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc);
// Gives the context back and detaches it; 0 (dc left attached) when dc is not this
// surface's.
int ReleaseSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc);
// The whole source with its top-left corner at (x, y); source pixels equal to key (a pixel
// value, or NO_KEY) are not copied. 0 and nothing drawn when the destination rectangle
// leaves the destination surface (no clipping), or a surface is unknown, locked or busy.
int BltAt(FullScreenDisplay& display, int32_t dst, int32_t x, int32_t y, int32_t src,
          int32_t key);
// Source rectangle into destination rectangle, scaled (nearest pixel) when the sizes
// differ; null means the whole surface. Refused like BltAt when either rectangle is empty
// or leaves its surface.
int BltStretch(FullScreenDisplay& display, int32_t dst, const Rect* dst_rect, int32_t src,
               const Rect* src_rect, int32_t key);
// Notes, for a picture that is copied keyed on `key` again and again, where on each row its
// pixels other than the key lie; unscaled keyed copies from it then copy those runs only.
// The note lasts until the surface is next changed through these primitives (a copy into
// it, a fill, a lock or a drawing context handed out); pixels written into it by any other
// way must be followed by a new call. 0 when the index is unknown or the surface busy.
int NoteOpaqueRuns(FullScreenDisplay& display, int32_t index, int32_t key);
// colour is a COLORREF (0x00BBGGRR), written as the pixel 0x00RRGGBB.
int FillSurface(FullScreenDisplay& display, int32_t index, uint32_t colour);
// Marks the surface locked and exposes its pixels in the slot; 0 when already locked.
int LockSurface(FullScreenDisplay& display, int32_t index);
// 0 when the surface was not locked; the lock mark is cleared either way.
int UnlockSurface(FullScreenDisplay& display, int32_t index);
// The shapes lock the surface around themselves when it is not locked already, clip to it,
// and leave its lock state as they found it. COLORREF colours.
void DrawHLine(FullScreenDisplay& display, int32_t index, int32_t x, int32_t y, int32_t length,
               uint32_t colour);
// All four edges inclusive.
void FillBox(FullScreenDisplay& display, int32_t index, int32_t left, int32_t top, int32_t right,
             int32_t bottom, uint32_t colour);
// Centre (cx, cy), semi-axes rx, ry (0 ... 1 << 20; anything else draws nothing).
void FillEllipse(FullScreenDisplay& display, int32_t index, int32_t cx, int32_t cy, int32_t rx,
                 int32_t ry, uint32_t colour);

// COLORREF 0x00BBGGRR to the pixel 0x00RRGGBB.
constexpr uint32_t ColorRefToPixel(uint32_t colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

}  // namespace pyokoran
