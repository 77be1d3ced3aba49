// Where the holes stand on the 1024 x 768 stage.
#pragma once

#include <cstdint>

namespace pyokoran {

struct ExperimentSettings;
struct RandomGenerator;

constexpr int kMaxHoles = 15;

struct HoleCentre {
  int32_t x = 0;
  int32_t y = 0;
};

// Up to 15 hole centres; each hole owns the 128 x 128 cell centred on it.
struct HoleLayout {
  HoleCentre holes[kMaxHoles];
};

// Ordered rows when flag_ordered != 0, else random places. 1 success, 0 failure.
int MakeHoleLayout(HoleLayout& layout, const ExperimentSettings& settings,
                   RandomGenerator& random);

}  // namespace pyokoran
