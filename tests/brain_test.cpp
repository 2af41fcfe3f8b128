// The racing brain against the game's own rules: every move's outcome against the rules' judgement,
// the solver's laps against an exhaustive search on circuits small enough for one, the computer
// drivers' races replayed through the rules, and foresight against an exhaustive search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "brain/driver.h"
#include "brain/exact_solver.h"
#include "brain/foresight.h"
#include "brain/lap_table.h"
#include "brain/solver.h"
#include "brain/stop_map.h"
#include "brain/track_model.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "platform/folders.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tests/support.h"

namespace {

// A circuit loaded the way the game loads it, with its model.
struct Loaded {
  TempFolder folder;
  std::unique_ptr<GameState> state = std::make_unique<GameState>();
  TrackModel model;

  explicit Loaded(const TestCircuit& circuit) {
    WriteBytes(folder.HostFile("c.cct"), circuit.Encode());
    EXPECT_EQ(LoadCircuit(state->track, folder.File("c.cct")), 0);
    EXPECT_TRUE(model.Build(state->track));
  }
};

// The current player's move as the rules judge and apply it: the state changes as in a race, and
// no lap is ever saved into the circuit file. 0, or 1 when the move doesn't fit.
int Apply(GameState& s, GridPoint to) { return ApplyMove(s, to, JudgeMove(s, to)); }

// A player record whose car stands at `at` having come from `from`.
void Place(PlayerRecord& car, GridPoint from, GridPoint at, int reverseCrossings) {
  car.trail[0] = car.trail[1] = from;
  car.trail[2] = at;
  car.lastIndex = 2;
  car.waitTurns = 0;
  car.laps = 0;
  car.reverseCrossings = static_cast<int16_t>(reverseCrossings);
}

// Drives the moves through the rules for one car from its standing start; returns the
// rounds the game counted when the car's first lap was complete, or -1 when a move was out of
// reach or no lap was counted.
int Replay(GameState& s, const std::vector<GridPoint>& moves) {
  SetStartValues(s);
  s.playerCount = 1;
  PlayerRecord& car = s.players[0];
  for (GridPoint to : moves) {
    const GridPoint p = PredictedPoint(car);
    if (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), kMoveRadius)) return -1;
    if (car.laps != 0 || Apply(s, to) != 0) return -1;
    NextTurn(s);
  }
  return car.laps == 1 ? car.lastIndex - 2 : -1;
}

// Drives the moves through the game's commit for one car from the given state; returns the
// rounds the game counted when the car's first lap was complete, or -1 when a move was out of
// reach or no lap was counted.
int ReplayFrom(GameState& s, const CarState& start, const std::vector<GridPoint>& moves) {
  SetStartValues(s);
  s.playerCount = 1;
  PlayerRecord& car = s.players[0];
  Place(car, Pt(start.at.x - start.velocity.x, start.at.y - start.velocity.y), start.at, start.reverseCrossings);
  for (GridPoint to : moves) {
    const GridPoint p = PredictedPoint(car);
    if (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), kMoveRadius)) return -1;
    if (car.laps != 0 || ApplyMove(s, to, JudgeMove(s, to)) != 0) return -1;
    NextTurn(s);
  }
  return car.laps == 1 ? car.lastIndex - 2 : -1;
}

// ---- The game's own answer ----------------------------------------------------------------------

// What the rules make of one move of the car: where it stands after, and whether it crashed
// or completed a lap. Uses player 0 of the state.
struct Committed {
  CarState car;
  bool crashed = false;
  bool lap = false;
};

Committed CommitOne(GameState& s, const CarState& car, GridPoint to) {
  s.currentPlayer = 0;
  s.round = 0;
  PlayerRecord& p = s.players[0];
  Place(p, GridPoint{static_cast<int16_t>(car.at.x - car.velocity.x), static_cast<int16_t>(car.at.y - car.velocity.y)},
        car.at, car.reverseCrossings);
  EXPECT_EQ(Apply(s, to), 0);
  Committed after;
  after.car = CarOf(p);
  after.crashed = p.waitTurns == 2;
  after.lap = p.laps == 1;
  return after;
}

std::vector<GridPoint> ReachOffsets() {
  std::vector<GridPoint> offsets;
  for (int y = -kMoveRadius; y <= kMoveRadius; ++y) {
    for (int x = -kMoveRadius; x <= kMoveRadius; ++x) {
      if (IsWithinReach(static_cast<int16_t>(x), static_cast<int16_t>(y), kMoveRadius)) offsets.push_back(Pt(x, y));
    }
  }
  return offsets;
}

// ---- Exhaustive searches ------------------------------------------------------------------------

