// The computer drivers, the hint and foresight: the choices, the brain and its answers.
#include "game/drivers.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "brain/driver.h"
#include "brain/lap_table.h"
#include "game/globals.h"
#include "game/online.h"
#include "gfx/colour.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "rules/move.h"

DriverChoices driverChoices;

namespace {

// The job building a lap table: ended when the brain is dropped.
struct TableJob {
  int job = 0;
  ~TableJob() { StopBackgroundJob(job); }
};

// What the computer knows of the circuit: made the first time it is needed (the largest built-in
// circuit takes it a tenth of a second) and dropped only with the circuit.
struct Brain {
  std::unique_ptr<Driver> driver;
  std::unique_ptr<Foresight> aim;  // foresight for the aim cursor, with more room than the drivers' own
  bool thoughtAhead = false;       // the pro's lap from the standing start is ready
  bool outOfMemory = false;        // the brain found no room on this circuit: no computer for it
  // The circuit's lap table: read from the cache when it is there, else built into the cache
  // by a job of its own once the pro's lap is prepared. Null when there is none to be had.
  std::unique_ptr<LapTable> table;
  std::unique_ptr<TableJob> tableJob;
};

Brain brain;
std::u16string settingsFile;                 // where the choices are kept
std::u16string shownCaption = kWindowTitle;  // what the window's caption shows

const char* const kDriverNames[] = {"human", "club", "pro"};
const char16_t* const kCaptionDrivers[] = {u"human", u"computer (club)", u"computer (pro)"};
const char16_t* const kColourNames[kMaxPlayers] = {u"red",    u"blue",   u"green", u"magenta",
                                                   u"yellow", u"orange", u"black", u"cyan"};
inline constexpr char16_t kNoRoomCaption[] = u" \u2013 no computer drivers: not enough memory for this circuit";

uint16_t CurrentIndex() { return gameState.currentPlayer < kMaxPlayers ? gameState.currentPlayer : 0; }

bool AnyPro() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    if (driverChoices.driver[p] == kDriverPro) return true;
  }
  return false;
}

void SaveChoices() {
  Settings settings = ReadSettings(settingsFile);
  for (int p = 0; p < kMaxPlayers; ++p) {
    SetSetting(&settings, "driver-" + std::to_string(p + 1), kDriverNames[driverChoices.driver[p]]);
  }
  SetSetting(&settings, "foresight", driverChoices.foresight != 0 ? "on" : "off");
  WriteSettings(settingsFile, settings, "Who drives each car, and whether the aim warns of doomed moves");
}

// The brain's tables are the one thing the game can go on without. While the brain works the
// program's out-of-memory handler is set aside, so that a table that doesn't fit ends the brain's
// work (it catches the failure and says so) rather than the program. Every call into the brain
// goes through here. Once memory has run short the brain is given up for the circuit: every car
// goes back to a player, and so it is saved, so that the next start doesn't meet the same wall.
template <typename Work>
auto Softly(Work work) {
  const std::new_handler handler = std::set_new_handler(nullptr);
  auto result = work();
  std::set_new_handler(handler);
  const bool ranOut =
      brain.driver != nullptr && (brain.driver->outOfMemory() || (brain.aim != nullptr && brain.aim->outOfMemory()));
  if (ranOut) {
    brain.table.reset();
    brain.aim.reset();
    brain.driver.reset();
    brain.outOfMemory = true;
    for (uint8_t& driver : driverChoices.driver) driver = kDriverHuman;
    SaveChoices();
  }
  return result;
}

// Lap tables are built and read only on a desktop, or when a scripted run asks for them, so that
// scripted runs play the computer exactly as they always have.
bool TablesWanted() {
  const char* asked = std::getenv("APEXGRID_LAP_TABLE");
  if (asked != nullptr && asked[0] != '\0') return asked[0] == '1';
  return IsHeadless() == 0;
}

// Beside the table's name, the mark of a circuit whose table didn't fit.
constexpr char kTooLarge[] = ".too-large";

// Where the circuit's lap table is kept: the per-user folder's Cache folder, named by the
// circuit's fingerprint. Empty when there is no per-user folder.
std::string TableFile(const TrackModel& model) {
  const std::u16string user = UserDataFolder();
  if (user.empty()) return std::string();
  return HostPath(user + u"\\Cache") + "/" + LapTable::FileName(model);
}

// The table is ready: the pro, the hint and foresight use it from now on.
void UseTable() {
  brain.driver->UseTable(brain.table.get());
  if (brain.aim != nullptr) brain.aim->UseTable(brain.table.get());
}

