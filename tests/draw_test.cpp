// Drawing primitives: lines, circles, rectangles, blends and copies, their edges, and the fast
// paths held to the plain arithmetic.
#include "gfx/draw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "gfx/colour.h"
#include "gfx/layout.h"
#include "platform/gx.h"
#include "tests/support.h"

namespace {

using Cells = std::set<std::pair<int, int>>;

class Drawing : public ScreenFormatTest {};

// A picture of the given size filled with one colour.
void Blank(Picture& p, uint16_t width, uint16_t height, uint16_t colour = 0) {
  ASSERT_EQ(CreatePicture(p, width, height, kPictureGivenSize), 0);
  for (uint32_t i = 0; i < static_cast<uint32_t>(width) * height; ++i) p.pixels[i] = colour;
}

uint16_t At(const Picture& p, int x, int y) { return p.pixels[y * p.width + x]; }

// The cells of the picture that are not the background.
Cells Drawn(const Picture& p, uint16_t background = 0) {
  Cells cells;
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      if (At(p, x, y) != background) cells.emplace(x, y);
    }
  }
  return cells;
}

bool SamePixels(const Picture& a, const Picture& b) {
  return a.width == b.width && a.height == b.height &&
         std::memcmp(a.pixels, b.pixels, static_cast<size_t>(a.width) * a.height * 2) == 0;
}

}  // namespace

// ---- Lines -------------------------------------------------------------------------------------

TEST_F(Drawing, LinesCoverTheWorkedCellsWhicheverEndComesFirst) {
  struct Case {
    int x0, y0, x1, y1;
    Cells cells;
  };
  const Case cases[] = {
      {0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}},
      {0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}}},
      {0, 4, 3, 0, {{3, 0}, {2, 1}, {2, 2}, {1, 3}, {0, 4}}},
      {4, 4, 4, 4, {{4, 4}}},
      {-3, 1, 2, 1, {{0, 1}, {1, 1}, {2, 1}}},  // cut at the left edge
      {6, 3, 12, 3, {{6, 3}, {7, 3}}},          // cut at the right edge
      {-5, -5, -1, -1, {}},                     // wholly off
  };
  for (const Case& c : cases) {
    for (bool reversed : {false, true}) {
      Picture p;
      Blank(p, 8, 6);
      if (reversed) {
        DrawLine(p, c.x1, c.y1, c.x0, c.y0, 0xFFFF);
      } else {
        DrawLine(p, c.x0, c.y0, c.x1, c.y1, 0xFFFF);
      }
      EXPECT_EQ(Drawn(p), c.cells) << c.x0 << "," << c.y0 << " to " << c.x1 << "," << c.y1
                                   << (reversed ? " reversed" : "");
    }
  }
}

// Lines whose ends are both on the picture are drawn by stepping a pointer; the others cell by
// cell with a check. Both must give what the plain walk gives, blended or not.
TEST_F(Drawing, FastLinesMatchThePlainWalk) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(-30, 70);
  std::uniform_int_distribution<int> alpha(0, 255);
  for (uint32_t format : {kfDirect565, kfDirect555}) {
    UseFormat(format);
    Picture fast, plain;
    Blank(fast, 40, 30, 0x1234);
    Blank(plain, 40, 30, 0x1234);
    for (int i = 0; i < 3000; ++i) {
      const int16_t x0 = static_cast<int16_t>(coordinate(random) / (i % 3 == 0 ? 1 : 2));
      const int16_t y0 = static_cast<int16_t>(coordinate(random) / (i % 3 == 0 ? 1 : 2));
      const int16_t x1 = static_cast<int16_t>(coordinate(random) / (i % 3 == 0 ? 1 : 2));
      const int16_t y1 = static_cast<int16_t>(coordinate(random) / (i % 3 == 0 ? 1 : 2));
      const uint16_t colour = static_cast<uint16_t>(random());
      const int16_t a = static_cast<int16_t>(alpha(random));
      if (i % 2 == 0) {
        DrawLine(fast, x0, y0, x1, y1, colour);
        plain::DrawLine(plain, x0, y0, x1, y1, colour);
      } else {
        BlendLine(fast, x0, y0, x1, y1, colour, a);
        plain::BlendLine(plain, x0, y0, x1, y1, colour, a);
      }
      ASSERT_TRUE(SamePixels(fast, plain)) << "line " << i << ": " << x0 << "," << y0 << " to " << x1 << "," << y1;
    }
  }
}

// ---- Circles -----------------------------------------------------------------------------------

TEST_F(Drawing, CircleConversionFactorIsThreePointOneFourOneFiveOver180InSinglePrecision) {
  const float factor = 3.1415f / 180.0f;
  uint32_t bits = 0;
  std::memcpy(&bits, &factor, sizeof bits);
  EXPECT_EQ(bits, 0x3C8EF921u);
}

