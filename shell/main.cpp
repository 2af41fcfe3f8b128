// Apexgrid: the game program. Starts the platform, runs the game, stops the platform.
#include <cstdio>
#include <string>

#include "data/folder.h"
#include "platform/out_of_memory.h"
#include "platform/platform.h"
#include "shell/window.h"

namespace {

constexpr char kUsage[] =
    "usage: apexgrid [CIRCUIT]\n"
    "\n"
    "Apexgrid, turn-based racing for one to eight players on one screen. Plays the circuit file\n"
    "CIRCUIT (the whole command line is its path), or without one the circuit played last; with\n"
    "neither, the circuit selector opens.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "In the window: the mouse is the pen, the arrow keys scroll, A saves the screen, F11 or\n"
    "Alt+Enter switches full screen. APEXGRID_SCALE=N shows the screen N times enlarged.\n"
    "\n"
    "Records, the last circuit, screenshots and the window's settings are written into the program\n"
    "folder when it is writable, else into $XDG_DATA_HOME/apexgrid (~/.local/share/apexgrid),\n"
    "whose Circuits folder also holds your own circuits.\n";

}  // namespace

int main(int argc, char** argv) {
  if (AnswerHelpOrVersion(argc, argv, kUsage, "Apexgrid " APEXGRID_VERSION) != 0) return 0;
  InstallOutOfMemoryHandler();
  std::string error;
  if (StartPlatform(argc, argv, "Apexgrid", &error) != 0) {
    std::fprintf(stderr, "Apexgrid: %s\n", error.c_str());
    return 1;
  }
  SetWindowSettingsFile(GetWritableFolder() + kWindowSettingsFile);
  const int code = GameMain(SW_SHOWNORMAL);
  return StopPlatform(code);
}
