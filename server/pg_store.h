// The server's database on PostgreSQL, which several servers may share: the same rows as on
// SQLite, news of every changed race to the other servers, and one server at a time on the clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/store.h"

struct pg_conn;
struct pg_result;

class PgStore : public Store {
 public:
  PgStore() = default;
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  // Connects to the database the URL names and makes its tables when they are missing.
  // syncEveryCommit: each commit waits for the database's disk. False with a reason.
  bool Open(const std::string& url, bool syncEveryCommit, std::string* error);

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
  bool LeadClock() override;
  bool Listen(const std::function<void(int64_t race, int64_t events, int64_t due)>& heard, std::string* error) override;
  void StopListening() override;

  struct ResultFree {
    void operator()(pg_result* result) const;
  };
  using Result = std::unique_ptr<pg_result, ResultFree>;

 private:
  // Runs the statement, prepared on first use, with its parameters as text (but the one at
  // `binaryParam`, raw bytes); null on failure. A lost connection is made again on the next call.
  Result Run(const char* sql, const std::vector<std::string>& params, int binaryParam = -1, bool binaryResult = false);
  // A statement without parameters outside the prepared ones: BEGIN, COMMIT, ROLLBACK.
  bool Plain(const char* command);
  bool Connected();
  bool WriteRaceHead(const RaceRow& race);
  bool Notify(int64_t race, const std::string& what);
  void ListenLoop(pg_conn* connection);

  std::string url_;
  bool syncEveryCommit_ = true;
  pg_conn* db_ = nullptr;
  std::map<const char*, std::string> prepared_;  // statement names on this connection
  bool leading_ = false;

  std::function<void(int64_t, int64_t, int64_t)> heard_;
  std::thread listener_;
  std::atomic<bool> stopping_{false};
};
