// The programs' icon: a circuit at night, a car on it with its last move and the ring it may
// reach next, as the game draws them.
#include "tools/program_icon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tools/canvas.h"
#include "tools/data_pictures.h"
#include "tools/tool_error.h"
#include "tools/tool_files.h"

namespace {

constexpr Rgb kNightTop = Rgb8(28, 44, 74);
constexpr Rgb kNightBottom = Rgb8(10, 16, 30);
constexpr Rgb kRim = Rgb8(112, 128, 148);
constexpr Rgb kGrass = Rgb8(62, 132, 54);
constexpr Rgb kAsphalt = Rgb8(92, 96, 102);
constexpr Rgb kLine = Rgb8(236, 241, 247);
constexpr Rgb kAmber = Rgb8(255, 176, 32);
constexpr Rgb kCar = Rgb8(230, 36, 36);
constexpr Rgb kBlack = Rgb8(0, 0, 0);

// The icon's square, in units of 1/256 of its side.
constexpr float kEdge = 14;
constexpr float kCorner = 48;

}  // namespace

std::vector<uint8_t> DrawProgramIcon(int size) {
  const float k = size / 256.0f;
  // Small sizes keep only what still reads: the square, the circuit and the car.
  const bool small = size < 48;
  Canvas c(size, size, kNightBottom);
  const float lo = kEdge * k, hi = (256 - kEdge) * k, corner = kCorner * k;
  auto square = [=](float x, float y) { return RoundRectDistance(x, y, lo, lo, hi, hi, corner); };
  c.FillShape(lo, lo, hi, hi, square,
              [=](float, float y) { return Mix(kNightTop, kNightBottom, (y - lo) / (hi - lo)); });
  // The circuit: a loop with white edges around an infield of grass, the start line's chequer
  // across the bottom straight.
  const float l = 62 * k, t = 84 * k, r = 194 * k, b = 198 * k, bend = 52 * k;
  const float width = std::max(small ? 3.4f : 0.0f, 40 * k);
  auto loop = [&](float extra, Rgb colour) {
    const float half = width / 2 + extra;
    c.FillShape(
        l - half, t - half, r + half, b + half,
        [=](float x, float y) { return std::fabs(RoundRectDistance(x, y, l, t, r, b, bend)) - half; }, colour);
  };
  c.FillRoundRect(l, t, r, b, bend, kGrass);
  loop(std::max(0.7f, 4 * k), kLine);
  loop(0, kAsphalt);
  if (!small) {
    const float cell = width / 4;
    for (int row = 0; row < 2; ++row) {
      for (int col = 0; col < 4; ++col) {
        const float x = 104 * k + row * cell, y = b - width / 2 + col * cell;
        c.FillRoundRect(x, y, x + cell, y + cell, 0, (row + col) % 2 ? kBlack : kLine);
      }
    }
  }

  // The car on the top straight, racing right, its last move behind it and its reach ahead.
  const Point car{118 * k, t};
  const Point last{70 * k, t + 30 * k};
  const Point reach{184 * k, t};
  if (!small) {
    c.StrokeLine(last, car, 5 * k, kCar, 0.8f);
    c.FillCircle(last, 7 * k, kCar);
    c.StrokeCircle(reach, 34 * k, 7 * k, kAmber);
    c.StrokeLine({reach.x - 12 * k, reach.y}, {reach.x + 12 * k, reach.y}, 5 * k, kLine);
    c.StrokeLine({reach.x, reach.y - 12 * k}, {reach.x, reach.y + 12 * k}, 5 * k, kLine);
  }
  DrawCar(c, car, 0, std::max(small ? 7.0f : 0.0f, 76 * k), kCar);
  c.StrokeRoundRect(lo + 0.5f, lo + 0.5f, hi - 0.5f, hi - 0.5f, corner, std::max(1.0f, 3 * k), kRim, 0.5f);

  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const Rgb p = c.At(x, y);
      const float cover = std::clamp(0.5f - square(x + 0.5f, y + 0.5f), 0.0f, 1.0f);
      uint8_t* out = &rgba[(static_cast<size_t>(y) * size + x) * 4];
      out[0] = static_cast<uint8_t>(std::lround(std::clamp(p.r, 0.0f, 1.0f) * 255));
      out[1] = static_cast<uint8_t>(std::lround(std::clamp(p.g, 0.0f, 1.0f) * 255));
      out[2] = static_cast<uint8_t>(std::lround(std::clamp(p.b, 0.0f, 1.0f) * 255));
      out[3] = static_cast<uint8_t>(std::lround(cover * 255));
    }
  }
  return rgba;
}

void WriteProgramIcons(const std::string& hicolorFolder, const std::string& sourceFile) {
  for (int size : kIconSizes) {
    const std::string side = std::to_string(size);
    std::string folder = hicolorFolder;
    folder.append("/").append(side).append("x").append(side).append("/apps");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw ToolError("can't create the folder " + folder);
    WriteRgbaPngFile(folder + "/apexgrid.png", DrawProgramIcon(size), size, size);
  }

  const std::vector<uint8_t> rgba = DrawProgramIcon(kWindowIconSize);
  std::string source =
      "// The programs' window icon, drawn by `apexassets icon`: generated at build time.\n"
      "#include \"data/program_icon.h\"\n\n"
      "namespace {\n\nconst uint32_t kPixels[] = {\n";
  char word[16];
  for (size_t i = 0; i < rgba.size(); i += 4) {
    const uint32_t argb = static_cast<uint32_t>(rgba[i + 3]) << 24 | static_cast<uint32_t>(rgba[i]) << 16 |
                          static_cast<uint32_t>(rgba[i + 1]) << 8 | rgba[i + 2];
    std::snprintf(word, sizeof word, "0x%08X,", static_cast<unsigned>(argb));
    source += word;
    source += (i / 4) % 8 == 7 ? "\n" : " ";
  }
  source += "};\n\n}  // namespace\n\nconst WindowIcon kProgramIcon = {" + std::to_string(kWindowIconSize) + ", " +
            std::to_string(kWindowIconSize) + ", kPixels};\n";
  WriteFileSafely(sourceFile, ByteVector(source.begin(), source.end()));
}
