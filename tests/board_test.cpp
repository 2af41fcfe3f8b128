// The board renderer on small circuits: the view clamp, every layer at its place and in its
// colour, the record marker, the Go button, the status rows, the counters, the outline, and what
// happens without a record or without data pictures.
#include "game/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "gfx/line_walk.h"
#include "platform/gx.h"
#include "tests/game_screen.h"

namespace {

// Colours of the stand-in pictures, each told apart from the others and from the circuits.
uint16_t BarUp() { return MakeColour(10, 20, 10); }
uint16_t BarOn() { return MakeColour(20, 40, 5); }
uint16_t GoUp() { return MakeColour(1, 50, 1); }
uint16_t GoPressed() { return MakeColour(2, 30, 2); }
uint16_t Glyph(int digit) { return MakeColour(static_cast<uint16_t>(digit + 1), 5, 3); }
constexpr uint16_t kSentinel = 0x5A5A;

// The colour alpha gives over black, by the plain arithmetic.
uint16_t OverBlack(uint16_t colour, int16_t alpha) {
  Picture p;
  CreatePicture(p, 1, 1, kPictureGivenSize);
  p.pixels[0] = 0;
  plain::BlendPixel(p, 0, 0, colour, alpha);
  return p.pixels[0];
}

class Board : public GameScreen {
 protected:
  void SetUp() override {
    GameScreen::SetUp();
    // Menu bar: buttons up in rows 0-19, switched on in rows 20-39.
    ASSERT_EQ(CreatePicture(menuBarPicture, 240, 40, kPictureGivenSize), 0);
    for (int i = 0; i < 240 * 40; ++i) menuBarPicture.pixels[i] = i < 240 * 20 ? BarUp() : BarOn();
    ASSERT_EQ(CreatePicture(goButtonPicture, 20, 40, kPictureGivenSize), 0);
    for (int i = 0; i < 20 * 40; ++i) goButtonPicture.pixels[i] = i < 20 * 20 ? GoUp() : GoPressed();
    // Digit strip: each 10-pixel cell in its digit's colour, its first column transparent.
    ASSERT_EQ(CreatePicture(digitsPicture, 100, 14, kPictureGivenSize), 0);
    for (int y = 0; y < 14; ++y) {
      for (int x = 0; x < 100; ++x) digitsPicture.pixels[y * 100 + x] = x % 10 == 0 ? DigitKeyColour() : Glyph(x / 10);
    }
  }

  // A black circuit; the cars start at the given point.
  TestCircuit Black(uint16_t width, uint16_t height, GridPoint start) {
    TestCircuit circuit(width, height);
    circuit.pixels.assign(circuit.pixels.size(), 0);
    circuit.start = start;
    return circuit;
  }

  static void SetTrail(int player, const std::vector<GridPoint>& points) {
    PlayerRecord& p = gameState.players[player];
    for (size_t i = 0; i < points.size(); ++i) p.trail[i] = points[i];
    p.lastIndex = static_cast<uint16_t>(points.size() - 1);
  }

  static void FillFrame(uint16_t colour) {
    for (uint32_t i = 0; i < framePicture.width * framePicture.height; ++i) framePicture.pixels[i] = colour;
  }
};

}  // namespace

// ---- The view and the circuit ------------------------------------------------------------------

