// The exact lap solver: layers of car states by rounds, bit-parallel reach, a lap rebuilt from
// the layers.
#include "brain/exact_solver.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "rules/move.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr int kReach = kMoveRadius - 1;  // the largest change of either velocity component
constexpr int kDiscRows = 2 * kReach + 1;
constexpr int kPlanes = 8;                    // backward crossings 0 to 7 still to undo
constexpr size_t kArenaChunkBytes = 1 << 20;  // bitmaps are handed out from chunks this large
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

// A layer's states: runs of one position and count of backward crossings ("group" =
// position * kPlanes + crossings, ascending), each run's velocities as window x | y << bits.
template <typename Velocity>
struct Layer {
  std::vector<uint32_t> groups;
  std::vector<uint32_t> starts;  // groups.size() + 1 offsets into velocities
  std::vector<Velocity> velocities;
  size_t Bytes() const {
    return groups.capacity() * sizeof(uint32_t) + starts.capacity() * sizeof(uint32_t) +
           velocities.capacity() * sizeof(Velocity);
  }
};

inline uint32_t GroupOf(uint32_t position, int crossings) {
  return position * kPlanes + static_cast<uint32_t>(crossings);
}

// Zeroed memory for the reached-state bitmaps, in chunks, counted against the limit.
template <typename T>
class Arena {
 public:
  explicit Arena(std::atomic<size_t>* bytes) : bytes_(bytes) {}
  // Throws std::bad_alloc when memory runs out.
  T* Take(size_t count) {
    if (used_ + count > capacity_) {
      const size_t chunk = std::max(count, kArenaChunkBytes / sizeof(T));
      chunks_.emplace_back(new T[chunk]());
      capacity_ = chunk;
      used_ = 0;
      bytes_->fetch_add(chunk * sizeof(T));
      held_ += chunk * sizeof(T);
    }
    T* taken = chunks_.back().get() + used_;
    used_ += count;
    return taken;
  }
  // Gives back everything taken.
  void Clear() {
    bytes_->fetch_sub(held_);
    chunks_.clear();
    held_ = used_ = capacity_ = 0;
  }

 private:
  std::atomic<size_t>* bytes_;
  std::vector<std::unique_ptr<T[]>> chunks_;
  size_t used_ = 0;
  size_t capacity_ = 0;
  size_t held_ = 0;
};

// An unnamed scratch file for the searched rounds: in $TMPDIR when it is set, else in /var/tmp,
// which lies on disk where /tmp may be memory. Null when none can be made.
std::FILE* ScratchFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string name =
      std::string(folder != nullptr && folder[0] != '\0' ? folder : "/var/tmp") + "/apexgrid-solve-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return std::tmpfile();
  unlink(name.c_str());
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

// A bitmap of the grid with room around it: one bit a cell, rows padded so that a window of a
// move's reach around any cell can be read without a bounds test. Cells off the grid read as
// `outside`.
class GridBits {
 public:
  static constexpr int kPad = 640;  // at least the widest window's half plus a word

  void Build(int width, int height, bool outside, const std::function<bool(int, int)>& bit) {
    stride_ = (width + 2 * kPad) / 64 + 2;
    height_ = height;
    words_.assign(static_cast<size_t>(stride_) * (height + 2 * kPad), outside ? ~0ULL : 0);
    for (int y = 0; y < height; ++y) {
      uint64_t* row = &words_[static_cast<size_t>(y + kPad) * stride_];
      for (int x = -kPad; x < width + kPad; ++x) {
        const bool on = x >= 0 && x < width ? bit(x, y) : outside;
        const int b = x + kPad;
        if (on) {
          row[b / 64] |= 1ULL << (b % 64);
        } else {
          row[b / 64] &= ~(1ULL << (b % 64));
        }
      }
    }
  }
  // Bits x0 to x0 + 64·Words - 1 of row y, x0 and y at most kPad - 64 off the grid.
  template <int Words>
  void Window(int x0, int y, uint64_t* out) const {
    const uint64_t* row = &words_[static_cast<size_t>(y + kPad) * stride_];
    const int b = x0 + kPad;
    const int shift = b % 64;
    const uint64_t* w = row + b / 64;
    for (int i = 0; i < Words; ++i) out[i] = shift == 0 ? w[i] : w[i] >> shift | w[i + 1] << (64 - shift);
  }

 private:
  int stride_ = 0;
  int height_ = 0;
  std::vector<uint64_t> words_;
};

// What one run of the search shares with its threads.
struct Shared {
  const TrackModel& model;
  const ExactLimits& limits;
  Clock::time_point began;
  Clock::time_point deadline;
  int halfWidth[kDiscRows];          // the reach disc: one span [-w, w] a row, dy from -kReach
  std::vector<uint32_t> positionOf;  // free cell -> position index, kNoPosition for a blocked one
  std::vector<GridPoint> cellOf;     // position index -> cell
  std::vector<uint16_t> clearance;   // TrackModel::Clearance of each cell
  GridBits blocked;                  // off the grid counts as blocked
  GridBits side;                     // SideOf, 0 off the grid
  const ExactTableKeeper* keep = nullptr;  // set when a lap table is being made

  Shared(const TrackModel& m, const ExactLimits& l) : model(m), limits(l) {}
};

// One run of the search with a velocity window of 64·Words values on either axis.
template <int Words>
class Search {
 public:
  static constexpr int kWidth = 64 * Words;
  static constexpr int kHalf = kWidth / 2;  // velocities -kHalf to kHalf - 1
  // The states reached from a position are kept in tiles of 64 x 64 velocities, made when the
  // first of them is reached: a car at one place only ever goes a few ways.
  static constexpr int kTiles = Words * Words;
  static constexpr int kBits = Words <= 4 ? 8 : Words <= 8 ? 9 : 10;  // of a velocity component in a layer
  static constexpr int kShift = 2 * kBits;                            // of the group in an arrival
  using Velocity = std::conditional_t<(Words <= 4), uint16_t, uint32_t>;
  using Row = std::array<uint64_t, Words>;
  static_assert(kWidth <= 1 << kBits, "a layer's velocity holds the window");

  static Velocity Pack(int x, int y) { return static_cast<Velocity>(x | y << kBits); }
  static int XOf(Velocity v) { return static_cast<int>(v) & ((1 << kBits) - 1); }
  static int YOf(Velocity v) { return static_cast<int>(v) >> kBits; }

