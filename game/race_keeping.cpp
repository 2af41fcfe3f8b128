// The race's file kept after every move, resumed, and played back on the board.
#include "game/race_keeping.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "data/folder.h"
#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/race_animation.h"
#include "game/screens.h"
#include "game/view.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"
#include "race/race_circuit.h"
#include "race/race_file.h"
#include "race/race_writer.h"
#include "race/replay.h"

static_assert(kRaceHuman == kDriverHuman && kRaceClub == kDriverClub && kRacePro == kDriverPro,
              "a race file names the game's own drivers");

namespace {

const char16_t kRaceCaption[] = u"Apexgrid";

// Made at the first move, and done with its last write before the program ends.
RaceFileWriter& Writer() {
  static RaceFileWriter writer;
  return writer;
}

struct KeptRace {
  bool open = false;     // the race on the board has its file
  bool stopped = false;  // the race has left what its file can say; kept again from the next race
  std::string host;      // the file
  std::string text;      // what it holds
  RaceFile race;
  uint8_t drivers[kMaxPlayers] = {};  // as the file last said them
};
KeptRace kept;

// The circuit's hash, worked out once for each circuit file.
std::string hashedCircuit;
std::string circuitHash;

const std::string& LoadedCircuitHash() {
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

std::string RacesFolder() { return HostPath(GetWritableFolder() + kRacesFolder); }

// A new file in the Races folder, named after the circuit and the time: races are never written
// over one another, nor over a file that was refused.
std::string NewRaceFile(const std::string& circuitName) {
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

int OpenNewRace() {
  const std::string circuit = HostPath(gameState.track.path);
  RaceFile race;
  race.circuitSha256 = LoadedCircuitHash();
  if (race.circuitSha256.empty()) return 1;  // the circuit file is gone: nothing could find it again
  race.circuitName = FileNameOf(circuit);
  race.circuitPath = circuit;
  race.players = gameState.playerCount;
  for (int car = 0; car < kMaxPlayers; ++car) race.drivers[car] = driverChoices.driver[car];
  kept = KeptRace();
  kept.open = true;
  kept.host = NewRaceFile(race.circuitName);
  kept.text = FormatRace(race);
  std::copy(race.drivers, race.drivers + kMaxPlayers, kept.drivers);
  kept.race = std::move(race);
  return 0;
}

void Note(const RaceEvent& event) {
  kept.race.events.push_back(event);
  kept.text += FormatRaceEvent(event);
}

// ---- The state a playback or a failed resume gives back ---------------------------------------------

struct LiveRace {
  PlayerRecord players[kMaxPlayers];
  uint16_t playerCount, currentPlayer, round, moveRadius;
  int16_t viewX, viewY, scrollX, scrollY, targetX, targetY, goButtonX, goButtonY, screenMode, subMenuOpen;
  uint8_t penLock;
  DriverChoices drivers;

  void Take(const GameState& s) {
    std::copy(s.players, s.players + kMaxPlayers, players);
    playerCount = s.playerCount, currentPlayer = s.currentPlayer, round = s.round, moveRadius = s.moveRadius;
    viewX = s.viewX, viewY = s.viewY, scrollX = s.scrollX, scrollY = s.scrollY;
    targetX = s.targetX, targetY = s.targetY, goButtonX = s.goButtonX, goButtonY = s.goButtonY;
    screenMode = s.screenMode, subMenuOpen = s.subMenuOpen, penLock = s.penLock;
    drivers = driverChoices;
  }
  void Give(GameState& s) const {
    std::copy(players, players + kMaxPlayers, s.players);
    s.playerCount = playerCount, s.currentPlayer = currentPlayer, s.round = round, s.moveRadius = moveRadius;
    s.viewX = viewX, s.viewY = viewY, s.scrollX = scrollX, s.scrollY = scrollY;
    s.targetX = targetX, s.targetY = targetY, s.goButtonX = goButtonX, s.goButtonY = goButtonY;
    s.screenMode = screenMode, s.subMenuOpen = subMenuOpen, s.penLock = penLock;
    driverChoices = drivers;
  }
};

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
  kept = KeptRace();
  kept.open = true;
  // A race from elsewhere goes on in a file of our own; one of ours goes on in its own file.
  const bool ours = FileNameOf(host) != host && host.substr(0, host.rfind('/')) == RacesFolder();
  kept.host = ours ? host : NewRaceFile(race.circuitName);
  kept.race = race;
  kept.race.circuitPath = HostPath(gameState.track.path);  // where the race goes on, found by its hash
  kept.race.hasScroll = false;
  kept.text = FormatRace(kept.race);
  std::copy(progress.drivers, progress.drivers + kMaxPlayers, kept.drivers);
  return 0;
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

// ---- Playback ------------------------------------------------------------------------------------------

struct Playback {
  bool on = false;
  bool paused = false;
  RaceFile race;
  std::vector<size_t> moveEvents;  // the index of each move among the events
  RaceProgress progress;
  std::unique_ptr<LiveRace> live;
};
Playback playback;

std::unique_ptr<LiveRace> failedResume;

void ShowPlaybackMove(size_t move) {
  Playback& p = playback;
  std::string error;
  if (move < p.progress.moves || p.progress.next == 0) StartReplay(p.race, gameState, &p.progress);
  // The drivers that changed before a move are shown with it.
  const size_t until = move < p.moveEvents.size() ? p.moveEvents[move] : p.race.events.size();
  while (p.progress.next < until && p.progress.next < p.race.events.size()) {
    if (ReplayNext(p.race, kept.host, gameState, &p.progress, &error) != 0) break;  // the live race made it
  }
  for (int car = 0; car < kMaxPlayers; ++car) driverChoices.driver[car] = p.progress.drivers[car];
  // The view follows the car that made the move shown.
  const uint16_t next = gameState.currentPlayer;
  if (move > 0) gameState.currentPlayer = p.race.events[p.moveEvents[move - 1]].car;
  gameState.scrollX = gameState.scrollY = 0;
  CentreView();
  gameState.currentPlayer = next;
  std::u16string caption = std::u16string(u"Apexgrid \u2013 replay, move ") + FromUtf8(std::to_string(move)) +
                           u" of " + FromUtf8(std::to_string(p.moveEvents.size()));
  if (p.paused) caption += u" (paused)";
  SetWindowText(mainWindow, caption);
}

void LeavePlayback() {
  KillTimer(mainWindow, kPlaybackTimer);
  playback.on = false;
  playback.live->Give(gameState);
  playback.live.reset();
  ForgetCaption();
  ShowBoard();
  BeginTurn();
}

}  // namespace

void KeepMove(int car, GridPoint to, bool committed) {
  if (kept.stopped) return;
  if (!committed || (kept.open && gameState.playerCount != kept.race.players)) {
    // A turn passed without a move, or the player count changed in the middle of the race: no race
    // file can say that, so this race keeps the file it has so far, which replays as it stood.
    kept = KeptRace();
    kept.stopped = true;
    return;
  }
  if (!kept.open && OpenNewRace() != 0) {
    kept.stopped = true;
    return;
  }
  for (int c = 0; c < kept.race.players; ++c) {
    if (driverChoices.driver[c] == kept.drivers[c]) continue;
    kept.drivers[c] = driverChoices.driver[c];
    RaceEvent change;
    change.kind = RaceEventKind::kDriver;
    change.car = static_cast<uint8_t>(c);
    change.driver = kept.drivers[c];
    Note(change);
  }
  RaceEvent move;
  move.car = static_cast<uint8_t>(car);
  move.point = to;
  Note(move);
  // Written whole, off the turn's path; a file that can't be written now is written at the next move.
  Writer().Write(kept.host, kept.text);
}

void ForgetRace() { kept = KeptRace(); }

bool IsRacePath(const std::u16string& path) {
  const std::u16string extension = u".apxrace";
  return path.size() > extension.size() && path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
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

void ResumeLastRace() {
  GameState& s = gameState;
  if ((s.screenMode != kScreenTitle && s.screenMode != kScreenRace) || playback.on) return;
  const std::string host = LastRaceFile();
  if (host.empty()) {
    Tell("No race has been kept for this circuit yet.");
    return;
  }
  RaceFile race;
  std::string error;
  if (ReadRaceFile(host, &race, &error) != 0) {
    Tell(error);
    return;
  }
  failedResume = std::make_unique<LiveRace>();
  failedResume->Take(s);
  const KeptRace before = kept;
  if (ReplayIntoGame(host, race, &error) != 0) {
    failedResume->Give(s);
    kept = before;
    failedResume.reset();
    Tell(error);
    return;
  }
  failedResume.reset();
  if (s.screenMode == kScreenTitle) {
    LeaveTitle();
    return;
  }
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}

void StartPlayback() {
  if (gameState.screenMode != kScreenRace || playback.on || !kept.open || kept.race.events.empty()) return;
  Playback& p = playback;
  p.race = kept.race;
  p.moveEvents.clear();
  for (size_t i = 0; i < p.race.events.size(); ++i) {
    if (p.race.events[i].kind == RaceEventKind::kMove) p.moveEvents.push_back(i);
  }
  if (p.moveEvents.empty()) return;
  KillTimer(mainWindow, kComputerTimer);
  p.live = std::make_unique<LiveRace>();
  p.live->Take(gameState);
  p.on = true;
  p.paused = false;
  p.progress = RaceProgress();
  ShowPlaybackMove(0);
  SetTimer(mainWindow, kPlaybackTimer, kPlaybackPeriod);
}

bool PlaybackShown() { return playback.on; }

void PlaybackKey(int16_t key) {
  Playback& p = playback;
  if (!p.on) return;
  const size_t shown = p.progress.moves;
  const size_t last = p.moveEvents.size();
  if (key == kHostKeyLeave || key == kHostKeyPlayback) {
    LeavePlayback();
  } else if (key == kHostKeyPause) {
    p.paused = !p.paused;
    ShowPlaybackMove(!p.paused && shown == last ? 0 : shown);  // going on from the end starts again
  } else if (key == kHostKeyStepBack) {
    p.paused = true;
    ShowPlaybackMove(shown > 0 ? shown - 1 : 0);
  } else if (key == kHostKeyStepOn) {
    p.paused = true;
    ShowPlaybackMove(shown < last ? shown + 1 : last);
  }
}

void PlaybackTick() {
  Playback& p = playback;
  if (!p.on || p.paused) return;
  const size_t next = p.progress.moves + 1;
  if (next >= p.moveEvents.size()) p.paused = true;  // the last move stays on the board
  ShowPlaybackMove(std::min(next, p.moveEvents.size()));
}

void ExportRace() {
  GameState& s = gameState;
  if (s.screenMode != kScreenRace || playback.on || !kept.open || kept.race.events.empty()) return;
  const std::string folder = HostPath(GetWritableFolder() + kReplaysFolder);
  mkdir(folder.c_str(), 0755);
  std::string name = FileNameOf(kept.host);
  name = name.substr(0, name.size() - (sizeof(kRaceFileExtension) - 1)) + ".gif";
  // The animation is drawn on the live board; the race, the view and the drivers are given back.
  auto live = std::make_unique<LiveRace>();
  live->Take(s);
  int16_t inputModes[kMaxPlayers];
  for (int car = 0; car < kMaxPlayers; ++car) inputModes[car] = s.players[car].inputMode;
  BoardAnimation options;
  options.inputModes = inputModes;
  options.menuBar = false;  // the bar's shading alone has more colours than a frame's palette holds
  std::string error;
  const int failed = WriteBoardAnimation(kept.race, kept.host, folder + "/" + name, options, &error);
  live->Give(s);
  ShowBoard();
  // The caption says what became of it until the next turn names its driver again.
  SetWindowText(mainWindow, failed != 0 ? FromUtf8("Apexgrid \u2013 no replay written: " + error)
                                        : u"Apexgrid \u2013 replay written to " + FromUtf8(name));
  ForgetCaption();
}

const std::string& KeptRaceText() { return kept.text; }
const std::string& KeptRacePath() { return kept.host; }
