// Stand-in pictures, a loop circuit and trails round it, for looking at and timing the board.
#include "tools/board_scene.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "platform/png.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- A 5 x 7 font ----------------------------------------------------------------------------------
// Seven rows a character, bit 4 the leftmost column.
struct Glyph {
  char c;
  uint8_t rows[7];
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kFont) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

// A glyph stretched to the given height, top-left at (x, y); bold doubles every column.
void DrawGlyph(Picture& picture, int x, int y, char c, uint16_t colour, int height, bool bold) {
  const Glyph* g = FindGlyph(c);
  if (g == nullptr) return;
  for (int row = 0; row < height; ++row) {
    const uint8_t bits = g->rows[row * 7 / height];
    for (int col = 0; col < 5; ++col) {
      if (bits & (0x10 >> col)) {
        FillRect(picture, static_cast<int16_t>(x + col), static_cast<int16_t>(y + row),
                 static_cast<int16_t>(x + col + (bold ? 2 : 1)), static_cast<int16_t>(y + row + 1), colour);
      }
    }
  }
}

void Fill(Picture& p, int x0, int y0, int x1, int y1, uint16_t colour) {
  FillRect(p, static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1), static_cast<int16_t>(y1),
           colour);
}

// A button face: a raised box when up, a sunken darker one when switched on.
void DrawButton(Picture& p, int x0, int y0, int x1, int y1, const std::string& label, bool on) {
  const uint16_t face = on ? MakeColour(8, 30, 20) : MakeColour(22, 44, 22);
  const uint16_t light = on ? MakeColour(2, 10, 6) : MakeColour(30, 60, 30);
  const uint16_t dark = on ? MakeColour(20, 50, 26) : MakeColour(10, 20, 10);
  Fill(p, x0, y0, x1, y1, face);
  Fill(p, x0, y0, x1, y0 + 1, light);
  Fill(p, x0, y0, x0 + 1, y1, light);
  Fill(p, x0, y1 - 1, x1, y1, dark);
  Fill(p, x1 - 1, y0, x1, y1, dark);
  const int width = static_cast<int>(label.size()) * 6 - 1;
  DrawLabel(p, x0 + (x1 - x0 - width) / 2, y0 + 6, label, on ? WhiteColour() : BlackColour());
}

struct Loop {
  double cx, cy, a, b, halfWidth;
};

Loop LoopOf(uint16_t width, uint16_t height) {
  Loop l;
  l.cx = width / 2.0;
  l.cy = height / 2.0;
  const double smaller = width < height ? width : height;
  l.halfWidth = smaller / 12.0 < 10 ? 10 : smaller / 12.0;
  const double margin = l.halfWidth + 14;
  l.a = l.cx - margin;
  l.b = l.cy - margin;
  return l;
}

// Distance of (x, y) from the loop's centre line, by the radial distance scaled to pixels: exact
// on a circle and close enough on an oval.
double OffLine(const Loop& l, double x, double y) {
  const double u = (x - l.cx) / l.a;
  const double v = (y - l.cy) / l.b;
  const double r = std::sqrt(u * u + v * v);
  if (r == 0) return l.a;
  const double ex = l.a * u / r;  // the centre-line point on the same ray
  const double ey = l.b * v / r;
  const double towards = std::hypot(ex, ey);
  return (r - 1) * towards;
}

uint16_t Noise(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return static_cast<uint16_t>((h >> 16) & 3);
}

}  // namespace

void DrawLabel(Picture& picture, int x, int y, const std::string& text, uint16_t colour) {
  for (size_t i = 0; i < text.size(); ++i)
    DrawGlyph(picture, x + static_cast<int>(i) * 6, y, text[i], colour, 7, false);
}

int OpenBoardScreen() {
  if (OpenDisplay(display, nullptr, 1) != 0) return 1;
  CreatePicture(framePicture, 0, 0, kPictureScreenSize);
  CreatePicture(boardPicture, 0, 0, kPictureScreenSize);
  MakeStandInPictures(menuBarPicture, goButtonPicture, digitsPicture);
  return 0;
}

void StartBoardRace(GameState& state) {
  SetStartValues(state);
  SetPlayerColours(state, MakeColour);
  state.screenMode = kScreenRace;
}

