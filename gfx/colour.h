// Colours: the only code that knows how a pixel's bits are laid out.
#pragma once

#include <cstdint>

// Packs red 0-31, green 0-63, blue 0-31 as 5-6-5, the format of every file the game reads
// whatever the screen shows: what MakeColour gives on a 5-6-5 screen. Needs no display.
constexpr uint16_t Pack565(uint16_t red, uint16_t green, uint16_t blue) {
  return static_cast<uint16_t>((red << 11) | (green << 5) | blue);
}

// Packs red 0-31, green 0-63, blue 0-31 into the screen's 16-bit format (5-6-5, or 5-5-5 with
// the green's top five bits). Components are not masked; callers keep them in range.
uint16_t MakeColour(uint16_t red, uint16_t green, uint16_t blue);

// Unpacks a pixel. On a 5-5-5 screen green comes back in five bits.
int SplitColour(uint16_t pixel, uint16_t* red, uint16_t* green, uint16_t* blue);

// Green as SplitColour gives it, widened to the 0-63 range MakeColour takes: unchanged on a 5-6-5
// screen, doubled on a 5-5-5 one, so that a split pixel packs back to itself.
uint16_t WidenGreen(uint16_t green);

// Where the channels sit in a pixel of the screen's format, for code that converts many pixels at
// once. Split: red = (p >> redShift) & redMask, green = (p >> greenShift) & greenMask,
// blue = p & blueMask, as SplitColour gives them. Pack: (red << redShift) | (green << greenShift)
// | blue, for channels in those ranges, as MakeColour(red, WidenGreen(green), blue) gives it.
struct ChannelLayout {
  uint16_t redShift;
  uint16_t greenShift;
  uint16_t redMask;
  uint16_t greenMask;
  uint16_t blueMask;
};
ChannelLayout SplitLayout();

// The named colours of the drawing code.
inline uint16_t WhiteColour() { return MakeColour(31, 63, 31); }
inline uint16_t BlackColour() { return MakeColour(0, 0, 0); }
inline uint16_t RedColour() { return MakeColour(31, 0, 0); }
inline uint16_t AmberColour() { return MakeColour(31, 47, 0); }
// Pixels of this colour in the digit strip are not copied.
inline uint16_t DigitKeyColour() { return MakeColour(31, 0, 31); }

// The colours take the display's format once, on first use, and keep it for the run. Tests that
// switch formats call this after changing the display.
void ForgetColourFormat();
