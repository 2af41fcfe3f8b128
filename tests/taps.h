// Where a player taps, named after what lies there: a point inside each tap region of the race
// screen and the menu (gfx/layout.h), and the script lines that tap it.
#pragma once

#include <string>

#include "data/grid_point.h"
#include "gfx/layout.h"

struct ScreenPoint {
  int x;
  int y;
};

constexpr int Middle(TapSpan span) { return (span.first + span.last) / 2; }

// The menu bar's buttons.
constexpr int kMenuBarRow = kMenuBarTop + kMenuBarHeight / 2;
constexpr ScreenPoint kMenuButton{Middle(kMenuButtonTap), kMenuBarRow};
constexpr ScreenPoint kRecordButton{Middle(kRecordButtonTap), kMenuBarRow};
constexpr ScreenPoint kInputButton{Middle(kInputButtonTap), kMenuBarRow};
constexpr ScreenPoint kOutlineButton{Middle(kOutlineButtonTap), kMenuBarRow};
constexpr ScreenPoint kShellButton{Middle(kShellButtonTap), kMenuBarRow};

// The menu's entries.
constexpr int kMenuEntryColumn = kMenuEntryTapRight / 2;
constexpr ScreenPoint kTitleEntry{kMenuEntryColumn, Middle(kTitleEntryTap)};
constexpr ScreenPoint kCircuitEntry{kMenuEntryColumn, Middle(kCircuitEntryTap)};
constexpr ScreenPoint kPlayersEntry{kMenuEntryColumn, Middle(kPlayersEntryTap)};
constexpr ScreenPoint kNewRaceEntry{kMenuEntryColumn, Middle(kNewRaceEntryTap)};
constexpr ScreenPoint kQuitEntry{kMenuEntryColumn, Middle(kQuitEntryTap)};

// Player count n (1 to 8) in the open submenu.
constexpr ScreenPoint PlayerCountEntry(int n) {
  return ScreenPoint{Middle(kCountBandColumns), (kCountBandTop + kCountBandBottom) / 2 + kCountBandPitch * (n - 1)};
}

// The script line that taps there.
inline std::string Tap(int x, int y) { return "tap " + std::to_string(x) + " " + std::to_string(y) + "\n"; }
inline std::string Tap(ScreenPoint p) { return Tap(p.x, p.y); }
inline std::string Tap(GridPoint p) { return Tap(p.x, p.y); }

// Any tap leaves the title.
inline std::string TapTitle() { return Tap(0, 0); }
inline std::string TapMenuButton() { return Tap(kMenuButton); }
inline std::string TapRecordButton() { return Tap(kRecordButton); }
inline std::string TapInputButton() { return Tap(kInputButton); }
inline std::string TapOutlineButton() { return Tap(kOutlineButton); }
inline std::string TapShellButton() { return Tap(kShellButton); }
inline std::string TapTitleEntry() { return Tap(kTitleEntry); }
inline std::string TapCircuitEntry() { return Tap(kCircuitEntry); }
inline std::string TapPlayersEntry() { return Tap(kPlayersEntry); }
inline std::string TapNewRaceEntry() { return Tap(kNewRaceEntry); }
inline std::string TapQuitEntry() { return Tap(kQuitEntry); }
inline std::string TapPlayerCount(int n) { return Tap(PlayerCountEntry(n)); }
