// Circuit descriptions: reading them, laying out their centre line, and building a circuit from
// them.
#include "tools/track_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "data/circuit.h"
#include "rules/commit.h"
#include "tests/support.h"
#include "tools/circuit_data.h"
#include "tools/tool_error.h"
#include "tools/track_builder.h"

namespace {

// A rounded square, clockwise: 100-pixel straights and four quarter bends of radius 30.
const char kSquare[] =
    "name Square\n"
    "size 240 240\n"
    "width 24\n"
    "start 70 40 0\n"
    "straight 100\n"
    "right 90 30\nstraight 100\nright 90 30\nstraight 100\nright 90 30\nstraight 100\nright 90 30\n";

TrackPlan PlanOf(const TempFolder& folder, const std::string& text) {
  WriteText(folder.HostFile("plan.txt"), text);
  return ReadTrackPlan(folder.HostFile("plan.txt"));
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ToolError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(TrackPlan, AClosedLoopIsLaidOutAlongItsPieces) {
  TempFolder folder;
  const TrackPlan plan = PlanOf(folder, kSquare);
  EXPECT_EQ(plan.name, "Square");
  ASSERT_EQ(plan.pieces.size(), 8u);
  const CentreLine line = LayOut(plan);
  const float pi = 3.14159265f;
  EXPECT_NEAR(line.length, 400 + 2 * pi * 30, 0.01);
  EXPECT_NEAR(line.points[0].x, 70, 1e-4);
  EXPECT_NEAR(line.points[0].y, 40, 1e-4);
  // Half-way round, the line runs west along the bottom, 2 * 30 + 100 below the start.
  size_t half = 0;
  while (line.arc[half] < line.length / 2) ++half;
  EXPECT_NEAR(line.points[half].y, 200, 0.6);
  EXPECT_LT(line.curvature[0], 1e-6);
  EXPECT_NEAR(line.curvature[120], 1 / 30.0, 1e-6);
}

TEST(TrackPlan, DescriptionsThatMakeNoLoopAreRefusedWithTheirReason) {
  TempFolder folder;
  const struct {
    std::string text;
    std::string says;
  } cases[] = {
      {"size 100 100\nwidth 20\nstart 10 10 0\nstraight 10\nhop 3\n", "line 5: unknown word 'hop'"},
      {"size 100 100\nwidth 20\nstart 10 10 0\nstraight x\n", "line 4: straight needs a number"},
      {"size 100 100\nwidth 20\nstart 10 10 0\nleft 90 0\n", "line 4: a bend needs an angle and a radius above 0"},
      {"size 100 100\nwidth 20\nstraight 10\n", "has no start"},
      {"size 100 100\nwidth 20\nstart 10 10 0 7\n", "line 3: unexpected '7'"},
      {"size 10 100\nwidth 20\nstart 10 10 0\nstraight 10\n", "the size must be"},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf([&] { PlanOf(folder, c.text); });
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  const std::string open = ErrorOf([&] {
    LayOut(PlanOf(folder,
                  "name Open\nsize 240 240\nwidth 24\nstart 70 40 0\nstraight 100\nright 90 30\nstraight 100\n"
                  "right 90 30\nstraight 100\nright 90 30\nstraight 80\nright 90 30\n"));
  });
  EXPECT_NE(open.find("end 0,20 pixels away from the start"), std::string::npos) << open;
  const std::string spiral =
      ErrorOf([&] { LayOut(PlanOf(folder, "name Spiral\nsize 240 240\nwidth 24\nstart 70 40 0\nright 270 30\n")); });
  EXPECT_NE(spiral.find("turn by 270"), std::string::npos) << spiral;
}

TEST(TrackBuilder, BuildsASoundCircuitWithItsLineAcrossTheTrack) {
  TempFolder folder;
  const CircuitData c = BuildCircuit(PlanOf(folder, kSquare));
  EXPECT_EQ(CircuitProblems(c), std::vector<std::string>{});
  EXPECT_EQ(c.width, 240);
  // The line crosses the top straight at x = 70, two cells into the grass on either side of the
  // 24-pixel track (rows 28 to 51).
  EXPECT_EQ(c.lineA, (GridPoint{70, 25}));
  EXPECT_EQ(c.lineB, (GridPoint{70, 54}));
  EXPECT_EQ(c.start, (GridPoint{82, 40}));
  EXPECT_FALSE(c.Blocked(70, 28));
  EXPECT_TRUE(c.Blocked(70, 27));
  EXPECT_FALSE(c.Blocked(70, 51));
  EXPECT_TRUE(c.Blocked(70, 52));
  // Inside the square, outside it, and in the corners beyond the bends: grass.
  EXPECT_TRUE(c.Blocked(120, 120));
  EXPECT_TRUE(c.Blocked(5, 5));
  EXPECT_TRUE(c.Blocked(30, 30));
}

TEST(TrackBuilder, RefusesTracksThatLeaveThePictureTouchThemselvesOrFoldInCorners) {
  TempFolder folder;
  std::string offPicture = kSquare;
  offPicture.replace(offPicture.find("start 70 40"), 11, "start 70 10");
  std::string crowded = kSquare;
  crowded.replace(crowded.find("width 24"), 8, "width 60");
  const struct {
    std::string text;
    std::string says;
  } cases[] = {
      {offPicture, "runs off the picture"},
      {"name Pin\nsize 300 200\nwidth 24\nstart 60 60 0\nstraight 150\nright 180 15\nstraight 150\nright 180 15\n",
       "comes too close to itself"},
      {crowded, "tighter than the track is wide"},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf([&] { BuildCircuit(PlanOf(folder, c.text)); });
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}
