// PNG files: 16-bit pixels expand to full 8-bit range and come back through the reader, whole or
// a run of pixels at a time.
#include "platform/png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdio>

#include "tests/support.h"

TEST(Png, ExpandsBothPixelFormatsToTheFullRange) {
  struct Case {
    uint16_t pixel;
    bool is565;
    uint8_t r, g, b;
  };
  const Case cases[] = {
      {0xFFFF, true, 255, 255, 255}, {0x0000, true, 0, 0, 0},    {0xF800, true, 255, 0, 0},
      {0x07E0, true, 0, 255, 0},     {0x001F, true, 0, 0, 255},  {0x7FFF, false, 255, 255, 255},
      {0x03E0, false, 0, 255, 0},    {0x7C00, false, 255, 0, 0}, {0x8410, true, 132, 130, 132},
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

namespace {

// A PNG of the given colour type, depth and interlacing, its samples from a pattern.
void WriteKindOfPng(const std::string& path, uint32_t width, uint32_t height, int colourType, int depth,
                    bool interlaced) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
    png_byte opacity[4] = {255, 128, 0, 255};
    png_set_PLTE(png, info, palette, 4);
    png_set_tRNS(png, info, opacity, 4, nullptr);
  }
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  const size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<png_byte> row(rowBytes);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < height; ++y) {
      for (size_t i = 0; i < rowBytes; ++i) {
        row[i] = static_cast<png_byte>(colourType == PNG_COLOR_TYPE_PALETTE ? ((i + y) % 4) * 0x55 : i * 37 + y * 11);
      }
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

}  // namespace

// A picture read a run at a time has the pixels it has read whole, interlaced or not.
TEST(Png, ReadARunAtATimeAPictureIsReadAsWhole) {
  struct Case {
    const char* what;
    uint32_t width, height;
    int colourType, depth;
    bool interlaced;
  };
  const Case cases[] = {
      {"RGB", 13, 7, PNG_COLOR_TYPE_RGB, 8, false},
      {"RGB, interlaced", 13, 7, PNG_COLOR_TYPE_RGB, 8, true},
      {"one pixel, interlaced: six passes empty", 1, 1, PNG_COLOR_TYPE_RGB, 8, true},
      {"grey and alpha, 16 bits, interlaced", 9, 10, PNG_COLOR_TYPE_GRAY_ALPHA, 16, true},
      {"palette with transparency", 5, 3, PNG_COLOR_TYPE_PALETTE, 2, false},
      {"RGBA, interlaced", 17, 17, PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The same picture, read whole from a plain file (interlacing changes no pixel).
    const std::string plain = folder.HostFile("plain.png");
    WriteKindOfPng(plain, c.width, c.height, c.colourType, c.depth, false);
    RgbImage whole;
    std::vector<uint8_t> alpha;
    std::string error;
    ASSERT_EQ(ReadPng(plain, &whole, &alpha, &error), 0) << error;
    const std::string path = folder.HostFile("kind.png");
    WriteKindOfPng(path, c.width, c.height, c.colourType, c.depth, c.interlaced);
    std::vector<uint8_t> rgba(static_cast<size_t>(c.width) * c.height * 4, 7);
    std::vector<int> visits(static_cast<size_t>(c.width) * c.height, 0);
    const int status = ReadPngRuns(
        path, [&](uint32_t w, uint32_t h, std::string*) { return w == c.width && h == c.height ? 0 : 1; },
        [&](uint32_t x, uint32_t y, uint32_t step, uint32_t count, const uint8_t* run) {
          for (uint32_t k = 0; k < count; ++k) {
            const size_t i = static_cast<size_t>(y) * c.width + x + k * step;
            ASSERT_LT(i, visits.size());
            ++visits[i];
            std::copy(run + 4 * k, run + 4 * k + 4, rgba.begin() + 4 * i);
          }
        },
        &error);
    ASSERT_EQ(status, 0) << error;
    EXPECT_EQ(visits, std::vector<int>(visits.size(), 1)) << "every pixel once";
    for (size_t i = 0; i < visits.size(); ++i) {
      ASSERT_EQ((std::array<int, 4>{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]}),
                (std::array<int, 4>{whole.rgb[3 * i], whole.rgb[3 * i + 1], whole.rgb[3 * i + 2], alpha[i]}))
          << "pixel " << i;
    }
  }
}
