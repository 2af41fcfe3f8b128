// Apexpick: lists the circuits beside the game and starts the game on the chosen one.
#include <cstdio>
#include <string>

#include "data/folder.h"
#include "data/program_icon.h"
#include "platform/dialog.h"
#include "platform/out_of_memory.h"
#include "platform/platform.h"
#include "selector/dialog_view.h"
#include "selector/selector.h"

namespace {

// The dialog lives for the whole run, as the program's one window.
SelectorDialog dialog;

constexpr char kUsage[] =
    "usage: apexpick\n"
    "\n"
    "Apexpick, the circuit selector of Apexgrid: lists the circuits of the program folder's\n"
    "Circuits folder (and of $XDG_DATA_HOME/apexgrid/Circuits when the program folder isn't\n"
    "writable) and starts the game on the one chosen.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (AnswerHelpOrVersion(argc, argv, kUsage, "Apexpick " APEXGRID_VERSION) != 0) return 0;
  InstallOutOfMemoryHandler();
  std::string error;
  if (StartPlatform(argc, argv, "Apexpick", &error) != 0) {
    std::fprintf(stderr, "Apexpick: %s\n", error.c_str());
    return 1;
  }
  const std::u16string writable = GetWritableFolder();
  SetWindowSettingsFile(writable + kWindowSettingsFile);
  InitSelectorDialog(&dialog, GetProgramFolder(), writable);

  DialogProgram program;
  program.setUp = [] { SetUpSelectorLook(dialog.listLines); };
  program.icon = &kProgramIcon;
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
