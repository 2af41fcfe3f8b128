// Committing a move: the trail, crashes, start/finish line crossings, laps and the record.
//
// A move's whole outcome is worked out once, by JudgeMove, with no side effect; ApplyMove puts
// it into the game state, and CommitMove does both and saves a new record into the circuit file,
// as a race always has. Whatever must not write files (a replay, a server, the tools, the tests)
// judges and applies, and never saves.
#pragma once

#include <cstdint>

#include "rules/state.h"

// Which side of the straight line through p1 and p2 the point q lies on, 0 or 1, in single
// precision exactly as the lap test has always counted it (vertical lines included).
int SideOfLine(GridPoint p1, GridPoint p2, GridPoint q);

// What committing a move does to the car.
enum class MoveOutcome : uint8_t {
  kClean,     // a plain move
  kCrash,     // the path touches a blocked cell: back to the start of the move, two turns out
  kBackward,  // a clean move across the line against the racing direction
  kUndo,      // a clean forward crossing that only undoes an earlier backward one
  kLap,       // a clean forward crossing that completes a lap
};

// The line test of a clean move from `from` to `to`, given the sides of the line (SideOfLine(A,
// B, ...)) the two points and the ahead point lie on, which a caller may have in a table. The one
// place the start/finish line is judged.
inline MoveOutcome CrossingOutcome(GridPoint lineA, GridPoint lineB, int aheadSide, GridPoint from, int fromSide,
                                   GridPoint to, int toSide, int reverseCrossings) {
  if (toSide == fromSide) return MoveOutcome::kClean;  // stays on one side of the line
  if (SideOfLine(from, to, lineA) == SideOfLine(from, to, lineB)) {
    return MoveOutcome::kClean;  // passes beside the segment
  }
  if (toSide != aheadSide) return MoveOutcome::kBackward;
  return reverseCrossings > 0 ? MoveOutcome::kUndo : MoveOutcome::kLap;
}

// The same, working out the sides.
MoveOutcome LineOutcome(const TrackGrid& track, GridPoint from, GridPoint to, int reverseCrossings);

struct MoveJudgement {
  MoveOutcome outcome = MoveOutcome::kClean;
  // The car's trail has room for the move (one point, or three for a crash). A move without room
  // is refused: nothing changes, and the turn passes all the same.
  bool fits = true;
  // A lap that took fewer rounds than the record the track holds in memory (or the first lap
  // when it holds none): CommitMove offers it to the circuit file.
  bool newRecord = false;
};

// The whole outcome of the current player's move to `to`, from the state alone. No side effect.
MoveJudgement JudgeMove(const GameState& state, GridPoint to);

// Puts a judged move into the state: the trail, a crash's two turns out, backward crossings and
// laps. Never writes a file; the record in memory and in the file stay as they are. 1 when the
// move doesn't fit (nothing changes), else 0.
int ApplyMove(GameState& state, GridPoint to, const MoveJudgement& judgement);

// Carries out the current player's move to (x, y). A move whose path touches a blocked cell is a
// crash: the car goes back and sits out two turns. A clean move across the start/finish line in
// the racing direction completes a lap, which may become the circuit's record.
//
// A trail holds 5001 points. A move that would need more room (one point, or three for a crash)
// is refused: nothing changes and 1 is returned; the caller passes the turn as usual, so the race
// goes on without that car. 0 when the move was committed.
int CommitMove(GameState& state, int16_t x, int16_t y);
