// The quick lap search.
#include "brain/solver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>

#include "brain/foresight.h"
#include "brain/state_table.h"

namespace {

// A move from the parent that crashes, for writing a crash into the lap's moves.
GridPoint CrashingMove(const TrackModel& model, const CarState& car) {
  const GridPoint p = Predicted(car);
  for (GridPoint o : model.Reach()) {
    const GridPoint d{static_cast<int16_t>(p.x + o.x), static_cast<int16_t>(p.y + o.y)};
    if (model.PathBlocked(car.at, d)) return d;
  }
  return car.at;  // not reached: a crash successor is made only where a move crashes
}

// Which of the beam's velocity groups a move's velocity falls in: sixteen directions by speed
// bands of six cells, so that slow cars that can take the next corner stay in the beam beside
// fast ones that can't.
int VelocityGroup(int vx, int vy) {
  const int speed = static_cast<int>(std::sqrt(static_cast<double>(vx) * vx + static_cast<double>(vy) * vy));
  if (speed == 0) return 0;
  const double angle = std::atan2(static_cast<double>(vy), static_cast<double>(vx));
  const int sector = static_cast<int>(std::floor((angle + 3.14159265358979) / (2 * 3.14159265358979) * 16)) & 15;
  return 1 + std::min(speed / 6, 63) * 16 + sector;
}

constexpr int kVelocityGroups = 1 + 64 * 16;
constexpr int kPerParentGroup = 2;       // moves of one velocity group each car hands on
constexpr size_t kBeamForesight = 4000;  // foresight's work for one car of the beam
// What the beam counts for a move it considers (its outcome, the line, the steps still to go): in
// the foresight's units, which its searches also count, about four of them by the clock.
constexpr size_t kMoveWork = 4;

}  // namespace

BeamSearch::BeamSearch(const TrackModel& model, Foresight* foresight, int width)
    : model_(model), foresight_(foresight), width_(std::max(1, width)) {}

void BeamSearch::Start(const CarState& car) {
  nodes_.assign(1, Node{car, StateTable::kNone, 0});
  arriving_.assign(3, {});
  layer_.assign(1, 0);
  seen_.Clear();
  seen_.Add(SearchNode{car.at.x, car.at.y, car.velocity.x, car.velocity.y, 0,
                       static_cast<uint8_t>(std::clamp<int>(car.reverseCrossings, 0, StateTable::kMaxCrossings)), 0,
                       0});
  expandAt_ = 0;
  picking_ = false;
  candidates_.clear();
  picked_.clear();
  ownGroup_.assign(kVelocityGroups, 0);
  round_ = 0;
  best_ = 0;
  committed_ = 0;
  lapFrom_ = StateTable::kNone;
  done_ = car.reverseCrossings < 0 || car.reverseCrossings > StateTable::kMaxCrossings || !model_.built();
}

bool BeamSearch::Run(const std::function<bool()>& stop) noexcept {
  try {
    while (!done_) {
      if (BetweenRounds() && stop && stop()) return false;
      Step();
    }
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    done_ = true;
  }
  return true;
}

bool BeamSearch::RunFor(size_t work) noexcept {
  const size_t until = work_ + work;
  try {
    while (!done_) {
      if (work_ >= until) return false;
      Step();
    }
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;
    done_ = true;
  }
  return true;
}

void BeamSearch::Step() {
  if (picking_) {
    Pick();
  } else if (expandAt_ < layer_.size()) {
    Expand(layer_[expandAt_++]);
  } else {
    BeginPicking();
  }
}

