// The best-first lap search and the quick lap search.
#include "brain/solver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>

#include "brain/foresight.h"
#include "brain/state_table.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Speed(int vx, int vy) { return std::max(std::abs(vx), std::abs(vy)); }

// A move from the parent that crashes, for writing a crash into the lap's moves.
GridPoint CrashingMove(const TrackModel& model, const CarState& car) {
  const GridPoint p = Predicted(car);
  for (GridPoint o : model.Reach()) {
    const GridPoint d{static_cast<int16_t>(p.x + o.x), static_cast<int16_t>(p.y + o.y)};
    if (model.PathBlocked(car.at, d)) return d;
  }
  return car.at;  // not reached: a crash successor is made only where a move crashes
}

// The moves that lead to the state `last` and then to `final`.
std::vector<GridPoint> MovesTo(const TrackModel& model, const StateTable& table, uint32_t last, GridPoint final) {
  std::vector<GridPoint> moves{final};
  for (uint32_t i = last; table[i].parent != StateTable::kNone; i = table[i].parent) {
    const SearchNode& n = table[i];
    const SearchNode& parent = table[n.parent];
    if (n.rounds - parent.rounds == 3) {
      moves.push_back(CrashingMove(model, StateTable::CarOf(parent)));
    } else {
      moves.push_back(GridPoint{n.x, n.y});
    }
  }
  std::reverse(moves.begin(), moves.end());
  return moves;
}

// Rounds beyond which no state is searched from: a trail holds 5001 points, so no lap can take
// more than 4998 rounds, and the rounds stay well inside their 16 bits.
constexpr uint16_t kMaxRounds = kTrailCapacity;

struct OpenEntry {
  uint32_t node;
  uint16_t rounds;
};

}  // namespace

