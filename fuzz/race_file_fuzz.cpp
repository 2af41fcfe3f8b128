// Fuzzes the race-file reader and the replay: any text is refused or read into a race that
// writes back to text reading the same, and whose replay on a small circuit keeps every trail in
// bounds.
#include <cstdint>
#include <memory>
#include <string>

#include "data/circuit.h"
#include "fuzz/fuzz_file.h"
#include "race/race_file.h"
#include "race/replay.h"

namespace {

// A 64 x 48 field walled round its edge with a block in the middle, the line across the top.
std::unique_ptr<GameState> LoadField() {
  CircuitFile field;
  field.width = 64;
  field.height = 48;
  field.start = GridPoint{33, 6};
  field.lineA = GridPoint{32, 0};
  field.lineB = GridPoint{32, 16};
  field.ahead = GridPoint{40, 6};
  field.pixels.assign(64 * 48, 0x07E0);
  field.cells.assign(64 * 48, 0);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const bool edge = x < 2 || y < 2 || x >= 62 || y >= 46;
      const bool island = x >= 16 && x < 48 && y >= 16 && y < 32;
      field.cells[static_cast<size_t>(y) * 64 + x] = edge || island ? 1 : 0;
    }
  }
  const std::vector<unsigned char> bytes = EncodeCircuit(field);
  auto state = std::make_unique<GameState>();
  if (LoadCircuit(state->track, WriteFuzzFile(bytes.data(), bytes.size())) != 0) __builtin_trap();
  SetStartValues(*state);
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<GameState> state = LoadField();
  const std::string text(reinterpret_cast<const char*>(data), size);
  RaceFile race;
  std::string error;
  if (ParseRace(text, "fuzz", &race, &error) != 0) {
    if (error.rfind("fuzz:", 0) != 0) __builtin_trap();  // every refusal names the file
    return 0;
  }
  const std::string written = FormatRace(race);
  RaceFile again;
  if (ParseRace(written, "fuzz", &again, &error) != 0 || FormatRace(again) != written) __builtin_trap();
  RaceProgress progress;
  ReplayRace(race, "fuzz", *state, &progress, &error);
  for (int car = 0; car < kMaxPlayers; ++car) {
    if (state->players[car].lastIndex >= kTrailCapacity) __builtin_trap();
  }
  if (state->currentPlayer >= state->playerCount || progress.next > race.events.size()) __builtin_trap();
  return 0;
}
