// A small windowed program on the platform, for tests that run it as a real process: it writes
// every message its window procedure receives to standard error, one line each. It reads the
// script variable of its own file name (APEXGRID_SCRIPT_FakeProgram, or of a copy's name).
//
// Reactions, so that tests can reach each platform service from outside:
//   creation          timer 100, every 400 ms
//   focus gained      the screen filled with FAKE_COLOUR (hex 5-6-5, default 0x001F) and presented
//   pen down          a 3 x 3 white square at the pen, presented
//   key a             the message box "first line\nsecond line", caption "Note"
//   key b             starts FAKE_CHILD (a device path) with the command line FAKE_CHILD_LINE
//   key c             the shell shown and the window sized to nothing (the game's shell button)
//   key start         the window closes itself (WM_CLOSE through SendMessage)
//   timer             stops the timer when FAKE_ONE_TICK is set
// FAKE_SETTINGS names the file that keeps the window's scale and full screen.
// Started with FAKE_SECOND set, a copy that finds a running one brings it to the front and ends;
// FAKE_PAUSE=MS then makes it take that long between looking and making its window, as a slow
// start-up would.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/gx.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

uint16_t background = 0x001F;

void Say(const char* what, uintptr_t wParam, intptr_t lParam) {
  std::fprintf(stderr, "GOT %s %lu %ld\n", what, static_cast<unsigned long>(wParam), static_cast<long>(lParam));
  std::fflush(stderr);
}

void Paint(int penX, int penY) {
  uint16_t* frame = static_cast<uint16_t*>(GXBeginDraw());
  if (frame == nullptr) return;
  const GXDisplayProperties p = GXGetDisplayProperties();
  if (penX < 0) {
    for (uint32_t i = 0; i < p.cxWidth * p.cyHeight; ++i) frame[i] = background;
  } else {
    for (int y = penY - 1; y <= penY + 1; ++y) {
      for (int x = penX - 1; x <= penX + 1; ++x) {
        if (x >= 0 && y >= 0 && x < static_cast<int>(p.cxWidth) && y < static_cast<int>(p.cyHeight)) {
          frame[y * static_cast<int>(p.cxWidth) + x] = 0xFFFF;
        }
      }
    }
  }
  GXEndDraw();
}

intptr_t FakeProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_CREATE:
      Say("WM_CREATE", wParam, lParam);
      SetTimer(window, 100, 400);
      return 0;
    case WM_DESTROY:
      Say("WM_DESTROY", wParam, lParam);
      PostQuitMessage(0);
      return 0;
    case WM_SETFOCUS:
      Say("WM_SETFOCUS", wParam, lParam);
      GXResume();
      SHFullScreen(window, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON);
      MoveWindow(window, 0, 0, 240, 320, 0);
      Paint(-1, -1);
      return 0;
    case WM_KILLFOCUS:
      Say("WM_KILLFOCUS", wParam, lParam);
      GXSuspend();
      return 0;
    case WM_KEYDOWN:
      Say("WM_KEYDOWN", wParam, lParam);
      if (wParam == static_cast<uint16_t>(kKeyA)) {
        MessageBox(window, u"first line\nsecond line", u"Note", MB_OK);
      } else if (wParam == static_cast<uint16_t>(kKeyB)) {
        const char* child = std::getenv("FAKE_CHILD");
        const char* line = std::getenv("FAKE_CHILD_LINE");
        const int started = CreateProcess(FromUtf8(child ? child : ""), FromUtf8(line ? line : ""));
        std::fprintf(stderr, "STARTED %d\n", started);
      } else if (wParam == static_cast<uint16_t>(kKeyC)) {
        SHFullScreen(window, SHFS_SHOWTASKBAR | SHFS_SHOWSIPBUTTON | SHFS_SHOWSTARTICON);
        MoveWindow(window, 0, 0, 0, 0, 0);
        std::fprintf(stderr, "ICONIC %d\n", IsIconic(window));
      } else if (wParam == static_cast<uint16_t>(kKeyStart)) {
        SendMessage(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_TIMER:
      Say("WM_TIMER", wParam, GetTickCount());
      if (std::getenv("FAKE_ONE_TICK") != nullptr) KillTimer(window, 100);
      return 0;
    case WM_MOUSEMOVE:
      Say("WM_MOUSEMOVE", wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      Say("WM_LBUTTONDOWN", wParam, lParam);
      Paint(PenX(lParam), PenY(lParam));
      return 0;
    case WM_LBUTTONUP:
      Say("WM_LBUTTONUP", wParam, lParam);
      return 0;
    case WM_CLOSE:
      Say("WM_CLOSE", wParam, lParam);
      break;
    default:
      break;
  }
  return DefWindowProc(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  // Named after its file, so that a copy under another name reads its own script variable.
  const char* slash = std::strrchr(argv[0], '/');
  const char* name = slash != nullptr ? slash + 1 : argv[0];
  std::string error;
  if (StartPlatform(argc, argv, name, &error) != 0) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    return 1;
  }
  if (const char* colour = std::getenv("FAKE_COLOUR")) {
    background = static_cast<uint16_t>(std::strtoul(colour, nullptr, 16));
  }
  if (const char* settings = std::getenv("FAKE_SETTINGS")) SetWindowSettingsFile(FromUtf8(settings));
  std::fprintf(stderr, "COMMAND [%s] %d\n", ToUtf8(GetCommandLine()).c_str(), argc - 1);
  if (std::getenv("FAKE_SECOND") != nullptr) {
    WindowHandle running = FindWindow(u"FAKE", u"Fake");
    if (running != nullptr) {
      SetForegroundWindow(reinterpret_cast<WindowHandle>(reinterpret_cast<uintptr_t>(running) | 1));
      std::fprintf(stderr, "SECOND COPY\n");
      return StopPlatform(0);
    }
    if (const char* pause = std::getenv("FAKE_PAUSE")) usleep(static_cast<useconds_t>(std::atoi(pause)) * 1000);
  }
  WindowClass windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.windowProc = FakeProc;
  windowClass.className = u"FAKE";
  RegisterClass(&windowClass);
  GXOpenDisplay(nullptr, GX_FULLSCREEN);
  WindowHandle window =
      CreateWindow(u"FAKE", u"Fake", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  if (window == nullptr) {
    std::fprintf(stderr, "Fake: no window\n");
    return StopPlatform(1);
  }
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  std::fprintf(stderr, "STARTED UP\n");
  Message message;
  while (GetMessage(&message)) {
    TranslateMessage(&message);
    DispatchMessage(&message);
  }
  GXCloseDisplay();
  std::fprintf(stderr, "LOOP ENDED %lu\n", static_cast<unsigned long>(message.wParam));
  return StopPlatform(static_cast<int>(message.wParam));
}
