// Text for the artwork: a FreeType face rendered into masks.
#pragma once

#include <memory>
#include <string>

#include "tools/canvas.h"

// A line of text as a coverage mask. The pen starts at x = left margin; baseline is the mask row
// the letters stand on. inkLeft..inkRight and inkTop..inkBottom bound the covered pixels (right
// and bottom exclusive; all 0 for text without ink).
struct TextMask {
  Mask mask;
  int baseline = 0;
  int advance = 0;  // the pen's travel in pixels
  int inkLeft = 0;
  int inkRight = 0;
  int inkTop = 0;
  int inkBottom = 0;
};

class Typeface {
 public:
  // Opens a font file; throws ToolError naming the file when FreeType can't read it.
  explicit Typeface(const std::string& fontFile);
  ~Typeface();
  Typeface(const Typeface&) = delete;
  Typeface& operator=(const Typeface&) = delete;

  // Renders ASCII or UTF-8 text at a pixel size (the em height). Hinting keeps small text crisp.
  TextMask Render(const std::string& text, float pixelSize) const;
  // Height above the baseline of a capital H at that size, for centring labels by their capitals.
  int CapHeight(float pixelSize) const;

 private:
  struct Face;
  std::unique_ptr<Face> face_;
};

// The font files the artwork uses: fonts-liberation's TrueType folder.
std::string FontFile(const std::string& fontFolder, const std::string& name);
