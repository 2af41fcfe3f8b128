// The server's database on SQLite: accounts, sessions, circuits, races, their seats and events,
// and the circuits' best online laps. Every statement is prepared; every change that belongs
// together is one transaction, committed before the call returns.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/race_play.h"
#include "server/requests.h"

struct sqlite3;
struct sqlite3_stmt;

struct SeatRow {
  int seat = 0;
  int64_t account = 0;  // 0: free, or a computer's
  std::string player;   // the account's name
  SeatDriver driver = SeatDriver::kHuman;
};

struct RaceRow {
  int64_t id = 0;
  std::string circuit;
  int64_t creator = 0;
  int seats = 0;
  int laps = 1;
  bool live = true;
  int moveSeconds = 0;
  bool assists = true;
  std::string state = "open";  // open, running, finished
  int turn = -1;               // the seat to move while running
  int64_t created = 0;         // milliseconds since 1970
  int64_t due = 0;             // when the seat to move runs out of time, or a computer moves; 0: never
  std::vector<SeatRow> seatRows;
  std::vector<RaceEvent> events;  // moves and retirements, in order
};

struct LapRow {
  std::string player;
  int rounds = 0;
  int64_t race = 0;
  int64_t at = 0;
};

// A race in a list: enough to choose one.
struct RaceSummary {
  int64_t id = 0;
  std::string circuit;
  int seats = 0;
  int laps = 0;
  std::string state;
  int turn = -1;
  int freeSeats = 0;
};

class Store {
 public:
  Store() = default;
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens (making when new) the database file. syncEveryCommit: each commit waits for the disk.
  // False with a reason.
  bool Open(const std::string& path, bool syncEveryCommit, std::string* error);

  // 1 when made, 0 when the name is taken, -1 on a database failure.
  int AddAccount(const std::string& name, const std::string& hash, int64_t now);
  bool FindAccount(const std::string& name, int64_t* id, std::string* hash);
  bool AddSession(const std::string& tokenHash, int64_t account, int64_t now);
  bool FindSession(const std::string& tokenHash, int64_t* account, std::string* name);

  bool HasCircuit(const std::string& id);
  bool AddCircuit(const std::string& id, int64_t account, int64_t now);

  // The new race's id, 0 on failure. Seat 0 is the creator's.
  int64_t AddRace(const RaceRow& race);
  bool LoadRace(int64_t id, RaceRow* race);
  // Takes a free human seat; false when it was taken meanwhile. The race's state, turn and due
  // time are written with it.
  bool TakeSeat(const RaceRow& race, int seat, int64_t account);
  // Appends an event (a move or a retirement) at position `position` among the race's events,
  // writes the race's new state, turn and due time, and a lap when given, in one transaction.
  // False when the position was taken meanwhile or the database fails.
  bool AddEvent(const RaceRow& race, size_t position, const RaceEvent& event, int64_t now, const LapRow* lap);

  std::vector<RaceSummary> ListRaces(int64_t account, bool openOnly, int limit);
  // Running races whose due time has come, soonest first; the soonest future due time in *next
  // (0 when there is none).
  std::vector<int64_t> DueRaces(int64_t now, int limit, int64_t* next);
  std::vector<LapRow> BestLaps(const std::string& circuit, int limit);

 private:
  sqlite3_stmt* Prepare(const char* sql);
  bool Exec(const char* sql);
  bool WriteRaceHead(const RaceRow& race);

  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
};
