// The computer drivers, the hint and foresight.
#include "game/drivers.h"

#include <chrono>
#include <memory>
#include <new>
#include <string>

#include "brain/driver.h"
#include "data/folder.h"
#include "game/cursor.h"
#include "game/globals.h"
#include "game/screens.h"
#include "game/view.h"
#include "gfx/colour.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "platform/settings.h"
#include "platform/window.h"

DriverChoices driverChoices;

namespace {

// The brain of every computer car and of the hint, made for the circuit the first time it is
// needed: the largest built-in circuit takes it a tenth of a second.
Driver brain;

// Foresight for the aim cursor, with more room than the drivers' own.
std::unique_ptr<Foresight> aimForesight;

std::u16string settingsFile;  // where the choices are kept
uint32_t pauseTicks = 0;      // ticks of the computer's pause so far
bool thoughtAhead = false;    // the pro's lap from the standing start is ready
std::u16string shownCaption = kWindowTitle;
bool hintShown = false;

const char* const kDriverNames[] = {"human", "club", "pro"};
const char16_t* const kCaptionDrivers[] = {u"human", u"computer (club)", u"computer (pro)"};
const char16_t* const kColourNames[kMaxPlayers] = {u"red",    u"blue",   u"green", u"magenta",
                                                   u"yellow", u"orange", u"black", u"cyan"};

uint16_t CurrentIndex() { return gameState.currentPlayer < kMaxPlayers ? gameState.currentPlayer : 0; }

Driver& Brain() {
  if (!brain.loaded()) brain.Load(gameState.track);
  return brain;
}

bool AnyPro() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    if (driverChoices.driver[p] == kDriverPro) return true;
  }
  return false;
}

// A slice of the pro's preparation of its lap from the standing start; true while there is more.
bool ThinkAhead() {
  if (thoughtAhead || !AnyPro()) return false;
  thoughtAhead = Brain().Think(std::chrono::milliseconds(kThinkSlice));
  return !thoughtAhead;
}

void SaveChoices() {
  Settings settings = ReadSettings(settingsFile);
  for (int p = 0; p < kMaxPlayers; ++p) {
    SetSetting(&settings, "driver-" + std::to_string(p + 1), kDriverNames[driverChoices.driver[p]]);
  }
  SetSetting(&settings, "foresight", driverChoices.foresight != 0 ? "on" : "off");
  WriteSettings(settingsFile, settings, "Who drives each car, and whether the aim warns of doomed moves");
}

// The window's caption names the driver to move once any car is the computer's; until then it is
// the game's own title.
void NameDriverToMove() {
  bool anyComputer = false;
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    anyComputer = anyComputer || driverChoices.driver[p] != kDriverHuman;
  }
  std::u16string caption = kWindowTitle;
  if (anyComputer) {
    const uint16_t p = CurrentIndex();
    caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": " + kCaptionDrivers[driverChoices.driver[p]];
  }
  if (caption == shownCaption) return;
  shownCaption = caption;
  SetWindowText(mainWindow, caption);
}

}  // namespace

void LoadDriverChoices(const std::u16string& folder) {
  settingsFile = folder + kDriverSettingsFile;
  const Settings settings = ReadSettings(settingsFile);
  for (int p = 0; p < kMaxPlayers; ++p) {
    const std::string name = SettingText(settings, "driver-" + std::to_string(p + 1));
    driverChoices.driver[p] = name == "pro" ? kDriverPro : name == "club" ? kDriverClub : kDriverHuman;
  }
  driverChoices.foresight = SettingText(settings, "foresight") == "on" ? 1 : 0;
}

void ForgetCaption() { shownCaption.clear(); }

bool IsComputerTurn() {
  return gameState.screenMode == kScreenRace && driverChoices.driver[CurrentIndex()] != kDriverHuman;
}

