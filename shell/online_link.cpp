// The game's link to the race server over the threaded client (net/client.h).
#include "shell/online_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/race_keeping.h"
#include "game/race_log.h"
#include "game/startup.h"
#include "game/turn.h"
#include "net/client.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/window.h"

using nlohmann::json;

namespace {

// The lobby's files in the per-user folder: the account's name and its token.
constexpr char16_t kLobbySettings[] = u"\\Data\\lobby.txt";
constexpr char16_t kLobbyToken[] = u"\\Data\\lobby-token";

struct Link {
  std::unique_ptr<NetClient> client;
  WindowHandle window = nullptr;
  uint32_t inFlight = 0;      // the request of the move on its way, 0 for none
  uint32_t sync = 0;          // the request for the race as the server holds it, at the start
  bool synced = false;        // its answer came
  uint32_t places = 0;        // the request for the places, once the race is over
  uint32_t reload = 0;        // the request for the race's file, when the race here has left the server's
  bool reloadWanted = false;  // asked again after a wait when it got no answer
  int seen = 0;               // the moves the server has said the race holds
  bool waitingToRetry = false;
  int failures = 0;
};
Link link;

// With APEXGRID_TIMING in the environment, each remote move's time from the WM_NETWORK that
// brought it to the end of the message that committed it on the screen (the computer's pause
// included) goes to standard error: what the pause costs beyond itself, measured.
struct MoveTiming {
  bool on = std::getenv("APEXGRID_TIMING") != nullptr;
  std::chrono::steady_clock::time_point message;                              // the WM_NETWORK being handled
  std::deque<std::pair<int, std::chrono::steady_clock::time_point>> waiting;  // index, arrival
};
MoveTiming timing;

void TimeCommits() {
  while (!timing.waiting.empty() && timing.waiting.front().first < onlineRace.moves) {
    const auto taken = std::chrono::steady_clock::now() - timing.waiting.front().second;
    std::fprintf(stderr, "Apexgrid: move %d on the screen %.1f ms after it arrived\n", timing.waiting.front().first,
                 std::chrono::duration<double, std::milli>(taken).count());
    timing.waiting.pop_front();
  }
}

std::string LobbyName() {
  const Settings settings = ReadSettings(UserDataFolder() + kLobbySettings);
  for (const auto& entry : settings.entries) {
    if (entry.first == "name") return entry.second;
  }
  return {};
}

std::string LobbyToken() {
  std::FILE* file = OpenDeviceFile(UserDataFolder() + kLobbyToken, "rb");
  if (file == nullptr) return {};
  char buffer[65] = {};
  const size_t got = std::fread(buffer, 1, 64, file);
  std::fclose(file);
  return std::string(buffer, got);
}

// While a race plays back the caption and the board are the playback's; leaving it begins the
// turn again, which plays what arrived meanwhile and names whose turn it is.
void ShowOnlineCaption() {
  if (!PlaybackShown()) ShowCaption(CaptionForCarToMove());
}

void PlayArrived() {
  if (!PlaybackShown()) PlayArrivedMoves();
}

void ShowConnection(bool connected) {
  if (onlineRace.connected == connected) return;
  onlineRace.connected = connected;
  ShowOnlineCaption();
}

// The race here has left the server's: its file is asked for, to be played in place of ours.
void AskForTheRace() {
  link.reloadWanted = true;
  if (link.reload == 0 && !link.waitingToRetry) {
    link.reload = link.client->Request("GET", "races/" + keptRace.race.raceId + "/file");
  }
}

}  // namespace

void StartOnlineLink(WindowHandle window) {
  if (!IsStartedUp() || !BeginOnlineRace(LobbyName())) return;
  ServerUrl url;
  std::string error;
  if (!ParseServerUrl(keptRace.race.server, &url, &error)) {
    Tell(keptRace.host + ": " + error);
    onlineRace = OnlineRace();
    return;
  }
  link.window = window;
  link.seen = onlineRace.moves;
  link.client = std::make_unique<NetClient>(window, url, 10);
  link.client->SetToken(LobbyToken());
  // Everything after the moves this file holds: the race catches up with what it missed.
  link.client->Follow(std::stoll(keptRace.race.raceId), onlineRace.moves - 1);
  // A game that ended before its last moves went out finds them in its file: the race as the
  // server holds it says which.
  link.sync = link.client->Request("GET", "races/" + keptRace.race.raceId);
  ShowOnlineCaption();
}

