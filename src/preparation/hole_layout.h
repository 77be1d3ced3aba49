// Where the holes stand on the 1024 x 768 stage.
#pragma once

#include <cstdint>

namespace pyokoran {

struct ExperimentSettings;
struct RandomGenerator;

constexpr int kMaxHoles = 15;
constexpr int kMinHoles = 3;

struct HoleCentre {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const HoleCentre&, const HoleCentre&) = default;
};

// Up to 15 hole centres; each hole owns the 128 x 128 cell centred on it.
struct HoleLayout {
  HoleCentre holes[kMaxHoles];
};

// Ordered rows when flag_ordered != 0, else random places. 1 success, 0 failure. Called by
// PrepareRun after the creatures are placed, so the random layout continues their draws.
int MakeHoleLayout(HoleLayout& layout, const ExperimentSettings& settings,
                   RandomGenerator& random);
// Up to three evenly spaced rows, numbered row by row from the top; draws nothing. 0 only
// for a hole count outside 3 ... 15.
int MakeOrderedLayout(HoleLayout& layout, int32_t n_holes);
// Every hole at a random place at least MinimumHoleDistance from those before it; 0 once a
// hole has had 10000 candidates rejected (or for a hole count outside 3 ... 15).
int MakeRandomLayout(HoleLayout& layout, int32_t n_holes, RandomGenerator& random);
// trunc(sqrt(750992 / (2 n_holes))), at least 180.
int32_t MinimumHoleDistance(int32_t n_holes);

}  // namespace pyokoran
