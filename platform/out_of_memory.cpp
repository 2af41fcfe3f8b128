// The out-of-memory handler of both programs.
#include "platform/out_of_memory.h"

#include <cstdlib>
#include <new>

#include "platform/window.h"

namespace {

// Showing a message box takes some memory of its own; this much is set aside at start and given
// back the moment memory runs out.
constexpr size_t kReserveBytes = size_t{256} * 1024;
char* reserve = nullptr;

}  // namespace

void OutOfMemory() {
  static bool reported = false;
  delete[] reserve;
  reserve = nullptr;
  // A failure inside the message box itself ends the program without a second box.
  if (!reported) {
    reported = true;
    MessageBox(nullptr, u"out of memory", nullptr, MB_OK);
  }
  std::_Exit(1);
}

void InstallOutOfMemoryHandler() {
  if (reserve == nullptr) reserve = new (std::nothrow) char[kReserveBytes];
  std::set_new_handler(OutOfMemory);
}
