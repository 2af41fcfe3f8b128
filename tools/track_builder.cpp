// Building circuits from descriptions: distance field, painting, collision grid, points.
#include "tools/track_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

#include "tools/data_pictures.h"
#include "tools/tool_error.h"

namespace {

// ---- Palette of the circuits ------------------------------------------------------------------

constexpr Rgb kGrassA = Rgb8(78, 150, 64);
constexpr Rgb kGrassB = Rgb8(66, 134, 56);
constexpr Rgb kGrassEdge = Rgb8(38, 82, 34);
constexpr Rgb kGravel = Rgb8(214, 192, 140);
constexpr Rgb kAsphalt = Rgb8(98, 101, 106);
constexpr Rgb kAsphaltEdge = Rgb8(78, 80, 85);
constexpr Rgb kLinePaint = Rgb8(240, 240, 236);
constexpr Rgb kKerbRed = Rgb8(206, 36, 36);
constexpr Rgb kKerbWhite = Rgb8(244, 244, 240);
constexpr Rgb kChequerDark = Rgb8(18, 18, 20);
constexpr Rgb kChequerLight = Rgb8(250, 250, 250);
constexpr Rgb kTreeDark = Rgb8(30, 88, 36);
constexpr Rgb kTreeLight = Rgb8(52, 118, 48);
constexpr Rgb kShadow = Rgb8(0, 0, 0);

constexpr float kMinGap = 8;        // grass between two stretches of track, at least
constexpr float kKerbWidth = 4;     // red and white blocks along the edge in corners
constexpr float kKerbBlock = 6;     // length of each block
constexpr float kGravelWidth = 12;  // run-off beyond tight corners
constexpr float kChequer = 3;       // side of a chequer square; the line is two squares deep
constexpr float kBoxHalf = 7;       // the start box, around the car's 10 x 10 square
constexpr int kLineReach = 2;       // cells the start/finish line reaches into the grass

// A repeatable pseudo-random value in [0, 1) for a pixel, for the texture of grass and asphalt.
float Noise(int x, int y, uint32_t salt) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + salt * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xFFFFFF) / 16777216.0f;
}

struct Field {
  int width, height;
  std::vector<float> distance;  // from the pixel's centre to the centre line
  std::vector<int> nearest;     // the centre-line point nearest to it, -1 when far away
  std::vector<int8_t> side;     // +1 right of the racing direction, -1 left
  size_t Index(int x, int y) const { return static_cast<size_t>(y) * width + x; }
};

Field Measure(const CentreLine& line, int width, int height, float reach) {
  Field f{width, height, std::vector<float>(static_cast<size_t>(width) * height, 1e9f),
          std::vector<int>(static_cast<size_t>(width) * height, -1),
          std::vector<int8_t>(static_cast<size_t>(width) * height, 0)};
  const size_t n = line.points.size();
  for (size_t i = 0; i < n; ++i) {
    const Point a = line.points[i];
    const Point b = line.points[(i + 1) % n];
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min(a.x, b.x) - reach)));
    const int x1 = std::min(width - 1, static_cast<int>(std::ceil(std::max(a.x, b.x) + reach)));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min(a.y, b.y) - reach)));
    const int y1 = std::min(height - 1, static_cast<int>(std::ceil(std::max(a.y, b.y) + reach)));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const float cx = x + 0.5f, cy = y + 0.5f;
        const float d = SegmentDistance(cx, cy, a, b);
        const size_t k = f.Index(x, y);
        if (d < f.distance[k]) {
          f.distance[k] = d;
          f.nearest[k] = static_cast<int>(i);
          const float cross = (b.x - a.x) * (cy - a.y) - (b.y - a.y) * (cx - a.x);
          f.side[k] = cross >= 0 ? 1 : -1;
        }
      }
    }
  }
  return f;
}

// How sharply the line bends around each point: the strongest curvature within a few blocks
// either side, so that kerbs start a little before a corner and end a little after it.
std::vector<float> CornerStrength(const CentreLine& line) {
  const size_t n = line.points.size();
  std::vector<float> strength(n, 0);
  const int spread = 10;
  for (size_t i = 0; i < n; ++i) {
    float best = 0;
    for (int d = -spread; d <= spread; ++d) {
      const float k = line.curvature[(i + n + d) % n];
      if (std::fabs(k) > std::fabs(best)) best = k;
    }
    strength[i] = best;
  }
  return strength;
}

std::string At(Point p) {
  std::ostringstream text;
  text << std::lround(p.x) << "," << std::lround(p.y);
  return text.str();
}

