// The race board: the circuit in view, trails, record lap, cars, reach circle, status, outline,
// menu bar, round counters and Go button, composed in framePicture and put on the screen.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/picture.h"

// Composes the race screen from the game state in framePicture, keeps a copy in boardPicture for
// the overlays, and presents it through the staging buffer. Clamps the view to the circuit first
// and writes viewX, viewY, viewRect and the Go button's place back to the game state. Returns 0.
int DrawBoard();

// Puts the circuit's outline cells in view on framePicture in black. Nothing when the circuit has
// no outline.
void DrawOutline();

// Where DrawNumber puts a number against its x.
enum class NumberAlign : uint8_t {
  kStartAt,    // starts at x
  kEndLeftOf,  // ends 2 pixels left of x
  kCentreOn,   // centred on x − 2
};

// Draws value in decimal with the digit strip, tops at y, aligned against x.
void DrawNumber(Picture& target, uint16_t x, uint16_t y, uint16_t value, NumberAlign alignment);

// The value in decimal: no sign, no leading zeros, "0" for 0.
std::u16string NumberToText(uint16_t value);
