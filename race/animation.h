// Animated GIFs of a race: frames of 8-bit RGB, each with a palette of its own built from its own
// colours (without dithering where 256 suffice), and only the part that changed stored again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/png.h"

struct GifFileType;

class GifWriter {
 public:
  GifWriter() = default;
  ~GifWriter();
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  // Starts the animation, kept in memory until Close writes it whole. 0, or 1 with *error.
  int Open(const std::string& hostPath, uint32_t width, uint32_t height, std::string* error);
  // A frame of the size given to Open, shown for `delay` hundredths of a second.
  int Add(const RgbImage& frame, int delay, std::string* error);
  // Ends the animation and writes the file whole, the way every file of the programs is written (an
  // existing one keeps its mode). 0, or 1 with *error and the file as it was.
  int Close(std::string* error);

 private:
  GifFileType* gif_ = nullptr;
  std::string path_;
  std::vector<unsigned char> bytes_;
  RgbImage last_;
};
