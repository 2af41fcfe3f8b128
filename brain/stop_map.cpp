// The stop map, grown backwards from the cars at rest in planes of velocity bits, a cell's a plane.
#include "brain/stop_map.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <utility>

#include "rules/move.h"

namespace {

constexpr int kReach = kMoveRadius - 1;  // the largest change of either velocity component
constexpr int kDiscRows = 2 * kReach + 1;
constexpr uint32_t kNoCell = ~0u;

// The velocities just beyond the window that one move from inside it can reach: -kEscapeHalf to
// kEscapeHalf on either axis, in rows of three words.
constexpr int kEscapeHalf = StopMap::kHalf - 1 + kReach;
constexpr int kEscapeSide = 2 * kEscapeHalf + 1;
constexpr int kEscapeWords = (kEscapeSide + 63) / 64;
constexpr int kEscapeShift = kEscapeHalf - StopMap::kHalf;  // the window's bit 0 in an escape row

template <int Words>
struct Row {
  uint64_t w[Words];
};
using MapRow = Row<StopMap::kRowWords>;
using EscapeRow = Row<kEscapeWords>;

// Row r widened by one velocity either way; bits pushed past the row's ends are dropped.
template <int Words>
Row<Words> WidenByOne(const Row<Words>& r) {
  Row<Words> out;
  for (int i = 0; i < Words; ++i) {
    const uint64_t up = r.w[i] << 1 | (i > 0 ? r.w[i - 1] >> 63 : 0);
    const uint64_t down = r.w[i] >> 1 | (i + 1 < Words ? r.w[i + 1] << 63 : 0);
    out.w[i] = r.w[i] | up | down;
  }
  return out;
}

// The `side` rows of `source` widened by the reach disc (`halfWidth` a row, dy from -kReach) into
// `out`: every velocity from which one move reaches one of them, cut to the rows.
template <int Words>
void WidenRows(const int* halfWidth, const uint64_t* source, int side, Row<Words>* out) {
  for (int y = 0; y < side; ++y) out[y] = Row<Words>{};
  Row<Words> spans[kReach + 1];
  for (int y = 0; y < side; ++y) {
    const uint64_t* row = source + static_cast<size_t>(y) * Words;
    bool any = false;
    for (int i = 0; i < Words; ++i) {
      spans[0].w[i] = row[i];
      any = any || row[i] != 0;
    }
    if (!any) continue;
    for (int r = 1; r <= kReach; ++r) spans[r] = WidenByOne(spans[r - 1]);
    for (int dy = std::max(-kReach, -y); dy <= kReach && y + dy < side; ++dy) {
      const Row<Words>& span = spans[halfWidth[dy + kReach]];
      for (int i = 0; i < Words; ++i) out[y + dy].w[i] |= span.w[i];
    }
  }
}

// The free cells in row order: the map's cell index of each.
std::vector<uint32_t> PositionsOf(const TrackModel& model, size_t* count) {
  std::vector<uint32_t> positionOf(static_cast<size_t>(model.width()) * model.height(), kNoCell);
  uint32_t next = 0;
  for (int y = 0; y < model.height(); ++y) {
    for (int x = 0; x < model.width(); ++x) {
      if (!model.Blocked(x, y)) positionOf[model.Index(x, y)] = next++;
    }
  }
  *count = next;
  return positionOf;
}

size_t FreeCells(const TrackModel& model) {
  size_t count = 0;
  for (int y = 0; y < model.height(); ++y) {
    for (int x = 0; x < model.width(); ++x) count += model.Blocked(x, y) ? 0 : 1;
  }
  return count;
}

// Runs `work(thread, begin, end)` over [0, count) in chunks on `threads` threads, the calling one
// among them. A thread that runs out of memory stops taking chunks; the others finish theirs and
// then std::bad_alloc is thrown here.
template <typename Work>
void InChunks(size_t count, int threads, const Work& work) {
  constexpr size_t kChunk = 64;
  std::atomic<size_t> taken{0};
  std::atomic<bool> short_{false};
  auto run = [&](int t) {
    try {
      for (;;) {
        const size_t first = taken.fetch_add(kChunk);
        if (first >= count || short_.load(std::memory_order_relaxed)) return;
        work(t, first, std::min(count, first + kChunk));
      }
    } catch (const std::bad_alloc&) {
      short_ = true;
    }
  };
  std::vector<std::thread> others;
  try {
    for (int t = 1; t < threads; ++t) others.emplace_back(run, t);
  } catch (...) {
    short_ = true;
  }
  run(0);
  for (std::thread& t : others) t.join();
  if (short_) throw std::bad_alloc();
}

// What a build shares with its threads.
struct Builder {
  const TrackModel& model;
  int threads;
  const std::vector<uint32_t>& positionOf;
  std::vector<GridPoint> cellOf;
  std::vector<uint16_t> clearance;             // of each free cell
  int halfWidth[kDiscRows] = {};               // the reach disc: one span [-w, w] a row, dy from -kReach
  uint64_t window[StopMap::kPlaneWords] = {};  // the velocities the map holds
  uint64_t* words = nullptr;                   // the map's
  std::vector<uint64_t> fresh;                 // a plane a cell: the states new in the round
  std::vector<uint64_t> steps;                 // a plane a cell: the good steps the round found
  std::vector<uint8_t> touched;                // a cell's steps are listed for the widening

