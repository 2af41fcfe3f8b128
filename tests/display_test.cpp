// Colours on both pixel formats, and the display: opening, presenting through every frame-buffer
// layout, and the screens and pictures it refuses.
#include "gfx/display.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "gfx/colour.h"
#include "platform/gx.h"
#include "tests/support.h"

namespace {

class Colours : public ScreenFormatTest {};

using Rgb = std::array<uint16_t, 3>;

Rgb Split(uint16_t pixel) {
  Rgb c{};
  SplitColour(pixel, &c[0], &c[1], &c[2]);
  return c;
}

}  // namespace

TEST_F(Colours, PackAndUnpackOnBothFormats) {
  struct Case {
    uint32_t format;
    Rgb components;
    uint16_t pixel;
    Rgb split;  // what SplitColour gives back for the pixel
  };
  const Case cases[] = {
      {kfDirect565, {31, 63, 31}, 0xFFFF, {31, 63, 31}},
      {kfDirect565, {31, 0, 31}, 0xF81F, {31, 0, 31}},
      {kfDirect565, {0, 0, 0}, 0x0000, {0, 0, 0}},
      {kfDirect565, {31, 60, 0}, 0xFF80, {31, 60, 0}},
      {kfDirect565, {0, 64, 0}, 0x0800, {1, 0, 0}},  // an unmasked green spills into red
      {kfDirect555, {31, 63, 31}, 0x7FFF, {31, 31, 31}},
      {kfDirect555, {31, 0, 31}, 0x7C1F, {31, 0, 31}},
      {kfDirect555, {0, 0, 0}, 0x0000, {0, 0, 0}},
      {kfDirect555, {0, 1, 0}, 0x0000, {0, 0, 0}},  // the lowest green bit has no place
      {kfDirect555, {0, 31, 0}, 0x01E0, {0, 15, 0}},
  };
  for (const Case& c : cases) {
    UseFormat(c.format);
    EXPECT_EQ(MakeColour(c.components[0], c.components[1], c.components[2]), c.pixel)
        << std::hex << c.format << " " << c.components[0] << "," << c.components[1] << "," << c.components[2];
    EXPECT_EQ(Split(c.pixel), c.split) << std::hex << c.pixel;
  }
}

// The fast blending reads and packs pixels through SplitLayout instead of the two operations: it
// must agree with them on every pixel of both formats.
TEST_F(Colours, SplitLayoutAgreesWithSplitAndMakeOnEveryPixel) {
  for (uint32_t format : {kfDirect565, kfDirect555}) {
    UseFormat(format);
    const ChannelLayout l = SplitLayout();
    for (uint32_t v = 0; v < 65536; ++v) {
      const uint16_t pixel = static_cast<uint16_t>(v);
      const Rgb c = Split(pixel);
      const Rgb fromLayout{static_cast<uint16_t>((v >> l.redShift) & l.redMask),
                           static_cast<uint16_t>((v >> l.greenShift) & l.greenMask),
                           static_cast<uint16_t>(v & l.blueMask)};
      ASSERT_EQ(fromLayout, c) << std::hex << format << " " << v;
      const uint16_t packed = static_cast<uint16_t>((c[0] << l.redShift) | (c[1] << l.greenShift) | c[2]);
      ASSERT_EQ(packed, MakeColour(c[0], WidenGreen(c[1]), c[2])) << std::hex << format << " " << v;
    }
  }
  // On a 5-6-5 screen every pixel splits and packs back to itself; on a 5-5-5 one every pixel
  // with bit 15 clear does, thanks to the widened green.
  UseFormat(kfDirect565);
  const Rgb c = Split(0x1234);
  EXPECT_EQ(MakeColour(c[0], WidenGreen(c[1]), c[2]), 0x1234);
  UseFormat(kfDirect555);
  const Rgb d = Split(0x1234);
  EXPECT_EQ(MakeColour(d[0], WidenGreen(d[1]), d[2]), 0x1234);
}

// ---- The display -------------------------------------------------------------------------------

namespace {

class Displays : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseDisplay(display);
    display = Display{};
    ResetDisplay();
    ForgetColourFormat();
  }
};

// A picture whose every pixel differs from its neighbours: pixel (x, y) = x·331 + y·7 + seed.
void Pattern(Picture& p, uint16_t width, uint16_t height, uint16_t seed) {
  ASSERT_EQ(CreatePicture(p, width, height, kPictureGivenSize), 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) p.pixels[y * width + x] = static_cast<uint16_t>(x * 331 + y * 7 + seed);
  }
}

