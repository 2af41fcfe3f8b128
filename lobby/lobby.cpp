// Apexlobby's decisions: what each button asks the server, and what each answer changes.
#include "lobby/lobby.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "data/folder.h"
#include "lobby/notify.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/script.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/window.h"
#include "race/race_circuit.h"
#include "race/race_file.h"
#include "selector/selector.h"

using nlohmann::json;

namespace {

constexpr char16_t kRacesFolder[] = u"\\Races";

void CopyField(char* field, size_t size, const std::string& text) { std::snprintf(field, size, "%s", text.c_str()); }

void Ask(Lobby* lobby, LobbyAsk what, long long race, const std::string& method, const std::string& path,
         const std::string& body = {}, const std::string& contentType = "application/json") {
  if (lobby->client == nullptr) return;
  lobby->client->SetToken(lobby->token);
  lobby->asked[lobby->client->Request(method, path, body, contentType)] = {what, race};
}

void Remember(const Lobby& lobby) {
  if (lobby.userFolder.empty()) return;
  MakeFolders(lobby.userFolder + u"\\Data");
  const std::u16string path = lobby.userFolder + kLobbySettingsFile;
  Settings settings = ReadSettings(path);
  const auto set = [&settings](const std::string& name, const std::string& value) {
    for (auto& entry : settings.entries) {
      if (entry.first == name) {
        entry.second = value;
        return;
      }
    }
    settings.entries.emplace_back(name, value);
  };
  set("server", lobby.server);
  set("name", lobby.name);
  WriteSettings(path, settings, "Apexlobby's server and account name, written by the program");
}

std::string Setting(const Settings& settings, const std::string& name) {
  for (const auto& entry : settings.entries) {
    if (entry.first == name) return entry.second;
  }
  return {};
}

// A new client for the address typed; false (with the line saying why) for one that isn't a URL.
bool Connect(Lobby* lobby) {
  ServerUrl url;
  std::string error;
  std::string text = lobby->server;
  if (text.find("://") == std::string::npos) text = "http://" + text;
  if (!ParseServerUrl(text, &url, &error)) {
    lobby->line = error;
    return false;
  }
  lobby->asked.clear();
  lobby->client.reset();
  if (lobby->window != nullptr) lobby->client = std::make_unique<NetClient>(lobby->window, url, 10);
  return true;
}

// Open races lists only races to join: one you sit in already is under My races.
void DropOwnFromOpen(Lobby* lobby) {
  auto& open = lobby->open;
  open.erase(std::remove_if(open.begin(), open.end(),
                            [lobby](const LobbyRace& r) {
                              return std::any_of(lobby->mine.begin(), lobby->mine.end(),
                                                 [&r](const LobbyRace& m) { return m.id == r.id; });
                            }),
             open.end());
  lobby->selectedOpen = -1;
}

LobbyRace* FindRace(std::vector<LobbyRace>* races, long long id) {
  for (LobbyRace& race : *races) {
    if (race.id == id) return &race;
  }
  return nullptr;
}

}  // namespace

int WriteTokenFile(const std::u16string& devicePath, const std::string& token) {
  const std::string path = HostPath(devicePath);
  const std::string slash = path.substr(0, path.rfind('/'));
  if (MakeFolders(DevicePath(slash)) != 0) return 1;
  // Made with mode 0600 from the start and renamed into place, so that no moment shows the token
  // to anyone else, whatever the umask or the old file's mode.
  const std::string temporary = path + ".new";
  unlink(temporary.c_str());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  bool written = fchmod(fd, 0600) == 0 && write(fd, token.data(), token.size()) == static_cast<ssize_t>(token.size()) &&
                 fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return 1;
  }
  return 0;
}

std::string ReadTokenFile(const std::u16string& devicePath) {
  std::FILE* file = OpenDeviceFile(devicePath, "rb");
  if (file == nullptr) return {};
  char buffer[128];
  const size_t got = std::fread(buffer, 1, sizeof buffer, file);
  std::fclose(file);
  std::string token(buffer, got);
  // A token is 64 hexadecimal digits; anything else was never ours.
  if (token.size() != 64 || token.find_first_not_of("0123456789abcdef") != std::string::npos) return {};
  return token;
}

