// The lap table: every car state reachable from the standing start with its exact rounds to the
// next lap, and whether it can still be brought to rest, so that the pro, the hint and foresight
// answer with lookups.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "brain/track_model.h"

class LapTable {
 public:
  // Backward crossings still to undo that the table holds: 0 to kPlanes - 1. A move to more leaves
  // the table's states, and is left out of its answers.
  static constexpr int kPlanes = 4;
  // The most rounds to the lap the table holds; a state further from it is held with no rounds.
  static constexpr int kMostRounds = 252;
  // What the table may hold by default, in memory and on disk.
  static constexpr size_t kDefaultBytes = size_t{256} << 20;

  LapTable() = default;
  LapTable(const LapTable&) = delete;
  LapTable& operator=(const LapTable&) = delete;
  LapTable(LapTable&&) = default;
  LapTable& operator=(LapTable&&) = default;

  // Starts building the table of the circuit from the car standing at its start. The model must
  // outlive the table. Nothing is built until Build is called.
  void Begin(const TrackModel& model, size_t maxBytes = kDefaultBytes) noexcept;
  // Does `work` more of the build (moves considered, cells of paths tested, states sorted),
  // resuming where the last call stopped; true once the build has ended, ready or failed.
  // A build whose states outgrow the bytes allowed, or for which memory runs short, fails and
  // frees what it held. Never throws.
  bool Build(size_t work) noexcept;
  // Builds to the end at once.
  bool BuildAll() noexcept { return Build(~size_t{0}); }

  bool ready() const { return phase_ == Phase::kReady; }
  bool failed() const { return phase_ == Phase::kFailed; }
  // The car states the table holds, once ready, and the bytes its windows take (the file's size,
  // near enough).
  size_t states() const { return states_; }
  size_t bytes() const { return tiles_.size() + stops_.size() * sizeof(uint64_t) + keys_.size() * 8; }

  // The fewest rounds in which the car completes its next lap (a crash on the way costing three),
  // counted as the game counts them: 1 for a car whose next move can cross the line. -1 when the
  // table doesn't hold the car, or holds it without a lap in kMostRounds.
  int Rounds(const CarState& car) const;
  // A move that completes the lap in Rounds(car) rounds, the first such in the reach's order; false
  // when Rounds(car) is -1.
  bool BestMove(const CarState& car, GridPoint* to) const;
  // For a car standing on a free cell after a clean move: 1 when clean moves can still bring it
  // to rest, 0 when every way on ends in a crash, -1 when the table doesn't hold the car.
  int CanStop(const CarState& car) const;

  // The file: written whole under a temporary name and renamed, so that it is never seen half
  // written. False when it can't be written.
  bool Save(const std::string& hostPath) const noexcept;
  // Reads a file Save wrote for the same circuit. Anything else (another circuit, another
  // format, a short or damaged file) is refused, the table left as before. Never throws.
  bool Load(const TrackModel& model, const std::string& hostPath) noexcept;

  // The circuit's fingerprint as the file holds it: its cells, line and start.
  static uint64_t CircuitHash(const TrackModel& model);
  // The file's name for the circuit, e.g. "laps-0123456789abcdef.apxlaps".
  static std::string FileName(const TrackModel& model);

 private:
  enum class Phase : uint8_t { kIdle, kForward, kCount, kScatter, kSort, kRounds, kStops, kPack, kReady, kFailed };
  static constexpr int kTileBits = 5;
  static constexpr int kTileSide = 1 << kTileBits;
  static constexpr int kTileCells = kTileSide * kTileSide;
  static constexpr int kBias = 4096;  // velocities are held from -kBias to kBias - 1

  // One state's entry: its plane, the cell it came from, and its velocity.
  const uint8_t* Entry(int plane, size_t from, int vx, int vy) const;
  uint8_t* MakeEntry(int plane, size_t from, int vx, int vy);
  uint32_t FindTile(uint64_t key) const;
  uint32_t AddTile(uint64_t key);
  bool Rehash(size_t slots);  // false when a key is there twice
  static uint64_t TileKey(int plane, size_t from, int vx, int vy);

  // The plane after a clean move, -1 when it leaves the table.
  int PlaneAfter(GridPoint from, GridPoint to, int plane, MoveOutcome* outcome) const;
  size_t Held() const;
  void Fail();
  void Forward(size_t* work);
  void NextRound();
  void Expand(size_t* work);
  void Index(size_t* work);
  void Pack(size_t* work);
  void PropagateRounds(size_t* work);
  void PropagateStops(size_t* work);
  // Calls visit(id, lapMove) for each state one clean move before state `id`.
  template <typename Visit>
  void ForEachBefore(uint32_t id, Visit visit) const;

  const TrackModel* model_ = nullptr;
  size_t maxBytes_ = kDefaultBytes;
  Phase phase_ = Phase::kIdle;
  size_t states_ = 0;
  size_t cursor_ = 0;

  // The windows: tiles of kTileSide x kTileSide velocities of one plane and cell moved from,
  // a byte a state (the rounds, or one of the marks below), found by hashing their keys.
  std::vector<uint8_t> tiles_;
  std::vector<uint64_t> stops_;  // two bits a tile's entry: can still come to rest, certainly can't
  std::vector<uint64_t> keys_;   // tile keys, in tile order
  std::vector<uint64_t> slotKeys_;
  std::vector<uint32_t> slotTiles_;
  size_t slotMask_ = 0;

  // The build's: the states found (plane and cell, velocity, flags), sorted by the cell they stand on.
  std::vector<uint64_t> found_;
  std::vector<uint64_t> sorted_;
  std::vector<uint32_t> groupStart_;              // per plane and cell, its states' first index in sorted_
  std::vector<uint8_t> fwd_;                      // the round in which each found state was first reached
  std::vector<uint8_t> sortedFwd_;                // the same in sorted_'s order
  std::array<std::vector<uint64_t>, 4> pending_;  // cars standing after a crash, by the round they stand in
  size_t round_ = 0;                              // the round being searched forwards
  size_t roundEnd_ = 0;                           // where its states end in found_
  size_t horizon_ = 0;                            // the first round not searched from, 0xFF when every state was
  std::vector<uint8_t> rounds_;
  std::array<std::vector<uint64_t>, 2> marks_;  // by state: can stop; has a way out of the table's states
  int pass_ = 0;
  std::vector<std::vector<uint32_t>> buckets_;
  std::vector<uint32_t> queue_;
  size_t bucket_ = 0;
  std::vector<int> halfWidth_;  // the reach disc: one span [-w, w] a row
};
