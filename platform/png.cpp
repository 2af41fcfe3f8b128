// PNG reading and writing over libpng's simplified interface.
#include "platform/png.h"

#include <png.h>

#include <cstdio>
#include <cstring>

#include "platform/files.h"

void ExpandPixel(uint16_t pixel, bool is565, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const unsigned r = is565 ? pixel >> 11 : (pixel >> 10) & 31;
  const unsigned b = pixel & 31;
  *red = static_cast<uint8_t>((r << 3) | (r >> 2));
  *blue = static_cast<uint8_t>((b << 3) | (b >> 2));
  if (is565) {
    const unsigned g = (pixel >> 5) & 63;
    *green = static_cast<uint8_t>((g << 2) | (g >> 4));
  } else {
    const unsigned g = (pixel >> 5) & 31;
    *green = static_cast<uint8_t>((g << 3) | (g >> 2));
  }
}

RgbImage ImageFromPixels(const uint16_t* pixels, uint32_t width, uint32_t height, bool is565) {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    ExpandPixel(pixels[i], is565, &image.rgb[3 * i], &image.rgb[3 * i + 1], &image.rgb[3 * i + 2]);
  }
  return image;
}

int WritePng(const std::string& hostPath, const RgbImage& image, std::string* error) {
  if (image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) {
    if (error != nullptr) *error = "the image has the wrong number of pixels";
    return 1;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGB;
  // Encoded in memory first, so that the file is written in one piece or not at all.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0, nullptr)) {
    if (error != nullptr) *error = png.message;
    png_image_free(&png);
    return 1;
  }
  std::vector<unsigned char> bytes(size);
  const int ok = png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr);
  if (!ok && error != nullptr) *error = png.message;
  png_image_free(&png);
  if (!ok) return 1;
  return WriteHostFile(hostPath, bytes.data(), size, error);
}

int ReadPng(const std::string& hostPath, RgbImage* image, std::vector<uint8_t>* alpha,
            std::string* error) {
  // Through the platform's open, which never waits on a FIFO.
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) {
    if (error) *error = "can't open the file";
    return 1;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&png, file)) {
    if (error) *error = png.message;
    png_image_free(&png);
    std::fclose(file);
    return 1;
  }
  // libpng takes 16-bit values without a gAMA or sRGB chunk as linear light, which would turn a
  // 25% grey into 55%; whoever made them meant them as stored, like 8-bit ones.
  png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  png.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(png));
  const int read = png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr);
  std::fclose(file);
  if (!read) {
    if (error) *error = png.message;
    png_image_free(&png);
    return 1;
  }
  image->width = png.width;
  image->height = png.height;
  const size_t count = static_cast<size_t>(png.width) * png.height;
  image->rgb.resize(count * 3);
  if (alpha) alpha->resize(count);
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(&image->rgb[3 * i], &rgba[4 * i], 3);
    if (alpha) (*alpha)[i] = rgba[4 * i + 3];
  }
  png_image_free(&png);
  return 0;
}
