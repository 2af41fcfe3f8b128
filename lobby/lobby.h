// Apexlobby's state and what it decides: the server, signing in, the race lists, a new race, and
// the clear line that says what happened. Kept apart from drawing (view.h), so that it can be run
// without a window; every network call goes through the threaded client and comes back as
// WM_NETWORK, so the lobby never waits on the server.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/client.h"

struct ScriptEvent;

enum class LobbyPage : uint8_t { kServer, kSignIn, kRaces, kNewRace };

// A race as the lists show it.
struct LobbyRace {
  long long id = 0;
  std::string circuit;  // the circuit's id, or its name when this computer has it
  int seats = 0;
  int laps = 0;
  std::string state;  // open, running, finished
  int turn = -1;      // the seat to move, -1 for none
  int freeSeats = 0;
  int mySeat = -1;       // My races: the caller's seat once the race's details have come
  std::string turnName;  // whose turn: a player's name, or the computer's level
  bool yourTurn = false;
  bool correspondence = false;
};

// What a request was for, so that its answer lands in the right place.
enum class LobbyAsk : uint8_t {
  kSignUp,
  kSignIn,
  kMine,
  kOpen,
  kDetails,
  kSeatToJoin,
  kJoin,
  kUpload,
  kCreate,
  kRaceFile,
  kCircuit
};

// What the new-race page holds.
struct NewRaceForm {
  int circuit = -1;  // line of `circuitNames`
  int seats = 2;     // 2 to 8
  int laps = 1;      // 1 to 20
  bool correspondence = false;
  int hours = 24;     // a correspondence race's time per move
  int computers = 0;  // seats after the creator's played by the server's computer
  bool proComputers = false;
  bool assists = true;
};

struct Lobby {
  std::u16string programFolder;
  std::u16string writableFolder;  // where Races/ is written
  std::u16string userFolder;      // the per-user folder: the server, the name, the token
  LobbyPage page = LobbyPage::kServer;
  char server[256] = "";
  char name[64] = "";
  char password[257] = "";
  std::string token;  // never shown
  std::string line;   // the clear line at the bottom: what happened last
  std::vector<LobbyRace> mine;
  std::vector<LobbyRace> open;
  int selectedMine = -1;
  int selectedOpen = -1;
  std::vector<std::u16string> circuitPaths;  // the selector's list: shipped and the user's own
  std::vector<std::string> circuitNames;
  // The listed circuits' names by their id (the hash races name them by): read once, when a race
  // list first arrives, so that a race on a circuit this computer has shows its name.
  std::map<std::string, std::string> circuitIds;
  bool circuitIdsRead = false;
  NewRaceForm form;
  bool ended = false;
  WindowHandle window = nullptr;
  std::unique_ptr<NetClient> client;
  std::map<uint32_t, std::pair<LobbyAsk, long long>> asked;  // request id: what for, which race
  std::string pendingRace;                                   // the body of the race to create once its circuit is up
  std::u16string pendingOpen;  // the race file to start the game on once its circuit is here
  // Whether it was your turn in each race at the last look, so that a move that makes it your turn
  // in a correspondence race is noticed (and notified) once.
  std::map<long long, bool> yourTurnSeen;
  std::vector<long long> notified;
};

// While the lobby runs the lists are asked for again on this timer of its window, and the
// desktop's answers to notifications looked at on the second.
constexpr uintptr_t kLobbyRefreshTimer = 1;
constexpr uint32_t kLobbyRefreshPeriod = 30000;
constexpr uintptr_t kLobbyNotifyTimer = 2;
constexpr uint32_t kLobbyNotifyPeriod = 500;

// The lobby files in the per-user folder: the server and the name as settings, the token alone in
// a file only its owner may read.
inline constexpr char16_t kLobbySettingsFile[] = u"\\Data\\lobby.txt";
inline constexpr char16_t kLobbyTokenFile[] = u"\\Data\\lobby-token";

// Reads what was remembered and lists the circuits; the first page is the server's when none is
// remembered, else signing in (or the races, with a token kept).
void InitLobby(Lobby* lobby, const std::u16string& programFolder, const std::u16string& writableFolder,
               const std::u16string& userFolder);
// The lobby's window exists: the client is made for the remembered server, the lists asked for.
void OpenLobby(Lobby* lobby, WindowHandle window);

// Writes the token as a file of mode 0600, whole (a new file renamed over the old one), in a
// folder made for it. 0 on success.
int WriteTokenFile(const std::u16string& devicePath, const std::string& token);
std::string ReadTokenFile(const std::u16string& devicePath);

// The clear line for an answer that isn't what was asked for: no answer at all, a refused sign-in,
// a taken name, a full seat, a race refused. Empty for a success.
std::string LobbyLineFor(LobbyAsk ask, const HttpResult& answer);

// Fills the lists from the server's answers. My races: those where it is the caller's turn first
// (marked), then the rest in the server's order (newest first).
std::vector<LobbyRace> ParseRaceList(const std::string& body);
void OrderMyRaces(std::vector<LobbyRace>* races);
// Names each race's circuit by this computer's name for it, where it has it.
void NameCircuits(Lobby* lobby, std::vector<LobbyRace>* races);
// A race's details (GET /races/ID) into its line: the caller's seat, whose turn, yours or not.
void ApplyRaceDetails(LobbyRace* race, const std::string& body, const std::string& account);

// The new race's request body, from the form and the circuit's id.
std::string NewRaceBody(const NewRaceForm& form, const std::string& circuitId);

// The buttons.
void OnUseServer(Lobby* lobby);  // takes the address typed, remembers it, goes to signing in
void OnSignIn(Lobby* lobby, bool signUp);
void OnSignOut(Lobby* lobby);
void OnRefresh(Lobby* lobby);
void OnOpenRace(Lobby* lobby);    // the selected one of My races: its file into Races/, the game on it
void OnJoinRace(Lobby* lobby);    // the selected open race: its first free seat
void OnCreateRace(Lobby* lobby);  // the form: its circuit uploaded, then the race made
void OnClose(Lobby* lobby);

// WM_NETWORK: takes the result and acts on it. True when what the lobby shows changed.
bool OnNetwork(Lobby* lobby, uintptr_t id);
// WM_TIMER: the lists asked for again (when nothing is on its way), or a clicked notification's
// race opened. True when what the lobby shows changed.
bool OnLobbyTimer(Lobby* lobby, uintptr_t timer);

// A headless script's `select N` (a line of the list the page shows), `start` (the page's main
// button: use the server, sign in, open the selected race, create the race), `storno` (back, or
// sign up on the sign-in page) and `ok` (close). 0 when carried out; 1 with the reason.
int PlayLobbyLine(Lobby* lobby, const ScriptEvent& event, std::string* error);
