// Whole-file reading and writing for the tools, the picture and screenshot encodings, and PNGs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/png.h"

using ByteVector = std::vector<unsigned char>;

// The whole file; throws ToolError ("can't open FILE") when it can't be read.
ByteVector ReadWholeFile(const std::string& hostPath);

// Writes the file so that it is never left half-written: an existing file is replaced in one
// rename (keeping its permissions), a new one is written beside its final name first. Throws
// ToolError naming the file when it can't be written; the old file is then untouched.
void WriteFileSafely(const std::string& hostPath, const ByteVector& bytes);

// Reads a PNG; throws ToolError naming the file and what is wrong with it.
RgbImage ReadPngFile(const std::string& hostPath, std::vector<uint8_t>* alpha = nullptr);
// Writes a PNG of 16-bit 5-6-5 pixels; throws ToolError when it can't be written.
void WritePngFile(const std::string& hostPath, const std::vector<uint16_t>& pixels, uint32_t width,
                  uint32_t height);
// Writes a PNG with an alpha channel from 8-bit RGBA pixels, as WriteFileSafely writes; throws
// ToolError when it can't be encoded or written.
void WriteRgbaPngFile(const std::string& hostPath, const std::vector<uint8_t>& rgba, uint32_t width,
                      uint32_t height);