// Reads the circuit's table from the cache, or sets it up to be built.
void OpenTableOrThrow() {
  if (!TablesWanted() || brain.driver == nullptr || brain.driver->model() == nullptr) return;
  brain.table.reset(new (std::nothrow) LapTable);
  if (brain.table == nullptr) return;
  const TrackModel& model = *brain.driver->model();
  const std::string file = TableFile(model);
  if (!file.empty() && brain.table->Load(model, file)) {
    UseTable();
    return;
  }
  // A circuit whose table was found too large once is not tried again.
  if (!file.empty()) {
    if (std::FILE* tooLarge = std::fopen((file + kTooLarge).c_str(), "rb")) {
      std::fclose(tooLarge);
      brain.table.reset();
      return;
    }
  }
  brain.table->Begin(model);
  if (brain.table->failed()) brain.table.reset();  // too large a circuit for a table
}

// The same, with no table when memory runs short for its names (the table itself never throws).
void OpenTable() {
  try {
    OpenTableOrThrow();
  } catch (const std::bad_alloc&) {
    brain.table.reset();
  }
}

// True while the table is being built.
bool TableToBuild() { return brain.table != nullptr && !brain.table->ready(); }

// A slice of the table's build. The build is a job of its own, which keeps the table in the cache,
// or marks the circuit's table as too large; the slices start it, and once it has ended read the
// table from the cache and put it into use.
void BuildTableOrThrow() {
  const TrackModel& model = *brain.driver->model();
  const std::string file = TableFile(model);
  if (brain.tableJob == nullptr) {
    if (file.empty() || MakeFolders(UserDataFolder() + u"\\Cache") != 0) {
      brain.table.reset();  // nowhere to keep it
      return;
    }
    brain.tableJob.reset(new TableJob);
    LapTable* table = brain.table.get();
    brain.tableJob->job = StartBackgroundJob([&] {
      if (table->BuildAll()) {
        LapTable::RemoveOldFiles(file.substr(0, file.rfind('/')));
        return table->Save(file) ? 0 : 1;
      }
      if (std::FILE* mark = std::fopen((file + kTooLarge).c_str(), "wb")) std::fclose(mark);
      return 2;
    });
    if (brain.tableJob->job == 0) brain.table.reset();
    return;
  }
  int status = 0;
  if (PollBackgroundJob(brain.tableJob->job, &status) == 1) return;
  brain.tableJob->job = 0;
  if (status != 0 || !brain.table->Load(model, file)) {
    // A job killed from outside was most likely ended by the system for want of memory: that
    // circuit's table is not tried again either.
    if (status == -1) {
      if (std::FILE* mark = std::fopen((file + kTooLarge).c_str(), "wb")) std::fclose(mark);
    }
    brain.table.reset();
    return;
  }
  UseTable();
}

void BuildTable() {
  try {
    BuildTableOrThrow();
  } catch (const std::bad_alloc&) {
    brain.table.reset();
  }
}

// The brain for the circuit, made on first use; null when memory ran short for it.
Driver* Made() {
  if (brain.outOfMemory) return nullptr;
  if (brain.driver == nullptr) {
    Softly([] {
      brain.driver.reset(new (std::nothrow) Driver);
      if (brain.driver == nullptr) {
        brain.outOfMemory = true;
        return false;
      }
      return brain.driver->Load(gameState.track);
    });
    if (brain.driver != nullptr) {
      Softly([] {
        OpenTable();
        return true;
      });
    }
  }
  return brain.driver.get();
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

void NextDriverForCarToMove() {
  if (gameState.screenMode != kScreenRace || brain.outOfMemory) return;
  uint8_t& driver = driverChoices.driver[CurrentIndex()];
  driver = static_cast<uint8_t>((driver + 1) % 3);
  SaveChoices();
}

void SwitchForesight() {
  driverChoices.foresight = driverChoices.foresight != 0 ? 0 : 1;
  SaveChoices();
}

void ShowCaption(const std::u16string& caption) {
  if (caption == shownCaption) return;
  shownCaption = caption;
  SetWindowText(mainWindow, caption);
}

const std::u16string& ShownCaption() { return shownCaption; }

void ForgetCaption() { shownCaption.clear(); }

bool IsComputerTurn() {
  // A remote car's driver is the other computer's business, the server's computer included.
  return gameState.screenMode == kScreenRace && driverChoices.driver[CurrentIndex()] != kDriverHuman &&
         !IsRemoteCar(CurrentIndex());
}

GridPoint ComputerMove() {
  const uint16_t p = CurrentIndex();
  const PlayerRecord& car = gameState.players[p];
  Driver* driver = Made();
  if (driver == nullptr) return PredictedPoint(car);
  const DriverLevel level = driverChoices.driver[p] == kDriverPro ? DriverLevel::kPro : DriverLevel::kClub;
  return Softly([&] { return driver->Move(car, level, p + 1u); });
}

GridPoint HintMove() {
  const PlayerRecord& car = CurrentRecord(gameState);
  Driver* driver = Made();
  if (driver == nullptr) return PredictedPoint(car);
  return Softly([&] { return driver->Hint(car); });
}

void PrepareBrain() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    if (driverChoices.driver[p] != kDriverHuman) {
      Made();
      return;
    }
  }
}

