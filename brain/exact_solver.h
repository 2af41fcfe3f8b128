// The exact lap solver: a breadth-first search by rounds over every car state, which proves the
// fewest rounds a lap can take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "brain/solver.h"
#include "brain/track_model.h"

struct ExactProgress {
  uint32_t layer = 0;  // rounds searched to their end
  size_t states = 0;   // car states reached
  size_t bytes = 0;    // memory the search holds
  size_t tiles = 0;    // tiles of 64 x 64 velocities made for the states reached (and crashes met)
  double seconds = 0;
  // Where the time went, summed over the threads (seconds): widening the sets of reached
  // velocities by the reach disc, and testing the new moves' paths and line crossings.
  double dilationSeconds = 0;
  double pathSeconds = 0;
  size_t pathTests = 0;
};

struct ExactLimits {
  double seconds = 60;
  size_t memoryBytes = size_t{1} << 30;
  int threads = 1;
  // Rounds searched on once the lap is found, so that the states a lap table would hold (those
  // first reached within the optimum and a margin) are counted and kept; the lap stays the one
  // found first. Its progress is reported like that of the rounds before.
  uint32_t roundsAfterLap = 0;
  std::function<bool()> stop;                          // polled now and then; true ends the search
  std::function<void(const ExactProgress&)> progress;  // called after every round searched
};

// Why the search ended.
enum class ExactEnd : uint8_t {
  kLap,      // the optimum was found, and proven
  kNoLap,    // every reachable state was searched and none completes a lap
  kTime,     // out of time
  kMemory,   // out of memory
  kStopped,  // the stop callback said so
  kLimits,   // a car went faster, or crossed backwards more often, than the search can hold
};

// Receives the states of a lap table, each with its exact rounds to the lap.
using ExactTableKeeper = std::function<void(const CarState& car, int rounds)>;

struct ExactLap {
  ExactEnd end = ExactEnd::kNoLap;
  // With kLap: the optimal lap, found and proven, its moves as LapPlan gives them. Otherwise
  // found is false and lowerBound is a true bound: no lap takes fewer rounds (TrackModel::kFar
  // with kNoLap).
  LapPlan plan;
  ExactProgress effort;
  // With a keeper: every state of the table was handed to it.
  bool table = false;
};

// Searches every state the car can reach, round by round, until a clean move completes a lap.
// A state is the car's position, its velocity and its backward crossings still to undo; a crash
// is a move of three rounds to the car standing where it was. For each position, the velocities
// reached there are widened by the reach disc a whole row of 64 velocities at a time, and only
// moves that reach a state for the first time are tested against the walls and the line.
//
// Never throws: when memory runs out the search ends with the bound it has proven.
ExactLap SolveExact(const TrackModel& model, const CarState& car, const ExactLimits& limits);

// The same search, then the lap table of the states it searched: the rounds to the lap of every
// state that lies on a way from `car` to the lap of at most the optimum plus
// `limits.roundsAfterLap` rounds, crashes counted. Those rounds are exact, since every state such a
// way passes was searched, and every state a fastest way from such a state passes is one of them
// too. They are found backwards from the moves that complete the lap, the states one round further
// off being the reached ones among the nearer states' moves widened by the reach disc; a state is
// handed to `keep` once, in order of its rounds, on the calling thread. Other states are not
// handed over: their rounds within the search may not be their fewest.
ExactLap SolveExactTable(const TrackModel& model, const CarState& car, const ExactLimits& limits,
                         const ExactTableKeeper& keep);
