// Foresight: whether a car can still be brought to rest without crashing, so that the aim can
// warn about a move that is clean itself but leaves no way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "brain/flat_set.h"
#include "brain/lap_table.h"
#include "brain/track_model.h"
#include "rules/state.h"

class Foresight {
 public:
  // Work one query may do before it gives up and calls the car safe, counted in cells looked
  // at and moves considered: under a millisecond on an idle machine.
  static constexpr size_t kDefaultBudget = 5000;
  // What an aim cursor can afford on every pen move: proving that a fast car can't stop looks at
  // every way on, and this still answers every aim on the largest built-in circuit within two
  // milliseconds (brain_bench).
  static constexpr size_t kAimBudget = 40000;

  // Sets aside the memo (a few megabytes) at once, so that no query pays for it.
  explicit Foresight(const TrackModel& model, size_t budget = kDefaultBudget) noexcept;

  enum class Fate : uint8_t { kCanStop, kDoomed, kUnknown };
  // What Doomed answers, telling apart a search that ran out of `budget`.
  Fate Judge(const CarState& car, size_t budget) noexcept;

  // True when no sequence of clean moves brings the car to rest (to a speed below the reach
  // radius, from which it can stop dead on its own cell): every way on ends in a crash. The car
  // is taken as standing on a free cell, as after a clean move. A search that outgrows the
  // budget answers false: a warning is only given when it is certain. Never throws.
  bool Doomed(const CarState& car) noexcept;

  // The same for the car of the record moving to `to`: false when that move crashes (the aim
  // shows crashes already) or is out of reach.
  bool MoveDooms(const PlayerRecord& player, GridPoint to) noexcept;

  // With a ready table of the circuit, every car its stop map can tell about is judged by a
  // lookup, exactly and without giving up; other cars are searched as before. Null drops it. The
  // table must outlive its use here.
  void UseTable(const LapTable* table) noexcept { table_ = table; }

  // Forgets what earlier queries learnt. The answers stay valid for the circuit, so this is
  // only needed to bound the memory: the memo is dropped by itself when it grows large.
  void Forget() noexcept;

  // Whether the last query ran out of budget.
  bool lastGaveUp() const { return lastGaveUp_; }
  // The work every query so far has done, in the budget's units: what a search that asks this
  // foresight counts towards its own budget.
  size_t work() const { return work_; }
  // True once memory ran out for a query (which then answered "not doomed").
  bool outOfMemory() const { return outOfMemory_; }

 private:
  static uint64_t Key(const CarState& car);
  Fate Search(const CarState& car, size_t budget);

  const TrackModel& model_;
  const LapTable* table_ = nullptr;
  size_t budget_;
  FlatMap known_;    // 1: doomed, 0: can stop
  FlatMap visited_;  // this query's states
  struct Frame {
    CarState car;
    size_t begin = 0;  // its candidates in order_, slowest first, from begin to end
    size_t first = 0;  // the next one to try
    size_t end = 0;
    size_t sorted = 0;  // how many of them are in order yet
  };
  std::vector<Frame> frames_;
  std::vector<uint64_t> order_;
  size_t tried_ = 0;
  size_t work_ = 0;
  bool lastGaveUp_ = false;
  bool outOfMemory_ = false;
};
