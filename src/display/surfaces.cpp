#include "display/surfaces.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace pyokoran {

namespace {

// The slot an index names, or null: -2 the stage, 0 ... count - 1 the table. The primary
// (-1) has no pixels here and is refused like any unknown index.
SurfaceSlot* Choose(FullScreenDisplay& display, int32_t index) {
  if (index == SURFACE_STAGE) return display.stage.created ? &display.stage : nullptr;
  if (index >= 0 && index < display.surfaces.count()) {
    SurfaceSlot& slot = display.surfaces.slots[size_t(index)];
    return slot.created ? &slot : nullptr;
  }
  return nullptr;
}

bool Busy(const SurfaceSlot& slot) { return slot.locked || slot.dc_out; }

// The surface is about to change: its runs no longer hold.
void DropRuns(SurfaceSlot& slot) {
  slot.opaque_runs.row_first.clear();
  slot.opaque_runs.runs.clear();
}

// Right and bottom exclusive; non-empty and inside a width x height surface.
bool Inside(const Rect& r, int32_t width, int32_t height) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         r.right <= width && r.bottom <= height;
}

// Locks the slot for a shape if it is not locked yet, and unlocks it again on the way out.
class ShapeLock {
 public:
  ShapeLock(FullScreenDisplay& display, int32_t index) : display_(display), index_(index) {
    slot_ = Choose(display, index);
    if (slot_ && !slot_->locked) owned_ = LockSurface(display, index) == 1;
  }
  ~ShapeLock() {
    if (owned_) UnlockSurface(display_, index_);
  }
  ShapeLock(const ShapeLock&) = delete;
  ShapeLock& operator=(const ShapeLock&) = delete;
  // The slot with its pixels, or null when there is nothing to draw into.
  SurfaceSlot* slot() const { return slot_ && slot_->locked && slot_->pixels ? slot_ : nullptr; }

 private:
  FullScreenDisplay& display_;
  int32_t index_;
  SurfaceSlot* slot_ = nullptr;
  bool owned_ = false;
};

// One clipped span into a locked slot; 64-bit so that no argument can overflow.
void Span(SurfaceSlot& slot, int64_t x, int64_t y, int64_t length, uint32_t pixel) {
  if (y < 0 || y >= slot.height) return;
  if (x < 0) {
    length += x;
    x = 0;
  }
  if (x + length >= slot.width) length = slot.width - x;
  if (length <= 0) return;
  uint32_t* p = slot.pixels + size_t(y) * size_t(slot.surface.width) + size_t(x);
  std::fill(p, p + length, pixel);
}

// One row of pixels, those equal to key left out. Written without a branch and with rows
// that never overlap (a copy onto itself goes through a snapshot), so that it vectorises
// (kept out of line: inlined, the compiler forgets that the rows do not overlap).
__attribute__((noinline)) void KeyedRow(uint32_t* __restrict out, const uint32_t* __restrict in, int32_t count,
              uint32_t key) {
  for (int32_t x = 0; x < count; ++x) {
    const uint32_t source = in[x];
    const uint32_t keep = 0u - uint32_t(source == key);  // all ones where the key is
    out[x] = (out[x] & keep) | (source & ~keep);
  }
}

// One row's runs, clipped to the columns left ... right - 1, into out (the column left).
void RunsRow(uint32_t* out, const uint32_t* in, const PixelRun* run, const PixelRun* end,
             int32_t left, int32_t right) {
  for (; run != end; ++run) {
    const int32_t begin = std::max(run->begin, left), stop = std::min(run->end, right);
    if (begin < stop) {
      std::memcpy(out + (begin - left), in + begin, size_t(stop - begin) * sizeof(uint32_t));
    }
  }
}