namespace {

// A server event of the race: whose turn it is, or a move.
void OnRaceEvent(const NetResult& result) {
  const json event = json::parse(result.event, nullptr, false);
  if (!event.is_object()) return;
  if (event.value("type", "") == "state") {
    // Whose turn it is once the race holds the moves passed on so far.
    onlineRace.serverTurn = event.contains("turn") && event["turn"].is_number_integer() ? event["turn"].get<int>() : -1;
    onlineRace.serverTurnAt = link.seen;
    const bool over = event.value("state", "") == "finished";
    if (over && !onlineRace.over) {
      link.places = link.client->Request("GET", "races/" + keptRace.race.raceId);
    }
    onlineRace.over = over;
    ShowOnlineCaption();
    PlayArrived();
    return;
  }
  if (event.value("type", "") == "retire") {
    // The server retired a car (out of time, its trail full): the file says it, which this
    // computer's rules can't tell, so the race is taken as the server holds it, unless the race
    // here knows of it already.
    const int car = event.value("seat", -1);
    for (const RaceEvent& kept : keptRace.race.events) {
      if (kept.kind == RaceEventKind::kRetire && kept.car == car) return;
    }
    AskForTheRace();
    return;
  }
  if (event.value("type", "") != "move") return;
  OnlineMove move;
  move.index = event.value("index", -1);
  move.car = event.value("seat", -1);
  move.to = GridPoint{static_cast<int16_t>(event.value("x", 0)), static_cast<int16_t>(event.value("y", 0))};
  link.seen = std::max(link.seen, move.index + 1);
  if (!TakeArrivedMove(move)) return;
  if (timing.on) timing.waiting.emplace_back(move.index, timing.message);
  PlayArrived();
  return;
}

// The race's places, asked for when it ended.
void OnPlaces(const NetResult& result) {
  link.places = 0;
  const json race = json::parse(result.http.body, nullptr, false);
  if (!race.is_object() || !race.contains("places") || !race["places"].is_object()) return;
  for (const auto& [seat, place] : race["places"].items()) {
    const int car = std::atoi(seat.c_str());
    if (car >= 0 && car < kMaxPlayers && place.is_number_integer()) onlineRace.places[car] = place.get<int>();
  }
  ShowOnlineCaption();
  return;
}

// The race as the server holds it, asked for on joining it: what it lacks of ours goes out.
void OnSync(const NetResult& result) {
  link.sync = 0;
  const json race = json::parse(result.http.body, nullptr, false);
  if (result.http.status != 200 || !race.is_object() || !race.contains("moves") || !race["moves"].is_array()) {
    // Asked again after a wait; nothing of ours goes out meanwhile.
    ++link.failures;
    SetTimer(link.window, kOnlineRetryTimer, static_cast<uint32_t>(ReconnectDelaySeconds(link.failures) * 1000));
    return;
  }
  link.synced = true;
  link.failures = 0;
  const json& moves = race["moves"];
  const int held = static_cast<int>(moves.size());
  int index = 0;
  bool differs = false;
  for (const RaceEvent& event : keptRace.race.events) {
    if (event.kind != RaceEventKind::kMove) continue;
    if (index < held) {
      // A move the server holds otherwise (made elsewhere while this file was away from it): the
      // server's race is taken, rather than ours played on from a board it never had.
      const json& theirs = moves[static_cast<size_t>(index)];
      differs = differs || !theirs.is_object() || theirs.value("seat", -1) != event.car ||
                theirs.value("x", -1) != event.point.x || theirs.value("y", -1) != event.point.y;
    } else if (!IsRemoteCar(event.car) &&
               std::none_of(onlineRace.outbox.begin(), onlineRace.outbox.end(),
                            [index](const OnlineMove& move) { return move.index == index; })) {
      onlineRace.outbox.push_front(OnlineMove{index, event.car, event.point});
    }
    ++index;
  }
  if (differs) {
    onlineRace.outbox.clear();
    AskForTheRace();
    return;
  }
  // In the order of their index, ahead of any made since.
  std::stable_sort(onlineRace.outbox.begin(), onlineRace.outbox.end(),
                   [](const OnlineMove& a, const OnlineMove& b) { return a.index < b.index; });
  SendOnlineMoves();
  return;
}

// The answer to the move on its way.
void OnMoveAnswer(const NetResult& result) {
  link.inFlight = 0;
  const int status = result.http.status;
  if (status == 201) {
    // Answered: it is in the server's database and goes no more.
    if (!onlineRace.outbox.empty()) onlineRace.outbox.pop_front();
    link.failures = 0;
    ShowConnection(true);
  } else if (status == 0 || status >= 500 || status == 429) {
    // No answer: the same move again after a wait. The server answers a move it already holds
    // with 201 again and keeps it once, so a move whose answer was lost is never made twice.
    ++link.failures;
    link.waitingToRetry = true;
    ShowConnection(false);
    SetTimer(link.window, kOnlineRetryTimer, static_cast<uint32_t>(ReconnectDelaySeconds(link.failures) * 1000));
  } else {
    // Refused (the race moved on without this computer, a move against the server's rules): the
    // server's word goes in the caption, nothing more of ours goes out, and the race is taken as
    // the server holds it, so that the board is the server's again.
    const json body = json::parse(result.http.body, nullptr, false);
    const std::string reason = body.is_object() && body.contains("error") && body["error"].is_string()
                                   ? body["error"].get<std::string>()
                                   : "answer " + std::to_string(status);
    onlineRace.notice = u"the server refused the move: " + FromUtf8(reason.substr(0, 120));
    onlineRace.outbox.clear();
    ShowOnlineCaption();
    AskForTheRace();
  }
  SendOnlineMoves();
}

// The race's file as the server holds it, asked for when the race here left the server's.
void OnRaceFile(const NetResult& result) {
  link.reload = 0;
  std::string error;
  if (result.http.status != 200) {
    ++link.failures;
    link.waitingToRetry = true;
    SetTimer(link.window, kOnlineRetryTimer, static_cast<uint32_t>(ReconnectDelaySeconds(link.failures) * 1000));
    return;
  }
  link.reloadWanted = false;
  link.failures = 0;
  if (ReloadOnlineRace(result.http.body, LobbyName(), &error) != 0) {
    std::fprintf(stderr, "Apexgrid: %s\n", error.c_str());
    return;
  }
  // The events again from the race as it now stands; what is on its way is played once.
  link.seen = onlineRace.moves;
  link.client->Follow(std::stoll(keptRace.race.raceId), onlineRace.moves - 1);
  ShowOnlineCaption();
}

}  // namespace

