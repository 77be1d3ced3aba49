#include "preparation/hole_layout.h"

#include <cmath>

#include "preparation/random.h"
#include "settings/experiment_settings.h"

namespace pyokoran {

namespace {

// Holes per row, top row first, for 0 ... 15 holes; 0 = no such row.
constexpr int32_t kRows[kMaxHoles + 1][3] = {
    {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {3, 0, 0}, {2, 2, 0}, {3, 2, 0}, {3, 3, 0}, {2, 3, 2},
    {3, 2, 3}, {3, 3, 3}, {3, 4, 3}, {4, 4, 3}, {4, 4, 4}, {4, 5, 4}, {5, 4, 5}, {5, 5, 5},
};

constexpr int32_t kMarginedWidth = 984;   // 1024 less 20 on each side
constexpr int32_t kMarginedHeight = 728;  // 768 less 20 on each side
constexpr int32_t kMargin = 20;

constexpr int kMaxRejections = 10000;

bool HoleCountValid(int32_t n_holes) { return n_holes >= kMinHoles && n_holes <= kMaxHoles; }

}  // namespace

int MakeHoleLayout(HoleLayout& layout, const ExperimentSettings& settings,
                   RandomGenerator& random) {
  if (settings.flag_ordered != 0) return MakeOrderedLayout(layout, settings.n_holes);
  return MakeRandomLayout(layout, settings.n_holes, random);
}

int MakeOrderedLayout(HoleLayout& layout, int32_t n_holes) {
  if (!HoleCountValid(n_holes)) return 0;
  const int32_t* row_sizes = kRows[n_holes];
  int32_t rows = 0;
  for (int r = 0; r < 3; ++r) rows += row_sizes[r] != 0;

  const int32_t row_pitch = kMarginedHeight / rows;
  int32_t y = row_pitch / 2 + kMargin;
  int hole = 0;
  for (int r = 0; r < 3; ++r) {
    const int32_t cols = row_sizes[r];
    if (cols == 0) continue;
    const int32_t column_pitch = kMarginedWidth / cols;
    int32_t x = column_pitch / 2 + kMargin;
    for (int32_t c = 0; c < cols; ++c) {
      layout.holes[hole++] = {x, y};
      x += column_pitch;
    }
    y += row_pitch;
  }
  return 1;
}

int32_t MinimumHoleDistance(int32_t n_holes) {
  const int32_t m = int32_t(std::sqrt(750992.0 / (n_holes * 2.0)));
  return m < 180 ? 180 : m;
}

int MakeRandomLayout(HoleLayout& layout, int32_t n_holes, RandomGenerator& random) {
  if (!HoleCountValid(n_holes)) return 0;
  const double m = MinimumHoleDistance(n_holes);
  for (int i = 0; i < n_holes; ++i) {
    int rejections = 0;
    for (;;) {
      // x first, then y: the cell stays on the stage with 20 pixels to spare.
      const int32_t x = int32_t(RandomUnit(random) * 856.0 + 84.0);
      const int32_t y = int32_t(RandomUnit(random) * 600.0 + 84.0);
      bool rejected = false;
      for (int j = 0; j < i && !rejected; ++j) {
        const double dx = x - layout.holes[j].x;
        const double dy = y - layout.holes[j].y;
        rejected = m > std::sqrt(dy * dy + dx * dx);  // exactly m apart is allowed
      }
      if (!rejected) {
        layout.holes[i] = {x, y};
        break;
      }
      if (++rejections >= kMaxRejections) return 0;
    }
  }
  return 1;
}

}  // namespace pyokoran
