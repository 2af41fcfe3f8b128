// An online race played through the game's own rules: the cars' state after the moves and
// retirements so far, the seat to move (crashes, sat-out turns, finished and retired cars
// included), the check of a move, laps and places.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rules/state.h"

// What may happen among a race's moves, in order.
struct RaceEvent {
  enum class Kind : uint8_t { kMove, kRetire };
  Kind kind = Kind::kMove;
  int seat = 0;
  GridPoint to;  // a move's point (a crash's is the point tried)
};

// A lap completed by a move: the seat and the rounds it took (from the start for the first lap,
// else from the lap before), counted as the circuit's record counts them.
struct LapDone {
  int seat = -1;
  int rounds = 0;
};

enum class MoveCheck : uint8_t {
  kOk,
  kNotRunning,   // every car has finished or retired
  kWrongSeat,    // not this seat's turn
  kOutOfReach,   // not strictly inside the reach disc around the predicted point
};

class RacePlay {
 public:
  // The track is borrowed and must outlive the play; only its grid, size and line are read.
  RacePlay(const TrackGrid& track, int seats, int laps);
  ~RacePlay();
  RacePlay(const RacePlay&) = delete;
  RacePlay& operator=(const RacePlay&) = delete;

  int seats() const { return seats_; }
  // The seat to move; -1 once the race is over.
  int turn() const { return over_ ? -1 : state_->currentPlayer; }
  bool over() const { return over_; }
  int moves() const { return moves_; }
  const PlayerRecord& car(int seat) const { return state_->players[seat]; }
  bool finished(int seat) const { return finishRound_[seat] >= 0; }
  bool retired(int seat) const { return retired_[seat]; }
  // The seat to move has no room left in its trail for a crash: it can't be given a turn and
  // must retire.
  bool TrailFull() const;

  MoveCheck Check(int seat, GridPoint to) const;
  // Plays a checked move for the seat to move; lap, when given, tells of a lap it completed.
  void Move(GridPoint to, LapDone* lap = nullptr);
  // The seat takes no more turns; when it was to move, the turn passes.
  void Retire(int seat);
  // Replays events in order; false at the first that doesn't fit (the wrong seat, out of reach,
  // after the end), which is then not played.
  bool Play(const std::vector<RaceEvent>& events);

  // Each finished seat's place, 1 first; 0 for a seat that hasn't finished (or retired). Places
  // go by the round a car finished in; cars finishing in the same round share a place.
  std::vector<int> Places() const;

 private:
  void PassTurn();

  std::unique_ptr<GameState> state_;
  int seats_;
  int laps_;
  int moves_ = 0;
  bool over_ = false;
  int finishRound_[kMaxPlayers];
  bool retired_[kMaxPlayers] = {};
  uint16_t lapStart_[kMaxPlayers];
};
