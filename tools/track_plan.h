// A circuit description: the centre line as straights and bends, the track's width, the picture
// size. Read from the text files in assets/circuits.
//
//   size W H              the picture, in pixels
//   width N               the track's width from grass to grass
//   start X Y HEADING     the centre of the start/finish line and the racing direction there, in
//                         degrees (0 = right, 90 = down); the line lies across the track here
//   grid N                how far past the line the cars start (default 12)
//   straight LENGTH       drive straight on
//   left ANGLE RADIUS     bend left (anticlockwise on screen) by the angle, on the radius
//   right ANGLE RADIUS    bend right
//   trees N               how many trees may stand on the grass (default 0)
//
// The bends must add up to one full turn, and the last piece must end near the start: what is
// missing, at most a few pixels, is spread evenly over the whole line.
#pragma once

#include <string>
#include <vector>

#include "tools/canvas.h"

struct TrackPlan {
  std::string name;
  int width = 0;
  int height = 0;
  float trackWidth = 0;
  Point start;
  float heading = 0;  // degrees
  float grid = 12;
  int trees = 0;

  struct Piece {
    float length = 0;     // along the centre line
    float curvature = 0;  // 1 / radius; positive bends right (clockwise on screen), 0 straight
  };
  std::vector<Piece> pieces;
};

// Throws ToolError naming the file and line of anything it can't read.
TrackPlan ReadTrackPlan(const std::string& path);

// The centre line sampled every pixel or so, as a closed loop starting on the start/finish line.
struct CentreLine {
  std::vector<Point> points;
  std::vector<float> curvature;  // of the piece each point lies on
  std::vector<float> arc;        // distance along the line from the start
  float length = 0;
};

// Lays out the pieces. Throws ToolError when the pieces don't close into a loop.
CentreLine LayOut(const TrackPlan& plan);
