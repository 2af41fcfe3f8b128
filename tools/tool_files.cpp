// File helpers of the tools.
#include "tools/tool_files.h"

#include <cstdio>
#include <filesystem>

#include "platform/files.h"
#include "tools/tool_error.h"

namespace fs = std::filesystem;

ByteVector ReadWholeFile(const std::string& hostPath) {
  std::error_code error;
  if (fs::is_directory(hostPath, error)) throw ToolError(hostPath + " is a folder, not a file");
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) throw ToolError("can't open " + hostPath);
  ByteVector bytes;
  unsigned char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) throw ToolError("can't read " + hostPath);
  return bytes;
}

void WriteFileSafely(const std::string& hostPath, const ByteVector& bytes) {
  std::error_code error;
  if (fs::is_directory(hostPath, error)) throw ToolError(hostPath + " is a folder, not a file");
  std::string reason;
  if (WriteHostFile(hostPath, bytes.data(), bytes.size(), &reason) != 0) {
    throw ToolError("can't write " + hostPath + ": " + reason);
  }
}

void CheckOutput(const std::string& output, const std::vector<std::string>& inputs, bool force) {
  for (const std::string& input : inputs) {
    if (SameHostFile(output, input)) {
      throw ToolError(output + " is also the input " + input + "; give another file to write");
    }
  }
  if (!force && IsReadOnlyHostFile(output)) {
    throw ToolError(output + " is read-only; --force writes it all the same");
  }
}

RgbImage ReadPngFile(const std::string& hostPath, std::vector<uint8_t>* alpha) {
  std::error_code error;
  if (!fs::exists(hostPath, error)) throw ToolError("can't open " + hostPath + ": no such file");
  RgbImage image;
  std::string reason;
  if (ReadPng(hostPath, &image, alpha, &reason) != 0) {
    throw ToolError(hostPath + " is not a readable PNG: " + reason);
  }
  return image;
}

void WritePngFile(const std::string& hostPath, const std::vector<uint16_t>& pixels, uint32_t width,
                  uint32_t height) {
  std::string reason;
  if (WritePng(hostPath, ImageFromPixels(pixels.data(), width, height, true), &reason) != 0) {
    throw ToolError("can't write " + hostPath + ": " + reason);
  }
}
