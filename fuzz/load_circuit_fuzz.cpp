// Fuzzes the circuit loader: any file either loads into a consistent grid or changes nothing.
#include <cstdint>
#include <memory>

#include "data/circuit.h"
#include "fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One grid for the whole run, so that a refused file is loaded over the previous good one.
  static auto track = std::make_unique<TrackGrid>();
  const uint16_t widthBefore = track->width;
  const uint16_t* pixelsBefore = track->picture.pixels;

  const int16_t status = LoadCircuit(*track, WriteFuzzFile(data, size));
  if (status == 0) {
    const size_t cells = static_cast<size_t>(track->width) * track->height;
    if (cells == 0 || track->picture.pixels == nullptr || track->collisionGrid == nullptr ||
        track->outlineGrid == nullptr || track->recordCount > kRecordCapacity ||
        size < static_cast<size_t>(RecordOffset(track->width, track->height))) {
      __builtin_trap();
    }
    // Touch the last cell of every grid: a short allocation shows up under the address sanitizer.
    volatile uint8_t sink = track->collisionGrid[cells - 1] ^ track->outlineGrid[cells - 1] ^
                            static_cast<uint8_t>(track->picture.pixels[cells - 1]);
    (void)sink;
  } else if (track->width != widthBefore || track->picture.pixels != pixelsBefore) {
    __builtin_trap();
  }
  return 0;
}