void BeginTurn() {
  GameState& s = gameState;
  KillTimer(mainWindow, kComputerTimer);
  hintShown = false;
  NameDriverToMove();
  if (!IsComputerTurn()) {
    // While a player ponders, the pro prepares its lap on the same ticks.
    if (gameState.screenMode == kScreenRace && AnyPro() && !thoughtAhead) {
      SetTimer(mainWindow, kComputerTimer, kComputerTick);
    }
    return;
  }
  const uint16_t p = CurrentIndex();
  PlayerRecord& car = s.players[p];
  const bool aimed = car.inputMode == kInputAim;
  car.inputMode = kInputAim;  // a computer plays as a player who aims
  const GridPoint to = Brain().Move(car, driverChoices.driver[p] == kDriverPro ? DriverLevel::kPro : DriverLevel::kClub,
                                    p + 1u);
  s.targetX = to.x;
  s.targetY = to.y;
  if (aimed) {
    DrawCursor();
  } else {
    ShowBoard();  // the Go button and the aiming look come with it
  }
  pauseTicks = 0;
  SetTimer(mainWindow, kComputerTimer, kComputerTick);
}

void ComputerTick() {
  // Back from the menu or the title the turn begins again, with a fresh pause.
  if (!IsComputerTurn()) {
    if (gameState.screenMode != kScreenRace || !ThinkAhead()) KillTimer(mainWindow, kComputerTimer);
    return;
  }
  if (++pauseTicks < kComputerPause / kComputerTick) {
    // The pause is the players' time to follow the move; the pro uses some of it to prepare a
    // better lap than one turn's search can find.
    ThinkAhead();
    return;
  }
  KillTimer(mainWindow, kComputerTimer);
  // The commit locks the pen that made it until it is lifted; no pen made this one, so a player's
  // next drag must steer as freely as before it.
  const uint8_t penLock = gameState.penLock;
  EndTurn(gameState.targetX, gameState.targetY);
  gameState.penLock = penLock;
}

void CycleDriver() {
  if (gameState.screenMode != kScreenRace) return;
  uint8_t& driver = driverChoices.driver[CurrentIndex()];
  driver = static_cast<uint8_t>((driver + 1) % 3);
  SaveChoices();
  // Back in the player's hands the turn starts from the predicted point, as any turn does; the
  // board shows the car's badge, or no longer.
  ResetTarget();
  ShowBoard();
  BeginTurn();
}

void ShowHint() {
  GameState& s = gameState;
  if (s.screenMode != kScreenRace || IsComputerTurn()) return;
  const PlayerRecord& car = CurrentRecord(s);
  const GridPoint to = Brain().Hint(car);
  s.targetX = to.x;
  s.targetY = to.y;
  // Aiming, the hint is the target; tapping directly, the cross shows where to tap.
  DrawCursor();
  hintShown = car.inputMode == kInputDirect;
}

void ToggleForesight() {
  driverChoices.foresight = driverChoices.foresight != 0 ? 0 : 1;
  SaveChoices();
  if (gameState.screenMode == kScreenRace && CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
}

bool MoveIsDoomed(GridPoint to) {
  if (driverChoices.foresight == 0 || IsComputerTurn()) return false;
  if (aimForesight == nullptr) {
    const TrackModel* model = Brain().model();
    if (model == nullptr) return false;
    aimForesight.reset(new (std::nothrow) Foresight(*model, Foresight::kAimBudget));
    if (aimForesight == nullptr) return false;
  }
  return aimForesight->MoveDooms(CurrentRecord(gameState), to);
}

void DrawDriverBadges() {
  if (badgePicture.pixels == nullptr) return;
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const uint8_t driver = driverChoices.driver[p];
    if (driver == kDriverHuman) continue;
    const PlayerRecord& car = gameState.players[p];
    const GridPoint at = car.trail[car.lastIndex < kTrailCapacity ? car.lastIndex : kTrailCapacity - 1];
    const int x = at.x - gameState.viewX + kBadgeOffsetX;
    const int y = at.y - gameState.viewY + kBadgeOffsetY;
    // Only a badge wholly on the board: it never reaches into the menu bar.
    if (x < 0 || y < 0 || x + kBadgeWidth > kBoardWidth || y + kBadgeHeight > kBoardHeight) continue;
    const int column = driver == kDriverPro ? kBadgeWidth : 0;
    BlitKeyed(framePicture, static_cast<uint16_t>(x), static_cast<uint16_t>(y), badgePicture,
              static_cast<uint16_t>(column), 0, static_cast<uint16_t>(column + kBadgeWidth), kBadgeHeight,
              DigitKeyColour());
  }
}

bool HintShown() { return hintShown; }

void ForgetHint() { hintShown = false; }