// The points of a radius-20 circle, from 144 angles 2.5 degrees apart with the factor above: the
// short factor keeps every point a little short of a quarter turn, so the rightmost point is
// 19 pixels out, not 20.
TEST_F(Drawing, CircleOfRadiusTwentyHasItsPointsAtTheShortFactorsAngles) {
  Picture p;
  Blank(p, 80, 80);
  DrawCircle(p, 40, 40, 20, 0xFFFF);
  Cells expected;
  uint32_t factorBits = 0x3C8EF921u;
  float factor;
  std::memcpy(&factor, &factorBits, sizeof factor);
  for (int k = 0; k < 144; ++k) {
    const double theta = static_cast<double>(static_cast<float>(2.5f * k) * factor);
    expected.emplace(static_cast<int>(40 + 20 * std::sin(theta)), static_cast<int>(40 + 20 * std::cos(theta)));
  }
  EXPECT_EQ(Drawn(p), expected);
  const Cells drawn = Drawn(p);
  EXPECT_TRUE(drawn.count({40, 60})) << "angle 0 is straight down";
  EXPECT_TRUE(drawn.count({59, 40})) << "a quarter turn lands at 19";
  EXPECT_FALSE(drawn.count({60, 40}));
  EXPECT_TRUE(drawn.count({40, 20})) << "half a turn";
  EXPECT_TRUE(drawn.count({20, 39})) << "three quarters: 19.99 left and a hair up, both cut toward zero";
}

TEST_F(Drawing, CirclesOfOtherRadiiAndNearEdges) {
  // A circle drawn with the remembered offsets and one drawn afresh after another radius agree.
  Picture once, again;
  Blank(once, 60, 60);
  Blank(again, 60, 60);
  DrawCircle(once, 30, 30, 20, 0xFFFF);
  DrawCircle(again, 30, 30, 7, 0xFFFF);
  DrawCircle(again, 30, 30, 20, 0xFFFF);
  DrawCircle(once, 30, 30, 7, 0xFFFF);
  EXPECT_TRUE(SamePixels(once, again));

  // Radius 0 is the centre; a negative radius draws nothing and ends.
  Picture dot;
  Blank(dot, 10, 10);
  DrawCircle(dot, 4, 5, 0, 0xFFFF);
  EXPECT_EQ(Drawn(dot), (Cells{{4, 5}}));
  DrawCircle(dot, 4, 5, -3, 0xFFFF);
  EXPECT_EQ(Drawn(dot), (Cells{{4, 5}}));

  // A circle mostly off the picture keeps to it; coordinates are cut toward zero, so the left
  // side of a circle round x = 5 reaches x = -14 and is cut.
  Picture corner;
  Blank(corner, 10, 10);
  DrawCircle(corner, 5, 5, 20, 0xFFFF);
  EXPECT_TRUE(Drawn(corner).empty());
  DrawCircle(corner, 2, 2, 3, 0xFFFF);
  EXPECT_FALSE(Drawn(corner).empty());

  // A radius too large for the remembered offsets is drawn all the same.
  Picture big;
  Blank(big, 40, 40);
  DrawCircle(big, 20, 620, 600, 0xFFFF);
  EXPECT_TRUE(Drawn(big).count({20, 20}));
}

// ---- Rectangles --------------------------------------------------------------------------------

TEST_F(Drawing, RectanglesAreHalfOpenAndCutAtTheEdges) {
  struct Case {
    int x0, y0, x1, y1;
    int count;
    std::pair<int, int> in, out;
  };
  const Case cases[] = {
      {10, 10, 20, 20, 100, {10, 10}, {20, 20}},  // a car: (15, 15) is the top-left of its lower-right quarter
      {-5, -5, 5, 5, 25, {0, 0}, {5, 5}},        {25, 15, 35, 25, 25, {29, 19}, {24, 15}},
      {5, 5, 5, 9, 0, {-1, -1}, {5, 5}},         {8, 8, 3, 9, 0, {-1, -1}, {3, 8}},
  };
  for (const Case& c : cases) {
    for (bool blend : {false, true}) {
      Picture p;
      Blank(p, 30, 20);
      if (blend) {
        BlendFillRect(p, c.x0, c.y0, c.x1, c.y1, 0xFFFF, 255);
      } else {
        FillRect(p, c.x0, c.y0, c.x1, c.y1, 0xFFFF);
      }
      const Cells cells = Drawn(p);
      EXPECT_EQ(static_cast<int>(cells.size()), c.count) << c.x0 << "," << c.y0 << (blend ? " blended" : "");
      if (c.in.first >= 0) {
        EXPECT_TRUE(cells.count(c.in));
      }
      EXPECT_FALSE(cells.count(c.out));
    }
  }
}