std::string LobbyLineFor(LobbyAsk ask, const HttpResult& answer) {
  if (answer.status == 0) return "The server can't be reached: " + answer.error;
  if (answer.status >= 200 && answer.status < 300) return {};
  const json body = json::parse(answer.body, nullptr, false);
  const std::string reason = body.is_object() ? body.value("error", "") : "";
  const std::string said = reason.empty() ? "" : " (" + reason + ")";
  if (answer.status == 401 && (ask == LobbyAsk::kSignIn || ask == LobbyAsk::kSignUp)) {
    return "Sign-in refused: wrong name or password.";
  }
  if (answer.status == 401) return "Signed out by the server: sign in again.";
  if (answer.status == 429 && ask == LobbyAsk::kSignUp) return "Too many new accounts from here: try again later.";
  if (answer.status == 429) return "Too many failed sign-ins: wait five minutes.";
  if (ask == LobbyAsk::kSignUp && answer.status == 409) return "That name is taken.";
  if (ask == LobbyAsk::kJoin && answer.status == 409)
    return "That seat is taken: the race is full or you sit in it already.";
  if (ask == LobbyAsk::kUpload && answer.status == 422) return "The server refused the circuit" + said + ".";
  if (answer.status == 400 && (ask == LobbyAsk::kSignIn || ask == LobbyAsk::kSignUp)) {
    return "A name is 1 to 24 letters, digits, - and _; a password 8 to 256 characters.";
  }
  return "The server answered " + std::to_string(answer.status) + said + ".";
}

std::vector<LobbyRace> ParseRaceList(const std::string& body) {
  std::vector<LobbyRace> races;
  const json list = json::parse(body, nullptr, false);
  if (!list.is_object() || !list.contains("races") || !list["races"].is_array()) return races;
  for (const json& entry : list["races"]) {
    if (!entry.is_object() || !entry.contains("id") || !entry["id"].is_number_integer()) continue;
    LobbyRace race;
    race.id = entry["id"].get<long long>();
    race.circuit = entry.value("circuit", "");
    race.seats = entry.value("seats", 0);
    race.laps = entry.value("laps", 0);
    race.state = entry.value("state", "");
    race.turn = entry.contains("turn") && entry["turn"].is_number_integer() ? entry["turn"].get<int>() : -1;
    race.freeSeats = entry.value("free_seats", 0);
    races.push_back(race);
  }
  return races;
}