void BeamSearch::Expand(uint32_t index) {
  const auto& reach = model_.Reach();
  std::vector<BeamCandidate> own;
  std::vector<int> touched;
  const CarState here = nodes_[index].car;
  const GridPoint c = Predicted(here);
  bool crashes = false;
  work_ += reach.size() * kMoveWork;
  for (GridPoint o : reach) {
    const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
    if (model_.Blocked(d.x, d.y)) {
      crashes = true;
      continue;
    }
    const MoveOutcome outcome = model_.CleanOutcome(here.at, d, here.reverseCrossings);
    if (outcome == MoveOutcome::kLap) {
      if (model_.PathBlocked(here.at, d)) continue;
      // The first lap of the earliest round: done.
      lapFrom_ = index;
      lapMove_ = d;
      done_ = true;
      return;
    }
    const CarState next = After(here, d, outcome);
    if (next.reverseCrossings > StateTable::kMaxCrossings) continue;
    const uint32_t steps = model_.StepsToGo(next.reverseCrossings + 1, d.x, d.y);
    if (steps == TrackModel::kFar) continue;
    own.push_back(BeamCandidate{steps, index, d, 0});
  }
  // Each car hands on only its furthest clean moves of each velocity group.
  std::sort(own.begin(), own.end(), [](const BeamCandidate& p, const BeamCandidate& q) { return p.steps < q.steps; });
  for (const BeamCandidate& cand : own) {
    const int group = VelocityGroup(cand.to.x - here.at.x, cand.to.y - here.at.y);
    if (ownGroup_[group] >= kPerParentGroup) continue;
    if (model_.PathBlocked(here.at, cand.to, &work_)) {
      crashes = true;
      continue;
    }
    if (ownGroup_[group]++ == 0) touched.push_back(group);
    arriving_[0].push_back(cand);
  }
  for (int g : touched) ownGroup_[g] = 0;
  if (here.velocity.x == 0 && here.velocity.y == 0) return;
  for (size_t i = 0; !crashes && i < own.size(); ++i) crashes = model_.PathBlocked(here.at, own[i].to, &work_);
  if (crashes) {
    const uint32_t steps = model_.StepsToGo(here.reverseCrossings + 1, here.at.x, here.at.y);
    arriving_[2].push_back(BeamCandidate{steps, index, here.at, 1});
  }
}

void BeamSearch::BeginPicking() {
  // The next round's cars: the furthest along that can still stop, a few of each velocity
  // group, each state once.
  ++round_;
  candidates_ = std::move(arriving_[0]);
  arriving_.erase(arriving_.begin());
  arriving_.emplace_back();
  std::sort(candidates_.begin(), candidates_.end(),
            [](const BeamCandidate& p, const BeamCandidate& q) { return p.steps < q.steps; });
  work_ += candidates_.size();
  perGroup_.assign(kVelocityGroups, 0);
  picked_.clear();
  candidateAt_ = 0;
  pass_ = 0;
  picking_ = true;
}

void BeamSearch::Pick() {
  // Cars the foresight could not judge in time join only when no car is certain to be able to
  // stop, and crashed ones only when no clean car is left. A step judges at most one car with the
  // foresight, or looks at a few hundred candidates.
  const int groupLimit = std::max(1, width_ / 24);
  for (int looked = 0; looked < 256; ++looked) {
    if (candidateAt_ >= candidates_.size() || static_cast<int>(picked_.size()) >= width_) {
      ++pass_;
      candidateAt_ = 0;
      if (pass_ < 3 && picked_.empty()) return;  // the next pass
      // The round is complete.
      picking_ = false;
      expandAt_ = 0;
      layer_.swap(picked_);
      picked_.clear();
      candidates_.clear();
      // The furthest car of this round leads; crashed ones never do.
      if (!layer_.empty()) best_ = layer_.front();
      if ((layer_.empty() && arriving_[0].empty() && arriving_[1].empty()) || round_ >= kTrailCapacity - 3) {
        done_ = true;
      }
      return;
    }
    const BeamCandidate& cand = candidates_[candidateAt_++];
    if (cand.crash != (pass_ == 2)) continue;
    const Node& parent = nodes_[cand.parent];
    CarState next = parent.car;
    if (cand.crash) {
      next.velocity = GridPoint{};
    } else {
      next = After(parent.car, cand.to, model_.CleanOutcome(parent.car.at, cand.to, parent.car.reverseCrossings));
    }
    const int group = VelocityGroup(next.velocity.x, next.velocity.y);
    if (perGroup_[group] >= groupLimit) continue;
    const uint32_t held = seen_.Find(next.at.x, next.at.y, next.velocity.x, next.velocity.y, next.reverseCrossings);
    if (held != StateTable::kNone) continue;
    bool judged = false;
    if (!cand.crash && foresight_ != nullptr) {
      const size_t before = foresight_->work();
      const Foresight::Fate fate = foresight_->Judge(next, kBeamForesight);
      work_ += foresight_->work() - before;
      judged = true;
      if (fate == Foresight::Fate::kDoomed || (fate == Foresight::Fate::kUnknown && pass_ == 0)) return;
    }
    seen_.Add(SearchNode{next.at.x, next.at.y, next.velocity.x, next.velocity.y, 0,
                         static_cast<uint8_t>(next.reverseCrossings), 0, 0});
    ++perGroup_[group];
    const uint16_t rounds = static_cast<uint16_t>(parent.rounds + (cand.crash ? 3 : 1));
    nodes_.push_back(Node{next, cand.parent, rounds});
    picked_.push_back(static_cast<uint32_t>(nodes_.size() - 1));
    if (judged) return;
  }
}

