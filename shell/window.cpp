// The game window: single instance, creation, the message loop and the window procedure.
#include "shell/window.h"

#include "data/program_icon.h"
#include "game/cursor.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/race_keeping.h"
#include "game/screens.h"
#include "game/startup.h"
#include "game/turn.h"
#include "game/view.h"
#include "gfx/display.h"
#include "shell/online_link.h"

namespace {

// The pen's place travels in the position word: x in the low 16 bits, y in the high ones.
uint16_t LowWord(intptr_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
uint16_t HighWord(intptr_t value) { return static_cast<uint16_t>((value >> 16) & 0xFFFF); }

intptr_t HandleMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace

int GameMain(int showCommand) {
  if (!CreateMainWindow(showCommand)) return 0;
  Message message;
  while (GetMessage(&message)) {
    TranslateMessage(&message);
    DispatchMessage(&message);
  }
  StopOnlineLink();
  ShutDown();
  // A game that closed because it had no screen must not look like one that ran and ended.
  return ScreenFailed() ? 1 : static_cast<int>(message.wParam);
}

bool CreateMainWindow(int showCommand) {
  // One copy at a time: a second one brings the first to the front and ends without a window.
  WindowHandle running = FindWindow(kWindowClassName, kWindowTitle);
  if (running != nullptr) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is an address; its lowest bit asks for pop-ups too
    SetForegroundWindow(reinterpret_cast<WindowHandle>(reinterpret_cast<uintptr_t>(running) | 1));
    return false;
  }
  RegisterMainWindowClass(kWindowClassName);
  // Creation starts the title's timer, and the window takes the focus as it appears: both
  // messages arrive before start-up has run, which the procedure allows for.
  WindowHandle window = CreateWindow(kWindowClassName, kWindowTitle, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT);
  if (window == nullptr) return false;
  mainWindow = window;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  StartUp(window);
  StartOnlineLink(window);
  return true;
}

uint16_t RegisterMainWindowClass(const char16_t* className) {
  WindowClass windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.windowProc = MainWindowProc;
  windowClass.className = className;
  windowClass.icon = &kProgramIcon;
  return RegisterClass(&windowClass);
}

intptr_t MainWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const intptr_t answer = HandleMessage(window, message, wParam, lParam);
  // A move this message committed goes to the server of an online race at once.
  SendOnlineMoves();
  return answer;
}

namespace {

intptr_t HandleMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_NETWORK:
      if (IsStartedUp()) OnlineNetwork(wParam);
      return 0;
    case WM_CREATE:
      SetTimer(window, kTitleTimer, kTitlePeriod);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SETFOCUS:
      GXResume();
      SHFullScreen(window, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON);
      MoveWindow(window, 0, 0, ScreenWidth(display), ScreenHeight(display), 0);
      // The screen comes back as taps will be read. The race board is redrawn on the race and on
      // the title (where any tap starts the race anyway); the menu goes back over the kept board,
      // since a menu read from taps on what looks like the board would quit or restart the race
      // at a touch. Before start-up has finished there is no circuit and no picture to show.
      if (IsStartedUp()) {
        if (gameState.screenMode == kScreenMenu) {
          DrawMenu();
        } else {
          ShowBoard();
        }
      }
      return 0;
    case WM_KILLFOCUS:
      // An online race goes on while its window is in the background, the other players' moves
      // with it: its board keeps being drawn, so that a glance shows what the caption says.
      if (!onlineRace.active) GXSuspend();
      return 0;
    case WM_PAINT:
      return 0;  // every screen goes through the display
    case WM_KEYDOWN:
      if (IsStartedUp()) HandleKey(static_cast<int16_t>(LowWord(static_cast<intptr_t>(wParam))));
      return 0;
    case WM_TIMER:
      // A tick before start-up has finished is left alone: the timer keeps running and its next
      // tick ends the title.
      if (IsStartedUp()) {
        // The computer's pause has a timer of its own; any other tick ends the title.
        if (wParam == kComputerTimer) {
          ComputerTick();
        } else if (wParam == kOnlineRetryTimer) {
          OnlineRetryTick();
        } else if (wParam == kPlaybackTimer) {
          PlaybackTick();
        } else {
          LeaveTitle();
        }
      }
      return 0;
    case WM_MOUSEMOVE:
      // While a race plays back, the pen has nothing to steer.
      if (IsStartedUp() && !PlaybackShown()) {
        HandlePenMove(static_cast<int16_t>(LowWord(lParam)), static_cast<int16_t>(HighWord(lParam)));
      }
      return 0;
    case WM_LBUTTONDOWN:
      if (IsStartedUp() && !PlaybackShown()) HandleTap(LowWord(lParam), HighWord(lParam));
      return 0;
    case WM_LBUTTONUP:
      gameState.penLock = 0;  // the next drag may steer the cursor again
      return 0;
    default:
      return DefWindowProc(window, message, wParam, lParam);
  }
}

}  // namespace
