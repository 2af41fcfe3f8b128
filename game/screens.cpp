// The screens and their taps.
#include "game/screens.h"

#include "data/folder.h"
#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/race_keeping.h"
#include "game/startup.h"
#include "game/turn.h"
#include "game/view.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "platform/window.h"
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
  } else if (kInputButtonTap.Holds(x) && !IsComputerTurn() && !IsRemoteTurn()) {
    PlayerRecord& player = CurrentRecord(s);
    player.inputMode = player.inputMode == kInputDirect ? kInputAim : kInputDirect;
    ForgetHint();  // aiming, the target is on the hint already
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
  } else if (IsComputerTurn() || IsRemoteTurn()) {
    return;  // the board is the computer's while it moves, and the other computer's car's
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
    ResumeRace();
  } else if (s.subMenuOpen == 0) {
    if (kBesideMenuColumns.Holds(x) && kBesideMenuRows.Holds(y)) ResumeRace();
  } else if (s.subMenuOpen == 1 && kCountBandColumns.Holds(x)) {
    for (int i = 0; i < kMaxPlayers; ++i) {
      const int top = kCountBandTop + kCountBandPitch * i;
      const int bottom = kCountBandBottom + kCountBandPitch * i;
      if (y < top || y > bottom) continue;
      // The submenu stays marked open until the menu is next opened from the menu bar.
      ChangePlayerCount(static_cast<uint16_t>(i + 1));
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

void DrawMenu() {
  const GameState& s = gameState;
  CopyPicture(boardPicture, framePicture);
  BlitRect(framePicture, 0, kMenuBarTop, menuBarPicture, 0, kMenuBarOnRow, kMenuButtonRight,
           kMenuBarOnRow + kMenuBarHeight);
  BlitRect(framePicture, 0, 0, menuPicture, 0, 0, kMenuPanelWidth, kMenuPanelHeight);
  if (s.subMenuOpen == 1) {
    BlitRect(framePicture, 0, kPlayersEntryTop, menuPicture, 0, kMenuHighlightRow + kPlayersEntryTop, kMenuPanelWidth,
             kMenuHighlightRow + kPlayersEntryBottom);
    BlitRect(framePicture, kSubMenuLeft, kSubMenuTop, subMenuPicture, 0, 0, kSubMenuWidth, kSubMenuHeight);
    const int entryRow = kCountEntryTop + kCountEntryPitch * s.playerCount;
    BlitRect(framePicture, kSubMenuLeft, static_cast<uint16_t>(kSubMenuTop + entryRow), subMenuPicture, 0,
             static_cast<uint16_t>(kSubMenuHighlightRow + entryRow), kSubMenuWidth,
             static_cast<uint16_t>(kSubMenuHighlightRow + entryRow + kCountEntryHeight));
  }
  PresentFrame(display, framePicture, kPresentStaged);
}

void HandleKey(int16_t key) {
  GameState& s = gameState;
  if (PlaybackShown()) {
    PlaybackKey(key);
    return;
  }
  if (s.screenMode == kScreenRace) {
    struct Scroll {
      int16_t key;
      int dx;
      int dy;
    };
    const Scroll scrolls[] = {
        {keyList.vkUp, 0, -kScrollStep},
        {keyList.vkDown, 0, kScrollStep},
        {keyList.vkLeft, -kScrollStep, 0},
        {keyList.vkRight, kScrollStep, 0},
    };
    for (const Scroll& scroll : scrolls) {
      if (key != scroll.key) continue;
      s.scrollX = static_cast<int16_t>(s.scrollX + scroll.dx);
      s.scrollY = static_cast<int16_t>(s.scrollY + scroll.dy);
      ShowBoard();  // the aim target stays where it was
    }
  }
  if (key == keyList.vkA) SavePicture(framePicture, GetWritableFolder() + kScreenshotFile);
  // The host keys of what the hand-held never had.
  if (key == kHostKeyDriver) CycleDriver();
  if (key == kHostKeyHint) ShowHint();
  if (key == kHostKeyForesight) ToggleForesight();
  if (key == kHostKeyResume) ResumeLastRace();
  if (key == kHostKeyPlayback) StartPlayback();
  if (key == kHostKeyExport) ExportRace();
  if (key == kHostKeyOnline && (s.screenMode == kScreenRace || s.screenMode == kScreenTitle)) StartLobby();
}
