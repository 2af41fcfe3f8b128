// A small open-addressing map from 64-bit keys to a byte, for the searches' memos: no node
// allocation per entry, and clearing keeps the table's memory for the next query.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

class FlatMap {
 public:
  // The value stored for the key, or nullptr.
  const uint8_t* Find(uint64_t key) const {
    if (count_ == 0) return nullptr;
    for (size_t s = Slot(key);; s = (s + 1) & mask_) {
      if (!used_[s]) return nullptr;
      if (keys_[s] == key) return &values_[s];
    }
  }
  // Stores the value for the key, replacing an earlier one. May throw std::bad_alloc.
  void Put(uint64_t key, uint8_t value) {
    if ((count_ + 1) * 2 > keys_.size()) Rehash(keys_.empty() ? 256 : keys_.size() * 2);
    size_t s = Slot(key);
    while (used_[s] && keys_[s] != key) s = (s + 1) & mask_;
    if (!used_[s]) {
      used_[s] = 1;
      keys_[s] = key;
      ++count_;
    }
    values_[s] = value;
  }
  // Makes room for `count` entries at once, so that no later Put has to rebuild the table.
  void Reserve(size_t count) {
    size_t slots = 256;
    while (slots < count * 2) slots *= 2;
    if (slots > keys_.size()) Rehash(slots);
  }
  size_t capacity() const { return keys_.size() / 2; }
  void Clear() {
    if (count_ == 0) return;
    std::fill(used_.begin(), used_.end(), 0);
    count_ = 0;
  }
  size_t size() const { return count_; }
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (size_t s = 0; s < keys_.size(); ++s) {
      if (used_[s]) visit(keys_[s], values_[s]);
    }
  }

 private:
  size_t Slot(uint64_t key) const {
    key ^= key >> 29;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 32;
    return static_cast<size_t>(key) & mask_;
  }
  void Rehash(size_t slots) {
    std::vector<uint64_t> keys(slots);
    std::vector<uint8_t> values(slots), used(slots, 0);
    const size_t mask = slots - 1;
    for (size_t s = 0; s < keys_.size(); ++s) {
      if (!used_[s]) continue;
      size_t t = keys_[s];
      t ^= t >> 29;
      t *= 0xBF58476D1CE4E5B9ull;
      t ^= t >> 32;
      t &= mask;
      while (used[t]) t = (t + 1) & mask;
      used[t] = 1;
      keys[t] = keys_[s];
      values[t] = values_[s];
    }
    keys_.swap(keys);
    values_.swap(values);
    used_.swap(used);
    mask_ = mask;
  }

  std::vector<uint64_t> keys_;
  std::vector<uint8_t> values_;
  std::vector<uint8_t> used_;
  size_t mask_ = 0;
  size_t count_ = 0;
};
