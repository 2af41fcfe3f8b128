// Drawing primitives over pictures, cut at the pictures' edges.
#include "gfx/draw.h"

#include <cmath>
#include <cstring>

#include "gfx/colour.h"
#include "rules/line_walk.h"

namespace {

bool HasPixels(const Picture& p) { return p.pixels != nullptr && p.width > 0 && p.height > 0; }

bool OnPicture(const Picture& p, int x, int y) {
  return x >= 0 && y >= 0 && static_cast<uint32_t>(x) < p.width && static_cast<uint32_t>(y) < p.height;
}

uint16_t& PixelAt(Picture& p, int x, int y) {
  return p.pixels[static_cast<size_t>(x) * p.xStep + static_cast<size_t>(y) * p.yStep];
}

const uint16_t& PixelAt(const Picture& p, int x, int y) {
  return p.pixels[static_cast<size_t>(x) * p.xStep + static_cast<size_t>(y) * p.yStep];
}

// A copy's rectangle cut to what lies on both pictures: columns [x0, x1) and rows [y0, y1) of
// the source, landing at (dx, dy) of the target. Empty when x0 >= x1 or y0 >= y1.
struct CopyArea {
  int x0, y0, x1, y1, dx, dy;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

CopyArea CutCopy(const Picture& target, int dx, int dy, const Picture& source, int sx0, int sy0,
                 int sx1, int sy1) {
  CopyArea a{sx0, sy0, sx1, sy1, dx, dy};
  if (!HasPixels(target) || !HasPixels(source)) return CopyArea{0, 0, 0, 0, 0, 0};
  // Source edges.
  if (a.x1 > static_cast<int>(source.width)) a.x1 = static_cast<int>(source.width);
  if (a.y1 > static_cast<int>(source.height)) a.y1 = static_cast<int>(source.height);
  // Target edges: dx and dy are never negative, so only the right and bottom edges can cut.
  const long long roomX = static_cast<long long>(target.width) - dx;
  const long long roomY = static_cast<long long>(target.height) - dy;
  if (roomX <= 0 || roomY <= 0) return CopyArea{0, 0, 0, 0, 0, 0};
  if (a.x1 - a.x0 > roomX) a.x1 = a.x0 + static_cast<int>(roomX);
  if (a.y1 - a.y0 > roomY) a.y1 = a.y0 + static_cast<int>(roomY);
  return a;
}

}  // namespace

int CopyPicture(const Picture& source, Picture& target) {
  if (source.pixels == nullptr || target.pixels == nullptr || &source == &target) return 0;
  const size_t have = static_cast<size_t>(source.width) * source.height;
  const size_t room = static_cast<size_t>(target.width) * target.height;
  std::memcpy(target.pixels, source.pixels, (have < room ? have : room) * 2);
  return 0;
}

int BlitRect(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0,
             uint16_t sy0, uint16_t sx1, uint16_t sy1) {
  const CopyArea a = CutCopy(target, dx, dy, source, sx0, sy0, sx1, sy1);
  if (a.Empty()) return 0;
  const size_t bytes = static_cast<size_t>(a.x1 - a.x0) * 2;
  for (int y = a.y0; y < a.y1; ++y) {
    // memmove: a picture may be copied onto itself.
    std::memmove(&PixelAt(target, a.dx, a.dy + (y - a.y0)), &PixelAt(source, a.x0, y), bytes);
  }
  return 0;
}

int BlitKeyed(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0,
              uint16_t sy0, uint16_t sx1, uint16_t sy1, uint16_t key) {
  const CopyArea a = CutCopy(target, dx, dy, source, sx0, sy0, sx1, sy1);
  if (a.Empty()) return 0;
  for (int y = a.y0; y < a.y1; ++y) {
    for (int x = a.x0; x < a.x1; ++x) {
      const uint16_t p = PixelAt(source, x, y);
      if (p != key) PixelAt(target, a.dx + (x - a.x0), a.dy + (y - a.y0)) = p;
    }
  }
  return 0;
}

int PutPixel(Picture& picture, uint16_t x, uint16_t y, uint16_t colour) {
  if (picture.pixels != nullptr && OnPicture(picture, x, y)) PixelAt(picture, x, y) = colour;
  return 0;
}

int PutPixelClipped(Picture& picture, int16_t x, int16_t y, uint16_t colour) {
  if (picture.pixels != nullptr && OnPicture(picture, x, y)) PixelAt(picture, x, y) = colour;
  return 0;
}

int DrawLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour) {
  return plain::DrawLine(picture, x0, y0, x1, y1, colour);
}

