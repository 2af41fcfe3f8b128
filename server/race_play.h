// An online race played through the race files' replay: the cars' state after the moves and
// retirements so far, the seat to move (crashes, sat-out turns, finished and retired cars
// included), the check of a move, the laps it completes and the places.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "race/race_file.h"
#include "race/replay.h"
#include "rules/state.h"

// A lap completed by a move: the seat and the rounds it took (from the start for the first lap,
// else from the lap before), counted as the circuit's record counts them.
struct LapDone {
  int seat = -1;
  int rounds = 0;
};

enum class MoveCheck : uint8_t {
  kOk,
  kNotRunning,  // every car has finished or retired
  kWrongSeat,   // not this seat's turn
  kOutOfReach,  // not strictly inside the reach disc around the predicted point
  kTrailFull,   // the car's trail has no room for the move
};

class RacePlay {
 public:
  // The track is borrowed and must outlive the play; only its grid, size and line are read.
  RacePlay(const TrackGrid& track, int seats, int laps);
  ~RacePlay();
  RacePlay(const RacePlay&) = delete;
  RacePlay& operator=(const RacePlay&) = delete;

  int seats() const { return race_.players; }
  // The seat to move; -1 once the race is over.
  int turn() const { return progress_.over ? -1 : state_->currentPlayer; }
  bool over() const { return progress_.over; }
  int moves() const { return static_cast<int>(progress_.moves); }
  const PlayerRecord& car(int seat) const { return state_->players[seat]; }
  bool finished(int seat) const { return progress_.finishRound[seat] >= 0; }
  bool retired(int seat) const { return progress_.retired[seat]; }
  // The seat to move has no room left in its trail for a crash: it can't be given a turn and
  // must retire.
  bool TrailFull() const;

  MoveCheck Check(int seat, GridPoint to) const;
  // Plays a move or a retirement; 1 with the reason when the replay refuses it (nothing changes).
  // lap, when given, tells of a lap a move completed.
  int Play(const RaceEvent& event, LapDone* lap, std::string* error);
  // Plays the events in order; false at the first the replay refuses, which is then not played.
  bool PlayAll(const std::vector<RaceEvent>& events);

  // Each finished seat's place, 1 first; 0 for a seat that hasn't finished (or retired). Places
  // go by the round a car finished in; cars finishing in the same round share a place.
  std::vector<int> Places() const;

 private:
  std::unique_ptr<GameState> state_;
  RaceFile race_;
  RaceProgress progress_;
  uint16_t lapStart_[kMaxPlayers];
};