LapPlan SolveLap(const TrackModel& model, const CarState& car, const SolveLimits& limits, const LapPlan* known) {
  LapPlan plan;
  if (known != nullptr && known->found) plan = *known;
  const Clock::time_point started = Clock::now();
  if (!model.built()) return plan;

  StateTable table;
  std::vector<std::vector<OpenEntry>> open;  // by rounds so far plus bound
  std::vector<uint16_t> untested;            // reach offsets whose path was not walked
  uint32_t best = plan.found ? plan.rounds : TrackModel::kFar;
  uint32_t goalNode = StateTable::kNone;
  GridPoint goalMove;
  uint32_t f = 0;
  bool exhausted = false;
  SolveProgress effort;
  auto report = [&] {
    effort.lowerBound = std::min(f, best);
    effort.bestRounds = best == TrackModel::kFar ? 0 : best;
    effort.stored = table.size();
    effort.seconds = SecondsSince(started);
  };

  const uint32_t startBound = model.RoundsBound(car);
  if (startBound == TrackModel::kFar || car.reverseCrossings < 0 ||
      car.reverseCrossings > StateTable::kMaxCrossings) {
    // No way round from here, or a state no search keeps: nothing to search.
    plan.lowerBound = model.boundsAreProof() ? startBound : std::min<uint32_t>(startBound, 1);
    if (plan.found) plan.lowerBound = std::min(plan.lowerBound, plan.rounds);
    plan.proven = plan.found && model.boundsAreProof() && plan.lowerBound == plan.rounds;
    return plan;
  }

  try {
    table.Reserve(std::min<size_t>(limits.maxStates, 1 << 20));
    const uint32_t first = table.Add(SearchNode{car.at.x, car.at.y, car.velocity.x, car.velocity.y, 0,
                                                static_cast<uint8_t>(car.reverseCrossings), 0,
                                                StateTable::kNone});
    f = startBound;
    open.resize(f + 1);
    open[f].push_back(OpenEntry{first, 0});
    Clock::time_point lastReport = started;
    const auto& reach = model.Reach();
    const int a = model.maxAxisChange();

    // Keeps a state reached more cheaply than before (or for the first time) and opens it.
    auto keep = [&](uint32_t existing, const SearchNode& node, uint32_t fNext) {
      uint32_t index = existing;
      if (index == StateTable::kNone) {
        index = table.Add(node);
      } else {
        SearchNode& n = table[index];
        n.rounds = node.rounds;
        n.parent = node.parent;
        n.closed = 0;
      }
      if (fNext >= open.size()) open.resize(fNext + 1);
      open[fNext].push_back(OpenEntry{index, node.rounds});
    };

    for (;;) {
      while (f < open.size() && open[f].empty()) ++f;
      if (f >= open.size()) {
        exhausted = true;
        f = best;
        break;
      }
      if (f >= best) break;  // nothing left open can beat the best lap
      const OpenEntry entry = open[f].back();
      open[f].pop_back();
      SearchNode& node = table[entry.node];
      if (node.rounds != entry.rounds || node.closed) continue;  // reached more cheaply since
      node.closed = 1;
      ++effort.expanded;
      if ((effort.expanded & 1023) == 0) {
        if (SecondsSince(started) > limits.seconds || (limits.stop && limits.stop()) ||
            table.size() > limits.maxStates) {
          break;
        }
        if (limits.progress && SecondsSince(lastReport) > 0.25) {
          lastReport = Clock::now();
          report();
          limits.progress(effort);
        }
      }

      const CarState here = StateTable::CarOf(node);
      const uint16_t g = node.rounds;
      if (g > kMaxRounds) continue;  // far past any lap a trail can hold
      const uint32_t parentIndex = entry.node;
      const GridPoint p = here.at;
      const GridPoint c = Predicted(here);
      const int sideHere = model.SideOf(p.x, p.y);
      // With no blocked cell anywhere near, every move is clean and no path needs walking.
      const bool open8 = model.BoxFree(std::min<int>(p.x, c.x - a), std::min<int>(p.y, c.y - a),
                                       std::max<int>(p.x, c.x + a), std::max<int>(p.y, c.y + a));
      bool crashes = false;
      untested.clear();

      for (uint16_t k = 0; k < reach.size(); ++k) {
        const GridPoint d{static_cast<int16_t>(c.x + reach[k].x), static_cast<int16_t>(c.y + reach[k].y)};
        if (model.Blocked(d.x, d.y)) {
          crashes = true;
          continue;
        }
        int crossings = here.reverseCrossings;
        if (model.SideOf(d.x, d.y) != sideHere) {
          const MoveOutcome outcome = model.CleanOutcome(p, d, crossings);
          if (outcome == MoveOutcome::kLap) {
            if (g + 1u < best) {
              if (!open8 && model.PathBlocked(p, d)) {
                crashes = true;
              } else {
                best = g + 1u;
                goalNode = parentIndex;
                goalMove = d;
              }
            } else {
              untested.push_back(k);
            }
            continue;
          }
          if (outcome == MoveOutcome::kBackward) ++crossings;
          if (outcome == MoveOutcome::kUndo) --crossings;
        }
        const int16_t vx = static_cast<int16_t>(d.x - p.x);
        const int16_t vy = static_cast<int16_t>(d.y - p.y);
        const uint32_t steps = model.StepsToGo(crossings + 1, d.x, d.y);
        const uint32_t fNext = steps == TrackModel::kFar ? TrackModel::kFar
                                                         : g + 1u + model.MovesToCover(steps, Speed(vx, vy));
        if (fNext >= best || crossings > StateTable::kMaxCrossings) {
          untested.push_back(k);
          continue;
        }
        const uint32_t existing = table.Find(d.x, d.y, vx, vy, crossings);
        if (existing != StateTable::kNone && table[existing].rounds <= g + 1) {
          untested.push_back(k);
          continue;
        }
        if (!open8 && model.PathBlocked(p, d)) {
          crashes = true;
          continue;
        }
        keep(existing, SearchNode{d.x, d.y, vx, vy, static_cast<uint16_t>(g + 1), static_cast<uint8_t>(crossings), 0,
                                   parentIndex},
              fNext);
      }

      // The crash: the car stays where it is, stopped, three rounds on.
      if (here.velocity.x == 0 && here.velocity.y == 0) continue;  // would only stand still
      const uint32_t steps = model.StepsToGo(here.reverseCrossings + 1, p.x, p.y);
      const uint32_t fCrash = g + 3u + model.MovesToCover(steps, 0);
      if (fCrash >= best) continue;
      const uint32_t existing = table.Find(p.x, p.y, 0, 0, here.reverseCrossings);
      if (existing != StateTable::kNone && table[existing].rounds <= g + 3) continue;
      if (!crashes && !open8) {
        for (uint16_t k : untested) {
          const GridPoint d{static_cast<int16_t>(c.x + reach[k].x), static_cast<int16_t>(c.y + reach[k].y)};
          if (model.PathBlocked(p, d)) {
            crashes = true;
            break;
          }
        }
      }
      if (!crashes) continue;
      keep(existing, SearchNode{p.x, p.y, 0, 0, static_cast<uint16_t>(g + 3),
                                 static_cast<uint8_t>(here.reverseCrossings), 0, parentIndex},
            fCrash);
    }
  } catch (const std::bad_alloc&) {
    // Out of room: what was found and the bound reached so far still hold.
  }

  report();
  plan.effort = effort;
  if (goalNode != StateTable::kNone) {
    try {
      plan.moves = MovesTo(model, table, goalNode, goalMove);
      plan.found = true;
      plan.rounds = best;
    } catch (const std::bad_alloc&) {
      plan.found = false;
    }
  }
  plan.lowerBound = std::min(f, best);
  if (exhausted && !plan.found) plan.lowerBound = TrackModel::kFar;
  if (!model.boundsAreProof()) plan.lowerBound = std::min<uint32_t>(plan.lowerBound, 1);
  plan.proven = plan.found && model.boundsAreProof() && plan.lowerBound == plan.rounds;
  plan.effort.lowerBound = plan.lowerBound;
  return plan;
}

namespace {

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
                       static_cast<uint8_t>(std::clamp<int>(car.reverseCrossings, 0, StateTable::kMaxCrossings)), 0, 0});
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
