// The screens and their taps.
#include "game/screens.h"

#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/race_keeping.h"
#include "game/startup.h"
#include "rules/turn.h"
#include "game/view.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "rules/commit.h"
#include "rules/move.h"

namespace {

// ---- The race board ------------------------------------------------------------------------------

void TapBoardDirect(uint16_t x, uint16_t y) {
  const GameState& s = gameState;
  const GridPoint predicted = PredictedPoint(CurrentRecord(gameState));
  const int16_t sx = static_cast<int16_t>(x);
  const int16_t sy = static_cast<int16_t>(y);
  const int16_t dx = static_cast<int16_t>(s.viewX - predicted.x + sx);
  const int16_t dy = static_cast<int16_t>(s.viewY - predicted.y + sy);
  // Strictly inside the reach disc, or nothing: a tap at distance 20 is ignored without a word.
  if (!IsWithinReach(dx, dy, s.moveRadius)) return;
  EndTurn(static_cast<int16_t>(s.viewX + sx), static_cast<int16_t>(s.viewY + sy));
}

void TapBoardAiming(uint16_t x, uint16_t y) {
  const GameState& s = gameState;
  const bool onGo = x >= s.goButtonX && x <= s.goButtonX + kGoButtonTapReach && y >= s.goButtonY &&
                    y <= s.goButtonY + kGoButtonTapReach;
  if (onGo) {
    EndTurn(s.targetX, s.targetY);
    return;
  }
  // An aim tap is not held back by the pen lock: only drags are.
  AimAt(static_cast<int16_t>(x), static_cast<int16_t>(y));
}

void TapMenuBar(uint16_t x) {
  GameState& s = gameState;
  if (kMenuButtonTap.Holds(x)) {
    s.screenMode = kScreenMenu;
    s.subMenuOpen = 0;
    DrawMenu();
  } else if (kRecordButtonTap.Holds(x)) {
    s.showRecord = s.showRecord == 0 ? 1 : 0;
    ShowBoard();
  } else if (kInputButtonTap.Holds(x) && !IsComputerTurn()) {
    PlayerRecord& player = CurrentRecord(s);
    player.inputMode = player.inputMode == kInputDirect ? kInputAim : kInputDirect;
    ShowBoard();
  } else if (kOutlineButtonTap.Holds(x)) {
    s.showOutline = s.showOutline == 0 ? 1 : 0;
    ShowBoard();
  } else if (kShellButtonTap.Holds(x)) {
    // The desktop gets the screen back; the game stays on the race board and comes back full
    // screen when its window has the focus again.
    SHFullScreen(mainWindow, SHFS_SHOWTASKBAR | SHFS_SHOWSIPBUTTON | SHFS_SHOWSTARTICON);
    MoveWindow(mainWindow, 0, 0, 0, 0, 0);
  }
}

void TapRace(uint16_t x, uint16_t y) {
  if (y >= kMenuBarTop) {
    TapMenuBar(x);
  } else if (IsComputerTurn()) {
    return;  // the board is the computer's while it moves
  } else if (CurrentRecord(gameState).inputMode == kInputDirect) {
    if (HintShown()) {  // a hint's cross stays until the next tap
      ForgetHint();
      ShowBoard();
    }
    TapBoardDirect(x, y);
  } else {
    TapBoardAiming(x, y);
  }
}

// ---- The menu ------------------------------------------------------------------------------------

void BackToRace() {
  gameState.screenMode = kScreenRace;
  ShowBoard();
  BeginTurn();
}

// The entries in the order they are tested: where two regions share a row, the first wins.
void TapMenu(uint16_t x, uint16_t y) {
  GameState& s = gameState;
  const bool onPanel = x <= kMenuEntryTapRight;
  if (onPanel && kQuitEntryTap.Holds(y)) {
    ShutDown();
    SendMessage(mainWindow, WM_CLOSE, 0, 0);
  } else if (onPanel && kNewRaceEntryTap.Holds(y)) {
    NewRace();
  } else if (onPanel && kCircuitEntryTap.Holds(y)) {
    StartSelector();
  } else if (onPanel && kTitleEntryTap.Holds(y)) {
    s.screenMode = kScreenTitle;
    ShowTitle();
  } else if (onPanel && kPlayersEntryTap.Holds(y)) {
    s.subMenuOpen = s.subMenuOpen == 1 ? 0 : 1;
    DrawMenu();
  } else if (kMenuCloseColumns.Holds(x) && kMenuCloseRows.Holds(y)) {
    BackToRace();
  } else if (s.subMenuOpen == 0) {
    if (kBesideMenuColumns.Holds(x) && kBesideMenuRows.Holds(y)) BackToRace();
  } else if (s.subMenuOpen == 1 && kCountBandColumns.Holds(x)) {
    for (int i = 0; i < kMaxPlayers; ++i) {
      const int top = kCountBandTop + kCountBandPitch * i;
      const int bottom = kCountBandBottom + kCountBandPitch * i;
      if (y < top || y > bottom) continue;
      // The submenu stays marked open until the menu is next opened from the menu bar.
      s.playerCount = static_cast<uint16_t>(i + 1);
      BackToRace();
      return;
    }
  }
}

}  // namespace

