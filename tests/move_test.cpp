// Move geometry: the line walk, the path test, the reach rule and the predicted point.
#include "rules/move.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "gfx/line_walk.h"

namespace {

using Cells = std::vector<std::pair<int, int>>;

Cells Walk(int x0, int y0, int x1, int y1) {
  Cells cells;
  WalkLine(x0, y0, x1, y1, [&cells](int x, int y) {
    cells.emplace_back(x, y);
    return false;
  });
  return cells;
}

// A 20 x 20 track, all free, owning its grid.
struct OpenTrack {
  std::unique_ptr<TrackGrid> track = std::make_unique<TrackGrid>();
  OpenTrack() {
    track->width = track->height = 20;
    track->collisionGrid = static_cast<uint8_t*>(std::calloc(400, 1));
  }
  void Set(int x, int y, uint8_t value) { track->collisionGrid[y * 20 + x] = value; }
};

}  // namespace

TEST(LineWalk, VisitsTheCellsOfTheWorkedSamplesInEitherDirection) {
  struct Case {
    int x0, y0, x1, y1;
    Cells cells;
  };
  const Case cases[] = {
      {0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}}},
      {2, 0, 0, 3, {{2, 0}, {1, 1}, {1, 2}, {0, 3}}},
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {10, 10, 13, 9, {{10, 10}, {11, 10}, {12, 9}, {13, 9}}},
      {0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}}},
      {0, 4, 3, 0, {{3, 0}, {2, 1}, {2, 2}, {1, 3}, {0, 4}}},
      {7, 7, 7, 7, {{7, 7}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Walk(c.x0, c.y0, c.x1, c.y1), c.cells) << c.x0 << "," << c.y0 << " to " << c.x1 << "," << c.y1;
    Cells reversed = Walk(c.x1, c.y1, c.x0, c.y0);
    std::sort(reversed.begin(), reversed.end());
    Cells expected = c.cells;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(reversed, expected) << "reverse of " << c.x0 << "," << c.y0;
  }
}

TEST(PathTest, OnlyCellsTheWalkVisitsCount) {
  OpenTrack t;
  const TrackGrid& track = *t.track;
  EXPECT_FALSE(IsPathBlocked(track, 2, 2, 15, 9));

  t.Set(15, 9, 1);
  EXPECT_TRUE(IsPathBlocked(track, 2, 2, 15, 9)) << "blocked end cell";
  EXPECT_TRUE(IsPathBlocked(track, 15, 9, 2, 2)) << "blocked start cell";
  EXPECT_TRUE(IsPathBlocked(track, 15, 9, 15, 9)) << "zero-length move on a blocked cell";
  t.Set(15, 9, 0);

  // Between two diagonal blocked cells: the walk from (0, 0) to (1, 1) slips through.
  t.Set(1, 0, 1);
  t.Set(0, 1, 1);
  EXPECT_FALSE(IsPathBlocked(track, 0, 0, 1, 1));
  EXPECT_TRUE(IsPathBlocked(track, 0, 0, 2, 1));

  for (uint8_t value : {0, 2, 255}) {
    t.Set(5, 5, value);
    EXPECT_FALSE(IsPathBlocked(track, 5, 0, 5, 10)) << "cell value " << int(value);
  }
}

TEST(PathTest, EverythingOutsideTheGridIsBlocked) {
  OpenTrack t;
  const TrackGrid& track = *t.track;
  struct Case {
    int16_t x0, y0, x1, y1;
  };
  const Case leaving[] = {
      {0, 5, -1, 5}, {19, 5, 20, 5}, {5, 0, 5, -3}, {5, 19, 5, 20}, {-30000, 5, 5, 5}, {5, 5, 32767, 32767},
  };
  for (const Case& c : leaving) EXPECT_TRUE(IsPathBlocked(track, c.x0, c.y0, c.x1, c.y1));
  EXPECT_FALSE(IsPathBlocked(track, 0, 0, 19, 19));

  auto none = std::make_unique<TrackGrid>();  // nothing loaded
  EXPECT_TRUE(IsPathBlocked(*none, 0, 0, 0, 0));
}

TEST(ReachRule, IsStrictlyInsideRadiusTwenty) {
  struct Case {
    int16_t dx, dy;
    bool reachable;
  };
  const Case cases[] = {
      {12, 16, false}, {-12, -16, false}, {20, 0, false}, {0, -20, false},
      {14, 14, true},  {19, 0, true},     {0, 0, true},   {-19, 5, true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWithinReach(c.dx, c.dy, 20), c.reachable) << c.dx << "," << c.dy;
}

TEST(PredictedPoint, KeepsTheLastMoveVector) {
  auto player = std::make_unique<PlayerRecord>();
  player->trail[0] = player->trail[1] = player->trail[2] = GridPoint{50, 60};
  player->lastIndex = 2;
  EXPECT_EQ(PredictedPoint(*player), (GridPoint{50, 60})) << "not moved yet: the start itself";

  player->trail[3] = GridPoint{57, 55};
  player->lastIndex = 3;
  EXPECT_EQ(PredictedPoint(*player), (GridPoint{64, 50}));

  player->trail[4] = GridPoint{32000, 0};
  player->trail[5] = GridPoint{32767, 0};
  player->lastIndex = 5;
  EXPECT_EQ(PredictedPoint(*player).x, -32002) << "wraps in 16 bits";

  player->lastIndex = 0;  // a record that was never started
  player->trail[0] = GridPoint{3, 4};
  EXPECT_EQ(PredictedPoint(*player), (GridPoint{3, 4}));
}
