// Hands fuzz input to the loaders as a real file: they read through the platform's file calls.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"

// A file of this process's own under the temporary folder, rewritten for every input.
inline std::u16string WriteFuzzFile(const uint8_t* data, size_t size) {
  static const std::string host = "/tmp/apexgrid-fuzz-" + std::to_string(getpid()) + ".bin";
  std::FILE* file = std::fopen(host.c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
  return DevicePath(host);
}
