// Canvas painting: soft-edged shapes from distance functions, masks, and 16-bit conversion.
#include "tools/canvas.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "gfx/colour.h"  // Pack565 alone: files are 5-6-5 whatever the screen shows

namespace {

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// Coverage of a pixel whose centre lies at signed distance d from an edge: a one-pixel ramp.
float Coverage(float d) { return Clamp01(0.5f - d); }

}  // namespace

Rgb Mix(Rgb a, Rgb b, float t) { return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

Rgb Shade(Rgb c, float factor) {
  if (factor <= 1) return Rgb{c.r * factor, c.g * factor, c.b * factor};
  return Mix(c, Rgb{1, 1, 1}, Clamp01(factor - 1));
}

Mask Dilate(const Mask& mask, float radius) {
  const int r = static_cast<int>(std::ceil(radius));
  Mask out(mask.width + 2 * r, mask.height + 2 * r);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      float best = 0;
      for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
          const float a = mask.At(x - r + dx, y - r + dy);
          if (a <= best) continue;
          const float reach = Clamp01(radius + 0.5f - std::sqrt(static_cast<float>(dx * dx + dy * dy)));
          best = std::max(best, a * reach);
        }
      }
      out.Ref(x, y) = best;
    }
  }
  return out;
}

Mask Blur(const Mask& mask, int radius) {
  Mask out(mask.width + 2 * radius, mask.height + 2 * radius);
  const float area = static_cast<float>((2 * radius + 1) * (2 * radius + 1));
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      float sum = 0;
      for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) sum += mask.At(x - radius + dx, y - radius + dy);
      }
      out.Ref(x, y) = sum / area;
    }
  }
  return out;
}

Canvas::Canvas(int width, int height, Rgb fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

void Canvas::Set(int x, int y, Rgb c) {
  if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[Index(x, y)] = c;
}

void Canvas::Blend(int x, int y, Rgb c, float alpha) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0) return;
  Rgb& p = pixels_[Index(x, y)];
  p = Mix(p, c, Clamp01(alpha));
}

void Canvas::Fill(Rgb c) { std::fill(pixels_.begin(), pixels_.end(), c); }

void Canvas::VerticalGradient(int left, int top, int right, int bottom, Rgb from, Rgb to) {
  const float span = static_cast<float>(std::max(1, bottom - top - 1));
  for (int y = top; y < bottom; ++y) {
    const Rgb c = Mix(from, to, static_cast<float>(y - top) / span);
    for (int x = left; x < right; ++x) Set(x, y, c);
  }
}

void Canvas::FillShape(float left, float top, float right, float bottom, const Distance& shape, Rgb c, float alpha) {
  FillShape(
      left, top, right, bottom, shape, [c](float, float) { return c; }, alpha);
}

void Canvas::FillShape(float left, float top, float right, float bottom, const Distance& shape,
                       const std::function<Rgb(float x, float y)>& colour, float alpha) {
  const int x0 = std::max(0, static_cast<int>(std::floor(left)) - 1);
  const int y0 = std::max(0, static_cast<int>(std::floor(top)) - 1);
  const int x1 = std::min(width_, static_cast<int>(std::ceil(right)) + 1);
  const int y1 = std::min(height_, static_cast<int>(std::ceil(bottom)) + 1);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const float cx = x + 0.5f;
      const float cy = y + 0.5f;
      const float cover = Coverage(shape(cx, cy));
      if (cover > 0) Blend(x, y, colour(cx, cy), cover * alpha);
    }
  }
}

void Canvas::FillCircle(Point centre, float radius, Rgb c, float alpha) {
  FillShape(
      centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius,
      [=](float x, float y) { return CircleDistance(x, y, centre, radius); }, c, alpha);
}

void Canvas::StrokeCircle(Point centre, float radius, float thickness, Rgb c, float alpha) {
  const float outer = radius + thickness / 2;
  FillShape(
      centre.x - outer, centre.y - outer, centre.x + outer, centre.y + outer,
      [=](float x, float y) { return std::fabs(CircleDistance(x, y, centre, radius)) - thickness / 2; }, c, alpha);
}

void Canvas::FillRoundRect(float left, float top, float right, float bottom, float radius, Rgb c, float alpha) {
  FillShape(
      left, top, right, bottom,
      [=](float x, float y) { return RoundRectDistance(x, y, left, top, right, bottom, radius); }, c, alpha);
}

void Canvas::StrokeRoundRect(float left, float top, float right, float bottom, float radius, float thickness, Rgb c,
                             float alpha) {
  // The stroke lies inside the rectangle, so that a button's frame never spills over its box.
  const float h = thickness / 2;
  FillShape(
      left, top, right, bottom,
      [=](float x, float y) {
        return std::fabs(
                   RoundRectDistance(x, y, left + h, top + h, right - h, bottom - h, std::max(0.0f, radius - h))) -
               h;
      },
      c, alpha);
}

void Canvas::StrokeLine(Point a, Point b, float thickness, Rgb c, float alpha) {
  const float h = thickness / 2;
  FillShape(
      std::min(a.x, b.x) - h, std::min(a.y, b.y) - h, std::max(a.x, b.x) + h, std::max(a.y, b.y) + h,
      [=](float x, float y) { return SegmentDistance(x, y, a, b) - h; }, c, alpha);
}

