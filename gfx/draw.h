// Drawing into pictures: copies, pixels, lines, circles, rectangles, and their blended variants.
//
// Every operation keeps inside its pictures: a rectangle or shape that reaches past an edge is cut
// there, and a picture without pixels (a data picture that failed to load) is neither read nor
// written. The shapes are defined pixel by pixel through PutPixelClipped or BlendPixel; the
// copies through rows of pixels. Every operation returns 0.
#pragma once

#include <cstdint>

#include "gfx/picture.h"

// Copies the source's pixels into the target's store in one block: as many as both hold.
int CopyPicture(const Picture& source, Picture& target);

// Opaque copy of the source rectangle [sx0, sx1) x [sy0, sy1) with its top-left corner at (dx, dy)
// of the target. A rectangle with sx1 <= sx0 or sy1 <= sy0 copies nothing.
int BlitRect(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0, uint16_t sy0, uint16_t sx1,
             uint16_t sy1);

// As BlitRect, but source pixels of the key colour leave the target's pixel as it was.
int BlitKeyed(Picture& target, uint16_t dx, uint16_t dy, const Picture& source, uint16_t sx0, uint16_t sy0,
              uint16_t sx1, uint16_t sy1, uint16_t key);

// Sets pixel (x, y).
int PutPixel(Picture& picture, uint16_t x, uint16_t y, uint16_t colour);

// Sets pixel (x, y) when it lies on the picture.
int PutPixelClipped(Picture& picture, int16_t x, int16_t y, uint16_t colour);

// A one-pixel line including both endpoints, over the same cells as the path test visits.
int DrawLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour);

// A circle outline of points 50/radius degrees apart, starting at (cx, cy + radius) and turning
// towards (cx + radius, cy). Radius 0 is the centre point; a negative radius draws nothing.
int DrawCircle(Picture& picture, int16_t cx, int16_t cy, int16_t radius, uint16_t colour);

// Fills [x0, x1) x [y0, y1).
int FillRect(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour);

// Mixes the colour into pixel (x, y) with opacity alpha/255 (0 to 255; other values do nothing),
// channel by channel in single precision.
int BlendPixel(Picture& picture, int16_t x, int16_t y, uint16_t colour, int16_t alpha);

// The pixels of DrawLine and of FillRect, each through BlendPixel.
int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha);
int BlendFillRect(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha);

// A colour and an opacity made ready for blending many pixels: the work BlendLine does once per
// call rather than once per pixel. Holds pointers into the blend tables, which live for the run.
struct BlendPen {
  const uint8_t* red;    // the blended red over a present red c is red[c]
  const uint8_t* green;  // likewise green[c] and blue[c]
  const uint8_t* blue;
  uint16_t redShift, greenShift, redMask, greenMask, blueMask;
  bool draws;  // false for an alpha outside 0-255, which draws nothing
};
BlendPen MakeBlendPen(uint16_t colour, int16_t alpha);
int BlendLineWithPen(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, const BlendPen& pen);

// ---- Plain paths ---------------------------------------------------------------------------------
// The arithmetic exactly as it is defined, one pixel at a time; the faster operations above must
// give the same pixels. Kept for the tests that hold them to it.
namespace plain {
// The blend of one channel: c0·(1 − a) + c1·a truncated, with a = alpha·(1/255) in single
// precision.
uint16_t BlendChannel(uint16_t present, uint16_t colour, int16_t alpha);
int BlendPixel(Picture& picture, int16_t x, int16_t y, uint16_t colour, int16_t alpha);
int BlendLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour, int16_t alpha);
int DrawLine(Picture& picture, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint16_t colour);
}  // namespace plain
