// Fuzzes the picture file reader: a loaded picture's store holds exactly width x height pixels.
#include <cstdint>

#include "fuzz/fuzz_file.h"
#include "gfx/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture picture;
  LoadPicture(picture, WriteFuzzFile(data, size));
  if (picture.pixels != nullptr) {
    const size_t count = static_cast<size_t>(picture.width) * picture.height;
    if (count == 0 || size < 4 + 2 * count || picture.yStep != picture.width) __builtin_trap();
    volatile uint16_t sink = picture.pixels[0] ^ picture.pixels[count - 1];
    (void)sink;
  }
  return 0;
}
