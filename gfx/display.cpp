// The display: screen, staging buffer and presentation of a composed frame.
#include "gfx/display.h"

#include <cstdlib>
#include <cstring>

Display display;

namespace {

// Where the pixels of a frame buffer lie, in 16-bit pixels from pixel (0, 0).
struct FrameLayout {
  long long columns = 0;
  long long rows = 0;
  long long xPitch = 0;  // pixels to the right-hand neighbour
  long long yPitch = 0;  // pixels to the one below
  long long lowest = 0;  // offset of the lowest-addressed pixel; never above 0
  long long span = 0;    // pixels from the lowest-addressed to the highest, both included
  // The pixels fill [lowest, lowest + span) exactly, each once: a portrait or rotated screen
  // without padding. The staged frame then goes over in one block copy.
  bool dense = false;
};

long long Abs(long long v) { return v < 0 ? -v : v; }

// 0 when the program can draw on a screen of these properties: 16-bit pixels, pitches that are
// whole pixels, and at least one pixel.
int LayoutOf(const GXDisplayProperties& p, FrameLayout* layout) {
  if (p.cBPP != 16 || p.cbxPitch % 2 != 0 || p.cbyPitch % 2 != 0) return 1;
  if (p.cxWidth == 0 || p.cyHeight == 0) return 1;
  FrameLayout l;
  l.columns = p.cxWidth;
  l.rows = p.cyHeight;
  l.xPitch = p.cbxPitch / 2;
  l.yPitch = p.cbyPitch / 2;
  const long long lastX = (l.columns - 1) * l.xPitch;
  const long long lastY = (l.rows - 1) * l.yPitch;
  l.lowest = (lastX < 0 ? lastX : 0) + (lastY < 0 ? lastY : 0);
  const long long highest = (lastX > 0 ? lastX : 0) + (lastY > 0 ? lastY : 0);
  l.span = highest - l.lowest + 1;
  l.dense = (Abs(l.xPitch) == 1 && Abs(l.yPitch) == l.columns) || (Abs(l.yPitch) == 1 && Abs(l.xPitch) == l.rows);
  *layout = l;
  return 0;
}

// The picture's pixel (x, y) to target pixel x·xPitch + y·yPitch, for x below columns and y
// below rows. Column by column, so that a layout in which pixels share a place keeps the last one
// written; a layout of whole rows without overlap is copied row by row instead, which gives the
// same pixels.
void WalkFrame(uint16_t* target, const FrameLayout& l, const Picture& picture, long long columns, long long rows) {
  const uint16_t* source = picture.pixels;
  const long long xStep = picture.xStep;
  const long long yStep = picture.yStep;
  if (l.xPitch == 1 && xStep == 1 && Abs(l.yPitch) >= columns) {
    if (l.yPitch == columns && yStep == columns) {
      std::memcpy(target, source, static_cast<size_t>(columns * rows) * 2);
      return;
    }
    for (long long y = 0; y < rows; ++y) {
      std::memcpy(target + y * l.yPitch, source + y * yStep, static_cast<size_t>(columns) * 2);
    }
    return;
  }
  for (long long x = 0; x < columns; ++x) {
    uint16_t* column = target + x * l.xPitch;
    const uint16_t* from = source + x * xStep;
    for (long long y = 0; y < rows; ++y) column[y * l.yPitch] = from[y * yStep];
  }
}

// Copies every pixel of the staging buffer to the frame buffer; both have the layout l and
// `staging` and `frame` point at pixel (0, 0). Padding between the rows of the frame buffer is
// never written.
void CopyStaged(uint16_t* frame, const uint16_t* staging, const FrameLayout& l) {
  if (l.dense) {
    std::memcpy(frame + l.lowest, staging + l.lowest, static_cast<size_t>(l.span) * 2);
    return;
  }
  if (Abs(l.xPitch) == 1 && Abs(l.yPitch) >= l.columns) {
    const long long rowStart = l.xPitch < 0 ? -(l.columns - 1) : 0;
    for (long long y = 0; y < l.rows; ++y) {
      const long long at = y * l.yPitch + rowStart;
      std::memcpy(frame + at, staging + at, static_cast<size_t>(l.columns) * 2);
    }
    return;
  }
  if (Abs(l.yPitch) == 1 && Abs(l.xPitch) >= l.rows) {
    const long long columnStart = l.yPitch < 0 ? -(l.rows - 1) : 0;
    for (long long x = 0; x < l.columns; ++x) {
      const long long at = x * l.xPitch + columnStart;
      std::memcpy(frame + at, staging + at, static_cast<size_t>(l.rows) * 2);
    }
    return;
  }
  for (long long x = 0; x < l.columns; ++x) {
    for (long long y = 0; y < l.rows; ++y) {
      const long long at = x * l.xPitch + y * l.yPitch;
      frame[at] = staging[at];
    }
  }
}

}  // namespace

