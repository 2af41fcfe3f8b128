// Committing a move: the trail, crashes, start/finish line crossings, laps and the record.
#pragma once

#include <cstdint>

#include "rules/state.h"

// Which side of the straight line through p1 and p2 the point q lies on, 0 or 1, in single
// precision exactly as the lap test has always counted it (vertical lines included).
int SideOfLine(GridPoint p1, GridPoint p2, GridPoint q);

// Carries out the current player's move to (x, y). A move whose path touches a blocked cell is a
// crash: the car goes back and sits out two turns. A clean move across the start/finish line in
// the racing direction completes a lap, which may become the circuit's record.
//
// A trail holds 5001 points. A move that would need more room (one point, or three for a crash)
// is refused: nothing changes and 1 is returned; the caller passes the turn as usual, so the race
// goes on without that car. 0 when the move was committed.
int CommitMove(GameState& state, int16_t x, int16_t y);
