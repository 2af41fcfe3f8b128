// The rules and the brain with nothing else: a ring built in memory, two computer drivers racing
// it through JudgeMove, ApplyMove and NextTurn until a lap is counted. Linked without the display,
// the window system or SDL; the build checks that no SDL library is in this program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "brain/driver.h"
#include "platform/files.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/state.h"
#include "rules/turn.h"

namespace {

// A 60 x 40 ring: track [2, 58) x [2, 38) around an island [14, 46) x [14, 26), the line across
// the top straight at x = 30, racing clockwise from just past it.
void BuildRing(TrackGrid& track) {
  constexpr int kWidth = 60, kHeight = 40;
  track.width = kWidth;
  track.height = kHeight;
  track.collisionGrid = static_cast<uint8_t*>(std::malloc(kWidth * kHeight));
  ASSERT_NE(track.collisionGrid, nullptr);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const bool free = x >= 2 && x < 58 && y >= 2 && y < 38 && !(x >= 14 && x < 46 && y >= 14 && y < 26);
      track.collisionGrid[y * kWidth + x] = free ? 0 : 1;
    }
  }
  track.startPoint = {31, 8};
  track.finishLineA = {30, 0};
  track.finishLineB = {30, 15};
  track.aheadPoint = {40, 8};
}

TEST(CoreRace, TwoDriversLapThroughJudgeAndApplyAndNothingIsWritten) {
  auto state = std::make_unique<GameState>();
  GameState& s = *state;
  BuildRing(s.track);
  // A path that is never written: judging and applying must not save a record, even a new one.
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "apexgrid-core-race-never.cct";
  std::filesystem::remove(file);
  s.track.path = DevicePath(file.string());
  SetStartValues(s);
  s.playerCount = 2;

  Driver driver;
  ASSERT_TRUE(driver.Load(s.track));
  int newRecords = 0;
  while (s.players[0].laps == 0 && s.round < 400) {
    PlayerRecord& car = CurrentRecord(s);
    const DriverLevel level = s.currentPlayer == 0 ? DriverLevel::kPro : DriverLevel::kClub;
    const GridPoint to = driver.Move(car, level, 7);
    const GridPoint p = PredictedPoint(car);
    ASSERT_TRUE(IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius));
    const MoveJudgement judged = JudgeMove(s, to);
    ASSERT_TRUE(judged.fits);
    newRecords += judged.newRecord;
    const uint16_t before = car.lastIndex;
    ASSERT_EQ(ApplyMove(s, to, judged), 0);
    EXPECT_EQ(car.lastIndex, before + (judged.outcome == MoveOutcome::kCrash ? 3 : 1));
    EXPECT_EQ(car.trail[before + 1], to);
    NextTurn(s);
  }
  ASSERT_EQ(s.players[0].laps, 1) << "the pro completes its lap";
  EXPECT_GT(s.round, 2);
  EXPECT_EQ(newRecords, 1) << "the first lap is judged a new record";
  EXPECT_EQ(s.track.recordCount, 0) << "applying never stores the record";
  EXPECT_FALSE(std::filesystem::exists(file)) << "nor writes the circuit file";
}

}  // namespace
