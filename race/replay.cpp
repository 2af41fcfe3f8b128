// Replaying a race's events through the rules.
#include "race/replay.h"

#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"

namespace {

bool Done(const RaceProgress& progress, int car) { return progress.retired[car] || progress.finishRound[car] >= 0; }

bool EveryCarDone(const RaceProgress& progress, int players) {
  for (int car = 0; car < players; ++car) {
    if (!Done(progress, car)) return false;
  }
  return true;
}

}  // namespace

void StartReplay(const RaceFile& race, GameState& state, RaceProgress* progress) {
  *progress = RaceProgress();
  state.playerCount = static_cast<uint16_t>(race.players);
  ResetRace(state);
  for (int car = 0; car < kMaxPlayers; ++car) progress->drivers[car] = race.drivers[car];
}

void PassTurn(const RaceFile& race, GameState& state, RaceProgress* progress) {
  progress->over = EveryCarDone(*progress, race.players);
  if (progress->over) return;
  // Each pass lowers a waiting car's count or lands on a car, so a car still racing is reached
  // within a few rounds; the bound only guards a damaged state.
  for (int guard = 0; guard < 64 * kMaxPlayers; ++guard) {
    NextTurn(state);
    if (state.currentPlayer < kMaxPlayers && !Done(*progress, state.currentPlayer)) return;
  }
}

int ReplayNext(const RaceFile& race, const std::string& name, GameState& state, RaceProgress* progress,
               std::string* error) {
  if (progress->next >= race.events.size()) {
    if (error != nullptr) *error = name + ": no more moves to replay";
    return 1;
  }
  const RaceEvent& event = race.events[progress->next];
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = name + ":" + std::to_string(event.line) + ": " + what;
    return 1;
  };
  const int car = event.car;
  const std::string carName = "car " + std::to_string(car);
  if (car >= race.players) return fail(carName + " is not in the race");
  if (event.kind == RaceEventKind::kDriver) {
    progress->drivers[car] = event.driver;
    ++progress->next;
    return 0;
  }
  if (progress->over) return fail("the race is over: every car has finished or retired");
  if (progress->retired[car]) return fail(carName + " has retired");
  if (progress->finishRound[car] >= 0) return fail(carName + " has finished");
  if (event.kind == RaceEventKind::kRetire) {
    progress->retired[car] = true;
    if (car == state.currentPlayer) {
      PassTurn(race, state, progress);
    } else {
      progress->over = EveryCarDone(*progress, race.players);
    }
    ++progress->next;
    return 0;
  }

  const std::string current = "car " + std::to_string(state.currentPlayer);
  if (car != state.currentPlayer) {
    if (state.players[car].waitTurns > 0)
      return fail(carName + " is sitting out a crash; it is " + current + "'s turn");
    return fail("it is " + current + "'s turn, not " + carName + "'s");
  }
  const GridPoint predicted = PredictedPoint(state.players[car]);
  const GridPoint to = event.point;
  if (!IsWithinReach(static_cast<int16_t>(to.x - predicted.x), static_cast<int16_t>(to.y - predicted.y),
                     state.moveRadius)) {
    return fail(std::to_string(to.x) + "," + std::to_string(to.y) + " is outside " + carName + "'s reach");
  }
  const MoveJudgement judgement = JudgeMove(state, to);
  if (!judgement.fits) return fail(carName + " has more moves than a trail holds");
  ApplyMove(state, to, judgement);
  ++progress->moves;
  if (race.laps > 0 && state.players[car].laps >= race.laps) {
    progress->finishRound[car] = static_cast<int16_t>(state.round);
  }
  PassTurn(race, state, progress);
  ++progress->next;
  return 0;
}

int ReplayRace(const RaceFile& race, const std::string& name, GameState& state, RaceProgress* progress,
               std::string* error, size_t count) {
  StartReplay(race, state, progress);
  while (progress->next < race.events.size() && progress->next < count) {
    if (ReplayNext(race, name, state, progress, error) != 0) return 1;
  }
  return 0;
}

void RacePlaces(const RaceProgress& progress, int players, int places[kMaxPlayers]) {
  for (int car = 0; car < kMaxPlayers; ++car) {
    places[car] = 0;
    if (car >= players || progress.finishRound[car] < 0) continue;
    places[car] = 1;
    for (int other = 0; other < players; ++other) {
      const int16_t round = progress.finishRound[other];
      if (round >= 0 && round < progress.finishRound[car]) ++places[car];
    }
  }
}
