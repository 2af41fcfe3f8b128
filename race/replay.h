// Replaying a race: its events put into a game state through the rules the game plays by
// (JudgeMove, ApplyMove, NextTurn), never saving a record, so that a replay and the live race can
// never disagree. Each move is checked as the game would have allowed it: the car whose turn it
// is, a point strictly inside its reach disc, room in its trail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "race/race_file.h"
#include "rules/state.h"

struct RaceProgress {
  size_t next = 0;                    // the event to replay next
  size_t moves = 0;                   // moves replayed so far
  uint8_t drivers[kMaxPlayers] = {};  // each car's driver now
  bool retired[kMaxPlayers] = {};
  int16_t finishRound[kMaxPlayers] = {-1, -1, -1, -1, -1, -1, -1, -1};  // a race with laps: the round
                                                                        // the car finished in
  bool over = false;  // a race with laps: every car has finished or retired
};

// Sets the state for the race's start (the circuit must be loaded in state.track): ResetRace with
// the race's player count, and the drivers it began with. The view and the display switches are
// the caller's.
void StartReplay(const RaceFile& race, GameState& state, RaceProgress* progress);

// Replays the next event. 0 when done; 1 with *error as "NAME:LINE: what is wrong" and the state
// and progress unchanged, for a move the game could not have made. `name` names the file.
int ReplayNext(const RaceFile& race, const std::string& name, GameState& state, RaceProgress* progress,
               std::string* error);

// Starts the race and replays its first `count` events (all of them by default).
int ReplayRace(const RaceFile& race, const std::string& name, GameState& state, RaceProgress* progress,
               std::string* error, size_t count = SIZE_MAX);

// Passes the turn on from the car that just moved or retired: NextTurn, and in a race with laps
// past the cars that have finished or retired. Used by whoever runs a race with laps live.
void PassTurn(const RaceFile& race, GameState& state, RaceProgress* progress);

// The place of each car in a race with laps (1 for the first): by the round each finished in,
// equal rounds sharing a place; cars still racing or retired come after every finisher, 0.
void RacePlaces(const RaceProgress& progress, int players, int places[kMaxPlayers]);