  Builder(const TrackModel& m, int t, const std::vector<uint32_t>& p) : model(m), threads(t), positionOf(p) {}

  // The good steps of a cell widened by the disc: every velocity from which one move reaches one.
  void Widen(const uint64_t* source, MapRow* out) const { WidenRows(halfWidth, source, StopMap::kSide, out); }

  // The states of cell q, not in S, with a clean move beyond the window (low to high either
  // way), set in `seeds`; false when there are none.
  bool Escapes(uint32_t q, int low, int high, uint64_t* seeds) const {
    uint64_t escapes[kEscapeSide * kEscapeWords] = {};
    const GridPoint at = cellOf[q];
    bool any = false;
    for (int vy = std::max(low - kReach, -at.y); vy <= high + kReach && at.y + vy < model.height(); ++vy) {
      const bool inside = vy >= low && vy <= high;
      for (int vx = std::max(low - kReach, -at.x); vx <= high + kReach && at.x + vx < model.width(); ++vx) {
        if (inside && vx >= low && vx <= high) {
          vx = high;  // the window's own velocities
          continue;
        }
        const GridPoint to{static_cast<int16_t>(at.x + vx), static_cast<int16_t>(at.y + vy)};
        if (model.Blocked(to.x, to.y) || model.PathBlocked(at, to)) continue;
        const int x = vx + kEscapeHalf;
        escapes[(vy + kEscapeHalf) * kEscapeWords + x / 64] |= uint64_t{1} << (x % 64);
        any = true;
      }
    }
    if (!any) return false;
    EscapeRow widened[kEscapeSide];
    WidenRows(halfWidth, escapes, kEscapeSide, widened);
    const uint64_t* s = words + static_cast<size_t>(q) * StopMap::kCellWords;
    uint64_t found = 0;
    for (int y = 0; y < StopMap::kSide; ++y) {
      const EscapeRow& e = widened[y + kEscapeShift];
      for (int i = 0; i < StopMap::kRowWords; ++i) {
        const size_t k = static_cast<size_t>(y) * StopMap::kRowWords + i;
        const uint64_t bits = e.w[i] >> kEscapeShift | e.w[i + 1] << (64 - kEscapeShift);
        seeds[k] = bits & window[k] & ~s[k];
        found |= seeds[k];
      }
    }
    return found != 0;
  }

  // Grows a plane (`plane` words into each cell) backwards from the fresh states of the `active`
  // cells, round by round: a fresh state (r, w) makes w a good step of q = r - w when q is free
  // and the move q -> r is clean, and a cell's good steps widened by the disc are the states of
  // the plane there, but for those already in it or in `other` (the same plane when none).
  bool Grow(size_t plane, size_t other, std::vector<uint32_t> active, const std::function<bool()>& stop) {
    std::vector<std::vector<uint32_t>> lists(static_cast<size_t>(threads));
    while (!active.empty()) {
      if (stop && stop()) return false;
      for (auto& l : lists) l.clear();
      // The fresh states, each path-tested once, give their cells' good steps.
      InChunks(active.size(), threads, [&](int t, size_t begin, size_t end) {
        for (size_t a = begin; a < end; ++a) Step(active[a], &lists[static_cast<size_t>(t)]);
      });
      std::vector<uint32_t> cells;
      for (const auto& l : lists) cells.insert(cells.end(), l.begin(), l.end());
      for (auto& l : lists) l.clear();
      // The good steps widened: the new states of the round.
      InChunks(cells.size(), threads, [&](int t, size_t begin, size_t end) {
        MapRow widened[StopMap::kSide];
        for (size_t c = begin; c < end; ++c) {
          const uint32_t q = cells[c];
          uint64_t* s = &steps[static_cast<size_t>(q) * StopMap::kPlaneWords];
          Widen(s, widened);
          std::fill(s, s + StopMap::kPlaneWords, 0);
          touched[q] = 0;
          uint64_t* target = words + static_cast<size_t>(q) * StopMap::kCellWords + plane;
          const uint64_t* besides = words + static_cast<size_t>(q) * StopMap::kCellWords + other;
          uint64_t* f = &fresh[static_cast<size_t>(q) * StopMap::kPlaneWords];
          uint64_t any = 0;
          for (int y = 0; y < StopMap::kSide; ++y) {
            for (int i = 0; i < StopMap::kRowWords; ++i) {
              const size_t k = static_cast<size_t>(y) * StopMap::kRowWords + i;
              const uint64_t added = widened[y].w[i] & window[k] & ~target[k] & ~besides[k];
              target[k] |= added;
              f[k] = added;
              any |= added;
            }
          }
          if (any != 0) lists[static_cast<size_t>(t)].push_back(q);
        }
      });
      active.clear();
      for (const auto& l : lists) active.insert(active.end(), l.begin(), l.end());
    }
    return true;
  }

