// Start-up, shut-down, the hand-over to the selector, and the title.
#include "game/startup.h"

#include <cstdio>
#include <string>

#include "data/circuit.h"
#include "data/folder.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/race_log.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

inline constexpr char16_t kErrorCaption[] = u"Error";
inline constexpr char16_t kCircuitFailed[] = u"Couldn't load circuit:\n";
inline constexpr char16_t kScreenFailed[] = u"Apexgrid can't open the screen, so it will close.";

struct Run {
  bool startedUp = false;
  bool shutDown = false;
  bool inputOpen = false;
  bool screenFailed = false;
};

Run run;

// The pictures read at start-up, in their order.
struct DataPicture {
  Picture* picture;
  const char16_t* file;
};

void LoadDataPictures(const std::u16string& folder) {
  const DataPicture pictures[] = {
      {&menuBarPicture, kMenuBarFile}, {&goButtonPicture, kGoButtonFile}, {&menuPicture, kMenuFile},
      {&subMenuPicture, kSubMenuFile}, {&titlePicture, kTitleFile},       {&digitsPicture, kDigitsFile},
  };
  for (const DataPicture& p : pictures) {
    const std::u16string path = folder + p.file;
    LoadPicture(*p.picture, path);
    // The game plays on without it (whatever would be drawn from it stays undrawn), but an
    // installation with a picture missing deserves a word where its owner can see it.
    if (p.picture->pixels == nullptr) {
      std::fprintf(stderr, "Apexgrid: can't read the picture %s; playing on without it\n", ToUtf8(path).c_str());
    }
  }
}

// A frame fresh from CreatePicture holds whatever the memory held; black instead, for the parts
// of the screen that nothing draws over (a missing title picture, a circuit smaller than the
// board).
void ClearPicture(Picture& picture) {
  FillRect(picture, 0, 0, static_cast<int16_t>(picture.width), static_cast<int16_t>(picture.height), BlackColour());
}

}  // namespace

void StartUp(WindowHandle window) {
  if (OpenDisplay(display, window, 1) != 0) {
    // A window that shows nothing is worse than none: say why, then close.
    run.screenFailed = true;
    MessageBox(window, kScreenFailed, kErrorCaption, MB_OK);
    SendMessage(window, WM_CLOSE, 0, 0);
    return;
  }
  SHFullScreen(window, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON);
  MoveWindow(window, 0, 0, ScreenWidth(display), ScreenHeight(display), 0);

  CreatePicture(framePicture, 0, 0, kPictureScreenSize);
  CreatePicture(boardPicture, 0, 0, kPictureScreenSize);
  ClearPicture(framePicture);
  ClearPicture(boardPicture);
  const std::u16string folder = GetProgramFolder();
  // What the game writes, and the last-circuit file it reads back, live where it may write.
  const std::u16string ownFolder = GetWritableFolder();
  LoadDataPictures(folder);
  // The badges and the drivers are beyond the hand-held's game: a missing badge picture passes
  // without a word, and no settings file leaves every car to a player.
  LoadPicture(badgePicture, folder + kBadgesFile);
  LoadDriverChoices(ownFolder);

  GXOpenInput();
  run.inputOpen = true;
  keyList = GXGetDefaultKeys(GX_NORMALKEYS);

  // The command line is the circuit's path as given: the selector passes a full path with its
  // spaces and no quotes. One typed in a shell is made full, so that the last-circuit file names
  // the same circuit from whatever folder the next start is made.
  std::u16string given = GetCommandLine();
  // A race file brings its circuit; one that can't be used is told, and the last circuit is played.
  if (IsRacePath(given)) given = PrepareRace(FullDevicePath(given));
  if (given.empty()) given = ReadTextFile(ownFolder + kLastCircuitFile);
  if (given.empty()) {
    StartSelector();
    return;
  }
  const std::u16string path = FullDevicePath(given);
  // A shipped circuit is played from the player's private copy once there is one; the message names
  // the file that was read, or the circuit as the user gave it.
  const std::u16string file = CircuitToLoad(path);
  if (LoadCircuit(gameState.track, file) != 0) {
    // The last-circuit file keeps what it held: only a circuit that loaded is remembered.
    MessageBox(mainWindow, kCircuitFailed + (file == path ? given : file), kErrorCaption, MB_OK);
    StartSelector();
    return;
  }
  WriteTextFile(ownFolder + kLastCircuitFile, path);
  SetStartValues(gameState);
  SetPlayerColours(gameState, MakeColour);
  StartPreparedRace();
  ShowTitle();
  // While the title shows, the computer learns the circuit, if any car is the computer's.
  PrepareBrain();
  run.startedUp = true;
}

bool IsStartedUp() { return run.startedUp; }

bool ScreenFailed() { return run.screenFailed; }

void ShutDown() {
  if (run.shutDown) return;
  run.shutDown = true;
  run.startedUp = false;
  if (display.stagingBuffer != nullptr) CloseDisplay(display);  // only a screen that was opened
  ReleasePixels(framePicture);
  if (run.inputOpen) GXCloseInput();
  run.inputOpen = false;
}

void StartSelector() {
  // Whether the selector starts is not looked at: the game closes all the same.
  CreateProcess(GetProgramFolder() + kSelectorProgram, u"");
  ShutDown();
  SendMessage(mainWindow, WM_CLOSE, 0, 0);
}

void StartLobby() {
  // The lobby runs beside the game, which plays on; a build without it starts nothing.
  CreateProcess(GetProgramFolder() + kLobbyProgram, u"");
}

void ShowTitle() {
  CopyPicture(titlePicture, framePicture);
  PresentFrame(display, framePicture, kPresentStaged);
}