int OpenDisplay(Display& d, WindowHandle window, uint8_t fullScreen) {
  if (GXOpenDisplay(window, fullScreen != 0 ? GX_FULLSCREEN : 0) == 0) return 1;
  const GXDisplayProperties properties = GXGetDisplayProperties();
  FrameLayout layout;
  uint16_t* staging = nullptr;
  if (LayoutOf(properties, &layout) == 0) {
    // Cleared, so that a frame presented before anything was drawn shows black.
    staging = static_cast<uint16_t*>(std::calloc(static_cast<size_t>(layout.span), 2));
  }
  if (staging == nullptr) {
    // A screen we can't draw on is no better than one we didn't get: give it back, so that the
    // caller's handling of a display that can't be opened takes over.
    GXCloseDisplay();
    return 1;
  }
  d.properties = properties;
  d.stagingBuffer = staging;
  d.frameBuffer = nullptr;
  return 0;
}

int CloseDisplay(Display& d) {
  std::free(d.stagingBuffer);
  d.stagingBuffer = nullptr;
  d.frameBuffer = nullptr;
  GXCloseDisplay();
  return 0;
}

uint16_t* LockFrameBuffer(Display& d) {
  d.frameBuffer = static_cast<uint16_t*>(GXBeginDraw());
  return d.frameBuffer;
}

int UnlockFrameBuffer(Display&) {
  GXEndDraw();
  return 0;
}

uint16_t ScreenWidth(const Display& d) { return static_cast<uint16_t>(d.properties.cxWidth); }
uint16_t ScreenHeight(const Display& d) { return static_cast<uint16_t>(d.properties.cyHeight); }

long long StagingOrigin(const Display& d) {
  FrameLayout layout;
  return LayoutOf(d.properties, &layout) == 0 ? -layout.lowest : 0;
}

int PresentFrame(Display& d, const Picture& picture, uint8_t direct) {
  FrameLayout layout;
  if (LayoutOf(d.properties, &layout) != 0 || picture.pixels == nullptr) return 0;
  const long long columns = picture.width < layout.columns ? picture.width : layout.columns;
  const long long rows = picture.height < layout.rows ? picture.height : layout.rows;
  if (columns == 0 || rows == 0) return 0;
  // Pictures step 1 to the right and one row down; anything else might read past the store.
  const long long last = (columns - 1) * picture.xStep + (rows - 1) * static_cast<long long>(picture.yStep);
  if (last >= static_cast<long long>(picture.width) * picture.height) return 0;

  if (direct != 0) {
    uint16_t* frame = LockFrameBuffer(d);
    if (frame != nullptr) WalkFrame(frame, layout, picture, columns, rows);
    UnlockFrameBuffer(d);
    return 0;
  }
  if (d.stagingBuffer == nullptr) return 0;
  uint16_t* staging = d.stagingBuffer - layout.lowest;
  WalkFrame(staging, layout, picture, columns, rows);
  uint16_t* frame = LockFrameBuffer(d);
  if (frame != nullptr) CopyStaged(frame, staging, layout);
  UnlockFrameBuffer(d);
  return 0;
}
