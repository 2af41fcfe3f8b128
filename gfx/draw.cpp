// Drawing primitives over pictures, cut at the pictures' edges.
#include "gfx/draw.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "gfx/colour.h"
#include "gfx/line_walk.h"

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

// PutPixel and PutPixelClipped: the point as a plain int, so that both an unsigned 65535 and a
// signed -1 are simply off the picture.
int SetPixel(Picture& p, int x, int y, uint16_t colour) {
  if (p.pixels != nullptr && OnPicture(p, x, y)) PixelAt(p, x, y) = colour;
  return 0;
}

// A copy's rectangle cut to what lies on both pictures: columns [x0, x1) and rows [y0, y1) of
// the source, landing at (dx, dy) of the target. Empty when x0 >= x1 or y0 >= y1.
struct CopyArea {
  int x0, y0, x1, y1, dx, dy;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

CopyArea CutCopy(const Picture& target, int dx, int dy, const Picture& source, int sx0, int sy0, int sx1, int sy1) {
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

// The cells of WalkLine as a run along the major axis: `count` pixels from `first`, each a major
// step from the one before, with a minor step taken first whenever the error term is above 0.
struct PixelRun {
  uint16_t* first;
  ptrdiff_t majorStep;
  ptrdiff_t minorStep;
  ptrdiff_t count;
  ptrdiff_t error;       // the error term before the first cell: −(major distance div 2)
  ptrdiff_t majorDelta;  // taken off the error at a minor step
  ptrdiff_t minorDelta;  // added to the error at every major step
};

// The run of a segment whose cells all lie on the picture, which those between two endpoints on
// it do. Starts at the endpoint with the smaller major coordinate, as WalkLine does. Chosen with
// selects rather than branches: a trail's segments turn every way, and a mispredicted branch per
// segment costs more than the short segments themselves.
PixelRun RunOf(Picture& picture, int x0, int y0, int x1, int y1) {
  const int dx = std::abs(x1 - x0);
  const int dy = std::abs(y1 - y0);
  const ptrdiff_t xStep = static_cast<ptrdiff_t>(picture.xStep);
  const ptrdiff_t yStep = static_cast<ptrdiff_t>(picture.yStep);
  const bool xMajor = dx >= dy;
  const bool swap = xMajor ? x0 > x1 : y0 > y1;
  const int sx = swap ? x1 : x0;
  const int sy = swap ? y1 : y0;
  const int ex = swap ? x0 : x1;
  const int ey = swap ? y0 : y1;
  const ptrdiff_t ySign = ey > sy ? yStep : -yStep;
  const ptrdiff_t xSign = ex > sx ? xStep : -xStep;
  const int major = xMajor ? dx : dy;
  const int minor = xMajor ? dy : dx;
  PixelRun run;
  run.first = &PixelAt(picture, sx, sy);
  run.majorStep = xMajor ? xStep : yStep;
  run.minorStep = xMajor ? ySign : xSign;
  run.count = major + 1;
  run.error = -(major / 2);
  run.majorDelta = major;
  run.minorDelta = minor;
  return run;
}

template <typename Visit>
inline void WalkRun(const PixelRun& run, Visit&& visit) {
  uint16_t* at = run.first;
  ptrdiff_t e = run.error;
  for (ptrdiff_t i = 0; i < run.count; ++i) {
    // The minor step without a branch, whose pattern along a line defeats prediction; both
    // outcomes are worked out beside the test, so that each step waits only for one select.
    const bool minorStep = e > 0;
    uint16_t* const here = minorStep ? at + run.minorStep : at;
    e = minorStep ? e - run.majorDelta + run.minorDelta : e + run.minorDelta;
    visit(*here);
    at = here + run.majorStep;
  }
}

}  // namespace

int CopyPicture(const Picture& source, Picture& target) {
  if (source.pixels == nullptr || target.pixels == nullptr || &source == &target) return 0;
  const size_t have = static_cast<size_t>(source.width) * source.height;
  const size_t room = static_cast<size_t>(target.width) * target.height;
  std::memcpy(target.pixels, source.pixels, (have < room ? have : room) * 2);
  return 0;
}

int BlitRect(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0, uint16_t sy0, uint16_t sx1,
             uint16_t sy1) {
  const CopyArea a = CutCopy(target, dx, dy, source, sx0, sy0, sx1, sy1);
  if (a.Empty()) return 0;
  const size_t bytes = static_cast<size_t>(a.x1 - a.x0) * 2;
  for (int y = a.y0; y < a.y1; ++y) {
    // memmove: a picture may be copied onto itself.
    std::memmove(&PixelAt(target, a.dx, a.dy + (y - a.y0)), &PixelAt(source, a.x0, y), bytes);
  }
  return 0;
}

int BlitKeyed(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0, uint16_t sy0,
              uint16_t sx1, uint16_t sy1, uint16_t key) {
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

int PutPixel(Picture& picture, uint16_t x, uint16_t y, uint16_t colour) { return SetPixel(picture, x, y, colour); }

int PutPixelClipped(Picture& picture, int16_t x, int16_t y, uint16_t colour) { return SetPixel(picture, x, y, colour); }

int DrawLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour) {
  if (picture.pixels == nullptr) return 0;
  if (OnPicture(picture, x0, y0) && OnPicture(picture, x1, y1)) {
    WalkRun(RunOf(picture, x0, y0, x1, y1), [colour](uint16_t& pixel) { pixel = colour; });
    return 0;
  }
  WalkLine(x0, y0, x1, y1, [&](int x, int y) {
    if (OnPicture(picture, x, y)) PixelAt(picture, x, y) = colour;
    return false;
  });
  return 0;
}

namespace {

// The points of a circle depend on its radius alone: the offsets r·sin θ and r·cos θ are kept
// for the last radius drawn (the board draws one radius all the time), and each frame only adds
// the centre, which is the same sum in the same order as computing them afresh.
struct CircleOffsets {
  int16_t radius = -1;
  int count = 0;
  static constexpr int kCapacity = 4096;  // radius 570 and less
  double x[kCapacity];
  double y[kCapacity];
};
CircleOffsets circleOffsets;

// Degrees to radians with 3.1415/180 rounded to single precision (bits 0x3C8EF921): the circle's
// points depend on exactly this factor.
constexpr float kRadiansPerDegree = 0.017452778f;

// Calls plot(r·sin θ, r·cos θ) for every angle 0, step, 2·step, ... below 360, the angle and the
// step in single precision, with step = 50/r degrees so that points lie about 0.87 pixels apart.
template <typename Plot>
void CircleWalk(int16_t radius, Plot&& plot) {
  const float step = static_cast<float>(50.0 / radius);
  float angle = 0.0f;
  do {
    const double theta = static_cast<double>(angle * kRadiansPerDegree);
    plot(radius * std::sin(theta), radius * std::cos(theta));
    angle = angle + step;
  } while (angle < 360.0f);
}

}  // namespace

int DrawCircle(Picture& picture, int16_t cx, int16_t cy, int16_t radius, uint16_t colour) {
  if (radius < 0) return 0;  // the angle would run backwards and never reach a full turn
  if (radius == 0) return PutPixelClipped(picture, cx, cy, colour);
  auto put = [&](double dx, double dy) {
    const int x = static_cast<int>(cx + dx);
    const int y = static_cast<int>(cy + dy);
    PutPixelClipped(picture, static_cast<int16_t>(x), static_cast<int16_t>(y), colour);
  };
  CircleOffsets& c = circleOffsets;
  if (c.radius != radius) {
    c.radius = -1;
    c.count = 0;
    bool fits = true;
    CircleWalk(radius, [&](double dx, double dy) {
      if (c.count == CircleOffsets::kCapacity) {
        fits = false;
        return;
      }
      c.x[c.count] = dx;
      c.y[c.count] = dy;
      ++c.count;
    });
    if (!fits) {
      CircleWalk(radius, put);
      return 0;
    }
    c.radius = radius;
  }
  for (int i = 0; i < c.count; ++i) put(c.x[i], c.y[i]);
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

// ---- Blending through tables ---------------------------------------------------------------------

namespace {

// A blended channel depends only on the alpha and the two channel values, so every result for an
// alpha is worked out once, by the plain arithmetic, the first time that alpha is used. Red and
// blue take 32 values, green up to 64. The results for one colour value lie side by side, so that
// a pen reads three short runs of the tables. The tables hold for either pixel format.
struct AlphaTables {
  bool filled[256];
  uint8_t narrow[256][32 * 32];  // [alpha][colour * 32 + present]
  uint8_t wide[256][64 * 64];    // [alpha][colour * 64 + present]
};
AlphaTables alphaTables;

void FillAlphaTables(int alpha) {
  AlphaTables& t = alphaTables;
  for (uint16_t present = 0; present < 64; ++present) {
    for (uint16_t colour = 0; colour < 64; ++colour) {
      const uint16_t mixed = plain::BlendChannel(present, colour, static_cast<int16_t>(alpha));
      t.wide[alpha][colour * 64 + present] = static_cast<uint8_t>(mixed);
      if (present < 32 && colour < 32) t.narrow[alpha][colour * 32 + present] = static_cast<uint8_t>(mixed);
    }
  }
  t.filled[alpha] = true;
}

inline void BlendWithPen(uint16_t& pixel, const BlendPen& pen) {
  const unsigned v = pixel;
  const unsigned r = (v >> pen.redShift) & pen.redMask;
  const unsigned g = (v >> pen.greenShift) & pen.greenMask;
  const unsigned b = v & pen.blueMask;
  pixel = static_cast<uint16_t>((pen.red[r] << pen.redShift) | (pen.green[g] << pen.greenShift) | pen.blue[b]);
}

bool Is565(const BlendPen& pen) {
  return pen.redShift == 11 && pen.greenShift == 5 && pen.redMask == 31 && pen.greenMask == 63 && pen.blueMask == 31;
}

// The blend of a whole run on a 5-6-5 screen, where the shifts are known; kept apart so that its
// few values stay in registers.
__attribute__((noinline)) void BlendRun565(const PixelRun& run, const uint8_t* red, const uint8_t* green,
                                           const uint8_t* blue) {
  WalkRun(run, [red, green, blue](uint16_t& pixel) {
    const unsigned v = pixel;
    pixel = static_cast<uint16_t>((red[v >> 11] << 11) | (green[(v >> 5) & 63] << 5) | blue[v & 31]);
  });
}

}  // namespace

BlendPen MakeBlendPen(uint16_t colour, int16_t alpha) {
  BlendPen pen{};
  if (alpha < 0 || alpha > 255) return pen;
  if (!alphaTables.filled[alpha]) FillAlphaTables(alpha);
  const ChannelLayout layout = SplitLayout();
  const unsigned r = (colour >> layout.redShift) & layout.redMask;
  const unsigned g = (colour >> layout.greenShift) & layout.greenMask;
  const unsigned b = colour & layout.blueMask;
  pen.red = alphaTables.narrow[alpha] + size_t{r} * 32;
  pen.green = alphaTables.wide[alpha] + size_t{g} * 64;
  pen.blue = alphaTables.narrow[alpha] + size_t{b} * 32;
  pen.redShift = layout.redShift;
  pen.greenShift = layout.greenShift;
  pen.redMask = layout.redMask;
  pen.greenMask = layout.greenMask;
  pen.blueMask = layout.blueMask;
  pen.draws = true;
  return pen;
}

int BlendPixel(Picture& picture, int16_t x, int16_t y, uint16_t colour, int16_t alpha) {
  if (picture.pixels == nullptr || !OnPicture(picture, x, y)) return 0;
  const BlendPen pen = MakeBlendPen(colour, alpha);
  if (pen.draws) BlendWithPen(PixelAt(picture, x, y), pen);
  return 0;
}

int BlendLineWithPen(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, const BlendPen& pen) {
  if (picture.pixels == nullptr || !pen.draws) return 0;
  // A copy the pixel writes can't alias, so that it stays in registers.
  const BlendPen p = pen;
  if (OnPicture(picture, x0, y0) && OnPicture(picture, x1, y1)) {
    const PixelRun run = RunOf(picture, x0, y0, x1, y1);
    if (Is565(p)) {
      BlendRun565(run, p.red, p.green, p.blue);
    } else {
      WalkRun(run, [&p](uint16_t& pixel) { BlendWithPen(pixel, p); });
    }
    return 0;
  }
  WalkLine(x0, y0, x1, y1, [&](int x, int y) {
    if (OnPicture(picture, x, y)) BlendWithPen(PixelAt(picture, x, y), p);
    return false;
  });
  return 0;
}

int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha) {
  return BlendLineWithPen(picture, x0, y0, x1, y1, MakeBlendPen(colour, alpha));
}

int BlendFillRect(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha) {
  if (picture.pixels == nullptr) return 0;
  const BlendPen pen = MakeBlendPen(colour, alpha);
  if (!pen.draws) return 0;
  const int left = x0 < 0 ? 0 : x0;
  const int top = y0 < 0 ? 0 : y0;
  const int right = x1 > static_cast<int>(picture.width) ? static_cast<int>(picture.width) : x1;
  const int bottom = y1 > static_cast<int>(picture.height) ? static_cast<int>(picture.height) : y1;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) BlendWithPen(PixelAt(picture, x, y), pen);
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

int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha) {
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
