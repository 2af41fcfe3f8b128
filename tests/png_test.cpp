// PNG files: 16-bit pixels expand to full 8-bit range and come back through the reader.
#include <gtest/gtest.h>

#include <array>

#include "platform/png.h"
#include "tests/support.h"

TEST(Png, ExpandsBothPixelFormatsToTheFullRange) {
  struct Case {
    uint16_t pixel;
    bool is565;
    uint8_t r, g, b;
  };
  const Case cases[] = {
      {0xFFFF, true, 255, 255, 255}, {0x0000, true, 0, 0, 0},     {0xF800, true, 255, 0, 0},
      {0x07E0, true, 0, 255, 0},     {0x001F, true, 0, 0, 255},   {0x7FFF, false, 255, 255, 255},
      {0x03E0, false, 0, 255, 0},    {0x7C00, false, 255, 0, 0},  {0x8410, true, 132, 130, 132},
  };
  for (const Case& c : cases) {
    uint8_t r, g, b;
    ExpandPixel(c.pixel, c.is565, &r, &g, &b);
    EXPECT_EQ((std::array<int, 3>{r, g, b}), (std::array<int, 3>{c.r, c.g, c.b})) << std::hex << c.pixel;
  }
}

TEST(Png, WrittenImagesReadBackExactly) {
  TempFolder folder;
  const uint16_t pixels[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x1234};
  const RgbImage image = ImageFromPixels(pixels, 3, 2, true);
  ASSERT_EQ(WritePng(folder.HostFile("a.png"), image), 0);
  RgbImage back;
  std::vector<uint8_t> alpha;
  std::string error;
  ASSERT_EQ(ReadPng(folder.HostFile("a.png"), &back, &alpha, &error), 0) << error;
  EXPECT_EQ(back.width, 3u);
  EXPECT_EQ(back.height, 2u);
  EXPECT_EQ(back.rgb, image.rgb);
  EXPECT_EQ(alpha, std::vector<uint8_t>(6, 255));

  WriteBytes(folder.HostFile("bad.png"), {'n', 'o', 't'});
  EXPECT_EQ(ReadPng(folder.HostFile("bad.png"), &back, nullptr, &error), 1);
  EXPECT_FALSE(error.empty());
}