namespace {

// The smallest rectangle holding every point: left, top, right, bottom.
std::array<float, 4> BoundsOf(const std::vector<Point>& points) {
  std::array<float, 4> b{points[0].x, points[0].y, points[0].x, points[0].y};
  for (Point p : points) {
    b[0] = std::min(b[0], p.x);
    b[1] = std::min(b[1], p.y);
    b[2] = std::max(b[2], p.x);
    b[3] = std::max(b[3], p.y);
  }
  return b;
}

}  // namespace

void Canvas::StrokePolyline(const std::vector<Point>& points, float thickness, Rgb c, bool closed, float alpha) {
  if (points.size() < 2) return;
  const auto [left, top, right, bottom] = BoundsOf(points);
  const float h = thickness / 2;
  // One shape for the whole line, so that joints are not painted twice.
  FillShape(
      left - h, top - h, right + h, bottom + h,
      [&](float x, float y) {
        float best = 1e9f;
        const size_t n = points.size();
        const size_t segments = closed ? n : n - 1;
        for (size_t i = 0; i < segments; ++i) {
          best = std::min(best, SegmentDistance(x, y, points[i], points[(i + 1) % n]));
        }
        return best - h;
      },
      c, alpha);
}

void Canvas::FillPolygon(const std::vector<Point>& points, Rgb c, float alpha) {
  if (points.size() < 3) return;
  const auto [left, top, right, bottom] = BoundsOf(points);
  FillShape(
      left, top, right, bottom, [&](float x, float y) { return PolygonDistance(x, y, points); }, c, alpha);
}

void Canvas::PaintMask(const Mask& mask, int x, int y, Rgb c, float alpha) {
  PaintMask(
      mask, x, y, [c](int, int) { return c; }, alpha);
}

void Canvas::PaintMask(const Mask& mask, int x, int y, const std::function<Rgb(int, int)>& colour, float alpha) {
  for (int my = 0; my < mask.height; ++my) {
    for (int mx = 0; mx < mask.width; ++mx) {
      const float a = mask.alpha[static_cast<size_t>(my) * mask.width + mx];
      if (a > 0) Blend(x + mx, y + my, colour(x + mx, y + my), a * alpha);
    }
  }
}

uint16_t Quantise(float value, int bits) {
  const float top = static_cast<float>((1 << bits) - 1);
  return static_cast<uint16_t>(std::lround(Clamp01(value) * top));
}

uint16_t PixelOf(Rgb c) { return Pack565(Quantise(c.r, 5), Quantise(c.g, 6), Quantise(c.b, 5)); }

std::vector<uint16_t> Canvas::ToPixels(bool dither) const {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  std::vector<uint16_t> out(pixels_.size());
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const Rgb c = pixels_[Index(x, y)];
      if (!dither) {
        out[Index(x, y)] = PixelOf(c);
        continue;
      }
      // Threshold in (0, 1): the channel is rounded up where its fraction passes the threshold,
      // so a flat area keeps its average brightness.
      const float t = (kBayer[y & 3][x & 3] + 0.5f) / 16.0f;
      auto channel = [t](float v, int bits) {
        const float top = static_cast<float>((1 << bits) - 1);
        const float scaled = Clamp01(v) * top;
        const float whole = std::floor(scaled);
        const float value = whole + (scaled - whole > t ? 1.0f : 0.0f);
        return static_cast<uint16_t>(std::min(value, top));
      };
      out[Index(x, y)] = Pack565(channel(c.r, 5), channel(c.g, 6), channel(c.b, 5));
    }
  }
  return out;
}

float CircleDistance(float x, float y, Point centre, float radius) {
  return std::hypot(x - centre.x, y - centre.y) - radius;
}

float RoundRectDistance(float x, float y, float left, float top, float right, float bottom, float radius) {
  const float cx = (left + right) / 2;
  const float cy = (top + bottom) / 2;
  const float hx = (right - left) / 2 - radius;
  const float hy = (bottom - top) / 2 - radius;
  const float qx = std::fabs(x - cx) - hx;
  const float qy = std::fabs(y - cy) - hy;
  const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
  const float inside = std::min(std::max(qx, qy), 0.0f);
  return outside + inside - radius;
}

float SegmentDistance(float x, float y, Point a, Point b) {
  const float dx = b.x - a.x;
  const float dy = b.y - a.y;
  const float length2 = dx * dx + dy * dy;
  float t = length2 > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / length2 : 0;
  t = Clamp01(t);
  return std::hypot(x - (a.x + t * dx), y - (a.y + t * dy));
}

float PolygonDistance(float x, float y, const std::vector<Point>& points) {
  float best = 1e9f;
  bool inside = false;
  const size_t n = points.size();
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const Point a = points[j];
    const Point b = points[i];
    best = std::min(best, SegmentDistance(x, y, a, b));
    if ((a.y > y) != (b.y > y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y)) inside = !inside;
  }
  return inside ? -best : best;
}
