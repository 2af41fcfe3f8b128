// The board renderer: every layer of the race screen, bottom to top.
#include "game/board.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "game/drivers.h"
#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "rules/move.h"

namespace {

bool OnBoard(int x, int y) { return x >= 0 && x < kBoardWidth && y >= 0 && y < kBoardHeight; }

// Track to board coordinates, in 16 bits like every coordinate of the game.
int16_t BoardX(int trackX) { return static_cast<int16_t>(trackX - gameState.viewX); }
int16_t BoardY(int trackY) { return static_cast<int16_t>(trackY - gameState.viewY); }

#if defined(__SSE2__)
// True when none of the four points from p lies on the board.
inline bool NoneOnBoard(const GridPoint* p, __m128i view) {
  static_assert(sizeof(GridPoint) == 4, "points are two 16-bit values side by side");
  const __m128i limits = _mm_set_epi16(kBoardHeight, kBoardWidth, kBoardHeight, kBoardWidth, kBoardHeight, kBoardWidth,
                                       kBoardHeight, kBoardWidth);
  // Board coordinates in 16 bits, as BoardX and BoardY give them; then 0 <= v < limit per lane.
  const __m128i v = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), view);
  const __m128i in = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(-1)), _mm_cmpgt_epi16(limits, v));
  // A point is on the board when both its lanes are: x's lane and y's lane, ANDed into x's.
  const __m128i both = _mm_and_si128(in, _mm_srli_epi32(in, 16));
  return (_mm_movemask_epi8(both) & 0x3333) == 0;
}
#endif

// A segment is drawn only when one of its ends lies on the board. Long segments that merely pass
// through the board are skipped: testing two points is what keeps a board of long trails cheap.
// Walks the points once, each tested once, changing pens only when the opacity changes; stretches
// of four points off the board are passed over together, since most of a long race lies outside
// the view.
void DrawPolyline(const GridPoint* points, int segments, uint16_t colour, int16_t (*alphaOf)(int age)) {
  if (segments <= 0) return;
  BlendPen pen{};
  int16_t penAlpha = -1;
  int16_t x0 = BoardX(points[0].x);
  int16_t y0 = BoardY(points[0].y);
  bool in0 = OnBoard(x0, y0);
#if defined(__SSE2__)
  const __m128i view = _mm_set_epi16(gameState.viewY, gameState.viewX, gameState.viewY, gameState.viewX,
                                     gameState.viewY, gameState.viewX, gameState.viewY, gameState.viewX);
#endif
  for (int j = 0; j < segments; ++j) {
#if defined(__SSE2__)
    // Segments j to j + 3 join points j to j + 4: none is drawn when no such point is on the board.
    if (!in0 && j + 4 <= segments && NoneOnBoard(points + j + 1, view)) {
      j += 3;
      x0 = BoardX(points[j + 1].x);
      y0 = BoardY(points[j + 1].y);
      continue;
    }
#endif
    const int16_t x1 = BoardX(points[j + 1].x);
    const int16_t y1 = BoardY(points[j + 1].y);
    const bool in1 = OnBoard(x1, y1);
    if (in0 || in1) {
      const int16_t alpha = alphaOf(segments - 1 - j);
      if (alpha != penAlpha) {
        pen = MakeBlendPen(colour, alpha);
        penAlpha = alpha;
      }
      BlendLineWithPen(framePicture, x0, y0, x1, y1, pen);
    }
    x0 = x1;
    y0 = y1;
    in0 = in1;
  }
}

int16_t RecordAlpha(int) { return kRecordAlpha; }

// The view may not start left of or above the circuit, nor show past its right or bottom edge
// unless the circuit is smaller than the board.
void ClampView() {
  GameState& s = gameState;
  if (s.viewX < 0) s.viewX = 0;
  if (s.viewY < 0) s.viewY = 0;
  int32_t left = s.viewX;
  int32_t top = s.viewY;
  int32_t right = left + kBoardWidth;
  int32_t bottom = top + kBoardHeight;
  if (right > s.track.width) {
    right = s.track.width;
    left = right - kBoardWidth < 0 ? 0 : right - kBoardWidth;
    s.viewX = static_cast<int16_t>(left);
  }
  if (bottom > s.track.height) {
    bottom = s.track.height;
    top = bottom - kBoardHeight < 0 ? 0 : bottom - kBoardHeight;
    s.viewY = static_cast<int16_t>(top);
  }
  s.viewRect = ViewRect{left, top, right, bottom};
}

void DrawTrails() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    // trail[0] → trail[1] is never drawn: at the start both are the start point. The newest
    // segment, trail[n − 1] → trail[n], has age 0.
    const int newest = player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1;
    DrawPolyline(player.trail + 1, newest - 1, player.colour, TrailAlpha);
  }
}