int DrawCircle(Picture& picture, int16_t cx, int16_t cy, int16_t radius, uint16_t colour) {
  if (radius < 0) return 0;  // the angle would run backwards and never reach a full turn
  if (radius == 0) return PutPixelClipped(picture, cx, cy, colour);
  // The step is 50/r degrees, so that neighbouring points lie about 0.87 pixels apart.
  const float step = static_cast<float>(50.0 / radius);
  // Degrees to radians with 3.1415/180 rounded to single precision (bits 0x3C8EF921): the
  // circle's points depend on exactly this factor.
  const float kRadiansPerDegree = 0.017452778f;
  float angle = 0.0f;
  do {
    const double theta = static_cast<double>(angle * kRadiansPerDegree);
    const int x = static_cast<int>(cx + radius * std::sin(theta));
    const int y = static_cast<int>(cy + radius * std::cos(theta));
    PutPixelClipped(picture, static_cast<int16_t>(x), static_cast<int16_t>(y), colour);
    angle = angle + step;
  } while (angle < 360.0f);
  return 0;
}

int FillRect(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour) {
  if (picture.pixels == nullptr) return 0;
  // Cutting the rectangle to the picture sets the same pixels as testing each one.
  const int left = x0 < 0 ? 0 : x0;
  const int top = y0 < 0 ? 0 : y0;
  const int right = x1 > static_cast<int>(picture.width) ? static_cast<int>(picture.width) : x1;
  const int bottom = y1 > static_cast<int>(picture.height) ? static_cast<int>(picture.height) : y1;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) PixelAt(picture, x, y) = colour;
  }
  return 0;
}

int BlendPixel(Picture& picture, int16_t x, int16_t y, uint16_t colour, int16_t alpha) {
  return plain::BlendPixel(picture, x, y, colour, alpha);
}

int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour,
              int16_t alpha) {
  return plain::BlendLine(picture, x0, y0, x1, y1, colour, alpha);
}

int BlendFillRect(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1,
                  uint16_t colour, int16_t alpha) {
  if (picture.pixels == nullptr || alpha < 0 || alpha > 255) return 0;
  const int left = x0 < 0 ? 0 : x0;
  const int top = y0 < 0 ? 0 : y0;
  const int right = x1 > static_cast<int>(picture.width) ? static_cast<int>(picture.width) : x1;
  const int bottom = y1 > static_cast<int>(picture.height) ? static_cast<int>(picture.height) : y1;
  for (int x = left; x < right; ++x) {
    for (int y = top; y < bottom; ++y) {
      plain::BlendPixel(picture, static_cast<int16_t>(x), static_cast<int16_t>(y), colour, alpha);
    }
  }
  return 0;
}

// ---- Plain paths ---------------------------------------------------------------------------------

namespace plain {

uint16_t BlendChannel(uint16_t present, uint16_t colour, int16_t alpha) {
  const float a = static_cast<float>(alpha * (1.0 / 255));
  const float w = 1.0f - a;
  const float mixed = present * w + colour * a;
  return static_cast<uint16_t>(static_cast<int>(mixed));
}

int BlendPixel(Picture& picture, int16_t x, int16_t y, uint16_t colour, int16_t alpha) {
  if (picture.pixels == nullptr || !OnPicture(picture, x, y) || alpha < 0 || alpha > 255) return 0;
  uint16_t& pixel = PixelAt(picture, x, y);
  uint16_t r0, g0, b0, r1, g1, b1;
  SplitColour(pixel, &r0, &g0, &b0);
  SplitColour(colour, &r1, &g1, &b1);
  const uint16_t r = BlendChannel(r0, r1, alpha);
  const uint16_t g = BlendChannel(g0, g1, alpha);
  const uint16_t b = BlendChannel(b0, b1, alpha);
  // On a 5-5-5 screen the split green has five bits and MakeColour takes six: widen it, or every
  // blend would halve the green of the pixel, even at alpha 0.
  pixel = MakeColour(r, WidenGreen(g), b);
  return 0;
}

int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour,
              int16_t alpha) {
  WalkLine(x0, y0, x1, y1, [&](int x, int y) {
    plain::BlendPixel(picture, static_cast<int16_t>(x), static_cast<int16_t>(y), colour, alpha);
    return false;
  });
  return 0;
}

int DrawLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour) {
  WalkLine(x0, y0, x1, y1, [&](int x, int y) {
    PutPixelClipped(picture, static_cast<int16_t>(x), static_cast<int16_t>(y), colour);
    return false;
  });
  return 0;
}

}  // namespace plain
