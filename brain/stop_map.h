// The stop map: whether a car at any free cell and velocity of a window can still come to rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "brain/track_model.h"

class StopMap {
 public:
  // A plane's bits: velocities -kHalf to kHalf - 1 on either axis, two 64-bit words a row; the
  // map holds those of at most kHalf - 1 either way.
  static constexpr int kHalf = 64;
  static constexpr int kSide = 2 * kHalf;
  static constexpr int kRowWords = kSide / 64;
  static constexpr size_t kPlaneWords = static_cast<size_t>(kSide) * kRowWords;
  // A cell holds two planes: S (can stop) and U (unknown: not S, and some way on may leave the
  // window without a crash). A state in neither is doomed.
  static constexpr size_t kCellWords = 2 * kPlaneWords;
  static constexpr size_t kCellBytes = kCellWords * 8;

  // The bytes the map of the circuit takes once built, and the most its build holds besides.
  static size_t BytesFor(const TrackModel& model);
  static size_t BuildBytesFor(const TrackModel& model);

  // Builds the map of the circuit on `threads` threads; false, with the map empty, when `stop`
  // says so (polled between rounds, from the calling thread). Throws std::bad_alloc when memory
  // runs out. The model must outlive the map. A `topSpeed` below kHalf - 1 narrows the window to
  // velocities of at most that along either axis, so that a small circuit meets its edges.
  bool Build(const TrackModel& model, int threads, const std::function<bool()>& stop = nullptr,
             int topSpeed = kHalf - 1);
  // Takes the words of a map built before for the same model (as words() gave them); false, with
  // the map empty, when their count doesn't fit the circuit.
  bool Adopt(const TrackModel& model, std::vector<uint64_t> words);
  void Clear();

  bool empty() const { return words_.empty(); }
  size_t bytes() const { return words_.size() * 8 + positionOf_.size() * 4; }
  const std::vector<uint64_t>& words() const { return words_; }
  // The states in S and in U over all cells, for the figures.
  size_t CountS() const { return Count(0); }
  size_t CountU() const { return Count(kPlaneWords); }

  // 1 when the car (taken as standing on a free cell) can be brought to rest by clean moves, 0
  // when it can't, -1 when the map can't tell: no map, a velocity outside the window, a blocked
  // cell, or a state in U.
  int CanStop(const CarState& car) const;

 private:
  size_t Count(size_t plane) const;

  const TrackModel* model_ = nullptr;
  int topSpeed_ = kHalf - 1;
  std::vector<uint32_t> positionOf_;  // cell -> free cell's index, ~0u for a blocked one
  std::vector<uint64_t> words_;       // kCellWords a free cell: S rows, then U rows
};
