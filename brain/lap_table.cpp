// The lap table: the states reachable from the start, found forwards; their rounds to the lap and
// whether they can stop, propagated backwards; windows of velocities a byte a state.
#include "brain/lap_table.h"

#include <stdio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <tuple>
#include <utility>

#include "rules/move.h"

namespace {

// A window entry: a state's rounds to the lap (1 to kMostRounds), or one of these.
constexpr uint8_t kUnseen = 0xFF;  // no move reaches it
constexpr uint8_t kHeld = 0xFE;    // a state of the table, with no lap within kMostRounds
constexpr uint8_t kCrash = 0xFD;   // the move that would reach it crashes

// A found state: its plane and cell (the group), velocity, and what its moves can do.
constexpr uint64_t kCanCrash = 1;
constexpr uint64_t kCanLap = 2;
constexpr uint64_t kLeaves = 4;  // a move leads out of the table's states, or it was never expanded
constexpr uint64_t kFlags = 7;
constexpr int kFlagBits = 3;
constexpr int kVelocityBits = 13;

constexpr char kMagic[8] = {'A', 'P', 'X', 'L', 'A', 'P', 'S', '\0'};
constexpr uint32_t kFormat = 1;
constexpr size_t kHeaderBytes = 8 + 4 + 4 + 8 + 8 + 8;

uint64_t StateKey(uint64_t group, int vx, int vy, int bias) {
  return group << (2 * kVelocityBits + kFlagBits) | static_cast<uint64_t>(vy + bias) << (kVelocityBits + kFlagBits) |
         static_cast<uint64_t>(vx + bias) << kFlagBits;
}
uint64_t GroupOfKey(uint64_t key) { return key >> (2 * kVelocityBits + kFlagBits); }
int VxOfKey(uint64_t key, int bias) {
  return static_cast<int>((key >> kFlagBits) & ((1u << kVelocityBits) - 1)) - bias;
}
int VyOfKey(uint64_t key, int bias) {
  return static_cast<int>((key >> (kVelocityBits + kFlagBits)) & ((1u << kVelocityBits) - 1)) - bias;
}

bool AtRest(int vx, int vy) { return IsWithinReach(static_cast<int16_t>(vx), static_cast<int16_t>(vy), kMoveRadius); }

// The header's numbers, little-endian.
template <typename T>
void PutNumber(unsigned char* at, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
}
template <typename T>
T GetNumber(const unsigned char* at) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
  return static_cast<T>(value);
}

uint64_t Mix(uint64_t h, uint64_t word) {
  h ^= word;
  h *= 0x100000001B3ull;
  h ^= h >> 29;
  return h;
}

// A checksum of the bytes, eight at a time.
uint64_t Checksum(uint64_t h, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = Mix(h, word);
  }
  for (; i < size; ++i) h = Mix(h, p[i]);
  return h;
}

}  // namespace

// ---- The windows --------------------------------------------------------------------------------

uint64_t LapTable::TileKey(int plane, size_t from, int vx, int vy) {
  const uint64_t tx = static_cast<uint64_t>(vx + kBias) >> kTileBits;
  const uint64_t ty = static_cast<uint64_t>(vy + kBias) >> kTileBits;
  return (static_cast<uint64_t>(plane) << 45 | static_cast<uint64_t>(from) << 16 | tx << 8 | ty) + 1;
}

