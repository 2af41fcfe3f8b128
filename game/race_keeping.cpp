// The race's keys: R resumes the race kept last, P plays it back on the board, E exports it.
#include "game/race_keeping.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "data/folder.h"
#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/race_animation.h"
#include "game/race_log.h"
#include "game/turn.h"
#include "game/view.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"
#include "race/replay.h"

namespace {

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
    if (ReplayNext(p.race, keptRace.host, gameState, &p.progress, &error) != 0) break;  // the live race made it
  }
  for (int car = 0; car < kMaxPlayers; ++car) driverChoices.driver[car] = p.progress.drivers[car];
  // The view follows the car that made the move shown.
  const uint16_t next = gameState.currentPlayer;
  if (move > 0) gameState.currentPlayer = p.race.events[p.moveEvents[move - 1]].car;
  gameState.scrollX = gameState.scrollY = 0;
  CentreView();
  gameState.currentPlayer = next;
  std::u16string caption = std::u16string(u"Apexgrid \u2013 replay, move ") + FromUtf8(std::to_string(move)) + u" of " +
                           FromUtf8(std::to_string(p.moveEvents.size()));
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

void ResumeLastRace() {
  GameState& s = gameState;
  if ((s.screenMode != kScreenTitle && s.screenMode != kScreenRace) || playback.on) return;
  // In an online race it is that race, as its file holds it: any other would leave the link to the
  // server with a race that isn't the server's.
  std::string host;
  if (onlineRace.active && keptRace.open) {
    Writer().Flush();
    host = keptRace.host;
  } else {
    host = LastRaceFile();
  }
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
  const KeptRace before = keptRace;
  if (ReplayIntoGame(host, race, &error) != 0) {
    failedResume->Give(s);
    keptRace = before;
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

int ReloadOnlineRace(const std::string& text, const std::string& account, std::string* error) {
  GameState& s = gameState;
  if (!onlineRace.active || !keptRace.open) {
    *error = "no online race is on the board";
    return 1;
  }
  const std::string host = keptRace.host;
  RaceFile race;
  if (ParseRace(text, host, &race, error) != 0) return 1;
  if (race.server != keptRace.race.server || race.raceId != keptRace.race.raceId) {
    *error = host + ": the server sent another race";
    return 1;
  }
  if (playback.on) LeavePlayback();
  LiveRace before;
  before.Take(s);
  const KeptRace kept = keptRace;
  if (ReplayIntoGame(host, race, error) != 0) {
    before.Give(s);
    keptRace = kept;
    return 1;
  }
  // The server's file doesn't say who drives a car here; this computer's choices stand.
  const OnlineRace was = onlineRace;
  BeginOnlineRace(account);
  for (int car = 0; car < kMaxPlayers; ++car) {
    if (!IsRemoteCar(car)) driverChoices.driver[car] = before.drivers.driver[car];
  }
  onlineRace.connected = was.connected;
  onlineRace.notice = was.notice;
  s.screenMode = before.screenMode;
  s.subMenuOpen = before.subMenuOpen;
  Writer().Write(keptRace.host, keptRace.text);
  BeginTurnAfresh();
  return 0;
}

void StartPlayback() {
  if (gameState.screenMode != kScreenRace || playback.on || !keptRace.open || keptRace.race.events.empty()) return;
  Playback& p = playback;
  p.race = keptRace.race;
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
  if (s.screenMode != kScreenRace || playback.on || !keptRace.open || keptRace.race.events.empty()) return;
  const std::string folder = HostPath(GetWritableFolder() + kReplaysFolder);
  mkdir(folder.c_str(), 0755);
  std::string name = FileNameOf(keptRace.host);
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
  const int failed = WriteBoardAnimation(keptRace.race, keptRace.host, folder + "/" + name, options, &error);
  live->Give(s);
  ShowBoard();
  // The caption says what became of it until the next turn names its driver again.
  SetWindowText(mainWindow, failed != 0 ? FromUtf8("Apexgrid \u2013 no replay written: " + error)
                                        : u"Apexgrid \u2013 replay written to " + FromUtf8(name));
  ForgetCaption();
}
