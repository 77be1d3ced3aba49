#include "display/surfaces.h"

namespace pyokoran {

int32_t CreateSurface(FullScreenDisplay&, int32_t, int32_t) { return -1; }
void ReleaseAllSurfaces(FullScreenDisplay& display) { display.surfaces.slots.clear(); }
int GetSurfaceDC(FullScreenDisplay&, int32_t, SurfaceDC&) { return 0; }
int ReleaseSurfaceDC(FullScreenDisplay&, int32_t, SurfaceDC&) { return 0; }
int BltAt(FullScreenDisplay&, int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int BltStretch(FullScreenDisplay&, int32_t, const Rect*, int32_t, const Rect*, int32_t) {
  return 0;
}
int FillSurface(FullScreenDisplay&, int32_t, uint32_t) { return 0; }
int LockSurface(FullScreenDisplay&, int32_t) { return 0; }
int UnlockSurface(FullScreenDisplay&, int32_t) { return 0; }
void DrawHLine(FullScreenDisplay&, int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void FillBox(FullScreenDisplay&, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void FillEllipse(FullScreenDisplay&, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t) {}

}  // namespace pyokoran
