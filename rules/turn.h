// Turn order: who moves next, and the round counter.
#pragma once

#include "rules/state.h"

// Passes the turn to the next player who is not sitting out. Each player passed over sits out one
// of its turns; every wrap back to player 0 counts a round, also the wraps made while skipping.
// Ends, because every skip lowers a positive waitTurns.
void NextTurn(GameState& state);
