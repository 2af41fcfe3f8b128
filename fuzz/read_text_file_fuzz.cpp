// Fuzzes the UTF-16 text file reader and the host conversion of what it reads, and the name
// mapping on the same bytes taken as a host name.
#include <cstdint>
#include <string>

#include "data/folder.h"
#include "fuzz/fuzz_file.h"
#include "platform/byte_order.h"
#include "platform/files.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = ReadTextFile(WriteFuzzFile(data, size));
  if (text.size() != size / 2) __builtin_trap();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != static_cast<char16_t>(ReadU16(data + 2 * i))) __builtin_trap();
  }
  // The path a last-circuit file names goes to the host as UTF-8 and must come back unchanged
  // wherever it is well-formed.
  const std::u16string back = FromUtf8(ToUtf8(text));
  if (back.size() != text.size()) __builtin_trap();
  // Any host name, whatever bytes it holds, comes back from its device path unchanged.
  const std::string name(reinterpret_cast<const char*>(data), size);
  if (ToHostBytes(FromHostBytes(name)) != name || HostPath(DevicePath(name)) != name) __builtin_trap();
  return 0;
}