bool MoreToThink() { return (!brain.thoughtAhead || TableToBuild()) && !brain.outOfMemory && AnyPro(); }

bool ThinkAhead() {
  if (!MoreToThink()) return false;
  Driver* driver = Made();
  if (driver == nullptr) return false;
  if (!brain.thoughtAhead) {
    brain.thoughtAhead = Softly([&] { return driver->Think(Driver::kThinkSliceWork); });
  } else {
    Softly([] {
      BuildTable();
      return true;
    });
  }
  return MoreToThink();
}

bool MoveIsDoomed(GridPoint to) {
  if (driverChoices.foresight == 0 || IsComputerTurn()) return false;
  Driver* driver = Made();
  if (driver == nullptr || driver->model() == nullptr) return false;
  return Softly([&] {
    if (brain.aim == nullptr) {
      brain.aim.reset(new (std::nothrow) Foresight(*driver->model(), Foresight::kAimBudget));
      if (brain.aim != nullptr && brain.table != nullptr && brain.table->ready())
        brain.aim->UseTable(brain.table.get());
    }
    return brain.aim != nullptr && brain.aim->MoveDooms(CurrentRecord(gameState), to);
  });
}

bool ComputerUnavailable() { return brain.outOfMemory; }

std::u16string CaptionForCarToMove() {
  std::u16string caption = kWindowTitle;
  if (brain.outOfMemory) return caption + kNoRoomCaption;
  if (onlineRace.active) {
    const uint16_t p = CurrentIndex();
    const auto placed = [](int car, int place) {
      const char16_t* suffix = place == 1 ? u"st" : place == 2 ? u"nd" : place == 3 ? u"rd" : u"th";
      return std::u16string(kColourNames[car]) + u" " + static_cast<char16_t>(u'0' + place) + suffix;
    };
    if (onlineRace.over) {
      caption += u" \u2013 the race is over";
      // This computer's cars' places, once the server has said them.
      for (int car = 0; car < gameState.playerCount && car < kMaxPlayers; ++car) {
        const int place = onlineRace.places[car];
        if (IsRemoteCar(car) || place <= 0) continue;
        caption += u", " + placed(car, place);
      }
    } else if (IsRemoteCar(p)) {
      const std::u16string& name = onlineRace.names[p];
      caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": " + (name.empty() ? u"computer" : name) +
                 u" (online), waiting";
    } else if (IsRemoteTurn()) {
      caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": waiting for the server";
    } else if (driverChoices.driver[p] != kDriverHuman) {
      // This computer's own computer drives it, as its player chose.
      caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": " + kCaptionDrivers[driverChoices.driver[p]];
    } else {
      caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": your turn";
    }
    // This computer's cars that have finished while the race goes on, with their places.
    for (int car = 0; car < gameState.playerCount && car < kMaxPlayers && !onlineRace.over; ++car) {
      if (!IsRemoteCar(car) && FinishPlace(car) > 0) {
        caption += u" \u2013 " + placed(car, FinishPlace(car)) + u" at the finish";
      }
    }
    if (!onlineRace.notice.empty()) caption += u" \u2013 " + onlineRace.notice;
    return onlineRace.connected ? caption : caption + u" \u2013 connection lost, reconnecting";
  }
  bool anyComputer = false;
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    anyComputer = anyComputer || driverChoices.driver[p] != kDriverHuman;
  }
  if (anyComputer) {
    const uint16_t p = CurrentIndex();
    caption += std::u16string(u" \u2013 ") + kColourNames[p] + u": " + kCaptionDrivers[driverChoices.driver[p]];
  }
  return caption;
}

void DrawDriverBadges() {
  if (badgePicture.pixels == nullptr) return;
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const uint8_t driver = driverChoices.driver[p];
    const bool remote = IsRemoteCar(p);
    if (driver == kDriverHuman && !remote) continue;
    const PlayerRecord& car = gameState.players[p];
    const GridPoint at = car.trail[car.lastIndex < kTrailCapacity ? car.lastIndex : kTrailCapacity - 1];
    const int x = at.x - gameState.viewX + kBadgeOffsetX;
    const int y = at.y - gameState.viewY + kBadgeOffsetY;
    // Only a badge wholly on the board: it never reaches into the menu bar.
    if (x < 0 || y < 0 || x + kBadgeWidth > kBoardWidth || y + kBadgeHeight > kBoardHeight) continue;
    const int column = remote ? 2 * kBadgeWidth : driver == kDriverPro ? kBadgeWidth : 0;
    BlitKeyed(framePicture, static_cast<uint16_t>(x), static_cast<uint16_t>(y), badgePicture,
              static_cast<uint16_t>(column), 0, static_cast<uint16_t>(column + kBadgeWidth), kBadgeHeight,
              DigitKeyColour());
  }
}

void ForgetBrain() { brain = Brain{}; }