void OnlineNetwork(uintptr_t id) {
  if (timing.on) timing.message = std::chrono::steady_clock::now();
  NetResult result;
  if (link.client == nullptr || !link.client->Take(id, &result)) return;
  switch (result.kind) {
    case NetKind::kConnected:
      ShowConnection(true);
      return;
    case NetKind::kLost:
      ShowConnection(false);
      return;
    case NetKind::kEvent:
      OnRaceEvent(result);
      return;
    case NetKind::kAnswer:
      break;
  }
  if (result.request == link.reload) {
    OnRaceFile(result);
  } else if (result.request == link.places) {
    OnPlaces(result);
  } else if (result.request == link.sync) {
    OnSync(result);
  } else if (result.request == link.inFlight) {
    OnMoveAnswer(result);
  }
}

void OnlineRetryTick() {
  KillTimer(link.window, kOnlineRetryTimer);
  if (link.client != nullptr && !link.synced && link.sync == 0) {
    link.sync = link.client->Request("GET", "races/" + keptRace.race.raceId);
  }
  link.waitingToRetry = false;
  if (link.client != nullptr && link.reloadWanted) AskForTheRace();
  SendOnlineMoves();
}

void SendOnlineMoves() {
  if (timing.on) TimeCommits();
  // Nothing goes out before the server has said what it holds, so that moves go in index order.
  if (link.client == nullptr || !link.synced || link.inFlight != 0 || link.waitingToRetry || link.reloadWanted ||
      onlineRace.outbox.empty()) {
    return;
  }
  const OnlineMove& move = onlineRace.outbox.front();
  link.inFlight = link.client->Request("POST", "races/" + keptRace.race.raceId + "/moves",
                                       json{{"index", move.index}, {"x", move.to.x}, {"y", move.to.y}}.dump());
}

void StopOnlineLink() { link = Link(); }