void MakeStandInPictures(Picture& menuBar, Picture& goButton, Picture& digits) {
  CreatePicture(menuBar, kScreenColumns, 2 * kMenuBarHeight, kPictureGivenSize);
  struct Button {
    int left, right;
    const char* label;
  };
  // The menu and shell buttons have no switched-on state on the board; their second row is the
  // pressed look the menu uses.
  const Button buttons[] = {{0, 61, "MENU"},
                            {kRecordButtonLeft, kRecordButtonRight, "R"},
                            {kInputButtonLeft, kInputButtonRight, "GO"},
                            {kOutlineButtonLeft, kOutlineButtonRight, "O"},
                            {210, kScreenColumns, "SH"}};
  Fill(menuBar, 0, 0, kScreenColumns, 2 * kMenuBarHeight, MakeColour(14, 28, 14));
  for (int on = 0; on < 2; ++on) {
    for (const Button& b : buttons) {
      DrawButton(menuBar, b.left, on * kMenuBarHeight, b.right, (on + 1) * kMenuBarHeight, b.label, on == 1);
    }
  }

  CreatePicture(goButton, kGoButtonSize, 2 * kGoButtonSize, kPictureGivenSize);
  for (int pressed = 0; pressed < 2; ++pressed) {
    const int top = pressed * kGoButtonSize;
    Fill(goButton, 0, top, kGoButtonSize, top + kGoButtonSize, BlackColour());
    Fill(goButton, 1, top + 1, kGoButtonSize - 1, top + kGoButtonSize - 1,
         pressed ? MakeColour(0, 30, 0) : MakeColour(4, 54, 4));
    DrawLabel(goButton, 4, top + 6, "GO", pressed ? WhiteColour() : BlackColour());
  }

  // Ten cells of 10 x 14, each a bold digit 6 x 10 with room around it.
  CreatePicture(digits, 100, 14, kPictureGivenSize);
  Fill(digits, 0, 0, 100, 14, DigitKeyColour());
  for (int d = 0; d < 10; ++d) DrawGlyph(digits, d * 10 + 2, 1, static_cast<char>('0' + d), BlackColour(), 10, true);
}

int MakeLoopCircuit(TrackGrid& track, uint16_t width, uint16_t height) {
  ReleaseCircuit(track);
  track.width = width;
  track.height = height;
  track.recordCount = 0;
  track.recordRounds = 0;
  const size_t cells = static_cast<size_t>(width) * height;
  if (CreatePicture(track.picture, width, height, kPictureGivenSize) != 0 || cells == 0) return 1;
  track.collisionGrid = static_cast<uint8_t*>(std::malloc(cells));
  if (track.collisionGrid == nullptr) return 1;

  const Loop l = LoopOf(width, height);
  const uint16_t kerbRed = MakeColour(26, 6, 4);
  const uint16_t kerbWhite = MakeColour(29, 59, 29);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double off = std::fabs(OffLine(l, x + 0.5, y + 0.5));
      const size_t i = static_cast<size_t>(y) * width + x;
      const uint16_t n = Noise(x, y);
      uint16_t colour;
      if (off < l.halfWidth - 3) {
        colour =
            MakeColour(static_cast<uint16_t>(11 + n), static_cast<uint16_t>(23 + 2 * n), static_cast<uint16_t>(12 + n));
      } else if (off < l.halfWidth) {
        // Kerbs in stripes along the loop.
        const double angle = std::atan2((y - l.cy) / l.b, (x - l.cx) / l.a);
        colour = static_cast<int>(std::floor(angle * 40 / kPi)) % 2 ? kerbRed : kerbWhite;
      } else {
        colour = MakeColour(static_cast<uint16_t>(5 + n), static_cast<uint16_t>(34 + 3 * n), static_cast<uint16_t>(6));
      }
      track.picture.pixels[i] = colour;
      track.collisionGrid[i] = off < l.halfWidth ? 0 : 1;
    }
  }
  // The start/finish line across the bottom of the loop, chequered.
  const int lineX = static_cast<int>(l.cx);
  const int lineTop = static_cast<int>(l.cy + l.b - l.halfWidth);
  const int lineBottom = static_cast<int>(l.cy + l.b + l.halfWidth);
  for (int y = lineTop; y < lineBottom; ++y) {
    for (int x = lineX - 2; x < lineX + 2; ++x) {
      if (x < 0 || y < 0 || x >= width || y >= height) continue;
      track.picture.pixels[static_cast<size_t>(y) * width + x] = ((x / 2 + y / 2) % 2) ? BlackColour() : WhiteColour();
    }
  }
  track.finishLineA = GridPoint{static_cast<int16_t>(lineX), static_cast<int16_t>(lineTop - 2)};
  track.finishLineB = GridPoint{static_cast<int16_t>(lineX), static_cast<int16_t>(lineBottom + 2)};
  track.aheadPoint = GridPoint{static_cast<int16_t>(lineX + 6), static_cast<int16_t>(l.cy + l.b)};
  track.startPoint = LoopPoint(track, 0.002, 0);
  return BuildOutline(track);
}