// The fewest rounds to a lap from the car, by uniform-cost search over every state, each move
// committed by the game itself and a crash the one successor it is. States with more than two
// backward crossings are left out: no lap on these circuits needs one.
int ExhaustiveOptimum(GameState& s, const CarState& start) {
  const std::vector<GridPoint> reach = ReachOffsets();
  const TrackGrid& track = s.track;
  auto pack = [](const CarState& c) {
    return (static_cast<uint64_t>(static_cast<uint16_t>(c.at.x)) << 48) |
           (static_cast<uint64_t>(static_cast<uint16_t>(c.at.y)) << 32) |
           (static_cast<uint64_t>(static_cast<uint8_t>(c.velocity.x)) << 24) |
           (static_cast<uint64_t>(static_cast<uint8_t>(c.velocity.y)) << 16) |
           static_cast<uint16_t>(c.reverseCrossings);
  };
  std::unordered_map<uint64_t, int> best{{pack(start), 0}};
  best.reserve(1 << 20);
  std::vector<std::vector<CarState>> open(1, {start});
  for (size_t g = 0; g < open.size(); ++g) {
    for (size_t i = 0; i < open[g].size(); ++i) {
      const CarState car = open[g][i];
      if (best[pack(car)] != static_cast<int>(g)) continue;
      auto offer = [&](const CarState& next, size_t rounds) {
        if (next.reverseCrossings > 2) return;
        auto [it, fresh] = best.emplace(pack(next), static_cast<int>(rounds));
        if (!fresh && it->second <= static_cast<int>(rounds)) return;
        it->second = static_cast<int>(rounds);
        if (open.size() <= rounds) open.resize(rounds + 1);
        open[rounds].push_back(next);
      };
      // Every crash leaves the same car behind, so the game need commit only one of them; a
      // clean move that stays on one side of the line only moves the car.
      bool crashCommitted = false;
      const GridPoint c = Predicted(car);
      const int side = SideOfLine(track.finishLineA, track.finishLineB, car.at);
      for (GridPoint o : reach) {
        const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
        const bool crash = IsPathBlocked(track, car.at.x, car.at.y, d.x, d.y);
        if (crash && crashCommitted) continue;
        crashCommitted = crashCommitted || crash;
        if (!crash && SideOfLine(track.finishLineA, track.finishLineB, d) == side) {
          offer(CarState{d, Pt(d.x - car.at.x, d.y - car.at.y), car.reverseCrossings}, g + 1);
          continue;
        }
        const Committed after = CommitOne(s, car, d);
        if (after.lap) return static_cast<int>(g) + 1;
        offer(after.car, g + (after.crashed ? 3 : 1));
      }
    }
  }
  return -1;
}

// Whether the car can come to rest by clean moves, searching everything it can reach.
bool ExhaustivelyDoomed(const TrackModel& model, const TrackGrid& track, const CarState& start) {
  std::set<std::pair<std::pair<int, int>, std::pair<int, int>>> seen;
  std::vector<CarState> stack{start};
  while (!stack.empty()) {
    const CarState car = stack.back();
    stack.pop_back();
    if (IsWithinReach(car.velocity.x, car.velocity.y, kMoveRadius)) return false;
    if (!seen.insert({{car.at.x, car.at.y}, {car.velocity.x, car.velocity.y}}).second) continue;
    const GridPoint c = Predicted(car);
    for (GridPoint o : model.Reach()) {
      const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
      if (!IsPathBlocked(track, car.at.x, car.at.y, d.x, d.y)) stack.push_back(After(car, d, MoveOutcome::kClean));
    }
  }
  return true;
}

// A ring with a hairpin: a wall up from the island leaves a gap two cells high into the
// right-hand lane.
TestCircuit Hairpin() {
  TestCircuit hairpin = WalledRing(24, 19, 4);
  hairpin.BlockRect(17, 5, 19, 12);
  return hairpin;
}

}  // namespace

// ---- Moves -----------------------------------------------------------------------------------------

TEST(BrainMoves, EveryDestinationInReachHasTheOutcomeTheCommitGives) {
  Loaded ring(SmallRing());
  const TrackModel& m = ring.model;
  EXPECT_EQ(m.Reach(), ReachOffsets());
  EXPECT_EQ(m.maxAxisChange(), 19);

  const struct Case {
    const char* what;
    GridPoint from, at;
    int reverseCrossings;
    MoveOutcome among;  // one of the outcomes its moves must have
  } cases[] = {
      {"standing on the start", Pt(31, 8), Pt(31, 8), 0, MoveOutcome::kBackward},
      {"fast towards the outer wall", Pt(40, 20), Pt(52, 8), 0, MoveOutcome::kCrash},
      {"just past the line, going back over it", Pt(36, 8), Pt(32, 6), 0, MoveOutcome::kBackward},
      {"behind the line, going forward over it", Pt(20, 9), Pt(26, 9), 0, MoveOutcome::kLap},
      {"the same with a backward crossing to undo", Pt(20, 9), Pt(26, 9), 1, MoveOutcome::kUndo},
      {"the same with two", Pt(20, 9), Pt(26, 9), 2, MoveOutcome::kUndo},
      {"on the line's extension through the island", Pt(24, 20), Pt(28, 20), 0, MoveOutcome::kCrash},
      {"aimed off the grid", Pt(50, 30), Pt(57, 37), 0, MoveOutcome::kCrash},
      {"at speed across the corner", Pt(8, 30), Pt(30, 36), 0, MoveOutcome::kClean},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CarState car;
    car.at = c.at;
    car.velocity = Pt(c.at.x - c.from.x, c.at.y - c.from.y);
    car.reverseCrossings = static_cast<int16_t>(c.reverseCrossings);
    const GridPoint p = Predicted(car);
    std::set<int> seen;
    for (GridPoint o : m.Reach()) {
      const GridPoint d = Pt(p.x + o.x, p.y + o.y);
      const MoveOutcome outcome = m.Outcome(car.at, d, car.reverseCrossings);
      const Committed game = CommitOne(*ring.state, car, d);
      ASSERT_EQ(m.PathBlocked(car.at, d), IsPathBlocked(ring.state->track, car.at.x, car.at.y, d.x, d.y));
      ASSERT_EQ(outcome == MoveOutcome::kCrash, game.crashed) << d.x << "," << d.y;
      ASSERT_EQ(outcome == MoveOutcome::kLap, game.lap) << d.x << "," << d.y;
      ASSERT_EQ(After(car, d, outcome), game.car) << d.x << "," << d.y;
      seen.insert(static_cast<int>(outcome));
    }
    EXPECT_EQ(seen.count(static_cast<int>(c.among)), 1u);
  }

  // The quick path test against the game's on segments of every slope, off the grid too.
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(-30, 90);
  for (int i = 0; i < 20000; ++i) {
    const GridPoint a = Pt(coordinate(random), coordinate(random) / 2);
    const GridPoint b = Pt(coordinate(random), coordinate(random) / 2);
    ASSERT_EQ(m.PathBlocked(a, b), IsPathBlocked(ring.state->track, a.x, a.y, b.x, b.y))
        << a.x << "," << a.y << " to " << b.x << "," << b.y;
  }
}

