// What passes between the network and the turn sequence in an online race.
#include "game/online.h"

#include "game/globals.h"

OnlineRace onlineRace;

bool IsRemoteCar(int car) { return onlineRace.active && car >= 0 && car < kMaxPlayers && onlineRace.remote[car]; }

bool IsRemoteTurn() {
  if (gameState.screenMode != kScreenRace || !onlineRace.active) return false;
  const int car = gameState.currentPlayer;
  if (IsRemoteCar(car)) return true;
  // A move the server has for this turn was made already, elsewhere: the board plays it.
  if (!onlineRace.arrived.empty() && onlineRace.arrived.front().index == onlineRace.moves) return true;
  return onlineRace.serverTurnAt != onlineRace.moves || onlineRace.serverTurn != car;
}

bool TakeArrivedMove(const OnlineMove& move) {
  // A reconnection may bring moves again: each index is played once, in order.
  const int next = onlineRace.moves + static_cast<int>(onlineRace.arrived.size());
  if (!onlineRace.active || move.index != next || move.car < 0 || move.car >= kMaxPlayers) return false;
  onlineRace.arrived.push_back(move);
  return true;
}

int FinishPlace(int car) {
  if (car < 0 || car >= kMaxPlayers || onlineRace.finishRound[car] < 0) return 0;
  int place = 1;
  for (const int16_t round : onlineRace.finishRound) {
    if (round >= 0 && round < onlineRace.finishRound[car]) ++place;
  }
  return place;
}
