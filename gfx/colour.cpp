// MakeColour and SplitColour over a once-read copy of the display's format.
#include "gfx/colour.h"

#include "platform/gx.h"

namespace {

// Asking the display library for its format on every pixel would cost more than the packing,
// so both operations read it once. The format is fixed for a run.
struct FormatCache {
  bool filled = false;
  bool is565 = true;
};

FormatCache makeCache;
FormatCache splitCache;

bool Is565(FormatCache& cache) {
  if (!cache.filled) {
    cache.is565 = (GXGetDisplayProperties().ffFormat & kfDirect565) != 0;
    cache.filled = true;
  }
  return cache.is565;
}

}  // namespace

uint16_t MakeColour(uint16_t red, uint16_t green, uint16_t blue) {
  if (Is565(makeCache)) return Pack565(red, green, blue);
  return static_cast<uint16_t>((red << 10) | ((green & 0x1FE) << 4) | blue);
}

int SplitColour(uint16_t pixel, uint16_t* red, uint16_t* green, uint16_t* blue) {
  if (Is565(splitCache)) {
    *red = pixel >> 11;
    *green = (pixel >> 5) & 63;
    *blue = pixel & 31;
  } else {
    *red = (pixel >> 10) & 31;
    *green = (pixel >> 5) & 31;
    *blue = pixel & 31;
  }
  return 0;
}

uint16_t WidenGreen(uint16_t green) { return Is565(splitCache) ? green : static_cast<uint16_t>(green << 1); }

ChannelLayout SplitLayout() {
  if (Is565(splitCache)) return ChannelLayout{11, 5, 31, 63, 31};
  return ChannelLayout{10, 5, 31, 31, 31};
}

void ForgetColourFormat() {
  makeCache.filled = false;
  splitCache.filled = false;
}