// ---- The solver ------------------------------------------------------------------------------------

TEST(BrainSolver, ProvesTheOptimumAnExhaustiveSearchFinds) {
  const TestCircuit hairpin = Hairpin();
  // Chicane: two walls half across the bottom straight, one from either side.
  TestCircuit chicane = WalledRing(26, 19, 4);
  chicane.BlockRect(9, 12, 11, 14);
  chicane.BlockRect(15, 14, 17, 16);
  const struct Case {
    const char* what;
    TestCircuit circuit;
  } cases[] = {
      {"a long ring", WalledRing(44, 19, 4)},
      {"a hairpin", hairpin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Loaded loaded(c.circuit);
    const CarState start{c.circuit.start, {}, 0};
    const int optimum = ExhaustiveOptimum(*loaded.state, start);
    ASSERT_GT(optimum, 0);

    const ExactLap exact = SolveExact(loaded.model, start, ExactLimits{});
    ASSERT_EQ(exact.end, ExactEnd::kLap);
    EXPECT_TRUE(exact.plan.proven);
    EXPECT_EQ(static_cast<int>(exact.plan.rounds), optimum);
    EXPECT_EQ(Replay(*loaded.state, exact.plan.moves), optimum);

    // The quick search finds a legal lap, never better than the optimum.
    const LapPlan quick = QuickLap(loaded.model, start, 16);
    ASSERT_TRUE(quick.found);
    EXPECT_EQ(Replay(*loaded.state, quick.moves), static_cast<int>(quick.rounds));
    EXPECT_GE(static_cast<int>(quick.rounds), optimum);
    // The same search stopped after every small step of work, inside its rounds too, and resumed
    // finds the same lap.
    Foresight foresight(loaded.model);
    BeamSearch sliced(loaded.model, &foresight, 16);
    sliced.Start(start);
    int slices = 1;
    while (!sliced.RunFor(500)) ++slices;
    EXPECT_GT(slices, 10);
    EXPECT_EQ(sliced.Lap().moves, quick.moves);
  }
}

TEST(BrainSolver, TheExactSearchAgreesWithAnExhaustiveOneOnRandomCircuits) {
  // Small rings with obstacles in the lane, some beside the line, slanted lines, and cars
  // placed anywhere: fast towards a wall, or so fast backwards that they must cross the line
  // the wrong way first. Each circuit's optimum from each car is the exhaustive search's, and
  // the lap replays through the commit to the rounds claimed.
  std::mt19937 random(11);
#ifdef APEXGRID_SANITIZED
  const int circuits = 2;  // the exhaustive search is too slow for more in the sanitizers' build
#else
  const int circuits = 6;
#endif
  for (int circuit = 0; circuit < circuits; ++circuit) {
    const int lane = 4 + circuit % 2;
    const int width = std::uniform_int_distribution<int>(22, 32)(random);
    const int height = 11 + 2 * lane + std::uniform_int_distribution<int>(0, 4)(random);
    TestCircuit c = WalledRing(width, height, lane);
    const int lineX = width / 2;
    const int slant = circuit % 3 == 2 ? std::uniform_int_distribution<int>(-2, 2)(random) : 0;
    c.lineA = Pt(lineX - slant, 0);
    c.lineB = Pt(lineX + slant, 3 + lane + 2);
    c.start = Pt(lineX + 3, 3 + lane / 2);
    c.ahead = Pt(lineX + 5, 3 + lane / 2);
    const int obstacles = std::uniform_int_distribution<int>(0, 3)(random);
    for (int i = 0; i < obstacles; ++i) {
      int x = std::uniform_int_distribution<int>(3, width - 6)(random);
      const int y = std::uniform_int_distribution<int>(3, height - 6)(random);
      if (i == 0 && circuit % 2 == 1) x = lineX - 3;  // just behind the line
      if (std::abs(x - c.start.x) < 3 && std::abs(y - c.start.y) < 3) continue;
      c.BlockRect(x, y, x + 2, y + 2);
    }
    Loaded loaded(c);
    std::vector<CarState> cars{CarState{c.start, {}, 0}};
    std::uniform_int_distribution<int> px(3, width - 4), py(3, height - 4), v(-22, 22);
    while (cars.size() < 2) {
      const CarState car{Pt(px(random), py(random)), Pt(v(random), v(random)), 0};
      if (!loaded.model.Blocked(car.at.x, car.at.y)) cars.push_back(car);
    }
    // Fast backwards over the line along the top straight.
    cars.push_back(CarState{Pt(lineX + 4, 3 + lane / 2), Pt(-30, 0), 0});
    cars.push_back(CarState{Pt(lineX - 4, 3 + lane / 2), Pt(-3, 0), 1});
    for (size_t i = 0; i < cars.size(); ++i) {
      const CarState& car = cars[i];
      SCOPED_TRACE("circuit " + std::to_string(circuit) + ", car at " + std::to_string(car.at.x) + "," +
                   std::to_string(car.at.y) + " moving " + std::to_string(car.velocity.x) + "," +
                   std::to_string(car.velocity.y) + " with " + std::to_string(car.reverseCrossings) + " back");
      const int optimum = ExhaustiveOptimum(*loaded.state, car);
      ExactLimits limits;
      limits.threads = 1 + static_cast<int>(i % 2);
      const ExactLap exact = SolveExact(loaded.model, car, limits);
      if (optimum < 0) {
        EXPECT_EQ(exact.end, ExactEnd::kNoLap);
        EXPECT_FALSE(exact.plan.found);
        continue;
      }
      ASSERT_EQ(exact.end, ExactEnd::kLap);
      ASSERT_TRUE(exact.plan.found && exact.plan.proven);
      EXPECT_EQ(static_cast<int>(exact.plan.rounds), optimum);
      EXPECT_EQ(ReplayFrom(*loaded.state, car, exact.plan.moves), optimum);
      // Searching on after the lap finds more states and keeps an optimal lap.
      ExactLimits onward = limits;
      onward.roundsAfterLap = 3;
      const ExactLap on = SolveExact(loaded.model, car, onward);
      ASSERT_EQ(on.end, ExactEnd::kLap);
      EXPECT_EQ(ReplayFrom(*loaded.state, car, on.plan.moves), optimum);
      EXPECT_GT(on.effort.states, exact.effort.states);

      // Out of memory, or told to stop, it proves only what it searched: a bound, never above
      // the optimum.
      ExactLimits tight;
      tight.memoryBytes = 1;
      ExactLimits stopped;
      stopped.stop = [] { return true; };
      for (const ExactLimits* l : {&tight, &stopped}) {
        const ExactLap bounded = SolveExact(loaded.model, car, *l);
        if (bounded.end == ExactEnd::kLap) {
          EXPECT_EQ(static_cast<int>(bounded.plan.rounds), optimum);
        } else {
          EXPECT_EQ(bounded.end, l == &tight ? ExactEnd::kMemory : ExactEnd::kStopped);
          EXPECT_FALSE(bounded.plan.found);
          EXPECT_LE(static_cast<int>(bounded.plan.lowerBound), optimum);
        }
      }
    }
  }
}

TEST(BrainSolver, StepsLeadTheLongWayRoundAndTheQuickLapCrossesTheLineOnlyAtItsEnd) {
  // The line crosses the ring's top straight at x = 30 and cars race clockwise; these start two
  // cells further past it.
  TestCircuit ring = SmallRing();
  ring.start = {33, 8};
  Loaded loaded(ring);
  const TrackModel& m = loaded.model;
  EXPECT_EQ(m.StepsToGo(1, 0, 0), TrackModel::kFar) << "in the wall";
  EXPECT_LE(m.StepsToGo(1, 29, 8), 1u) << "just behind the line";
  // Just past the line the way is the whole lap: round the right side, the bottom, the left.
  EXPECT_GT(m.StepsToGo(1, 31, 8), 60u);
  EXPECT_GT(m.StepsToGo(1, 31, 8), m.StepsToGo(1, 52, 20));
  EXPECT_GT(m.StepsToGo(1, 52, 20), m.StepsToGo(1, 30, 32));
  EXPECT_GT(m.StepsToGo(1, 30, 32), m.StepsToGo(1, 8, 20));
  EXPECT_GT(m.StepsToGo(1, 8, 20), m.StepsToGo(1, 20, 8));

  const LapPlan lap = QuickLap(m, CarState{ring.start, {}, 0}, 16);
  ASSERT_TRUE(lap.found);
  GridPoint from = ring.start;
  for (size_t i = 0; i < lap.moves.size(); ++i) {
    const GridPoint to = lap.moves[i];
    const bool crosses = SideOfLine(ring.lineA, ring.lineB, from) != SideOfLine(ring.lineA, ring.lineB, to) &&
                         SideOfLine(from, to, ring.lineA) != SideOfLine(from, to, ring.lineB);
    EXPECT_EQ(crosses, i + 1 == lap.moves.size()) << "move " << i;
    from = to;
  }
}

// ---- The computer drivers ------------------------------------------------------------------------

TEST(BrainDrivers, RaceWithMovesInReachFromAnyStateAndTheProBeatsTheClub) {
  TestCircuit chicane = WalledRing(30, 19, 4);
  chicane.BlockRect(10, 12, 12, 14);
  chicane.BlockRect(18, 14, 20, 16);
  Loaded loaded(chicane);
  GameState& s = *loaded.state;
  const int optimum =
      static_cast<int>(SolveExact(loaded.model, CarState{chicane.start, {}, 0}, ExactLimits{}).plan.rounds);
  Driver driver;
  ASSERT_TRUE(driver.Load(s.track));
  // A second driver asked the same questions in the same order gives the same answers, whatever
  // the machine is doing meanwhile: its budgets are work, not time.
  Driver twin;
  ASSERT_TRUE(twin.Load(s.track));

  // From the standing start, and from cars placed oddly: stopped against a wall after a crash,
  // having crossed the line backwards, fast into a corner.
  const struct Start {
    const char* what;
    GridPoint from, at;
    int reverseCrossings;
  } starts[] = {
      {"standing start", chicane.start, chicane.start, 0},
      {"stopped in the corner", Pt(25, 14), Pt(25, 14), 0},
      {"back over the line", Pt(16, 5), Pt(12, 5), 1},
      {"fast into the corner", Pt(12, 4), Pt(23, 5), 0},
  };
  for (const Start& start : starts) {
    for (DriverLevel level : {DriverLevel::kPro, DriverLevel::kClub}) {
      int total = 0;
      const int seeds = level == DriverLevel::kPro ? 1 : 4;
      for (int seed = 0; seed < seeds; ++seed) {
        SCOPED_TRACE(std::string(start.what) + (level == DriverLevel::kPro ? ", pro" : ", club") + " seed " +
                     std::to_string(seed));
        SetStartValues(s);
        s.playerCount = 1;
        PlayerRecord& car = s.players[0];
        Place(car, start.from, start.at, start.reverseCrossings);
        while (car.laps == 0 && s.round < 200) {
          const GridPoint to = driver.Move(car, level, static_cast<uint32_t>(seed));
          const GridPoint p = PredictedPoint(car);
          ASSERT_TRUE(IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), kMoveRadius));
          // The same question gives the same answer.
          ASSERT_EQ(driver.Move(car, level, static_cast<uint32_t>(seed)), to);
          ASSERT_EQ(twin.Move(car, level, static_cast<uint32_t>(seed)), to);
          const int16_t waited = car.waitTurns;
          ASSERT_EQ(Apply(s, to), 0);
          if (level == DriverLevel::kPro) {
            EXPECT_EQ(car.waitTurns, waited) << "the pro crashed";
          }
          NextTurn(s);
        }
        ASSERT_EQ(car.laps, 1);
        total += s.round;
      }
      if (start.what == starts[0].what) {
        if (level == DriverLevel::kPro) {
          EXPECT_LE(total, optimum + 1);
        } else {
          EXPECT_GT(total, seeds * (optimum + 1)) << "the club driver should be beatable";
        }
      }
    }
  }
}

