// The integer line walk shared by the path test and line drawing, so that a drawn segment covers
// exactly the cells the path test visits.
#pragma once

#include <cstdlib>
#include <utility>

// Visits max(dx, dy) + 1 cells from one endpoint to the other, one per step along the major axis
// (x when dx >= dy). The walk always starts at the endpoint with the smaller major coordinate and
// moves the minor coordinate only when the error term is strictly positive, so a segment and its
// reverse visit the same cells. visit(x, y) returns true to stop the walk; WalkLine then returns
// true.
template <typename Visit>
inline bool WalkLine(int x0, int y0, int x1, int y1, Visit&& visit) {
  const int dx = std::abs(x1 - x0);
  const int dy = std::abs(y1 - y0);
  if (dx >= dy) {
    if (x0 > x1) {
      std::swap(x0, x1);
      std::swap(y0, y1);
    }
    const int step = y1 > y0 ? 1 : -1;
    int e = -(dx / 2);
    for (int x = x0, y = y0; x <= x1; ++x) {
      if (e > 0) {
        y += step;
        e -= dx;
      }
      if (visit(x, y)) return true;
      e += dy;
    }
  } else {
    if (y0 > y1) {
      std::swap(x0, x1);
      std::swap(y0, y1);
    }
    const int step = x1 > x0 ? 1 : -1;
    int e = -(dy / 2);
    for (int y = y0, x = x0; y <= y1; ++y) {
      if (e > 0) {
        x += step;
        e -= dy;
      }
      if (visit(x, y)) return true;
      e += dx;
    }
  }
  return false;
}
