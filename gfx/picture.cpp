// Picture creation and release, the picture file reader and the screenshot writer.
#include "gfx/picture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/byte_order.h"
#include "platform/files.h"

Picture::~Picture() { ReleasePixels(*this); }

int ReleasePixels(Picture& picture) {
  std::free(picture.pixels);
  picture.pixels = nullptr;
  return 0;
}

void SwapPictures(Picture& a, Picture& b) {
  std::swap(a.width, b.width);
  std::swap(a.height, b.height);
  std::swap(a.properties, b.properties);
  std::swap(a.xStep, b.xStep);
  std::swap(a.yStep, b.yStep);
  std::swap(a.pixels, b.pixels);
}

int CreatePicture(Picture& picture, uint16_t width, uint16_t height, uint16_t mode) {
  picture.properties = GXGetDisplayProperties();
  picture.xStep = 1;
  uint32_t w = width;
  uint32_t h = height;
  if (mode != kPictureGivenSize) {
    w = picture.properties.cxWidth;
    h = picture.properties.cyHeight;
  }
  picture.width = w;
  picture.yStep = w;
  picture.height = h;
  ReleasePixels(picture);
  if (picture.properties.cBPP != 16) return 1;
  const size_t bytes = static_cast<size_t>(w) * h * 2;
  // A zero-sized picture is a valid empty picture with no store.
  if (bytes == 0) return 0;
  picture.pixels = static_cast<uint16_t*>(std::malloc(bytes));
  return picture.pixels == nullptr ? 1 : 0;
}

namespace {

// Pixels are little-endian in every file; in memory they are host-endian.
void PixelsFromFile(uint16_t* pixels, size_t count) {
  auto* bytes = reinterpret_cast<unsigned char*>(pixels);
  for (size_t i = 0; i < count; ++i) pixels[i] = ReadU16(bytes + 2 * i);
}

}  // namespace

void LoadPicture(Picture& picture, const std::u16string& path) {
  ReleasePixels(picture);
  std::FILE* file = OpenDeviceFile(path, "rb");
  if (file == nullptr) return;
  unsigned char header[kPictureFileHeader];
  const long long size = FileSize(file);
  if (std::fread(header, 1, sizeof header, file) != sizeof header) {
    std::fclose(file);
    return;
  }
  const uint32_t width = ReadU16(header);
  const uint32_t height = ReadU16(header + 2);
  const size_t count = static_cast<size_t>(width) * height;
  // Never allocate more than the file can fill: a short file leaves the picture empty rather
  // than holding pixels nobody wrote.
  if (size < kPictureFileHeader + static_cast<long long>(count) * 2) {
    std::fclose(file);
    return;
  }
  uint16_t* pixels = nullptr;
  if (count > 0) {
    pixels = static_cast<uint16_t*>(std::malloc(count * 2));
    if (pixels == nullptr || std::fread(pixels, 2, count, file) != count) {
      std::free(pixels);
      std::fclose(file);
      return;
    }
    PixelsFromFile(pixels, count);
  }
  std::fclose(file);
  picture.pixels = pixels;
  picture.width = width;
  picture.height = height;
  picture.properties = GXGetDisplayProperties();
  picture.xStep = 1;
  picture.yStep = width;
}

void SavePicture(const Picture& picture, const std::u16string& path) {
  const size_t count = static_cast<size_t>(picture.width) * picture.height;
  if (picture.pixels == nullptr && count > 0) return;
  // Whole or not at all: a full disk leaves the screenshot there was, never part of a new one.
  const std::vector<unsigned char> bytes = EncodeScreenshot(picture.width, picture.height, picture.pixels);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

namespace {

// The header's two sizes in `sizeBytes` bytes each, then the pixels in file byte order whatever
// the host's order is.
std::vector<unsigned char> Encode(int sizeBytes, uint32_t width, uint32_t height, const uint16_t* pixels) {
  const size_t count = static_cast<size_t>(width) * height;
  std::vector<unsigned char> bytes;
  bytes.reserve(2 * static_cast<size_t>(sizeBytes) + 2 * count);
  for (uint32_t size : {width, height}) {
    if (sizeBytes == 2) {
      AppendU16(bytes, static_cast<uint16_t>(size));
    } else {
      AppendU32(bytes, size);
    }
  }
  for (size_t i = 0; i < count; ++i) AppendU16(bytes, pixels[i]);
  return bytes;
}

}  // namespace

std::vector<unsigned char> EncodePicture(uint32_t width, uint32_t height, const uint16_t* pixels) {
  return Encode(2, width, height, pixels);
}

std::vector<unsigned char> EncodeScreenshot(uint32_t width, uint32_t height, const uint16_t* pixels) {
  return Encode(4, width, height, pixels);
}
