// A painting surface for the build-time artwork: float RGB pixels, antialiased shapes, masks,
// and the conversion to the game's 16-bit pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A colour with channels from 0 to 1.
struct Rgb {
  float r = 0;
  float g = 0;
  float b = 0;
};

// A colour given as 8-bit channels, the way artwork colours are usually written down.
constexpr Rgb Rgb8(int r, int g, int b) { return Rgb{r / 255.0f, g / 255.0f, b / 255.0f}; }
Rgb Mix(Rgb a, Rgb b, float t);  // a at t = 0, b at t = 1
Rgb Shade(Rgb c, float factor);  // factor < 1 darkens, > 1 lightens towards white

struct Point {
  float x = 0;
  float y = 0;
};

// Signed distance from a pixel centre to a shape's edge: negative inside, positive outside.
using Distance = std::function<float(float x, float y)>;

// A grey mask: coverage from 0 to 1 per pixel, for text and shadows.
struct Mask {
  int width = 0;
  int height = 0;
  std::vector<float> alpha;

  Mask() = default;
  Mask(int w, int h) : width(w), height(h), alpha(static_cast<size_t>(w) * h, 0.0f) {}
  float At(int x, int y) const {
    return x < 0 || y < 0 || x >= width || y >= height ? 0.0f : alpha[static_cast<size_t>(y) * width + x];
  }
  float& Ref(int x, int y) { return alpha[static_cast<size_t>(y) * width + x]; }
};

// The mask grown by radius pixels (a round brush), for outlines around text.
Mask Dilate(const Mask& mask, float radius);
// The mask softened by a box blur of the radius, for shadows.
Mask Blur(const Mask& mask, int radius);

class Canvas {
 public:
  Canvas(int width, int height, Rgb fill = Rgb{});

  int width() const { return width_; }
  int height() const { return height_; }
  Rgb At(int x, int y) const { return pixels_[Index(x, y)]; }
  void Set(int x, int y, Rgb c);
  // Lays c over the pixel with the given opacity; pixels outside are ignored.
  void Blend(int x, int y, Rgb c, float alpha);

  void Fill(Rgb c);
  // Fills rows top to bottom - 1 with a vertical gradient over columns left to right - 1.
  void VerticalGradient(int left, int top, int right, int bottom, Rgb from, Rgb to);

  // Paints every pixel of the box whose centre lies inside the shape, with a one-pixel soft edge.
  void FillShape(float left, float top, float right, float bottom, const Distance& shape, Rgb c, float alpha = 1.0f);
  // The same, with a colour that depends on the pixel.
  void FillShape(float left, float top, float right, float bottom, const Distance& shape,
                 const std::function<Rgb(float x, float y)>& colour, float alpha = 1.0f);

  void FillCircle(Point centre, float radius, Rgb c, float alpha = 1.0f);
  void StrokeCircle(Point centre, float radius, float thickness, Rgb c, float alpha = 1.0f);
  void FillRoundRect(float left, float top, float right, float bottom, float radius, Rgb c, float alpha = 1.0f);
  void StrokeRoundRect(float left, float top, float right, float bottom, float radius, float thickness, Rgb c,
                       float alpha = 1.0f);
  // A line with round ends.
  void StrokeLine(Point a, Point b, float thickness, Rgb c, float alpha = 1.0f);
  void StrokePolyline(const std::vector<Point>& points, float thickness, Rgb c, bool closed, float alpha = 1.0f);
  void FillPolygon(const std::vector<Point>& points, Rgb c, float alpha = 1.0f);

  // Paints the mask with its top-left pixel at (x, y).
  void PaintMask(const Mask& mask, int x, int y, Rgb c, float alpha = 1.0f);
  void PaintMask(const Mask& mask, int x, int y, const std::function<Rgb(int x, int y)>& colour, float alpha = 1.0f);

  // The canvas in the game's 16-bit pixels, rows top to bottom. With dither set, a fixed 4 x 4
  // ordered dither hides the banding of 5- and 6-bit channels in smooth gradients.
  std::vector<uint16_t> ToPixels(bool dither) const;

 private:
  size_t Index(int x, int y) const { return static_cast<size_t>(y) * width_ + x; }
  int width_;
  int height_;
  std::vector<Rgb> pixels_;
};

// Distances to the common shapes, for FillShape.
float CircleDistance(float x, float y, Point centre, float radius);
float RoundRectDistance(float x, float y, float left, float top, float right, float bottom, float radius);
float SegmentDistance(float x, float y, Point a, Point b);  // unsigned
float PolygonDistance(float x, float y, const std::vector<Point>& points);

// One channel value (0 to 1) in n bits, rounded to the nearest step.
uint16_t Quantise(float value, int bits);
// A colour as a pixel of the circuit and picture files (5-6-5).
uint16_t PixelOf(Rgb c);
