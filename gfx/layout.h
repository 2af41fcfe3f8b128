// Geometry of the race screen: the board, the menu bar and what is drawn on them. The tap code
// reads the same constants, so a button is drawn where it is tapped.
#pragma once

#include <cstdint>

// ---- The race screen -----------------------------------------------------------------------------
// The layouts are fixed in pixels of the 240 x 320 device screen, whatever size the display reports.
constexpr int kScreenColumns = 240;
constexpr int kScreenRows = 320;
constexpr int kBoardWidth = 240;  // the board shows the circuit in rows 0-299
constexpr int kBoardHeight = 300;
constexpr int kMenuBarTop = 300;  // the menu bar takes rows 300-319
constexpr int kMenuBarHeight = 20;

// ---- The menu bar picture ------------------------------------------------------------------------
// Rows 0-19 of the picture hold every button up, rows 20-39 the same buttons switched on.
constexpr int kMenuBarUpRow = 0;
constexpr int kMenuBarOnRow = 20;
// Columns [left, right) of the switchable buttons, as their switched-on looks are copied.
constexpr int kRecordButtonLeft = 126;  // the record lap is shown
constexpr int kRecordButtonRight = 150;
constexpr int kInputButtonLeft = 152;  // the current player aims with the cursor and the Go button
constexpr int kInputButtonRight = 178;
constexpr int kOutlineButtonLeft = 180;  // the circuit's outline is shown
constexpr int kOutlineButtonRight = 204;

// ---- The Go button -------------------------------------------------------------------------------
// 20 x 20, placed up and to the right of the reach circle and kept on the board.
constexpr int kGoButtonSize = 20;
constexpr int kGoButtonOffsetX = 35;   // from the predicted point, board coordinates
constexpr int kGoButtonOffsetY = -35;
constexpr int kGoButtonMaxX = kBoardWidth - kGoButtonSize;   // 220
constexpr int kGoButtonMaxY = kBoardHeight - kGoButtonSize;  // 280
// Rows of the Go button picture: its normal look, then its pressed look.
constexpr int kGoButtonUpRow = 0;
constexpr int kGoButtonPressedRow = 20;

// ---- Things on the board -------------------------------------------------------------------------
constexpr int kCarHalfSize = 5;       // a car is a 10 x 10 square around its newest point
constexpr int kReachCircleRadius = 20;
constexpr int kRecordMarkerHalfSize = 5;

// Status rows, one per player from the top: a lap bar and one square per turn to sit out.
constexpr int kStatusRowPitch = 7;
constexpr int kStatusRowTop = 2;     // row p covers board rows 7p + 2 to 7p + 6
constexpr int kLapBarLeft = 2;
constexpr int kLapBarStep = 5;       // pixels of bar per completed lap
constexpr int kPenaltyLeft = 100;
constexpr int kPenaltyStep = 6;
constexpr int kPenaltySize = 5;

// Round counters, right-aligned 2 pixels left of the board's right edge, one under the other.
constexpr int kCounterRight = kBoardWidth;
constexpr int kRoundCounterTop = 2;
constexpr int kRecordCounterTop = 13;

// ---- Opacities, out of 255 -----------------------------------------------------------------------
// A trail fades with age: the newest segment 240, each older one 7 less, the 20th and older 100.
constexpr int16_t kTrailNewestAlpha = 240;
constexpr int16_t kTrailAlphaStep = 7;
constexpr int kTrailFadingSegments = 19;
constexpr int16_t kTrailOldAlpha = 100;
constexpr int16_t kRecordAlpha = 100;

// Opacity of the trail segment of age m (0 for the newest).
constexpr int16_t TrailAlpha(int age) {
  return age < kTrailFadingSegments ? static_cast<int16_t>(kTrailNewestAlpha - kTrailAlphaStep * age)
                                    : kTrailOldAlpha;
}
