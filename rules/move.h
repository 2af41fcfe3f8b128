// Move geometry: the predicted point, the reach rule and the path test.
#pragma once

#include <cstdint>

#include "data/circuit.h"
#include "rules/state.h"

// Where the car lands if it keeps its last move vector: 2·trail[last] − trail[last − 1], each
// coordinate in 16 bits.
GridPoint PredictedPoint(const PlayerRecord& player);

// True when (dx, dy) from the predicted point lies strictly inside the reach disc of the radius.
bool IsWithinReach(int16_t dx, int16_t dy, uint16_t radius);

// True when cell (x, y) is blocked. Cells outside the grid are blocked, so no car can leave the
// circuit; so is every cell of a circuit that has no grid.
bool IsCellBlocked(const TrackGrid& track, int x, int y);

// True when any cell the line walk visits from (x0, y0) to (x1, y1) is blocked. Symmetric in its
// endpoints.
bool IsPathBlocked(const TrackGrid& track, int16_t x0, int16_t y0, int16_t x1, int16_t y1);