// Copies src_rect of src into dst_rect of dst; both rectangles already checked. runs, when
// given, are the source's runs for key.
void Copy(Surface& dst, const Rect& d, const Surface& src_in, const Rect& s, int32_t key,
          const OpaqueRuns* runs) {
  // Copying a surface onto itself reads from a snapshot of the source rectangle.
  Surface snapshot;
  const Surface* src = &src_in;
  Rect sr = s;
  if (&src_in == &dst) {
    snapshot = Surface(s.right - s.left, s.bottom - s.top);
    for (int32_t y = s.top; y < s.bottom; ++y) {
      std::memcpy(snapshot.row(y - s.top), src_in.row(y) + s.left,
                  size_t(snapshot.width) * sizeof(uint32_t));
    }
    src = &snapshot;
    sr = {0, 0, snapshot.width, snapshot.height};
  }
  const int32_t dw = d.right - d.left, dh = d.bottom - d.top;
  const int32_t sw = sr.right - sr.left, sh = sr.bottom - sr.top;
  const bool keyed = key != NO_KEY;
  const uint32_t key_pixel = uint32_t(key);

  // Source column for every destination column: the pixel under the destination pixel's
  // centre.
  std::vector<int32_t> columns;
  if (dw != sw) {
    columns.resize(size_t(dw));
    for (int32_t x = 0; x < dw; ++x) {
      columns[size_t(x)] = sr.left + int32_t((int64_t(2 * x + 1) * sw) / (int64_t(2) * dw));
    }
  }
  // The runs serve a copy from another surface at its own size.
  if (runs && src == &src_in && dw == sw && dh == sh && keyed && runs->key == key_pixel &&
      runs->row_first.size() == size_t(src->height) + 1) {
    for (int32_t y = 0; y < dh; ++y) {
      const int32_t sy = sr.top + y;
      const PixelRun* first = runs->runs.data() + runs->row_first[size_t(sy)];
      const PixelRun* end = runs->runs.data() + runs->row_first[size_t(sy) + 1];
      RunsRow(dst.row(d.top + y) + d.left, src->row(sy), first, end, sr.left, sr.right);
    }
    return;
  }
  for (int32_t y = 0; y < dh; ++y) {
    int32_t sy = dh == sh ? sr.top + y
                          : sr.top + int32_t((int64_t(2 * y + 1) * sh) / (int64_t(2) * dh));
    const uint32_t* in = src->row(sy);
    uint32_t* out = dst.row(d.top + y) + d.left;
    if (dw == sw) {
      in += sr.left;
      if (!keyed) {
        std::memcpy(out, in, size_t(dw) * sizeof(uint32_t));
      } else {
        KeyedRow(out, in, dw, key_pixel);
      }
    } else {
      const int32_t* column = columns.data();
      if (keyed) {
        for (int32_t x = 0; x < dw; ++x) {
          const uint32_t p = in[column[x]];
          out[x] = p == key_pixel ? out[x] : p;
        }
      } else {
        for (int32_t x = 0; x < dw; ++x) out[x] = in[column[x]];
      }
    }
  }
}

}  // namespace

int32_t CreateSurface(FullScreenDisplay& display, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide ||
      int64_t(width) * height > kMaxSurfacePixels) {
    return -1;
  }
  try {
    SurfaceSlot slot;
    slot.surface = Surface(width, height);
    slot.width = width;
    slot.height = height;
    slot.created = true;
    display.surfaces.slots.push_back(std::move(slot));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return display.surfaces.count() - 1;
}

void ReleaseAllSurfaces(FullScreenDisplay& display) {
  display.surfaces.slots.clear();
  display.surfaces.slots.shrink_to_fit();
}

int GetSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot || Busy(*slot)) return 0;
  slot->dc_out = true;
  DropRuns(*slot);
  dc.surface = &slot->surface;
  return 1;
}

int ReleaseSurfaceDC(FullScreenDisplay& display, int32_t index, SurfaceDC& dc) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot || !slot->dc_out || dc.surface != &slot->surface) return 0;
  slot->dc_out = false;
  dc.surface = nullptr;
  return 1;
}

int BltAt(FullScreenDisplay& display, int32_t dst, int32_t x, int32_t y, int32_t src,
          int32_t key) {
  SurfaceSlot* s = Choose(display, src);
  if (!s) return 0;
  if (int64_t(x) + s->width > INT32_MAX || int64_t(y) + s->height > INT32_MAX) return 0;
  Rect d{x, y, x + s->width, y + s->height};
  Rect whole{0, 0, s->width, s->height};
  return BltStretch(display, dst, &d, src, &whole, key);
}

int BltStretch(FullScreenDisplay& display, int32_t dst, const Rect* dst_rect, int32_t src,
               const Rect* src_rect, int32_t key) {
  SurfaceSlot* d = Choose(display, dst);
  SurfaceSlot* s = Choose(display, src);
  if (!d || !s || Busy(*d) || Busy(*s)) return 0;
  Rect dr = dst_rect ? *dst_rect : Rect{0, 0, d->width, d->height};
  Rect sr = src_rect ? *src_rect : Rect{0, 0, s->width, s->height};
  if (!Inside(dr, d->width, d->height) || !Inside(sr, s->width, s->height)) return 0;
  const OpaqueRuns* runs = s->opaque_runs.row_first.empty() ? nullptr : &s->opaque_runs;
  Copy(d->surface, dr, s->surface, sr, key, runs);
  DropRuns(*d);
  return 1;
}

