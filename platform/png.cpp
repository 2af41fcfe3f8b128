// PNG reading and writing over libpng's simplified interface.
#include "platform/png.h"

#include <png.h>

#include <cstring>

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

int WritePng(const std::string& hostPath, const RgbImage& image) {
  if (image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) return 1;
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGB;
  const int ok = png_image_write_to_file(&png, hostPath.c_str(), 0, image.rgb.data(), 0, nullptr);
  png_image_free(&png);
  return ok ? 0 : 1;
}

int ReadPng(const std::string& hostPath, RgbImage* image, std::vector<uint8_t>* alpha,
            std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, hostPath.c_str())) {
    if (error) *error = png.message;
    png_image_free(&png);
    return 1;
  }
  png.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr)) {
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
