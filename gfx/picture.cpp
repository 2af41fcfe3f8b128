// Picture creation and release, the picture file reader and the screenshot writer.
#include "gfx/picture.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

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

uint16_t ReadU16(const unsigned char* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

void PutU32(unsigned char* b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
  b[2] = static_cast<unsigned char>(v >> 16);
  b[3] = static_cast<unsigned char>(v >> 24);
}

// Pixels are little-endian in every file; in memory they are host-endian.
void PixelsFromFile(uint16_t* pixels, size_t count) {
  auto* bytes = reinterpret_cast<unsigned char*>(pixels);
  for (size_t i = 0; i < count; ++i) pixels[i] = ReadU16(bytes + 2 * i);
}

}  // namespace

void LoadPicture(Picture& picture, std::u16string path) {
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

void SavePicture(const Picture& picture, std::u16string path) {
  const size_t count = static_cast<size_t>(picture.width) * picture.height;
  if (picture.pixels == nullptr && count > 0) return;
  std::FILE* file = OpenDeviceFile(path, "wb");
  if (file == nullptr) return;
  unsigned char header[kScreenshotHeader];
  PutU32(header, picture.width);
  PutU32(header + 4, picture.height);
  std::fwrite(header, 1, sizeof header, file);
  // Rows are written in file byte order whatever the host's order is.
  unsigned char row[2 * 1024];
  size_t done = 0;
  while (done < count) {
    const size_t n = count - done < sizeof row / 2 ? count - done : sizeof row / 2;
    for (size_t i = 0; i < n; ++i) {
      const uint16_t p = picture.pixels[done + i];
      row[2 * i] = static_cast<unsigned char>(p);
      row[2 * i + 1] = static_cast<unsigned char>(p >> 8);
    }
    std::fwrite(row, 2, n, file);
    done += n;
  }
  std::fclose(file);
}
