// The picture of the whole experiment window that both ways to the screen send from: black,
// with the stage scaled (nearest pixel) into its rectangle. A new frame is compared with the
// one on screen, only what differs is scaled into the picture, and the window rectangles
// that changed are handed to the caller to send.
//
// No Windows types: the display hands its rows to StretchDIBits or to a Direct3D texture.
#pragma once

#include <cstdint>
#include <vector>

#include "display/surface.h"
#include "platform/platform.h"

namespace pyokoran {

class StagePicture {
 public:
  // The window's size in pixels and where the stage lands in it (window pixels, may reach
  // outside). After a change everything is sent again.
  void SetLayout(int32_t window_width, int32_t window_height, const Rect& stage_rect);
  // Takes a frame. changed, when given, names the only areas of the stage that may differ
  // from the frame taken before (each is narrowed to the box around its pixels that do);
  // otherwise the stage is compared in 64 x 64 tiles. Returns the window rectangles to send,
  // in window pixels (all of the window after a new layout or Invalidate).
  const std::vector<Rect>& Take(const Surface& stage, const std::vector<Rect>* changed);
  // The window lost its picture: the next Take sends all of it.
  void Invalidate() { whole_ = true; }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  const uint32_t* pixels() const { return pixels_.data(); }
  const uint32_t* row(int32_t y) const { return pixels_.data() + size_t(y) * size_t(width_); }
  // The stage rectangles that differed in the last Take (stage pixels).
  const std::vector<Rect>& changed_stage() const { return changed_stage_; }
  // Where stage rectangle r lands in the window (before clipping).
  Rect Scaled(const Rect& r) const;

 private:
  void MapStage(int32_t stage_width, int32_t stage_height);
  void TakeArea(const Surface& stage, const Rect& area);
  void ScaleIn(const Rect& stage_area);

  int32_t width_ = 0, height_ = 0;
  Rect stage_rect_;
  std::vector<uint32_t> pixels_;  // the window's picture, width_ x height_
  Surface shown_;                 // the stage as on screen
  bool whole_ = true;
  // Stage column and row of each pixel of the stage rectangle, and the first pixel of it
  // that shows each stage column and row (one more entry: the rectangle's size).
  std::vector<int32_t> columns_, rows_, first_x_, first_y_;
  int32_t mapped_width_ = -1, mapped_height_ = -1;
  std::vector<Rect> changed_stage_;
  std::vector<Rect> send_;
};

}  // namespace pyokoran