TEST_F(Board, TheViewIsClampedToTheCircuitAndStoredBack) {
  struct Case {
    uint16_t width, height;
    int16_t viewX, viewY;
    int16_t x, y;
    ViewRect rect;
  };
  const Case cases[] = {
      {400, 500, -15, -7, 0, 0, {0, 0, 240, 300}},
      {400, 500, 300, 250, 160, 200, {160, 200, 400, 500}},
      {400, 500, 100, 100, 100, 100, {100, 100, 340, 400}},
      {200, 250, 50, 30, 0, 0, {0, 0, 200, 250}},
      {240, 300, 0, 0, 0, 0, {0, 0, 240, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " view " << c.viewX << "," << c.viewY);
    TestCircuit circuit(c.width, c.height);
    circuit.start = Pt(c.width - 1, c.height - 1);
    Race(circuit);
    gameState.viewX = c.viewX;
    gameState.viewY = c.viewY;
    FillFrame(kSentinel);
    DrawBoard();
    EXPECT_EQ(gameState.viewX, c.x);
    EXPECT_EQ(gameState.viewY, c.y);
    EXPECT_EQ(gameState.viewRect.left, c.rect.left);
    EXPECT_EQ(gameState.viewRect.top, c.rect.top);
    EXPECT_EQ(gameState.viewRect.right, c.rect.right);
    EXPECT_EQ(gameState.viewRect.bottom, c.rect.bottom);
    // The circuit in view, clear of the other layers.
    for (GridPoint at : {Pt(60, 150), Pt(150, 40), Pt(30, 200)}) {
      EXPECT_EQ(Frame(at.x, at.y), circuit.pixels[(at.y + c.y) * c.width + at.x + c.x]) << at.x << "," << at.y;
    }
    // Beside and below a circuit smaller than the board, black: nothing the frame held before.
    EXPECT_EQ(Frame(210, 100), c.width < 240 ? 0 : circuit.pixels[(100 + c.y) * c.width + 210 + c.x]);
    EXPECT_EQ(Frame(100, 270), c.height < 300 ? 0 : circuit.pixels[(270 + c.y) * c.width + 100 + c.x]);
  }
}

// ---- Trails ------------------------------------------------------------------------------------

// Player 0 zigzags down the left of the board, 25 segments; each segment's cell at x = 30 belongs
// to it alone and shows its opacity. Player 1 has segments that pass through the board with both
// ends outside it, and one that comes in from outside.
TEST_F(Board, TrailsFadeWithAgeAndSegmentsNeedAnEndOnTheBoard) {
  Race(Black(240, 300, Pt(200, 280)));
  std::vector<GridPoint> zigzag{Pt(20, 30)};
  for (int k = 0; k < 26; ++k) zigzag.push_back(Pt(k % 2 == 0 ? 20 : 40, 30 + 3 * k));
  SetTrail(0, zigzag);  // trail[0] and trail[1] are both the first point
  SetTrail(1, {Pt(-50, 150), Pt(-50, 150), Pt(290, 150), Pt(290, 200), Pt(120, 200)});
  DrawBoard();

  const uint16_t red = gameState.players[0].colour;
  const int newest = gameState.players[0].lastIndex;
  for (int j = 1; j < newest; ++j) {
    const int age = newest - 1 - j;
    int cellY = -1;
    WalkLine(zigzag[j].x, zigzag[j].y, zigzag[j + 1].x, zigzag[j + 1].y, [&](int x, int y) {
      if (x == 30) cellY = y;
      return false;
    });
    ASSERT_GE(cellY, 0);
    EXPECT_EQ(Frame(30, cellY), OverBlack(red, TrailAlpha(age))) << "age " << age;
  }
  // The opacities themselves: 240 for the newest, 7 less for each older one down to 114, then 100.
  uint16_t r, g, b;
  SplitColour(OverBlack(red, TrailAlpha(0)), &r, &g, &b);
  EXPECT_EQ(r, 29);  // 31 · 240/255
  SplitColour(OverBlack(red, TrailAlpha(18)), &r, &g, &b);
  EXPECT_EQ(r, 13);  // 31 · 114/255
  EXPECT_EQ(TrailAlpha(19), 100);
  EXPECT_EQ(TrailAlpha(400), 100);

  const uint16_t blue = gameState.players[1].colour;
  EXPECT_EQ(Frame(120, 150), 0) << "both ends off the board: not drawn";
  EXPECT_EQ(Frame(200, 170), 0) << "both ends off the board: not drawn";
  EXPECT_EQ(Frame(200, 200), OverBlack(blue, 240)) << "one end on the board";
  EXPECT_EQ(Frame(239, 200), OverBlack(blue, 240)) << "drawn up to the board's edge";
}

// Long wandering trails that leave the board and come back, drawn by the board against a plain
// drawing of every segment with an end on the board, in order, on the circuit in view. Cars,
// reach circle and marker are off the board; only the counters are left out of the comparison.
TEST_F(Board, LongTrailsMatchAPlainDrawingOfTheirVisibleSegments) {
  TestCircuit circuit(700, 700);
  circuit.start = Pt(-300, -300);
  Race(circuit);
  gameState.playerCount = 3;
  gameState.showRecord = 1;
  gameState.viewX = 230;
  gameState.viewY = 200;
  std::mt19937 random(11);
  std::uniform_int_distribution<int> step(-14, 14);
  auto wander = [&](int count) {
    std::vector<GridPoint> points{Pt(350, 350)};
    while (static_cast<int>(points.size()) < count - 2) {
      const GridPoint last = points.back();
      points.push_back(Pt(std::clamp(last.x + step(random), 0, 699), std::clamp(last.y + step(random), 0, 699)));
    }
    points.push_back(Pt(-300, -300));  // ends standing far off the board
    points.push_back(Pt(-300, -300));
    return points;
  };
  for (int p = 0; p < 3; ++p) {
    SetTrail(p, wander(p == 0 ? 5001 : 1500 + 700 * p));
    gameState.players[p].inputMode = kInputDirect;
  }
  std::vector<GridPoint> record = wander(3000);
  record[1] = Pt(-300, -300);  // where the marker of round 0 would be
  for (size_t j = 0; j < record.size(); ++j) gameState.track.recordTrail[j] = record[j];
  gameState.track.recordCount = static_cast<uint16_t>(record.size());
  gameState.track.recordRounds = static_cast<uint16_t>(record.size() - 2);
  DrawBoard();

  Picture expected;
  ASSERT_EQ(CreatePicture(expected, 240, 300, kPictureGivenSize), 0);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 240; ++x) expected.pixels[y * 240 + x] = circuit.pixels[(y + 200) * 700 + x + 230];
  }
  auto draw = [&](const GridPoint& a, const GridPoint& b, uint16_t colour, int16_t alpha) {
    const int16_t x0 = static_cast<int16_t>(a.x - 230), y0 = static_cast<int16_t>(a.y - 200);
    const int16_t x1 = static_cast<int16_t>(b.x - 230), y1 = static_cast<int16_t>(b.y - 200);
    const bool in0 = x0 >= 0 && x0 < 240 && y0 >= 0 && y0 < 300;
    const bool in1 = x1 >= 0 && x1 < 240 && y1 >= 0 && y1 < 300;
    if (in0 || in1) plain::BlendLine(expected, x0, y0, x1, y1, colour, alpha);
  };
  int drawn = 0;
  for (int p = 0; p < 3; ++p) {
    const PlayerRecord& player = gameState.players[p];
    for (int j = 1; j < player.lastIndex; ++j) {
      draw(player.trail[j], player.trail[j + 1], player.colour, TrailAlpha(player.lastIndex - 1 - j));
      ++drawn;
    }
  }
  for (size_t j = 0; j + 1 < record.size(); ++j) draw(record[j], record[j + 1], WhiteColour(), 100);
  ASSERT_GT(drawn, 5000);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 240; ++x) {
      if (x >= 190 && y < 28) continue;  // the counters
      ASSERT_EQ(Frame(x, y), expected.pixels[y * 240 + x]) << x << "," << y;
    }
  }
}

