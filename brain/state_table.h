// A table of car states for the searches: each state once, with its rounds and the state it was
// reached from, found again by hashing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "brain/track_model.h"

struct SearchNode {
  int16_t x, y, vx, vy;
  uint16_t rounds;
  uint8_t crossings;  // backward crossings still to undo
  uint8_t closed;
  uint32_t parent;  // kNone for the first state
};

class StateTable {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr int kMaxCrossings = 250;  // deeper states are not kept

  void Clear();
  void Reserve(size_t states);
  size_t size() const { return nodes_.size(); }
  SearchNode& operator[](uint32_t i) { return nodes_[i]; }
  const SearchNode& operator[](uint32_t i) const { return nodes_[i]; }

  // The index of the state, or kNone.
  uint32_t Find(int16_t x, int16_t y, int16_t vx, int16_t vy, int crossings) const;
  // Adds a state that Find did not find; returns its index. May throw std::bad_alloc.
  uint32_t Add(const SearchNode& node);

  static CarState CarOf(const SearchNode& n) {
    CarState car;
    car.at = GridPoint{n.x, n.y};
    car.velocity = GridPoint{n.vx, n.vy};
    car.reverseCrossings = n.crossings;
    return car;
  }

 private:
  static uint64_t Hash(int16_t x, int16_t y, int16_t vx, int16_t vy, int crossings) {
    uint64_t k = (static_cast<uint64_t>(static_cast<uint16_t>(x)) << 48) |
                 (static_cast<uint64_t>(static_cast<uint16_t>(y)) << 32) |
                 (static_cast<uint64_t>(static_cast<uint16_t>(vx)) << 16) | static_cast<uint16_t>(vy);
    k ^= static_cast<uint64_t>(crossings) * 0x9E3779B97F4A7C15ull;
    k ^= k >> 31;
    k *= 0xD6E8FEB86659FD93ull;
    k ^= k >> 32;
    return k;
  }
  void Rehash(size_t slots);

  std::vector<SearchNode> nodes_;
  std::vector<uint32_t> slots_;  // index + 1, 0 for an empty slot
  size_t mask_ = 0;
};
