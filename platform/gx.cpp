// The display and key library over plain memory: frame buffer, drawing brackets, keys.
#include "platform/gx.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct DisplayDevice {
  GXDisplayProperties properties = DefaultDisplayProperties();
  bool failOpen = false;
  bool open = false;
  bool suspended = false;
  bool drawing = false;
  bool everPresented = false;
  // The frame buffer block, and the offset of pixel (0, 0) inside it. With a negative pitch the
  // origin lies inside the block, not at its start.
  std::vector<uint16_t> block;
  long long origin = 0;
  std::vector<uint16_t> presented;  // plain copy, made only for frame buffers that are not dense
  GXPresentHook presentHook = nullptr;
};

DisplayDevice& Device() {
  static DisplayDevice device;
  return device;
}

// Lays out a frame buffer for the properties: a block that holds every pixel the pitches can
// reach, with the origin placed so that no pixel offset falls outside it.
void AllocateFrameBuffer(DisplayDevice& d) {
  const GXDisplayProperties& p = d.properties;
  long long lowest = 0;
  long long highest = 0;
  if (p.cxWidth > 0 && p.cyHeight > 0) {
    const long long xs[2] = {0, static_cast<long long>(p.cxWidth) - 1};
    const long long ys[2] = {0, static_cast<long long>(p.cyHeight) - 1};
    for (long long x : xs) {
      for (long long y : ys) {
        const long long offset = x * p.cbxPitch + y * p.cbyPitch;
        if (offset < lowest) lowest = offset;
        if (offset > highest) highest = offset;
      }
    }
  }
  d.block.assign(static_cast<size_t>((highest - lowest) / 2 + 1), 0);
  d.origin = -lowest;
}

}  // namespace

GXDisplayProperties DefaultDisplayProperties() { return GXDisplayProperties{240, 320, 2, 480, 16, kfDirect565}; }

void SetDisplayProperties(const GXDisplayProperties& properties, bool failOpen) {
  DisplayDevice& d = Device();
  if (d.open) GXCloseDisplay();
  d.properties = properties;
  d.failOpen = failOpen;
  d.everPresented = false;
  d.presented.clear();
}

void ResetDisplay() { SetDisplayProperties(DefaultDisplayProperties(), false); }

int GXOpenDisplay(WindowHandle, uint32_t) {
  DisplayDevice& d = Device();
  if (d.failOpen || d.open) return 0;
  AllocateFrameBuffer(d);
  d.open = true;
  d.suspended = false;
  return 1;
}

int GXCloseDisplay() {
  DisplayDevice& d = Device();
  d.open = false;
  d.drawing = false;
  d.block.clear();
  d.block.shrink_to_fit();
  return 1;
}

GXDisplayProperties GXGetDisplayProperties() { return Device().properties; }

void* GXBeginDraw() {
  DisplayDevice& d = Device();
  if (!d.open || d.suspended) return nullptr;
  d.drawing = true;
  return reinterpret_cast<unsigned char*>(d.block.data()) + d.origin;
}

int GXEndDraw() {
  DisplayDevice& d = Device();
  if (!d.drawing) return 0;
  d.drawing = false;
  d.everPresented = true;
  if (d.presentHook != nullptr) {
    const uint16_t* screen = GXPresentedScreen();
    if (screen != nullptr) d.presentHook(screen, d.properties);
  }
  return 1;
}

int GXSuspend() {
  Device().suspended = true;
  return 1;
}

int GXResume() {
  Device().suspended = false;
  return 1;
}

int GXOpenInput() { return 1; }
int GXCloseInput() { return 1; }

GXKeyList GXGetDefaultKeys(int) {
  GXKeyList keys{};
  keys.vkUp = kKeyUp;
  keys.vkDown = kKeyDown;
  keys.vkLeft = kKeyLeft;
  keys.vkRight = kKeyRight;
  keys.vkA = kKeyA;
  keys.vkB = kKeyB;
  keys.vkC = kKeyC;
  keys.vkStart = kKeyStart;
  return keys;
}

const uint16_t* GXPresentedScreen() {
  DisplayDevice& d = Device();
  const GXDisplayProperties& p = d.properties;
  if (!d.everPresented || d.block.empty() || p.cBPP != 16) return nullptr;
  const unsigned char* origin = reinterpret_cast<const unsigned char*>(d.block.data()) + d.origin;
  // The emulated device's dense layout already is the plain picture: no copy on the hot path.
  if (p.cbxPitch == 2 && p.cbyPitch == static_cast<int32_t>(2 * p.cxWidth)) {
    return reinterpret_cast<const uint16_t*>(origin);
  }
  d.presented.resize(static_cast<size_t>(p.cxWidth) * p.cyHeight);
  for (uint32_t y = 0; y < p.cyHeight; ++y) {
    for (uint32_t x = 0; x < p.cxWidth; ++x) {
      uint16_t pixel;
      std::memcpy(&pixel, origin + static_cast<long long>(x) * p.cbxPitch + static_cast<long long>(y) * p.cbyPitch,
                  sizeof pixel);
      d.presented[static_cast<size_t>(y) * p.cxWidth + x] = pixel;
    }
  }
  return d.presented.data();
}

void GXSetPresentHook(GXPresentHook hook) { Device().presentHook = hook; }
