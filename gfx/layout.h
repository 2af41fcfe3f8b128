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
// The menu button's look, columns [0, 65): shown pressed while the menu is open.
constexpr int kMenuButtonRight = 65;
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
constexpr int kGoButtonOffsetX = 35;  // from the predicted point, board coordinates
constexpr int kGoButtonOffsetY = -35;
constexpr int kGoButtonMaxX = kBoardWidth - kGoButtonSize;   // 220
constexpr int kGoButtonMaxY = kBoardHeight - kGoButtonSize;  // 280
// Rows of the Go button picture: its normal look, then its pressed look.
constexpr int kGoButtonUpRow = 0;
constexpr int kGoButtonPressedRow = 20;

// ---- Things on the board -------------------------------------------------------------------------
constexpr int kCarHalfSize = 5;  // a car is a 10 x 10 square around its newest point
constexpr int kRecordMarkerHalfSize = 5;
// A computer car's badge (Badges.pic: club, then pro, then a remote car's, side by side) just
// above its car, placed from the car's point.
constexpr int kBadgeWidth = 11;
constexpr int kBadgeHeight = 9;
constexpr int kBadgeOffsetX = -kCarHalfSize;
constexpr int kBadgeOffsetY = -kCarHalfSize - kBadgeHeight - 1;

// Status rows, one per player from the top: a lap bar and one square per turn to sit out.
constexpr int kStatusRowPitch = 7;
constexpr int kStatusRowTop = 2;  // row p covers board rows 7p + 2 to 7p + 6
constexpr int kLapBarLeft = 2;
constexpr int kLapBarStep = 5;  // pixels of bar per completed lap
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
  return age < kTrailFadingSegments ? static_cast<int16_t>(kTrailNewestAlpha - kTrailAlphaStep * age) : kTrailOldAlpha;
}

// ---- The view ------------------------------------------------------------------------------------
// With no scroll shift the current car's predicted point is shown at the centre of the board.
constexpr int kCarScreenColumn = 120;
constexpr int kCarScreenRow = 150;
constexpr int kScrollStep = 20;  // board pixels per press of a scroll key

// ---- The aim cursor ------------------------------------------------------------------------------
constexpr int kCursorArm = 3;  // a plus sign 7 x 7: the target and three pixels each way

// ---- Taps ----------------------------------------------------------------------------------------
// Where the pen is read, in screen pixels with both ends included. Each region covers the look
// drawn for it (the data pictures are drawn inside these regions), sometimes a little more.
struct TapSpan {
  int first;
  int last;
  constexpr bool Holds(int v) const { return v >= first && v <= last; }
};

// Menu bar buttons, by column, on rows 300 and below.
constexpr TapSpan kMenuButtonTap{0, 60};
constexpr TapSpan kRecordButtonTap{127, 149};
constexpr TapSpan kInputButtonTap{153, 177};
constexpr TapSpan kOutlineButtonTap{181, 201};
constexpr TapSpan kShellButtonTap{211, 239};

// The Go button answers to 21 x 21 pixels from its top-left corner: one more than its picture
// each way.
constexpr int kGoButtonTapReach = kGoButtonSize;

// The menu screen. Entries answer in columns 0 to 140, by row; where two rows meet (249, 275)
// the entry listed first in the tap code wins.
constexpr int kMenuEntryTapRight = 140;
constexpr TapSpan kQuitEntryTap{275, 299};
constexpr TapSpan kNewRaceEntryTap{249, 275};
constexpr TapSpan kCircuitEntryTap{204, 226};
constexpr TapSpan kTitleEntryTap{180, 202};
constexpr TapSpan kPlayersEntryTap{228, 249};
// The menu button on the bar closes the menu.
constexpr TapSpan kMenuCloseColumns{0, 60};
constexpr TapSpan kMenuCloseRows{300, 320};
// The board beside the menu closes it too, while the player-count submenu is shut.
constexpr TapSpan kBesideMenuColumns{141, 239};
constexpr TapSpan kBesideMenuRows{1, 299};
// Player count i + 1 (i from 0 to 7) answers in these columns, rows 76 + 19i to 93 + 19i.
constexpr TapSpan kCountBandColumns{141, 209};
constexpr int kCountBandTop = 76;
constexpr int kCountBandBottom = 93;
constexpr int kCountBandPitch = 19;

// ---- The menu screen's pictures ------------------------------------------------------------------
// The menu panel covers the board's left 140 columns; its picture holds the panel, then the same
// panel with every entry highlighted 300 rows further down.
constexpr int kMenuPanelWidth = 140;
constexpr int kMenuPanelHeight = 300;
constexpr int kMenuHighlightRow = 300;
constexpr int kPlayersEntryTop = 227;  // the players entry, highlighted while the submenu is open
constexpr int kPlayersEntryBottom = 253;
// The player-count submenu beside the panel; its picture holds the panel, then the entries
// highlighted 200 rows further down. Count n is drawn at rows 56 + 19n to 74 + 19n.
constexpr int kSubMenuLeft = 140;
constexpr int kSubMenuTop = 50;
constexpr int kSubMenuWidth = 70;
constexpr int kSubMenuHeight = 200;
constexpr int kSubMenuHighlightRow = 200;
constexpr int kCountEntryTop = 6;  // panel row of count 0's entry; count n is 19n below
constexpr int kCountEntryHeight = 19;
constexpr int kCountEntryPitch = 19;