// ---- Blending ----------------------------------------------------------------------------------

TEST_F(Drawing, BlendsGiveTheSinglePrecisionMixes) {
  struct Case {
    uint16_t under, colour;
    int16_t alpha;
    uint16_t r, g, b;
  };
  const uint16_t white = 0xFFFF, black = 0;
  const Case cases[] = {
      {black, white, 100, 12, 24, 12}, {white, black, 100, 18, 38, 18}, {black, white, 255, 31, 63, 31},
      {white, black, 0, 31, 63, 31},   {black, white, 240, 29, 59, 29}, {black, white, 114, 13, 28, 13},
  };
  for (const Case& c : cases) {
    Picture p;
    Blank(p, 1, 1, c.under);
    BlendPixel(p, 0, 0, c.colour, c.alpha);
    EXPECT_EQ(At(p, 0, 0), MakeColour(c.r, c.g, c.b)) << c.under << " under alpha " << c.alpha;
  }
  // Alphas outside 0-255 and pixels off the picture change nothing.
  Picture p;
  Blank(p, 2, 2, 0x1234);
  for (int16_t alpha : {-1, 256, 1000}) BlendPixel(p, 0, 0, white, alpha);
  BlendPixel(p, -1, 0, white, 100);
  BlendPixel(p, 0, 2, white, 100);
  BlendLine(p, 0, 0, 1, 1, white, 256);
  BlendFillRect(p, 0, 0, 2, 2, white, -1);
  EXPECT_EQ(Drawn(p, 0x1234), Cells{});
}

// The mixed green of a 5-5-5 screen is widened before it is packed, so a blend does not halve the
// green: alpha 0 and mixing a colour into itself leave the pixel exactly as it was.
TEST_F(Drawing, BlendingOnA555ScreenKeepsTheGreen) {
  UseFormat(kfDirect555);
  const uint16_t green = MakeColour(0, 62, 0);  // 31 in the screen's five bits
  Picture p;
  Blank(p, 3, 1, green);
  BlendPixel(p, 0, 0, MakeColour(31, 0, 0), 0);
  BlendPixel(p, 1, 0, green, 255);
  BlendPixel(p, 2, 0, MakeColour(0, 0, 0), 100);
  EXPECT_EQ(At(p, 0, 0), green);
  EXPECT_EQ(At(p, 1, 0), green);
  uint16_t r, g, b;
  SplitColour(At(p, 2, 0), &r, &g, &b);
  EXPECT_EQ(g, 18);  // 31 · (1 − 100/255), cut
}

// The tables behind BlendPixel and BlendLine against the plain single-precision arithmetic: every
// alpha, every present channel value against every colour channel value, on both formats.
TEST_F(Drawing, BlendTablesMatchThePlainArithmeticForEveryAlphaAndChannel) {
  for (uint32_t format : {kfDirect565, kfDirect555}) {
    UseFormat(format);
    const uint16_t greens = format == kfDirect565 ? 64 : 32;
    for (int alpha = 0; alpha < 256; ++alpha) {
      for (uint16_t c1 = 0; c1 < 64; ++c1) {
        // Red and blue run through all 32 values, green through all of the screen's; 5 is odd,
        // so c0·5 reaches every blue too.
        const uint16_t colour = MakeColour(c1 & 31, (c1 % greens) * (format == kfDirect565 ? 1 : 2), (31 - c1) & 31);
        Picture fast, plain;
        Blank(fast, 64, 1);
        Blank(plain, 64, 1);
        for (uint16_t c0 = 0; c0 < 64; ++c0) {
          fast.pixels[c0] = plain.pixels[c0] =
              MakeColour(c0 & 31, (c0 % greens) * (format == kfDirect565 ? 1 : 2), (c0 * 5) & 31);
        }
        for (int16_t x = 0; x < 64; ++x) {
          BlendPixel(fast, x, 0, colour, static_cast<int16_t>(alpha));
          plain::BlendPixel(plain, x, 0, colour, static_cast<int16_t>(alpha));
        }
        ASSERT_TRUE(SamePixels(fast, plain))
            << "format " << std::hex << format << std::dec << " alpha " << alpha << " colour value " << c1;
      }
    }
  }
  // Every opacity the board uses is among them.
  for (int age = 0; age < 30; ++age) {
    EXPECT_GE(TrailAlpha(age), 0);
    EXPECT_LE(TrailAlpha(age), 255);
  }
}

// ---- Copies ------------------------------------------------------------------------------------

