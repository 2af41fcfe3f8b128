// The board renderer: every layer of the race screen, bottom to top.
#include "gfx/board.h"

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

// A segment is drawn only when one of its ends lies on the board. Long segments that merely pass
// through the board are skipped: testing two points is what keeps a board of long trails cheap.
void DrawSegment(GridPoint from, GridPoint to, uint16_t colour, int16_t alpha) {
  const int16_t x0 = BoardX(from.x);
  const int16_t y0 = BoardY(from.y);
  const int16_t x1 = BoardX(to.x);
  const int16_t y1 = BoardY(to.y);
  if (!OnBoard(x0, y0) && !OnBoard(x1, y1)) return;
  BlendLine(framePicture, x0, y0, x1, y1, colour, alpha);
}

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
    // trail[0] → trail[1] is never drawn: at the start both are the start point.
    const int newest = player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1;
    for (int j = 1; j < newest; ++j) {
      DrawSegment(player.trail[j], player.trail[j + 1], player.colour, TrailAlpha(newest - 1 - j));
    }
  }
}

void DrawRecordLap() {
  const TrackGrid& track = gameState.track;
  const int count = track.recordCount < kRecordCapacity ? track.recordCount : kRecordCapacity;
  const uint16_t white = WhiteColour();
  for (int j = 0; j + 1 < count; ++j) {
    DrawSegment(track.recordTrail[j], track.recordTrail[j + 1], white, kRecordAlpha);
  }
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
  // A record of one point claims 65535 rounds; its marker still stays on the points it has.
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
    FillRect(framePicture, kLapBarLeft, top, static_cast<int16_t>(kLapBarStep * player.laps + kLapBarLeft),
             bottom, player.colour);
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
  BlitRect(framePicture, 0, 0, s.track.picture, static_cast<uint16_t>(view.left), static_cast<uint16_t>(view.top),
           static_cast<uint16_t>(view.right), static_cast<uint16_t>(view.bottom));

  DrawTrails();
  if (s.showRecord) DrawRecordLap();
  DrawCars();
  if (s.showRecord) DrawRecordMarker();

  const int16_t px = BoardX(predicted.x);
  const int16_t py = BoardY(predicted.y);
  DrawCircle(framePicture, px, py, kReachCircleRadius, current.colour);

  // Up and to the right of the reach circle, kept on the board; placed whatever the input mode,
  // so that switching to the cursor finds it where it belongs.
  s.goButtonX = Limit(static_cast<int16_t>(px + kGoButtonOffsetX), 0, kGoButtonMaxX);
  s.goButtonY = Limit(static_cast<int16_t>(py + kGoButtonOffsetY), 0, kGoButtonMaxY);

  DrawStatusRows();
  if (s.showOutline) DrawOutline();
  DrawMenuBar();

  DrawNumber(framePicture, kCounterRight, kRoundCounterTop, s.round, 1);
  if (s.track.recordCount > 0) DrawNumber(framePicture, kCounterRight, kRecordCounterTop, s.track.recordRounds, 1);

  if (current.inputMode == kInputAim) {
    BlitRect(framePicture, static_cast<uint16_t>(s.goButtonX), static_cast<uint16_t>(s.goButtonY), goButtonPicture,
             0, kGoButtonUpRow, kGoButtonSize, kGoButtonUpRow + kGoButtonSize);
    BlitRect(framePicture, kInputButtonLeft, kMenuBarTop, menuBarPicture, kInputButtonLeft, kMenuBarOnRow,
             kInputButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }

  CopyPicture(framePicture, boardPicture);
  PresentFrame(display, framePicture, 0);
  return 0;
}

void DrawOutline() {
  const TrackGrid& track = gameState.track;
  const ViewRect& view = gameState.viewRect;
  if (track.outlineGrid == nullptr) return;
  const uint16_t black = BlackColour();
  // A view rectangle left from another circuit must not lead the scan off this one's grid.
  const int32_t left = view.left < 0 ? 0 : view.left;
  const int32_t top = view.top < 0 ? 0 : view.top;
  const int32_t right = view.right > track.width ? track.width : view.right;
  const int32_t bottom = view.bottom > track.height ? track.height : view.bottom;
  // The last column and row of the view are not examined. Row by row, which puts the same pixels
  // as column by column and reads the grid in its own order.
  for (int32_t y = top; y < bottom - 1; ++y) {
    const uint8_t* row = track.outlineGrid + static_cast<size_t>(y) * track.width;
    for (int32_t x = left; x < right - 1; ++x) {
      if (row[x] == 1) {
        PutPixel(framePicture, static_cast<uint16_t>(x - gameState.viewX), static_cast<uint16_t>(y - gameState.viewY),
                 black);
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

void DrawNumber(Picture& target, uint16_t x, uint16_t y, uint16_t value, int16_t alignment) {
  const std::u16string text = NumberToText(value);
  const uint16_t length = static_cast<uint16_t>(text.size());
  const uint16_t glyph = static_cast<uint16_t>(digitsPicture.width / 10);
  uint16_t shift = 0;
  if (alignment == 1) shift = static_cast<uint16_t>(length * glyph + 2);
  if (alignment == 2) shift = static_cast<uint16_t>((length * glyph) / 2 + 2);
  const uint16_t key = DigitKeyColour();
  for (uint16_t i = 0; i < length; ++i) {
    const uint16_t d = static_cast<uint16_t>(text[i] - u'0');
    BlitKeyed(target, static_cast<uint16_t>(x + i * glyph - shift), y, digitsPicture, static_cast<uint16_t>(d * glyph), 0,
              static_cast<uint16_t>((d + 1) * glyph), static_cast<uint16_t>(digitsPicture.height), key);
  }
}
