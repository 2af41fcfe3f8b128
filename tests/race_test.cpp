// A short race on a small ring, move by move, with no screen: crash, sat-out turns, a backward
// crossing and its undoing, laps, and the record lap in the circuit file.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tests/support.h"

namespace {

class RingRace : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<GameState> state = std::make_unique<GameState>();
  GameState& s = *state;

  void SetUp() override {
    WriteBytes(folder.HostFile("Ring.cct"), SmallRing().Encode());
    ASSERT_EQ(LoadCircuit(s.track, folder.File("Ring.cct")), 0);
    SetStartValues(s);
  }

  // The current player moves to p, which must be a legal choice, and the turn passes.
  void Move(GridPoint p) {
    const GridPoint predicted = PredictedPoint(s.players[s.currentPlayer]);
    ASSERT_TRUE(
        IsWithinReach(static_cast<int16_t>(p.x - predicted.x), static_cast<int16_t>(p.y - predicted.y), s.moveRadius))
        << "player " << s.currentPlayer << " can't reach " << p.x << "," << p.y;
    ASSERT_EQ(CommitMove(s, p.x, p.y), 0);
    NextTurn(s);
  }
  void Stay() { Move(s.players[s.currentPlayer].trail[s.players[s.currentPlayer].lastIndex]); }
};

}  // namespace

TEST_F(RingRace, TwoCarsRaceALapAndTheRecordLastsInTheFile) {
  const std::vector<GridPoint> lap = SmallRingLap();
  PlayerRecord& racer = s.players[0];
  PlayerRecord& crasher = s.players[1];
  size_t next = 0;

  // Round 0: the racer sets off; the other car drives into the outer wall.
  Move(lap[next++]);
  Move({31, 0});
  EXPECT_EQ(crasher.waitTurns, 2);
  EXPECT_EQ(crasher.lastIndex, 5);
  EXPECT_EQ(PredictedPoint(crasher), (GridPoint{31, 8}));

  // It sits out two turns: the racer moves three times in a row, a round counted at each wrap.
  ASSERT_EQ(s.currentPlayer, 0);
  EXPECT_EQ(s.round, 1);
  Move(lap[next++]);
  EXPECT_EQ(s.currentPlayer, 0);
  EXPECT_EQ(crasher.waitTurns, 1);
  Move(lap[next++]);
  EXPECT_EQ(s.currentPlayer, 0);
  EXPECT_EQ(crasher.waitTurns, 0);
  Move(lap[next++]);
  EXPECT_EQ(s.currentPlayer, 1);
  EXPECT_EQ(s.round, 3);

  // Back across the line, then forward again: the forward crossing only undoes the backward one.
  Move({27, 8});
  EXPECT_EQ(crasher.reverseCrossings, 1);
  Move(lap[next++]);
  Move({33, 8});
  EXPECT_EQ(crasher.reverseCrossings, 0);
  EXPECT_EQ(crasher.laps, 0);

  // The racer completes its lap while the other car waits on the straight.
  while (next < lap.size()) {
    Move(lap[next++]);
    if (next < lap.size()) Stay();
  }
  EXPECT_EQ(racer.laps, 1);
  EXPECT_EQ(racer.waitTurns, 0);
  const uint16_t lapIndex = racer.lastIndex;
  EXPECT_EQ(lapIndex, s.round + 3) << "one trail point per round, the lap made in round " << s.round;
  EXPECT_EQ(s.track.recordCount, lapIndex);
  EXPECT_EQ(s.track.recordRounds, lapIndex - 2);

  // A fresh load reads the record from the file: the racer's trail from its second point.
  auto reloaded = std::make_unique<TrackGrid>();
  ASSERT_EQ(LoadCircuit(*reloaded, folder.File("Ring.cct")), 0);
  ASSERT_EQ(reloaded->recordCount, lapIndex);
  for (uint16_t i = 0; i < lapIndex; ++i) {
    ASSERT_EQ(reloaded->recordTrail[i], racer.trail[i + 1]) << i;
  }

  // A second lap takes more rounds than the record: counted, but the file keeps the record.
  const Bytes file = ReadBytes(folder.HostFile("Ring.cct"));
  Stay();  // the other car
  for (size_t i = 0; i < lap.size(); ++i) {
    Move(lap[i]);
    Stay();
  }
  EXPECT_EQ(racer.laps, 2);
  EXPECT_EQ(s.track.recordCount, lapIndex);
  EXPECT_EQ(ReadBytes(folder.HostFile("Ring.cct")), file);
}

TEST_F(RingRace, AFasterLapInALaterRaceReplacesTheRecord) {
  const std::vector<GridPoint> lap = SmallRingLap();
  s.playerCount = 1;
  // A slow lap first: the car waits three rounds at the start.
  Stay();
  Stay();
  Stay();
  for (GridPoint p : lap) Move(p);
  ASSERT_EQ(s.players[0].laps, 1);
  const uint16_t slow = s.track.recordRounds;

  // A new race on the same circuit, loaded afresh: the same lap without waiting is faster.
  auto next = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(next->track, folder.File("Ring.cct")), 0);
  SetStartValues(*next);
  next->playerCount = 1;
  ASSERT_EQ(next->track.recordRounds, slow);
  for (GridPoint p : lap) {
    ASSERT_EQ(CommitMove(*next, p.x, p.y), 0);
    NextTurn(*next);
  }
  EXPECT_EQ(next->players[0].laps, 1);
  EXPECT_EQ(next->track.recordRounds, slow - 3);
  auto reloaded = std::make_unique<TrackGrid>();
  ASSERT_EQ(LoadCircuit(*reloaded, folder.File("Ring.cct")), 0);
  EXPECT_EQ(reloaded->recordRounds, slow - 3);
}

TEST(TurnOrder, SkipsPlayersSittingOutAndCountsEveryWrap) {
  auto state = std::make_unique<GameState>();
  GameState& s = *state;
  s.playerCount = 2;
  s.players[1].waitTurns = 2;
  NextTurn(s);  // 0 -> skip 1 -> 0
  EXPECT_EQ(s.currentPlayer, 0);
  EXPECT_EQ(s.players[1].waitTurns, 1);
  EXPECT_EQ(s.round, 1);
  NextTurn(s);
  EXPECT_EQ(s.currentPlayer, 0);
  EXPECT_EQ(s.players[1].waitTurns, 0);
  EXPECT_EQ(s.round, 2);
  NextTurn(s);
  EXPECT_EQ(s.currentPlayer, 1);
  EXPECT_EQ(s.round, 2);

  // One player who crashed: three wraps at the next turn change, and it moves again.
  auto alone = std::make_unique<GameState>();
  alone->playerCount = 1;
  alone->players[0].waitTurns = 2;
  NextTurn(*alone);
  EXPECT_EQ(alone->currentPlayer, 0);
  EXPECT_EQ(alone->round, 3);

  // The player count lowered below the current player: the next change wraps to player 0.
  auto lowered = std::make_unique<GameState>();
  lowered->playerCount = 2;
  lowered->currentPlayer = 5;
  NextTurn(*lowered);
  EXPECT_EQ(lowered->currentPlayer, 0);
  EXPECT_EQ(lowered->round, 1);

  // The round counter wraps in 16 bits.
  auto old = std::make_unique<GameState>();
  old->playerCount = 1;
  old->round = 65535;
  NextTurn(*old);
  EXPECT_EQ(old->round, 0);
}