// A car at a new race: three equal points give one segment of no length, a single blended pixel
// under the car's square, which shows solid.
TEST_F(Board, CarsAreSolidSquaresOverTheirTrails) {
  Race(Black(240, 300, Pt(100, 150)));
  gameState.players[1].trail[2] = Pt(60, 60);  // player 1 elsewhere
  gameState.players[1].trail[1] = Pt(60, 60);
  DrawBoard();
  const uint16_t red = gameState.players[0].colour;
  for (int y = 145; y < 155; ++y) {
    for (int x = 95; x < 105; ++x) ASSERT_EQ(Frame(x, y), red) << x << "," << y;
  }
  EXPECT_NE(Frame(94, 150), red);
  EXPECT_NE(Frame(105, 150), red);
  EXPECT_EQ(Frame(55, 55), gameState.players[1].colour);
  // The reach circle of the player to move, round its predicted point (its car, at a start).
  EXPECT_EQ(Frame(100, 170), red);
  EXPECT_EQ(Frame(119, 150), red);
}

// ---- The record lap ----------------------------------------------------------------------------

namespace {

// 32 record points along row 250, 5 apart from x = 20: a record of 30 rounds.
TestCircuit WithRecord(TestCircuit circuit, int count) {
  circuit.hasRecordSection = true;
  for (int j = 0; j < count; ++j) circuit.record.push_back(Pt(20 + 5 * j, 250));
  return circuit;
}

}  // namespace