namespace {

std::string ReadDeviceBytes(const std::u16string& path, bool* read) {
  std::string bytes;
  std::FILE* file = OpenDeviceFile(path, "rb");
  *read = file != nullptr;
  if (file == nullptr) return bytes;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

}  // namespace

void NameCircuits(Lobby* lobby, std::vector<LobbyRace>* races) {
  if (!lobby->circuitIdsRead) {
    lobby->circuitIdsRead = true;
    for (size_t i = 0; i < lobby->circuitPaths.size() && i < lobby->circuitNames.size(); ++i) {
      bool read = false;
      const std::string bytes = ReadDeviceBytes(CircuitToLoad(lobby->circuitPaths[i]), &read);
      const std::string id = read ? CircuitSha256(bytes.data(), bytes.size()) : "";
      if (!id.empty()) lobby->circuitIds.emplace(id, lobby->circuitNames[i]);
    }
  }
  for (LobbyRace& race : *races) {
    const auto known = lobby->circuitIds.find(race.circuit);
    if (known != lobby->circuitIds.end()) race.circuit = known->second;
  }
}

void OrderMyRaces(std::vector<LobbyRace>* races) {
  std::stable_partition(races->begin(), races->end(), [](const LobbyRace& r) { return r.yourTurn; });
}

void ApplyRaceDetails(LobbyRace* race, const std::string& body, const std::string& account) {
  const json details = json::parse(body, nullptr, false);
  if (!details.is_object() || !details.contains("seats") || !details["seats"].is_array()) return;
  race->state = details.value("state", race->state);
  race->turn = details.contains("turn") && details["turn"].is_number_integer() ? details["turn"].get<int>() : -1;
  race->mySeat = -1;
  race->turnName.clear();
  for (const json& seat : details["seats"]) {
    if (!seat.is_object()) continue;
    const int number = seat.value("seat", -1);
    const std::string player =
        seat.contains("player") && seat["player"].is_string() ? seat["player"].get<std::string>() : "";
    if (!account.empty() && player == account && race->mySeat < 0) race->mySeat = number;
    if (number == race->turn) race->turnName = player.empty() ? seat.value("driver", "") : player;
  }
  race->yourTurn = race->state == "running" && race->mySeat >= 0 && race->turn == race->mySeat;
  race->correspondence = details.value("pace", "") == "correspondence";
}

std::string NewRaceBody(const NewRaceForm& form, const std::string& circuitId) {
  json body{{"circuit", circuitId},
            {"seats", std::clamp(form.seats, 2, 8)},
            {"laps", std::clamp(form.laps, 1, 20)},
            {"pace", form.correspondence ? "correspondence" : "live"},
            {"assists", form.assists}};
  if (form.correspondence) body["move_seconds"] = std::clamp(form.hours, 1, 720) * 3600;
  json computers = json::object();
  const int seats = std::clamp(form.seats, 2, 8);
  for (int i = 0; i < std::clamp(form.computers, 0, seats - 1); ++i) {
    computers[std::to_string(seats - 1 - i)] = form.proComputers ? "pro" : "club";
  }
  if (!computers.empty()) body["computers"] = computers;
  return body.dump();
}

void InitLobby(Lobby* lobby, const std::u16string& programFolder, const std::u16string& writableFolder,
               const std::u16string& userFolder) {
  lobby->programFolder = programFolder;
  lobby->writableFolder = writableFolder;
  lobby->userFolder = userFolder;
  if (!userFolder.empty()) {
    const Settings settings = ReadSettings(userFolder + kLobbySettingsFile);
    CopyField(lobby->server, sizeof lobby->server, Setting(settings, "server"));
    CopyField(lobby->name, sizeof lobby->name, Setting(settings, "name"));
    lobby->token = ReadTokenFile(userFolder + kLobbyTokenFile);
  }
  lobby->page = lobby->server[0] == 0  ? LobbyPage::kServer
                : lobby->token.empty() ? LobbyPage::kSignIn
                                       : LobbyPage::kRaces;
  static SelectorDialog circuits;
  InitSelectorDialog(&circuits, programFolder, writableFolder);
  for (int i = 0; i < circuits.table.circuitCount; ++i) {
    lobby->circuitPaths.push_back(circuits.table.entries[i]);
    lobby->circuitNames.push_back(ToUtf8(circuits.listLines[static_cast<size_t>(i)]));
  }
  if (!lobby->circuitNames.empty()) lobby->form.circuit = 0;
}

void OpenLobby(Lobby* lobby, WindowHandle window) {
  lobby->window = window;
  SetTimer(window, kLobbyRefreshTimer, kLobbyRefreshPeriod);
  SetTimer(window, kLobbyNotifyTimer, kLobbyNotifyPeriod);
  if (lobby->page == LobbyPage::kServer) return;
  if (!Connect(lobby)) {
    lobby->page = LobbyPage::kServer;
    return;
  }
  if (lobby->page == LobbyPage::kRaces) OnRefresh(lobby);
}

void OnUseServer(Lobby* lobby) {
  if (lobby->server[0] == 0) {
    lobby->line = "Type the server's address, such as http://example.org:8470.";
    return;
  }
  if (!Connect(lobby)) return;
  Remember(*lobby);
  lobby->line.clear();
  lobby->page = lobby->token.empty() ? LobbyPage::kSignIn : LobbyPage::kRaces;
  if (lobby->page == LobbyPage::kRaces) OnRefresh(lobby);
}

void OnSignIn(Lobby* lobby, bool signUp) {
  const std::string body = json{{"name", std::string(lobby->name)}, {"password", std::string(lobby->password)}}.dump();
  lobby->token.clear();
  if (signUp) Ask(lobby, LobbyAsk::kSignUp, 0, "POST", "accounts", body);
  Ask(lobby, LobbyAsk::kSignIn, 0, "POST", "sessions", body);
  lobby->line = signUp ? "Signing up..." : "Signing in...";
  Remember(*lobby);
}

void OnSignOut(Lobby* lobby) {
  lobby->token.clear();
  if (!lobby->userFolder.empty()) std::remove(HostPath(lobby->userFolder + kLobbyTokenFile).c_str());
  lobby->mine.clear();
  lobby->open.clear();
  lobby->page = LobbyPage::kSignIn;
}

void OnRefresh(Lobby* lobby) {
  Ask(lobby, LobbyAsk::kMine, 0, "GET", "races?mine=1");
  Ask(lobby, LobbyAsk::kOpen, 0, "GET", "races?open=1");
}

void OnOpenRace(Lobby* lobby) {
  if (lobby->selectedMine < 0 || lobby->selectedMine >= static_cast<int>(lobby->mine.size())) return;
  const long long id = lobby->mine[static_cast<size_t>(lobby->selectedMine)].id;
  Ask(lobby, LobbyAsk::kRaceFile, id, "GET", "races/" + std::to_string(id) + "/file");
  lobby->line = "Fetching race " + std::to_string(id) + "...";
}

void OnJoinRace(Lobby* lobby) {
  if (lobby->selectedOpen < 0 || lobby->selectedOpen >= static_cast<int>(lobby->open.size())) return;
  const long long id = lobby->open[static_cast<size_t>(lobby->selectedOpen)].id;
  Ask(lobby, LobbyAsk::kSeatToJoin, id, "GET", "races/" + std::to_string(id));
}

void OnCreateRace(Lobby* lobby) {
  const NewRaceForm& form = lobby->form;
  if (form.circuit < 0 || form.circuit >= static_cast<int>(lobby->circuitPaths.size())) {
    lobby->line = "Choose a circuit first.";
    return;
  }
  bool read = false;
  const std::string bytes =
      ReadDeviceBytes(CircuitToLoad(lobby->circuitPaths[static_cast<size_t>(form.circuit)]), &read);
  if (!read) {
    lobby->line = "That circuit file can't be read.";
    return;
  }
  // The circuit goes up first (the server knows it already, or keeps it now); the race follows.
  lobby->pendingRace = NewRaceBody(form, "");
  Ask(lobby, LobbyAsk::kUpload, 0, "PUT", "circuits", bytes, "application/octet-stream");
  lobby->line = "Creating the race...";
}

namespace {

// The game's window, as a running copy is found by.
constexpr char16_t kGameWindowClass[] = u"APEXGRID";
constexpr char16_t kGameWindowTitle[] = u"Apexgrid";

// Starts the game on a race's file. A game that is open already only comes to the front when
// started again, keeping the race it has, so the lobby brings it forward itself and says what to
// do rather than that the race opened.
void OpenInGame(Lobby* lobby, long long race, const std::u16string& path) {
  const std::string name = "race " + std::to_string(race);
  if (WindowHandle running = FindWindow(kGameWindowClass, kGameWindowTitle)) {
    SetForegroundWindow(running);
    lobby->line = "The game is open already; close it, then open " + name + " again.";
  } else if (CreateProcess(lobby->programFolder + kGameProgram, path) == 0) {
    lobby->line = "The game can't be started for " + name + ".";
  } else {
    lobby->line = "Race " + std::to_string(race) + " opened in the game.";
  }
}

}  // namespace

void OnClose(Lobby* lobby) { lobby->ended = true; }

bool OnNetwork(Lobby* lobby, uintptr_t id) {
  NetResult result;
  if (lobby->client == nullptr || !lobby->client->Take(id, &result)) return false;
  const auto found = lobby->asked.find(static_cast<uint32_t>(id));
  if (found == lobby->asked.end()) return false;
  const LobbyAsk ask = found->second.first;
  const long long race = found->second.second;
  lobby->asked.erase(found);
  const std::string failed = LobbyLineFor(ask, result.http);
  if (!failed.empty()) {
    lobby->line = failed;
    if (result.http.status == 401 && ask != LobbyAsk::kSignIn && ask != LobbyAsk::kSignUp) OnSignOut(lobby);
    return true;
  }
  const json body = json::parse(result.http.body, nullptr, false);
  switch (ask) {
    case LobbyAsk::kSignUp:
      lobby->line = "Signed up.";
      break;
    case LobbyAsk::kSignIn:
      lobby->token = body.is_object() ? body.value("token", "") : "";
      std::memset(lobby->password, 0, sizeof lobby->password);
      if (!lobby->userFolder.empty() && WriteTokenFile(lobby->userFolder + kLobbyTokenFile, lobby->token) != 0) {
        lobby->line = "Signed in, but the sign-in can't be kept for the next start.";
      } else {
        lobby->line = "Signed in as " + std::string(lobby->name) + ".";
      }
      lobby->page = LobbyPage::kRaces;
      OnRefresh(lobby);
      break;
    case LobbyAsk::kMine:
      lobby->mine = ParseRaceList(result.http.body);
      NameCircuits(lobby, &lobby->mine);
      lobby->selectedMine = -1;
      DropOwnFromOpen(lobby);
      for (const LobbyRace& r : lobby->mine) {
        Ask(lobby, LobbyAsk::kDetails, r.id, "GET", "races/" + std::to_string(r.id));
      }
      break;
    case LobbyAsk::kOpen:
      lobby->open = ParseRaceList(result.http.body);
      NameCircuits(lobby, &lobby->open);
      DropOwnFromOpen(lobby);
      break;
    case LobbyAsk::kDetails:
      if (LobbyRace* r = FindRace(&lobby->mine, race)) {
        const long long selected =
            lobby->selectedMine >= 0 ? lobby->mine[static_cast<size_t>(lobby->selectedMine)].id : 0;
        ApplyRaceDetails(r, result.http.body, lobby->name);
        // A race seen before where it wasn't your turn, and now is: someone moved meanwhile.
        const auto seen = lobby->yourTurnSeen.find(r->id);
        if (r->yourTurn && r->correspondence && seen != lobby->yourTurnSeen.end() && !seen->second) {
          lobby->notified.push_back(r->id);
          NotifyYourTurn(r->id, "Race " + std::to_string(r->id) + ": your move.");
        }
        lobby->yourTurnSeen[r->id] = r->yourTurn;
        OrderMyRaces(&lobby->mine);
        lobby->selectedMine = -1;
        for (size_t i = 0; i < lobby->mine.size(); ++i) {
          if (lobby->mine[i].id == selected) lobby->selectedMine = static_cast<int>(i);
        }
      }
      break;
    case LobbyAsk::kSeatToJoin: {
      int free = -1;
      if (body.is_object() && body.contains("seats") && body["seats"].is_array()) {
        for (const json& seat : body["seats"]) {
          if (seat.is_object() && seat.value("driver", "") == "human" && seat.contains("player") &&
              seat["player"].is_null()) {
            free = seat.value("seat", -1);
            break;
          }
        }
      }
      if (free < 0) {
        lobby->line = "That seat is taken: the race is full.";
        OnRefresh(lobby);
        break;
      }
      Ask(lobby, LobbyAsk::kJoin, race, "POST", "races/" + std::to_string(race) + "/seats/" + std::to_string(free));
      break;
    }
    case LobbyAsk::kJoin:
      lobby->line = "Joined race " + std::to_string(race) + ".";
      OnRefresh(lobby);
      break;
    case LobbyAsk::kUpload: {
      json made = json::parse(lobby->pendingRace, nullptr, false);
      if (!made.is_object() || !body.is_object()) break;
      made["circuit"] = body.value("id", "");
      Ask(lobby, LobbyAsk::kCreate, 0, "POST", "races", made.dump());
      break;
    }
    case LobbyAsk::kCreate:
      lobby->line = "Race " + std::to_string(body.is_object() ? body.value("id", 0LL) : 0LL) + " created.";
      lobby->page = LobbyPage::kRaces;
      OnRefresh(lobby);
      break;
    case LobbyAsk::kRaceFile: {
      const std::u16string folder = lobby->writableFolder + kRacesFolder;
      const std::u16string path = folder + u"\\Online-" + FromUtf8(std::to_string(race)) + u".apxrace";
      if (MakeFolders(folder) != 0 || WriteWholeFile(path, result.http.body.data(), result.http.body.size()) != 0) {
        lobby->line = "The race's file can't be written into Races.";
        break;
      }
      // The game finds the circuit by its hash among its circuits; one this computer hasn't got
      // comes from the server first, into the user's own circuits.
      RaceFile kept;
      std::string error;
      const std::vector<std::string> folders = {HostPath(lobby->programFolder + kCircuitsFolder),
                                                HostPath(lobby->writableFolder + kCircuitsFolder)};
      if (ParseRace(result.http.body, "race", &kept, &error) == 0 &&
          FindRaceCircuit(kept, "race", folders, &error).empty()) {
        lobby->pendingOpen = path;
        Ask(lobby, LobbyAsk::kCircuit, race, "GET", "circuits/" + kept.circuitSha256);
        break;
      }
      OpenInGame(lobby, race, path);
      break;
    }
    case LobbyAsk::kCircuit: {
      const std::u16string folder = lobby->writableFolder + kCircuitsFolder;
      const std::string hash = CircuitSha256(result.http.body.data(), result.http.body.size());
      // Named by its hash, as the race names it; only what the race asked for is kept.
      if (lobby->pendingOpen.empty() || hash.size() != 64 || MakeFolders(folder) != 0 ||
          WriteWholeFile(folder + FromUtf8(hash) + u".cct", result.http.body.data(), result.http.body.size()) != 0) {
        lobby->line = "The race's circuit can't be kept on this computer.";
        break;
      }
      OpenInGame(lobby, race, lobby->pendingOpen);
      lobby->pendingOpen.clear();
      break;
    }
  }
  return true;
}

bool OnLobbyTimer(Lobby* lobby, uintptr_t timer) {
  if (timer == kLobbyRefreshTimer) {
    if (lobby->page == LobbyPage::kRaces && lobby->asked.empty() && !lobby->token.empty()) OnRefresh(lobby);
    return false;
  }
  if (timer != kLobbyNotifyTimer) return false;
  const long long race = TakeClickedRace();
  if (race == 0) return false;
  Ask(lobby, LobbyAsk::kRaceFile, race, "GET", "races/" + std::to_string(race) + "/file");
  return true;
}

int PlayLobbyLine(Lobby* lobby, const ScriptEvent& event, std::string* error) {
  switch (event.action) {
    case ScriptAction::kSelect: {
      const int mine = static_cast<int>(lobby->mine.size());
      const int open = static_cast<int>(lobby->open.size());
      if (lobby->page == LobbyPage::kNewRace && event.index < static_cast<int>(lobby->circuitNames.size())) {
        lobby->form.circuit = event.index;
        return 0;
      }
      if (lobby->page != LobbyPage::kRaces || event.index >= mine + open) {
        *error = "no list line " + std::to_string(event.index);
        return 1;
      }
      lobby->selectedMine = event.index < mine ? event.index : -1;
      lobby->selectedOpen = event.index < mine ? -1 : event.index - mine;
      return 0;
    }
    case ScriptAction::kStart:
      switch (lobby->page) {
        case LobbyPage::kServer:
          OnUseServer(lobby);
          break;
        case LobbyPage::kSignIn:
          OnSignIn(lobby, false);
          break;
        case LobbyPage::kRaces:
          if (lobby->selectedOpen >= 0)
            OnJoinRace(lobby);
          else
            OnOpenRace(lobby);
          break;
        case LobbyPage::kNewRace:
          OnCreateRace(lobby);
          break;
      }
      return 0;
    case ScriptAction::kStorno:
      switch (lobby->page) {
        case LobbyPage::kServer:
          break;
        case LobbyPage::kSignIn:
          OnSignIn(lobby, true);
          break;
        case LobbyPage::kRaces:
          lobby->page = LobbyPage::kNewRace;
          break;
        case LobbyPage::kNewRace:
          lobby->page = LobbyPage::kRaces;
          break;
      }
      return 0;
    case ScriptAction::kOk:
      OnClose(lobby);
      return 0;
    default:
      *error = "the lobby can't carry out that line";
      return 1;
  }
}
