// File helpers of the tools.
#include "tools/tool_files.h"

#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/files.h"
#include "tools/tool_error.h"

namespace fs = std::filesystem;

ByteVector ReadWholeFile(const std::string& hostPath) {
  std::error_code error;
  if (fs::is_directory(hostPath, error)) throw ToolError(hostPath + " is a folder, not a file");
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) throw ToolError("can't open " + hostPath);
  ByteVector bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError("can't read " + hostPath);
  return bytes;
}

void WriteFileSafely(const std::string& hostPath, const ByteVector& bytes) {
  std::error_code error;
  if (fs::is_directory(hostPath, error)) throw ToolError(hostPath + " is a folder, not a file");
  if (fs::exists(hostPath, error)) {
    if (ReplaceFileContent(DevicePath(hostPath), bytes.data(), bytes.size()) != 0) {
      throw ToolError("can't write " + hostPath);
    }
    return;
  }
  // A new file: written whole under a temporary name beside it, then renamed into place, so a
  // reader never finds it half-written and a failure leaves nothing behind.
  std::random_device random;
  std::string temp;
  do {
    temp = hostPath + ".tmp" + std::to_string(random() % 1000000);
  } while (fs::exists(temp, error));
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, error);
      throw ToolError("can't write " + hostPath);
    }
  }
  fs::rename(temp, hostPath, error);
  if (error) {
    fs::remove(temp, error);
    throw ToolError("can't write " + hostPath);
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
  if (WritePng(hostPath, ImageFromPixels(pixels.data(), width, height, true)) != 0) {
    throw ToolError("can't write " + hostPath);
  }
}

void WriteRgbaPngFile(const std::string& hostPath, const std::vector<uint8_t>& rgba, uint32_t width,
                      uint32_t height) {
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