// The screen as last presented, as (x, y) → pixel.
uint16_t Shown(uint32_t x, uint32_t y) {
  const uint16_t* screen = GXPresentedScreen();
  return screen[y * GXGetDisplayProperties().cxWidth + x];
}

::testing::AssertionResult ShowsPicture(const Picture& p, uint32_t columns, uint32_t rows) {
  const uint16_t* screen = GXPresentedScreen();
  if (screen == nullptr) return ::testing::AssertionFailure() << "nothing presented";
  const uint32_t width = GXGetDisplayProperties().cxWidth;
  for (uint32_t y = 0; y < rows; ++y) {
    for (uint32_t x = 0; x < columns; ++x) {
      if (screen[y * width + x] != p.pixels[y * p.width + x]) {
        return ::testing::AssertionFailure() << "screen pixel " << x << "," << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(Displays, OpensTheEmulatedScreenWithADenseStagingBuffer) {
  ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
  EXPECT_EQ(ScreenWidth(display), 240);
  EXPECT_EQ(ScreenHeight(display), 320);
  EXPECT_EQ(display.properties.cbyPitch, 480);
  ASSERT_NE(display.stagingBuffer, nullptr);
  EXPECT_EQ(StagingOrigin(display), 0);
  // The staged frame is an exact image of the frame buffer.
  Picture frame;
  Pattern(frame, 240, 320, 5);
  PresentFrame(display, frame, 0);
  EXPECT_EQ(std::memcmp(display.stagingBuffer, frame.pixels, 153600), 0);
  EXPECT_TRUE(ShowsPicture(frame, 240, 320));
}

// Portrait, padded, rotated either way, upside down, another format, another size: staged and
// direct, the picture's pixel (x, y) lands on screen pixel (x, y).
TEST_F(Displays, EveryLayoutShowsThePictureStagedAndDirect) {
  const GXDisplayProperties layouts[] = {
      {240, 320, 2, 480, 16, kfDirect565},  {240, 320, 2, 512, 16, kfDirect565},   {240, 320, 640, -2, 16, kfDirect565},
      {240, 320, -640, 2, 16, kfDirect565}, {240, 320, -2, -480, 16, kfDirect555}, {240, 320, 2, -512, 16, kfDirect565},
      {240, 320, 2, 400, 16, kfDirect565},  {16, 9, 2, 40, 16, kfDirect555},       {240, 320, 700, -2, 16, kfDirect565},
  };
  for (const GXDisplayProperties& p : layouts) {
    SCOPED_TRACE(::testing::Message() << "pitches " << p.cbxPitch << "/" << p.cbyPitch << " size " << p.cxWidth);
    SetDisplayProperties(p);
    // cbyPitch 400 on a 240-wide screen makes rows overlap; that layout can't show a picture
    // whole, but it must still keep every write inside both buffers.
    const bool overlapping = p.cbyPitch == 400;
    ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
    Picture a, b;
    Pattern(a, static_cast<uint16_t>(p.cxWidth), static_cast<uint16_t>(p.cyHeight), 1);
    Pattern(b, static_cast<uint16_t>(p.cxWidth), static_cast<uint16_t>(p.cyHeight), 900);
    PresentFrame(display, a, 0);
    if (!overlapping) {
      EXPECT_TRUE(ShowsPicture(a, p.cxWidth, p.cyHeight)) << "staged";
    }
    PresentFrame(display, b, 1);
    if (!overlapping) {
      EXPECT_TRUE(ShowsPicture(b, p.cxWidth, p.cyHeight)) << "direct";
    }
    PresentFrame(display, a, 0);
    if (!overlapping) {
      EXPECT_TRUE(ShowsPicture(a, p.cxWidth, p.cyHeight)) << "staged again";
    }
    CloseDisplay(display);
  }
}

// With padded rows the gap after each row belongs to the frame buffer but holds no pixel: the
// staged copy must leave it alone.
TEST_F(Displays, StagedCopyLeavesTheFrameBuffersPaddingAlone) {
  for (int32_t yPitch : {512, -512}) {
    SetDisplayProperties(GXDisplayProperties{240, 320, 2, yPitch, 16, kfDirect565});
    ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
    uint16_t* frame = LockFrameBuffer(display);
    ASSERT_NE(frame, nullptr);
    // The gaps between rows: after rows 0-318 going down, after rows 1-319 going up.
    const int32_t rowPixels = yPitch / 2;
    const int firstRow = yPitch > 0 ? 0 : 1;
    for (int y = firstRow; y < firstRow + 319; ++y) {
      for (int x = 240; x < 256; ++x) frame[y * rowPixels + x] = 0xBEEF;
    }
    UnlockFrameBuffer(display);
    Picture picture;
    Pattern(picture, 240, 320, 3);
    PresentFrame(display, picture, 0);
    frame = LockFrameBuffer(display);
    for (int y = firstRow; y < firstRow + 319; ++y) {
      for (int x = 240; x < 256; ++x)
        ASSERT_EQ(frame[y * rowPixels + x], 0xBEEF) << x << "," << y << " pitch " << yPitch;
    }
    UnlockFrameBuffer(display);
    EXPECT_TRUE(ShowsPicture(picture, 240, 320));
    CloseDisplay(display);
  }
}

TEST_F(Displays, RefusesScreensItCantDrawOnAndGivesThemBack) {
  struct Case {
    const char* what;
    GXDisplayProperties properties;
    bool failOpen;
  };
  const Case cases[] = {
      {"display library refuses", {240, 320, 2, 480, 16, kfDirect565}, true},
      {"8 bits a pixel", {240, 320, 1, 240, 8, 0}, false},
      {"32 bits a pixel", {240, 320, 4, 960, 32, 0}, false},
      {"odd pitch", {240, 320, 3, 720, 16, kfDirect565}, false},
      {"no pixels", {0, 320, 2, 0, 16, kfDirect565}, false},
  };
  for (const Case& c : cases) {
    SetDisplayProperties(c.properties, c.failOpen);
    EXPECT_EQ(OpenDisplay(display, nullptr, 1), 1) << c.what;
    EXPECT_EQ(display.stagingBuffer, nullptr) << c.what;
    // The screen was given back: the library can open it again.
    if (!c.failOpen) {
      EXPECT_NE(GXOpenDisplay(nullptr, GX_FULLSCREEN), 0) << c.what;
      GXCloseDisplay();
    }
  }
}

TEST_F(Displays, SizesAreTheLowSixteenBits) {
  SetDisplayProperties(GXDisplayProperties{65536 + 4, 2, 2, 2 * (65536 + 4), 16, kfDirect565});
  ASSERT_EQ(OpenDisplay(display, nullptr, 0), 0);
  EXPECT_EQ(ScreenWidth(display), 4);
  EXPECT_EQ(ScreenHeight(display), 2);
}

TEST_F(Displays, ASuspendedDisplayShowsNothingAndResumesAsBefore) {
  ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
  Picture first, second;
  Pattern(first, 240, 320, 1);
  Pattern(second, 240, 320, 2);
  PresentFrame(display, first, 0);
  GXSuspend();
  EXPECT_EQ(PresentFrame(display, second, 0), 0);
  EXPECT_EQ(PresentFrame(display, second, 1), 0);
  EXPECT_EQ(display.frameBuffer, nullptr);
  GXResume();
  EXPECT_TRUE(ShowsPicture(first, 240, 320));
  PresentFrame(display, second, 1);
  EXPECT_TRUE(ShowsPicture(second, 240, 320));
}

// A picture smaller than the screen shows its own pixels and nothing read past them; a larger one
// shows its top-left corner; one without pixels changes nothing.
TEST_F(Displays, PicturesOfOtherSizesNeverReadPastTheirPixels) {
  ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
  for (uint8_t direct : {0, 1}) {
    Picture full, small, large;
    Pattern(full, 240, 320, 11);
    Pattern(small, 100, 50, 500);
    Pattern(large, 300, 400, 7000);
    PresentFrame(display, full, direct);
    PresentFrame(display, small, direct);
    EXPECT_TRUE(ShowsPicture(small, 100, 50)) << int{direct};
    EXPECT_EQ(Shown(100, 0), full.pixels[100]) << int{direct};
    EXPECT_EQ(Shown(0, 50), full.pixels[50 * 240]) << int{direct};
    EXPECT_EQ(Shown(239, 319), full.pixels[319 * 240 + 239]) << int{direct};

    Picture empty;
    PresentFrame(display, empty, direct);
    EXPECT_TRUE(ShowsPicture(small, 100, 50)) << int{direct};

    PresentFrame(display, large, direct);
    for (uint32_t y = 0; y < 320; y += 13) {
      for (uint32_t x = 0; x < 240; x += 7) ASSERT_EQ(Shown(x, y), large.pixels[y * 300 + x]) << x << "," << y;
    }
  }
}
