// What keeping and resuming a race costs, on an 8-car race of 2,000 moves: the race file after a
// commit on the turn's path (its 99th percentile, against the target of 1 ms), the durable write
// the writing thread then makes (as a multiple of writing the same bytes durably with plain calls in
// the same run), and reading and replaying the race.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/best_runs.h"
#include "platform/files.h"
#include "race/race_circuit.h"
#include "race/race_file.h"
#include "race/race_writer.h"
#include "race/replay.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"

namespace {

std::string circuitPath;  // a built-in circuit
std::string folder;       // where the files are written
std::string raceText;     // the 2,000-move race

// Eight cars choosing points at random within reach, crashes and sat-out turns included.
std::string MakeRace() {
  auto state = std::make_unique<GameState>();
  if (LoadCircuit(state->track, DevicePath(circuitPath)) != 0) return std::string();
  GameState& s = *state;
  SetStartValues(s);
  s.playerCount = kMaxPlayers;
  ResetRace(s);
  RaceFile race;
  race.circuitName = circuitPath.substr(circuitPath.rfind('/') + 1);
  race.circuitPath = circuitPath;
  race.circuitSha256 = CircuitSha256(circuitPath, nullptr);
  race.players = kMaxPlayers;
  uint32_t seed = 7;
  while (race.events.size() < 2000) {
    const GridPoint p = PredictedPoint(s.players[s.currentPlayer]);
    GridPoint to;
    do {
      seed = seed * 1103515245u + 12345u;
      to = GridPoint{static_cast<int16_t>(p.x + static_cast<int>(seed >> 16) % 39 - 19),
                     static_cast<int16_t>(p.y + static_cast<int>(seed >> 8) % 39 - 19)};
    } while (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius));
    RaceEvent move;
    move.car = static_cast<uint8_t>(s.currentPlayer);
    move.point = to;
    race.events.push_back(move);
    ApplyMove(s, to, JudgeMove(s, to));
    NextTurn(s);
  }
  return FormatRace(race);
}

// Each iteration's time, for the 99th percentile.
class Percentile {
 public:
  void Add(std::chrono::steady_clock::duration d) {
    times_.push_back(std::chrono::duration<double, std::micro>(d).count());
  }
  double P99() {
    if (times_.empty()) return 0;
    std::sort(times_.begin(), times_.end());
    return times_[std::min(times_.size() - 1, times_.size() * 99 / 100)];
  }

 private:
  std::vector<double> times_;
};

// The floor: the same bytes written to a new file, made durable and renamed into place with plain
// calls.
void PlainDurableWrite(benchmark::State& state) {
  const std::string path = folder + "/plain.apxrace", part = path + ".part";
  for (auto _ : state) {
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (write(fd, raceText.data(), raceText.size()) != static_cast<ssize_t>(raceText.size()))
      state.SkipWithError("write");
    fsync(fd);
    close(fd);
    rename(part.c_str(), path.c_str());
  }
}

// The race file written whole and made durable, as the writing thread does it.
void RaceFileWhole(benchmark::State& state) {
  const std::string path = folder + "/race.apxrace";
  for (auto _ : state) WriteRaceFile(path, raceText, nullptr);
}

// What a commit does on the turn's path: the move's line added to the kept text, which is handed
// to the writing thread.
void RaceFileAfterCommit(benchmark::State& state) {
  const std::string path = folder + "/race.apxrace";
  RaceFileWriter writer;
  std::string text = raceText;
  RaceEvent move;
  move.point = GridPoint{120, 251};
  Percentile times;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    text += FormatRaceEvent(move);
    writer.Write(path, text);
    times.Add(std::chrono::steady_clock::now() - start);
    state.PauseTiming();
    text.resize(raceText.size());  // the race stays at 2,000 moves
    state.ResumeTiming();
  }
  writer.Flush();
  state.counters["p99_us"] = times.P99();
}

// R: the race file read and its 2,000 moves replayed over the loaded circuit.
void ResumeRace(benchmark::State& state) {
  const std::string path = folder + "/resume.apxrace";
  WriteRaceFile(path, raceText, nullptr);
  auto game = std::make_unique<GameState>();
  LoadCircuit(game->track, DevicePath(circuitPath));
  game->track.path.clear();
  SetStartValues(*game);
  for (auto _ : state) {
    RaceFile race;
    RaceProgress progress;
    std::string error;
    if (ReadRaceFile(path, &race, &error) != 0 || ReplayRace(race, path, *game, &progress, &error) != 0) {
      state.SkipWithError(error.c_str());
      break;
    }
    benchmark::DoNotOptimize(progress.moves);
  }
}

class RaceReporter : public BestRunsReporter {
 public:
  RaceReporter() : BestRunsReporter("/") {}

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto floor = best_.find("PlainDurableWrite");
    const auto whole = best_.find("RaceFileWhole");
    const auto commit = best_.find("RaceFileAfterCommit");
    const auto p99 = p99_.find("RaceFileAfterCommit");
    const auto resume = best_.find("ResumeRace");
    std::printf("\nrace of 2,000 moves, 8 cars: %zu bytes\n", raceText.size());
    if (floor != best_.end() && whole != best_.end() && floor->second > 0) {
      std::printf(
          "race file written whole and durable (the writing thread): %.0f us, %.2f x the plain durable "
          "write (%.0f us)\n",
          whole->second, whole->second / floor->second, floor->second);
    }
    if (commit != best_.end() && p99 != p99_.end()) {
      std::printf("race file after a commit, on the turn's path: %.1f us, 99th percentile %.3f ms (target 1 ms) %s\n",
                  commit->second, p99->second / 1000, p99->second <= 1000 ? "ok" : "OVER");
    }
    if (resume != best_.end()) {
      std::printf("resume (read and replay): %.1f ms (target 100 ms) %s\n", resume->second / 1000,
                  resume->second <= 100000 ? "ok" : "OVER");
    }
  }
};

}  // namespace

BENCHMARK(PlainDurableWrite)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(RaceFileWhole)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(RaceFileAfterCommit)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(ResumeRace)->Unit(benchmark::kMillisecond)->Repetitions(5);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  circuitPath = std::string(APEXGRID_CIRCUITS) + "/5-Grand-Prix.cct";
  // APEXGRID_BENCH_FOLDER=DIR: where the files go (the disk they are on is what is measured).
  const char* where = std::getenv("APEXGRID_BENCH_FOLDER");
  char made[] = "/tmp/race-bench-XXXXXX";
  folder = where != nullptr ? where : mkdtemp(made);
  raceText = MakeRace();
  if (raceText.empty()) {
    std::fprintf(stderr, "race_bench: can't load %s\n", circuitPath.c_str());
    return 1;
  }
  RaceReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* name : {"/plain.apxrace", "/race.apxrace", "/resume.apxrace"}) std::remove((folder + name).c_str());
  if (where == nullptr) rmdir(folder.c_str());
  return 0;
}
