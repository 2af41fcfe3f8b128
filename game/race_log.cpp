// The race's file: kept after every committed move, and a race file given at start-up put on the
// board.
#include "game/race_log.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "data/folder.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"
#include "race/race_circuit.h"
#include "race/replay.h"

static_assert(kRaceHuman == kDriverHuman && kRaceClub == kDriverClub && kRacePro == kDriverPro,
              "a race file names the game's own drivers");

namespace {

const char16_t kRaceCaption[] = u"Apexgrid";

}  // namespace

// Made at the first move, and done with its last write before the program ends.
RaceFileWriter& Writer() {
  static RaceFileWriter writer;
  return writer;
}

KeptRace keptRace;

// The circuit's hash, worked out once for each circuit file.
static std::string hashedCircuit;
static std::string circuitHash;

static const std::string& LoadedCircuitHash() {
  const std::string host = HostPath(gameState.track.path);
  if (host != hashedCircuit) {
    hashedCircuit = host;
    circuitHash = CircuitSha256(host, nullptr);
  }
  return circuitHash;
}

std::string FileNameOf(const std::string& host) {
  const size_t slash = host.rfind('/');
  return slash == std::string::npos ? host : host.substr(slash + 1);
}

static std::string RacesFolder() { return HostPath(GetWritableFolder() + kRacesFolder); }

// A new file in the Races folder, named after the circuit and the time: races are never written
// over one another, nor over a file that was refused.
static std::string NewRaceFile(const std::string& circuitName) {
  const std::string folder = RacesFolder();
  mkdir(folder.c_str(), 0755);
  std::string stem = circuitName;
  if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".cct") == 0) stem.resize(stem.size() - 4);
  char when[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) std::strftime(when, sizeof(when), "%Y-%m-%d %H-%M-%S", &local);
  const std::string base = folder + "/" + stem + " " + when;
  std::string path = base + kRaceFileExtension;
  for (int n = 2; DeviceFileExists(DevicePath(path)); ++n) path = base + " " + std::to_string(n) + kRaceFileExtension;
  return path;
}

static int OpenNewRace() {
  const std::string circuit = HostPath(gameState.track.path);
  RaceFile race;
  race.circuitSha256 = LoadedCircuitHash();
  if (race.circuitSha256.empty()) return 1;  // the circuit file is gone: nothing could find it again
  race.circuitName = FileNameOf(circuit);
  race.circuitPath = circuit;
  race.players = gameState.playerCount;
  for (int car = 0; car < kMaxPlayers; ++car) race.drivers[car] = driverChoices.driver[car];
  keptRace = KeptRace();
  keptRace.open = true;
  keptRace.host = NewRaceFile(race.circuitName);
  keptRace.text = FormatRace(race);
  std::copy(race.drivers, race.drivers + kMaxPlayers, keptRace.drivers);
  keptRace.race = std::move(race);
  return 0;
}

static void Note(const RaceEvent& event) {
  keptRace.race.events.push_back(event);
  keptRace.text += FormatRaceEvent(event);
}

// Replays a race file into the game state over the loaded circuit and keeps it as the race on the
// board. 0 when done; 1 with *error, and the state to be given back by the caller.
int ReplayIntoGame(const std::string& host, const RaceFile& race, std::string* error) {
  const std::string& loaded = LoadedCircuitHash();
  if (loaded != race.circuitSha256) {
    *error = host + ": the circuit " + HostPath(gameState.track.path) +
             " is not the one this race was run on (its picture or grid has changed)";
    return 1;
  }
  RaceProgress progress;
  if (ReplayRace(race, host, gameState, &progress, error) != 0) return 1;
  gameState.scrollX = race.scrollX;
  gameState.scrollY = race.scrollY;
  for (int car = 0; car < kMaxPlayers; ++car) driverChoices.driver[car] = progress.drivers[car];
  keptRace = KeptRace();
  keptRace.open = true;
  // A race from elsewhere goes on in a file of our own; one of ours goes on in its own file.
  const bool ours = FileNameOf(host) != host && host.substr(0, host.rfind('/')) == RacesFolder();
  keptRace.host = ours ? host : NewRaceFile(race.circuitName);
  keptRace.race = race;
  keptRace.race.circuitPath = HostPath(gameState.track.path);  // where the race goes on, found by its hash
  keptRace.race.hasScroll = false;
  keptRace.text = FormatRace(keptRace.race);
  std::copy(progress.drivers, progress.drivers + kMaxPlayers, keptRace.drivers);
  std::copy(progress.finishRound, progress.finishRound + kMaxPlayers, keptRace.finishRound);
  return 0;
}

