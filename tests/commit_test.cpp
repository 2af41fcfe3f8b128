// Committing moves: crashes, start/finish line crossings, laps and the full trail.
#include "rules/commit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>

namespace {

// A 100 x 100 free track with a vertical start/finish line at x = 50 from y = 20 to y = 60,
// raced left to right, and a wall of blocked cells at y = 90.
struct Race {
  std::unique_ptr<GameState> state = std::make_unique<GameState>();
  GameState& s = *state;
  PlayerRecord& car = s.players[0];

  Race() {
    TrackGrid& t = s.track;
    t.width = t.height = 100;
    t.collisionGrid = static_cast<uint8_t*>(std::calloc(100 * 100, 1));
    for (int x = 0; x < 100; ++x) t.collisionGrid[90 * 100 + x] = 1;
    t.finishLineA = {50, 20};
    t.finishLineB = {50, 60};
    t.aheadPoint = {60, 40};
    t.startPoint = {40, 40};
    s.playerCount = 1;
    PlaceCarsOnStart(s);
  }
  // Puts the car on p with a zero move vector, as a new race does.
  void Stand(GridPoint p) { car.trail[car.lastIndex - 1] = car.trail[car.lastIndex] = p; }
};

}  // namespace

TEST(SideOfLine, ReproducesTheSinglePrecisionAnswers) {
  struct Case {
    GridPoint p1, p2, q;
    int side;
  };
  const Case cases[] = {
      // vertical lines: infinities, and not-a-number in line with them
      {{10, 0}, {10, 50}, {11, 5}, 0},
      {{10, 0}, {10, 50}, {9, 5}, 1},
      {{10, 0}, {10, 50}, {10, 5}, 0},
      {{10, 50}, {10, 0}, {11, 5}, 1},
      {{10, 50}, {10, 0}, {9, 5}, 0},
      {{10, 50}, {10, 0}, {10, 5}, 0},
      // a single point as the line: every point is on side 0
      {{7, 7}, {7, 7}, {0, 0}, 0},
      {{7, 7}, {7, 7}, {7, 7}, 0},
      {{7, 7}, {7, 7}, {9, -3}, 0},
      // a diagonal, both ways round; a point on the line is 0, or 1 with the ends exchanged
      {{0, 0}, {10, 10}, {5, 6}, 1},
      {{0, 0}, {10, 10}, {5, 4}, 0},
      {{0, 0}, {10, 10}, {5, 5}, 0},
      {{10, 10}, {0, 0}, {5, 6}, 0},
      {{10, 10}, {0, 0}, {5, 4}, 1},
      {{10, 10}, {0, 0}, {5, 5}, 1},
      // a shallow line far from the origin
      {{-3000, 100}, {3000, 101}, {0, 101}, 1},
      {{-3000, 100}, {3000, 101}, {0, 100}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SideOfLine(c.p1, c.p2, c.q), c.side) << "(" << c.p1.x << "," << c.p1.y << ")-(" << c.p2.x << "," << c.p2.y
                                                   << ") q (" << c.q.x << "," << c.q.y << ")";
  }
}

TEST(CommitMove, ACrashGoesBackAndSitsOutTwoTurns) {
  Race r;
  const GridPoint s = r.s.track.startPoint;
  r.Stand({40, 80});
  ASSERT_EQ(CommitMove(r.s, 40, 95), 0);
  EXPECT_EQ(r.car.lastIndex, 5);
  EXPECT_EQ(r.car.waitTurns, 2);
  const GridPoint expected[] = {s, {40, 80}, {40, 80}, {40, 95}, {40, 80}, {40, 80}};
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(r.car.trail[i], expected[i]) << i;
}

TEST(CommitMove, ACrashOnTheFirstMoveLeavesTheCarOnTheStart) {
  Race r;
  r.s.track.startPoint = {40, 85};
  PlaceCarsOnStart(r.s);
  ASSERT_EQ(CommitMove(r.s, 40, 95), 0);
  const GridPoint s{40, 85};
  const GridPoint trail[] = {s, s, s, {40, 95}, s, s};
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(r.car.trail[i], trail[i]) << i;
  EXPECT_EQ(r.car.lastIndex, 5);
  EXPECT_EQ(r.car.waitTurns, 2);
}

