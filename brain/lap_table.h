// The lap table: the car states on the near-fastest ways to the lap, each with its exact rounds to
// the lap, so that the pro and the hint answer with a lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "brain/stop_map.h"
#include "brain/exact_solver.h"
#include "brain/track_model.h"

class LapTable {
 public:
  // Backward crossings still to undo that the table holds: 0 to kPlanes - 1.
  static constexpr int kPlanes = 8;
  // The most rounds to the lap the table holds.
  static constexpr int kMostRounds = 252;
  // What the table may hold by default, in memory and on disk.
  static constexpr size_t kDefaultBytes = size_t{256} << 20;
  // Rounds beyond the fastest lap that the table's ways may take: a car that has lost up to this
  // many rounds on the fastest lap still has its rounds in the table.
  static constexpr int kSpareRounds = 3;
  // The laps after the first that the table holds, each from the state in which the table's own
  // pro ends the lap before.
  static constexpr int kFlyingLaps = 3;

  LapTable() = default;
  LapTable(const LapTable&) = delete;
  LapTable& operator=(const LapTable&) = delete;
  LapTable(LapTable&&) = default;
  LapTable& operator=(LapTable&&) = default;

  // Sets up the table of the circuit; `maxBytes` bounds what it holds, and `buildBytes` what its
  // build may use besides. The model must outlive the table. Nothing is built until BuildAll.
  void Begin(const TrackModel& model, size_t maxBytes = kDefaultBytes, size_t buildBytes = DefaultBuildBytes()) noexcept;
  // Builds the table, then its stop map when both fit in its bytes (a map that doesn't fit, or
  // runs out of memory, is left out), on `threads` threads (the machine's cores when 0), or fails
  // and frees what it held: when the laps outgrow its bytes, when memory runs short, or when
  // `stop` says so (polled now and then, from the calling thread). Never throws.
  // `progress`, when given, hears the lap being searched (0 from the standing start) and the
  // search's progress after each of its rounds, and lap -1 when the stop map's build begins, on
  // the calling thread.
  bool BuildAll(int threads = 0, const std::function<bool()>& stop = nullptr,
                const std::function<void(int lap, const ExactProgress&)>& progress = nullptr) noexcept;
  // A quarter of the machine's memory, at most 4 GB: First Race's table takes about a gigabyte.
  static size_t DefaultBuildBytes() noexcept;

  bool ready() const { return phase_ == Phase::kReady; }
  bool failed() const { return phase_ == Phase::kFailed; }
  // The car states the table holds, once ready, and the bytes its windows and its stop map take
  // (the file's size, near enough).
  size_t states() const { return states_; }
  size_t bytes() const { return tiles_.size() + keys_.size() * 8 + stops_.bytes(); }
  // The map of which cars can still stop, built after the laps when both fit in the table's bytes;
  // empty otherwise.
  const StopMap& stops() const { return stops_; }

  // The fewest rounds in which the car completes its next lap (a crash on the way costing three),
  // counted as the game counts them: 1 for a car whose next move can cross the line. -1 when the
  // table doesn't hold the car: the table holds the states of ways to the lap of at most
  // kSpareRounds more than the fastest, from the standing start and from where its pro ends
  // each of the first laps.
  int Rounds(const CarState& car) const;
  // A move that completes the lap in Rounds(car) rounds, the first such in the reach's order; false
  // when Rounds(car) is -1.
  bool BestMove(const CarState& car, GridPoint* to) const;
  // Whether the car, taken as standing on a free cell, can still be brought to rest by clean
  // moves: 1 when it can, 0 when every way on crashes, exactly; -1 when the table has no stop map
  // or the map can't tell (a speed beyond its window, or one whose ways may leave it).
  int CanStop(const CarState& car) const { return ready() ? stops_.CanStop(car) : -1; }

  // The file: written whole under a temporary name and renamed, so that it is never seen half
  // written. False when it can't be written.
  bool Save(const std::string& hostPath) const noexcept;
  // Reads a file Save wrote for the same circuit. Anything else (another circuit, another
  // format, a short or damaged file) is refused, the table left as before. Never throws.
  bool Load(const TrackModel& model, const std::string& hostPath) noexcept;

  // Removes the tables in the folder that an earlier version of the game wrote, in a format this
  // one can't read (named for the format too, they would otherwise stay there unused).
  static void RemoveOldFiles(const std::string& hostFolder) noexcept;

  // The circuit's fingerprint as the file holds it: its cells, line and start.
  static uint64_t CircuitHash(const TrackModel& model);
  // The file's name for the circuit, e.g. "laps-0123456789abcdef.apxlaps".
  static std::string FileName(const TrackModel& model);

 private:
  enum class Phase : uint8_t { kIdle, kBegun, kReady, kFailed };
  static constexpr int kTileBits = 4;
  static constexpr int kTileSide = 1 << kTileBits;
  static constexpr int kTileCells = kTileSide * kTileSide;
  static constexpr int kBias = 1024;  // velocities are held from -kBias to kBias - 1

  // One state's entry: its plane, the cell it came from, and its velocity.
  const uint8_t* Entry(int plane, size_t from, int vx, int vy) const;
  uint8_t* MakeEntry(int plane, size_t from, int vx, int vy);
  uint32_t FindTile(uint64_t key) const;
  uint32_t AddTile(uint64_t key);
  bool Rehash(size_t slots);  // false when a key is there twice
  static uint64_t TileKey(int plane, size_t from, int vx, int vy);

  // The plane after a clean move, -1 when it leaves the table.
  int PlaneAfter(GridPoint from, GridPoint to, int plane, MoveOutcome* outcome) const;
  // Where the table's pro ends the lap from `car`; false when it doesn't within the table.
  bool LapEnd(CarState car, CarState* end) const;
  void Fail();

  const TrackModel* model_ = nullptr;
  size_t maxBytes_ = kDefaultBytes;
  size_t buildBytes_ = 0;
  Phase phase_ = Phase::kIdle;
  size_t states_ = 0;

  // The windows: tiles of kTileSide x kTileSide velocities of one plane and cell moved from,
  // a byte a state (its rounds, or kUnseen), found by hashing their keys.
  std::vector<uint8_t> tiles_;
  std::vector<uint64_t> keys_;  // tile keys, in tile order
  std::vector<uint64_t> slotKeys_;
  std::vector<uint32_t> slotTiles_;
  size_t slotMask_ = 0;
  StopMap stops_;
};
