// The SQLite database behind the server.
#include "server/store.h"

#include <sqlite3.h>

#include "server/pg_store.h"

namespace {

const char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS accounts (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, hash TEXT NOT NULL, created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (
  token_hash TEXT PRIMARY KEY, account INTEGER NOT NULL REFERENCES accounts(id), created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS circuits (
  id TEXT PRIMARY KEY, account INTEGER NOT NULL, created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS races (
  id INTEGER PRIMARY KEY, circuit TEXT NOT NULL REFERENCES circuits(id), creator INTEGER NOT NULL,
  seats INTEGER NOT NULL, laps INTEGER NOT NULL, live INTEGER NOT NULL, move_seconds INTEGER NOT NULL,
  assists INTEGER NOT NULL, state TEXT NOT NULL, turn INTEGER NOT NULL, created INTEGER NOT NULL,
  due INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS races_due ON races(due) WHERE state = 'running' AND due > 0;
CREATE INDEX IF NOT EXISTS races_open ON races(state, id);
CREATE TABLE IF NOT EXISTS seats (
  race INTEGER NOT NULL REFERENCES races(id), seat INTEGER NOT NULL, account INTEGER NOT NULL,
  driver INTEGER NOT NULL, PRIMARY KEY (race, seat));
CREATE INDEX IF NOT EXISTS seats_account ON seats(account, race);
CREATE TABLE IF NOT EXISTS events (
  race INTEGER NOT NULL REFERENCES races(id), position INTEGER NOT NULL, kind INTEGER NOT NULL,
  seat INTEGER NOT NULL, x INTEGER NOT NULL, y INTEGER NOT NULL, at INTEGER NOT NULL,
  PRIMARY KEY (race, position));
CREATE TABLE IF NOT EXISTS laps (
  circuit TEXT NOT NULL, account INTEGER NOT NULL, rounds INTEGER NOT NULL, race INTEGER NOT NULL,
  at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS laps_best ON laps(circuit, rounds, at);
)";

// A prepared statement in use: reset and cleared of its values when the scope ends.
class Use {
 public:
  explicit Use(sqlite3_stmt* statement) : s_(statement) {}
  ~Use() {
    if (s_ != nullptr) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  bool ok() const { return s_ != nullptr; }
  Use& Bind(int i, int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Use& Bind(int i, const std::string& v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(s_); }
  bool Done() { return ok() && Step() == SQLITE_DONE; }
  int64_t Int(int column) const { return sqlite3_column_int64(s_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(s_, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
  }

 private:
  sqlite3_stmt* s_;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    began_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (began_ && !committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  bool began() const { return began_; }
  bool Commit() {
    committed_ = began_ && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    return committed_;
  }

 private:
  sqlite3* db_;
  bool began_ = false;
  bool committed_ = false;
};

}  // namespace

SqliteStore::~SqliteStore() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  if (db_ != nullptr) sqlite3_close(db_);
}

bool SqliteStore::Open(const std::string& path, bool syncEveryCommit, std::string* error) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    *error = "can't open the database " + path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "no memory");
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // The write-ahead log. Fully synchronised, a transaction that returned is on the disk, so an
  // answered move survives a killed server and a lost machine alike; otherwise it survives a
  // killed server, and the disk catches up at checkpoints, many times faster.
  if (!Exec("PRAGMA journal_mode=WAL") ||
      !Exec(syncEveryCommit ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL") ||
      !Exec("PRAGMA foreign_keys=ON") || !Exec(kSchema)) {
    *error = std::string("can't prepare the database: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool SqliteStore::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

sqlite3_stmt* SqliteStore::Prepare(const char* sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) return nullptr;
  statements_[sql] = statement;
  return statement;
}

int SqliteStore::AddAccount(const std::string& name, const std::string& hash, int64_t now) {
  Use insert(Prepare("INSERT INTO accounts(name, hash, created) VALUES (?, ?, ?) ON CONFLICT(name) DO NOTHING"));
  if (!insert.ok()) return -1;
  insert.Bind(1, name).Bind(2, hash).Bind(3, now);
  if (insert.Step() != SQLITE_DONE) return -1;
  return sqlite3_changes(db_) == 1 ? 1 : 0;
}

bool SqliteStore::FindAccount(const std::string& name, int64_t* id, std::string* hash) {
  Use find(Prepare("SELECT id, hash FROM accounts WHERE name = ?"));
  if (!find.ok()) return false;
  find.Bind(1, name);
  if (find.Step() != SQLITE_ROW) return false;
  *id = find.Int(0);
  *hash = find.Text(1);
  return true;
}

bool SqliteStore::AddSession(const std::string& tokenHash, int64_t account, int64_t now) {
  Use insert(Prepare("INSERT INTO sessions(token_hash, account, created) VALUES (?, ?, ?)"));
  if (!insert.ok()) return false;
  insert.Bind(1, tokenHash).Bind(2, account).Bind(3, now);
  return insert.Done();
}

bool SqliteStore::FindSession(const std::string& tokenHash, int64_t* account, std::string* name) {
  Use find(Prepare("SELECT a.id, a.name FROM sessions s JOIN accounts a ON a.id = s.account WHERE s.token_hash = ?"));
  if (!find.ok()) return false;
  find.Bind(1, tokenHash);
  if (find.Step() != SQLITE_ROW) return false;
  *account = find.Int(0);
  *name = find.Text(1);
  return true;
}

bool SqliteStore::HasCircuit(const std::string& id) {
  Use find(Prepare("SELECT 1 FROM circuits WHERE id = ?"));
  if (!find.ok()) return false;
  find.Bind(1, id);
  return find.Step() == SQLITE_ROW;
}

bool SqliteStore::CircuitBytes(const std::string&, std::string*) { return false; }

// The files stay in the data folder, the only one.
bool SqliteStore::AddCircuit(const std::string& id, int64_t account, int64_t now, const std::string&) {
  Use insert(Prepare("INSERT INTO circuits(id, account, created) VALUES (?, ?, ?) ON CONFLICT(id) DO NOTHING"));
  if (!insert.ok()) return false;
  insert.Bind(1, id).Bind(2, account).Bind(3, now);
  return insert.Done();
}

int64_t SqliteStore::AddRace(const RaceRow& race) {
  Transaction transaction(db_);
  if (!transaction.began()) return 0;
  {
    Use insert(Prepare(
        "INSERT INTO races(circuit, creator, seats, laps, live, move_seconds, assists, state, turn, created, due) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    if (!insert.ok()) return 0;
    insert.Bind(1, race.circuit).Bind(2, race.creator).Bind(3, race.seats).Bind(4, race.laps).Bind(5, race.live);
    insert.Bind(6, race.moveSeconds).Bind(7, race.assists).Bind(8, race.state).Bind(9, race.turn);
    insert.Bind(10, race.created).Bind(11, race.due);
    if (insert.Step() != SQLITE_DONE) return 0;
  }
  const int64_t id = sqlite3_last_insert_rowid(db_);
  for (const SeatRow& seat : race.seatRows) {
    Use insert(Prepare("INSERT INTO seats(race, seat, account, driver) VALUES (?, ?, ?, ?)"));
    if (!insert.ok()) return 0;
    insert.Bind(1, id).Bind(2, seat.seat).Bind(3, seat.account).Bind(4, static_cast<int64_t>(seat.driver));
    if (!insert.Done()) return 0;
  }
  return transaction.Commit() ? id : 0;
}

bool SqliteStore::LoadRace(int64_t id, RaceRow* race) {
  {
    Use find(Prepare(
        "SELECT circuit, creator, seats, laps, live, move_seconds, assists, state, turn, created, due FROM races "
        "WHERE id = ?"));
    if (!find.ok()) return false;
    find.Bind(1, id);
    if (find.Step() != SQLITE_ROW) return false;
    race->id = id;
    race->circuit = find.Text(0);
    race->creator = find.Int(1);
    race->seats = static_cast<int>(find.Int(2));
    race->laps = static_cast<int>(find.Int(3));
    race->live = find.Int(4) != 0;
    race->moveSeconds = static_cast<int>(find.Int(5));
    race->assists = find.Int(6) != 0;
    race->state = find.Text(7);
    race->turn = static_cast<int>(find.Int(8));
    race->created = find.Int(9);
    race->due = find.Int(10);
  }
  race->seatRows.clear();
  {
    Use seats(
        Prepare("SELECT s.seat, s.account, COALESCE(a.name, ''), s.driver FROM seats s LEFT JOIN accounts a ON a.id = "
                "s.account "
                "WHERE s.race = ? ORDER BY s.seat"));
    if (!seats.ok()) return false;
    seats.Bind(1, id);
    while (seats.Step() == SQLITE_ROW) {
      SeatRow seat;
      seat.seat = static_cast<int>(seats.Int(0));
      seat.account = seats.Int(1);
      seat.player = seats.Text(2);
      const int64_t driver = seats.Int(3);
      seat.driver = driver == 2 ? SeatDriver::kPro : driver == 1 ? SeatDriver::kClub : SeatDriver::kHuman;
      race->seatRows.push_back(seat);
    }
  }
  race->events.clear();
  Use events(Prepare("SELECT kind, seat, x, y FROM events WHERE race = ? ORDER BY position"));
  if (!events.ok()) return false;
  events.Bind(1, id);
  while (events.Step() == SQLITE_ROW) {
    RaceEvent event;
    event.kind = events.Int(0) == 1 ? RaceEventKind::kRetire : RaceEventKind::kMove;
    event.car = static_cast<int>(events.Int(1));
    event.point = GridPoint{static_cast<int16_t>(events.Int(2)), static_cast<int16_t>(events.Int(3))};
    race->events.push_back(event);
  }
  return static_cast<int>(race->seatRows.size()) == race->seats;
}

bool SqliteStore::WriteRaceHead(const RaceRow& race) {
  Use update(Prepare("UPDATE races SET state = ?, turn = ?, due = ? WHERE id = ?"));
  if (!update.ok()) return false;
  update.Bind(1, race.state).Bind(2, race.turn).Bind(3, race.due).Bind(4, race.id);
  return update.Done();
}

bool SqliteStore::TakeSeat(const RaceRow& race, int seat, int64_t account) {
  Transaction transaction(db_);
  if (!transaction.began()) return false;
  {
    Use take(Prepare("UPDATE seats SET account = ? WHERE race = ? AND seat = ? AND account = 0 AND driver = 0"));
    if (!take.ok()) return false;
    take.Bind(1, account).Bind(2, race.id).Bind(3, seat);
    if (!take.Done() || sqlite3_changes(db_) != 1) return false;
  }
  return WriteRaceHead(race) && transaction.Commit();
}

bool SqliteStore::AddEvent(const RaceRow& race, size_t position, const RaceEvent& event, int64_t now,
                           const LapRow* lap) {
  Transaction transaction(db_);
  if (!transaction.began()) return false;
  {
    // The position is the primary key's second half: a second writer of the same position fails.
    Use insert(Prepare("INSERT INTO events(race, position, kind, seat, x, y, at) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    if (!insert.ok()) return false;
    insert.Bind(1, race.id).Bind(2, static_cast<int64_t>(position));
    insert.Bind(3, event.kind == RaceEventKind::kRetire ? 1 : 0).Bind(4, event.car);
    insert.Bind(5, event.point.x).Bind(6, event.point.y).Bind(7, now);
    if (!insert.Done()) return false;
  }
  if (lap != nullptr) {
    Use insert(
        Prepare("INSERT INTO laps(circuit, account, rounds, race, at) SELECT ?, account, ?, ?, ? FROM seats "
                "WHERE race = ? AND seat = ?"));
    if (!insert.ok()) return false;
    insert.Bind(1, race.circuit).Bind(2, lap->rounds).Bind(3, race.id).Bind(4, now).Bind(5, race.id);
    insert.Bind(6, event.car);
    if (!insert.Done()) return false;
  }
  return WriteRaceHead(race) && transaction.Commit();
}

std::vector<RaceSummary> SqliteStore::ListRaces(int64_t account, bool openOnly, int limit) {
  std::vector<RaceSummary> list;
  Use find(Prepare(openOnly ? "SELECT r.id, r.circuit, r.seats, r.laps, r.state, r.turn, "
                              "(SELECT COUNT(*) FROM seats f WHERE f.race = r.id AND f.account = 0 AND f.driver = 0) "
                              "FROM races r WHERE r.state = 'open' ORDER BY r.id DESC LIMIT ?1"
                            // Walks the account's seats newest first through their index, however many
                            // races the account has had.
                            : "SELECT r.id, r.circuit, r.seats, r.laps, r.state, r.turn, "
                              "(SELECT COUNT(*) FROM seats f WHERE f.race = r.id AND f.account = 0 AND f.driver = 0) "
                              "FROM seats s JOIN races r ON r.id = s.race WHERE s.account = ?2 "
                              "ORDER BY s.race DESC LIMIT ?1"));
  if (!find.ok()) return list;
  find.Bind(1, limit);
  if (!openOnly) find.Bind(2, account);
  while (find.Step() == SQLITE_ROW) {
    RaceSummary race;
    race.id = find.Int(0);
    race.circuit = find.Text(1);
    race.seats = static_cast<int>(find.Int(2));
    race.laps = static_cast<int>(find.Int(3));
    race.state = find.Text(4);
    race.turn = static_cast<int>(find.Int(5));
    race.freeSeats = static_cast<int>(find.Int(6));
    list.push_back(race);
  }
  return list;
}

std::vector<int64_t> SqliteStore::DueRaces(int64_t now, int limit, int64_t* next) {
  std::vector<int64_t> due;
  *next = 0;
  Use find(Prepare("SELECT id, due FROM races WHERE state = 'running' AND due > 0 ORDER BY due LIMIT ?"));
  if (!find.ok()) return due;
  find.Bind(1, limit + 1);
  while (find.Step() == SQLITE_ROW) {
    if (find.Int(1) > now || static_cast<int>(due.size()) == limit) {
      *next = find.Int(1);
      break;
    }
    due.push_back(find.Int(0));
  }
  return due;
}

std::vector<LapRow> SqliteStore::BestLaps(const std::string& circuit, int limit) {
  std::vector<LapRow> laps;
  Use find(Prepare(
      "SELECT a.name, l.rounds, l.race, l.at FROM laps l JOIN accounts a ON a.id = l.account WHERE l.circuit = ? "
      "ORDER BY l.rounds, l.at LIMIT ?"));
  if (!find.ok()) return laps;
  find.Bind(1, circuit).Bind(2, limit);
  while (find.Step() == SQLITE_ROW) {
    laps.push_back(LapRow{find.Text(0), static_cast<int>(find.Int(1)), find.Int(2), find.Int(3)});
  }
  return laps;
}

std::unique_ptr<Store> OpenStore(const std::string& database, const std::string& dataFolder, bool syncEveryCommit,
                                 std::string* error) {
  if (database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0) {
    auto store = std::make_unique<PgStore>();
    if (!store->Open(database, syncEveryCommit, error)) return nullptr;
    return store;
  }
  if (!database.empty()) {
    *error = "the database is a postgresql:// URL, or none for SQLite in the data folder";
    return nullptr;
  }
  auto store = std::make_unique<SqliteStore>();
  if (!store->Open(dataFolder + "/apexgrid-server.db", syncEveryCommit, error)) return nullptr;
  return store;
}