uint32_t LapTable::FindTile(uint64_t key) const {
  if (slotKeys_.empty()) return ~0u;
  for (size_t s = (key * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;; s = (s + 1) & slotMask_) {
    if (slotKeys_[s] == key) return slotTiles_[s];
    if (slotKeys_[s] == 0) return ~0u;
  }
}

bool LapTable::Rehash(size_t slots) {
  slotKeys_.assign(slots, 0);
  slotTiles_.assign(slots, 0);
  slotMask_ = slots - 1;
  for (uint32_t t = 0; t < keys_.size(); ++t) {
    size_t s = (keys_[t] * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;
    while (slotKeys_[s] != 0 && slotKeys_[s] != keys_[t]) s = (s + 1) & slotMask_;
    if (slotKeys_[s] != 0) return false;
    slotKeys_[s] = keys_[t];
    slotTiles_[s] = t;
  }
  return true;
}

uint32_t LapTable::AddTile(uint64_t key) {
  if ((keys_.size() + 1) * 2 > slotKeys_.size()) Rehash(slotKeys_.empty() ? 1024 : slotKeys_.size() * 2);
  const uint32_t tile = static_cast<uint32_t>(keys_.size());
  keys_.push_back(key);
  tiles_.resize(tiles_.size() + kTileCells, kUnseen);
  size_t s = (key * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;
  while (slotKeys_[s] != 0) s = (s + 1) & slotMask_;
  slotKeys_[s] = key;
  slotTiles_[s] = tile;
  return tile;
}

const uint8_t* LapTable::Entry(int plane, size_t from, int vx, int vy) const {
  if (vx < -kBias || vy < -kBias || vx >= kBias || vy >= kBias) return nullptr;
  const uint32_t tile = FindTile(TileKey(plane, from, vx, vy));
  if (tile == ~0u) return nullptr;
  const int cell = ((vy + kBias) & (kTileSide - 1)) << kTileBits | ((vx + kBias) & (kTileSide - 1));
  return &tiles_[static_cast<size_t>(tile) * kTileCells + cell];
}

uint8_t* LapTable::MakeEntry(int plane, size_t from, int vx, int vy) {
  if (vx < -kBias || vy < -kBias || vx >= kBias || vy >= kBias) return nullptr;
  const uint64_t key = TileKey(plane, from, vx, vy);
  uint32_t tile = FindTile(key);
  if (tile == ~0u) tile = AddTile(key);
  const int cell = ((vy + kBias) & (kTileSide - 1)) << kTileBits | ((vx + kBias) & (kTileSide - 1));
  return &tiles_[static_cast<size_t>(tile) * kTileCells + cell];
}

int LapTable::PlaneAfter(GridPoint from, GridPoint to, int plane, MoveOutcome* outcome) const {
  *outcome = model_->CleanOutcome(from, to, plane);
  const int after = plane + (*outcome == MoveOutcome::kBackward ? 1 : *outcome == MoveOutcome::kUndo ? -1 : 0);
  return after < kPlanes ? after : -1;
}

// ---- Building -----------------------------------------------------------------------------------

void LapTable::Begin(const TrackModel& model, size_t maxBytes) noexcept {
  *this = LapTable();
  model_ = &model;
  maxBytes_ = maxBytes;
  phase_ = Phase::kFailed;
  if (!model.built()) return;
  const size_t cells = static_cast<size_t>(model.width()) * model.height();
  // The index of the states by the cell they stand on takes four bytes a plane and cell: a
  // circuit whose index alone takes a good part of the room has no table.
  if (cells >= (size_t{1} << 26) || cells * kPlanes * sizeof(uint32_t) > maxBytes / 4) return;
  try {
    halfWidth_.assign(2 * kMoveRadius + 1, -1);
    for (GridPoint o : model.Reach()) {
      int& w = halfWidth_[o.y + kMoveRadius];
      w = std::max(w, std::abs(static_cast<int>(o.x)));
    }
    const GridPoint s = model.start();
    if (model.Blocked(s.x, s.y)) return;
    *MakeEntry(0, model.Index(s.x, s.y), 0, 0) = kHeld;
    found_.push_back(StateKey(model.Index(s.x, s.y), 0, 0, kBias));
    fwd_.push_back(0);
    roundEnd_ = 1;
    phase_ = Phase::kForward;
  } catch (const std::bad_alloc&) {
    Fail();
  }
}

size_t LapTable::Held() const {
  return tiles_.capacity() + keys_.capacity() * 8 + slotKeys_.capacity() * 12 + stops_.capacity() * 8 +
         (found_.capacity() + sorted_.capacity()) * 8 + groupStart_.capacity() * 4 + rounds_.capacity() +
         fwd_.capacity() + sortedFwd_.capacity() + (marks_[0].capacity() + marks_[1].capacity()) * 8 +
         queue_.capacity() * 4;
}

void LapTable::Fail() {
  const TrackModel* model = model_;
  *this = LapTable();
  model_ = model;
  phase_ = Phase::kFailed;
}

bool LapTable::Build(size_t work) noexcept {
  try {
    while (work > 0 && phase_ != Phase::kReady && phase_ != Phase::kFailed && phase_ != Phase::kIdle) {
      switch (phase_) {
        case Phase::kForward:
          Forward(&work);
          break;
        case Phase::kCount:
        case Phase::kScatter:
        case Phase::kSort:
          Index(&work);
          break;
        case Phase::kRounds:
          PropagateRounds(&work);
          break;
        case Phase::kStops:
          PropagateStops(&work);
          break;
        case Phase::kPack:
          Pack(&work);
          break;
        default:
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    Fail();
  }
  return phase_ == Phase::kReady || phase_ == Phase::kFailed || phase_ == Phase::kIdle;
}

// The states by the cell they stand on: counted, placed, and each cell's put in order.
void LapTable::Index(size_t* work) {
  const size_t cells = static_cast<size_t>(model_->width()) * model_->height();
  std::vector<uint32_t>& next = queue_;  // where each cell's next state goes
  if (phase_ == Phase::kCount) {
    groupStart_.assign(cells * kPlanes + 1, 0);
    for (uint64_t key : found_) ++groupStart_[GroupOfKey(key) + 1];
    for (size_t g = 1; g < groupStart_.size(); ++g) groupStart_[g] += groupStart_[g - 1];
    sorted_.resize(found_.size());
    sortedFwd_.resize(found_.size());
    next.assign(groupStart_.begin(), groupStart_.end() - 1);
    *work -= std::min(*work, found_.size() + groupStart_.size() / 8);
    cursor_ = 0;
    phase_ = Phase::kScatter;
  } else if (phase_ == Phase::kScatter) {
    for (; cursor_ < found_.size() && *work > 0; ++cursor_, --*work) {
      const uint32_t to = next[GroupOfKey(found_[cursor_])]++;
      sorted_[to] = found_[cursor_];
      sortedFwd_[to] = fwd_[cursor_];
    }
    if (cursor_ == found_.size()) {
      found_ = std::vector<uint64_t>();
      fwd_ = std::vector<uint8_t>();
      next = std::vector<uint32_t>();
      cursor_ = 0;
      phase_ = Phase::kSort;
    }
  } else {
    for (; cursor_ + 1 < groupStart_.size() && *work > 0; ++cursor_) {
      const uint32_t a = groupStart_[cursor_], b = groupStart_[cursor_ + 1];
      if (b - a > 1) {
        std::vector<std::pair<uint64_t, uint8_t>> run(b - a);
        for (uint32_t i = a; i < b; ++i) run[i - a] = {sorted_[i], sortedFwd_[i]};
        std::sort(run.begin(), run.end());
        for (uint32_t i = a; i < b; ++i) std::tie(sorted_[i], sortedFwd_[i]) = run[i - a];
      }
      *work -= std::min<size_t>(*work, 1 + (b - a) * 8);
    }
    if (cursor_ + 1 >= groupStart_.size()) {
      cursor_ = 0;
      phase_ = Phase::kRounds;
    }
  }
}

// Each state's rounds and marks into its window entry; the build's lists are freed.
void LapTable::Pack(size_t* work) {
  const size_t cells = static_cast<size_t>(model_->width()) * model_->height();
  if (cursor_ == 0) stops_.assign(keys_.size() * kTileCells * 2 / 64, 0);
  for (; cursor_ < sorted_.size() && *work > 0; ++cursor_, --*work) {
    const uint32_t id = static_cast<uint32_t>(cursor_);
    const uint64_t key = sorted_[id];
    const size_t cell = GroupOfKey(key) % cells;
    const int vx = VxOfKey(key, kBias), vy = VyOfKey(key, kBias);
    const int x = static_cast<int>(cell % model_->width()) - vx;
    const int y = static_cast<int>(cell / model_->width()) - vy;
    uint8_t* e = MakeEntry(static_cast<int>(GroupOfKey(key) / cells), model_->Index(x, y), vx, vy);
    // Rounds found within the states searched are the fewest when every state the lap passes
    // was searched: when the rounds to reach the car and to go on from it are within the horizon.
    const bool exact = rounds_[id] <= kMostRounds && (horizon_ == 0xFF || sortedFwd_[id] + rounds_[id] <= horizon_);
    *e = exact ? rounds_[id] : kHeld;
    const bool stops = (marks_[0][id / 64] >> (id % 64) & 1) != 0;
    const bool leaves = (marks_[1][id / 64] >> (id % 64) & 1) != 0;
    const size_t bit = 2 * static_cast<size_t>(e - tiles_.data());
    if (stops) stops_[bit / 64] |= uint64_t{1} << (bit % 64);
    if (!stops && !leaves) stops_[bit / 64] |= uint64_t{2} << (bit % 64);
  }
  if (cursor_ < sorted_.size()) return;
  cursor_ = 0;
  states_ = sorted_.size();
  phase_ = Phase::kReady;
  // A table cut short by its room that doesn't even hold the lap from the start is no use.
  if (horizon_ != 0xFF && Rounds(CarState{model_->start(), {}, 0}) < 0) {
    Fail();
    return;
  }
  sorted_ = std::vector<uint64_t>();
  groupStart_ = std::vector<uint32_t>();
  rounds_ = std::vector<uint8_t>();
  sortedFwd_ = std::vector<uint8_t>();
  marks_[0] = marks_[1] = std::vector<uint64_t>();
  buckets_ = std::vector<std::vector<uint32_t>>();
  queue_ = std::vector<uint32_t>();
}

// The states reachable from the start, round by round, each found once: a move from a cell with
// a velocity is tested against the walls the first time any car makes it. A crash leaves the car
// standing three rounds later. The search stops after the round at which the states outgrow a
// third of the room, or when no new state is found.
void LapTable::Forward(size_t* work) {
  while (*work > 0 && phase_ == Phase::kForward) {
    if (cursor_ == roundEnd_) {
      NextRound();
    } else {
      Expand(work);
    }
  }
}

// The round after the one searched begins with the cars standing after crashes three rounds
// before; the search stops here when it is time to.
void LapTable::NextRound() {
  const size_t cells = static_cast<size_t>(model_->width()) * model_->height();
  ++round_;
  for (uint64_t key : pending_[round_ % 4]) {
    uint8_t* e = MakeEntry(static_cast<int>(GroupOfKey(key) / cells), GroupOfKey(key) % cells, 0, 0);
    if (*e == kUnseen) {
      *e = kHeld;
      found_.push_back(key);
      fwd_.push_back(static_cast<uint8_t>(round_));
    }
  }
  pending_[round_ % 4] = std::vector<uint64_t>();
  roundEnd_ = found_.size();
  bool closed = cursor_ == roundEnd_;
  for (const auto& p : pending_) closed = closed && p.empty();
  if (closed || Held() > maxBytes_ / 3 || round_ >= kMostRounds) {
    horizon_ = closed ? 0xFF : round_;
    for (size_t i = cursor_; i < found_.size(); ++i) found_[i] |= kLeaves;
    for (auto& p : pending_) p = std::vector<uint64_t>();
    cursor_ = 0;
    phase_ = Phase::kCount;
  }
}

// Every move of the next state of the round.
void LapTable::Expand(size_t* work) {
  const TrackModel& m = *model_;
  const size_t cells = static_cast<size_t>(m.width()) * m.height();
  const std::vector<GridPoint>& reach = m.Reach();
  const uint64_t key = found_[cursor_];
  const size_t cell = GroupOfKey(key) % cells;
  const int plane = static_cast<int>(GroupOfKey(key) / cells);
  const int vx = VxOfKey(key, kBias), vy = VyOfKey(key, kBias);
  const GridPoint at{static_cast<int16_t>(cell % m.width()), static_cast<int16_t>(cell / m.width())};
  uint64_t flags = 0;
  size_t done = reach.size();
  // The moves' velocities span at most two tiles each way: the tiles found are kept, so that a
  // state costs a few lookups rather than one a row.
  uint64_t knownKeys[8] = {};
  uint32_t knownTiles[8] = {};
  int known = 0;
  const int sideOfAt = m.SideOf(at.x, at.y);
  for (GridPoint o : reach) {
    const GridPoint to{static_cast<int16_t>(at.x + vx + o.x), static_cast<int16_t>(at.y + vy + o.y)};
    const int wx = vx + o.x, wy = vy + o.y;
    if (m.Blocked(to.x, to.y)) {
      flags |= kCanCrash;
      continue;
    }
    MoveOutcome outcome = MoveOutcome::kClean;
    const int after = m.SideOf(to.x, to.y) == sideOfAt ? plane : PlaneAfter(at, to, plane, &outcome);
    if (after < 0) {
      flags |= kLeaves;
      continue;
    }
    if (wx < -kBias || wy < -kBias || wx >= kBias || wy >= kBias) {  // faster than the windows hold
      Fail();
      return;
    }
    const uint64_t tileKey = TileKey(after, cell, wx, wy);
    int k = 0;
    while (k < known && knownKeys[k] != tileKey) ++k;
    if (k == known) {
      uint32_t tile = FindTile(tileKey);
      if (tile == ~0u) tile = AddTile(tileKey);
      k = known < 8 ? known++ : 7;
      knownKeys[k] = tileKey;
      knownTiles[k] = tile;
    }
    uint8_t* e = &tiles_[static_cast<size_t>(knownTiles[k]) * kTileCells +
                         (((wy + kBias) & (kTileSide - 1)) << kTileBits | ((wx + kBias) & (kTileSide - 1)))];
    if (*e == kUnseen) {
      *e = m.PathBlocked(at, to, &done) ? kCrash : kHeld;
      if (*e == kHeld) {
        found_.push_back(StateKey(after * cells + m.Index(to.x, to.y), wx, wy, kBias));
        fwd_.push_back(static_cast<uint8_t>(round_ + 1));
      }
    }
    if (*e == kCrash) {
      flags |= kCanCrash;
    } else if (outcome == MoveOutcome::kLap) {
      flags |= kCanLap;
    }
  }
  if ((flags & kCanCrash) != 0) pending_[(round_ + 3) % 4].push_back(StateKey(plane * cells + cell, 0, 0, kBias));
  found_[cursor_++] |= flags;
  *work -= std::min(*work, done);
  if (Held() > maxBytes_) Fail();
}

template <typename Visit>
void LapTable::ForEachBefore(uint32_t id, Visit visit) const {
  const TrackModel& m = *model_;
  const size_t cells = static_cast<size_t>(m.width()) * m.height();
  const uint64_t key = sorted_[id];
  const size_t cell = GroupOfKey(key) % cells;
  const int plane = static_cast<int>(GroupOfKey(key) / cells);
  const int vx = VxOfKey(key, kBias), vy = VyOfKey(key, kBias);
  const GridPoint at{static_cast<int16_t>(cell % m.width()), static_cast<int16_t>(cell / m.width())};
  const GridPoint from{static_cast<int16_t>(at.x - vx), static_cast<int16_t>(at.y - vy)};
  const size_t fromCell = m.Index(from.x, from.y);
  for (int before = std::max(0, plane - 1); before <= plane + 1 && before < kPlanes; ++before) {
    MoveOutcome outcome;
    if (PlaneAfter(from, at, before, &outcome) != plane) continue;
    const bool lap = outcome == MoveOutcome::kLap;
    const uint64_t group = before * cells + fromCell;
    const auto begin = sorted_.begin() + groupStart_[group], end = sorted_.begin() + groupStart_[group + 1];
    if (begin == end) continue;
    for (int dy = -kMoveRadius; dy <= kMoveRadius; ++dy) {
      const int w = halfWidth_[dy + kMoveRadius];
      if (w < 0) continue;
      const uint64_t low = StateKey(group, vx - w, vy + dy, kBias),
                     high = StateKey(group, vx + w, vy + dy, kBias) | kFlags;
      for (auto it = std::lower_bound(begin, end, low); it != end && *it <= high; ++it) {
        visit(static_cast<uint32_t>(it - sorted_.begin()), lap);
      }
    }
  }
}

// Rounds to the lap, by rounds from the states whose next move can complete it: a clean move
// before a state costs one round more, a crash before a standing car three.
void LapTable::PropagateRounds(size_t* work) {
  const size_t cells = static_cast<size_t>(model_->width()) * model_->height();
  if (buckets_.empty()) {
    rounds_.assign(sorted_.size(), kUnseen);
    buckets_.resize(kMostRounds + 1);
    for (uint32_t id = 0; id < sorted_.size(); ++id) {
      if ((sorted_[id] & kCanLap) != 0) {
        rounds_[id] = 1;
        buckets_[1].push_back(id);
      }
    }
    bucket_ = 1;
    cursor_ = 0;
    *work -= std::min(*work, sorted_.size() / 8);
  }
  auto offer = [&](uint32_t id, int rounds) {
    if (rounds <= kMostRounds && rounds < rounds_[id]) {
      rounds_[id] = static_cast<uint8_t>(rounds);
      buckets_[rounds].push_back(id);
    }
  };
  while (bucket_ <= static_cast<size_t>(kMostRounds) && *work > 0) {
    std::vector<uint32_t>& bucket = buckets_[bucket_];
    const int d = static_cast<int>(bucket_);
    for (; cursor_ < bucket.size() && *work > 0; ++cursor_) {
      const uint32_t id = bucket[cursor_];
      if (rounds_[id] != d) continue;
      size_t seen = 64;
      ForEachBefore(id, [&](uint32_t before, bool lap) {
        ++seen;
        if (!lap) offer(before, d + 1);
      });
      const uint64_t key = sorted_[id];
      if (VxOfKey(key, kBias) == 0 && VyOfKey(key, kBias) == 0) {
        // A car standing here may have crashed into it from any state on this cell and plane.
        const uint64_t group = GroupOfKey(key);
        for (uint32_t i = groupStart_[group]; i < groupStart_[group + 1]; ++i) {
          if ((sorted_[i] & kCanCrash) != 0) offer(i, d + 3);
        }
        seen += groupStart_[group + 1] - groupStart_[group];
      }
      *work -= std::min(*work, seen);
    }
    if (cursor_ == bucket.size()) {
      bucket = std::vector<uint32_t>();
      ++bucket_;
      cursor_ = 0;
    }
  }
  (void)cells;
  if (bucket_ > static_cast<size_t>(kMostRounds)) {
    buckets_ = std::vector<std::vector<uint32_t>>();
    cursor_ = 0;
    phase_ = Phase::kStops;
  }
}

// The states that can come to rest, grown backwards over clean moves from the slow ones; then the
// states from which clean moves lead out of the table's states, grown the same way from those that
// have such a move. A state in neither is certainly doomed.
void LapTable::PropagateStops(size_t* work) {
  std::vector<uint64_t>& marks = marks_[pass_];
  if (marks.empty()) {
    marks.assign(sorted_.size() / 64 + 1, 0);
    queue_.clear();
    for (uint32_t id = 0; id < sorted_.size(); ++id) {
      const uint64_t key = sorted_[id];
      if (pass_ == 0 ? AtRest(VxOfKey(key, kBias), VyOfKey(key, kBias)) : (key & kLeaves) != 0) {
        marks[id / 64] |= uint64_t{1} << (id % 64);
        queue_.push_back(id);
      }
    }
    cursor_ = 0;
    *work -= std::min(*work, sorted_.size() / 8);
  }
  for (; cursor_ < queue_.size() && *work > 0; ++cursor_) {
    size_t seen = 64;
    ForEachBefore(queue_[cursor_], [&](uint32_t before, bool) {
      ++seen;
      uint64_t& word = marks[before / 64];
      const uint64_t bit = uint64_t{1} << (before % 64);
      if ((word & bit) == 0) {
        word |= bit;
        queue_.push_back(before);
      }
    });
    *work -= std::min(*work, seen);
  }
  if (cursor_ == queue_.size()) {
    queue_ = std::vector<uint32_t>();
    cursor_ = 0;
    if (++pass_ == 2) phase_ = Phase::kPack;
  }
}

// ---- Answers ------------------------------------------------------------------------------------

int LapTable::Rounds(const CarState& car) const {
  if (!ready() || car.reverseCrossings < 0 || car.reverseCrossings >= kPlanes) return -1;
  const int fx = car.at.x - car.velocity.x, fy = car.at.y - car.velocity.y;
  if (model_->Blocked(fx, fy) || model_->Blocked(car.at.x, car.at.y)) return -1;
  const uint8_t* e = Entry(car.reverseCrossings, model_->Index(fx, fy), car.velocity.x, car.velocity.y);
  return e != nullptr && *e >= 1 && *e <= kMostRounds ? *e : -1;
}

bool LapTable::BestMove(const CarState& car, GridPoint* to) const {
  const int rounds = Rounds(car);
  if (rounds < 0) return false;
  const TrackModel& m = *model_;
  const size_t cell = m.Index(car.at.x, car.at.y);
  const GridPoint c = Predicted(car);
  const int plane = car.reverseCrossings;
  GridPoint crash{};
  bool crashes = false;
  for (GridPoint o : m.Reach()) {
    const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
    const int wx = car.velocity.x + o.x, wy = car.velocity.y + o.y;
    if (m.Blocked(d.x, d.y)) {
      if (!crashes) crash = d;
      crashes = true;
      continue;
    }
    MoveOutcome outcome;
    const int after = PlaneAfter(car.at, d, plane, &outcome);
    if (after < 0) continue;
    const uint8_t* e = Entry(after, cell, wx, wy);
    if (e == nullptr || *e == kUnseen) continue;
    if (*e == kCrash) {
      if (!crashes) crash = d;
      crashes = true;
      continue;
    }
    if ((outcome == MoveOutcome::kLap && rounds == 1) || (outcome != MoveOutcome::kLap && *e + 1 == rounds)) {
      *to = d;
      return true;
    }
  }
  const int standing = crashes ? Rounds(CarState{car.at, {}, car.reverseCrossings}) : -1;
  if (standing >= 0 && standing + 3 == rounds) {
    *to = crash;
    return true;
  }
  return false;
}

int LapTable::CanStop(const CarState& car) const {
  if (!ready()) return -1;
  const int fx = car.at.x - car.velocity.x, fy = car.at.y - car.velocity.y;
  if (model_->Blocked(fx, fy) || model_->Blocked(car.at.x, car.at.y)) return -1;
  // Whether a car can stop doesn't depend on its crossings: any plane that holds it will do.
  for (int k = 0; k <= kPlanes; ++k) {
    const int plane = k == 0 ? std::clamp<int>(car.reverseCrossings, 0, kPlanes - 1) : k - 1;
    const uint8_t* e = Entry(plane, model_->Index(fx, fy), car.velocity.x, car.velocity.y);
    if (e == nullptr || *e == kUnseen || *e == kCrash) continue;
    const size_t bit = 2 * static_cast<size_t>(e - tiles_.data());
    const uint64_t marks = stops_[bit / 64] >> (bit % 64) & 3;
    return marks == 1 ? 1 : marks == 2 ? 0 : -1;
  }
  return -1;
}

// ---- The file -----------------------------------------------------------------------------------

uint64_t LapTable::CircuitHash(const TrackModel& model) {
  uint64_t h = Mix(0xCBF29CE484222325ull, static_cast<uint64_t>(model.width()) << 32 | model.height());
  h = Mix(h,
          static_cast<uint64_t>(static_cast<uint16_t>(model.start().x)) << 16 | static_cast<uint16_t>(model.start().y));
  h = Mix(h, static_cast<uint64_t>(static_cast<uint16_t>(model.lineA().x)) << 48 |
                 static_cast<uint64_t>(static_cast<uint16_t>(model.lineA().y)) << 32 |
                 static_cast<uint64_t>(static_cast<uint16_t>(model.lineB().x)) << 16 |
                 static_cast<uint16_t>(model.lineB().y));
  h = Mix(h, static_cast<uint64_t>(model.aheadSide()) << 8 | kMoveRadius);
  uint64_t word = 0;
  int bits = 0;
  for (int y = 0; y < model.height(); ++y) {
    for (int x = 0; x < model.width(); ++x) {
      word = word << 1 | (model.Blocked(x, y) ? 1 : 0);
      if (++bits == 64) {
        h = Mix(h, word);
        word = 0;
        bits = 0;
      }
    }
  }
  return Mix(Mix(h, word), kFormat);
}

std::string LapTable::FileName(const TrackModel& model) {
  char name[40];
  std::snprintf(name, sizeof name, "laps-%016llx.apxlaps", static_cast<unsigned long long>(CircuitHash(model)));
  return name;
}

bool LapTable::Save(const std::string& hostPath) const noexcept {
  if (!ready()) return false;
  std::string temporary;
  try {
    temporary = hostPath + ".part";
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const uint64_t hash = CircuitHash(*model_);
  const uint64_t states = states_, tiles = keys_.size();
  unsigned char header[kHeaderBytes];
  std::copy(kMagic, kMagic + 8, header);
  PutNumber<uint32_t>(header + 8, kFormat);
  PutNumber<uint32_t>(header + 12, kPlanes);
  PutNumber(header + 16, hash);
  PutNumber(header + 24, states);
  PutNumber(header + 32, tiles);
  uint64_t sum = Checksum(0, header, sizeof header);
  sum = Checksum(sum, keys_.data(), keys_.size() * 8);
  sum = Checksum(sum, tiles_.data(), tiles_.size());
  sum = Checksum(sum, stops_.data(), stops_.size() * 8);
  bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                 std::fwrite(keys_.data(), 8, keys_.size(), file) == keys_.size() &&
                 std::fwrite(tiles_.data(), 1, tiles_.size(), file) == tiles_.size() &&
                 std::fwrite(stops_.data(), 8, stops_.size(), file) == stops_.size() &&
                 std::fwrite(&sum, 8, 1, file) == 1;
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(temporary.c_str(), hostPath.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool LapTable::Load(const TrackModel& model, const std::string& hostPath) noexcept {
  if (!model.built()) return false;
  std::FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) return false;
  bool good = false;
  try {
    unsigned char header[kHeaderBytes];
    uint64_t hash = 0, states = 0, tiles = 0;
    uint32_t format = 0, planes = 0;
    long long length = -1;
    if (fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
    std::rewind(file);
    if (length >= static_cast<long long>(kHeaderBytes) + 8 &&
        std::fread(header, 1, sizeof header, file) == sizeof header) {
      format = GetNumber<uint32_t>(header + 8);
      planes = GetNumber<uint32_t>(header + 12);
      hash = GetNumber<uint64_t>(header + 16);
      states = GetNumber<uint64_t>(header + 24);
      tiles = GetNumber<uint64_t>(header + 32);
      const uint64_t tileBytes = 8 + kTileCells + kTileCells / 4;
      good = std::memcmp(header, kMagic, 8) == 0 && format == kFormat && planes == kPlanes &&
             hash == CircuitHash(model) && tiles < (uint64_t{1} << 31) &&
             static_cast<uint64_t>(length) == kHeaderBytes + tiles * tileBytes + 8;
      if (good) {
        LapTable loaded;
        loaded.model_ = &model;
        loaded.keys_.resize(tiles);
        loaded.tiles_.resize(tiles * kTileCells);
        loaded.stops_.resize(tiles * kTileCells * 2 / 64);
        uint64_t sum = 0;
        good = std::fread(loaded.keys_.data(), 8, tiles, file) == tiles &&
               std::fread(loaded.tiles_.data(), 1, loaded.tiles_.size(), file) == loaded.tiles_.size() &&
               std::fread(loaded.stops_.data(), 8, loaded.stops_.size(), file) == loaded.stops_.size() &&
               std::fread(&sum, 8, 1, file) == 1;
        uint64_t expected = Checksum(0, header, sizeof header);
        expected = Checksum(expected, loaded.keys_.data(), loaded.keys_.size() * 8);
        expected = Checksum(expected, loaded.tiles_.data(), loaded.tiles_.size());
        expected = Checksum(expected, loaded.stops_.data(), loaded.stops_.size() * 8);
        good = good && sum == expected;
        // Every key names a plane and a cell of this circuit, once.
        const uint64_t cells = static_cast<uint64_t>(model.width()) * model.height();
        for (uint64_t t = 0; good && t < tiles; ++t) {
          const uint64_t key = loaded.keys_[t] - 1;
          good =
              loaded.keys_[t] != 0 && (key >> 45) < static_cast<uint64_t>(kPlanes) && (key >> 16 & 0x1FFFFFFF) < cells;
        }
        size_t slots = 1024;
        while (slots < tiles * 2 + 2) slots *= 2;
        good = good && loaded.Rehash(slots);
        if (good) {
          loaded.states_ = states;
          loaded.maxBytes_ = maxBytes_;
          loaded.phase_ = Phase::kReady;
          *this = std::move(loaded);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    good = false;
  }
  std::fclose(file);
  return good;
}
