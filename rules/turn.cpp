// NextTurn.
#include "rules/turn.h"

namespace {

void Advance(GameState& state) {
  ++state.currentPlayer;
  if (state.currentPlayer >= state.playerCount) {
    state.currentPlayer = 0;
    ++state.round;
  }
}

}  // namespace

void NextTurn(GameState& state) {
  Advance(state);
  while (state.currentPlayer < kMaxPlayers && state.players[state.currentPlayer].waitTurns > 0) {
    --state.players[state.currentPlayer].waitTurns;
    Advance(state);
  }
}
