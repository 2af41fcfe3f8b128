// Foresight: a depth-first search for a way to rest, braking hardest first.
#include "brain/foresight.h"

#include <algorithm>
#include <new>

#include "rules/move.h"

namespace {

bool AtRest(GridPoint v) {
  return IsWithinReach(v.x, v.y, kMoveRadius);  // the move back onto its own cell is in reach
}

constexpr size_t kSortedAhead = 48;  // candidates put in order at a time
constexpr size_t kMemo = 1 << 18;    // states the memo holds

}  // namespace

uint64_t Foresight::Key(const CarState& car) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(car.at.x)) << 48) |
         (static_cast<uint64_t>(static_cast<uint16_t>(car.at.y)) << 32) |
         (static_cast<uint64_t>(static_cast<uint16_t>(car.velocity.x)) << 16) | static_cast<uint16_t>(car.velocity.y);
}

Foresight::Foresight(const TrackModel& model, size_t budget) noexcept : model_(model), budget_(budget) {
  try {
    known_.Reserve(kMemo);
    visited_.Reserve(std::min<size_t>(budget_ / 300 + 1, kMemo / 4));
    order_.reserve(size_t{64} * 1024);
  } catch (const std::bad_alloc&) {
    outOfMemory_ = true;  // the queries make what room they can
  }
}

void Foresight::Forget() noexcept {
  known_.Clear();
  visited_.Clear();
}

bool Foresight::Doomed(const CarState& car) noexcept { return Judge(car, budget_) == Fate::kDoomed; }

Foresight::Fate Foresight::Judge(const CarState& car, size_t budget) noexcept {
  lastGaveUp_ = false;
  ++work_;
  if (!model_.built() || AtRest(car.velocity)) return Fate::kCanStop;
  if (table_ != nullptr) {
    const int stops = table_->CanStop(car);
    if (stops >= 0) return stops != 0 ? Fate::kCanStop : Fate::kDoomed;
  }
  tried_ = 0;
  try {
    // The memo keeps a fixed table: growing it would stall one query for milliseconds, so a
    // full memo starts again instead.
    if (known_.capacity() < kMemo) known_.Reserve(kMemo);
    // A query meets about one new state for every few hundred units of work.
    const size_t states = std::min<size_t>(budget / 300 + 1, kMemo / 4);
    if (visited_.capacity() < states) visited_.Reserve(states);
    if (known_.size() + states + 64 > known_.capacity()) known_.Clear();
    if (const uint8_t* memo = known_.Find(Key(car))) return *memo != 0 ? Fate::kDoomed : Fate::kCanStop;
    const Fate fate = Search(car, budget);
    work_ += tried_;
    return fate;
  } catch (const std::bad_alloc&) {
    work_ += tried_;
    Forget();
    lastGaveUp_ = true;
    outOfMemory_ = true;
    return Fate::kUnknown;
  }
}

bool Foresight::MoveDooms(const PlayerRecord& player, GridPoint to) noexcept {
  const CarState car = CarOf(player);
  const GridPoint p = Predicted(car);
  if (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), kMoveRadius)) return false;
  if (!model_.built() || model_.PathBlocked(car.at, to)) return false;
  return Doomed(After(car, to, MoveOutcome::kClean));
}

Foresight::Fate Foresight::Search(const CarState& root, size_t budget) {
  // Depth first, slowest next velocity first, so that a car that can brake finds out at once;
  // a car that can't has every state it can reach searched, each once.
  visited_.Clear();
  frames_.clear();
  order_.clear();
  const auto& reach = model_.Reach();
  auto open = [&](const CarState& car) {
    Frame f;
    f.car = car;
    f.begin = f.first = f.sorted = order_.size();
    const GridPoint c = Predicted(car);
    for (uint32_t k = 0; k < reach.size(); ++k) {
      const int x = c.x + reach[k].x, y = c.y + reach[k].y;
      if (model_.Blocked(x, y)) continue;
      const int64_t vx = x - car.at.x, vy = y - car.at.y;
      order_.push_back((static_cast<uint64_t>(vx * vx + vy * vy) << 11) | k);
    }
    f.end = order_.size();
    frames_.push_back(f);
    tried_ += reach.size() / 4;
  };
  visited_.Put(Key(root), 0);
  open(root);

  while (!frames_.empty()) {
    Frame& frame = frames_.back();
    const CarState car = frame.car;
    const GridPoint c = Predicted(car);
    bool descended = false;
    while (frame.first < frame.end) {
      if (frame.first == frame.sorted) {
        // Only the next few candidates are put in order: most searches need only the first.
        const size_t upTo = std::min(frame.end, frame.first + kSortedAhead);
        std::partial_sort(order_.begin() + frame.first, order_.begin() + upTo, order_.begin() + frame.end);
        frame.sorted = upTo;
      }
      const uint32_t k = static_cast<uint32_t>(order_[frame.first++] & 2047);
      const GridPoint d{static_cast<int16_t>(c.x + reach[k].x), static_cast<int16_t>(c.y + reach[k].y)};
      const CarState next = After(car, d, MoveOutcome::kClean);
      const uint64_t key = Key(next);
      bool safe = AtRest(next.velocity);
      if (!safe) {
        if (visited_.Find(key) != nullptr) continue;
        const uint8_t* memo = known_.Find(key);
        if (memo != nullptr && *memo != 0) continue;  // doomed: no use going there
        safe = memo != nullptr;
      }
      tried_ += 2;
      if (tried_ > budget) {
        lastGaveUp_ = true;
        return Fate::kUnknown;
      }
      if (model_.PathBlocked(car.at, d, &tried_)) continue;
      if (safe) {
        // A way to rest: every state on the way can stop too.
        for (const Frame& f : frames_) known_.Put(Key(f.car), 0);
        return Fate::kCanStop;
      }
      visited_.Put(key, 0);
      open(next);  // may move the frames: `frame` is not used after this
      descended = true;
      break;
    }
    if (!descended) {
      order_.resize(frames_.back().begin);  // the newest frame's candidates end the list
      frames_.pop_back();
    }
  }
  // Nothing reachable from the car can stop: all of it is doomed.
  visited_.ForEach([this](uint64_t key, uint8_t) { known_.Put(key, 1); });
  return Fate::kDoomed;
}
