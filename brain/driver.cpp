// The pro and club drivers.
#include "brain/driver.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "rules/move.h"

namespace {

constexpr int kProWidth = 24;  // cars a round in the pro's search
// ... and in Think's, one search after the other: the first has a lap ready within a few
// seconds, the wider one often finds a round less.
constexpr int kThinkWidths[] = {384, 768};
constexpr int kThinkStages = static_cast<int>(sizeof kThinkWidths / sizeof kThinkWidths[0]);
constexpr int kClubWidth = 6;           // ... and in the club driver's
constexpr int kClubRounds = 4;          // rounds the club driver looks ahead
constexpr size_t kPlanMemory = 200000;  // remembered plan steps before they are dropped

// The club driver's handicap: the share of moves (in percent) on which it lifts off, braking by
// up to kClubBrake where its line says go; how many cells its aim wanders each way; and the
// share of moves on which it does not notice that the wandering aim crashes. Together they cost
// it a fifth to a third more rounds than the pro on the built-in circuits.
constexpr uint32_t kClubHesitant = 20;
constexpr int kClubBrake = 8;
constexpr int kClubWobble = 2;
constexpr uint32_t kClubCareless = 5;

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

bool InReach(const CarState& car, GridPoint to) {
  const GridPoint p = Predicted(car);
  return IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), kMoveRadius);
}

// Runs the search round by round until it has done `work` more, stopping before a round that
// would likely overrun it: the round before took as much.
bool RunRoundsFor(BeamSearch& search, size_t work) {
  const size_t until = search.work() + work;
  size_t roundStart = search.work();
  return search.Run([&] {
    const size_t now = search.work();
    const size_t lastRound = now - roundStart;
    roundStart = now;
    return now + lastRound > until;
  });
}

}  // namespace

bool Driver::Load(const TrackGrid& track) noexcept {
  table_ = nullptr;
  plan_.clear();
  planIndex_.Clear();
  live_.reset();
  ahead_.reset();
  thinkStage_ = 0;
  thoughtRounds_ = 0;
  outOfMemory_ = false;
  clubForesight_.reset();
  foresight_.reset();
  model_.reset();
  try {
    auto model = std::make_unique<TrackModel>();
    if (!model->Build(track)) {
      // The model fails only for a circuit without a grid, or when memory runs out.
      outOfMemory_ = track.collisionGrid != nullptr && track.width > 0 && track.height > 0;
      return false;
    }
    model_ = std::move(model);
    foresight_ = std::make_unique<Foresight>(*model_);
    return !foresight_->outOfMemory();
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    foresight_.reset();
    model_.reset();
    return false;
  }
}

void Driver::UseTable(const LapTable* table) noexcept {
  table_ = table != nullptr && table->ready() ? table : nullptr;
  if (foresight_ != nullptr) foresight_->UseTable(table_);
}

bool Driver::outOfMemory() const {
  return outOfMemory_ || (foresight_ != nullptr && foresight_->outOfMemory()) ||
         (clubForesight_ != nullptr && clubForesight_->outOfMemory());
}

GridPoint Driver::Move(const PlayerRecord& record, DriverLevel level, uint32_t seed) noexcept {
  const CarState car = CarOf(record);
  if (!loaded()) return Predicted(car);
  try {
    const GridPoint to = level == DriverLevel::kPro ? ProMove(car) : ClubMove(car, record, seed);
    if (InReach(car, to)) return to;
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    plan_.clear();
    planIndex_.Clear();
    live_.reset();
  }
  return Predicted(car);  // in reach always; a crash at worst
}

bool Driver::Think(size_t work) noexcept {
  if (!loaded() || thinkStage_ >= kThinkStages) return true;
  try {
    const CarState start{model_->start(), {}, 0};
    if (ahead_ == nullptr) {
      ahead_ = std::make_unique<BeamSearch>(*model_, foresight_.get(), kThinkWidths[thinkStage_]);
      ahead_->Start(start);
    }
    // A round of the widest search is far more work than a slice: the slice ends within it.
    if (!ahead_->RunFor(work)) return false;
    if (ahead_->outOfMemory()) throw std::bad_alloc();
    const LapPlan lap = ahead_->Lap();
    ahead_.reset();
    ++thinkStage_;
    // Only a better lap replaces the one known; a car already on the old one keeps to it wherever
    // the new one doesn't pass.
    if (lap.found && (thoughtRounds_ == 0 || lap.rounds < thoughtRounds_)) {
      Remember(start, lap.moves, lap.moves.size());
      thoughtRounds_ = lap.rounds;
    }
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    ahead_.reset();
    thinkStage_ = kThinkStages;
  }
  return thinkStage_ >= kThinkStages;
}

const GridPoint* Driver::Known(const CarState& car) const {
  if (car.reverseCrossings < 0 || car.reverseCrossings > StateTable::kMaxCrossings) return nullptr;
  const uint32_t i = planIndex_.Find(car.at.x, car.at.y, car.velocity.x, car.velocity.y, car.reverseCrossings);
  return i == StateTable::kNone ? nullptr : &plan_[planIndex_[i].parent].move;
}

