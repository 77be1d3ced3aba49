#include "platform/win32/window/stage_picture.h"

#include <algorithm>
#include <cstring>

namespace pyokoran {

namespace {

constexpr int32_t kTile = 64;

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return Rect{};
  return r;
}

bool Empty(const Rect& r) { return r.left >= r.right || r.top >= r.bottom; }

// For each of target pixels, the source pixel under its centre; for each source pixel the
// first target pixel showing it (target when none does), with one more entry for the end.
void BuildMap(int32_t target, int32_t source, std::vector<int32_t>& from,
              std::vector<int32_t>& first) {
  target = std::max(target, 0);
  from.resize(size_t(target));
  first.assign(size_t(source) + 1, target);
  for (int32_t t = target - 1; t >= 0; --t) {
    from[size_t(t)] = int32_t(int64_t(2 * int64_t(t) + 1) * source / (int64_t(2) * target));
    first[size_t(from[size_t(t)])] = t;
  }
  for (int32_t i = source - 1; i >= 0; --i) first[size_t(i)] = std::min(first[size_t(i)], first[size_t(i) + 1]);
}

}  // namespace

void StagePicture::SetLayout(int32_t window_width, int32_t window_height, const Rect& stage_rect) {
  window_width = std::max(window_width, 0);
  window_height = std::max(window_height, 0);
  if (window_width == width_ && window_height == height_ && stage_rect == stage_rect_) return;
  width_ = window_width;
  height_ = window_height;
  stage_rect_ = stage_rect;
  pixels_.assign(size_t(width_) * size_t(height_), 0);
  mapped_width_ = mapped_height_ = -1;
  whole_ = true;
}

void StagePicture::MapStage(int32_t stage_width, int32_t stage_height) {
  if (stage_width == mapped_width_ && stage_height == mapped_height_) return;
  BuildMap(stage_rect_.right - stage_rect_.left, stage_width, columns_, first_x_);
  BuildMap(stage_rect_.bottom - stage_rect_.top, stage_height, rows_, first_y_);
  mapped_width_ = stage_width;
  mapped_height_ = stage_height;
}

Rect StagePicture::Scaled(const Rect& r) const {
  return Rect{stage_rect_.left + first_x_[size_t(r.left)], stage_rect_.top + first_y_[size_t(r.top)],
              stage_rect_.left + first_x_[size_t(r.right)], stage_rect_.top + first_y_[size_t(r.bottom)]};
}

void StagePicture::TakeArea(const Surface& stage, const Rect& area) {
  const size_t bytes = size_t(area.right - area.left) * 4;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    std::memcpy(shown_.row(y) + area.left, stage.row(y) + area.left, bytes);
  }
  changed_stage_.push_back(area);
}

void StagePicture::ScaleIn(const Rect& stage_area) {
  const Rect window{0, 0, width_, height_};
  const Rect scaled = Scaled(stage_area);
  const Rect part = Intersect(scaled, window);
  if (Empty(part)) return;
  const int32_t* columns = columns_.data() + (part.left - stage_rect_.left);
  const int32_t count = part.right - part.left;
  const uint32_t* previous_in = nullptr;
  const uint32_t* previous_out = nullptr;
  for (int32_t y = part.top; y < part.bottom; ++y) {
    const uint32_t* in = shown_.row(rows_[size_t(y - stage_rect_.top)]);
    uint32_t* out = pixels_.data() + size_t(y) * size_t(width_) + part.left;
    if (in == previous_in) {
      std::memcpy(out, previous_out, size_t(count) * 4);  // a stage row shown twice
    } else {
      for (int32_t x = 0; x < count; ++x) out[x] = in[columns[x]];
      previous_in = in;
    }
    previous_out = out;
  }
  send_.push_back(part);
}

const std::vector<Rect>& StagePicture::Take(const Surface& stage, const std::vector<Rect>* changed) {
  changed_stage_.clear();
  send_.clear();
  if (stage.width <= 0 || stage.height <= 0 ||
      stage.pixels.size() != size_t(stage.width) * size_t(stage.height)) {
    return send_;
  }
  const Rect whole_stage{0, 0, stage.width, stage.height};
  if (shown_.width != stage.width || shown_.height != stage.height) {
    shown_ = Surface(stage.width, stage.height);
    mapped_width_ = mapped_height_ = -1;
    whole_ = true;
  }
  MapStage(stage.width, stage.height);
  if (whole_) {
    whole_ = false;
    std::fill(pixels_.begin(), pixels_.end(), 0u);
    TakeArea(stage, whole_stage);
    ScaleIn(whole_stage);
    send_.assign(1, Rect{0, 0, width_, height_});
    if (width_ == 0 || height_ == 0) send_.clear();
    return send_;
  }
  auto differs = [&](int32_t y, int32_t l, int32_t r) {
    return std::memcmp(stage.row(y) + l, shown_.row(y) + l, size_t(r - l) * 4) != 0;
  };
  if (changed) {
    // Each named area narrowed to the box around its pixels that differ from the screen's.
    for (const Rect& named : *changed) {
      const Rect a = Intersect(named, whole_stage);
      if (Empty(a)) continue;
      Rect box{a.right, -1, a.left, -1};
      for (int32_t y = a.top; y < a.bottom; ++y) {
        if (!differs(y, a.left, a.right)) continue;
        const uint32_t* in = stage.row(y);
        const uint32_t* on = shown_.row(y);
        if (box.top < 0) box.top = y;
        box.bottom = y + 1;
        int32_t l = a.left;
        while (l < box.left && in[l] == on[l]) ++l;
        box.left = std::min(box.left, l);
        int32_t r = a.right;
        while (r > box.right && in[r - 1] == on[r - 1]) --r;
        box.right = std::max(box.right, r);
      }
      if (box.top >= 0) TakeArea(stage, box);
    }
  } else {
    // Compared in tiles, neighbouring changed tiles of a row as one.
    for (int32_t y0 = 0; y0 < stage.height; y0 += kTile) {
      const int32_t y1 = std::min(y0 + kTile, stage.height);
      int32_t run_left = -1;
      for (int32_t x0 = 0; x0 < stage.width; x0 += kTile) {
        const int32_t x1 = std::min(x0 + kTile, stage.width);
        bool tile_differs = false;
        for (int32_t y = y0; y < y1 && !tile_differs; ++y) tile_differs = differs(y, x0, x1);
        if (tile_differs && run_left < 0) run_left = x0;
        if (run_left >= 0 && (!tile_differs || x1 == stage.width)) {
          TakeArea(stage, Rect{run_left, y0, tile_differs ? x1 : x0, y1});
          run_left = -1;
        }
      }
    }
  }
  for (const Rect& r : changed_stage_) ScaleIn(r);
  return send_;
}

}  // namespace pyokoran
