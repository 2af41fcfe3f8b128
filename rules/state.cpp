// Start values of the game state.
#include "rules/state.h"

#include "gfx/colour.h"  // Pack565 alone, which needs no display

void SetPlayerColours(GameState& state, ColourPacker pack) {
  for (int p = 0; p < kMaxPlayers; ++p) {
    const ColourComponents& c = kPlayerColours[p];
    state.players[p].colour = pack(c.red, c.green, c.blue);
  }
}

void PlaceCarsOnStart(GameState& state) {
  for (PlayerRecord& player : state.players) {
    // Three equal points: the car stands on the start with a zero move vector, so its first
    // predicted point is the start itself.
    player.trail[0] = player.trail[1] = player.trail[2] = state.track.startPoint;
    player.lastIndex = 2;
    player.waitTurns = 0;
    player.reverseCrossings = 0;
    player.laps = 0;
    player.inputMode = kInputAim;
  }
}

void ResetRace(GameState& state) {
  state.viewX = state.viewY = 0;
  state.scrollX = state.scrollY = 0;
  PlaceCarsOnStart(state);
  state.subMenuOpen = 0;
  state.goButtonX = kGoButtonStartX;
  state.goButtonY = kGoButtonStartY;
  state.currentPlayer = 0;
  state.moveRadius = kMoveRadius;
  state.round = 0;
  state.penLock = 1;
}

void SetStartValues(GameState& state) {
  ResetRace(state);
  state.playerCount = 2;
  SetPlayerColours(state, Pack565);
  state.screenMode = kScreenTitle;
  state.showOutline = 0;
  state.showRecord = 0;
}
