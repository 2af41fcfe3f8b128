// Predicted point, reach rule and path test.
#include "rules/move.h"

#include <cmath>

#include "gfx/line_walk.h"

GridPoint PredictedPoint(const PlayerRecord& player) {
  const GridPoint p = player.trail[player.lastIndex];
  // A record that never had a move (a state that was never started) has no point before the
  // newest; it then predicts its own position.
  const GridPoint q = player.trail[player.lastIndex > 0 ? player.lastIndex - 1 : 0];
  return GridPoint{static_cast<int16_t>(2 * p.x - q.x), static_cast<int16_t>(2 * p.y - q.y)};
}

bool IsWithinReach(int16_t dx, int16_t dy, uint16_t radius) {
  const int32_t squared = static_cast<int32_t>(dx) * dx + static_cast<int32_t>(dy) * dy;
  return std::sqrt(static_cast<double>(squared)) < static_cast<double>(radius);
}

bool IsCellBlocked(const TrackGrid& track, int x, int y) {
  if (track.collisionGrid == nullptr || x < 0 || y < 0 || x >= track.width || y >= track.height) {
    return true;
  }
  return track.collisionGrid[static_cast<size_t>(y) * track.width + x] == 1;
}

bool IsPathBlocked(const TrackGrid& track, int16_t x0, int16_t y0, int16_t x1, int16_t y1) {
  return WalkLine(x0, y0, x1, y1, [&track](int x, int y) { return IsCellBlocked(track, x, y); });
}