TEST_F(Board, TheRecordMarkerAdvancesOnePointARoundAndRestsOnTheLast) {
  const uint16_t marker = OverBlack(WhiteColour(), 100);
  struct Case {
    uint16_t round;
    int index;
  };
  for (const Case& c : {Case{0, 1}, Case{12, 13}, Case{29, 30}, Case{30, 31}, Case{500, 31}}) {
    Race(WithRecord(Black(240, 300, Pt(200, 60)), 32));
    ASSERT_EQ(gameState.track.recordRounds, 30);
    gameState.showRecord = 1;
    gameState.round = c.round;
    DrawBoard();
    const int x = 20 + 5 * c.index;
    // The marker's 10 x 10 square: its corners, and the columns just outside it (off the line).
    EXPECT_EQ(Frame(x - 5, 245), marker) << "round " << c.round;
    EXPECT_EQ(Frame(x + 4, 254), marker) << "round " << c.round;
    EXPECT_EQ(Frame(x - 6, 245), 0) << "round " << c.round;
    EXPECT_EQ(Frame(x + 5, 254), 0) << "round " << c.round;
    // The record line itself, white at 100 along row 250 (doubly blended where segments meet).
    EXPECT_EQ(Frame(102, 250), marker);
  }
}

// Without a record there is no point to mark. A record section with no points claims 65534
// rounds, and one of a single point (too few for a lap, so read as none) would claim 65535; the
// marker must not go looking for a point among the stale ones.
TEST_F(Board, NoRecordDrawsNoMarker) {
  for (int kind = 0; kind < 3; ++kind) {
    TestCircuit circuit = Black(240, 300, Pt(200, 60));
    if (kind == 1) circuit.hasRecordSection = true;  // a section with a count of 0
    if (kind == 2) circuit = WithRecord(circuit, 1);
    Race(circuit);
    ASSERT_EQ(gameState.track.recordCount, 0);
    for (int j = 0; j < 40; ++j) gameState.track.recordTrail[j] = Pt(20 + 5 * j, 250);
    gameState.showRecord = 1;
    gameState.round = 12;
    DrawBoard();
    for (int y = 240; y < 260; ++y) {
      for (int x = 0; x < 240; ++x) ASSERT_EQ(Frame(x, y), 0) << "kind " << kind << " at " << x << "," << y;
    }
    // Nor is the record's round count shown.
    EXPECT_EQ(Frame(232, 20), 0);
  }
}

// ---- The Go button -----------------------------------------------------------------------------

TEST_F(Board, TheGoButtonSitsUpAndRightOfThePredictedPointOnTheBoard) {
  struct Case {
    GridPoint predicted;  // in board coordinates, the view at (0, 0)
    int16_t x, y;
  };
  const Case cases[] = {
      {Pt(230, 10), 220, 0}, {Pt(100, 100), 135, 65}, {Pt(-60, 400), 0, 280}, {Pt(0, 40), 35, 5}, {Pt(150, 34), 185, 0},
  };
  for (const Case& c : cases) {
    for (int16_t mode : {kInputAim, kInputDirect}) {
      Race(Black(240, 300, Pt(120, 150)));
      // Standing still: the predicted point is the car's own point.
      SetTrail(0, {c.predicted, c.predicted, c.predicted});
      gameState.players[0].inputMode = mode;
      DrawBoard();
      EXPECT_EQ(gameState.goButtonX, c.x) << c.predicted.x << "," << c.predicted.y;
      EXPECT_EQ(gameState.goButtonY, c.y) << c.predicted.x << "," << c.predicted.y;
      const bool shown = mode == kInputAim;
      EXPECT_EQ(Frame(c.x, c.y) == GoUp(), shown);
      EXPECT_EQ(Frame(c.x + 19, c.y + 19) == GoUp(), shown);
      // The input-mode button shows switched on while the player aims.
      EXPECT_EQ(Frame(160, 310), shown ? BarOn() : BarUp());
    }
  }
}

