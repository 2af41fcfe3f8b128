// Program folder and UTF-16 text files.
#include "data/folder.h"

#include <cstdio>
#include <vector>

#include "platform/byte_order.h"
#include "platform/files.h"

std::u16string GetModulePath() { return ModuleFileName(); }

std::u16string ProgramFolderOf(const std::u16string& modulePath) {
  const size_t slash = modulePath.rfind(u'\\');
  if (slash == std::u16string::npos) return u"\\";
  return modulePath.substr(0, slash);
}

std::u16string GetProgramFolder() { return ProgramFolderOf(GetModulePath()); }

std::u16string ReadTextFile(const std::u16string& path) {
  std::u16string text;
  std::FILE* file = OpenDeviceFile(path, "rb");
  if (file == nullptr) return text;
  unsigned char buffer[4096];
  size_t carried = 0;  // an odd byte left from the previous chunk
  size_t got;
  while ((got = std::fread(buffer + carried, 1, sizeof buffer - carried, file)) > 0) {
    const size_t have = carried + got;
    size_t i = 0;
    for (; i + 1 < have; i += 2) {
      text += static_cast<char16_t>(ReadU16(buffer + i));
    }
    carried = have - i;
    if (carried) buffer[0] = buffer[i];
  }
  std::fclose(file);
  return text;
}

void WriteTextFile(const std::u16string& path, const std::u16string& text) {
  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) AppendU16(bytes, c);
  // Whole or not at all: a crash or a full disk never leaves half a path to load next time.
  WriteDeviceFile(path, bytes.data(), bytes.size());
}