void DrawRecordLap() {
  const TrackGrid& track = gameState.track;
  const int count = track.recordCount < kRecordCapacity ? track.recordCount : kRecordCapacity;
  DrawPolyline(track.recordTrail, count - 1, WhiteColour(), RecordAlpha);
}

void DrawCars() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    const GridPoint at = player.trail[player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1];
    const int16_t x = BoardX(at.x);
    const int16_t y = BoardY(at.y);
    FillRect(framePicture, static_cast<int16_t>(x - kCarHalfSize), static_cast<int16_t>(y - kCarHalfSize),
             static_cast<int16_t>(x + kCarHalfSize), static_cast<int16_t>(y + kCarHalfSize), player.colour);
  }
}

// The marker advances along the record lap one point per round and rests on its last point once
// the round counter reaches the record's rounds. A circuit without a record has no point to mark.
void DrawRecordMarker() {
  const TrackGrid& track = gameState.track;
  const int count = track.recordCount < kRecordCapacity ? track.recordCount : kRecordCapacity;
  if (count == 0) return;
  int index = track.recordRounds > gameState.round ? gameState.round + 1 : count - 1;
  // Whatever rounds a record claims, its marker stays on the points it has.
  if (index > count - 1) index = count - 1;
  const GridPoint at = track.recordTrail[index];
  const int16_t x = BoardX(at.x);
  const int16_t y = BoardY(at.y);
  BlendFillRect(framePicture, static_cast<int16_t>(x - kRecordMarkerHalfSize),
                static_cast<int16_t>(y - kRecordMarkerHalfSize), static_cast<int16_t>(x + kRecordMarkerHalfSize),
                static_cast<int16_t>(y + kRecordMarkerHalfSize), WhiteColour(), kRecordAlpha);
}

int16_t Limit(int value, int low, int high) {
  return static_cast<int16_t>(value < low ? low : value > high ? high : value);
}

void DrawStatusRows() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    const int16_t top = static_cast<int16_t>(kStatusRowPitch * p + kStatusRowTop);
    const int16_t bottom = static_cast<int16_t>(kStatusRowPitch * (p + 1));
    FillRect(framePicture, kLapBarLeft, top, static_cast<int16_t>(kLapBarStep * player.laps + kLapBarLeft), bottom,
             player.colour);
    for (int i = 0; i < player.waitTurns; ++i) {
      const int left = kPenaltyLeft + kPenaltyStep * i;
      FillRect(framePicture, static_cast<int16_t>(left), top, static_cast<int16_t>(left + kPenaltySize), bottom,
               player.colour);
    }
  }
}

