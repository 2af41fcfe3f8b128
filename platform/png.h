// PNG files on the host, for screen shots, previews and the picture converters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// An 8-bit RGB image, rows top to bottom, three bytes a pixel.
struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Expands a 16-bit pixel of the given format (5-6-5 when is565, else 5-5-5) to 8-bit channels,
// with the top bits repeated into the low ones so that full intensity stays full.
void ExpandPixel(uint16_t pixel, bool is565, uint8_t* red, uint8_t* green, uint8_t* blue);

// An RGB image of width x height 16-bit pixels, rows top to bottom.
RgbImage ImageFromPixels(const uint16_t* pixels, uint32_t width, uint32_t height, bool is565);

// Writes the PNG whole, the way WriteHostFile does (platform/files.h): an existing file keeps its
// old content until the new one takes its place. 0 on success; 1 when the file can't be written,
// with the reason in *error when it is given.
int WritePng(const std::string& hostPath, const RgbImage& image, std::string* error = nullptr);

// Reads any PNG (palette, grey, 16-bit and alpha included) as 8-bit RGB; alpha goes to *alpha
// when it is given (255 where the file has none). Colours are taken as the file's gAMA, sRGB or
// iCCP chunk says; without one they are sRGB, 16-bit ones too, which are scaled to 8 bits as
// stored. 0 on success, 1 with a reason in *error.
int ReadPng(const std::string& hostPath, RgbImage* image, std::vector<uint8_t>* alpha, std::string* error);

// Reads a PNG a piece at a time as 8-bit RGBA (the same conversions as ReadPng), so that a large
// picture is never whole in memory. size(width, height) is called first and may refuse the
// picture by returning non-zero; then pixels(x, y, step, count, rgba) for each run of one row:
// pixels (x, y), (x + step, y), ... count of them, 4 bytes each in rgba. A plain PNG comes a row
// at a time from the top, x 0 and step 1; an interlaced one in its seven passes. 0 when the whole
// picture was read; 1 with a reason in *error (also when size refused it, with its reason).
int ReadPngRuns(
    const std::string& hostPath, const std::function<int(uint32_t width, uint32_t height, std::string* why)>& size,
    const std::function<void(uint32_t x, uint32_t y, uint32_t step, uint32_t count, const uint8_t* rgba)>& pixels,
    std::string* error);
