// Whole-file reading and writing for the tools, the picture and screenshot encodings, and PNGs.
//
// Paths here are host paths, taken as they are: a "\" in one is part of a name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/png.h"

using ByteVector = std::vector<unsigned char>;

// The whole file; throws ToolError ("can't open FILE") when it can't be read. Never waits: a FIFO
// or a device gets the same answer as an unreadable file.
ByteVector ReadWholeFile(const std::string& hostPath);

// Writes the file so that it is never left half-written: the bytes take its place in one rename
// (an existing file keeps its permissions, a link is followed). Throws ToolError naming the file
// and why when it can't be written; the old file is then untouched.
void WriteFileSafely(const std::string& hostPath, const ByteVector& bytes);

// Refuses, with a ToolError, an output that is one of the inputs (the same file under any name),
// and one whose owner made it read-only unless force is set.
void CheckOutput(const std::string& output, const std::vector<std::string>& inputs, bool force);

// Reads a PNG; throws ToolError naming the file and what is wrong with it.
RgbImage ReadPngFile(const std::string& hostPath, std::vector<uint8_t>* alpha = nullptr);
// Writes a PNG of 16-bit 5-6-5 pixels, as WriteFileSafely does; throws ToolError when it can't be
// written.
void WritePngFile(const std::string& hostPath, const std::vector<uint16_t>& pixels, uint32_t width, uint32_t height);
// Writes a PNG with an alpha channel from 8-bit RGBA pixels, as WriteFileSafely writes; throws
// ToolError when it can't be encoded or written.
void WriteRgbaPngFile(const std::string& hostPath, const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height);