GridPoint LoopPoint(const TrackGrid& track, double lapFraction, double lane) {
  const Loop l = LoopOf(track.width, track.height);
  // From the bottom of the loop, to the right and up: anticlockwise on the screen.
  const double theta = kPi / 2 - 2 * kPi * lapFraction;
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  // Outward normal of the oval at that point.
  double nx = c / l.a;
  double ny = s / l.b;
  const double norm = std::hypot(nx, ny);
  nx /= norm;
  ny /= norm;
  return GridPoint{static_cast<int16_t>(std::lround(l.cx + l.a * c + lane * nx)),
                   static_cast<int16_t>(std::lround(l.cy + l.b * s + lane * ny))};
}

std::vector<GridPoint> LoopTrail(const TrackGrid& track, int moves, double moveLength, double lane,
                                 double startFraction) {
  const Loop l = LoopOf(track.width, track.height);
  // Ramanujan's approximation of the oval's circumference.
  const double h = (l.a - l.b) * (l.a - l.b) / ((l.a + l.b) * (l.a + l.b));
  const double lap = kPi * (l.a + l.b) * (1 + 3 * h / (10 + std::sqrt(4 - 3 * h)));
  std::vector<GridPoint> trail(3, LoopPoint(track, startFraction, lane));
  double at = startFraction;
  for (int k = 1; k <= moves; ++k) {
    // Speed builds up over the first moves, and the line drifts a little across the track.
    const double speed = moveLength * (k < 6 ? k / 6.0 : 1.0);
    at += speed / lap;
    trail.push_back(LoopPoint(track, at, lane + 0.3 * l.halfWidth * std::sin(k * 0.21)));
  }
  return trail;
}

void SetTrail(PlayerRecord& player, const std::vector<GridPoint>& trail) {
  if (trail.empty()) return;
  const size_t n = trail.size() < static_cast<size_t>(kTrailCapacity) ? trail.size() : kTrailCapacity;
  for (size_t i = 0; i < n; ++i) player.trail[i] = trail[i];
  player.lastIndex = static_cast<uint16_t>(n - 1);
}

int WritePicturePng(const Picture& picture, const std::string& hostPath, int scale) {
  if (picture.pixels == nullptr || scale < 1) return 1;
  const bool is565 = (picture.properties.ffFormat & kfDirect565) != 0;
  const uint32_t w = picture.width * static_cast<uint32_t>(scale);
  const uint32_t h = picture.height * static_cast<uint32_t>(scale);
  std::vector<uint16_t> big(static_cast<size_t>(w) * h);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      big[static_cast<size_t>(y) * w + x] = picture.pixels[(x / scale) * picture.xStep + (y / scale) * picture.yStep];
    }
  }
  return WritePng(hostPath, ImageFromPixels(big.data(), w, h, is565));
}

void SetRecord(TrackGrid& track, const std::vector<GridPoint>& points) {
  if (points.empty()) {
    track.recordCount = 0;
    track.recordRounds = 0;
    return;
  }
  const size_t n = points.size() < static_cast<size_t>(kRecordCapacity) ? points.size() : kRecordCapacity;
  for (size_t i = 0; i < n; ++i) track.recordTrail[i] = points[i];
  track.recordCount = static_cast<uint16_t>(n);
  track.recordRounds = static_cast<uint16_t>(n - 2);
}