void CheckShape(const TrackPlan& plan, const CentreLine& line) {
  const float half = plan.trackWidth / 2;
  for (const TrackPlan::Piece& piece : plan.pieces) {
    if (piece.curvature != 0 && 1 / std::fabs(piece.curvature) < half + 2) {
      throw ToolError(plan.name + ": a bend of radius " +
                      std::to_string(static_cast<int>(1 / std::fabs(piece.curvature))) +
                      " is tighter than the track is wide");
    }
  }
  // No two stretches of track may touch: a car could otherwise cut across from one to the other.
  const size_t n = line.points.size();
  const float apart = plan.trackWidth + kMinGap;
  for (size_t i = 0; i < n; i += 4) {
    for (size_t j = i + 4; j < n; j += 4) {
      const float along = std::min(line.arc[j] - line.arc[i], line.length - (line.arc[j] - line.arc[i]));
      if (along < 2 * plan.trackWidth + 3 * apart) continue;
      const Point a = line.points[i], b = line.points[j];
      if (std::hypot(a.x - b.x, a.y - b.y) < apart) {
        throw ToolError(plan.name + ": the track near " + At(a) + " comes too close to itself near " + At(b));
      }
    }
  }
}

GridPoint Cell(Point p) {
  return GridPoint{static_cast<int16_t>(std::floor(p.x)), static_cast<int16_t>(std::floor(p.y))};
}

// Where the circuit starts: the start/finish line, the chequer and the start box are placed from here.
struct StartFrame {
  Point c0;           // the centre line's first point
  Point t0;           // the racing direction there
  Point n0;           // to the right of the racing direction
  Point startCentre;  // the start box's centre
};

// Every cell's colour, and the track's cells made free in c.cells.
void PaintGround(const TrackPlan& plan, const CentreLine& line, const Field& field, const std::vector<float>& corner,
                 const StartFrame& start, CircuitData& c, Canvas& canvas) {
  const int w = plan.width;
  const int h = plan.height;
  const float half = plan.trackWidth / 2;
  const Point c0 = start.c0, t0 = start.t0, n0 = start.n0, startCentre = start.startCentre;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t k = field.Index(x, y);
      const float d = field.distance[k];
      const int i = field.nearest[k];
      // Grass, mown in broad diagonal stripes.
      const bool stripe = static_cast<int>(std::floor((x + 0.6f * y) / 22.0f)) % 2 == 0;
      Rgb colour = Shade(stripe ? kGrassA : kGrassB, 0.94f + 0.1f * Noise(x, y, 1));
      if (d <= half) {
        if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2) {
          throw ToolError(plan.name + ": the track runs off the picture at " + std::to_string(x) + "," +
                          std::to_string(y));
        }
        c.cells[k] = 0;
        const float arc = line.arc[i];
        const float bend = corner[i];
        const bool tight = std::fabs(bend) > 1 / (5 * half);
        colour = Shade(kAsphalt, 0.95f + 0.08f * Noise(x, y, 2));
        if (d > half - 1) colour = kAsphaltEdge;
        if (tight && d > half - kKerbWidth) {
          colour = static_cast<int>(std::floor(arc / kKerbBlock)) % 2 ? kKerbRed : kKerbWhite;
        } else if (!tight && d > half - 3 && d <= half - 2) {
          colour = kLinePaint;  // the painted edge line of the straights
        }
        // The chequered start/finish line and the start box, measured across the track there.
        const bool nearStart = arc < plan.grid + 3 * kBoxHalf || arc > line.length - 3 * kBoxHalf;
        if (nearStart) {
          const Point p{x + 0.5f - c0.x, y + 0.5f - c0.y};
          const float u = p.x * t0.x + p.y * t0.y;
          const float v = p.x * n0.x + p.y * n0.y;
          if (u >= -kChequer && u < kChequer) {
            const int square = static_cast<int>(std::floor((u + kChequer) / kChequer)) +
                               static_cast<int>(std::floor((v + 64 * kChequer) / kChequer));
            colour = square % 2 ? kChequerDark : kChequerLight;
          }
          const Point q{x + 0.5f - startCentre.x, y + 0.5f - startCentre.y};
          const float su = std::fabs(q.x * t0.x + q.y * t0.y);
          const float sv = std::fabs(q.x * n0.x + q.y * n0.y);
          if (std::max(su, sv) < kBoxHalf && std::max(su, sv) >= kBoxHalf - 1) colour = kLinePaint;
        }
      } else if (i >= 0) {
        const float bend = corner[i];
        const bool outside = bend * field.side[k] < 0;  // away from the corner's centre
        if (std::fabs(bend) > 1 / (3.5f * half) && outside && d <= half + 2 + kGravelWidth && d > half + 2) {
          colour = Shade(kGravel, 0.9f + 0.18f * Noise(x, y, 3));
        }
        if (d <= half + 1.2f) colour = kGrassEdge;
      }
      canvas.Set(x, y, colour);
    }
  }
}