// ---- Foresight -----------------------------------------------------------------------------------

TEST(BrainForesight, AgreesWithAnExhaustiveSearchAndWarnsOnlyWhenCertain) {
  const TestCircuit hairpin = Hairpin();
  Loaded loaded(hairpin);
  Foresight thorough(loaded.model, size_t{1} << 40);
  Foresight quick(loaded.model, 2000);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> x(3, 20), y(3, 15), v(-26, 26);
  int doomed = 0, free = 0;
  for (int i = 0; i < 600; ++i) {
    CarState car;
    car.at = Pt(x(random), y(random));
    car.velocity = Pt(v(random), v(random));
    if (loaded.model.Blocked(car.at.x, car.at.y)) continue;
    const bool expected = ExhaustivelyDoomed(loaded.model, loaded.state->track, car);
    ASSERT_EQ(thorough.Doomed(car), expected)
        << car.at.x << "," << car.at.y << " at " << car.velocity.x << "," << car.velocity.y;
    if (quick.Doomed(car)) {
      EXPECT_TRUE(expected);
    }
    (expected ? doomed : free) += 1;
  }
  EXPECT_GT(doomed, 20);
  EXPECT_GT(free, 20);

  // For a record on the small ring, fast along the top straight: a clean move that leaves no
  // way to stop before the wall is a warning; a clean one that slows down, a crash, or a move
  // out of reach is not.
  Loaded ring(SmallRing());
  Foresight foresight(ring.model);
  PlayerRecord& car = ring.state->players[0];
  Place(car, Pt(5, 8), Pt(30, 8), 0);
  const struct Move {
    GridPoint to;
    bool warns;
  } moves[] = {{Pt(57, 8), true}, {Pt(56, 12), true}, {Pt(40, 10), false}, {Pt(55, 1), false}, {Pt(80, 8), false}};
  for (const Move& m : moves) {
    EXPECT_EQ(foresight.MoveDooms(car, m.to), m.warns) << m.to.x << "," << m.to.y;
    if (m.warns) {
      EXPECT_TRUE(ExhaustivelyDoomed(ring.model, ring.state->track, CarState{m.to, Pt(m.to.x - 30, m.to.y - 8), 0}));
    }
  }
}

