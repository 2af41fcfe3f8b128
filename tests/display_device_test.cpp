// The display library's frame buffer under the headless display's properties.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/gx.h"

namespace {

class DisplayDevice : public ::testing::Test {
 protected:
  void TearDown() override { ResetDisplay(); }
};

// Writes pixel (x, y) = x * 1000 + y through the pitches, as any caller of the library would.
void PaintThroughPitches(void* frame, const GXDisplayProperties& p) {
  auto* origin = static_cast<unsigned char*>(frame);
  for (uint32_t y = 0; y < p.cyHeight; ++y) {
    for (uint32_t x = 0; x < p.cxWidth; ++x) {
      const uint16_t value = static_cast<uint16_t>(x * 1000 + y);
      std::memcpy(origin + static_cast<long long>(x) * p.cbxPitch + static_cast<long long>(y) * p.cbyPitch, &value, 2);
    }
  }
}

}  // namespace

TEST_F(DisplayDevice, EmulatedDeviceIsDense565Portrait) {
  const GXDisplayProperties p = GXGetDisplayProperties();
  EXPECT_EQ(p.cxWidth, 240u);
  EXPECT_EQ(p.cyHeight, 320u);
  EXPECT_EQ(p.cbxPitch, 2);
  EXPECT_EQ(p.cbyPitch, 480);
  EXPECT_EQ(p.cBPP, 16);
  EXPECT_TRUE(p.ffFormat & kfDirect565);
}

// Every layout a device may have: each pixel written through the pitches stays inside the frame
// buffer (the sanitizer build checks that) and comes back at its place in the presented screen.
TEST_F(DisplayDevice, EveryLayoutPresentsThePixelsAtTheirPlaces) {
  const GXDisplayProperties layouts[] = {
      {240, 320, 2, 480, 16, kfDirect565},    // portrait, dense
      {240, 320, 2, 512, 16, kfDirect565},    // padded rows
      {240, 320, 640, -2, 16, kfDirect565},   // rotated: columns run upward
      {240, 320, -640, 2, 16, kfDirect565},   // rotated the other way
      {240, 320, -2, -480, 16, kfDirect555},  // upside down
      {16, 9, 2, 32, 16, kfDirect555},        // another size
  };
  for (const GXDisplayProperties& p : layouts) {
    SetDisplayProperties(p);
    ASSERT_NE(GXOpenDisplay(nullptr, GX_FULLSCREEN), 0);
    void* frame = GXBeginDraw();
    ASSERT_NE(frame, nullptr);
    PaintThroughPitches(frame, p);
    GXEndDraw();
    const uint16_t* screen = GXPresentedScreen();
    ASSERT_NE(screen, nullptr);
    for (uint32_t y = 0; y < p.cyHeight; y += 7) {
      for (uint32_t x = 0; x < p.cxWidth; x += 5) {
        ASSERT_EQ(screen[y * p.cxWidth + x], static_cast<uint16_t>(x * 1000 + y))
            << "pitches " << p.cbxPitch << "/" << p.cbyPitch << " at " << x << "," << y;
      }
    }
    GXCloseDisplay();
  }
}

TEST_F(DisplayDevice, FailingOrSuspendedDisplayGivesNoFrameBuffer) {
  SetDisplayProperties(DefaultDisplayProperties(), true);
  EXPECT_EQ(GXOpenDisplay(nullptr, GX_FULLSCREEN), 0);
  EXPECT_EQ(GXBeginDraw(), nullptr);
  EXPECT_EQ(GXPresentedScreen(), nullptr);

  ResetDisplay();
  ASSERT_NE(GXOpenDisplay(nullptr, GX_FULLSCREEN), 0);
  GXSuspend();
  EXPECT_EQ(GXBeginDraw(), nullptr);
  GXResume();
  EXPECT_NE(GXBeginDraw(), nullptr);
  GXEndDraw();
}

TEST_F(DisplayDevice, DefaultKeysAreTheEightDistinctPortraitKeys) {
  const GXKeyList keys = GXGetDefaultKeys(GX_NORMALKEYS);
  const int16_t codes[] = {keys.vkUp, keys.vkDown, keys.vkLeft, keys.vkRight,
                           keys.vkA,  keys.vkB,    keys.vkC,    keys.vkStart};
  for (size_t i = 0; i < 8; ++i) {
    for (size_t j = i + 1; j < 8; ++j) EXPECT_NE(codes[i], codes[j]);
  }
  EXPECT_EQ(keys.vkUp, kKeyUp);
  EXPECT_EQ(keys.vkA, kKeyA);
}
