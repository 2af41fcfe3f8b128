// CommitMove and the side-of-line test.
#include "rules/commit.h"

#include "data/circuit.h"
#include "rules/move.h"

int SideOfLine(GridPoint p1, GridPoint p2, GridPoint q) {
  // Every step in single precision, as the game has always done it: a vertical line divides by
  // zero and yields an infinity, or not-a-number for a point in line with it, and the comparison
  // below then still sorts points onto the two sides.
  const float t = static_cast<float>(q.x - p1.x) / static_cast<float>(p2.x - p1.x);
  float y = t * static_cast<float>(p2.y - p1.y);
  y = y + static_cast<float>(p1.y);
  const bool below = y < static_cast<float>(q.y);
  if (p1.x <= p2.x) return below ? 1 : 0;
  return below ? 0 : 1;
}

int CommitMove(GameState& state, int16_t x, int16_t y) {
  if (state.currentPlayer >= kMaxPlayers) return 1;
  PlayerRecord& car = state.players[state.currentPlayer];
  TrackGrid& track = state.track;
  const GridPoint from = car.trail[car.lastIndex];
  const GridPoint to{x, y};

  const bool crashed = IsPathBlocked(track, from.x, from.y, to.x, to.y);
  const int needed = crashed ? 3 : 1;
  if (car.lastIndex + needed > kTrailCapacity - 1) return 1;

  car.trail[++car.lastIndex] = to;
  if (crashed) {
    // The trail ends from, to, from, from: the crash point stays visible, the car stands where it
    // was with a zero move vector, and the two copies keep one point per round while it sits out.
    car.trail[car.lastIndex + 1] = from;
    car.trail[car.lastIndex + 2] = from;
    car.lastIndex += 2;
    car.waitTurns += 2;
    return 0;
  }

  const GridPoint a = track.finishLineA;
  const GridPoint b = track.finishLineB;
  if (SideOfLine(a, b, to) == SideOfLine(a, b, from)) return 0;  // stays on one side of the line
  if (SideOfLine(from, to, a) == SideOfLine(from, to, b)) return 0;  // passes beside the segment
  if (SideOfLine(a, b, track.aheadPoint) != SideOfLine(a, b, to)) {
    ++car.reverseCrossings;
    return 0;
  }
  if (car.reverseCrossings > 0) {
    --car.reverseCrossings;  // only undoes an earlier backward crossing
    return 0;
  }
  // A lap. It becomes the record when it took fewer rounds than the stored one: the stored count
  // less two is the rounds that record needed, and the trail from its second point holds one
  // point per round.
  if (track.recordRounds > state.round || track.recordCount == 0) {
    SaveRecord(track, &car.trail[1], car.lastIndex);
  }
  ++car.laps;
  return 0;
}