// ---- The lap table -------------------------------------------------------------------------------

TEST(BrainLapTable, AgreesWithExhaustiveSearchesRacesOptimalLapsAndRefusesADamagedFile) {
  const TestCircuit hairpin = Hairpin();
  TestCircuit slanted = WalledRing(25, 20, 5);
  slanted.lineA = Pt(11, 0);
  slanted.lineB = Pt(13, 10);
  slanted.start = Pt(15, 5);
  slanted.ahead = Pt(17, 5);
  const struct Case {
    const char* what;
    TestCircuit circuit;
  } cases[] = {
      {"a long ring", WalledRing(44, 19, 4)},
      {"a hairpin", hairpin},
      {"a slanted line", slanted},
  };
  // The sanitizers' build looks for faults of memory, not of answers, and runs the exhaustive
  // searches tens of times slower: it checks one circuit, and a few cars of it.
#ifdef APEXGRID_SANITIZED
  constexpr bool kEvery = false;
#else
  constexpr bool kEvery = true;
#endif
  int optima = 4, fates = 40;
  auto exhaustiveOptimum = [&] { return kEvery || optima-- > 0; };
  auto exhaustiveFate = [&] { return kEvery || fates-- > 0; };
  std::mt19937 random(5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!kEvery && &c != &cases[0]) continue;
    Loaded loaded(c.circuit);
    GameState& s = *loaded.state;
    LapTable table;
    table.Begin(loaded.model);
    ASSERT_TRUE(table.BuildAll(2));
    const CarState start{c.circuit.start, {}, 0};
    const int optimum = static_cast<int>(SolveExact(loaded.model, start, ExactLimits{}).plan.rounds);
    EXPECT_EQ(table.Rounds(start), optimum);

    // Its stop map: a car placed anywhere that the map tells about can or can't stop as the
    // exhaustive search finds.
    ASSERT_FALSE(table.stops().empty());
    {
      std::uniform_int_distribution<int> x(0, loaded.model.width() - 1), y(0, loaded.model.height() - 1), v(-40, 40);
      int told[2] = {};  // can stop, doomed
      for (int i = 0; i < 400; ++i) {
        const CarState car{Pt(x(random), y(random)), Pt(v(random), v(random)), 0};
        const int stops = table.CanStop(car);
        if (loaded.model.Blocked(car.at.x, car.at.y) || stops < 0 || !exhaustiveFate()) continue;
        const bool doomed = ExhaustivelyDoomed(loaded.model, s.track, car);
        ASSERT_EQ(stops == 0, doomed) << car.at.x << "," << car.at.y << " at " << car.velocity.x << ","
                                      << car.velocity.y;
        ++told[doomed ? 1 : 0];
      }
      EXPECT_GE(told[0], kEvery ? 10 : 1);
      EXPECT_GE(told[1], kEvery ? 10 : 1);
    }

    // The table's pro from the standing start: every lap in the rounds the table gave for the car
    // as it crossed the line, the first in the optimum. Each car on the way, and the car one
    // random move off it (a crash as often as not), has the exhaustive search's rounds wherever
    // the table holds it.
    Loaded probe(c.circuit);  // the exhaustive search commits its moves in a state of its own
    const std::vector<GridPoint>& reach = loaded.model.Reach();
    Driver pro;
    ASSERT_TRUE(pro.Load(s.track));
    pro.UseTable(&table);
    SetStartValues(s);
    s.playerCount = 1;
    PlayerRecord& car = s.players[0];
    int lapStart = 0, expected = optimum, checked = 0, crashes = 0, offTheWay = 0;
    std::vector<CarState> raced;
    for (int lap = 1; lap <= 3; ++lap) {
      while (car.laps < lap && s.round < 200) {
        const CarState now = CarOf(car);
        raced.push_back(now);
        if (lap == 1 || s.round % 3 == 0) {
          const GridPoint p = PredictedPoint(car);
          const GridPoint o = reach[random() % reach.size()];
          const GridPoint aim = Pt(p.x + o.x, p.y + o.y);
          const bool crash = loaded.model.PathBlocked(now.at, aim);
          const CarState off =
              crash ? CarState{now.at, {}, now.reverseCrossings}
                    : After(now, aim, loaded.model.CleanOutcome(now.at, aim, now.reverseCrossings));
          for (const bool onTheWay : {true, false}) {
            const CarState probed = onTheWay ? now : off;
            const int rounds = table.Rounds(probed);
            if (onTheWay) {
              ASSERT_GT(rounds, 0) << "the table holds every car of its pro's laps";
            } else if (rounds < 0 || off.reverseCrossings > 2) {
              continue;
            }
            if (!exhaustiveOptimum()) continue;
            ASSERT_EQ(rounds, ExhaustiveOptimum(*probe.state, probed))
                << probed.at.x << "," << probed.at.y << " at " << probed.velocity.x << "," << probed.velocity.y;
            ++checked;
            crashes += !onTheWay && crash ? 1 : 0;
            offTheWay += onTheWay ? 0 : 1;
          }
        }
        const GridPoint to = pro.Move(car, DriverLevel::kPro);
        ASSERT_EQ(Apply(s, to), 0);
        NextTurn(s);
      }
      ASSERT_EQ(car.laps, lap);
      EXPECT_EQ(s.round - lapStart, expected) << "lap " << lap;
      lapStart = s.round;
      expected = table.Rounds(CarOf(car));
      ASSERT_GT(expected, 0);
      EXPECT_LE(expected, optimum);
    }
    if (kEvery) {
      EXPECT_GE(crashes, 1);
      EXPECT_GE(offTheWay, 3);
      EXPECT_GE(checked, 2 * optimum);
    }

    // Foresight with the table, on every clean aim of the pro's race: a car the map tells about is
    // judged without a search, however small the budget, as the exhaustive search judges it (one
    // aim in eight of those checked against it).
    {
      Foresight foresight(loaded.model, 1);
      foresight.UseTable(&table);
      int told = 0, doomed = 0;
      for (const CarState& now : raced) {
        const GridPoint p = Predicted(now);
        for (GridPoint o : reach) {
          const GridPoint aim = Pt(p.x + o.x, p.y + o.y);
          if (loaded.model.PathBlocked(now.at, aim)) continue;
          const CarState after = After(now, aim, MoveOutcome::kClean);
          const int stops = table.CanStop(after);
          const Foresight::Fate fate = foresight.Judge(after, 1);
          if (stops < 0) continue;
          ASSERT_NE(fate, Foresight::Fate::kUnknown);
          ASSERT_EQ(fate == Foresight::Fate::kDoomed, stops == 0);
          if (++told % 8 == 0 && exhaustiveFate()) {
            ASSERT_EQ(fate == Foresight::Fate::kDoomed, ExhaustivelyDoomed(loaded.model, s.track, after))
                << after.at.x << "," << after.at.y << " at " << after.velocity.x << "," << after.velocity.y;
          }
          doomed += stops == 0 ? 1 : 0;
        }
      }
      EXPECT_GE(told, 100);
      if (&c == &cases[0]) {
        EXPECT_GE(doomed, 10);
      }
    }

    // Ways of many more rounds than the fastest hold cars whose fastest way is a crash: three
    // rounds more than the car standing where it is. Some of them, against the exhaustive search.
    if (&c == &cases[0]) {
      std::map<std::tuple<int, int, int, int, int>, int> handed;
      ExactLimits far;
      far.roundsAfterLap = 12;
      ASSERT_TRUE(SolveExactTable(loaded.model, start, far, [&](const CarState& h, int rounds) {
                    handed[{h.at.x, h.at.y, h.velocity.x, h.velocity.y, h.reverseCrossings}] = rounds;
                  }).table);
      // The nearest to the lap, whose exhaustive searches are the shortest.
      std::vector<std::pair<int, std::tuple<int, int, int, int, int>>> crashFirst;
      for (const auto& [key, rounds] : handed) {
        const auto [x, y, vx, vy, crossings] = key;
        const auto standing = handed.find({x, y, 0, 0, crossings});
        if (crossings <= 2 && standing != handed.end() && standing->second + 3 == rounds && (vx != 0 || vy != 0))
          crashFirst.emplace_back(rounds, key);
      }
      std::sort(crashFirst.begin(), crashFirst.end());
      crashFirst.resize(std::min<size_t>(crashFirst.size(), kEvery ? 4 : 1));
      for (const auto& [rounds, key] : crashFirst) {
        const auto [x, y, vx, vy, crossings] = key;
        const CarState h{Pt(x, y), Pt(vx, vy), static_cast<int16_t>(crossings)};
        ASSERT_EQ(rounds, ExhaustiveOptimum(*probe.state, h)) << x << "," << y << " at " << vx << "," << vy;
      }
      EXPECT_EQ(crashFirst.size(), kEvery ? 4u : 1u);
    }

    // The file: read back, the same answers; another circuit's, a short one or a damaged one is
    // refused and leaves the table as it was.
    const std::string file = loaded.folder.HostFile(LapTable::FileName(loaded.model));
    ASSERT_TRUE(table.Save(file));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Loaded other(SmallRing());
    const struct Damage {
      const char* what;
      size_t keep;  // bytes kept
      size_t flip;  // a byte flipped, or npos
      bool otherCircuit;
      bool loads;
    } damages[] = {
        {"whole", bytes.size(), std::string::npos, false, true},
        {"cut short", bytes.size() - 9, std::string::npos, false, false},
        {"header only", 40, std::string::npos, false, false},
        {"a window's byte flipped", bytes.size(), 48 + (bytes.size() - 48 - table.stops().words().size() * 8) / 2,
         false, false},
        {"a stop map's byte flipped", bytes.size(), bytes.size() - 100, false, false},
        {"the count of windows flipped", bytes.size(), 33, false, false},
        {"another circuit's", bytes.size(), std::string::npos, true, false},
    };
    for (const Damage& d : damages) {
      SCOPED_TRACE(d.what);
      std::string damaged = bytes.substr(0, d.keep);
      if (d.flip != std::string::npos) damaged[d.flip] = static_cast<char>(damaged[d.flip] ^ 0x5A);
      const std::string copy = loaded.folder.HostFile("copy.apxlaps");
      WriteBytes(copy, Bytes(damaged.begin(), damaged.end()));
      LapTable read;
      EXPECT_EQ(read.Load(d.otherCircuit ? other.model : loaded.model, copy), d.loads);
      EXPECT_EQ(read.ready(), d.loads);
      if (d.loads) {
        EXPECT_EQ(read.Rounds(start), optimum);
        EXPECT_EQ(read.states(), table.states());
        EXPECT_TRUE(read.stops().words() == table.stops().words());
      }
    }

    // Laps that fit in the table's bytes with no room for the map beside them: the laps stand,
    // the map is left out, and the file keeps them so.
    if (&c == &cases[0]) {
      LapTable lapsOnly;
      lapsOnly.Begin(loaded.model, table.bytes() - 1);
      ASSERT_TRUE(lapsOnly.BuildAll(2));
      EXPECT_EQ(lapsOnly.Rounds(start), optimum);
      EXPECT_TRUE(lapsOnly.stops().empty());
      EXPECT_EQ(lapsOnly.CanStop(CarState{start.at, Pt(30, 0), 0}), -1);
      ASSERT_TRUE(lapsOnly.Save(file));
      LapTable read;
      ASSERT_TRUE(read.Load(loaded.model, file));
      EXPECT_EQ(read.Rounds(start), optimum);
      EXPECT_TRUE(read.stops().empty());
    }
  }

  // A map narrowed to speeds of at most 24, on the small ring, where some cars near the island's
  // corners can stop only by going faster than that: wherever it tells, the whole map (exact, as
  // above) agrees, and those cars it leaves unknown rather than doomed.
  Loaded ring(SmallRing());
  StopMap whole, narrow;
  ASSERT_TRUE(whole.Build(ring.model, 2));
  ASSERT_TRUE(narrow.Build(ring.model, 2, nullptr, 24));
  int told = 0, unknownThatCanStop = 0;
  for (int y = 0; y < ring.model.height(); ++y) {
    for (int x = 0; x < ring.model.width(); ++x) {
      if (ring.model.Blocked(x, y)) continue;
      for (int vy = -24; vy <= 24; ++vy) {
        for (int vx = -24; vx <= 24; ++vx) {
          const CarState car{Pt(x, y), Pt(vx, vy), 0};
          const int all = whole.CanStop(car), some = narrow.CanStop(car);
          ASSERT_GE(all, 0) << x << "," << y << " at " << vx << "," << vy;
          if (some >= 0) {
            ASSERT_EQ(some, all) << x << "," << y << " at " << vx << "," << vy;
            ++told;
          } else {
            unknownThatCanStop += all;
          }
        }
      }
    }
  }
  EXPECT_GT(told, 100000);
  EXPECT_GT(unknownThatCanStop, 0);
}

