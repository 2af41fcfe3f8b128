// The built-in circuits: each is sound, reads as asphalt on grass, and can be lapped. The lap the
// search finds is raced again through the game's own commit and must count exactly once, at the
// end, without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "brain/solver.h"
#include "brain/track_model.h"
#include "platform/png.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tests/support.h"
#include "tools/circuit_data.h"

namespace {

// The circuits as installed: drawn by the build, without any record set while playing.
const std::string kCircuits = APEXGRID_BUILD_FOLDER "/generated/Circuits";

std::vector<std::string> BuiltInCircuits() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kCircuits)) {
    if (entry.path().extension() == ".cct") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class BuiltInCircuit : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST(BuiltInCircuits, AreVariedAndTheFirstFitsTheBoard) {
  const std::vector<std::string> names = BuiltInCircuits();
  ASSERT_GE(names.size(), 6u);
  // ./setup play starts the first in name order; it must fill the 240 x 300 board exactly.
  const CircuitData first = ReadCircuitFile(kCircuits + "/" + names.front());
  EXPECT_EQ(first.width, 240);
  EXPECT_EQ(first.height, 300);
  bool large = false;
  for (const std::string& name : names) {
    const CircuitData c = ReadCircuitFile(kCircuits + "/" + name);
    large = large || (c.width >= 1600 && c.height >= 1200);
    EXPECT_TRUE(c.record.empty() && !c.hasRecordSection) << name << " is shipped with a record";
  }
  EXPECT_TRUE(large) << "no circuit of at least 1600 x 1200";
}

TEST_P(BuiltInCircuit, IsSoundAndItsGridMatchesItsPicture) {
  const CircuitData c = ReadCircuitFile(kCircuits + "/" + GetParam());
  EXPECT_EQ(CircuitProblems(c), std::vector<std::string>{});
  // What looks like grass is blocked, and what looks like asphalt is free: a car crashes exactly
  // where the picture says it leaves the track.
  size_t grassFree = 0, asphaltBlocked = 0;
  for (size_t i = 0; i < c.pixels.size(); ++i) {
    uint8_t r, g, b;
    ExpandPixel(c.pixels[i], true, &r, &g, &b);
    const bool green = g > r + 30 && g > b + 30;
    const bool grey = std::max({r, g, b}) - std::min({r, g, b}) < 16 && r > 70 && r < 140;
    if (green && c.cells[i] == 0) ++grassFree;
    if (grey && c.cells[i] == 1) ++asphaltBlocked;
  }
  EXPECT_EQ(grassFree, 0u);
  EXPECT_EQ(asphaltBlocked, 0u);
  // The car's square at the start lies on the track.
  for (int dy = -5; dy < 5; ++dy) {
    for (int dx = -5; dx < 5; ++dx) EXPECT_FALSE(c.Blocked(c.start.x + dx, c.start.y + dy));
  }
}

TEST_P(BuiltInCircuit, ALapFoundByTheSearchCountsWhenRacedThroughTheGame) {
  // A copy, since the lap becomes the circuit's first record.
  TempFolder folder;
  std::filesystem::copy_file(kCircuits + "/" + GetParam(), folder.HostFile("circuit.cct"));
  auto state = std::make_unique<GameState>();
  GameState& s = *state;
  ASSERT_EQ(LoadCircuit(s.track, folder.File("circuit.cct")), 0);

  TrackModel model;
  ASSERT_TRUE(model.Build(s.track));
  const LapPlan lap = QuickLap(model, CarState{s.track.startPoint, {}, 0}, 32);
  ASSERT_TRUE(lap.found);
  ASSERT_GE(lap.moves.size(), 5u);

  SetStartValues(s);
  s.playerCount = 1;
  PlayerRecord& car = s.players[0];
  for (size_t i = 0; i < lap.moves.size(); ++i) {
    const GridPoint to = lap.moves[i];
    const GridPoint p = PredictedPoint(car);
    ASSERT_TRUE(IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius))
        << "move " << i;
    ASSERT_EQ(CommitMove(s, to.x, to.y), 0);
    ASSERT_EQ(car.laps, i + 1 == lap.moves.size() ? 1 : 0) << "move " << i;
    NextTurn(s);
  }
  // The game counts the rounds the search did, and stores the lap as the record: one point per
  // round after the two start points.
  EXPECT_EQ(s.round, lap.rounds);
  EXPECT_EQ(s.track.recordRounds, lap.rounds);
  const CircuitData saved = ReadCircuitFile(folder.HostFile("circuit.cct"));
  EXPECT_EQ(saved.record.size(), lap.rounds + 2);
}

INSTANTIATE_TEST_SUITE_P(Shipped, BuiltInCircuit, ::testing::ValuesIn(BuiltInCircuits()),
                         [](const ::testing::TestParamInfo<std::string>& circuit) {
                           std::string name = circuit.param.substr(0, circuit.param.size() - 4);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });
