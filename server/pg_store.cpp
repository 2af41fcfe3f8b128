// The PostgreSQL database behind one or several servers.
#include "server/pg_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// Keys of the advisory locks every server takes on this database: the schema's making, and the
// clock's lead.
constexpr const char* kLockSpace = "1095787896";  // "Apex"
constexpr const char* kSchemaLock = "1";
constexpr const char* kClockLock = "2";
constexpr const char* kChannel = "apexgrid_races";

const char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS accounts (
  id BIGSERIAL PRIMARY KEY, name TEXT NOT NULL UNIQUE, hash TEXT NOT NULL, created BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (
  token_hash TEXT PRIMARY KEY, account BIGINT NOT NULL REFERENCES accounts(id), created BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS circuits (
  id TEXT PRIMARY KEY, account BIGINT NOT NULL, created BIGINT NOT NULL, bytes BYTEA NOT NULL);
CREATE TABLE IF NOT EXISTS races (
  id BIGSERIAL PRIMARY KEY, circuit TEXT NOT NULL REFERENCES circuits(id), creator BIGINT NOT NULL,
  seats INTEGER NOT NULL, laps INTEGER NOT NULL, live INTEGER NOT NULL, move_seconds INTEGER NOT NULL,
  assists INTEGER NOT NULL, state TEXT NOT NULL, turn INTEGER NOT NULL, created BIGINT NOT NULL,
  due BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS races_due ON races(due) WHERE state = 'running' AND due > 0;
CREATE INDEX IF NOT EXISTS races_open ON races(state, id);
CREATE TABLE IF NOT EXISTS seats (
  race BIGINT NOT NULL REFERENCES races(id), seat INTEGER NOT NULL, account BIGINT NOT NULL,
  driver INTEGER NOT NULL, PRIMARY KEY (race, seat));
CREATE INDEX IF NOT EXISTS seats_account ON seats(account, race);
CREATE TABLE IF NOT EXISTS events (
  race BIGINT NOT NULL REFERENCES races(id), position INTEGER NOT NULL, kind INTEGER NOT NULL,
  seat INTEGER NOT NULL, x INTEGER NOT NULL, y INTEGER NOT NULL, at BIGINT NOT NULL,
  PRIMARY KEY (race, position));
CREATE TABLE IF NOT EXISTS laps (
  circuit TEXT NOT NULL, account BIGINT NOT NULL, rounds INTEGER NOT NULL, race BIGINT NOT NULL,
  at BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS laps_best ON laps(circuit, rounds, at);
)";

std::string Text(int64_t value) { return std::to_string(value); }

int64_t Int(PGresult* result, int row, int column) {
  return std::strtoll(PQgetvalue(result, row, column), nullptr, 10);
}

std::string Value(PGresult* result, int row, int column) {
  return std::string(PQgetvalue(result, row, column), static_cast<size_t>(PQgetlength(result, row, column)));
}

bool Changed(PGresult* result) { return std::strtoll(PQcmdTuples(result), nullptr, 10) > 0; }

// BEGIN ... COMMIT on the store's connection, rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(const std::function<bool(const char*)>& plain) : plain_(plain) { began_ = plain_("BEGIN"); }
  ~Transaction() {
    if (began_ && !committed_) plain_("ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool began() const { return began_; }
  bool Commit() {
    committed_ = began_ && plain_("COMMIT");
    return committed_;
  }

 private:
  const std::function<bool(const char*)>& plain_;
  bool began_ = false;
  bool committed_ = false;
};

}  // namespace

void PgStore::ResultFree::operator()(pg_result* result) const { PQclear(result); }

PgStore::~PgStore() {
  StopListening();
  if (db_ != nullptr) PQfinish(db_);
}

bool PgStore::Open(const std::string& url, bool syncEveryCommit, std::string* error) {
  url_ = url;
  syncEveryCommit_ = syncEveryCommit;
  if (!Connected()) {
    *error = "can't reach the database: " + std::string(db_ != nullptr ? PQerrorMessage(db_) : "no memory");
    return false;
  }
  // Servers starting together make the tables one at a time.
  const std::string space = kLockSpace;
  Result locked = Run("SELECT pg_advisory_lock($1::integer, $2::integer)", {space, kSchemaLock});
  bool made = locked != nullptr;
  if (made) {
    Result schema(PQexec(db_, kSchema));
    made = PQresultStatus(schema.get()) == PGRES_COMMAND_OK;
    if (!made) *error = "can't prepare the database: " + std::string(PQerrorMessage(db_));
    Run("SELECT pg_advisory_unlock($1::integer, $2::integer)", {space, kSchemaLock});
  } else {
    *error = "can't prepare the database: " + std::string(PQerrorMessage(db_));
  }
  return made;
}

bool PgStore::Connected() {
  if (db_ != nullptr && PQstatus(db_) == CONNECTION_OK) return true;
  // A new connection: statements are prepared afresh, and the clock's lead went with the old one.
  prepared_.clear();
  leading_ = false;
  if (db_ == nullptr) {
    db_ = PQconnectdb(url_.c_str());
  } else {
    PQreset(db_);
  }
  if (db_ == nullptr || PQstatus(db_) != CONNECTION_OK) return false;
  // Answered means committed; with synchronous commits it also means on the database's disk.
  Result quiet(PQexec(db_, syncEveryCommit_ ? "SET client_min_messages = warning"
                                            : "SET client_min_messages = warning; SET synchronous_commit = off"));
  return PQresultStatus(quiet.get()) == PGRES_COMMAND_OK;
}

PgStore::Result PgStore::Run(const char* sql, const std::vector<std::string>& params, int binaryParam,
                             bool binaryResult) {
  if (!Connected()) return nullptr;
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) {
    const std::string name = "s" + std::to_string(prepared_.size());
    Result made(PQprepare(db_, name.c_str(), sql, static_cast<int>(params.size()), nullptr));
    if (PQresultStatus(made.get()) != PGRES_COMMAND_OK) return nullptr;
    it = prepared_.emplace(sql, name).first;
  }
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (size_t i = 0; i < params.size(); ++i) {
    values.push_back(params[i].c_str());
    lengths.push_back(static_cast<int>(params[i].size()));
    formats.push_back(static_cast<int>(i) == binaryParam ? 1 : 0);
  }
  Result result(PQexecPrepared(db_, it->second.c_str(), static_cast<int>(params.size()), values.data(), lengths.data(),
                               formats.data(), binaryResult ? 1 : 0));
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) return nullptr;
  return result;
}

bool PgStore::Plain(const char* command) {
  if (!Connected()) return false;
  Result result(PQexec(db_, command));
  return PQresultStatus(result.get()) == PGRES_COMMAND_OK;
}

int PgStore::AddAccount(const std::string& name, const std::string& hash, int64_t now) {
  Result insert = Run("INSERT INTO accounts(name, hash, created) VALUES ($1, $2, $3) ON CONFLICT(name) DO NOTHING",
                      {name, hash, Text(now)});
  if (insert == nullptr) return -1;
  return Changed(insert.get()) ? 1 : 0;
}

bool PgStore::FindAccount(const std::string& name, int64_t* id, std::string* hash) {
  Result find = Run("SELECT id, hash FROM accounts WHERE name = $1", {name});
  if (find == nullptr || PQntuples(find.get()) != 1) return false;
  *id = Int(find.get(), 0, 0);
  *hash = Value(find.get(), 0, 1);
  return true;
}

bool PgStore::AddSession(const std::string& tokenHash, int64_t account, int64_t now) {
  return Run("INSERT INTO sessions(token_hash, account, created) VALUES ($1, $2, $3)",
             {tokenHash, Text(account), Text(now)}) != nullptr;
}

bool PgStore::FindSession(const std::string& tokenHash, int64_t* account, std::string* name) {
  Result find = Run("SELECT a.id, a.name FROM sessions s JOIN accounts a ON a.id = s.account WHERE s.token_hash = $1",
                    {tokenHash});
  if (find == nullptr || PQntuples(find.get()) != 1) return false;
  *account = Int(find.get(), 0, 0);
  *name = Value(find.get(), 0, 1);
  return true;
}

bool PgStore::HasCircuit(const std::string& id) {
  Result find = Run("SELECT 1 FROM circuits WHERE id = $1", {id});
  return find != nullptr && PQntuples(find.get()) == 1;
}

bool PgStore::AddCircuit(const std::string& id, int64_t account, int64_t now, const std::string& bytes) {
  return Run("INSERT INTO circuits(id, account, created, bytes) VALUES ($1, $2, $3, $4) ON CONFLICT(id) DO NOTHING",
             {id, Text(account), Text(now), bytes}, 3) != nullptr;
}

bool PgStore::CircuitBytes(const std::string& id, std::string* bytes) {
  Result find = Run("SELECT bytes FROM circuits WHERE id = $1", {id}, -1, true);
  if (find == nullptr || PQntuples(find.get()) != 1) return false;
  *bytes = Value(find.get(), 0, 0);
  return true;
}

int64_t PgStore::AddRace(const RaceRow& race) {
  const std::function<bool(const char*)> plain = [this](const char* command) { return Plain(command); };
  Transaction transaction(plain);
  if (!transaction.began()) return 0;
  Result insert =
      Run("INSERT INTO races(circuit, creator, seats, laps, live, move_seconds, assists, state, turn, created, due) "
          "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING id",
          {race.circuit, Text(race.creator), Text(race.seats), Text(race.laps), Text(race.live), Text(race.moveSeconds),
           Text(race.assists), race.state, Text(race.turn), Text(race.created), Text(race.due)});
  if (insert == nullptr || PQntuples(insert.get()) != 1) return 0;
  const int64_t id = Int(insert.get(), 0, 0);
  for (const SeatRow& seat : race.seatRows) {
    if (Run("INSERT INTO seats(race, seat, account, driver) VALUES ($1, $2, $3, $4)",
            {Text(id), Text(seat.seat), Text(seat.account), Text(static_cast<int64_t>(seat.driver))}) == nullptr) {
      return 0;
    }
  }
  // A race that runs at once may have a computer to move: the clock's server hears of it.
  if (race.state == "running" && !Notify(id, "-1")) return 0;
  return transaction.Commit() ? id : 0;
}

// One statement, so one round trip and one snapshot: the head, then the seats and the events as
// lists (names are letters, digits, '-' and '_', so the separators stand apart).
bool PgStore::LoadRace(int64_t id, RaceRow* race) {
  Result found = Run(
      "SELECT r.circuit, r.creator, r.seats, r.laps, r.live, r.move_seconds, r.assists, r.state, r.turn, r.created, "
      "r.due, "
      "(SELECT string_agg(s.seat || ',' || s.account || ',' || s.driver || ',' || COALESCE(a.name, ''), ';' "
      "ORDER BY s.seat) FROM seats s LEFT JOIN accounts a ON a.id = s.account WHERE s.race = r.id), "
      "(SELECT string_agg(e.kind || ',' || e.seat || ',' || e.x || ',' || e.y, ';' ORDER BY e.position) "
      "FROM events e WHERE e.race = r.id) "
      "FROM races r WHERE r.id = $1",
      {Text(id)});
  if (found == nullptr || PQntuples(found.get()) != 1) return false;
  PGresult* h = found.get();
  race->id = id;
  race->circuit = Value(h, 0, 0);
  race->creator = Int(h, 0, 1);
  race->seats = static_cast<int>(Int(h, 0, 2));
  race->laps = static_cast<int>(Int(h, 0, 3));
  race->live = Int(h, 0, 4) != 0;
  race->moveSeconds = static_cast<int>(Int(h, 0, 5));
  race->assists = Int(h, 0, 6) != 0;
  race->state = Value(h, 0, 7);
  race->turn = static_cast<int>(Int(h, 0, 8));
  race->created = Int(h, 0, 9);
  race->due = Int(h, 0, 10);
  race->seatRows.clear();
  std::istringstream seats(Value(h, 0, 11));
  std::string item;
  while (std::getline(seats, item, ';')) {
    SeatRow seat;
    long long number = 0;
    long long account = 0;
    long long driver = 0;
    int used = 0;
    if (std::sscanf(item.c_str(), "%lld,%lld,%lld,%n", &number, &account, &driver, &used) != 3) return false;
    seat.seat = static_cast<int>(number);
    seat.account = account;
    seat.player = item.substr(static_cast<size_t>(used));
    seat.driver = driver == 2 ? SeatDriver::kPro : driver == 1 ? SeatDriver::kClub : SeatDriver::kHuman;
    race->seatRows.push_back(seat);
  }
  race->events.clear();
  std::istringstream events(Value(h, 0, 12));
  while (std::getline(events, item, ';')) {
    int kind = 0;
    int car = 0;
    int x = 0;
    int y = 0;
    if (std::sscanf(item.c_str(), "%d,%d,%d,%d", &kind, &car, &x, &y) != 4) return false;
    RaceEvent event;
    event.kind = kind == 1 ? RaceEventKind::kRetire : RaceEventKind::kMove;
    event.car = static_cast<uint8_t>(car);
    event.point = GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)};
    race->events.push_back(event);
  }
  return static_cast<int>(race->seatRows.size()) == race->seats;
}

bool PgStore::WriteRaceHead(const RaceRow& race) {
  Result update = Run("UPDATE races SET state = $1, turn = $2, due = $3 WHERE id = $4",
                      {race.state, Text(race.turn), Text(race.due), Text(race.id)});
  return update != nullptr && Changed(update.get());
}

// Heard by every server once the transaction commits, and never if it doesn't.
bool PgStore::Notify(int64_t race, const std::string& what) {
  return Run("SELECT pg_notify($1, $2)", {kChannel, Text(race) + ":" + what}) != nullptr;
}

bool PgStore::TakeSeat(const RaceRow& race, int seat, int64_t account) {
  const std::function<bool(const char*)> plain = [this](const char* command) { return Plain(command); };
  Transaction transaction(plain);
  if (!transaction.began()) return false;
  // Joins of one race wait for each other here, so that each counts the seats the one before took.
  Result lock = Run("SELECT state FROM races WHERE id = $1 FOR UPDATE", {Text(race.id)});
  if (lock == nullptr || PQntuples(lock.get()) != 1 || Value(lock.get(), 0, 0) != "open") return false;
  Result take = Run("UPDATE seats SET account = $1 WHERE race = $2 AND seat = $3 AND account = 0 AND driver = 0",
                    {Text(account), Text(race.id), Text(seat)});
  if (take == nullptr || !Changed(take.get())) return false;
  int64_t free = 0;
  for (const SeatRow& row : race.seatRows) free += row.account == 0 && row.driver == SeatDriver::kHuman ? 1 : 0;
  Result count = Run("SELECT COUNT(*) FROM seats WHERE race = $1 AND account = 0 AND driver = 0", {Text(race.id)});
  if (count == nullptr || Int(count.get(), 0, 0) != free) return false;
  return WriteRaceHead(race) && Notify(race.id, "-1") && transaction.Commit();
}

// One statement, committed on its own: a round trip where a transaction would take five. The
// position is the primary key's second half: a second writer of the same position fails, on this
// server or another, and with it the lap and the race's head.
bool PgStore::AddEvent(const RaceRow& race, size_t position, const RaceEvent& event, int64_t now, const LapRow* lap) {
  std::vector<std::string> params = {
      Text(race.id),
      Text(static_cast<int64_t>(position)),
      Text(event.kind == RaceEventKind::kRetire ? 1 : 0),
      Text(event.car),
      Text(event.point.x),
      Text(event.point.y),
      Text(now),
      race.state,
      Text(race.turn),
      Text(race.due),
  };
  Result added;
  if (lap == nullptr) {
    added = Run(
        "WITH added AS (INSERT INTO events(race, position, kind, seat, x, y, at) VALUES ($1, $2, $3, $4, $5, $6, $7) "
        "RETURNING race), "
        "head AS (UPDATE races SET state = $8, turn = $9, due = $10 WHERE id = (SELECT race FROM added) RETURNING id) "
        "SELECT id FROM head",
        params);
  } else {
    params.push_back(race.circuit);
    params.push_back(Text(lap->rounds));
    added = Run(
        "WITH added AS (INSERT INTO events(race, position, kind, seat, x, y, at) VALUES ($1, $2, $3, $4, $5, $6, $7) "
        "RETURNING race), "
        "head AS (UPDATE races SET state = $8, turn = $9, due = $10 WHERE id = (SELECT race FROM added) RETURNING id), "
        "lap AS (INSERT INTO laps(circuit, account, rounds, race, at) SELECT $11::text, account, $12::integer, race, "
        "$7 FROM seats WHERE race = (SELECT race FROM added) AND seat = $4) "
        "SELECT id FROM head",
        params);
  }
  if (added == nullptr || PQntuples(added.get()) != 1) return false;
  // The news goes once the event is committed, in a statement of its own: PostgreSQL holds one
  // lock for every notifying commit of the database until the commit is on the disk, which would
  // make the servers' commits wait for each other. Should the server die between the two, the
  // others' listeners have the event with the race's next one.
  Notify(race.id, Text(static_cast<int64_t>(position + 1)) + ":" + Text(race.due));
  return true;
}

