// Reading circuit descriptions and laying out their centre lines.
#include "tools/track_plan.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "tools/tool_error.h"

namespace {

constexpr float kPi = 3.14159265358979f;

float Number(std::istringstream& in, const std::string& where, const std::string& what) {
  float value = 0;
  if (!(in >> value)) throw ToolError(where + ": " + what + " needs a number");
  return value;
}

}  // namespace

TrackPlan ReadTrackPlan(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw ToolError("can't open the circuit description " + path);
  TrackPlan plan;
  bool started = false;
  std::string line;
  int lineNumber = 0;
  while (std::getline(file, line)) {
    ++lineNumber;
    const std::string where = path + " line " + std::to_string(lineNumber);
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) continue;
    if (word == "name") {
      std::getline(in >> std::ws, plan.name);
    } else if (word == "size") {
      plan.width = static_cast<int>(Number(in, where, "size"));
      plan.height = static_cast<int>(Number(in, where, "size"));
    } else if (word == "width") {
      plan.trackWidth = Number(in, where, "width");
    } else if (word == "start") {
      plan.start.x = Number(in, where, "start");
      plan.start.y = Number(in, where, "start");
      plan.heading = Number(in, where, "start");
      started = true;
    } else if (word == "grid") {
      plan.grid = Number(in, where, "grid");
    } else if (word == "trees") {
      plan.trees = static_cast<int>(Number(in, where, "trees"));
    } else if (word == "straight") {
      const float length = Number(in, where, "straight");
      if (length <= 0) throw ToolError(where + ": a straight needs a length above 0");
      plan.pieces.push_back({length, 0});
    } else if (word == "left" || word == "right") {
      const float angle = Number(in, where, word);
      const float radius = Number(in, where, word);
      if (angle <= 0 || radius <= 0) throw ToolError(where + ": a bend needs an angle and a radius above 0");
      const float sign = word == "right" ? 1.0f : -1.0f;
      plan.pieces.push_back({angle * kPi / 180 * radius, sign / radius});
    } else {
      throw ToolError(std::string(where).append(": unknown word '").append(word).append("'"));
    }
    std::string rest;
    if (in >> rest) throw ToolError(std::string(where).append(": unexpected '").append(rest).append("'"));
  }
  if (plan.width < 16 || plan.height < 16 || plan.width > 4000 || plan.height > 4000) {
    throw ToolError(path + ": the size must be 16 to 4000 pixels each way");
  }
  if (plan.trackWidth < 8) throw ToolError(path + ": the track must be at least 8 pixels wide");
  if (!started) throw ToolError(path + ": the description has no start");
  if (plan.pieces.empty()) throw ToolError(path + ": the description has no pieces");
  return plan;
}

CentreLine LayOut(const TrackPlan& plan) {
  CentreLine line;
  double x = plan.start.x, y = plan.start.y;
  double heading = plan.heading * kPi / 180;
  double arc = 0;
  double turned = 0;
  for (const TrackPlan::Piece& piece : plan.pieces) {
    const int steps = std::max(1, static_cast<int>(std::ceil(piece.length)));
    const double ds = piece.length / steps;
    for (int i = 0; i < steps; ++i) {
      line.points.push_back(Point{static_cast<float>(x), static_cast<float>(y)});
      line.curvature.push_back(piece.curvature);
      line.arc.push_back(static_cast<float>(arc));
      if (piece.curvature == 0) {
        x += ds * std::cos(heading);
        y += ds * std::sin(heading);
      } else {
        // Exactly on the circle, so that long bends don't drift.
        const double next = heading + piece.curvature * ds;
        x += (std::sin(next) - std::sin(heading)) / piece.curvature;
        y -= (std::cos(next) - std::cos(heading)) / piece.curvature;
        heading = next;
      }
      arc += ds;
    }
    turned += piece.curvature * piece.length;
  }
  line.length = static_cast<float>(arc);
  if (std::fabs(std::fabs(turned) - 2 * kPi) > 0.01) {
    throw ToolError("the bends of " + plan.name + " turn by " + std::to_string(turned * 180 / kPi) +
                    " degrees; a loop turns by 360");
  }
  // What is left between the end and the start is spread along the line, a little per pixel.
  const double ex = x - plan.start.x;
  const double ey = y - plan.start.y;
  const double miss = std::hypot(ex, ey);
  if (miss > 6) {
    std::ostringstream text;
    text << "the pieces of " << plan.name << " end " << std::lround(ex) << "," << std::lround(ey)
         << " pixels away from the start; a loop must close";
    throw ToolError(text.str());
  }
  for (size_t i = 0; i < line.points.size(); ++i) {
    const double share = line.arc[i] / arc;
    line.points[i].x -= static_cast<float>(ex * share);
    line.points[i].y -= static_cast<float>(ey * share);
  }
  return line;
}
