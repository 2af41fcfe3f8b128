// Display properties of the headless backend, which tests may change to reach every display path.
#pragma once

#include "platform/gx.h"

// The emulated device: 240 x 320, 16 bits, 5-6-5, dense frame buffer (pitches 2 and 480).
GXDisplayProperties DefaultDisplayProperties();

// Gives the display other properties (format, pitches, size, depth), and makes GXOpenDisplay fail
// when failOpen is set. Takes effect at the next GXOpenDisplay; GXGetDisplayProperties reports the
// new values at once. Closes an open display first.
void SetDisplayProperties(const GXDisplayProperties& properties, bool failOpen = false);

// Back to the emulated device, display closed.
void ResetDisplay();
