// Picture: the one image type, 16-bit pixels in the screen's format; its file formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gx.h"

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  GXDisplayProperties properties{};  // the display's properties when the picture was made
  uint32_t xStep = 0;                // pixels to the right-hand neighbour; always 1
  uint32_t yStep = 0;                // pixels to the one below; always width
  uint16_t* pixels = nullptr;        // width x height pixels, owned; null when empty

  Picture() = default;
  ~Picture();
  // A picture owns its store alone; pictures are copied pixel by pixel, never as objects.
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
};

// Exchanges two pictures whole: size, properties, steps and pixel store.
void SwapPictures(Picture& a, Picture& b);

// Modes of CreatePicture.
constexpr uint16_t kPictureGivenSize = 0;
constexpr uint16_t kPictureScreenSize = 1;

// Releases the pixel store (once; a picture without one is left alone). Size stays. Returns 0.
int ReleasePixels(Picture& picture);

// Gives the picture a new, uncleared pixel store of the given size (mode 0) or of the screen's
// size (mode 1). 0 on success; 1 when the screen is not 16 bits deep or memory runs out, and the
// picture then has its new size but no pixels.
int CreatePicture(Picture& picture, uint16_t width, uint16_t height, uint16_t mode);

// Reads a picture file: 16-bit width, 16-bit height, then the pixels, little-endian. A file that
// can't be opened, or that is shorter than its header says, leaves the picture without pixels and
// with its old size. Bytes after the pixels are ignored.
void LoadPicture(Picture& picture, const std::u16string& path);

// Writes the screenshot format: 32-bit width, 32-bit height, then the pixels, whole: the file
// holds the earlier screenshot until the new one takes its place. A file that can't be written,
// or a picture without pixels, writes nothing and leaves any earlier one.
void SavePicture(const Picture& picture, const std::u16string& path);

// Size in bytes of a picture file's header and of a screenshot file's header.
constexpr long long kPictureFileHeader = 4;
constexpr long long kScreenshotHeader = 8;

// The bytes of a picture file and of a screenshot file of width x height pixels.
std::vector<unsigned char> EncodePicture(uint32_t width, uint32_t height, const uint16_t* pixels);
std::vector<unsigned char> EncodeScreenshot(uint32_t width, uint32_t height, const uint16_t* pixels);
