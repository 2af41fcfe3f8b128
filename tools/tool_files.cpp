// File helpers of the tools.
#include "tools/tool_files.h"

#include <png.h>

#include <cstdio>
#include <cstring>
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
      throw ToolError(
          std::string(output).append(" is also the input ").append(input).append("; give another file to write"));
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

void WritePngFile(const std::string& hostPath, const std::vector<uint16_t>& pixels, uint32_t width, uint32_t height) {
  std::string reason;
  if (WritePng(hostPath, ImageFromPixels(pixels.data(), width, height, true), &reason) != 0) {
    throw ToolError("can't write " + hostPath + ": " + reason);
  }
}

void WriteRgbaPngFile(const std::string& hostPath, const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height) {
  if (rgba.size() != static_cast<size_t>(width) * height * 4) throw ToolError("can't write " + hostPath);
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = width;
  png.height = height;
  png.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  // Asked for its size first, then written into memory, so that the file is written like any other.
  bool ok = png_image_write_to_memory(&png, nullptr, &size, 0, rgba.data(), 0, nullptr) != 0;
  ByteVector bytes(size);
  ok = ok && png_image_write_to_memory(&png, bytes.data(), &size, 0, rgba.data(), 0, nullptr) != 0;
  png_image_free(&png);
  if (!ok) throw ToolError("can't encode " + hostPath + " as PNG");
  bytes.resize(size);
  WriteFileSafely(hostPath, bytes);
}
