// RacePlay: the race files' replay, one event at a time, on a borrowed track.
#include "server/race_play.h"

#include "rules/move.h"

RacePlay::RacePlay(const TrackGrid& track, int seats, int laps) : state_(std::make_unique<GameState>()) {
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
  race_.players = seats;
  race_.laps = laps;
  StartReplay(race_, s, &progress_);
  for (int p = 0; p < kMaxPlayers; ++p) lapStart_[p] = s.players[p].lastIndex;
}

RacePlay::~RacePlay() { state_->track.collisionGrid = nullptr; }

bool RacePlay::TrailFull() const {
  return !progress_.over && state_->players[state_->currentPlayer].lastIndex + 3 > kTrailCapacity - 1;
}

MoveCheck RacePlay::Check(int seat, GridPoint to) const {
  if (progress_.over) return MoveCheck::kNotRunning;
  if (seat != state_->currentPlayer) return MoveCheck::kWrongSeat;
  const GridPoint predicted = PredictedPoint(state_->players[seat]);
  const int dx = to.x - predicted.x;
  const int dy = to.y - predicted.y;
  // Differences past 16 bits are far outside any reach, and must not wrap into it.
  if (dx < INT16_MIN || dx > INT16_MAX || dy < INT16_MIN || dy > INT16_MAX) return MoveCheck::kOutOfReach;
  if (!IsWithinReach(static_cast<int16_t>(dx), static_cast<int16_t>(dy), state_->moveRadius)) {
    return MoveCheck::kOutOfReach;
  }
  if (TrailFull()) return MoveCheck::kTrailFull;
  return MoveCheck::kOk;
}

int RacePlay::Play(const RaceEvent& event, LapDone* lap, std::string* error) {
  const int seat = event.car;
  const int16_t lapsBefore = seat < kMaxPlayers ? state_->players[seat].laps : 0;
  race_.events.push_back(event);
  if (ReplayNext(race_, "race", *state_, &progress_, error) != 0) {
    race_.events.pop_back();
    return 1;
  }
  if (event.kind == RaceEventKind::kMove && state_->players[seat].laps > lapsBefore) {
    const uint16_t at = state_->players[seat].lastIndex;
    if (lap != nullptr) {
      lap->seat = seat;
      lap->rounds = at - lapStart_[seat];
    }
    lapStart_[seat] = at;
  }
  return 0;
}

bool RacePlay::PlayAll(const std::vector<RaceEvent>& events) {
  for (const RaceEvent& event : events) {
    std::string error;
    if (Play(event, nullptr, &error) != 0) return false;
  }
  return true;
}

std::vector<int> RacePlay::Places() const {
  int places[kMaxPlayers];
  RacePlaces(progress_, race_.players, places);
  return std::vector<int>(places, places + race_.players);
}