// ---- Status rows, counters, menu bar -----------------------------------------------------------

TEST_F(Board, LapBarsAndPenaltySquaresPerPlayer) {
  Race(Black(240, 300, Pt(200, 250)));
  gameState.playerCount = 3;
  gameState.players[0].laps = 3;
  gameState.players[1].waitTurns = 2;
  gameState.players[2].laps = 1;
  DrawBoard();
  const uint16_t c0 = gameState.players[0].colour, c1 = gameState.players[1].colour, c2 = gameState.players[2].colour;
  struct Pixel {
    int x, y;
    uint16_t colour;
  };
  const Pixel pixels[] = {
      {2, 2, c0},   {16, 6, c0},   {17, 2, 0},   {1, 2, 0},    {2, 1, 0},     {2, 7, 0},    // bar of 3 laps
      {100, 9, c1}, {104, 13, c1}, {105, 9, 0},  {106, 9, c1}, {110, 13, c1}, {111, 9, 0},  // two squares
      {99, 9, 0},   {100, 8, 0},   {100, 14, 0}, {2, 9, 0},                                 // no laps
      {2, 16, c2},  {6, 20, c2},   {7, 16, 0},   {100, 16, 0},                              // one lap, no wait
  };
  for (const Pixel& p : pixels) EXPECT_EQ(Frame(p.x, p.y), p.colour) << p.x << "," << p.y;
}

TEST_F(Board, NumbersAreDrawnFromTheDigitStrip) {
  EXPECT_EQ(NumberToText(0), u"0");
  EXPECT_EQ(NumberToText(7), u"7");
  EXPECT_EQ(NumberToText(12), u"12");
  EXPECT_EQ(NumberToText(65535), u"65535");

  struct Case {
    uint16_t x, value;
    NumberAlign alignment;
    int firstColumn;  // the number's leftmost column
  };
  const Case cases[] = {{240, 7, NumberAlign::kEndLeftOf, 228},
                        {240, 12, NumberAlign::kEndLeftOf, 218},
                        {100, 12, NumberAlign::kCentreOn, 88},
                        {100, 12, NumberAlign::kStartAt, 100},
                        {50, 305, NumberAlign::kStartAt, 50}};
  for (const Case& c : cases) {
    FillFrame(kSentinel);
    DrawNumber(framePicture, c.x, 40, c.value, c.alignment);
    const std::u16string text = NumberToText(c.value);
    for (size_t i = 0; i < text.size(); ++i) {
      const int left = c.firstColumn + static_cast<int>(i) * 10;
      const int digit = text[i] - u'0';
      EXPECT_EQ(Frame(left, 40), kSentinel) << "transparent column of " << c.value;
      EXPECT_EQ(Frame(left + 1, 40), Glyph(digit)) << c.value << " digit " << i;
      EXPECT_EQ(Frame(left + 9, 53), Glyph(digit)) << c.value << " digit " << i;
    }
    EXPECT_EQ(Frame(c.firstColumn - 1, 45), kSentinel);
    EXPECT_EQ(Frame(c.firstColumn + 10 * static_cast<int>(text.size()), 45), kSentinel);
    EXPECT_EQ(Frame(c.firstColumn + 1, 54), kSentinel);
  }
}