  // The good steps that the fresh states of cell r give, set in their cells' steps; the fresh
  // plane is left empty.
  void Step(uint32_t r, std::vector<uint32_t>* listed) {
    const GridPoint at = cellOf[r];
    const int clearanceOfR = clearance[r];
    uint64_t* f = &fresh[static_cast<size_t>(r) * StopMap::kPlaneWords];
    for (int y = 0; y < StopMap::kSide; ++y) {
      for (int i = 0; i < StopMap::kRowWords; ++i) {
        uint64_t bits = f[y * StopMap::kRowWords + i];
        f[y * StopMap::kRowWords + i] = 0;
        while (bits != 0) {
          const int b = __builtin_ctzll(bits);
          bits &= bits - 1;
          const int vx = i * 64 + b - StopMap::kHalf, vy = y - StopMap::kHalf;
          const int qx = at.x - vx, qy = at.y - vy;
          if (model.Blocked(qx, qy)) continue;
          const uint32_t q = positionOf[model.Index(qx, qy)];
          // Every cell of a walk lies no further from either end than the move is long along its
          // major axis, and every cell nearer a free cell than its clearance is free: a short
          // move needs no walk.
          const int length = std::max(std::abs(vx), std::abs(vy));
          if (length >= clearance[q] + clearanceOfR &&
              model.PathBlocked(GridPoint{static_cast<int16_t>(qx), static_cast<int16_t>(qy)}, at)) {
            continue;
          }
          __atomic_fetch_or(
              &steps[static_cast<size_t>(q) * StopMap::kPlaneWords + static_cast<size_t>(y) * StopMap::kRowWords + i],
              uint64_t{1} << b, __ATOMIC_RELAXED);
          if (__atomic_exchange_n(&touched[q], 1, __ATOMIC_RELAXED) == 0) listed->push_back(q);
        }
      }
    }
  }
};

}  // namespace

size_t StopMap::BytesFor(const TrackModel& model) {
  return FreeCells(model) * kCellBytes + static_cast<size_t>(model.width()) * model.height() * 4;
}

size_t StopMap::BuildBytesFor(const TrackModel& model) { return FreeCells(model) * (2 * kPlaneWords * 8 + 1); }

void StopMap::Clear() {
  model_ = nullptr;
  topSpeed_ = kHalf - 1;
  std::vector<uint32_t>().swap(positionOf_);
  std::vector<uint64_t>().swap(words_);
}

bool StopMap::Adopt(const TrackModel& model, std::vector<uint64_t> words) {
  Clear();
  size_t cells = 0;
  std::vector<uint32_t> positionOf = PositionsOf(model, &cells);
  if (cells == 0 || words.size() != cells * kCellWords) return false;
  model_ = &model;
  positionOf_ = std::move(positionOf);
  words_ = std::move(words);
  return true;
}