int NoteOpaqueRuns(FullScreenDisplay& display, int32_t index, int32_t key) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot || Busy(*slot)) return 0;
  const Surface& surface = slot->surface;
  OpaqueRuns runs;
  runs.key = uint32_t(key);
  try {
    runs.row_first.reserve(size_t(surface.height) + 1);
    for (int32_t y = 0; y < surface.height; ++y) {
      runs.row_first.push_back(int32_t(runs.runs.size()));
      const uint32_t* row = surface.row(y);
      for (int32_t x = 0; x < surface.width;) {
        if (row[x] == runs.key) {
          ++x;
          continue;
        }
        PixelRun run{x, x};
        while (run.end < surface.width && row[run.end] != runs.key) ++run.end;
        runs.runs.push_back(run);
        x = run.end;
      }
    }
    runs.row_first.push_back(int32_t(runs.runs.size()));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  slot->opaque_runs = std::move(runs);
  return 1;
}

int FillSurface(FullScreenDisplay& display, int32_t index, uint32_t colour) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot || Busy(*slot)) return 0;
  DropRuns(*slot);
  std::fill(slot->surface.pixels.begin(), slot->surface.pixels.end(), ColorRefToPixel(colour));
  return 1;
}

int LockSurface(FullScreenDisplay& display, int32_t index) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot || slot->locked || slot->dc_out) return 0;
  slot->locked = 1;
  DropRuns(*slot);
  slot->pixels = slot->surface.pixels.data();
  return 1;
}

int UnlockSurface(FullScreenDisplay& display, int32_t index) {
  SurfaceSlot* slot = Choose(display, index);
  if (!slot) return 0;
  bool was_locked = slot->locked != 0;
  slot->locked = 0;
  slot->pixels = nullptr;
  return was_locked ? 1 : 0;
}

void DrawHLine(FullScreenDisplay& display, int32_t index, int32_t x, int32_t y, int32_t length,
               uint32_t colour) {
  ShapeLock lock(display, index);
  if (SurfaceSlot* slot = lock.slot()) Span(*slot, x, y, length, ColorRefToPixel(colour));
}

void FillBox(FullScreenDisplay& display, int32_t index, int32_t left, int32_t top, int32_t right,
             int32_t bottom, uint32_t colour) {
  ShapeLock lock(display, index);
  SurfaceSlot* slot = lock.slot();
  if (!slot) return;
  // Rows outside the surface draw nothing, so only the rows inside are visited.
  int64_t first = std::max<int64_t>(top, 0);
  int64_t last = std::min<int64_t>(bottom, slot->height - 1);
  uint32_t pixel = ColorRefToPixel(colour);
  for (int64_t y = first; y <= last; ++y) {
    Span(*slot, left, y, int64_t(right) - left + 1, pixel);
  }
}

void FillEllipse(FullScreenDisplay& display, int32_t index, int32_t cx, int32_t cy, int32_t rx,
                 int32_t ry, uint32_t colour) {
  constexpr int32_t kMaxSemiAxis = 1 << 20;
  if (rx < 0 || ry < 0 || rx > kMaxSemiAxis || ry > kMaxSemiAxis) return;
  ShapeLock lock(display, index);
  SurfaceSlot* slot = lock.slot();
  if (!slot) return;
  const uint32_t pixel = ColorRefToPixel(colour);
  auto span = [&](int64_t half, int64_t row) { Span(*slot, cx - half, row, 2 * half + 1, pixel); };

  // One octant of a circle of the larger radius, scaled to the ellipse along the smaller axis.
  const int64_t R = std::max(rx, ry);
  int64_t i = 0, j = R, err = 0, m = 0;
  do {
    err += 2 * i + 1;
    if (err >= 2 * j) {
      err -= 2 * j;
      --j;
      ++m;
    }
    int64_t narrow_half, narrow_row, wide_half, wide_row;
    if (rx > ry) {
      narrow_half = i;
      narrow_row = ry - m * ry / rx;
      wide_half = j;
      wide_row = (i + 1) * ry / rx;
    } else if (rx < ry) {
      narrow_half = (i + 1) * rx / ry;
      narrow_row = j;
      wide_half = rx - m * rx / ry;
      wide_row = i;
    } else {
      narrow_half = i;
      narrow_row = j;
      wide_half = j;
      wide_row = i;
    }
    span(narrow_half, cy + narrow_row);
    span(narrow_half, cy - narrow_row);
    span(wide_half, cy + wide_row);
    span(wide_half, cy - wide_row);
    ++i;
  } while (i <= j);
}

}  // namespace pyokoran