TEST(CommitMove, CountsOnlyCleanForwardCrossingsOfTheSegment) {
  struct Case {
    const char* name;
    GridPoint from, to;
    int reverse, laps;
  };
  const Case cases[] = {
      {"forward across the line", {45, 40}, {55, 40}, 0, 1},
      {"backward across the line", {55, 40}, {45, 40}, 1, 0},
      {"beside the segment, above it", {45, 10}, {55, 10}, 0, 0},
      {"beside the segment, below it", {45, 89}, {55, 89}, 0, 0},
      {"up to the line, not across", {45, 40}, {49, 40}, 0, 0},
      // a point on the line is on side 0, the racing side of this line
      {"onto the line from behind it", {45, 40}, {50, 40}, 0, 1},
      {"onto the line from ahead of it", {55, 40}, {50, 40}, 0, 0},
      {"off the line backwards", {50, 40}, {45, 40}, 1, 0},
      {"crossing into the wall", {45, 85}, {55, 95}, 0, 0},
  };
  for (const Case& c : cases) {
    Race r;
    r.s.track.finishLineB = {50, 88};  // long enough for the crash case to cross it
    r.Stand(c.from);
    ASSERT_EQ(CommitMove(r.s, c.to.x, c.to.y), 0) << c.name;
    EXPECT_EQ(r.car.reverseCrossings, c.reverse) << c.name;
    EXPECT_EQ(r.car.laps, c.laps) << c.name;
  }
}

TEST(CommitMove, BackwardCrossingsMustBeUndoneBeforeALapCounts) {
  struct Step {
    GridPoint to;
    int reverse, laps;
  };
  // Two backward crossings (the second after going round the end of the line), then two forward
  // ones that only undo them, then the forward crossing that counts.
  const Step steps[] = {
      {{45, 40}, 1, 0}, {{45, 10}, 1, 0}, {{55, 10}, 1, 0}, {{45, 40}, 2, 0}, {{55, 40}, 1, 0},
      {{55, 10}, 1, 0}, {{45, 10}, 1, 0}, {{45, 40}, 1, 0}, {{55, 40}, 0, 0}, {{55, 10}, 0, 0},
      {{45, 10}, 0, 0}, {{45, 40}, 0, 0}, {{55, 40}, 0, 1},
  };
  Race r;
  r.Stand({55, 40});
  for (size_t i = 0; i < std::size(steps); ++i) {
    ASSERT_EQ(CommitMove(r.s, steps[i].to.x, steps[i].to.y), 0);
    EXPECT_EQ(r.car.reverseCrossings, steps[i].reverse) << "step " << i;
    EXPECT_EQ(r.car.laps, steps[i].laps) << "step " << i;
  }
}

// A trail holds 5001 points: a move that needs more room is refused and changes nothing.
TEST(CommitMove, AFullTrailRefusesMovesThatNeedMoreRoom) {
  struct Case {
    uint16_t lastIndex;
    bool crash;
    int result;
    uint16_t after;
  };
  const Case cases[] = {
      {4999, false, 0, 5000}, {5000, false, 1, 5000}, {4997, true, 0, 5000},
      {4998, true, 1, 4998},  {4999, true, 1, 4999},
  };
  for (const Case& c : cases) {
    Race r;
    r.car.lastIndex = c.lastIndex;
    r.Stand({40, 80});
    const int16_t y = c.crash ? 95 : 85;
    EXPECT_EQ(CommitMove(r.s, 40, y), c.result) << c.lastIndex;
    EXPECT_EQ(r.car.lastIndex, c.after) << c.lastIndex;
    EXPECT_EQ(r.car.waitTurns, c.result == 0 && c.crash ? 2 : 0) << c.lastIndex;
  }
}
