// The racing brain on the built-in circuits: check and the exact solver, the pro's moves through a
// whole race, the foresight on every aim of a race, and the drivers' laps. Each time is also given as
// a multiple of one sweep of the reach disc with the game's path test, measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/best_runs.h"
#include "brain/driver.h"
#include "brain/exact_solver.h"
#include "brain/foresight.h"
#include "brain/lap_table.h"
#include "brain/stop_map.h"
#include "brain/track_model.h"
#include "platform/files.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tools/circuit_tool.h"

namespace {

using Clock = std::chrono::steady_clock;

// The CPU time of the calling thread, in milliseconds: what a move or a slice costs, without the
// time other programs take the processor away on a busy machine (on an idle one the two agree).
double ThreadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

const char* const kCircuits[] = {"1-First-Race",    "2-Riverside",  "3-Switchbacks",
                                 "4-Twin-Chicanes", "5-Grand-Prix", "6-Tight-Knot"};

std::string CircuitPath(const std::string& name) { return std::string(APEXGRID_CIRCUITS) + "/" + name + ".cct"; }

// A built-in circuit loaded as a race loads it. The laps raced here are judged and applied, never
// committed, so no record is stored.
std::unique_ptr<GameState> Load(const std::string& name) {
  auto state = std::make_unique<GameState>();
  if (LoadCircuit(state->track, DevicePath(CircuitPath(name))) != 0) return nullptr;
  SetStartValues(*state);
  state->playerCount = 1;
  return state;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(std::ceil(p * values.size()));
  return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

// One race lap of a driver from the standing start: its rounds, and each move's time.
struct Race {
  int rounds = 0;
  std::vector<double> milliseconds;
  std::vector<CarState> cars;  // the car before each move
};

Race DriveLap(GameState& s, Driver& driver, DriverLevel level, uint32_t seed) {
  SetStartValues(s);
  s.playerCount = 1;
  PlayerRecord& car = s.players[0];
  Race race;
  while (car.laps == 0 && s.round < 2000) {
    race.cars.push_back(CarOf(car));
    const double start = ThreadMilliseconds();
    const GridPoint to = driver.Move(car, level, seed);
    race.milliseconds.push_back(ThreadMilliseconds() - start);
    ApplyMove(s, to, JudgeMove(s, to));
    NextTurn(s);
  }
  race.rounds = car.laps == 1 ? s.round : -1;
  return race;
}

// ---- The baseline ----------------------------------------------------------------------------------

// The game's path test for every destination in reach of a car at speed on the Grand Prix's
// first straight: what one aim at every point of the disc costs.
void DiscSweep(benchmark::State& state) {
  auto s = Load("5-Grand-Prix");
  const GridPoint from{static_cast<int16_t>(s->track.startPoint.x + 120), s->track.startPoint.y};
  const GridPoint predicted{static_cast<int16_t>(from.x + 40), from.y};
  std::vector<GridPoint> reach;
  for (int y = -20; y <= 20; ++y) {
    for (int x = -20; x <= 20; ++x) {
      if (IsWithinReach(static_cast<int16_t>(x), static_cast<int16_t>(y), kMoveRadius)) {
        reach.push_back(GridPoint{static_cast<int16_t>(predicted.x + x), static_cast<int16_t>(predicted.y + y)});
      }
    }
  }
  for (auto _ : state) {
    int blocked = 0;
    for (GridPoint to : reach) blocked += IsPathBlocked(s->track, from.x, from.y, to.x, to.y);
    benchmark::DoNotOptimize(blocked);
  }
}

// ---- Checking and solving ------------------------------------------------------------------------------------------

// apexcircuit check: the time it took and the rounds of its lap.
void Check(benchmark::State& state, const std::string& name) {
  for (auto _ : state) {
    std::ostringstream out, err;
    RunCircuitTool({"check", CircuitPath(name)}, out, err);
    const std::string line = out.str();
    const size_t takes = line.find("takes ");
    state.counters["rounds"] = takes == std::string::npos ? -1 : std::stod(line.substr(takes + 6));
  }
}

// The exact solver on both cores, within five minutes and 8 GB: the lap it proves (or the bound
// it reaches), the states it searched and the memory it held, and where the threads' time went.
void Solve(benchmark::State& state, const std::string& name) {
  auto s = Load(name);
  TrackModel model;
  model.Build(s->track);
  for (auto _ : state) {
    ExactLimits limits;
    limits.seconds = 300;
    limits.memoryBytes = size_t{8} << 30;
    limits.threads = 2;
    const ExactLap lap = SolveExact(model, CarState{s->track.startPoint, {}, 0}, limits);
    state.counters["rounds"] = lap.plan.found ? lap.plan.rounds : -1;
    state.counters["bound"] = lap.plan.lowerBound;
    state.counters["proven"] = lap.end == ExactEnd::kLap;
    state.counters["states_M"] = static_cast<double>(lap.effort.states) / 1e6;
    state.counters["memory_MB"] = static_cast<double>(lap.effort.bytes) / (1 << 20);
    const double busy = lap.effort.dilationSeconds + lap.effort.pathSeconds;
    state.counters["dilation_share"] = busy > 0 ? lap.effort.dilationSeconds / busy : 0;
    state.counters["path_tests_M"] = static_cast<double>(lap.effort.pathTests) / 1e6;
  }
}

// Building the circuit model: what loading a circuit into a driver costs.
void ModelBuild(benchmark::State& state, const std::string& name) {
  auto s = Load(name);
  for (auto _ : state) {
    TrackModel model;
    benchmark::DoNotOptimize(model.Build(s->track));
  }
}

// ---- The drivers ---------------------------------------------------------------------------------------

// The pro's moves through a whole lap of the Grand Prix from the start, a new driver each time.
void ProMove(benchmark::State& state) {
  auto s = Load("5-Grand-Prix");
  std::vector<double> all;
  for (auto _ : state) {
    state.PauseTiming();
    Driver driver;
    driver.Load(s->track);
    state.ResumeTiming();
    const Race race = DriveLap(*s, driver, DriverLevel::kPro, 0);
    all.insert(all.end(), race.milliseconds.begin(), race.milliseconds.end());
    state.counters["rounds"] = race.rounds;
  }
  state.counters["p50_ms"] = Percentile(all, 0.5);
  state.counters["p99_ms"] = Percentile(all, 0.99);
  state.counters["max_ms"] = Percentile(all, 1.0);
}

// Foresight on every clean aim in reach at every turn of the pro's lap of a circuit, with one
// foresight kept for the race and the aim cursor's budget, as the game keeps it; with `table`, the
// circuit's lap table built first and handed to the foresight, and the share of the aims its stop
// map answers.
void ForesightAims(benchmark::State& state, const std::string& name, bool table) {
  auto s = Load(name);
  Driver driver;
  driver.Load(s->track);
  const Race race = DriveLap(*s, driver, DriverLevel::kPro, 0);
  LapTable laps;
  if (table) {
    laps.Begin(*driver.model());
    if (!laps.BuildAll() || laps.stops().empty()) {
      state.SkipWithError("no stop map");
      return;
    }
  }
  std::vector<double> micro;
  size_t gaveUp = 0, doomed = 0, answered = 0;
  for (auto _ : state) {
    Foresight foresight(*driver.model(), Foresight::kAimBudget);
    if (table) foresight.UseTable(&laps);
    for (const CarState& car : race.cars) {
      const GridPoint p = Predicted(car);
      for (GridPoint o : driver.model()->Reach()) {
        const GridPoint to{static_cast<int16_t>(p.x + o.x), static_cast<int16_t>(p.y + o.y)};
        if (driver.model()->PathBlocked(car.at, to)) continue;
        const Clock::time_point start = Clock::now();
        doomed += foresight.Doomed(After(car, to, MoveOutcome::kClean));
        micro.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        gaveUp += foresight.lastGaveUp();
        answered += table && laps.CanStop(After(car, to, MoveOutcome::kClean)) >= 0 ? 1 : 0;
      }
    }
  }
  state.counters["queries"] = static_cast<double>(micro.size());
  state.counters["p50_us"] = Percentile(micro, 0.5);
  state.counters["p99_us"] = Percentile(micro, 0.99);
  state.counters["max_us"] = Percentile(micro, 1.0);
  state.counters["doomed_share"] = micro.empty() ? 0 : static_cast<double>(doomed) / micro.size();
  state.counters["gave_up_share"] = micro.empty() ? 0 : static_cast<double>(gaveUp) / micro.size();
  if (table) state.counters["map_share"] = micro.empty() ? 0 : static_cast<double>(answered) / micro.size();
}

// The laps: the pro's, and the club driver's over four seeds.
void Laps(benchmark::State& state, const std::string& name) {
  auto s = Load(name);
  for (auto _ : state) {
    Driver driver;
    driver.Load(s->track);
    state.counters["pro"] = DriveLap(*s, driver, DriverLevel::kPro, 0).rounds;
    // The same with the standing start's lap prepared while the game waits.
    Driver prepared;
    prepared.Load(s->track);
    const double start = ThreadMilliseconds();
    int slices = 1;
    while (!prepared.Think(Driver::kThinkSliceWork)) ++slices;
    state.counters["think_s"] = (ThreadMilliseconds() - start) / 1000;
    state.counters["think_slices"] = slices;
    state.counters["pro_prepared"] = DriveLap(*s, prepared, DriverLevel::kPro, 0).rounds;
    double club = 0;
    for (uint32_t seed = 1; seed <= 4; ++seed) club += DriveLap(*s, driver, DriverLevel::kClub, seed).rounds;
    state.counters["club"] = club / 4;
    state.counters["club_over_pro"] = club / 4 / state.counters["pro"];
  }
}

// A walled ring of side `size` with lanes a tenth as wide, written as a circuit file and loaded
// as a race loads it: far larger than any built-in circuit.
std::unique_ptr<GameState> BigRing(int size) {
  CircuitFile c;
  c.width = c.height = static_cast<uint16_t>(size);
  c.cells.assign(static_cast<size_t>(size) * size, 1);
  c.pixels.assign(c.cells.size(), 0);
  const int lane = size / 10;
  for (int y = 3; y < size - 3; ++y) {
    for (int x = 3; x < size - 3; ++x) {
      const bool island = x >= 3 + lane && x < size - 3 - lane && y >= 3 + lane && y < size - 3 - lane;
      c.cells[static_cast<size_t>(y) * size + x] = island ? 1 : 0;
    }
  }
  const int16_t lineX = static_cast<int16_t>(size / 2);
  c.lineA = GridPoint{lineX, 0};
  c.lineB = GridPoint{lineX, static_cast<int16_t>(3 + lane + 2)};
  c.start = GridPoint{static_cast<int16_t>(lineX + 1), static_cast<int16_t>(3 + lane / 2)};
  c.ahead = GridPoint{static_cast<int16_t>(lineX + 3), static_cast<int16_t>(3 + lane / 2)};
  const std::string file = "/tmp/apexgrid-bench-ring-" + std::to_string(size) + ".cct";
  const std::vector<unsigned char> bytes = EncodeCircuit(c);
  WriteWholeFile(DevicePath(file), bytes.data(), bytes.size());
  auto state = std::make_unique<GameState>();
  const int16_t loaded = LoadCircuit(state->track, DevicePath(file));
  std::remove(file.c_str());
  if (loaded != 0) return nullptr;
  SetStartValues(*state);
  state->playerCount = 1;
  return state;
}

// The game's slices of the pro's preparation: each is a fixed amount of work, and must end
// within 50 ms even on circuits far larger than the built-in ones, also while a player ponders.
// The slices from the start (at most 150 of them), each timed; and the driver's load, which the
// game makes once before its first slice.
void ThinkSlices(benchmark::State& state, int size) {
  auto s = size == 0 ? Load("5-Grand-Prix") : BigRing(size);
  if (s == nullptr) {
    state.SkipWithError("no circuit");
    return;
  }
  std::vector<double> slices;
  double loadMs = 0;
  for (auto _ : state) {
    Driver driver;
    const double load = ThreadMilliseconds();
    driver.Load(s->track);
    loadMs = ThreadMilliseconds() - load;
    for (int slice = 0; slice < 150; ++slice) {
      const double start = ThreadMilliseconds();
      const bool done = driver.Think(Driver::kThinkSliceWork);
      slices.push_back(ThreadMilliseconds() - start);
      if (done) break;
    }
  }
  state.counters["load_ms"] = loadMs;
  state.counters["slices"] = static_cast<double>(slices.size());
  state.counters["p50_ms"] = Percentile(slices, 0.5);
  state.counters["p99_ms"] = Percentile(slices, 0.99);
  state.counters["max_ms"] = Percentile(slices, 1.0);
}

// ---- The lap table -----------------------------------------------------------------------------------

// A circuit for the table: a built-in one by name, or a ring of the given side.
std::unique_ptr<GameState> TableCircuit(const std::string& name) {
  return name.rfind("ring-", 0) == 0 ? BigRing(std::stoi(name.substr(5))) : Load(name);
}

// The model of the table's circuit; false, the benchmark skipped, when there is none.
bool TableModel(benchmark::State& state, const std::string& name, TrackModel* model) {
  const auto s = TableCircuit(name);
  if (s != nullptr && model->Build(s->track)) return true;
  state.SkipWithError("no circuit");
  return false;
}

// The table's build within the game's room: its time, states, bytes, and whether it fitted.
void LapTableBuild(benchmark::State& state, const std::string& name) {
  TrackModel model;
  if (!TableModel(state, name, &model)) return;
  for (auto _ : state) {
    LapTable table;
    table.Begin(model);
    table.BuildAll();
    state.counters["ready"] = table.ready();
    state.counters["states"] = static_cast<double>(table.states());
    state.counters["MB"] = static_cast<double>(table.bytes()) / (1 << 20);
    state.counters["map_MB"] = static_cast<double>(table.stops().bytes()) / (1 << 20);
    // What the game's read of the file costs, on its own thread.
    const std::string file = "/tmp/apexgrid-bench-" + LapTable::FileName(model);
    if (table.Save(file)) {
      LapTable read;
      const Clock::time_point start = Clock::now();
      state.counters["load_ms"] =
          read.Load(model, file) ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
      std::remove(file.c_str());
    }
    state.counters["start_rounds"] = table.Rounds(CarState{model.start(), {}, 0});
  }
}

// The stop map alone on 1 and 2 threads: its time, bytes, and states in S and U a cell.
void StopMapBuild(benchmark::State& state, const std::string& name, int threads) {
  TrackModel model;
  if (!TableModel(state, name, &model)) return;
  for (auto _ : state) {
    StopMap map;
    const Clock::time_point start = Clock::now();
    map.Build(model, threads);
    state.counters["s"] = std::chrono::duration<double>(Clock::now() - start).count();
    const double cells = static_cast<double>(map.words().size() / StopMap::kCellWords);
    state.counters["cells"] = cells;
    state.counters["MB"] = static_cast<double>(map.bytes()) / (1 << 20);
    state.counters["S_per_cell"] = static_cast<double>(map.CountS()) / cells;
    state.counters["U_per_cell"] = static_cast<double>(map.CountU()) / cells;
  }
}

// A race of three laps with every car the table's pro (the cars don't meet, so one stands for all):
// each lap's rounds, and the time of each move, a lookup.
void LapTableRace(benchmark::State& state, const std::string& name) {
  auto s = TableCircuit(name);
  Driver driver;
  if (s == nullptr || !driver.Load(s->track)) {
    state.SkipWithError("no circuit");
    return;
  }
  LapTable table;
  table.Begin(*driver.model());
  if (!table.BuildAll() || !table.ready()) {
    state.SkipWithError("no table");
    return;
  }
  driver.UseTable(&table);
  std::vector<double> micro;
  for (auto _ : state) {
    SetStartValues(*s);
    s->playerCount = 1;
    PlayerRecord& car = s->players[0];
    int lapStart = 0;
    while (car.laps < 3 && s->round < 2000) {
      const double start = ThreadMilliseconds();
      const GridPoint to = driver.Move(car, DriverLevel::kPro, 0);
      micro.push_back((ThreadMilliseconds() - start) * 1000);
      const int laps = car.laps;
      ApplyMove(*s, to, JudgeMove(*s, to));
      NextTurn(*s);
      if (car.laps != laps) {
        state.counters["lap" + std::to_string(car.laps)] = s->round - lapStart;
        lapStart = s->round;
      }
    }
  }
  state.counters["optimum"] = table.Rounds(CarState{driver.model()->start(), {}, 0});
  state.counters["moves"] = static_cast<double>(micro.size());
  state.counters["p50_us"] = Percentile(micro, 0.5);
  state.counters["p99_us"] = Percentile(micro, 0.99);
}

// ---- Figures as multiples of the disc sweep ---------------------------------------------------------

// Prints the usual table, then each timed case over the disc sweep. The fastest repetition of
// each case counts, as the least disturbed by whatever else the machine is doing; the pro's and
// the foresight's 99th percentiles are given too.
class RatioReporter : public BestRunsReporter {
 public:
  RatioReporter() : BestRunsReporter("/repeats") {}

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto sweep = best_.find("DiscSweep");
    if (sweep == best_.end() || sweep->second <= 0) return;
    std::printf("\none sweep of the reach disc with the game's path test: %.1f us\n", sweep->second);
    std::printf("%-32s %12s %12s\n", "case", "x sweep", "p99 x sweep");
    for (const auto& [name, us] : best_) {
      if (name == "DiscSweep") continue;
      const auto p = p99_.find(name);
      if (p == p99_.end()) {
        std::printf("%-32s %12.1f\n", name.c_str(), us / sweep->second);
      } else {
        std::printf("%-32s %12.1f %12.1f\n", name.c_str(), us / sweep->second, p->second / sweep->second);
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RegisterBenchmark("DiscSweep", DiscSweep)->Unit(benchmark::kMicrosecond)->Repetitions(5);
  for (const char* name : kCircuits) {
    benchmark::RegisterBenchmark((std::string("ModelBuild/") + name).c_str(), ModelBuild, std::string(name))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  benchmark::RegisterBenchmark("ProMove/5-Grand-Prix", ProMove)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1)
      ->Repetitions(3);
  benchmark::RegisterBenchmark("ForesightAims/5-Grand-Prix", ForesightAims, std::string("5-Grand-Prix"), false)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  for (const bool table : {false, true}) {
    benchmark::RegisterBenchmark(table ? "ForesightAimsTable/1-First-Race" : "ForesightAims/1-First-Race",
                                 ForesightAims, std::string("1-First-Race"), table)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (int size : {0, 4000, 6000}) {
    const std::string name = size == 0 ? "5-Grand-Prix" : "ring-" + std::to_string(size);
    benchmark::RegisterBenchmark(("ThinkSlices/" + name).c_str(), ThinkSlices, size)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : kCircuits) {
    benchmark::RegisterBenchmark((std::string("Laps/") + name).c_str(), Laps, std::string(name))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : kCircuits) {
    benchmark::RegisterBenchmark((std::string("Check/") + name).c_str(), Check, std::string(name))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : kCircuits) {
    benchmark::RegisterBenchmark((std::string("Solve/") + name).c_str(), Solve, std::string(name))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : {"ring-60", "1-First-Race"}) {
    benchmark::RegisterBenchmark((std::string("LapTableBuild/") + name).c_str(), LapTableBuild, std::string(name))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const char* name : kCircuits) {
    for (const int threads : {1, 2}) {
      if (threads == 1 && name != kCircuits[0]) continue;
      benchmark::RegisterBenchmark((std::string("StopMapBuild/") + name + "/" + std::to_string(threads)).c_str(),
                                   StopMapBuild, std::string(name), threads)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  }
  benchmark::RegisterBenchmark("LapTableRace/1-First-Race", LapTableRace, std::string("1-First-Race"))
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
