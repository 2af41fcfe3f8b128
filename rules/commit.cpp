// The rules core: judging a move, applying it, and CommitMove over both.
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

MoveOutcome LineOutcome(const TrackGrid& track, GridPoint from, GridPoint to, int reverseCrossings) {
  const GridPoint a = track.finishLineA;
  const GridPoint b = track.finishLineB;
  return CrossingOutcome(a, b, SideOfLine(a, b, track.aheadPoint), from, SideOfLine(a, b, from), to,
                         SideOfLine(a, b, to), reverseCrossings);
}

MoveJudgement JudgeMove(const GameState& state, GridPoint to) {
  MoveJudgement judgement;
  if (state.currentPlayer >= kMaxPlayers) {
    judgement.fits = false;
    return judgement;
  }
  const PlayerRecord& car = state.players[state.currentPlayer];
  const TrackGrid& track = state.track;
  const GridPoint from = car.trail[car.lastIndex];
  const bool crashed = IsPathBlocked(track, from.x, from.y, to.x, to.y);
  judgement.outcome = crashed ? MoveOutcome::kCrash : LineOutcome(track, from, to, car.reverseCrossings);
  judgement.fits = car.lastIndex + (crashed ? 3 : 1) <= kTrailCapacity - 1;
  // The stored count less two is the rounds that record needed, and the trail from its second
  // point holds one point per round.
  judgement.newRecord = judgement.fits && judgement.outcome == MoveOutcome::kLap &&
                        (track.recordRounds > state.round || track.recordCount == 0);
  return judgement;
}

int ApplyMove(GameState& state, GridPoint to, const MoveJudgement& judgement) {
  if (!judgement.fits || state.currentPlayer >= kMaxPlayers) return 1;
  PlayerRecord& car = state.players[state.currentPlayer];
  const GridPoint from = car.trail[car.lastIndex];
  car.trail[++car.lastIndex] = to;
  switch (judgement.outcome) {
    case MoveOutcome::kCrash:
      // The trail ends from, to, from, from: the crash point stays visible, the car stands where
      // it was with a zero move vector, and the two copies keep one point per round while it sits
      // out.
      car.trail[car.lastIndex + 1] = from;
      car.trail[car.lastIndex + 2] = from;
      car.lastIndex += 2;
      car.waitTurns += 2;
      break;
    case MoveOutcome::kBackward:
      ++car.reverseCrossings;
      break;
    case MoveOutcome::kUndo:
      --car.reverseCrossings;
      break;
    case MoveOutcome::kLap:
      ++car.laps;
      break;
    case MoveOutcome::kClean:
      break;
  }
  return 0;
}

int CommitMove(GameState& state, int16_t x, int16_t y) {
  const GridPoint to{x, y};
  const MoveJudgement judgement = JudgeMove(state, to);
  if (ApplyMove(state, to, judgement) != 0) return 1;
  if (judgement.newRecord) {
    PlayerRecord& car = CurrentRecord(state);
    SaveRecord(state.track, &car.trail[1], car.lastIndex);
  }
  return 0;
}
