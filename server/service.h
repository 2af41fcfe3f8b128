// The online race service behind the HTTP API: accounts and sessions, circuits, races, seats and
// moves checked by the game's rules, the clock that plays computer seats and retires seats whose
// time ran out, and the listeners that hear of every race event. Knows nothing of the network:
// requests come in as method, target, headers and body, and go out as a status and a JSON body.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/accounts.h"
#include "server/store.h"

class Driver;
struct TrackGrid;

struct ApiRequest {
  std::string method;
  std::string target;  // path and query
  std::string body;
  std::string authorization;  // the Authorization header
  std::string address;        // the peer's address, for the sign-in brake
};

struct ApiReply {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::string who;  // the account's name, for the request's log line
};

struct ServiceOptions {
  std::string dataFolder;
  std::string database;         // a postgresql:// URL; empty: SQLite in the data folder
  std::string serverUrl;        // how race files name this server
  int computerPauseMs = 800;    // the pause the game makes before a computer's move
  bool syncEveryCommit = true;  // an answered move is on the disk, not only out of the process
  int signInFailuresPerName = 5;
  int signInFailuresPerAddress = 50;
  int64_t signInWindowMs = int64_t{5} * 60 * 1000;
  int signUpsPerAddress = 30;  // in the same window
};

// The largest request bodies: a circuit, and everything else.
constexpr size_t kMaxCircuitBody = 64u << 20;
constexpr size_t kMaxJsonBody = 16u << 10;

class Service {
 public:
  using Listener = std::function<void(const std::string& message)>;
  using Log = std::function<void(const std::string& line)>;

  Service(ServiceOptions options, Log log);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // How race files name this server, unless the options named it; before the first request.
  void SetServerUrl(const std::string& url);
  // Opens the database in the data folder. False with a reason.
  bool Open(std::string* error);
  // Any request but the event stream. Safe to call from several threads.
  ApiReply Handle(const ApiRequest& request);

  // The event stream of a race for the bearer of the Authorization header: 200 with the events
  // after move `after` (the moves with a higher index, the retirements since) as messages in
  // *backlog, and the listener then hears every new one, until Unsubscribe; else the status
  // and reason the request gets.
  ApiReply Subscribe(const std::string& authorization, int64_t race, int64_t after, Listener listener,
                     std::vector<std::string>* backlog, int* id);
  void Unsubscribe(int id);

  // Starts and stops the clock: computer seats and seats out of time.
  void StartClock();
  void StopClock();

 private:
  struct Account {
    int64_t id = 0;
    std::string name;
  };
  struct Subscription {
    int64_t race;
    Listener listener;
    size_t sent;            // the race's events the listener has had
    std::string lastState;  // the last state message it had
  };

  bool Authenticate(const std::string& authorization, Account* account);
  ApiReply CreateAccount(const ApiRequest& request);
  ApiReply CreateSession(const ApiRequest& request);
  ApiReply PutCircuit(const ApiRequest& request, const Account& account);
  ApiReply GetCircuit(const std::string& id, bool laps);
  ApiReply CreateRace(const ApiRequest& request, const Account& account);
  ApiReply ListRaces(const std::string& query, const Account& account);
  ApiReply GetRace(int64_t id);
  ApiReply GetRaceFile(int64_t id);
  ApiReply Join(int64_t id, const std::string& seat, const Account& account);
  ApiReply PostMove(int64_t id, const ApiRequest& request, const Account& account);

  // With the lock held: the circuit's track (loaded once), null when it can't be.
  std::shared_ptr<TrackGrid> Track(const std::string& circuit);
  // With the lock held: the race's play so far; null when its circuit is gone.
  std::unique_ptr<RacePlay> Replay(const RaceRow& race, std::shared_ptr<TrackGrid>* track);
  // With the lock held: the race's state, turn and due time for the play.
  void SetTurn(RaceRow* race, const RacePlay& play, int64_t now) const;
  // With the lock held: plays the event, stores it with the race's new state, tells the
  // listeners and logs it. False when the database refuses it (the play is then spoilt).
  bool Commit(RaceRow* race, RacePlay* play, const RaceEvent& event, int64_t now);
  // With the lock held: gives every listener of the race the events it hasn't had, then the
  // race's state when that is news to it.
  void Deliver(const RaceRow& race);
  // A race changed by this server or another (0: any may have); `events`, how many it has now, and
  // `due`, its due time, or -1 when unknown.
  void Heard(int64_t race, int64_t events, int64_t due);
  // With the lock held: the circuit's file in the data folder, fetched from the database when
  // another server took it in. False when there is none.
  bool CircuitFile(const std::string& id);
  std::string RaceJson(const RaceRow& race, const RacePlay* play) const;

  void ClockLoop();
  // One due race: a computer's move or a retirement.
  void RunDue(int64_t race);

  ServiceOptions options_;
  Log log_;
  SignInBrake brake_;
  SignInBrake signUps_;  // accounts made, per address: each costs a hash and a row
  std::mutex mutex_;     // the store, the tracks and the listeners
  std::unique_ptr<Store> store_;
  std::map<std::string, std::shared_ptr<TrackGrid>> tracks_;
  std::unordered_map<std::string, Account> sessions_;  // by the token's hash
  std::map<int, Subscription> subscriptions_;
  int nextSubscription_ = 1;

  // The clock's own: the computers' brains, one per circuit.
  std::map<std::string, std::unique_ptr<Driver>> drivers_;
  std::thread clock_;
  std::mutex clockMutex_;
  std::condition_variable clockWake_;
  bool stopping_ = false;
  bool poked_ = false;
  void PokeClock();
};

// Milliseconds since 1970.
int64_t NowMs();
