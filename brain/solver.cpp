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
constexpr int kPerParentGroup = 2;  // moves of one velocity group each car hands on
constexpr size_t kBeamForesight = 4000;  // foresight's work for one car of the beam

}  // namespace

BeamSearch::BeamSearch(const TrackModel& model, Foresight* foresight, int width)
    : model_(model), foresight_(foresight), width_(std::max(1, width)) {}

void BeamSearch::Start(const CarState& car) {
  nodes_.assign(1, Node{car, StateTable::kNone, 0});
  arriving_.assign(3, {});
  layer_.assign(1, 0);
  seen_.Clear();
  seen_.Add(SearchNode{car.at.x, car.at.y, car.velocity.x, car.velocity.y, 0,
                       static_cast<uint8_t>(std::clamp<int>(car.reverseCrossings, 0, StateTable::kMaxCrossings)), 0, 0});
  round_ = 0;
  best_ = 0;
  committed_ = 0;
  lapFrom_ = StateTable::kNone;
  done_ = car.reverseCrossings < 0 || car.reverseCrossings > StateTable::kMaxCrossings || !model_.built();
}

bool BeamSearch::Run(const std::function<bool()>& stop) noexcept {
  try {
    while (!done_) {
      if (stop && stop()) return false;
      Advance();
    }
  } catch (const std::bad_alloc&) {
    done_ = true;
  }
  return true;
}

void BeamSearch::Advance() {
  const auto& reach = model_.Reach();
  std::vector<BeamCandidate> own;
  std::vector<int> ownGroup(kVelocityGroups, 0);
  std::vector<int> touched;
  for (uint32_t index : layer_) {
    const CarState here = nodes_[index].car;
    const GridPoint c = Predicted(here);
    own.clear();
    bool crashes = false;
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
      if (ownGroup[group] >= kPerParentGroup) continue;
      if (model_.PathBlocked(here.at, cand.to)) {
        crashes = true;
        continue;
      }
      if (ownGroup[group]++ == 0) touched.push_back(group);
      arriving_[0].push_back(cand);
    }
    for (int g : touched) ownGroup[g] = 0;
    touched.clear();
    if (here.velocity.x == 0 && here.velocity.y == 0) continue;
    for (size_t i = 0; !crashes && i < own.size(); ++i) crashes = model_.PathBlocked(here.at, own[i].to);
    if (crashes) {
      const uint32_t steps = model_.StepsToGo(here.reverseCrossings + 1, here.at.x, here.at.y);
      arriving_[2].push_back(BeamCandidate{steps, index, here.at, 1});
    }
  }

  // The next round's cars: the furthest along that can still stop, a few of each velocity
  // group, each state once. Crashed cars join only when no clean car is left.
  ++round_;
  std::vector<BeamCandidate> candidates = std::move(arriving_[0]);
  arriving_.erase(arriving_.begin());
  arriving_.emplace_back();
  std::sort(candidates.begin(), candidates.end(),
            [](const BeamCandidate& p, const BeamCandidate& q) { return p.steps < q.steps; });
  std::vector<int> perGroup(kVelocityGroups, 0);
  const int groupLimit = std::max(1, width_ / 24);
  layer_.clear();
  // Cars the foresight could not judge in time join only when no car is certain to be able to
  // stop, and crashed ones only when no clean car is left.
  for (int pass = 0; pass < 3 && layer_.empty(); ++pass) {
    for (const BeamCandidate& cand : candidates) {
      if (static_cast<int>(layer_.size()) >= width_) break;
      if (cand.crash != (pass == 2)) continue;
      const Node& parent = nodes_[cand.parent];
      CarState next = parent.car;
      if (cand.crash) {
        next.velocity = GridPoint{};
      } else {
        next = After(parent.car, cand.to, model_.CleanOutcome(parent.car.at, cand.to, parent.car.reverseCrossings));
      }
      const int group = VelocityGroup(next.velocity.x, next.velocity.y);
      if (perGroup[group] >= groupLimit) continue;
      if (seen_.Find(next.at.x, next.at.y, next.velocity.x, next.velocity.y, next.reverseCrossings) != StateTable::kNone) {
        continue;
      }
      if (!cand.crash && foresight_ != nullptr) {
        const Foresight::Fate fate = foresight_->Judge(next, kBeamForesight);
        if (fate == Foresight::Fate::kDoomed || (fate == Foresight::Fate::kUnknown && pass == 0)) continue;
      }
      seen_.Add(SearchNode{next.at.x, next.at.y, next.velocity.x, next.velocity.y, 0,
                           static_cast<uint8_t>(next.reverseCrossings), 0, 0});
      ++perGroup[group];
      nodes_.push_back(Node{next, cand.parent, static_cast<uint16_t>(parent.rounds + (cand.crash ? 3 : 1))});
      layer_.push_back(static_cast<uint32_t>(nodes_.size() - 1));
    }
  }
  // The furthest car of this round leads; crashed ones never do.
  if (!layer_.empty()) best_ = layer_.front();
  if ((layer_.empty() && arriving_[0].empty() && arriving_[1].empty()) || round_ >= kTrailCapacity - 3) done_ = true;
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