// A few trees, well clear of the track, where the grass is wide.
void PlantTrees(const TrackPlan& plan, const Field& field, Canvas& canvas) {
  const int w = plan.width;
  const int h = plan.height;
  const float half = plan.trackWidth / 2;
  uint32_t seed = 12345;
  for (char ch : plan.name) seed = seed * 31 + static_cast<unsigned char>(ch);
  int planted = 0;
  for (int attempt = 0; attempt < plan.trees * 40 && planted < plan.trees; ++attempt) {
    seed = seed * 1664525u + 1013904223u;
    const float tx = 8 + (seed >> 8) % static_cast<uint32_t>(w - 16);
    seed = seed * 1664525u + 1013904223u;
    const float ty = 8 + (seed >> 8) % static_cast<uint32_t>(h - 16);
    const float r = 5 + (seed >> 4) % 4;
    bool clear = true;
    for (int dy = -14; dy <= 14 && clear; dy += 2) {
      for (int dx = -14; dx <= 14 && clear; dx += 2) {
        const int px = static_cast<int>(tx) + dx, py = static_cast<int>(ty) + dy;
        if (px < 0 || py < 0 || px >= w || py >= h) continue;
        if (field.distance[field.Index(px, py)] < half + kGravelWidth + 8) clear = false;
      }
    }
    if (!clear) continue;
    canvas.FillCircle({tx + 2.5f, ty + 3}, r, kShadow, 0.3f);
    canvas.FillCircle({tx, ty}, r, kTreeDark);
    canvas.FillCircle({tx - r * 0.3f, ty - r * 0.3f}, r * 0.55f, kTreeLight);
    ++planted;
  }
}

}  // namespace

CircuitData BuildCircuit(const TrackPlan& plan) {
  const CentreLine line = LayOut(plan);
  CheckShape(plan, line);
  const int w = plan.width;
  const int h = plan.height;
  const float half = plan.trackWidth / 2;
  const Field field = Measure(line, w, h, half + kGravelWidth + 4);
  const std::vector<float> corner = CornerStrength(line);
  const float pi = 3.14159265f;
  const Point c0 = line.points[0];
  const Point t0{std::cos(plan.heading * pi / 180), std::sin(plan.heading * pi / 180)};
  const Point n0{-t0.y, t0.x};  // to the right of the racing direction
  const Point startCentre{c0.x + plan.grid * t0.x, c0.y + plan.grid * t0.y};

  CircuitData c;
  c.width = static_cast<uint16_t>(w);
  c.height = static_cast<uint16_t>(h);
  c.cells.assign(static_cast<size_t>(w) * h, 1);
  Canvas canvas(w, h);

  const StartFrame start{c0, t0, n0, startCentre};
  PaintGround(plan, line, field, corner, start, c, canvas);
  PlantTrees(plan, field, canvas);
  c.pixels = canvas.ToPixels(true);

  // The start/finish line: across the track at its start, from two cells inside the grass on one
  // side to two cells inside it on the other.
  auto wallEnd = [&](Point direction) {
    for (float t = 0; t < 4 * half + 40; t += 0.25f) {
      const Point p{c0.x + t * direction.x, c0.y + t * direction.y};
      const GridPoint cell = Cell(p);
      if (c.Blocked(cell.x, cell.y)) {
        const float reach = t + kLineReach + 0.5f;
        return Cell(Point{c0.x + reach * direction.x, c0.y + reach * direction.y});
      }
    }
    throw ToolError(plan.name + ": no grass beside the start/finish line");
  };
  c.lineA = wallEnd(Point{-n0.x, -n0.y});
  c.lineB = wallEnd(n0);
  c.start = Cell(startCentre);
  c.ahead = Cell(Point{c0.x + (plan.grid + 10) * t0.x, c0.y + (plan.grid + 10) * t0.y});

  const std::vector<std::string> problems = CircuitProblems(c);
  if (!problems.empty()) throw ToolError(plan.name + ": " + problems.front());
  return c;
}
