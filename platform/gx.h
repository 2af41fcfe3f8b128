// The display and key library the game draws and reads keys through (the device's GX calls).
//
// The frame buffer is plain memory laid out by the display properties; a backend shows it when a
// drawing bracket closes. The headless backend lets tests give the display other properties.
#pragma once

#include <cstdint>

struct PlatformWindow;
using WindowHandle = PlatformWindow*;

struct GXDisplayProperties {
  uint32_t cxWidth;   // screen width in pixels
  uint32_t cyHeight;  // screen height in pixels
  int32_t cbxPitch;   // bytes from a pixel to its right-hand neighbour (may be negative)
  int32_t cbyPitch;   // bytes from a pixel to the one below it (may be negative)
  int32_t cBPP;       // bits per pixel
  uint32_t ffFormat;  // format flags
};

constexpr uint32_t kfDirect555 = 0x40;
constexpr uint32_t kfDirect565 = 0x80;
constexpr uint32_t GX_FULLSCREEN = 0x01;
constexpr int GX_NORMALKEYS = 0x02;

// The default key assignment: the key code of each of the eight keys. (Where the keys sit on the
// device is nothing a program here reads.)
struct GXKeyList {
  int16_t vkUp;
  int16_t vkDown;
  int16_t vkLeft;
  int16_t vkRight;
  int16_t vkA;
  int16_t vkB;
  int16_t vkC;
  int16_t vkStart;
};

// Key codes of the portrait assignment; the backends deliver key messages with these.
constexpr int16_t kKeyUp = 0x26;
constexpr int16_t kKeyDown = 0x28;
constexpr int16_t kKeyLeft = 0x25;
constexpr int16_t kKeyRight = 0x27;
constexpr int16_t kKeyA = 0xC1;
constexpr int16_t kKeyB = 0xC2;
constexpr int16_t kKeyC = 0xC3;
constexpr int16_t kKeyStart = 0x0D;

// 0 when the display can't be opened, anything else when it is the program's.
int GXOpenDisplay(WindowHandle window, uint32_t flags);
int GXCloseDisplay();
GXDisplayProperties GXGetDisplayProperties();
// Pointer to pixel (0, 0) of the frame buffer, valid until GXEndDraw; null when the display is
// not open or is suspended.
void* GXBeginDraw();
int GXEndDraw();
int GXSuspend();
int GXResume();
int GXOpenInput();
int GXCloseInput();
GXKeyList GXGetDefaultKeys(int options);

// ---- The emulated device's properties ----------------------------------------------------------

// The emulated device: 240 x 320, 16 bits, 5-6-5, dense frame buffer (pitches 2 and 480).
GXDisplayProperties DefaultDisplayProperties();

// Gives the display other properties (format, pitches, size, depth), and makes GXOpenDisplay fail
// when failOpen is set, so that tests reach every display path. Takes effect at the next
// GXOpenDisplay; GXGetDisplayProperties reports the new values at once. Closes an open display
// first.
void SetDisplayProperties(const GXDisplayProperties& properties, bool failOpen = false);

// Back to the emulated device, display closed.
void ResetDisplay();

// ---- Host side, for the backends --------------------------------------------------------------

// The screen as last presented, as a plain 16-bit picture of cxWidth x cyHeight in the display's
// own pixel format, rows top to bottom. Null before the first presented frame and while the
// display is closed. Valid until the next drawing bracket opens.
const uint16_t* GXPresentedScreen();

// Called at every GXEndDraw with the presented screen (as GXPresentedScreen gives it); a backend
// sets it to upload the frame to its window. Null: nothing more is done.
using GXPresentHook = void (*)(const uint16_t* screen, const GXDisplayProperties& properties);
void GXSetPresentHook(GXPresentHook hook);