TEST_F(Board, CountersShowTheRoundAndTheRecordsRounds) {
  Race(WithRecord(Black(240, 300, Pt(100, 200)), 14));  // 12 rounds
  gameState.round = 7;
  DrawBoard();
  EXPECT_EQ(Frame(229, 2), Glyph(7));
  EXPECT_EQ(Frame(237, 12), Glyph(7));
  EXPECT_EQ(Frame(219, 13), Glyph(1));
  EXPECT_EQ(Frame(229, 26), Glyph(2));
  EXPECT_EQ(Frame(238, 5), 0);
}

TEST_F(Board, TheMenuBarShowsEachSwitchedOnButton) {
  struct Case {
    uint8_t record, outline;
    int16_t mode;
  };
  for (const Case& c :
       {Case{0, 0, kInputDirect}, Case{1, 0, kInputDirect}, Case{0, 1, kInputAim}, Case{1, 1, kInputAim}}) {
    Race(Black(240, 300, Pt(100, 150)));
    gameState.showRecord = c.record;
    gameState.showOutline = c.outline;
    gameState.players[0].inputMode = c.mode;
    DrawBoard();
    for (int y : {300, 319}) {
      for (int x = 0; x < 240; ++x) {
        const bool on = (c.record && x >= 126 && x < 150) || (c.mode == kInputAim && x >= 152 && x < 178) ||
                        (c.outline && x >= 180 && x < 204);
        ASSERT_EQ(Frame(x, y), on ? BarOn() : BarUp()) << x << "," << y;
      }
    }
  }
}

// ---- The outline -------------------------------------------------------------------------------

// Random walls on white circuits of many widths: every outline cell in view is black, except in
// the view's last column and row, and nothing else is. The widths cross the ways the scan works
// (by whole words of 64 cells, with a shorter last word, or cell by cell).
TEST_F(Board, TheOutlineMarksExactlyTheOutlineCellsInView) {
  std::mt19937 random(3);
  for (uint16_t width : {30, 64, 65, 66, 100, 128, 129, 200, 240, 241, 300}) {
    SCOPED_TRACE(::testing::Message() << "width " << width);
    TestCircuit circuit(width, 330);
    circuit.pixels.assign(circuit.pixels.size(), 0xFFFF);
    for (auto& cell : circuit.cells) cell = random() % 3 == 0 ? 1 : 0;
    Race(circuit);
    SetTrail(0, {Pt(-500, -500), Pt(-500, -500), Pt(-500, -500)});  // car and reach circle out of sight
    gameState.playerCount = 1;
    gameState.players[0].inputMode = kInputDirect;
    gameState.showOutline = 1;
    gameState.viewX = 17;
    gameState.viewY = 12;
    DrawBoard();
    const ViewRect v = gameState.viewRect;
    for (int y = v.top; y < v.bottom; ++y) {
      for (int x = v.left; x < v.right; ++x) {
        const int bx = x - gameState.viewX, by = y - gameState.viewY;
        if (bx >= 216 && by < 16) continue;  // the round counter
        const bool examined = x < v.right - 1 && y < v.bottom - 1;
        const bool outline = examined && gameState.track.outlineGrid[y * width + x] == 1;
        ASSERT_EQ(Frame(bx, by), outline ? BlackColour() : 0xFFFF) << x << "," << y;
      }
    }
  }
}

TEST_F(Board, ACircuitWithoutAnOutlineDrawsNone) {
  TestCircuit circuit(240, 300);
  circuit.pixels.assign(circuit.pixels.size(), 0xFFFF);
  circuit.BlockRect(0, 0, 240, 20);
  circuit.start = Pt(120, 150);
  Race(circuit);
  std::free(gameState.track.outlineGrid);
  gameState.track.outlineGrid = nullptr;
  gameState.showOutline = 1;
  DrawBoard();
  for (int x = 0; x < 200; ++x) EXPECT_EQ(Frame(x, 19), 0xFFFF) << x;
}

// ---- The whole screen --------------------------------------------------------------------------