std::vector<RaceSummary> PgStore::ListRaces(int64_t account, bool openOnly, int limit) {
  std::vector<RaceSummary> list;
  Result find = openOnly ? Run("SELECT r.id, r.circuit, r.seats, r.laps, r.state, r.turn, "
                               "(SELECT COUNT(*) FROM seats f WHERE f.race = r.id AND f.account = 0 AND f.driver = 0) "
                               "FROM races r WHERE r.state = 'open' ORDER BY r.id DESC LIMIT $1",
                               {Text(limit)})
                         : Run("SELECT r.id, r.circuit, r.seats, r.laps, r.state, r.turn, "
                               "(SELECT COUNT(*) FROM seats f WHERE f.race = r.id AND f.account = 0 AND f.driver = 0) "
                               "FROM seats s JOIN races r ON r.id = s.race WHERE s.account = $2 "
                               "ORDER BY s.race DESC LIMIT $1",
                               {Text(limit), Text(account)});
  if (find == nullptr) return list;
  PGresult* f = find.get();
  for (int row = 0; row < PQntuples(f); ++row) {
    RaceSummary race;
    race.id = Int(f, row, 0);
    race.circuit = Value(f, row, 1);
    race.seats = static_cast<int>(Int(f, row, 2));
    race.laps = static_cast<int>(Int(f, row, 3));
    race.state = Value(f, row, 4);
    race.turn = static_cast<int>(Int(f, row, 5));
    race.freeSeats = static_cast<int>(Int(f, row, 6));
    list.push_back(race);
  }
  return list;
}