void Driver::Remember(const CarState& from, const std::vector<GridPoint>& moves, size_t count) {
  if (plan_.size() + count > kPlanMemory) {
    plan_.clear();
    planIndex_.Clear();
  }
  CarState car = from;
  for (size_t i = 0; i < count && i < moves.size(); ++i) {
    if (car.reverseCrossings < 0 || car.reverseCrossings > StateTable::kMaxCrossings) break;
    const uint32_t at = planIndex_.Find(car.at.x, car.at.y, car.velocity.x, car.velocity.y, car.reverseCrossings);
    if (at == StateTable::kNone) {
      // The step first: memory running out between the two must not leave the index naming a
      // step that isn't there (Think goes on with what it has).
      plan_.push_back(PlanStep{car, moves[i]});
      planIndex_.Add(SearchNode{car.at.x, car.at.y, car.velocity.x, car.velocity.y, 0,
                                static_cast<uint8_t>(car.reverseCrossings), 0,
                                static_cast<uint32_t>(plan_.size() - 1)});
    } else {
      plan_[planIndex_[at].parent].move = moves[i];
    }
    const MoveOutcome outcome = model_->Outcome(car.at, moves[i], car.reverseCrossings);
    if (outcome == MoveOutcome::kLap) break;
    car = After(car, moves[i], outcome);
  }
}

GridPoint Driver::ProMove(const CarState& car) {
  GridPoint best;
  if (table_ != nullptr && table_->BestMove(car, &best)) return best;
  if (const GridPoint* known = Known(car)) return *known;

  // A search of its own for this car, kept across its turns: each turn it searches on for a
  // while and commits to the first move towards the car furthest on, until it has the lap.
  if (live_ == nullptr || !(live_->committed() == car)) {
    live_ = std::make_unique<BeamSearch>(*model_, foresight_.get(), kProWidth);
    live_->Start(car);
  }
  RunRoundsFor(*live_, kPlanWork);
  if (live_->outOfMemory()) throw std::bad_alloc();
  if (live_->done()) {
    const LapPlan lap = live_->Lap();
    live_.reset();
    if (lap.found) {
      Remember(car, lap.moves, lap.moves.size());
      return lap.moves.front();
    }
    return FallbackMove(car);
  }
  const GridPoint move = live_->Commit();
  if (move == car.at && !InReach(car, move)) {
    live_.reset();
    return FallbackMove(car);
  }
  // Asked again for the same car, the pro gives the same move.
  Remember(car, {move}, 1);
  return move;
}

GridPoint Driver::FallbackMove(const CarState& car) {
  const GridPoint c = Predicted(car);
  GridPoint best = c;
  uint32_t bestSteps = TrackModel::kFar;
  bool bestSafe = false;
  bool anyClean = false;
  for (GridPoint o : model_->Reach()) {
    const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
    if (model_->Blocked(d.x, d.y) || model_->PathBlocked(car.at, d)) continue;
    const MoveOutcome outcome = model_->CleanOutcome(car.at, d, car.reverseCrossings);
    if (outcome == MoveOutcome::kLap) return d;
    const CarState next = After(car, d, outcome);
    const uint32_t steps = model_->StepsToGo(next.reverseCrossings + 1, d.x, d.y);
    const bool better = !anyClean || (steps < bestSteps && !bestSafe);
    if (!better && !(steps < bestSteps)) continue;
    const bool safe = !foresight_->Doomed(next);
    if (!anyClean || (safe && !bestSafe) || (safe == bestSafe && steps < bestSteps)) {
      best = d;
      bestSteps = steps;
      bestSafe = safe;
      anyClean = true;
    }
  }
  return best;
}

std::vector<GridPoint> Driver::ShortPlan(const CarState& car, int width, int rounds) {
  // A foresight of its own that starts afresh each time, so that what earlier queries taught
  // it cannot change this plan: the same car always gets the same plan.
  if (clubForesight_ == nullptr) clubForesight_ = std::make_unique<Foresight>(*model_);
  clubForesight_->Forget();
  BeamSearch beam(*model_, clubForesight_.get(), width);
  beam.Start(car);
  beam.Run([&] { return beam.round() >= rounds; });
  if (beam.outOfMemory()) throw std::bad_alloc();
  return beam.Leader();
}

GridPoint Driver::ClubMove(const CarState& car, const PlayerRecord& record, uint32_t seed) {
  // A short look ahead with few cars. Then, repeatably for the seed, the car and the turn: now
  // and then the driver lifts off and brakes a little where the line says go; and its aim
  // wanders a cell or two, which, on the odd move it does not notice, ends in the wall.
  const std::vector<GridPoint> moves = ShortPlan(car, kClubWidth, kClubRounds);
  GridPoint aim = moves.empty() ? FallbackMove(car) : moves.front();
  uint32_t h =
      Mix(seed ^ Mix(record.lastIndex * 0x9E3779B9u ^ (static_cast<uint32_t>(static_cast<uint16_t>(car.at.x)) << 16) ^
                     static_cast<uint16_t>(car.at.y)));
  const double speed = std::hypot(static_cast<double>(car.velocity.x), static_cast<double>(car.velocity.y));
  if (h % 100 < kClubHesitant && speed > 0) {
    const double brake = std::min(speed, static_cast<double>(kClubBrake)) / speed;
    const GridPoint slower{static_cast<int16_t>(aim.x - std::lround(car.velocity.x * brake)),
                           static_cast<int16_t>(aim.y - std::lround(car.velocity.y * brake))};
    if (InReach(car, slower) && !model_->PathBlocked(car.at, slower)) aim = slower;
  }
  h = Mix(h);
  const bool careless = h % 100 < kClubCareless;
  for (int attempt = 0; attempt < 8; ++attempt) {
    h = Mix(h);
    const int dx = static_cast<int>(h % (2 * kClubWobble + 1)) - kClubWobble;
    h = Mix(h);
    const int dy = static_cast<int>(h % (2 * kClubWobble + 1)) - kClubWobble;
    const GridPoint to{static_cast<int16_t>(aim.x + dx), static_cast<int16_t>(aim.y + dy)};
    if (!InReach(car, to)) continue;
    if (careless || !model_->PathBlocked(car.at, to)) return to;
  }
  return aim;
}
