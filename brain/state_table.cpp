// The state table.
#include "brain/state_table.h"

void StateTable::Clear() {
  nodes_.clear();
  slots_.clear();
  mask_ = 0;
}

void StateTable::Reserve(size_t states) {
  nodes_.reserve(states);
  size_t want = 1024;
  while (want < states * 2) want *= 2;
  if (want > slots_.size()) Rehash(want);
}

void StateTable::Rehash(size_t slots) {
  slots_.assign(slots, 0);
  mask_ = slots - 1;
  for (uint32_t i = 0; i < nodes_.size(); ++i) {
    const SearchNode& n = nodes_[i];
    size_t s = Hash(n.x, n.y, n.vx, n.vy, n.crossings) & mask_;
    while (slots_[s] != 0) s = (s + 1) & mask_;
    slots_[s] = i + 1;
  }
}

uint32_t StateTable::Find(int16_t x, int16_t y, int16_t vx, int16_t vy, int crossings) const {
  if (slots_.empty()) return kNone;
  for (size_t s = Hash(x, y, vx, vy, crossings) & mask_;; s = (s + 1) & mask_) {
    const uint32_t slot = slots_[s];
    if (slot == 0) return kNone;
    const SearchNode& n = nodes_[slot - 1];
    if (n.x == x && n.y == y && n.vx == vx && n.vy == vy && n.crossings == crossings) return slot - 1;
  }
}

uint32_t StateTable::Add(const SearchNode& node) {
  if ((nodes_.size() + 1) * 2 > slots_.size()) Rehash(slots_.empty() ? 1024 : slots_.size() * 2);
  const uint32_t index = static_cast<uint32_t>(nodes_.size());
  nodes_.push_back(node);
  size_t s = Hash(node.x, node.y, node.vx, node.vy, node.crossings) & mask_;
  while (slots_[s] != 0) s = (s + 1) & mask_;
  slots_[s] = index + 1;
  return index;
}
