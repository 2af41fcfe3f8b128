// Apexlobby: signs in to a race server, lists and makes online races, and opens them in the game.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/folder.h"
#include "data/program_icon.h"
#include "lobby/lobby.h"
#include "lobby/notify.h"
#include "lobby/view.h"
#include "platform/dialog.h"
#include "platform/folders.h"
#include "platform/out_of_memory.h"
#include "platform/platform.h"

namespace {

// The lobby lives for the whole run, as the program's one window.
Lobby lobby;

constexpr char kUsage[] =
    "usage: apexlobby\n"
    "\n"
    "Apexlobby, the online lobby of Apexgrid: signs in to a race server (its address and the\n"
    "sign-in are remembered in $XDG_DATA_HOME/apexgrid/Data), lists your races and the open ones,\n"
    "makes new races on the circuits Apexpick lists, and opens a race in the game.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n";

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  if (AnswerHelpOrVersion(argc, argv, kUsage, "Apexlobby " APEXGRID_VERSION) != 0) return 0;
  InstallOutOfMemoryHandler();
  std::string error;
  if (StartPlatform(argc, argv, "Apexlobby", &error) != 0) {
    std::fprintf(stderr, "Apexlobby: %s\n", error.c_str());
    return 1;
  }
  const std::u16string writable = GetWritableFolder();
  SetWindowSettingsFile(writable + kWindowSettingsFile);
  InitLobby(&lobby, GetProgramFolder(), writable, UserDataFolder());

  DialogProgram program;
  program.setUp = [] { SetUpLobbyLook(lobby); };
  program.icon = &kProgramIcon;
  program.opened = [](WindowHandle window) { OpenLobby(&lobby, window); };
  // With APEXGRID_TIMING in the environment, the time from the start of main to the first frame on
  // the screen goes to standard error (frames are drawn and shown one after the other, so the second
  // begins once the first is shown): the lobby must show at once, whatever the server does.
  const bool timed = std::getenv("APEXGRID_TIMING") != nullptr;
  program.draw = [timed, started] {
    static int frames = 0;
    if (timed && ++frames == 2) {
      std::fprintf(stderr, "Apexlobby: first frame shown %.1f ms after the start\n",
                   std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    DrawLobby(&lobby);
  };
  program.ended = [] { return lobby.ended; };
  program.close = [] { OnClose(&lobby); };
  program.message = [](uint32_t message, uintptr_t wParam, intptr_t) {
    if (message == WM_TIMER) return OnLobbyTimer(&lobby, wParam);
    return message == WM_NETWORK && OnNetwork(&lobby, wParam);
  };
  program.scriptLine = [](const ScriptEvent& event, std::string* reason) {
    return PlayLobbyLine(&lobby, event, reason);
  };
  const int failed = RunDialog(u"Apexgrid Online", program, &error);
  // The client's threads end before the platform does: nothing posts to a window after this.
  lobby.client.reset();
  EndNotifications();
  if (failed != 0) {
    std::fprintf(stderr, "Apexlobby: %s\n", error.c_str());
    return StopPlatform(1);
  }
  return StopPlatform(0);
}
