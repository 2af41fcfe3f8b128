// A race of eight cars, some of them computer-driven, replayed from its file shows the same board,
// pixel for pixel, as the race it was written from.
#include <gtest/gtest.h>

#include <vector>

#include "game/board.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "race/race_file.h"
#include "race/replay.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tests/game_screen.h"

TEST_F(GameScreen, AReplayedRaceShowsTheBoardOfTheRaceItWasWrittenFrom) {
  Race(SmallRing(240, 300));
  GameState& s = gameState;
  s.playerCount = kMaxPlayers;
  ResetRace(s);
  s.showRecord = 1;
  RaceFile race;
  race.circuitName = "c.cct";
  race.circuitSha256 = std::string(64, '0');
  race.players = kMaxPlayers;
  for (int car = 0; car < kMaxPlayers; ++car) race.drivers[car] = static_cast<uint8_t>(car % 3);
  uint32_t seed = 99;
  for (int turn = 0; turn < 400; ++turn) {
    const GridPoint p = PredictedPoint(s.players[s.currentPlayer]);
    GridPoint to;
    do {
      seed = seed * 1103515245u + 12345u;
      to = Pt(p.x + static_cast<int>(seed >> 16) % 13 - 6, p.y + static_cast<int>(seed >> 8) % 13 - 6);
    } while (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius));
    RaceEvent move;
    move.car = static_cast<uint8_t>(s.currentPlayer);
    move.point = to;
    race.events.push_back(move);
    ASSERT_EQ(CommitMove(s, to.x, to.y), 0);
    NextTurn(s);
  }
  for (int car = 0; car < kMaxPlayers; ++car) driverChoices.driver[car] = race.drivers[car];
  DrawBoard();
  const std::vector<uint16_t> live(framePicture.pixels, framePicture.pixels + 240 * 320);

  RaceFile read;
  RaceProgress progress;
  std::string error;
  ASSERT_EQ(ParseRace(FormatRace(race), "r", &read, &error), 0) << error;
  ASSERT_EQ(ReplayRace(read, "r", s, &progress, &error), 0) << error;
  for (int car = 0; car < kMaxPlayers; ++car) driverChoices.driver[car] = progress.drivers[car];
  DrawBoard();
  const std::vector<uint16_t> replayed(framePicture.pixels, framePicture.pixels + 240 * 320);
  EXPECT_TRUE(live == replayed);
}