void DrawMenuBar() {
  BlitRect(framePicture, 0, kMenuBarTop, menuBarPicture, 0, kMenuBarUpRow, kScreenColumns,
           kMenuBarUpRow + kMenuBarHeight);
  if (gameState.showOutline) {
    BlitRect(framePicture, kOutlineButtonLeft, kMenuBarTop, menuBarPicture, kOutlineButtonLeft, kMenuBarOnRow,
             kOutlineButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }
  if (gameState.showRecord) {
    BlitRect(framePicture, kRecordButtonLeft, kMenuBarTop, menuBarPicture, kRecordButtonLeft, kMenuBarOnRow,
             kRecordButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }
}

}  // namespace

int DrawBoard() {
  GameState& s = gameState;
  const PlayerRecord& current = s.players[s.currentPlayer < kMaxPlayers ? s.currentPlayer : 0];
  const GridPoint predicted = PredictedPoint(current);

  ClampView();
  const ViewRect& view = s.viewRect;
  // A circuit smaller than the board leaves part of it uncovered: black there, so that nothing of
  // an earlier screen (the title, the menu) stays on the race board.
  const int16_t shownWidth = static_cast<int16_t>(view.right - view.left);
  const int16_t shownHeight = static_cast<int16_t>(view.bottom - view.top);
  if (shownWidth < kBoardWidth) FillRect(framePicture, shownWidth, 0, kBoardWidth, kBoardHeight, BlackColour());
  if (shownHeight < kBoardHeight) FillRect(framePicture, 0, shownHeight, kBoardWidth, kBoardHeight, BlackColour());
  BlitRect(framePicture, 0, 0, s.track.picture, static_cast<uint16_t>(view.left), static_cast<uint16_t>(view.top),
           static_cast<uint16_t>(view.right), static_cast<uint16_t>(view.bottom));

  DrawTrails();
  if (s.showRecord) DrawRecordLap();
  DrawCars();
  DrawDriverBadges();
  if (s.showRecord) DrawRecordMarker();

  const int16_t px = BoardX(predicted.x);
  const int16_t py = BoardY(predicted.y);
  DrawCircle(framePicture, px, py, kMoveRadius, current.colour);

  // Up and to the right of the reach circle, kept on the board; placed whatever the input mode,
  // so that switching to the cursor finds it where it belongs.
  s.goButtonX = Limit(static_cast<int16_t>(px + kGoButtonOffsetX), 0, kGoButtonMaxX);
  s.goButtonY = Limit(static_cast<int16_t>(py + kGoButtonOffsetY), 0, kGoButtonMaxY);

  DrawStatusRows();
  if (s.showOutline) DrawOutline();
  DrawMenuBar();

  DrawNumber(framePicture, kCounterRight, kRoundCounterTop, s.round, NumberAlign::kEndLeftOf);
  if (s.track.recordCount > 0) {
    DrawNumber(framePicture, kCounterRight, kRecordCounterTop, s.track.recordRounds, NumberAlign::kEndLeftOf);
  }

  if (current.inputMode == kInputAim) {
    BlitRect(framePicture, static_cast<uint16_t>(s.goButtonX), static_cast<uint16_t>(s.goButtonY), goButtonPicture, 0,
             kGoButtonUpRow, kGoButtonSize, kGoButtonUpRow + kGoButtonSize);
    BlitRect(framePicture, kInputButtonLeft, kMenuBarTop, menuBarPicture, kInputButtonLeft, kMenuBarOnRow,
             kInputButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }

  CopyPicture(framePicture, boardPicture);
  PresentFrame(display, framePicture, kPresentStaged);
  return 0;
}

// ---- The outline layer ----------------------------------------------------------------------------

void DrawOutline() {
  const TrackGrid& track = gameState.track;
  if (track.outlineGrid == nullptr || track.outlineRows == nullptr || track.outlineCells == nullptr) return;
  const ViewRect& view = gameState.viewRect;
  const uint16_t black = BlackColour();
  // A view rectangle left from another circuit must not lead the walk off this one's grid.
  const int32_t left = view.left < 0 ? 0 : view.left;
  const int32_t top = view.top < 0 ? 0 : view.top;
  const int32_t right = view.right > track.width ? track.width : view.right;
  const int32_t bottom = view.bottom > track.height ? track.height : view.bottom;
  // The last column and row of the view are not examined.
  const int32_t end = right - 1;
  const int32_t last = bottom - 1;
  const int16_t viewX = gameState.viewX;
  const int16_t viewY = gameState.viewY;
  // Every cell in view lands on the board, so once the frame is known to hold the whole view the
  // pixels are written straight into its rows.
  const bool inFrame = framePicture.pixels != nullptr && framePicture.xStep == 1 && left >= viewX && top >= viewY &&
                       end - viewX <= static_cast<int32_t>(framePicture.width) &&
                       last - viewY <= static_cast<int32_t>(framePicture.height);
  for (int32_t y = top; y < last; ++y) {
    const uint16_t* cell = track.outlineCells + track.outlineRows[y];
    const uint16_t* stop = track.outlineCells + track.outlineRows[y + 1];
    cell = std::lower_bound(cell, stop, static_cast<uint16_t>(left));
    if (inFrame) {
      uint16_t* row = framePicture.pixels + static_cast<size_t>(y - viewY) * framePicture.yStep - viewX;
      for (; cell != stop && *cell < end; ++cell) row[*cell] = black;
    } else {
      for (; cell != stop && *cell < end; ++cell) {
        PutPixel(framePicture, static_cast<uint16_t>(*cell - viewX), static_cast<uint16_t>(y - viewY), black);
      }
    }
  }
}

std::u16string NumberToText(uint16_t value) {
  char16_t digits[5];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value = static_cast<uint16_t>(value / 10);
  } while (value != 0);
  std::u16string text;
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

void DrawNumber(Picture& target, uint16_t x, uint16_t y, uint16_t value, NumberAlign alignment) {
  const std::u16string text = NumberToText(value);
  const uint16_t length = static_cast<uint16_t>(text.size());
  const uint16_t glyph = static_cast<uint16_t>(digitsPicture.width / 10);
  uint16_t shift = 0;
  if (alignment == NumberAlign::kEndLeftOf) shift = static_cast<uint16_t>(length * glyph + 2);
  if (alignment == NumberAlign::kCentreOn) shift = static_cast<uint16_t>((length * glyph) / 2 + 2);
  const uint16_t key = DigitKeyColour();
  for (uint16_t i = 0; i < length; ++i) {
    const uint16_t d = static_cast<uint16_t>(text[i] - u'0');
    BlitKeyed(target, static_cast<uint16_t>(x + i * glyph - shift), y, digitsPicture, static_cast<uint16_t>(d * glyph),
              0, static_cast<uint16_t>((d + 1) * glyph), static_cast<uint16_t>(digitsPicture.height), key);
  }
}