TEST_F(Drawing, CopiesPlaceTheRectangleAndKeepInsideBothPictures) {
  Picture source;
  ASSERT_EQ(CreatePicture(source, 6, 4, kPictureGivenSize), 0);
  for (uint16_t i = 0; i < 24; ++i) source.pixels[i] = static_cast<uint16_t>(100 + i);  // (x, y) = 100 + 6y + x

  struct Case {
    const char* what;
    uint16_t dx, dy, sx0, sy0, sx1, sy1;
    int count;               // target pixels written
    std::pair<int, int> at;  // a target pixel ...
    uint16_t value;          // ... and the source pixel it must hold
  };
  const Case cases[] = {
      {"inside", 2, 1, 1, 1, 4, 3, 6, {2, 1}, 107},
      {"past the target's right and bottom", 8, 5, 0, 0, 6, 4, 2 * 2, {9, 6}, 107},
      {"past the source", 0, 0, 4, 2, 9, 9, 2 * 2, {1, 1}, 123},
      {"right edge before left", 0, 0, 4, 0, 2, 4, 0, {0, 0}, 0},
      {"empty rows", 0, 0, 0, 2, 6, 2, 0, {0, 0}, 0},
      {"off the target", 10, 0, 0, 0, 6, 4, 0, {0, 0}, 0},
  };
  for (const Case& c : cases) {
    for (bool keyed : {false, true}) {
      Picture target;
      Blank(target, 10, 7);
      if (keyed) {
        BlitKeyed(target, c.dx, c.dy, source, c.sx0, c.sy0, c.sx1, c.sy1, 0xFFFF);  // a key found nowhere
      } else {
        BlitRect(target, c.dx, c.dy, source, c.sx0, c.sy0, c.sx1, c.sy1);
      }
      EXPECT_EQ(static_cast<int>(Drawn(target).size()), c.count) << c.what << (keyed ? " keyed" : "");
      EXPECT_EQ(At(target, c.at.first, c.at.second), c.value) << c.what << (keyed ? " keyed" : "");
    }
  }

  // The key colour leaves the target's pixel as it was.
  Picture target;
  Blank(target, 10, 7, 1);
  BlitKeyed(target, 0, 0, source, 0, 0, 6, 4, 107);
  EXPECT_EQ(At(target, 1, 1), 1);
  EXPECT_EQ(At(target, 2, 1), 108);
}

// A data picture that failed to load has no pixels: drawing from or onto it does nothing.
TEST_F(Drawing, PicturesWithoutPixelsAreNeitherReadNorWritten) {
  Picture missing;
  missing.width = 240;  // a failed load keeps its old size
  missing.height = 40;
  missing.xStep = 1;
  missing.yStep = 240;
  Picture frame;
  Blank(frame, 240, 320, 5);
  BlitRect(frame, 0, 300, missing, 0, 0, 240, 20);
  BlitKeyed(frame, 0, 0, missing, 0, 0, 10, 14, 0);
  CopyPicture(missing, frame);
  EXPECT_EQ(Drawn(frame, 5), Cells{});

  BlitRect(missing, 0, 0, frame, 0, 0, 240, 20);
  CopyPicture(frame, missing);
  PutPixel(missing, 1, 1, 0);
  PutPixelClipped(missing, 1, 1, 0);
  DrawLine(missing, 0, 0, 9, 9, 0);
  DrawCircle(missing, 10, 10, 5, 0);
  FillRect(missing, 0, 0, 9, 9, 0);
  BlendPixel(missing, 1, 1, 0, 100);
  BlendLine(missing, 0, 0, 9, 9, 0, 100);
  BlendFillRect(missing, 0, 0, 9, 9, 0, 100);
  EXPECT_EQ(missing.pixels, nullptr);
}

TEST_F(Drawing, WholePictureCopiesTakeWhatBothHold) {
  Picture big, small;
  Blank(big, 20, 10, 7);
  Blank(small, 5, 4, 9);
  CopyPicture(big, small);  // only the first 20 of big's 200 pixels fit
  EXPECT_EQ(Drawn(small, 7), Cells{});
  Blank(small, 5, 4, 9);
  CopyPicture(small, big);
  EXPECT_EQ(Drawn(big, 7).size(), 20u);
  EXPECT_EQ(At(big, 19, 0), 9);
  EXPECT_EQ(At(big, 0, 1), 7);

  // Single pixels: only on the picture.
  Picture p;
  Blank(p, 4, 4);
  PutPixel(p, 3, 3, 1);
  PutPixel(p, 4, 0, 1);
  PutPixel(p, 0, 65535, 1);
  PutPixelClipped(p, -1, 2, 1);
  PutPixelClipped(p, 2, 4, 1);
  EXPECT_EQ(Drawn(p), (Cells{{3, 3}}));
}