bool BeginOnlineRace(const std::string& account) {
  onlineRace = OnlineRace();
  const RaceFile& race = keptRace.race;
  if (!keptRace.open || race.server.empty() || race.raceId.empty()) return false;
  onlineRace.active = true;
  onlineRace.assistsOff = race.assists == 0;
  onlineRace.laps = race.laps;
  std::copy(keptRace.finishRound, keptRace.finishRound + kMaxPlayers, onlineRace.finishRound);
  for (int car = 0; car < kMaxPlayers; ++car) {
    onlineRace.remote[car] = account.empty() || race.seats[car] != account;
    onlineRace.names[car] = FromUtf8(race.seats[car]);
  }
  for (const RaceEvent& event : race.events) {
    if (event.kind == RaceEventKind::kMove) ++onlineRace.moves;
  }
  return true;
}

void Tell(const std::string& what) { MessageBox(mainWindow, FromUtf8(what), kRaceCaption, MB_OK); }

// The race kept last for the loaded circuit: the newest file in Races whose circuit line names it.
std::string LastRaceFile() {
  namespace fs = std::filesystem;
  Writer().Flush();
  const std::string name = FileNameOf(HostPath(gameState.track.path));
  std::vector<std::pair<fs::file_time_type, std::string>> races;
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(RacesFolder(), failed)) {
    const std::string path = entry.path().string();
    if (path.size() < 8 || path.compare(path.size() - 8, 8, kRaceFileExtension) != 0) continue;
    if (!entry.is_regular_file(failed)) continue;
    races.emplace_back(entry.last_write_time(failed), path);
  }
  std::sort(races.begin(), races.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  const std::string wanted = "\ncircuit " + name + "\n";
  for (const auto& race : races) {
    std::ifstream in(race.second, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    if (head.find(wanted) != std::string::npos) return race.second;
  }
  return std::string();
}

void KeepMove(int car, GridPoint to, bool committed) {
  if (keptRace.stopped) return;
  if (!committed || (keptRace.open && gameState.playerCount != keptRace.race.players)) {
    // A turn passed without a move, or the player count changed in the middle of the race: no race
    // file can say that, so this race keeps the file it has so far, which replays as it stood.
    keptRace = KeptRace();
    keptRace.stopped = true;
    return;
  }
  if (!keptRace.open && OpenNewRace() != 0) {
    keptRace.stopped = true;
    return;
  }
  for (int c = 0; c < keptRace.race.players; ++c) {
    if (driverChoices.driver[c] == keptRace.drivers[c]) continue;
    keptRace.drivers[c] = driverChoices.driver[c];
    RaceEvent change;
    change.kind = RaceEventKind::kDriver;
    change.car = static_cast<uint8_t>(c);
    change.driver = keptRace.drivers[c];
    Note(change);
  }
  RaceEvent move;
  move.car = static_cast<uint8_t>(car);
  move.point = to;
  Note(move);
  // Written whole, off the turn's path; a file that can't be written now is written at the next move.
  Writer().Write(keptRace.host, keptRace.text);
}

void ForgetRace() { keptRace = KeptRace(); }

bool IsRacePath(const std::u16string& path) {
  const std::u16string extension = u".apxrace";
  return path.size() > extension.size() &&
         path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
}

namespace {
RaceFile preparedRace;
std::string preparedHost;
}  // namespace

std::u16string PrepareRace(const std::u16string& racePath) {
  preparedHost = HostPath(racePath);
  std::string error;
  if (ReadRaceFile(preparedHost, &preparedRace, &error) != 0) {
    preparedHost.clear();
    Tell(error);
    return std::u16string();
  }
  const std::vector<std::string> folders = {HostPath(GetProgramFolder() + kCircuitsFolder),
                                            HostPath(GetWritableFolder() + kCircuitsFolder)};
  const std::string circuit = FindRaceCircuit(preparedRace, preparedHost, folders, &error);
  if (circuit.empty()) {
    preparedHost.clear();
    Tell(error);
    return std::u16string();
  }
  return DevicePath(circuit);
}

void StartPreparedRace() {
  if (preparedHost.empty()) return;
  const std::string host = preparedHost;
  preparedHost.clear();
  std::string error;
  if (ReplayIntoGame(host, preparedRace, &error) != 0) {
    Tell(error);
    const DriverChoices drivers = driverChoices;
    ResetRace(gameState);
    driverChoices = drivers;
    ForgetRace();
  }
  preparedRace = RaceFile();
}

const std::string& KeptRaceText() { return keptRace.text; }
const std::string& KeptRacePath() { return keptRace.host; }
