// Apexpick: lists the circuits beside the game and starts the game on the chosen one.
#include <cstdio>
#include <string>

#include "data/folder.h"
#include "platform/dialog.h"
#include "platform/platform.h"
#include "selector/dialog_view.h"
#include "selector/selector.h"

namespace {

// The dialog lives for the whole run, as the program's one window.
SelectorDialog dialog;

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (StartPlatform(argc, argv, "Apexpick", &error) != 0) {
    std::fprintf(stderr, "Apexpick: %s\n", error.c_str());
    return 1;
  }
  InitSelectorDialog(&dialog, GetProgramFolder());

  DialogProgram program;
  program.setUp = [] { SetUpSelectorLook(dialog.listLines); };
  program.draw = [] { DrawSelectorDialog(&dialog); };
  program.ended = [] { return dialog.ended; };
  // The desktop's close button, and a script that runs out, leave as the caption's OK does.
  program.close = [] { OnCaptionOk(&dialog); };
  program.scriptLine = [](const ScriptEvent& event, std::string* reason) {
    return PlaySelectorLine(&dialog, event, reason);
  };
  if (RunDialog(u"Apexgrid", program, &error) != 0) {
    std::fprintf(stderr, "Apexpick: %s\n", error.c_str());
    return StopPlatform(1);
  }
  // The program ends with the dialog, whatever ended it.
  return StopPlatform(0);
}
