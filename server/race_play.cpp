// RacePlay: the game's rules core with the online race's laps to race and retirements.
#include "server/race_play.h"

#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"

RacePlay::RacePlay(const TrackGrid& track, int seats, int laps)
    : state_(std::make_unique<GameState>()), seats_(seats), laps_(laps) {
  GameState& s = *state_;
  // The state borrows the track's grid and line; the destructor hands the grid back before the
  // state's own track would release it.
  s.track.width = track.width;
  s.track.height = track.height;
  s.track.startPoint = track.startPoint;
  s.track.finishLineA = track.finishLineA;
  s.track.finishLineB = track.finishLineB;
  s.track.aheadPoint = track.aheadPoint;
  s.track.collisionGrid = track.collisionGrid;
  s.playerCount = static_cast<uint16_t>(seats);
  ResetRace(s);
  for (int p = 0; p < kMaxPlayers; ++p) {
    finishRound_[p] = -1;
    lapStart_[p] = s.players[p].lastIndex;
  }
}

RacePlay::~RacePlay() { state_->track.collisionGrid = nullptr; }

bool RacePlay::TrailFull() const {
  return !over_ && state_->players[state_->currentPlayer].lastIndex + 3 > kTrailCapacity - 1;
}

MoveCheck RacePlay::Check(int seat, GridPoint to) const {
  if (over_) return MoveCheck::kNotRunning;
  if (seat != state_->currentPlayer) return MoveCheck::kWrongSeat;
  const GridPoint predicted = PredictedPoint(state_->players[seat]);
  const int dx = to.x - predicted.x;
  const int dy = to.y - predicted.y;
  // Differences past 16 bits are far outside any reach.
  if (dx < INT16_MIN || dx > INT16_MAX || dy < INT16_MIN || dy > INT16_MAX) return MoveCheck::kOutOfReach;
  if (!IsWithinReach(static_cast<int16_t>(dx), static_cast<int16_t>(dy), state_->moveRadius)) {
    return MoveCheck::kOutOfReach;
  }
  return MoveCheck::kOk;
}

void RacePlay::Move(GridPoint to, LapDone* lap) {
  GameState& s = *state_;
  const int seat = s.currentPlayer;
  const MoveJudgement judgement = JudgeMove(s, to);
  ApplyMove(s, to, judgement);
  ++moves_;
  PlayerRecord& car = s.players[seat];
  if (judgement.fits && judgement.outcome == MoveOutcome::kLap) {
    if (lap != nullptr) {
      lap->seat = seat;
      lap->rounds = car.lastIndex - lapStart_[seat];
    }
    lapStart_[seat] = car.lastIndex;
    if (car.laps >= laps_) finishRound_[seat] = s.round;
  }
  PassTurn();
}

void RacePlay::Retire(int seat) {
  if (seat < 0 || seat >= seats_ || retired_[seat] || finished(seat)) return;
  retired_[seat] = true;
  if (!over_ && seat == state_->currentPlayer) {
    PassTurn();
  } else {
    over_ = true;
    for (int p = 0; p < seats_; ++p) over_ = over_ && (retired_[p] || finished(p));
  }
}

void RacePlay::PassTurn() {
  bool anyLeft = false;
  for (int p = 0; p < seats_; ++p) anyLeft = anyLeft || !(retired_[p] || finished(p));
  if (!anyLeft) {
    over_ = true;
    return;
  }
  // The game's own order, sat-out turns counted; cars out of the race are passed over too.
  do {
    NextTurn(*state_);
  } while (retired_[state_->currentPlayer] || finished(state_->currentPlayer));
}

bool RacePlay::Play(const std::vector<RaceEvent>& events) {
  for (const RaceEvent& event : events) {
    if (event.kind == RaceEvent::Kind::kRetire) {
      if (event.seat < 0 || event.seat >= seats_ || over_) return false;
      Retire(event.seat);
      continue;
    }
    if (Check(event.seat, event.to) != MoveCheck::kOk) return false;
    Move(event.to);
  }
  return true;
}

std::vector<int> RacePlay::Places() const {
  std::vector<int> places(seats_, 0);
  for (int p = 0; p < seats_; ++p) {
    if (!finished(p)) continue;
    int ahead = 0;
    for (int q = 0; q < seats_; ++q) ahead += finished(q) && finishRound_[q] < finishRound_[p];
    places[p] = ahead + 1;
  }
  return places;
}
