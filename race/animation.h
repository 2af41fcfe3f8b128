// Animated GIFs of a race: frames of 8-bit RGB, each with a palette of its own built from its own
// colours (without dithering where 256 suffice), and only the part that changed stored again.
#pragma once

#include <cstdint>
#include <string>

#include "platform/png.h"

struct GifFileType;

class GifWriter {
 public:
  GifWriter() = default;
  ~GifWriter();
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  // Starts the file (written beside its place, and put there by Close). 0, or 1 with *error.
  int Open(const std::string& hostPath, uint32_t width, uint32_t height, std::string* error);
  // A frame of the size given to Open, shown for `delay` hundredths of a second.
  int Add(const RgbImage& frame, int delay, std::string* error);
  // Ends the file and puts it in its place. 0, or 1 with *error and no file.
  int Close(std::string* error);

 private:
  GifFileType* gif_ = nullptr;
  std::string path_;
  std::string partPath_;
  RgbImage last_;
};
