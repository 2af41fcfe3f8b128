// File helpers of the tools.
#include "tools/tool_files.h"

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
