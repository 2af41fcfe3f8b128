// What passes between the network and the turn sequence in an online race.
#include "game/online.h"

#include "game/globals.h"

OnlineRace onlineRace;

bool IsRemoteCar(int car) {
  return onlineRace.active && car >= 0 && car < kMaxPlayers && onlineRace.remote[car];
}

bool IsRemoteTurn() {
  return gameState.screenMode == kScreenRace && IsRemoteCar(gameState.currentPlayer);
}

bool TakeArrivedMove(const OnlineMove& move) {
  // A reconnection may bring moves again: each index is played once, in order.
  const int next = onlineRace.moves + static_cast<int>(onlineRace.arrived.size());
  if (move.index != next || !IsRemoteCar(move.car)) return false;
  onlineRace.arrived.push_back(move);
  return true;
}