bool StopMap::Build(const TrackModel& model, int threads, const std::function<bool()>& stop, int topSpeed) {
  Clear();
  if (!model.built()) return false;
  // The window: velocities low to high along either axis.
  const int high = std::clamp(topSpeed, 0, kHalf - 1), low = std::max(-high, -kHalf);
  size_t cells = 0;
  std::vector<uint32_t> positionOf = PositionsOf(model, &cells);
  std::vector<uint64_t> words(cells * kCellWords, 0);
  Builder b(model, std::max(threads, 1), positionOf);
  for (int y = low; y <= high; ++y) {
    for (int x = low; x <= high; ++x) {
      b.window[static_cast<size_t>(y + kHalf) * kRowWords + (x + kHalf) / 64] |= uint64_t{1} << ((x + kHalf) % 64);
    }
  }
  b.words = words.data();
  b.cellOf.resize(cells);
  b.clearance.resize(cells);
  for (int y = 0; y < model.height(); ++y) {
    for (int x = 0; x < model.width(); ++x) {
      const uint32_t p = positionOf[model.Index(x, y)];
      if (p == kNoCell) continue;
      b.cellOf[p] = GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)};
      b.clearance[p] = static_cast<uint16_t>(std::min(model.Clearance(x, y), 0xFFFF));
    }
  }
  for (GridPoint o : model.Reach()) {
    if (std::abs(o.y) <= kReach) {
      int& w = b.halfWidth[o.y + kReach];
      w = std::max(w, std::abs(static_cast<int>(o.x)));
    }
  }
  b.fresh.assign(cells * kPlaneWords, 0);
  b.steps.assign(cells * kPlaneWords, 0);
  b.touched.assign(cells, 0);

  // S: every car at rest can stop, at every free cell.
  uint64_t rest[kPlaneWords] = {};
  for (int vy = -kMoveRadius; vy <= kMoveRadius; ++vy) {
    for (int vx = -kMoveRadius; vx <= kMoveRadius; ++vx) {
      if (!IsWithinReach(static_cast<int16_t>(vx), static_cast<int16_t>(vy), kMoveRadius)) continue;
      const int x = vx + kHalf, y = vy + kHalf;
      rest[static_cast<size_t>(y) * kRowWords + x / 64] |= uint64_t{1} << (x % 64);
    }
  }
  std::vector<uint32_t> active(cells);
  for (uint32_t q = 0; q < cells; ++q) {
    active[q] = q;
    std::copy(rest, rest + kPlaneWords, &words[static_cast<size_t>(q) * kCellWords]);
    std::copy(rest, rest + kPlaneWords, &b.fresh[static_cast<size_t>(q) * kPlaneWords]);
  }
  if (!b.Grow(0, 0, std::move(active), stop)) return false;

  // U: the states not in S with a clean move beyond the window, and those with a clean move to a
  // state in U. What is left is doomed: every clean move stays in the window, on a state not in S
  // (or its start would be) and not in U (likewise).
  std::vector<std::vector<uint32_t>> seeded(static_cast<size_t>(b.threads));
  InChunks(cells, b.threads, [&](int t, size_t begin, size_t end) {
    for (size_t q = begin; q < end; ++q) {
      uint64_t* f = &b.fresh[q * kPlaneWords];
      if (!b.Escapes(static_cast<uint32_t>(q), low, high, f)) continue;
      std::copy(f, f + kPlaneWords, &words[q * kCellWords + kPlaneWords]);
      seeded[static_cast<size_t>(t)].push_back(static_cast<uint32_t>(q));
    }
  });
  active.clear();
  for (const auto& l : seeded) active.insert(active.end(), l.begin(), l.end());
  if (!b.Grow(kPlaneWords, 0, std::move(active), stop)) return false;

  model_ = &model;
  topSpeed_ = high;
  positionOf_ = std::move(positionOf);
  words_ = std::move(words);
  return true;
}

int StopMap::CanStop(const CarState& car) const {
  if (words_.empty() || model_ == nullptr) return -1;
  if (std::max(std::abs(car.velocity.x), std::abs(car.velocity.y)) > topSpeed_) return -1;
  const int x = car.velocity.x + kHalf, y = car.velocity.y + kHalf;
  if (x < 0 || y < 0 || x >= kSide || y >= kSide || model_->Blocked(car.at.x, car.at.y)) return -1;
  const uint64_t* cell = &words_[static_cast<size_t>(positionOf_[model_->Index(car.at.x, car.at.y)]) * kCellWords];
  const size_t k = static_cast<size_t>(y) * kRowWords + x / 64;
  const uint64_t bit = uint64_t{1} << (x % 64);
  if ((cell[k] & bit) != 0) return 1;
  return (cell[kPlaneWords + k] & bit) != 0 ? -1 : 0;
}

size_t StopMap::Count(size_t plane) const {
  size_t count = 0;
  for (size_t c = 0; c < words_.size(); c += kCellWords) {
    for (size_t k = 0; k < kPlaneWords; ++k) count += static_cast<size_t>(__builtin_popcountll(words_[c + plane + k]));
  }
  return count;
}
