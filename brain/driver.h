// The computer drivers and the hint: the move a driver of a given level makes for a car.
//
// The game keeps one Driver per loaded circuit and asks it for a move whenever a computer car
// is to move (or a player asks for a hint). The driver remembers the plans it made, so a car
// that follows its plan costs almost nothing; a car found off every plan (the first move, a
// hint for a player's car) gets a new plan within a fixed amount of work. Every budget is counted
// in work (moves considered, cells tested), never in time, so that the same question gets the
// same answer on any machine and under any load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "brain/foresight.h"
#include "brain/lap_table.h"
#include "brain/solver.h"
#include "brain/track_model.h"
#include "data/circuit.h"
#include "rules/state.h"

enum class DriverLevel : uint8_t {
  kPro,   // the fastest lap it can find from wherever the car stands
  kClub,  // plans four rounds ahead, lifts off now and then, aims roughly, and crashes at times
};

class Driver {
 public:
  // The work a new plan may take (about 30 ms on the largest built-in circuit on an ordinary
  // machine); a move on a known plan takes microseconds.
  static constexpr size_t kPlanWork = 3'000'000;
  // The work of one of the game's slices of Think: well under the 50 ms a slice may take on the
  // largest circuits, since a slice stops at the first small step past it.
  static constexpr size_t kThinkSliceWork = 2'000'000;

  Driver() = default;
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Reads the circuit (tens of milliseconds on the largest built-in one). False when the circuit
  // has no grid or memory runs out; Move then answers the predicted point. Never throws.
  // Memory running short anywhere in the driver is caught, never thrown: the answer is then the
  // predicted point (or, for Think, nothing more to prepare), and outOfMemory says so from then on.
  bool Load(const TrackGrid& track) noexcept;
  bool loaded() const { return model_ != nullptr && model_->built(); }

  // The destination for the car of the record, strictly inside its reach. For kClub, `seed`
  // (the caller's, e.g. one per computer player and race) makes the roughness repeatable: the
  // same seed and car give the same move. Asked twice for the same car, the pro answers the same.
  // Works for a car in any state: at any speed, after crashes, with backward crossings to undo.
  // The pro's moves depend on its plans' work budget and on how much Think has prepared, never
  // on time. Never throws.
  GridPoint Move(const PlayerRecord& car, DriverLevel level, uint32_t seed = 0) noexcept;

  // Does `work` more of the preparation of the pro's lap from the standing start, with wider
  // searches than one move can afford, resuming where the last call stopped, even within a round
  // of the search; the game may call it while it waits for a player, on the title screen, or not
  // at all. Each lap it finds is the pro's from then on when it beats the one before. True once
  // there is nothing more to prepare. Never throws.
  bool Think(size_t work) noexcept;

  // Hands the driver a ready lap table of its circuit (null takes it back): from then on the pro,
  // and so the hint, makes the table's move for every car the table holds, a lap in the fewest
  // rounds, and the driver's foresight answers from its stop map. Cars it doesn't hold are driven
  // as before. The table must outlive its use here; Load drops it.
  void UseTable(const LapTable* table) noexcept;

  // A hint for a player: the move the pro would make.
  GridPoint Hint(const PlayerRecord& car) noexcept { return Move(car, DriverLevel::kPro); }

  // The circuit as the driver knows it; null before Load. A foresight may share it.
  const TrackModel* model() const { return model_.get(); }

  // True once memory ran short for the driver or its foresight.
  bool outOfMemory() const;

 private:
  struct PlanStep {
    CarState car;
    GridPoint move;
  };

  GridPoint ProMove(const CarState& car);
  GridPoint ClubMove(const CarState& car, const PlayerRecord& record, uint32_t seed);
  // Searches `rounds` ahead from the car with `width` cars a round, the same way every time;
  // the moves to the lap or to the furthest car reached, empty when there is no clean way on.
  std::vector<GridPoint> ShortPlan(const CarState& car, int width, int rounds);
  // A move that keeps the car alive when no plan has one: the furthest clean move that can still
  // stop, else any clean move, else the predicted point (a crash).
  GridPoint FallbackMove(const CarState& car);
  // Keeps the first `count` moves from the car, and the states they lead through.
  void Remember(const CarState& car, const std::vector<GridPoint>& moves, size_t count);
  const GridPoint* Known(const CarState& car) const;

  std::unique_ptr<TrackModel> model_;
  const LapTable* table_ = nullptr;
  std::unique_ptr<Foresight> foresight_;
  std::unique_ptr<Foresight> clubForesight_;
  std::unique_ptr<BeamSearch> live_;   // the pro's search while it has no lap yet
  std::unique_ptr<BeamSearch> ahead_;  // Think's search from the standing start
  int thinkStage_ = 0;                 // Think's searches done
  bool outOfMemory_ = false;
  uint32_t thoughtRounds_ = 0;  // the rounds of Think's best lap; 0 while there is none
  std::vector<PlanStep> plan_;  // states on remembered plans and their moves
  StateTable planIndex_;        // the same states, found by hashing; rounds holds nothing
};
