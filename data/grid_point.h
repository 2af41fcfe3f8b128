// GridPoint: a point in track coordinates, one unit per pixel of the circuit picture.
#pragma once

#include <cstdint>

struct GridPoint {
  int16_t x = 0;
  int16_t y = 0;
};

inline bool operator==(GridPoint a, GridPoint b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(GridPoint a, GridPoint b) { return !(a == b); }