void HandleTap(uint16_t x, uint16_t y) {
  switch (gameState.screenMode) {
    case kScreenTitle:
      LeaveTitle();
      break;
    case kScreenRace:
      TapRace(x, y);
      break;
    case kScreenMenu:
      TapMenu(x, y);
      break;
    default:
      break;  // start-up has not finished
  }
}

void LeaveTitle() {
  KillTimer(mainWindow, kTitleTimer);
  gameState.screenMode = kScreenRace;
  CentreView();
  ResetTarget();
  if (CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}

void EndTurn(int16_t x, int16_t y) {
  GameState& s = gameState;
  FlashGoButton();
  // A car whose trail is full can't move: the commit refuses and its turn passes unused.
  const int car = s.currentPlayer;
  const int refused = CommitMove(s, x, y);
  KeepMove(car, GridPoint{x, y}, refused == 0);
  NextTurn(s);
  s.scrollX = s.scrollY = 0;
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  // The pen that made this tap must not drag the next player's cursor before it is lifted.
  s.penLock = 1;
  BeginTurn();
}

void DrawMenu() {
  const GameState& s = gameState;
  CopyPicture(boardPicture, framePicture);
  BlitRect(framePicture, 0, kMenuBarTop, menuBarPicture, 0, kMenuBarOnRow, kMenuButtonRight,
           kMenuBarOnRow + kMenuBarHeight);
  BlitRect(framePicture, 0, 0, menuPicture, 0, 0, kMenuPanelWidth, kMenuPanelHeight);
  if (s.subMenuOpen == 1) {
    BlitRect(framePicture, 0, kPlayersEntryTop, menuPicture, 0, kMenuHighlightRow + kPlayersEntryTop,
             kMenuPanelWidth, kMenuHighlightRow + kPlayersEntryBottom);
    BlitRect(framePicture, kSubMenuLeft, kSubMenuTop, subMenuPicture, 0, 0, kSubMenuWidth, kSubMenuHeight);
    const int entryRow = kCountEntryTop + kCountEntryPitch * s.playerCount;
    BlitRect(framePicture, kSubMenuLeft, static_cast<uint16_t>(kSubMenuTop + entryRow), subMenuPicture, 0,
             static_cast<uint16_t>(kSubMenuHighlightRow + entryRow), kSubMenuWidth,
             static_cast<uint16_t>(kSubMenuHighlightRow + entryRow + kCountEntryHeight));
  }
  PresentFrame(display, framePicture, 0);
}

void FlashGoButton() {
  const GameState& s = gameState;
  if (CurrentRecord(gameState).inputMode == kInputAim) {
    BlitRect(framePicture, static_cast<uint16_t>(s.goButtonX), static_cast<uint16_t>(s.goButtonY), goButtonPicture,
             0, kGoButtonPressedRow, kGoButtonSize, kGoButtonPressedRow + kGoButtonSize);
  }
  PresentFrame(display, framePicture, 1);
}