std::vector<int64_t> PgStore::DueRaces(int64_t now, int limit, int64_t* next) {
  std::vector<int64_t> due;
  *next = 0;
  Result find =
      Run("SELECT id, due FROM races WHERE state = 'running' AND due > 0 ORDER BY due LIMIT $1", {Text(limit + 1)});
  if (find == nullptr) return due;
  for (int row = 0; row < PQntuples(find.get()); ++row) {
    if (Int(find.get(), row, 1) > now || static_cast<int>(due.size()) == limit) {
      *next = Int(find.get(), row, 1);
      break;
    }
    due.push_back(Int(find.get(), row, 0));
  }
  return due;
}

std::vector<LapRow> PgStore::BestLaps(const std::string& circuit, int limit) {
  std::vector<LapRow> laps;
  Result find =
      Run("SELECT a.name, l.rounds, l.race, l.at FROM laps l JOIN accounts a ON a.id = l.account WHERE l.circuit = $1 "
          "ORDER BY l.rounds, l.at LIMIT $2",
          {circuit, Text(limit)});
  if (find == nullptr) return laps;
  for (int row = 0; row < PQntuples(find.get()); ++row) {
    laps.push_back(LapRow{Value(find.get(), row, 0), static_cast<int>(Int(find.get(), row, 1)), Int(find.get(), row, 2),
                          Int(find.get(), row, 3)});
  }
  return laps;
}

// The lead is a session's advisory lock: it goes when the leading server's connection does, a
// killed server's included, and the next server to ask takes it.
bool PgStore::LeadClock() {
  if (leading_ && PQstatus(db_) == CONNECTION_OK) return true;
  leading_ = false;
  Result lock = Run("SELECT pg_try_advisory_lock($1::integer, $2::integer)", {kLockSpace, kClockLock});
  leading_ = lock != nullptr && PQntuples(lock.get()) == 1 && Value(lock.get(), 0, 0) == "t";
  return leading_;
}

bool PgStore::Listen(const std::function<void(int64_t, int64_t, int64_t)>& heard, std::string* error) {
  heard_ = heard;
  PGconn* connection = PQconnectdb(url_.c_str());
  Result listening(PQexec(connection, "LISTEN apexgrid_races"));
  if (PQresultStatus(listening.get()) != PGRES_COMMAND_OK) {
    *error = "can't listen on the database: " + std::string(PQerrorMessage(connection));
    PQfinish(connection);
    return false;
  }
  stopping_ = false;
  listener_ = std::thread([this, connection] { ListenLoop(connection); });
  return true;
}

void PgStore::StopListening() {
  stopping_ = true;
  if (listener_.joinable()) listener_.join();
}

void PgStore::ListenLoop(PGconn* connection) {
  while (!stopping_) {
    if (PQstatus(connection) != CONNECTION_OK) {
      // Whatever was said meanwhile went unheard: every race is read again once listening.
      PQreset(connection);
      Result listening(PQexec(connection, "LISTEN apexgrid_races"));
      if (PQresultStatus(listening.get()) != PGRES_COMMAND_OK) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        continue;
      }
      heard_(0, -1, -1);
    }
    pollfd wait{PQsocket(connection), POLLIN, 0};
    if (poll(&wait, 1, 200) < 0) continue;
    if (PQconsumeInput(connection) == 0) continue;
    while (PGnotify* notice = PQnotifies(connection)) {
      const std::string payload = notice->extra;
      PQfreemem(notice);
      // RACE:EVENTS:DUE, or RACE:-1 when the race is to be read again whatever it holds.
      long long race = 0;
      long long events = -1;
      long long due = -1;
      if (std::sscanf(payload.c_str(), "%lld:%lld:%lld", &race, &events, &due) < 2) continue;
      heard_(race, events, events < 0 ? -1 : due);
    }
  }
  PQfinish(connection);
}
