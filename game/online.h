// An online race as the turn sequence sees it: which cars another computer plays (another player or
// the server's computer) and their names, whether assists are on, the moves that arrived for those
// cars and the moves this computer made that the server hasn't confirmed yet. The network itself is
// the shell's (net/client.h); nothing here waits on it or touches a window.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "data/grid_point.h"
#include "rules/state.h"

struct OnlineMove {
  int index = 0;  // the number of moves the race held before it
  int car = 0;
  GridPoint to;
};

// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own loop copying the names array
struct OnlineRace {
  bool active = false;      // the race on the board is an online race
  bool assistsOff = false;  // D, H and F do nothing in it
  bool connected = true;    // the caption says so while the server can't be reached
  bool remote[kMaxPlayers] = {};
  std::u16string names[kMaxPlayers];  // a remote car's player; empty for the server's computer
  int moves = 0;                      // the moves the race holds here: the next move's index
  std::deque<OnlineMove> arrived;     // remote moves in the order of their index, not played yet
  std::deque<OnlineMove> outbox;      // this computer's moves for the server, in order
  // Whose turn the server says it is once the race holds `serverTurnAt` moves (-1: no one's, the
  // race is over). The server's order wins: it passes over cars that have finished or retired,
  // which this computer can't tell, so a car of this computer moves only once the server agrees.
  int serverTurn = -1;
  int serverTurnAt = -1;
  bool over = false;
  int places[kMaxPlayers] = {};  // once the race is over: each car's place, 0 for none (retired)
  int laps = 0;                  // a car that has completed them has finished
  // The round each car finished in, -1 while it races: a car of this computer's has its place as
  // soon as it finishes, one ahead of every car that finished in an earlier round.
  int16_t finishRound[kMaxPlayers] = {-1, -1, -1, -1, -1, -1, -1, -1};
  // The server's word on a move it refused, said in the caption until this computer's next move.
  std::u16string notice;
};
extern OnlineRace onlineRace;

// True for a car another computer plays in an online race.
bool IsRemoteCar(int car);
// True while the race board shows and the board isn't this computer's: the car to move is remote,
// its move has arrived from the server, or the server hasn't yet said that it is this car's turn.
bool IsRemoteTurn();
// The place of a car that has finished (1 for the first), 0 while it races.
int FinishPlace(int car);
// A move arrived from the server: kept when it is the next one the race lacks (or one after it),
// dropped when the race has it already. A move of this computer's own car is kept too: it was made
// elsewhere (the same account on another computer, or this game before it was killed and before
// its file was written), and the server's word counts. True when kept.
bool TakeArrivedMove(const OnlineMove& move);
