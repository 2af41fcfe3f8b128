// How long presenting a frame, the pen-move redraw and whole boards take, each as a multiple of
// one plain copy of a 240 x 320 frame measured in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/best_runs.h"
#include "game/board.h"
#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "rules/move.h"
#include "tools/board_scene.h"

namespace {

constexpr size_t kFrameBytes = 240 * 320 * 2;  // 153,600

// The frame copy every other figure is measured against.
void FrameCopy(benchmark::State& state) {
  std::vector<unsigned char> from(kFrameBytes, 1), to(kFrameBytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kFrameBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

void FillFrame() {
  for (size_t i = 0; i < static_cast<size_t>(framePicture.width) * framePicture.height; ++i) {
    framePicture.pixels[i] = static_cast<uint16_t>(i * 2654435761u >> 13);
  }
}

void PresentStaged(benchmark::State& state) {
  FillFrame();
  for (auto _ : state) PresentFrame(display, framePicture, 0);
}

void PresentDirect(benchmark::State& state) {
  FillFrame();
  for (auto _ : state) PresentFrame(display, framePicture, 1);
}

// ---- Scenes ----------------------------------------------------------------------------------------

GridPoint At(double x, double y) {
  return GridPoint{static_cast<int16_t>(std::lround(x)), static_cast<int16_t>(std::lround(y))};
}

// A trail of moves round a circle about (cx, cy), about step pixels each, wobbling a little.
std::vector<GridPoint> CircleTrail(double cx, double cy, double radius, double step, int points, double phase) {
  std::vector<GridPoint> trail(3, At(cx + radius * std::cos(phase), cy + radius * std::sin(phase)));
  double angle = phase;
  while (static_cast<int>(trail.size()) < points) {
    angle += step / radius;
    const double r = radius + 6 * std::sin(angle * 7.3);
    trail.push_back(At(cx + r * std::cos(angle), cy + r * std::sin(angle)));
  }
  return trail;
}

void NewScene() {
  GameState& s = gameState;
  MakeLoopCircuit(s.track, 1024, 1024);
  StartBoardRace(s);
}

// 1024 x 1024 circuit; two cars with 60 moves each in view, a record of 60 points, outline and
// record shown: a board as it looks in a race.
void TypicalScene() {
  NewScene();
  GameState& s = gameState;
  s.playerCount = 2;
  const GridPoint centre = LoopPoint(s.track, 0.25, 0);  // the right-hand straight
  for (int p = 0; p < 2; ++p) {
    SetTrail(s.players[p], CircleTrail(centre.x - 200, centre.y, 200 + 10 * p, 5, 63, -0.7));
  }
  SetRecord(s.track, CircleTrail(centre.x - 200, centre.y, 205, 5, 60, -0.75));
  s.showOutline = s.showRecord = 1;
  s.round = 30;
  s.viewX = static_cast<int16_t>(centre.x - 120);
  s.viewY = static_cast<int16_t>(centre.y - 150);
}

// Eight cars that have each made 5000 moves round the 1024 x 1024 loop, and a record of 5000
// points, all crossing the view once a lap; outline and record shown. Most segments lie off the
// board and are skipped; those in view overlap lap after lap.
void WorstScene() {
  NewScene();
  GameState& s = gameState;
  s.playerCount = 8;
  for (int p = 0; p < 8; ++p) {
    SetTrail(s.players[p], LoopTrail(s.track, kTrailCapacity - 3, 8.0 + 0.5 * p, 12.0 * (p - 3.5), 0.002 + 0.01 * p));
    s.players[p].laps = 15;
    s.players[p].waitTurns = static_cast<int16_t>(p % 3);
  }
  SetRecord(s.track, LoopTrail(s.track, kRecordCapacity - 3, 7.5, 0, 0.002));
  s.showOutline = s.showRecord = 1;
  s.round = 4990;
  const GridPoint centre = LoopPoint(s.track, 0.25, 0);  // the right-hand straight
  s.viewX = static_cast<int16_t>(centre.x - 120);
  s.viewY = static_cast<int16_t>(centre.y - 150);
}

void TypicalBoard(benchmark::State& state) {
  TypicalScene();
  for (auto _ : state) DrawBoard();
}

void WorstBoard(benchmark::State& state) {
  WorstScene();
  for (auto _ : state) DrawBoard();
}

// What every pen move costs while a player aims: the board back into the frame, the cross of the
// cursor, the path test of the aimed move, and the frame straight onto the screen.
void PenMoveRedraw(benchmark::State& state) {
  TypicalScene();
  DrawBoard();
  GameState& s = gameState;
  const PlayerRecord& car = s.players[s.currentPlayer];
  const GridPoint from = car.trail[car.lastIndex];
  const GridPoint predicted = PredictedPoint(car);
  int k = 0;
  for (auto _ : state) {
    // The target sweeps round the reach disc, as a dragged pen would.
    const int16_t tx = static_cast<int16_t>(predicted.x + (k % 27) - 13);
    const int16_t ty = static_cast<int16_t>(predicted.y + (k / 27 % 27) - 13);
    ++k;
    const bool blocked = IsPathBlocked(s.track, from.x, from.y, tx, ty);
    const uint16_t colour = blocked ? RedColour() : BlackColour();
    CopyPicture(boardPicture, framePicture);
    const int16_t cx = static_cast<int16_t>(tx - s.viewX);
    const int16_t cy = static_cast<int16_t>(ty - s.viewY);
    DrawLine(framePicture, static_cast<int16_t>(cx - 3), cy, static_cast<int16_t>(cx + 3), cy, colour);
    DrawLine(framePicture, cx, static_cast<int16_t>(cy - 3), cx, static_cast<int16_t>(cy + 3), colour);
    PresentFrame(display, framePicture, 1);
  }
}

// ---- Where the typical board's time goes ------------------------------------------------------------

// The typical board without its trails, record lap and outline: the circuit, the copies into
// boardPicture and onto the screen, and the small layers.
void TypicalWithoutLines(benchmark::State& state) {
  TypicalScene();
  gameState.showOutline = gameState.showRecord = 0;
  gameState.playerCount = 1;
  SetTrail(gameState.players[0], std::vector<GridPoint>(3, gameState.players[0].trail[gameState.players[0].lastIndex]));
  for (auto _ : state) DrawBoard();
}

// The outline layer alone, over the typical view.
void TypicalOutline(benchmark::State& state) {
  TypicalScene();
  DrawBoard();
  for (auto _ : state) DrawOutline();
}

// ---- Figures as multiples of the frame copy ----------------------------------------------------------

struct Target {
  const char* name;
  double limit;
};

constexpr Target kTargets[] = {
    {"PresentStaged", 2}, {"PresentDirect", 2},       {"PenMoveRedraw", 3},  {"TypicalBoard", 8},
    {"WorstBoard", 150},  {"TypicalWithoutLines", 0}, {"TypicalOutline", 0},
};

// Prints the usual table, then each case over the frame copy, with its target. The fastest
// repetition of each case counts, as the least disturbed by whatever else the machine is doing.
class RatioReporter : public BestRunsReporter {
 public:
  RatioReporter() : BestRunsReporter("/") {}

  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto copy = best_.find("FrameCopy");
    if (copy == best_.end() || copy->second <= 0) return;
    std::printf("\none frame copy (153,600 bytes): %.2f us\n", copy->second);
    std::printf("%-26s %8s %8s\n", "case", "x copy", "target");
    for (const Target& t : kTargets) {
      const auto it = best_.find(t.name);
      if (it == best_.end()) continue;
      const double ratio = it->second / copy->second;
      if (t.limit > 0) {
        std::printf("%-26s %8.2f %8.0f %s\n", t.name, ratio, t.limit, ratio <= t.limit ? "ok" : "OVER");
      } else {
        std::printf("%-26s %8.2f\n", t.name, ratio);
      }
    }
  }
};

}  // namespace

BENCHMARK(FrameCopy)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(PresentStaged)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(PresentDirect)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(PenMoveRedraw)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(TypicalBoard)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(WorstBoard)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(TypicalWithoutLines)->Unit(benchmark::kMicrosecond)->Repetitions(10);
BENCHMARK(TypicalOutline)->Unit(benchmark::kMicrosecond)->Repetitions(10);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The emulated device: 240 x 320, 5-6-5, dense portrait frame buffer.
  if (OpenBoardScreen() != 0) {
    std::fprintf(stderr, "render_bench: the display can't be opened\n");
    return 1;
  }
  // APEXGRID_BENCH_SHOTS=DIR: the boards being timed, as PNGs, for looking at them.
  if (const char* shots = std::getenv("APEXGRID_BENCH_SHOTS")) {
    TypicalScene();
    DrawBoard();
    WritePicturePng(framePicture, std::string(shots) + "/typical.png", 2);
    WorstScene();
    DrawBoard();
    WritePicturePng(framePicture, std::string(shots) + "/worst.png", 2);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  CloseDisplay(display);
  return 0;
}
