// Apexgrid: the game program. Starts the platform, runs the game, stops the platform.
#include <cstdio>
#include <string>

#include "platform/out_of_memory.h"
#include "platform/platform.h"
#include "shell/window.h"

int main(int argc, char** argv) {
  InstallOutOfMemoryHandler();
  std::string error;
  if (StartPlatform(argc, argv, "Apexgrid", &error) != 0) {
    std::fprintf(stderr, "Apexgrid: %s\n", error.c_str());
    return 1;
  }
  const int code = GameMain(SW_SHOWNORMAL);
  return StopPlatform(code);
}
