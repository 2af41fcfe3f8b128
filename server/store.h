// The server's database: accounts, sessions, circuits, races, their seats and events, and the
// circuits' best online laps, on SQLite in the data folder or on a PostgreSQL shared by several
// servers. Every statement is prepared; every change that belongs together is one transaction,
// committed before the call returns.
#pragma once

#include <cstdint>
#include <functional>
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

// What the service asks of its database. One caller at a time (the service's lock).
class Store {
 public:
  virtual ~Store() = default;

  // 1 when made, 0 when the name is taken, -1 on a database failure.
  virtual int AddAccount(const std::string& name, const std::string& hash, int64_t now) = 0;
  virtual bool FindAccount(const std::string& name, int64_t* id, std::string* hash) = 0;
  virtual bool AddSession(const std::string& tokenHash, int64_t account, int64_t now) = 0;
  virtual bool FindSession(const std::string& tokenHash, int64_t* account, std::string* name) = 0;

  virtual bool HasCircuit(const std::string& id) = 0;
  // bytes: the circuit file, kept by a database that servers share (each keeps its own copy of
  // the files); one server's database leaves them to its data folder.
  virtual bool AddCircuit(const std::string& id, int64_t account, int64_t now, const std::string& bytes) = 0;
  // The circuit file kept with AddCircuit; false when the database keeps none.
  virtual bool CircuitBytes(const std::string& id, std::string* bytes) = 0;

  // The new race's id, 0 on failure. Seat 0 is the creator's.
  virtual int64_t AddRace(const RaceRow& race) = 0;
  virtual bool LoadRace(int64_t id, RaceRow* race) = 0;
  // Takes a free human seat; false when it was taken meanwhile, or when another seat was (the
  // race's state would then be wrong). The race's state, turn and due time are written with it.
  virtual bool TakeSeat(const RaceRow& race, int seat, int64_t account) = 0;
  // Appends an event (a move or a retirement) at position `position` among the race's events,
  // writes the race's new state, turn and due time, and a lap when given, in one transaction.
  // False when the position was taken meanwhile or the database fails.
  virtual bool AddEvent(const RaceRow& race, size_t position, const RaceEvent& event, int64_t now,
                        const LapRow* lap) = 0;

  virtual std::vector<RaceSummary> ListRaces(int64_t account, bool openOnly, int limit) = 0;
  // Running races whose due time has come, soonest first; the soonest future due time in *next
  // (0 when there is none).
  virtual std::vector<int64_t> DueRaces(int64_t now, int limit, int64_t* next) = 0;
  virtual std::vector<LapRow> BestLaps(const std::string& circuit, int limit) = 0;

  // Whether this server plays the due races: of several servers on one database, one at a time,
  // until it goes.
  virtual bool LeadClock() { return true; }
  // Starts hearing of the races that servers changed: `heard` gets a race's id, how many events it
  // has and its due time (-1 for both when unknown: read it again), or a race of 0 when news may
  // have been missed (every race should be read again). Nothing to hear alone.
  virtual bool Listen(const std::function<void(int64_t race, int64_t events, int64_t due)>& /*heard*/,
                      std::string* /*error*/) {
    return true;
  }
  // Stops hearing, before the service goes.
  virtual void StopListening() {}
};

// The database `database` names: a postgresql:// (or postgres://) URL, or, when empty, the SQLite
// file in the data folder. Null with a reason.
std::unique_ptr<Store> OpenStore(const std::string& database, const std::string& dataFolder, bool syncEveryCommit,
                                 std::string* error);

class SqliteStore : public Store {
 public:
  SqliteStore() = default;
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  // Opens (making when new) the database file. syncEveryCommit: each commit waits for the disk.
  // False with a reason.
  bool Open(const std::string& path, bool syncEveryCommit, std::string* error);

  int AddAccount(const std::string& name, const std::string& hash, int64_t now) override;
  bool FindAccount(const std::string& name, int64_t* id, std::string* hash) override;
  bool AddSession(const std::string& tokenHash, int64_t account, int64_t now) override;
  bool FindSession(const std::string& tokenHash, int64_t* account, std::string* name) override;
  bool HasCircuit(const std::string& id) override;
  bool AddCircuit(const std::string& id, int64_t account, int64_t now, const std::string& bytes) override;
  bool CircuitBytes(const std::string& id, std::string* bytes) override;
  int64_t AddRace(const RaceRow& race) override;
  bool LoadRace(int64_t id, RaceRow* race) override;
  bool TakeSeat(const RaceRow& race, int seat, int64_t account) override;
  bool AddEvent(const RaceRow& race, size_t position, const RaceEvent& event, int64_t now, const LapRow* lap) override;
  std::vector<RaceSummary> ListRaces(int64_t account, bool openOnly, int limit) override;
  std::vector<int64_t> DueRaces(int64_t now, int limit, int64_t* next) override;
  std::vector<LapRow> BestLaps(const std::string& circuit, int limit) override;

 private:
  sqlite3_stmt* Prepare(const char* sql);
  bool Exec(const char* sql);
  bool WriteRaceHead(const RaceRow& race);

  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
};
