// What the computer drivers, the lap solver and the foresight test know of a circuit: its cells,
// the start/finish line, every move's outcome exactly as a commit gives it, and the distance
// fields that bound how many rounds a lap can still take. Built once per circuit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/circuit.h"
#include "data/grid_point.h"
#include "rules/commit.h"
#include "rules/state.h"

// One car as the brain sees it: where it stands, its last move, and the backward crossings of
// the start/finish line it has still to undo.
struct CarState {
  GridPoint at;
  GridPoint velocity;  // trail[last] - trail[last - 1], in 16 bits as the game computes it
  int16_t reverseCrossings = 0;
};

inline bool operator==(const CarState& a, const CarState& b) {
  return a.at == b.at && a.velocity == b.velocity && a.reverseCrossings == b.reverseCrossings;
}

// The car a player record describes, read the way PredictedPoint reads it.
CarState CarOf(const PlayerRecord& player);

// Where a car lands if it keeps its velocity: the centre of its reach.
inline GridPoint Predicted(const CarState& car) {
  return GridPoint{static_cast<int16_t>(car.at.x + car.velocity.x), static_cast<int16_t>(car.at.y + car.velocity.y)};
}

// The car after a move with the given outcome.
CarState After(const CarState& car, GridPoint to, MoveOutcome outcome);

// Rounds a move costs one car: its own turn, and the two it sits out after a crash.
inline int RoundsOf(MoveOutcome outcome) { return outcome == MoveOutcome::kCrash ? 3 : 1; }

class TrackModel {
 public:
  static constexpr uint32_t kFar = 0xFFFFFFFFu;  // no way to the line from here

  TrackModel() = default;
  TrackModel(const TrackModel&) = delete;
  TrackModel& operator=(const TrackModel&) = delete;

  // Reads the circuit's cells and line and measures the distance fields. False, with the model
  // empty, when the circuit has no grid or memory runs out. Never throws.
  bool Build(const TrackGrid& track) noexcept;
  bool built() const { return width_ > 0; }

  int width() const { return width_; }
  int height() const { return height_; }
  GridPoint start() const { return start_; }

  // As IsCellBlocked: outside the grid counts as blocked.
  bool Blocked(int x, int y) const {
    return x < 0 || y < 0 || x >= width_ || y >= height_ || blocked_[Index(x, y)] != 0;
  }
  // The same answer as IsPathBlocked, quicker where the walls are far: a box around the move
  // with no blocked cell in it needs no walk.
  // `work`, when given, counts the cells looked at.
  bool PathBlocked(GridPoint from, GridPoint to, size_t* work = nullptr) const;
  // For a free cell: the chessboard distance to the nearest blocked cell, off the grid included;
  // every cell nearer than that is free. 0 for a blocked cell.
  int Clearance(int x, int y) const { return Blocked(x, y) ? 0 : clearance_[Index(x, y)]; }
  // True when no cell of the box [x0, x1] x [y0, y1] is blocked (and all of it is on the grid).
  bool BoxFree(int x0, int y0, int x1, int y1) const;

  // The outcome CommitMove gives a car with the given backward crossings moving from `from`.
  MoveOutcome Outcome(GridPoint from, GridPoint to, int reverseCrossings) const;
  // The same when the path is already known to be clear.
  MoveOutcome CleanOutcome(GridPoint from, GridPoint to, int reverseCrossings) const;

  // Every destination strictly inside the reach disc, in a fixed order: the offsets from the
  // predicted point.
  const std::vector<GridPoint>& Reach() const { return reach_; }
  // The most one move can change either coordinate of the velocity (19 for a radius of 20).
  int maxAxisChange() const { return maxAxisChange_; }

  // Cell steps still to go before a lap can count, for a car that must make `crossings` more
  // forward crossings of the line (its backward crossings plus one): the fewest steps between
  // neighbouring free cells, diagonal ones included, from (x, y) to the crossing that counts.
  // Every clean move walks one such step per cell of its path, so no lap can be shorter.
  uint32_t StepsToGo(int crossings, int x, int y) const;

  // The fewest rounds in which the car can still complete a lap: each move covers at most its
  // speed along the larger axis in cell steps, and that speed grows by at most maxAxisChange()
  // a move. kFar when no lap is possible from here.
  uint32_t RoundsBound(const CarState& car) const;
  // The fewest moves covering `steps` cell steps from a speed of `speed` along the larger axis.
  uint32_t MovesToCover(uint32_t steps, int speed) const;

  // True when the bounds above are proven lower bounds for this circuit: the line's two ends
  // lie deep enough in the walls that the path of any clean move across the line passes the
  // same cells' sides as the commit's test does. Otherwise they still guide a search, but prove
  // nothing.
  bool boundsAreProof() const { return boundsAreProof_; }

  size_t Index(int x, int y) const { return static_cast<size_t>(y) * width_ + x; }
  int SideOf(int x, int y) const;  // SideOfLine(A, B, (x, y)), from a table on the grid
  int aheadSide() const { return aheadSide_; }
  GridPoint lineA() const { return lineA_; }
  GridPoint lineB() const { return lineB_; }

 private:
  static constexpr int kLayers = 3;  // crossings still to make, 1 to 3; more use the third

  void MeasureClearance();
  void ListReach();
  void MeasureFields();
  bool CheckLineEnds() const;

  int width_ = 0;
  int height_ = 0;
  GridPoint start_;
  GridPoint lineA_;
  GridPoint lineB_;
  int aheadSide_ = 0;
  std::vector<uint8_t> blocked_;
  std::vector<uint8_t> side_;
  std::vector<uint32_t> blockedSums_;  // (width + 1) x (height + 1) summed-area table
  std::vector<uint16_t> clearance_;    // for a free cell: steps to the nearest blocked cell
  std::vector<uint32_t> steps_;        // kLayers fields of width x height
  std::vector<GridPoint> reach_;
  int maxAxisChange_ = 0;
  bool boundsAreProof_ = false;
};
