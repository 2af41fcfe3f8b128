// Finding a legal lap of a circuit under the game's own move rules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/circuit.h"
#include "data/grid_point.h"

// The distance to go: for every free cell, the length of the shortest way along the track to
// the start/finish line, arriving from behind it and never crossing it. The line itself is a
// wall for this purpose.
struct DistanceToGo {
  int width = 0;
  int height = 0;
  std::vector<float> distance;  // kUnreachable where no way leads to the line

  static constexpr float kUnreachable = 1e30f;
  float At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return kUnreachable;
    return distance[static_cast<size_t>(y) * width + x];
  }
};

DistanceToGo MeasureDistanceToGo(const TrackGrid& track);

struct LapSearchOptions {
  int carsPerSpeed = 12;  // how many cars of each speed band the search keeps going each round
  int maxRounds = 4990;   // a trail holds 5001 points
  // Called once a round with the round and the share of the lap the best car has covered.
  std::function<void(int round, double covered)> progress;
};

struct LapSearchResult {
  bool found = false;
  std::vector<GridPoint> moves;  // the destination of every move, one per round
  std::string problem;           // why no lap was found
  double lapLength = 0;          // the distance to go from the start point
};

// Searches for a lap from the start point: a sequence of moves, each within reach of the
// predicted point and clear of every blocked cell, that never crosses the start/finish line
// backwards and ends with the crossing that counts the lap. The search keeps the cars that have
// come furthest, a few of each speed, so that some are always slow enough for the next corner;
// it widens and tries again when every car runs into a dead end. The lap it finds is legal but
// not necessarily the fastest.
LapSearchResult FindLap(const TrackGrid& track, const LapSearchOptions& options = {});
