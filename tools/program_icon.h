// The programs' icon: drawn at each size it is installed at, and the copy built into the programs
// for their windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The sizes the desktop's icon theme gets, in pixels a side.
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};
// The size built into the programs for their windows' icon.
constexpr int kWindowIconSize = 64;

// The icon at one size: 8-bit red, green, blue and alpha a pixel (not premultiplied), rows top to
// bottom. The corners outside its rounded square are transparent.
std::vector<uint8_t> DrawProgramIcon(int size);

// Writes hicolorFolder/<size>x<size>/apps/apexgrid.png for every size, and the C++ source of the
// window icon (data/program_icon.h). Throws ToolError when a file can't be written.
void WriteProgramIcons(const std::string& hicolorFolder, const std::string& sourceFile);
