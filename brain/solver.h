// The quick lap search, for the computer drivers and for a first lap while the exact solver
// (brain/exact_solver.h) works.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "brain/state_table.h"
#include "brain/track_model.h"
#include "data/grid_point.h"

struct LapPlan {
  bool found = false;
  std::vector<GridPoint> moves;  // each move's destination in order, a crash's included
  uint32_t rounds = 0;           // what the moves cost: 1 a move, 3 for a crash
  // No lap from the car's state takes fewer rounds; TrackModel::kFar when none is possible.
  uint32_t lowerBound = 0;
  bool proven = false;  // found, and no lap takes fewer rounds
};

// A quick search for a good lap (not a proof): rounds by rounds, it keeps the `width` most
// promising car states that can still stop without crashing. The lap it returns is legal and
// usually a few rounds from the best. found is false when every state ran into a dead end.
LapPlan QuickLap(const TrackModel& model, const CarState& car, int width, const std::function<bool()>& stop = {});

class Foresight;

// The search behind QuickLap, resumable so that a driver can spread it over its turns. Round by
// round it keeps the `width` cars furthest along the track (a few of each velocity group, so
// that slow cars that can take the next corner survive beside fast ones), leaving out cars that
// the foresight finds doomed.
class BeamSearch {
 public:
  BeamSearch(const TrackModel& model, Foresight* foresight, int width);

  void Start(const CarState& car);
  // Searches round by round until a lap is found or no car is left; false when `stop`, asked
  // before each round, said so first, with the search ready to go on. Never throws.
  bool Run(const std::function<bool()>& stop) noexcept;
  // Searches on until a lap is found or no car is left, or until the search has done `work`
  // more, stopping at the first step past it (a car's moves looked at, or a candidate for the
  // next round judged), even in the middle of a round; false when the work ran out first. A
  // search run this way is not committed to. Never throws.
  bool RunFor(size_t work) noexcept;
  bool done() const { return done_; }
  int round() const { return round_; }
  // True when memory ran out: the search then ended where it stood.
  bool outOfMemory() const { return outOfMemory_; }
  // The work the search has done since it was made, in the foresight's units (a move considered, a
  // cell of a path tested): the same on any machine, so a budget of work gives the same search
  // everywhere.
  size_t work() const { return work_; }

  // The lap found; found is false while there is none.
  LapPlan Lap() const;
  // The moves from the committed car to the lap, or while there is none to the furthest car of
  // the latest round.
  std::vector<GridPoint> Leader() const;
  // Commits to the first move towards the leader: the search goes on only with the cars that
  // make it, and the moves from then on start after it. The move, or the car's own point when
  // there is nothing to commit to.
  GridPoint Commit();
  const CarState& committed() const { return nodes_[committed_].car; }

 private:
  struct Node {
    CarState car;
    uint32_t parent;
    uint16_t rounds;
  };
  struct BeamCandidate {
    uint32_t steps;  // cell steps still to go after the move
    uint32_t parent;
    GridPoint to;
    uint8_t crash;
  };

  // One step of a round: the moves of the next car of the layer, or the next round's cars picked
  // from the candidates, a few at a time.
  void Step();
  void Expand(uint32_t index);
  void BeginPicking();
  void Pick();
  bool BetweenRounds() const { return !picking_ && expandAt_ == 0; }
  std::vector<GridPoint> MovesTo(uint32_t last) const;
  bool Descends(uint32_t node, uint32_t from) const;

  const TrackModel& model_;
  Foresight* foresight_;
  int width_;
  std::vector<Node> nodes_;
  // Candidates by the round they arrive in, from the next one on; a crash arrives three later.
  std::vector<std::vector<BeamCandidate>> arriving_;
  std::vector<uint32_t> layer_;
  StateTable seen_;  // every state the beam has held
  size_t work_ = 0;
  // Where the round under way stands: the next car of layer_ to expand; then, picking, the
  // candidates in order, the next one to judge, the pass over them, and the cars picked so far.
  size_t expandAt_ = 0;
  bool picking_ = false;
  std::vector<BeamCandidate> candidates_;
  size_t candidateAt_ = 0;
  int pass_ = 0;
  std::vector<int> perGroup_;
  std::vector<int> ownGroup_;
  std::vector<uint32_t> picked_;
  int round_ = 0;
  uint32_t best_ = 0;
  uint32_t committed_ = 0;  // the car the moves start from
  uint32_t lapFrom_ = StateTable::kNone;
  GridPoint lapMove_;
  bool done_ = true;
  bool outOfMemory_ = false;
};