std::vector<GridPoint> BeamSearch::MovesTo(uint32_t last) const {
  std::vector<GridPoint> moves;
  for (uint32_t i = last; i != committed_ && nodes_[i].parent != StateTable::kNone; i = nodes_[i].parent) {
    const Node& n = nodes_[i];
    moves.push_back(n.rounds - nodes_[n.parent].rounds == 3 ? CrashingMove(model_, nodes_[n.parent].car) : n.car.at);
  }
  std::reverse(moves.begin(), moves.end());
  return moves;
}

LapPlan BeamSearch::Lap() const {
  LapPlan plan;
  if (lapFrom_ == StateTable::kNone) return plan;
  plan.moves = MovesTo(lapFrom_);
  plan.moves.push_back(lapMove_);
  plan.rounds = nodes_[lapFrom_].rounds - nodes_[committed_].rounds + 1u;
  plan.found = true;
  return plan;
}

std::vector<GridPoint> BeamSearch::Leader() const {
  if (lapFrom_ != StateTable::kNone) return Lap().moves;
  return MovesTo(best_);
}

bool BeamSearch::Descends(uint32_t node, uint32_t from) const {
  while (node != from && node != StateTable::kNone && nodes_[node].rounds > nodes_[from].rounds) {
    node = nodes_[node].parent;
  }
  return node == from;
}

GridPoint BeamSearch::Commit() {
  const uint32_t leader = lapFrom_ != StateTable::kNone ? lapFrom_ : best_;
  if (leader == committed_) {
    // Either the next move is the lap itself, or there is nothing to commit to.
    return lapFrom_ == committed_ ? lapMove_ : nodes_[committed_].car.at;
  }
  uint32_t next = leader;
  while (nodes_[next].parent != committed_) next = nodes_[next].parent;
  const Node& from = nodes_[committed_];
  const GridPoint move = nodes_[next].rounds - from.rounds == 3 ? CrashingMove(model_, from.car) : nodes_[next].car.at;

  // Only the cars that make this move go on.
  committed_ = next;
  auto lost = [this](uint32_t node) { return !Descends(node, committed_); };
  layer_.erase(std::remove_if(layer_.begin(), layer_.end(), lost), layer_.end());
  for (auto& round : arriving_) {
    round.erase(std::remove_if(round.begin(), round.end(), [&](const BeamCandidate& c) { return lost(c.parent); }),
                round.end());
  }
  if (lost(best_)) best_ = committed_;
  if (lapFrom_ != StateTable::kNone && lost(lapFrom_)) lapFrom_ = StateTable::kNone;
  if (!done_ && layer_.empty() && arriving_[0].empty() && arriving_[1].empty()) {
    // Nothing left beyond the committed car: search again from it.
    const CarState car = nodes_[committed_].car;
    Start(car);
  }
  return move;
}

LapPlan QuickLap(const TrackModel& model, const CarState& car, int width, const std::function<bool()>& stop) {
  LapPlan plan;
  try {
    Foresight foresight(model);
    BeamSearch beam(model, &foresight, width);
    beam.Start(car);
    if (!beam.Run(stop)) return plan;
    plan = beam.Lap();
  } catch (const std::bad_alloc&) {
    plan = LapPlan{};
  }
  return plan;
}