// A 240 x 300 circuit with a wall round it: two cars that have moved, the record shown, the
// outline shown. Pixels of every layer, the copy kept for the overlays, and the screen.
TEST_F(Board, AComposedBoardShowsEveryLayerAndIsKeptAndPresented) {
  TestCircuit circuit(240, 300);
  circuit.pixels.assign(circuit.pixels.size(), MakeColour(12, 24, 12));
  circuit.BlockRect(0, 0, 240, 4);
  circuit.BlockRect(0, 296, 240, 300);
  circuit.BlockRect(0, 0, 4, 300);
  circuit.BlockRect(236, 0, 240, 300);
  circuit.start = Pt(60, 200);
  circuit.hasRecordSection = true;
  for (int j = 0; j < 10; ++j) circuit.record.push_back(Pt(40 + 15 * j, 260));
  Race(circuit);
  SetTrail(0, {Pt(60, 200), Pt(60, 200), Pt(60, 200), Pt(66, 190), Pt(76, 176)});
  SetTrail(1, {Pt(60, 200), Pt(60, 200), Pt(60, 200), Pt(62, 192)});
  gameState.round = 2;
  gameState.showRecord = 1;
  gameState.showOutline = 1;
  gameState.players[1].laps = 1;
  DrawBoard();

  const uint16_t grass = MakeColour(12, 24, 12);
  const uint16_t red = gameState.players[0].colour, blue = gameState.players[1].colour;
  EXPECT_EQ(Frame(76, 176), red) << "car 0";
  EXPECT_EQ(Frame(62, 192), blue) << "car 1";
  EXPECT_EQ(Frame(86, 142), red) << "reach circle round (86, 162), top";
  EXPECT_EQ(Frame(150, 100), grass);
  EXPECT_EQ(Frame(3, 150), BlackColour()) << "the outline: the wall's cell against the track";
  EXPECT_EQ(Frame(2, 150), grass) << "the wall behind it";
  EXPECT_EQ(Frame(4, 150), grass) << "the track";
  EXPECT_EQ(Frame(2, 9), blue) << "player 1's lap";
  EXPECT_EQ(gameState.goButtonX, 121);
  EXPECT_EQ(gameState.goButtonY, 127);
  EXPECT_EQ(Frame(121, 127), GoUp());
  EXPECT_EQ(Frame(229, 2), Glyph(2)) << "round";
  EXPECT_EQ(Frame(229, 13), Glyph(8)) << "record rounds";
  EXPECT_EQ(Frame(130, 310), BarOn()) << "record button";
  EXPECT_EQ(Frame(190, 310), BarOn()) << "outline button";
  EXPECT_EQ(Frame(160, 310), BarOn()) << "input button";
  EXPECT_EQ(Frame(30, 310), BarUp());
  // The marker on record point 3 (round 2 + 1), white over the grass at 100.
  Picture under;
  CreatePicture(under, 1, 1, kPictureGivenSize);
  under.pixels[0] = grass;
  plain::BlendPixel(under, 0, 0, WhiteColour(), 100);
  EXPECT_EQ(Frame(85 - 5, 255), under.pixels[0]);
  EXPECT_EQ(Frame(85 - 6, 255), grass);

  EXPECT_EQ(std::memcmp(boardPicture.pixels, framePicture.pixels, 240 * 320 * 2), 0);
  const uint16_t* screen = GXPresentedScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(std::memcmp(screen, framePicture.pixels, 240 * 320 * 2), 0);
}

// Data pictures that failed to load leave their parts of the screen as the frame held them.
TEST_F(Board, MissingDataPicturesDrawNothingOfTheirOwn) {
  ReleasePixels(menuBarPicture);
  ReleasePixels(goButtonPicture);
  ReleasePixels(digitsPicture);
  Race(Black(240, 300, Pt(100, 150)));
  gameState.showRecord = gameState.showOutline = 1;
  FillFrame(kSentinel);
  DrawBoard();
  for (int x = 0; x < 240; ++x) ASSERT_EQ(Frame(x, 310), kSentinel) << x;
  EXPECT_EQ(Frame(135, 115), 0) << "no Go button";
  EXPECT_EQ(Frame(230, 5), 0) << "no digits";
}
