// The display: opening the screen, the staging buffer, and putting a composed frame on the screen.
#pragma once

#include <cstdint>

#include "gfx/picture.h"
#include "platform/gx.h"

// The one display of the program. Plain and zero-initialised: closed until OpenDisplay.
struct Display {
  // A copy of the frame buffer with the frame buffer's own layout (pixel (x, y) at
  // x·cbxPitch + y·cbyPitch bytes from pixel (0, 0)). It is allocated from the lowest address
  // those pitches reach, so with a negative pitch pixel (0, 0) lies inside the block, not at its
  // start; StagingOrigin gives its place. Null while the display is closed.
  uint16_t* stagingBuffer;
  // What the latest GXBeginDraw gave: pixel (0, 0) of the frame buffer, valid until GXEndDraw.
  uint16_t* frameBuffer;
  GXDisplayProperties properties;  // copied when the display was opened
};

extern Display display;

// Takes the screen for the window (full screen when the flag is set) and allocates the staging
// buffer. 0 on success. 1, with nothing held, when the display library refuses the screen, when
// this program can't draw on it (not 16 bits a pixel, an odd pitch, no pixels), or when the
// staging buffer can't be allocated.
int OpenDisplay(Display& display, WindowHandle window, uint8_t fullScreen);

// Releases the staging buffer and gives the screen back. Returns 0.
int CloseDisplay(Display& display);

// Opens a drawing bracket; the frame buffer pointer (also kept in frameBuffer), or null when the
// display gives none (closed or suspended).
uint16_t* LockFrameBuffer(Display& display);
// Closes the drawing bracket. Returns 0.
int UnlockFrameBuffer(Display& display);

// The screen's size, in 16 bits.
uint16_t ScreenWidth(const Display& display);
uint16_t ScreenHeight(const Display& display);

// How PresentFrame reaches the screen.
enum PresentPath : uint8_t {
  kPresentStaged = 0,  // through the staging buffer and one block copy
  kPresentDirect = 1,  // straight into the frame buffer
};

// Puts the picture on the screen: through the staging buffer and one block copy (direct 0,
// kPresentStaged), or straight into the frame buffer (direct 1, kPresentDirect). Pixel (x, y) of
// the picture lands on screen pixel
// (x, y) whatever the frame buffer's pitches. A picture larger than the screen shows its top-left
// corner; of a smaller one only its own pixels are read, and the rest of the screen keeps what it
// showed. A picture without pixels, or a display that gives no frame buffer, shows nothing.
// Returns 0.
int PresentFrame(Display& display, const Picture& picture, uint8_t direct);

// Index in stagingBuffer of pixel (0, 0).
long long StagingOrigin(const Display& display);