  // Why a layer's expansion ended early; kNone when it ran through.
  enum class Abort { kNone, kTooFast, kTooManyCrossings, kMemory, kTime, kStopped };

  ~Search() {
    if (spill_ != nullptr) std::fclose(spill_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  explicit Search(Shared& shared) : s_(shared) {
    const int threads = std::max(1, shared.limits.threads);
    for (int t = 0; t < threads; ++t) workers_.emplace_back(std::make_unique<Worker>(&bytes_));
    for (auto& plane : seen_) plane.assign(shared.cellOf.size(), nullptr);
    if (shared.keep != nullptr) crashSeen_.assign(shared.cellOf.size(), nullptr);
    counts_.assign(shared.cellOf.size() * kPlanes, 0);
    bytes_ += kPlanes * shared.cellOf.size() * sizeof(uint64_t**) + counts_.size() * sizeof(uint32_t);
  }

  // Runs to the lap or to a limit. *tooFast when a car went too fast for the window: a wider
  // one may do.
  ExactLap Run(const CarState& car, bool* tooFast) {
    *tooFast = false;
    uint32_t startGroup = 0;
    Velocity startVelocity = 0;
    if (!StartOf(car, &startGroup, &startVelocity)) {
      *tooFast = true;
      return Ended(ExactEnd::kLimits, 1);
    }
    // Clean arrivals of the next round are in the workers' lists, marked when found; crashes
    // wait by round, and are marked when their round comes, since a cheaper way to the same
    // state may still turn up.
    std::vector<uint32_t> crashes[4];
    std::vector<uint64_t> standing;
    try {
      MarkStart(car);
      standing.push_back(static_cast<uint64_t>(startGroup) << kShift | startVelocity);
    } catch (const std::bad_alloc&) {
      return Ended(ExactEnd::kMemory, 1);
    }
    uint32_t empties = 0;
    Layer<Velocity> current;
    for (uint32_t layer = 0;; ++layer) {
      std::vector<uint32_t>& crashed = crashes[layer % 4];
      try {
        for (uint32_t group : crashed) {
          if (Mark(group / kPlanes, static_cast<int>(group % kPlanes), kHalf, kHalf, workers_[0].get())) {
            standing.push_back(static_cast<uint64_t>(group) << kShift | Pack(kHalf, kHalf));
          }
        }
        crashed = std::vector<uint32_t>();
        current = Gather(&standing);
      } catch (const std::bad_alloc&) {
        return Ended(ExactEnd::kMemory, layer + 1);
      }
      if (current.groups.empty()) {
        if (!Keep(std::move(current))) return Ended(ExactEnd::kMemory, layer + 1);
        if (++empties == 3) return Ended(ExactEnd::kNoLap, TrackModel::kFar);
        continue;
      }
      empties = 0;
      states_ += current.velocities.size();

      const Abort abort = Expand(current, &crashes[(layer + 3) % 4]);
      if (!Keep(std::move(current))) return Ended(ExactEnd::kMemory, layer + 1);
      ExactLap ended;
      if (EndsAfter(layer, abort, tooFast, &ended)) return ended;
      if (Held() > s_.limits.memoryBytes) return Ended(ExactEnd::kMemory, layer + 2);
      if (s_.limits.progress) s_.limits.progress(Effort(layer + 1));
    }
  }

 private:
  struct Worker {
    explicit Worker(std::atomic<size_t>* bytes)
        : tiles(bytes), tileLists(bytes), crashTiles(bytes), crashLists(bytes) {}
    Arena<uint64_t> tiles;
    Arena<uint64_t*> tileLists;
    Arena<uint64_t> crashTiles;  // for a lap table: the moves from each position that crash
    Arena<uint64_t*> crashLists;
    std::vector<uint64_t> laps;  // for a lap table: clean moves completing the lap, as arrivals
    std::vector<uint64_t> next;     // clean moves: group << kShift | velocity, already marked
    std::vector<uint32_t> crashed;  // groups whose cars stand still three rounds on
    Row source[kWidth] = {};        // velocities reached at the position
    Row widened[kWidth] = {};       // ... widened by the disc
    Row spans[kReach + 1] = {};     // one row widened by 0 to kReach
    double dilationSeconds = 0;
    double pathSeconds = 0;
    size_t pathTests = 0;
    size_t tilesMade = 0;
    std::atomic<size_t> held{0};  // the bytes of the lists above, as last counted
  };

  // The memory the search holds: the tiles, the tables, and the arrivals of the next round.
  size_t Held() const {
    size_t held = bytes_.load(std::memory_order_relaxed);
    for (const auto& w : workers_) held += w->held.load(std::memory_order_relaxed);
    return held;
  }

  ExactProgress Effort(uint32_t layer) const {
    ExactProgress p;
    p.layer = layer;
    p.states = states_;
    p.bytes = Held();
    p.seconds = SecondsSince(s_.began);
    for (const auto& w : workers_) {
      p.dilationSeconds += w->dilationSeconds;
      p.pathSeconds += w->pathSeconds;
      p.pathTests += w->pathTests;
      p.tiles += w->tilesMade;
    }
    return p;
  }

  // How the search ended; the lap, when one was found and kept, whatever ended it after.
  ExactLap Ended(ExactEnd end, uint32_t bound) const {
    if (lapKept_) {
      ExactLap result = lap_;
      result.effort = Effort(static_cast<uint32_t>(kept_.size()));
      result.table = tabled_;
      return result;
    }
    ExactLap result;
    result.end = end;
    result.plan.lowerBound = bound;
    result.effort = Effort(static_cast<uint32_t>(kept_.size()));
    return result;
  }

  // Whether the search ends after expanding `layer`, as *ended says.
  bool EndsAfter(uint32_t layer, Abort abort, bool* tooFast, ExactLap* ended) {
    // Every lap from the layers before this one has been looked for: none takes layer + 1
    // rounds or fewer unless this layer found it. A search going on after the lap keeps it,
    // and ends with it whatever stops the search later.
    if (lapFound_ && !lapKept_) {
      if (abort == Abort::kTooFast) {  // the layer was cut short, so the lap may not be the first
        *tooFast = true;
        *ended = Ended(ExactEnd::kLimits, layer + 1);
        return true;
      }
      lap_ = Lap(layer);
      if (lap_.end != ExactEnd::kLap) {
        *ended = lap_;
        return true;
      }
      lapKept_ = true;
      lapLayer_ = layer;
    }
    switch (abort) {
      case Abort::kTooFast:
        *tooFast = !lapKept_ || s_.keep != nullptr;  // a table needs every round it searches
        *ended = Ended(ExactEnd::kLimits, layer + 1);
        return true;
      case Abort::kTooManyCrossings:
        *ended = Ended(ExactEnd::kLimits, layer + 1);
        return true;
      case Abort::kMemory:
        *ended = Ended(ExactEnd::kMemory, layer + 1);
        return true;
      case Abort::kTime:
        *ended = Ended(ExactEnd::kTime, layer + 1);
        return true;
      case Abort::kStopped:
        *ended = Ended(ExactEnd::kStopped, layer + 1);
        return true;
      case Abort::kNone:
        break;
    }
    if (lapKept_ && layer >= lapLayer_ + s_.limits.roundsAfterLap) {
      if (s_.keep != nullptr) tabled_ = Backward();
      *ended = Ended(ExactEnd::kLap, layer + 1);
      return true;
    }
    return false;
  }

  bool StartOf(const CarState& car, uint32_t* group, Velocity* velocity) const {
    const GridPoint at = car.at;
    if (at.x < 0 || at.y < 0 || at.x >= s_.model.width() || at.y >= s_.model.height()) return false;
    const uint32_t position = s_.positionOf[s_.model.Index(at.x, at.y)];
    const int x = car.velocity.x + kHalf, y = car.velocity.y + kHalf;
    if (position == kNoPosition || car.reverseCrossings < 0 || car.reverseCrossings >= kPlanes || x < kReach ||
        y < kReach || x >= kWidth - kReach || y >= kWidth - kReach) {
      return false;
    }
    *group = GroupOf(position, car.reverseCrossings);
    *velocity = Pack(x, y);
    return true;
  }

  // Marks the start as reached, when the cell it came from is a position a move can start from.
  void MarkStart(const CarState& car) {
    const int fx = car.at.x - car.velocity.x, fy = car.at.y - car.velocity.y;
    if (fx < 0 || fy < 0 || fx >= s_.model.width() || fy >= s_.model.height()) return;
    const uint32_t from = s_.positionOf[s_.model.Index(fx, fy)];
    if (from != kNoPosition) {
      Mark(from, car.reverseCrossings, car.velocity.x + kHalf, car.velocity.y + kHalf, workers_[0].get());
    }
  }

  // The tiles of the states that moves from `from` reach with `crossings` after the move; a
  // tile not yet made is null.
  uint64_t** Tiles(uint32_t from, int crossings, Worker* w) {
    uint64_t**& tiles = seen_[crossings][from];
    if (tiles == nullptr) tiles = w->tileLists.Take(kTiles);
    return tiles;
  }
  // The word of row y, word i of the window in the tiles, the tile made when missing.
  uint64_t& WordOf(uint64_t** tiles, int y, int i, Worker* w) {
    uint64_t*& tile = tiles[(y / 64) * Words + i];
    if (tile == nullptr) {
      tile = w->tiles.Take(64);
      ++w->tilesMade;
    }
    return tile[y % 64];
  }
  // Marks the state reached from `from` with window velocity (x, y); false when it was marked.
  bool Mark(uint32_t from, int crossings, int x, int y, Worker* w) {
    uint64_t& word = WordOf(Tiles(from, crossings, w), y, x / 64, w);
    const uint64_t bit = 1ULL << (x % 64);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  }

  // The arrivals of a round as a layer, sorted by counting: runs of one group. Takes the
  // workers' clean arrivals and the cars standing after a crash (or at the start), and empties
  // the lists.
  Layer<Velocity> Gather(std::vector<uint64_t>* standing) {
    Layer<Velocity> layer;
    std::vector<const std::vector<uint64_t>*> lists{standing};
    for (const auto& w : workers_) lists.push_back(&w->next);
    std::vector<uint32_t> used;
    for (const std::vector<uint64_t>* list : lists) {
      for (uint64_t e : *list) {
        uint32_t& count = counts_[e >> kShift];
        if (count == 0) used.push_back(static_cast<uint32_t>(e >> kShift));
        ++count;
      }
    }
    std::sort(used.begin(), used.end());
    layer.groups = used;
    layer.starts.resize(used.size() + 1);
    uint32_t at = 0;
    for (size_t i = 0; i < used.size(); ++i) {
      layer.starts[i] = at;
      at += counts_[used[i]];
      counts_[used[i]] = layer.starts[i];  // from here on, where the group's next velocity goes
    }
    layer.starts[used.size()] = at;
    layer.velocities.resize(at);
    for (const std::vector<uint64_t>* list : lists) {
      for (uint64_t e : *list)
        layer.velocities[counts_[e >> kShift]++] = static_cast<Velocity>(e & ((1ULL << kShift) - 1));
    }
    for (uint32_t g : used) counts_[g] = 0;
    standing->clear();
    for (const auto& w : workers_) w->next.clear();
    return layer;
  }

  static bool Empty(const Row& r) {
    for (uint64_t w : r) {
      if (w != 0) return false;
    }
    return true;
  }
  // r widened by one velocity either way along the row, words `low` to `high` only: the others
  // are zero and stay so.
  static void WidenByOne(const Row& r, int low, int high, Row* out) {
    for (int i = low; i <= high; ++i) {
      const uint64_t up = r[i] << 1 | (i > low ? r[i - 1] >> 63 : 0);
      const uint64_t down = r[i] >> 1 | (i < high ? r[i + 1] << 63 : 0);
      (*out)[i] = r[i] | up | down;
    }
  }

  // Expands one layer over the threads. The states of one position go to one thread, which
  // alone touches that position's bitmaps.
  Abort Expand(const Layer<Velocity>& layer, std::vector<uint32_t>* crashes) {
    std::vector<uint32_t> units;  // first run of each position
    for (size_t i = 0; i < layer.groups.size(); ++i) {
      if (i == 0 || layer.groups[i] / kPlanes != layer.groups[i - 1] / kPlanes)
        units.push_back(static_cast<uint32_t>(i));
    }
    units.push_back(static_cast<uint32_t>(layer.groups.size()));
    const size_t count = units.size() - 1;
    const size_t layerBytes = layer.Bytes() + units.capacity() * sizeof(uint32_t);
    std::atomic<size_t> taken{0};
    std::atomic<int> abort{static_cast<int>(Abort::kNone)};
    constexpr size_t kChunk = 32;
    auto work = [&](Worker* w) {
      try {
        for (;;) {
          const size_t first = taken.fetch_add(kChunk);
          if (first >= count || abort.load(std::memory_order_relaxed) != static_cast<int>(Abort::kNone)) return;
          if (s_.limits.roundsAfterLap == 0 && lapFound_.load(std::memory_order_relaxed)) return;
          const size_t last = std::min(count, first + kChunk);
          for (size_t u = first; u < last; ++u) {
            for (uint32_t run = units[u]; run < units[u + 1]; ++run) {
              const Abort a = ExpandGroup(w, layer, run);
              if (a != Abort::kNone) {
                abort = static_cast<int>(a);
                return;
              }
            }
          }
          w->held.store(w->next.capacity() * sizeof(uint64_t) + w->crashed.capacity() * sizeof(uint32_t),
                        std::memory_order_relaxed);
          if (Held() + layerBytes > s_.limits.memoryBytes) {
            abort = static_cast<int>(Abort::kMemory);
          } else if (Clock::now() > s_.deadline) {
            abort = static_cast<int>(Abort::kTime);
          } else if (w == workers_[0].get() && s_.limits.stop && s_.limits.stop()) {
            // The stop callback is the caller's, so only the caller's own thread polls it.
            abort = static_cast<int>(Abort::kStopped);
          }
        }
      } catch (const std::bad_alloc&) {
        abort = static_cast<int>(Abort::kMemory);
      }
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < workers_.size(); ++t) threads.emplace_back(work, workers_[t].get());
    work(workers_[0].get());
    for (std::thread& t : threads) t.join();
    try {
      for (const auto& w : workers_) {
        crashes->insert(crashes->end(), w->crashed.begin(), w->crashed.end());
        w->crashed.clear();
      }
    } catch (const std::bad_alloc&) {
      return Abort::kMemory;
    }
    return static_cast<Abort>(abort.load());
  }

  // The path test of a move from q to a free cell: a walk's cells lie no further from either end
  // than the move is long along its major axis, and every cell nearer a free cell than its
  // clearance is free, so a move shorter than the clearances of its two ends together is clear.
  // Only moves near the walls need the walk.
  bool Blocked(GridPoint q, int clearanceOfQ, GridPoint to) const {
    const int length = std::max(std::abs(to.x - q.x), std::abs(to.y - q.y));
    if (length < clearanceOfQ + s_.clearance[s_.model.Index(to.x, to.y)]) return false;
    return s_.model.PathBlocked(q, to);
  }

  // The worker's source rows, whose bits lie in columns lowX to highX and rows lowY to highY, widened
  // by every change of velocity the car can make into its widened rows, cut to the window; the
  // source rows are left empty. Rows *fromY to *toY are the ones that may then hold bits.
  void Widen(Worker* w, int lowX, int highX, int lowY, int highY, int* fromY, int* toY) {
    // Only the words the widened velocities can reach are worked on.
    const int lowWord = std::max(0, lowX - kReach) / 64, highWord = std::min(kWidth - 1, highX + kReach) / 64;
    *fromY = std::max(0, lowY - kReach);
    *toY = std::min(kWidth - 1, highY + kReach);
    for (int y = *fromY; y <= *toY; ++y) w->widened[y].fill(0);
    for (int y = lowY; y <= highY; ++y) {
      if (Empty(w->source[y])) continue;
      w->spans[0] = w->source[y];
      for (int r = 1; r <= kReach; ++r) WidenByOne(w->spans[r - 1], lowWord, highWord, &w->spans[r]);
      for (int dy = std::max(-kReach, -y); dy <= kReach && y + dy < kWidth; ++dy) {
        const Row& span = w->spans[s_.halfWidth[dy + kReach]];
        Row& out = w->widened[y + dy];
        for (int i = lowWord; i <= highWord; ++i) out[i] |= span[i];
      }
      w->source[y].fill(0);
    }
  }

  // The velocities of one run, set in the worker's source rows and widened by every change of
  // velocity the car can make into its widened rows. Rows *fromY to *toY are the ones that may
  // then hold moves. Unless `cut`, a velocity whose widening would leave the window ends the
  // search's run with this window.
  Abort Dilate(Worker* w, const Layer<Velocity>& layer, uint32_t run, bool cut, int* fromY, int* toY) {
    int lowX = kWidth, highX = -1, lowY = kWidth, highY = -1;
    for (uint32_t i = layer.starts[run]; i < layer.starts[run + 1]; ++i) {
      const int x = XOf(layer.velocities[i]), y = YOf(layer.velocities[i]);
      if (!cut && (x < kReach || y < kReach || x >= kWidth - kReach || y >= kWidth - kReach)) {
        for (int r = lowY; r <= highY; ++r) w->source[r].fill(0);
        return Abort::kTooFast;
      }
      w->source[y][x / 64] |= 1ULL << (x % 64);
      lowX = std::min(lowX, x);
      highX = std::max(highX, x);
      lowY = std::min(lowY, y);
      highY = std::max(highY, y);
    }
    Widen(w, lowX, highX, lowY, highY, fromY, toY);
    return Abort::kNone;
  }

  // The run being expanded, as its moves see it. A run queues its crash once however many of its
  // moves crash.
  struct Expansion {
    Worker* w;
    uint32_t group;
    uint32_t from;
    int crossings;
    GridPoint q;
    bool sideOfQ;
    int clearanceOfQ;
    uint64_t** tiles;
    bool crashQueued = false;

    void Crash() {
      if (!crashQueued) {
        crashQueued = true;
        w->crashed.push_back(group);
      }
    }
    GridPoint To(int x, int y) const {
      return GridPoint{static_cast<int16_t>(q.x + x - kHalf), static_cast<int16_t>(q.y + y - kHalf)};
    }
  };

  // For a lap table: the moves of word i of row y in `bits` crash, whatever the crossings.
  void NoteCrashes(Expansion& e, int y, int i, uint64_t bits) {
    if (s_.keep == nullptr) return;
    uint64_t**& tiles = crashSeen_[e.from];
    if (tiles == nullptr) tiles = e.w->crashLists.Take(kTiles);
    uint64_t*& tile = tiles[(y / 64) * Words + i];
    if (tile == nullptr) tile = e.w->crashTiles.Take(64);
    tile[y % 64] |= bits;
  }

  // The moves of one word of row y that keep the crossings: a state reached before is dropped here,
  // 64 at a time, and the rest are marked, crashes included, since a move that crashes always will.
  void ExpandSameSide(Expansion& e, int y, int i, uint64_t kept, uint64_t blocked) {
    Worker* w = e.w;
    uint64_t* tile = e.tiles[(y / 64) * Words + i];
    uint64_t fresh = kept & ~(tile != nullptr ? tile[y % 64] : 0);
    if (fresh != 0) WordOf(e.tiles, y, i, w) |= fresh;
    if ((fresh & blocked) != 0) {
      e.Crash();
      NoteCrashes(e, y, i, fresh & blocked);
    }
    fresh &= ~blocked;
    while (fresh != 0) {
      const int x = i * 64 + __builtin_ctzll(fresh);
      fresh &= fresh - 1;
      const GridPoint to = e.To(x, y);
      ++w->pathTests;
      if (Blocked(e.q, e.clearanceOfQ, to)) {
        e.Crash();
        NoteCrashes(e, y, i, 1ULL << (x % 64));
        continue;
      }
      const uint32_t toGroup = GroupOf(s_.positionOf[s_.model.Index(to.x, to.y)], e.crossings);
      w->next.push_back(static_cast<uint64_t>(toGroup) << kShift | Pack(x, y));
    }
  }

  // The moves of one word of row y to the other side of the line, judged one by one.
  Abort ExpandAcross(Expansion& e, int y, int i, uint64_t crossing) {
    Worker* w = e.w;
    while (crossing != 0) {
      const int x = i * 64 + __builtin_ctzll(crossing);
      crossing &= crossing - 1;
      const GridPoint to = e.To(x, y);
      const MoveOutcome outcome = s_.model.CleanOutcome(e.q, to, e.crossings);
      int after = e.crossings;
      if (outcome == MoveOutcome::kBackward) ++after;
      if (outcome == MoveOutcome::kUndo) --after;
      if (after >= kPlanes) {
        if (!s_.model.PathBlocked(e.q, to)) return Abort::kTooManyCrossings;
        e.Crash();
        NoteCrashes(e, y, i, 1ULL << (x % 64));
        continue;
      }
      if (outcome != MoveOutcome::kLap && !Mark(e.from, after, x, y, w)) continue;
      ++w->pathTests;
      if (s_.model.PathBlocked(e.q, to)) {
        e.Crash();
        NoteCrashes(e, y, i, 1ULL << (x % 64));
        continue;
      }
      if (outcome == MoveOutcome::kLap) {
        if (s_.keep != nullptr) w->laps.push_back(static_cast<uint64_t>(e.group) << kShift | Pack(x, y));
        std::lock_guard<std::mutex> lock(lapMutex_);
        if (!lapFound_) {
          lapFrom_ = e.group;
          lapTo_ = to;
          lapFound_ = true;
        }
        continue;
      }
      w->next.push_back(static_cast<uint64_t>(GroupOf(s_.positionOf[s_.model.Index(to.x, to.y)], after)) << kShift |
                        Pack(x, y));
    }
    return Abort::kNone;
  }

  // Every move from the states of one run: one position, one count of crossings.
  Abort ExpandGroup(Worker* w, const Layer<Velocity>& layer, uint32_t run) {
    const uint32_t group = layer.groups[run];
    const uint32_t from = group / kPlanes;
    const int crossings = static_cast<int>(group % kPlanes);
    const GridPoint q = s_.cellOf[from];
    const Clock::time_point t0 = Clock::now();
    int fromY = 0, toY = -1;
    const Abort dilated = Dilate(w, layer, run, false, &fromY, &toY);
    if (dilated != Abort::kNone) return dilated;
    const Clock::time_point t1 = Clock::now();
    w->dilationSeconds += std::chrono::duration<double>(t1 - t0).count();

    const bool sideOfQ = s_.model.SideOf(q.x, q.y) != 0;
    const int clearanceOfQ = s_.clearance[s_.model.Index(q.x, q.y)];
    Expansion e{w, group, from, crossings, q, sideOfQ, clearanceOfQ, Tiles(from, crossings, w)};
    for (int y = fromY; y <= toY; ++y) {
      if (Empty(w->widened[y])) continue;
      uint64_t blocked[Words], side[Words];
      s_.blocked.Window<Words>(q.x - kHalf, q.y + y - kHalf, blocked);
      s_.side.Window<Words>(q.x - kHalf, q.y + y - kHalf, side);
      for (int i = 0; i < Words; ++i) {
        const uint64_t reached = w->widened[y][i];
        if (reached == 0) continue;
        // Moves to the other side of the line are judged one by one; every other move keeps the
        // crossings.
        const uint64_t across = (e.sideOfQ ? ~side[i] : side[i]) & ~blocked[i];
        ExpandSameSide(e, y, i, reached & ~across, blocked[i]);
        const Abort a = ExpandAcross(e, y, i, reached & across);
        if (a != Abort::kNone) return a;
      }
    }
    w->pathSeconds += SecondsSince(t1);
    return Abort::kNone;
  }

  // ---- The lap table ---------------------------------------------------------------------------
  //
  // Rounds to the lap, backwards over the rounds searched. A state one round further from the lap
  // than the states of rounds k moves to one of them: grouped by the position and plane they were
  // reached from, their velocities widened by the reach disc are the velocities of the states at
  // that position that can reach them. A move a searched state makes was tested forwards, so no
  // path is tested here. A state whose move crashes is three rounds further than the car standing
  // at its position.
  //
  // A state first reached in round f whose rounds to the lap are d is handed over only when
  // f + d is at most the rounds searched plus one: then every state a fastest way from it passes
  // was searched. So the states open to rounds k are those first reached by round L + 1 - k, and
  // the others are never needed.

  // Does job(worker, i) for i below count over the threads, polling the limits now and then.
  template <typename Job>
  bool Parallel(size_t count, Job job) {
    std::atomic<size_t> taken{0};
    std::atomic<bool> ended{false};
    constexpr size_t kChunk = 64;
    auto work = [&](Worker* w) {
      try {
        for (;;) {
          const size_t first = taken.fetch_add(kChunk);
          if (first >= count || ended.load(std::memory_order_relaxed)) return;
          for (size_t i = first; i < std::min(count, first + kChunk); ++i) job(w, i);
          w->held.store(w->next.capacity() * sizeof(uint64_t), std::memory_order_relaxed);
          if (Held() > s_.limits.memoryBytes || Clock::now() > s_.deadline ||
              (w == workers_[0].get() && s_.limits.stop && s_.limits.stop())) {
            ended = true;
          }
        }
      } catch (const std::bad_alloc&) {
        ended = true;
      }
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < workers_.size(); ++t) threads.emplace_back(work, workers_[t].get());
    work(workers_[0].get());
    for (std::thread& t : threads) t.join();
    return !ended.load();
  }

  // Sets (or clears) the open bits of the states first reached in round `round`.
  void Open(uint32_t round, bool open) {
    const Layer<Velocity>& l = LayerAt(round);
    for (size_t run = 0; run < l.groups.size(); ++run) {
      uint64_t** tiles = Tiles(l.groups[run] / kPlanes, static_cast<int>(l.groups[run] % kPlanes), workers_[0].get());
      for (uint32_t i = l.starts[run]; i < l.starts[run + 1]; ++i) {
        const int x = XOf(l.velocities[i]), y = YOf(l.velocities[i]);
        const uint64_t bit = 1ULL << (x % 64);
        if (open) {
          WordOf(tiles, y, x / 64, workers_[0].get()) |= bit;
        } else if (uint64_t* tile = tiles[(y / 64) * Words + x / 64]) {
          tile[y % 64] &= ~bit;
        }
      }
    }
  }

  // The open states of the group among the worker's widened rows fromY to toY: taken, and listed
  // in the worker's next list.
  void Claim(Worker* w, uint32_t group, int fromY, int toY) {
    uint64_t** tiles = seen_[group % kPlanes][group / kPlanes];
    for (int y = fromY; y <= toY; ++y) {
      for (int i = 0; i < Words; ++i) {
        uint64_t* tile = tiles[(y / 64) * Words + i];
        if (tile == nullptr) continue;
        uint64_t bits = w->widened[y][i] & tile[y % 64];
        tile[y % 64] &= ~bits;
        for (; bits != 0; bits &= bits - 1) {
          const int x = i * 64 + __builtin_ctzll(bits);
          w->next.push_back(static_cast<uint64_t>(group) << kShift | Pack(x, y));
        }
      }
    }
  }

  // The states that can crash, of a group whose standing car has its rounds three rounds ago.
  void ClaimCrashes(Worker* w, uint32_t group) {
    uint64_t** crashes = crashSeen_[group / kPlanes];
    if (crashes == nullptr || seen_[group % kPlanes][group / kPlanes] == nullptr) return;
    int lowX = kWidth, highX = -1, lowY = kWidth, highY = -1;
    for (int t = 0; t < kTiles; ++t) {
      const uint64_t* tile = crashes[t];
      if (tile == nullptr) continue;
      const int tx = t % Words, ty = t / Words;
      for (int r = 0; r < 64; ++r) {
        if (tile[r] == 0) continue;
        w->source[ty * 64 + r][tx] = tile[r];
        lowY = std::min(lowY, ty * 64 + r);
        highY = std::max(highY, ty * 64 + r);
        lowX = std::min(lowX, tx * 64);
        highX = std::max(highX, tx * 64 + 63);
      }
    }
    if (highY < 0) return;
    int fromY = 0, toY = -1;
    Widen(w, lowX, highX, lowY, highY, &fromY, &toY);
    Claim(w, group, fromY, toY);
  }

  // Hands every state of the table to the keeper, by its rounds. False when a limit ended it.
  bool Backward() {
    try {
      const ExactTableKeeper& keep = *s_.keep;
      const uint32_t last = static_cast<uint32_t>(kept_.size()) - 1;
      // The moves reached forwards give way to the open states.
      for (auto& plane : seen_) std::fill(plane.begin(), plane.end(), nullptr);
      std::vector<uint64_t> laps;
      for (const auto& w : workers_) {
        w->tiles.Clear();
        w->tileLists.Clear();
        w->next = std::vector<uint64_t>();
        w->crashed = std::vector<uint32_t>();
        laps.insert(laps.end(), w->laps.begin(), w->laps.end());
        w->laps = std::vector<uint64_t>();
      }
      for (uint32_t round = 0; round <= last; ++round) Open(round, true);
      // Rounds 1: the states that can make a clean move completing the lap.
      Layer<Velocity> moves = Gather(&laps);
      std::vector<uint32_t> crashesDue[4];
      const Velocity still = Pack(kHalf, kHalf);
      for (uint32_t rounds = 1; rounds <= last + 1; ++rounds) {
        if (rounds >= 2) Open(last + 2 - rounds, false);
        std::vector<uint32_t>& due = crashesDue[rounds % 4];
        const bool ran = Parallel(moves.groups.size(),
                                  [&](Worker* w, size_t run) {
                                    int fromY = 0, toY = -1;
                                    if (seen_[moves.groups[run] % kPlanes][moves.groups[run] / kPlanes] == nullptr)
                                      return;
                                    Dilate(w, moves, static_cast<uint32_t>(run), true, &fromY, &toY);
                                    Claim(w, moves.groups[run], fromY, toY);
                                  }) &&
                         Parallel(due.size(), [&](Worker* w, size_t i) { ClaimCrashes(w, due[i]); });
        if (!ran) return false;
        due = std::vector<uint32_t>();
        // The states given these rounds: handed over, and the moves that reach them grouped by
        // the position and plane they are made from, for the next rounds.
        std::vector<uint64_t> reaching;
        for (const auto& w : workers_) {
          for (uint64_t e : w->next) {
            const uint32_t group = static_cast<uint32_t>(e >> kShift);
            const Velocity v = static_cast<Velocity>(e & ((1ULL << kShift) - 1));
            const CarState car = CarOf(group, v);
            keep(car, static_cast<int>(rounds));
            const int crossings = static_cast<int>(group % kPlanes);
            if (v == still) crashesDue[(rounds + 3) % 4].push_back(group);
            const GridPoint from{static_cast<int16_t>(car.at.x - car.velocity.x),
                                 static_cast<int16_t>(car.at.y - car.velocity.y)};
            if (from.x < 0 || from.y < 0 || from.x >= s_.model.width() || from.y >= s_.model.height()) continue;
            const uint32_t position = s_.positionOf[s_.model.Index(from.x, from.y)];
            if (position == kNoPosition) continue;
            if (s_.model.SideOf(from.x, from.y) == s_.model.SideOf(car.at.x, car.at.y)) {
              reaching.push_back(static_cast<uint64_t>(GroupOf(position, crossings)) << kShift | v);
              continue;
            }
            // Across the line, the crossings before the move are those it turns into these.
            for (int before = std::max(0, crossings - 1); before <= std::min(kPlanes - 1, crossings + 1); ++before) {
              const MoveOutcome outcome = s_.model.CleanOutcome(from, car.at, before);
              const int after = before + (outcome == MoveOutcome::kBackward ? 1
                                          : outcome == MoveOutcome::kUndo   ? -1
                                                                            : 0);
              if (outcome != MoveOutcome::kLap && after == crossings)
                reaching.push_back(static_cast<uint64_t>(GroupOf(position, before)) << kShift | v);
            }
          }
          w->next = std::vector<uint64_t>();
        }
        moves = Gather(&reaching);
      }
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // ---- Rebuilding the lap ---------------------------------------------------------------------

  CarState CarOf(uint32_t group, Velocity velocity) const {
    CarState car;
    car.at = s_.cellOf[group / kPlanes];
    car.velocity = GridPoint{static_cast<int16_t>(XOf(velocity) - kHalf), static_cast<int16_t>(YOf(velocity) - kHalf)};
    car.reverseCrossings = static_cast<int16_t>(group % kPlanes);
    return car;
  }

  // ---- The layers, kept for rebuilding the lap ----------------------------------------------------
  //
  // Each layer goes to a scratch file once it has been searched from, so that memory holds only
  // the reached states' tiles; a layer stays in memory when there is no such file.

  struct Kept {
    long long offset = -1;  // in the scratch file; -1 when in memory
    size_t groups = 0;
    size_t velocities = 0;
    Layer<Velocity> layer;
  };

  // False when the layer could be kept neither on disk nor in memory.
  bool Keep(Layer<Velocity> layer) {
    Kept k;
    k.groups = layer.groups.size();
    k.velocities = layer.velocities.size();
    if (spill_ != nullptr) {
      k.offset = spilled_;
      const bool written = std::fwrite(layer.groups.data(), sizeof(uint32_t), k.groups, spill_) == k.groups &&
                           std::fwrite(layer.starts.data(), sizeof(uint32_t), k.groups + 1, spill_) == k.groups + 1 &&
                           std::fwrite(layer.velocities.data(), sizeof(Velocity), k.velocities, spill_) == k.velocities;
      if (!written) return false;
      spilled_ += static_cast<long long>(k.groups * 2 + 1) * sizeof(uint32_t) +
                  static_cast<long long>(k.velocities * sizeof(Velocity));
    } else {
      bytes_ += layer.Bytes();
      k.layer = std::move(layer);
    }
    try {
      kept_.push_back(std::move(k));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // A kept layer, read back from the scratch file when it went there; empty when it can't be.
  const Layer<Velocity>& LayerAt(uint32_t index) const {
    const Kept& k = kept_[index];
    if (k.offset < 0) return k.layer;
    auto cached = cache_.find(index);
    if (cached != cache_.end()) return cached->second;
    if (cache_.size() >= 4) cache_.erase(cache_.begin());
    Layer<Velocity>& l = cache_[index];
    std::fflush(spill_);
    if (fseeko(spill_, static_cast<off_t>(k.offset), SEEK_SET) != 0) return l;
    l.groups.resize(k.groups);
    l.starts.resize(k.groups + 1);
    l.velocities.resize(k.velocities);
    const bool read = std::fread(l.groups.data(), sizeof(uint32_t), k.groups, spill_) == k.groups &&
                      std::fread(l.starts.data(), sizeof(uint32_t), k.groups + 1, spill_) == k.groups + 1 &&
                      std::fread(l.velocities.data(), sizeof(Velocity), k.velocities, spill_) == k.velocities;
    fseeko(spill_, 0, SEEK_END);
    if (!read) l = Layer<Velocity>();
    return l;
  }

  // The cars of a layer's group.
  std::vector<CarState> CarsAt(uint32_t layer, uint32_t group) const {
    std::vector<CarState> cars;
    const Layer<Velocity>& l = LayerAt(layer);
    if (l.starts.size() != l.groups.size() + 1) return cars;
    const auto it = std::lower_bound(l.groups.begin(), l.groups.end(), group);
    if (it == l.groups.end() || *it != group) return cars;
    const size_t run = static_cast<size_t>(it - l.groups.begin());
    for (uint32_t i = l.starts[run]; i < l.starts[run + 1]; ++i) cars.push_back(CarOf(group, l.velocities[i]));
    return cars;
  }

  // A car of the layer from which one move (clean, or a crash when `crash`) leads to `car`; the
  // move's destination goes to *to.
  bool Predecessor(uint32_t layer, const CarState& car, bool crash, CarState* found, GridPoint* to) const {
    const TrackModel& m = s_.model;
    if (crash) {
      const uint32_t position = s_.positionOf[m.Index(car.at.x, car.at.y)];
      for (const CarState& before : CarsAt(layer, GroupOf(position, car.reverseCrossings))) {
        const GridPoint c = Predicted(before);
        for (GridPoint o : m.Reach()) {
          const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
          if (m.PathBlocked(before.at, d)) {
            *found = before;
            *to = d;
            return true;
          }
        }
      }
      return false;
    }
    const int px = car.at.x - car.velocity.x, py = car.at.y - car.velocity.y;
    if (px < 0 || py < 0 || px >= m.width() || py >= m.height()) return false;
    const uint32_t position = s_.positionOf[m.Index(px, py)];
    if (position == kNoPosition) return false;
    const GridPoint p{static_cast<int16_t>(px), static_cast<int16_t>(py)};
    if (m.PathBlocked(p, car.at)) return false;
    for (int crossings = std::max(0, car.reverseCrossings - 1);
         crossings <= car.reverseCrossings + 1 && crossings < kPlanes; ++crossings) {
      const MoveOutcome outcome = m.CleanOutcome(p, car.at, crossings);
      if (outcome == MoveOutcome::kLap) continue;
      for (const CarState& before : CarsAt(layer, GroupOf(position, crossings))) {
        const GridPoint c = Predicted(before);
        if (IsWithinReach(static_cast<int16_t>(car.at.x - c.x), static_cast<int16_t>(car.at.y - c.y), kMoveRadius) &&
            After(before, car.at, outcome) == car) {
          *found = before;
          *to = car.at;
          return true;
        }
      }
    }
    return false;
  }

  ExactLap Lap(uint32_t layer) const {
    ExactLap result;
    result.end = ExactEnd::kLap;
    result.plan.lowerBound = layer + 1;
    result.effort = Effort(static_cast<uint32_t>(kept_.size()));
    std::vector<GridPoint> moves{lapTo_};
    // The lap's last move starts from some car of this layer's group; any in reach will do.
    CarState car;
    for (const CarState& c : CarsAt(layer, lapFrom_)) {
      const GridPoint p = Predicted(c);
      if (IsWithinReach(static_cast<int16_t>(lapTo_.x - p.x), static_cast<int16_t>(lapTo_.y - p.y), kMoveRadius)) {
        car = c;
        break;
      }
    }
    for (uint32_t l = layer; l > 0;) {
      CarState before;
      GridPoint to;
      if (Predecessor(l - 1, car, false, &before, &to)) {
        l -= 1;
      } else if (l >= 3 && car.velocity == GridPoint{} && Predecessor(l - 3, car, true, &before, &to)) {
        l -= 3;
      } else {
        return Ended(ExactEnd::kLimits, layer + 1);  // not reached: every state has its way back
      }
      moves.push_back(to);
      car = before;
    }
    std::reverse(moves.begin(), moves.end());
    LapPlan& plan = result.plan;
    plan.found = true;
    plan.proven = true;
    plan.moves = std::move(moves);
    plan.rounds = layer + 1;
    plan.lowerBound = layer + 1;
    return result;
  }

  Shared& s_;
  std::vector<std::unique_ptr<Worker>> workers_;
  // Forwards, the moves made from each plane and position (window velocity = the move); for a
  // lap table, then, the states not yet given rounds, by plane and the position they stand on.
  std::array<std::vector<uint64_t**>, kPlanes> seen_;
  std::vector<uint64_t**> crashSeen_;  // for a lap table: the moves from each position that crash
  std::vector<uint32_t> counts_;  // per group, for sorting a round's arrivals
  std::vector<Kept> kept_;
  std::FILE* spill_ = ScratchFile();
  long long spilled_ = 0;
  mutable std::map<uint32_t, Layer<Velocity>> cache_;
  std::atomic<size_t> bytes_{0};
  size_t states_ = 0;
  std::mutex lapMutex_;
  std::atomic<bool> lapFound_{false};
  uint32_t lapFrom_ = 0;
  GridPoint lapTo_;
  bool lapKept_ = false;  // lap_ holds the lap, and the search goes on after it
  uint32_t lapLayer_ = 0;
  ExactLap lap_;
  bool tabled_ = false;  // every state of the lap table was handed over
};

template <int Words>
ExactLap RunWith(Shared& shared, const CarState& car, bool* tooFast) {
  auto search = std::make_unique<Search<Words>>(shared);
  return search->Run(car, tooFast);
}

}  // namespace

namespace {

ExactLap Solve(const TrackModel& model, const CarState& car, const ExactLimits& limits, const ExactTableKeeper* keep) {
  ExactLap failed;
  failed.plan.lowerBound = 1;
  if (!model.built()) return failed;
  try {
    Shared shared(model, limits);
    shared.began = Clock::now();
    shared.deadline = shared.began + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(std::max(0.0, std::min(limits.seconds, 1e7))));
    std::fill(std::begin(shared.halfWidth), std::end(shared.halfWidth), 0);
    for (GridPoint o : model.Reach()) {
      if (std::abs(o.y) <= kReach) {
        int& w = shared.halfWidth[o.y + kReach];
        w = std::max(w, std::abs(static_cast<int>(o.x)));
      }
    }
    const int w = model.width(), h = model.height();
    shared.positionOf.assign(static_cast<size_t>(w) * h, kNoPosition);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (model.Blocked(x, y)) continue;
        shared.positionOf[model.Index(x, y)] = static_cast<uint32_t>(shared.cellOf.size());
        shared.cellOf.push_back(GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)});
      }
    }
    shared.clearance.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        shared.clearance[model.Index(x, y)] = static_cast<uint16_t>(std::min(model.Clearance(x, y), 0xFFFF));
      }
    }
    shared.blocked.Build(w, h, true, [&](int x, int y) { return model.Blocked(x, y); });
    shared.side.Build(w, h, false, [&](int x, int y) { return model.SideOf(x, y) != 0; });
    shared.keep = keep;
    ExactLap lap = failed;
    for (int words = 1; words <= 16; words *= 2) {
      bool tooFast = false;
      lap = words == 1   ? RunWith<1>(shared, car, &tooFast)
            : words == 2 ? RunWith<2>(shared, car, &tooFast)
            : words == 4 ? RunWith<4>(shared, car, &tooFast)
            : words == 8 ? RunWith<8>(shared, car, &tooFast)
                         : RunWith<16>(shared, car, &tooFast);
      if (!tooFast) return lap;
      // A car went faster than the window holds: again with a wider one, while there is time.
      if (SecondsSince(shared.began) > limits.seconds) {
        lap.end = ExactEnd::kTime;
        return lap;
      }
    }
    return lap;
  } catch (const std::bad_alloc&) {
    failed.end = ExactEnd::kMemory;
    return failed;
  }
}

}  // namespace

ExactLap SolveExact(const TrackModel& model, const CarState& car, const ExactLimits& limits) {
  return Solve(model, car, limits, nullptr);
}

ExactLap SolveExactTable(const TrackModel& model, const CarState& car, const ExactLimits& limits,
                         const ExactTableKeeper& keep) {
  return Solve(model, car, limits, &keep);
}