// The game builds the table in the pro's slices, keeps it in the per-user folder, and reads it
// back for the next race on the circuit; a damaged file is built again. With the table the hint
// is the table's move.
TEST(BrainLapTable, TheGameBuildsTheTableInItsSlicesKeepsItAndReadsItBack) {
  TempFolder folder;
  setenv("APEXGRID_LAP_TABLE", "1", 1);
  setenv("XDG_DATA_HOME", folder.HostFile("user").c_str(), 1);
  const TestCircuit hairpin = Hairpin();
  WriteBytes(folder.HostFile("c.cct"), hairpin.Encode());
  ASSERT_EQ(LoadCircuit(gameState.track, folder.File("c.cct")), 0);
  SetStartValues(gameState);
  gameState.playerCount = 2;
  gameState.screenMode = kScreenRace;
  driverChoices = DriverChoices{};
  driverChoices.driver[0] = kDriverPro;
  TrackModel model;
  ASSERT_TRUE(model.Build(gameState.track));
  const std::string file = folder.HostFile("user/apexgrid/Cache/" + LapTable::FileName(model));
  // The build is a job of its own, which the slices start and then look in on.
  auto slicesToTheEnd = [] {
    int slices = 0;
    for (; ThinkAhead() && slices < 20000; ++slices) Pause(1);
    return slices;
  };

  // A table an earlier version wrote in another format goes when this one writes its own; other
  // files stay.
  const std::string cache = folder.HostFile("user/apexgrid/Cache/");
  ASSERT_EQ(MakeFolders(UserDataFolder() + u"\\Cache"), 0);
  WriteText(cache + "laps-0123456789abcdef.apxlaps", std::string("APXLAPS\0\1\0\0\0", 12) + "old");
  WriteText(cache + "notes.txt", "mine");

  ForgetBrain();
  PrepareBrain();
  EXPECT_GT(slicesToTheEnd(), 0);
  EXPECT_FALSE(FileExists(cache + "laps-0123456789abcdef.apxlaps"));
  EXPECT_TRUE(FileExists(cache + "notes.txt"));
  LapTable kept;
  ASSERT_TRUE(kept.Load(model, file));
  GridPoint best;
  ASSERT_TRUE(kept.BestMove(CarOf(CurrentRecord(gameState)), &best));
  EXPECT_EQ(HintMove(), best);

  // The next race on the circuit reads it at once: the hint is the table's with no slice run.
  ForgetBrain();
  PrepareBrain();
  EXPECT_EQ(HintMove(), best);
  slicesToTheEnd();

  // A damaged file is ignored and built again, whole.
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  WriteBytes(file, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)));
  ForgetBrain();
  PrepareBrain();
  slicesToTheEnd();
  std::ifstream again(file, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), bytes);

  ForgetBrain();
  driverChoices = DriverChoices{};
  unsetenv("XDG_DATA_HOME");
  unsetenv("APEXGRID_LAP_TABLE");
}
