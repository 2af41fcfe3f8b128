// The race's file: kept up to date after every committed move, and a race file given on the
// command line put on the board. None of it changes a screen.
#pragma once

#include <cstdint>
#include <string>

#include "data/grid_point.h"
#include "game/drivers.h"
#include "game/online.h"
#include "race/race_file.h"
#include "race/race_writer.h"
#include "rules/state.h"

// Beside the Data folder of the folder the game writes to.
inline constexpr char16_t kRacesFolder[] = u"\\Races";
inline constexpr char16_t kReplaysFolder[] = u"\\Replays";

// After the move of `car` to `to` ends a turn: the move, and any change of driver since the last
// one, go into the race file, which is written whole. The first move of a race makes its file. A
// move the car's full trail refused can't be said in a race file: the race keeps the file it has.
void KeepMove(int car, GridPoint to, bool committed);

// A new race begins on the board: its first move starts a new file.
void ForgetRace();

// True for a command line that names a race file rather than a circuit.
bool IsRacePath(const std::u16string& path);

// Start-up with a race file: reads it and finds its circuit. The circuit's path to load, or empty
// (the last circuit is then played) when the race can't be used, which is told first.
std::u16string PrepareRace(const std::u16string& racePath);
// Once that circuit is loaded and the start values set: puts the race on the board as it stood. A
// race the circuit can't replay is told, and a new race begins instead.
void StartPreparedRace();

// An online race on the board (its file names a server and a race): the cars whose seat isn't the
// account's are remote (game/online.h), named by their seats; the race's assists and its moves so
// far are taken over. Any other race is no online race. True for an online race.
bool BeginOnlineRace(const std::string& account);

// The race as kept so far, for the animation: the file's text and where it is; empty before the
// first move.
const std::string& KeptRaceText();
const std::string& KeptRacePath();

// ---- Shared with the race's keys (race_keeping.cpp) ----------------------------------------------

// The race on the board and its file.
struct KeptRace {
  bool open = false;     // the race on the board has its file
  bool stopped = false;  // the race has left what its file can say; kept again from the next race
  std::string host;      // the file
  std::string text;      // what it holds
  RaceFile race;
  uint8_t drivers[kMaxPlayers] = {};                                    // as the file last said them
  int16_t finishRound[kMaxPlayers] = {-1, -1, -1, -1, -1, -1, -1, -1};  // as the replay found them
};
extern KeptRace keptRace;

// ---- The state a playback or a failed resume gives back ---------------------------------------------

struct LiveRace {
  PlayerRecord players[kMaxPlayers];
  uint16_t playerCount, currentPlayer, round, moveRadius;
  int16_t viewX, viewY, scrollX, scrollY, targetX, targetY, goButtonX, goButtonY, screenMode, subMenuOpen;
  uint8_t penLock;
  DriverChoices drivers;

  void Take(const GameState& s) {
    std::copy(s.players, s.players + kMaxPlayers, players);
    playerCount = s.playerCount, currentPlayer = s.currentPlayer, round = s.round, moveRadius = s.moveRadius;
    viewX = s.viewX, viewY = s.viewY, scrollX = s.scrollX, scrollY = s.scrollY;
    targetX = s.targetX, targetY = s.targetY, goButtonX = s.goButtonX, goButtonY = s.goButtonY;
    screenMode = s.screenMode, subMenuOpen = s.subMenuOpen, penLock = s.penLock;
    drivers = driverChoices;
  }
  void Give(GameState& s) const {
    std::copy(players, players + kMaxPlayers, s.players);
    s.playerCount = playerCount, s.currentPlayer = currentPlayer, s.round = round, s.moveRadius = moveRadius;
    s.viewX = viewX, s.viewY = viewY, s.scrollX = scrollX, s.scrollY = scrollY;
    s.targetX = targetX, s.targetY = targetY, s.goButtonX = goButtonX, s.goButtonY = goButtonY;
    s.screenMode = screenMode, s.subMenuOpen = subMenuOpen, s.penLock = penLock;
    driverChoices = drivers;
  }
};

// Made at the first move, and done with its last write before the program ends.
RaceFileWriter& Writer();
std::string FileNameOf(const std::string& host);
// Replays a race file into the game state over the loaded circuit and keeps it as the race on the
// board. 0 when done; 1 with *error, and the state to be given back by the caller.
int ReplayIntoGame(const std::string& host, const RaceFile& race, std::string* error);
// A message box naming what went wrong.
void Tell(const std::string& what);
// The race kept last for the loaded circuit: the newest file in Races whose circuit line names it.
std::string LastRaceFile();
