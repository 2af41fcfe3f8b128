// The race server under load, on loopback: live races of four players, each move timed from its
// POST to the push reaching every other seat's WebSocket, with the server's memory while the
// sockets are open, on SQLite and on PostgreSQL shared by two servers; and the list of an
// account's races among 100,000 stored ones. Each figure is also given as a multiple of the same
// measure on a quiet server in the same run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/best_runs.h"
#include "data/circuit.h"
#include "net/http_client.h"
#include "tests/pg_cluster.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

// ---- The server and the circuit --------------------------------------------------------------------

// apexgrid-server in a scratch folder of its own, on a port it chooses.
class Server {
 public:
  // sync: the server's --sync; database: its --database, or empty for SQLite.
  explicit Server(const char* sync = "full", std::string database = "") : sync_(sync), database_(std::move(database)) {
    char folder[] = "/tmp/apexgrid-bench-XXXXXX";
    folder_ = mkdtemp(folder);
    Start();
  }
  ~Server() {
    Stop();
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }
  void Start() {
    const std::string log = folder_ + "/server.log";
    std::remove(log.c_str());
    pid_ = fork();
    if (pid_ == 0) {
      std::freopen(log.c_str(), "a", stderr);
      const std::string data = folder_ + "/data";
      if (database_.empty()) {
        execl(APEXGRID_SERVER_PROGRAM, APEXGRID_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--data", data.c_str(),
              "--sync", sync_, static_cast<char*>(nullptr));
      } else {
        execl(APEXGRID_SERVER_PROGRAM, APEXGRID_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--data", data.c_str(),
              "--sync", sync_, "--database", database_.c_str(), static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    for (int i = 0; i < 400 && url.port == "80"; ++i) {
      std::ifstream in(log);
      std::stringstream text;
      text << in.rdbuf();
      const std::string s = text.str();
      const size_t at = s.find("listening on 127.0.0.1:");
      if (at != std::string::npos) {
        url.host = "127.0.0.1";
        url.port = s.substr(at + 23, s.find(',', at) - at - 23);
      } else {
        usleep(25000);
      }
    }
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    url.port = "80";
  }
  // The server's resident memory in MB.
  double ResidentMb() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
  }
  std::string Database() const { return folder_ + "/data/apexgrid-server.db"; }

  ServerUrl url;

 private:
  const char* sync_;
  std::string database_;
  std::string folder_;
  pid_t pid_ = -1;
};

// A 60 x 40 ring: walls round [2, 58) x [2, 38) and an island at [14, 46) x [14, 26), the line
// across the top straight at x = 30, cars racing clockwise from (31, 8).
std::string RingBytes() {
  CircuitFile ring;
  ring.width = 60;
  ring.height = 40;
  ring.start = {31, 8};
  ring.lineA = {30, 1};
  ring.lineB = {30, 14};
  ring.ahead = {35, 8};
  ring.pixels.assign(60 * 40, 0x07E0);
  ring.cells.assign(60 * 40, 1);
  for (int y = 2; y < 38; ++y) {
    for (int x = 2; x < 58; ++x) {
      if (!(x >= 14 && x < 46 && y >= 14 && y < 26)) ring.cells[y * 60 + x] = 0;
    }
  }
  const std::vector<unsigned char> bytes = EncodeCircuit(ring);
  return std::string(bytes.begin(), bytes.end());
}

// A clean lap of the ring in moves of at most 6 cells each way.
std::vector<GridPoint> RingLap() {
  const GridPoint corners[] = {{52, 8}, {52, 32}, {8, 32}, {8, 8}, {32, 8}};
  std::vector<GridPoint> moves;
  GridPoint at{31, 8};
  for (GridPoint corner : corners) {
    while (at != corner) {
      at = GridPoint{static_cast<int16_t>(at.x + std::clamp(corner.x - at.x, -6, 6)),
                     static_cast<int16_t>(at.y + std::clamp(corner.y - at.y, -6, 6))};
      moves.push_back(at);
    }
  }
  return moves;
}

std::string SignUp(const ServerUrl& url, const std::string& name) {
  ApiClient client(url);
  const std::string body = json{{"name", name}, {"password", "password-of-" + name}}.dump();
  client.Call("POST", "accounts", body);
  return json::parse(client.Call("POST", "sessions", body).body).value("token", "");
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

// ---- Live races under load -------------------------------------------------------------------------

struct Load;

// One race: its moves in turn, each POSTed for the seat to move and timed until the three other
// seats' streams have it.
class RaceRun : public std::enable_shared_from_this<RaceRun> {
 public:
  RaceRun(Load& load, long long id);
  void Start(std::chrono::milliseconds offset);
  void Pushed(int seat, const std::string& message);

 private:
  void Next();
  void MaybeDone();

  Load& load_;
  long long id_;
  beast::tcp_stream http_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> request_;
  http::response<http::string_body> response_;
  net::steady_timer timer_;
  int move_ = 0;
  int waiting_ = 0;
  bool answered_ = false;
  Clock::time_point sent_;
};

struct Load {
  net::io_context io;
  std::vector<ServerUrl> urls;  // a race's moves go to one server, its seats watch on each in turn
  std::array<std::string, 4> tokens;
  std::vector<GridPoint> lap = RingLap();
  std::chrono::milliseconds think{1000};
  int movesPerRace = 0;
  Clock::time_point deadline;
  std::vector<double> roundTripsMs;
  int errors = 0;
  int connected = 0;
};

class Watcher : public std::enable_shared_from_this<Watcher> {
 public:
  Watcher(Load& load, std::shared_ptr<RaceRun> race, long long id, int seat)
      : load_(load), race_(std::move(race)), id_(id), seat_(seat), ws_(load.io) {}
  void Open() {
    beast::get_lowest_layer(ws_).async_connect(
        tcp::endpoint(net::ip::make_address("127.0.0.1"),
                      static_cast<unsigned short>(std::stoi(load_.urls[seat_ % load_.urls.size()].port))),
        [self = shared_from_this()](beast::error_code ec) {
          if (ec) return void(++self->load_.errors);
          const std::string token = self->load_.tokens[self->seat_];
          self->ws_.set_option(websocket::stream_base::decorator([token](websocket::request_type& request) {
            request.set(http::field::authorization, "Bearer " + token);
          }));
          self->ws_.async_handshake("127.0.0.1", "/api/v1/races/" + std::to_string(self->id_) + "/events",
                                    [self](beast::error_code ec2) {
                                      if (ec2) return void(++self->load_.errors);
                                      ++self->load_.connected;
                                      self->Read();
                                    });
        });
  }
  void Close() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

 private:
  void Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return;
      self->race_->Pushed(self->seat_, beast::buffers_to_string(self->buffer_.data()));
      self->buffer_.consume(self->buffer_.size());
      self->Read();
    });
  }

  Load& load_;
  std::shared_ptr<RaceRun> race_;
  long long id_;
  int seat_;
  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
};

RaceRun::RaceRun(Load& load, long long id) : load_(load), id_(id), http_(load.io), timer_(load.io) {}

// The connection for the moves is made when the first is due: the server gives a new connection
// only a few seconds for its first request.
void RaceRun::Start(std::chrono::milliseconds offset) {
  timer_.expires_after(offset);
  timer_.async_wait([self = shared_from_this()](beast::error_code) {
    self->http_.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"),
                                            static_cast<unsigned short>(
                                                std::stoi(self->load_.urls[self->id_ % self->load_.urls.size()].port))),
                              [self](beast::error_code ec) {
                                if (ec) return void(++self->load_.errors);
                                self->Next();
                              });
  });
}

void RaceRun::Next() {
  if (move_ >= load_.movesPerRace || Clock::now() > load_.deadline) return;
  const int seat = move_ % 4;
  const GridPoint to = load_.lap[static_cast<size_t>(move_ / 4) % load_.lap.size()];
  request_ = http::request<http::string_body>(http::verb::post, "/api/v1/races/" + std::to_string(id_) + "/moves", 11);
  request_.set(http::field::host, "127.0.0.1");
  request_.set(http::field::authorization, "Bearer " + load_.tokens[seat]);
  request_.set(http::field::content_type, "application/json");
  request_.body() = json{{"index", move_}, {"x", to.x}, {"y", to.y}}.dump();
  request_.prepare_payload();
  waiting_ = 3;
  answered_ = false;
  sent_ = Clock::now();
  http::async_write(http_, request_, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) return void(++self->load_.errors);
    self->response_ = {};
    http::async_read(self->http_, self->buffer_, self->response_, [self](beast::error_code ec2, size_t) {
      if (ec2 || self->response_.result_int() != 201) return void(++self->load_.errors);
      self->answered_ = true;
      self->MaybeDone();
    });
  });
}

void RaceRun::Pushed(int seat, const std::string& message) {
  if (seat == move_ % 4 || message.find("\"type\":\"move\"") == std::string::npos) return;
  if (message.find("\"index\":" + std::to_string(move_) + ",") == std::string::npos) return;
  --waiting_;
  MaybeDone();
}

void RaceRun::MaybeDone() {
  if (waiting_ > 0 || !answered_) return;
  load_.roundTripsMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent_).count());
  ++move_;
  waiting_ = 3;
  answered_ = false;
  timer_.expires_after(load_.think);
  timer_.async_wait([self = shared_from_this()](beast::error_code) { self->Next(); });
}

// `races` races of four, every seat watched; each race moves once per `think`, for `seconds` or
// `moves` moves a race. `servers` 1: one server on SQLite; 2: two servers on one throwaway
// PostgreSQL cluster, each race's moves sent to one of them and its seats watching on both, so
// that half the pushes cross from one server to the other.
void LiveRaces(benchmark::State& state, const char* sync, int races, int moves, int seconds, int servers) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<PgCluster> cluster;
    if (servers > 1) {
      cluster = std::make_unique<PgCluster>();
      if (cluster->url().empty()) {
        state.SkipWithError(cluster->why().c_str());
        break;
      }
    }
    Server server(sync, cluster != nullptr ? cluster->url() : "");
    std::unique_ptr<Server> second;
    Load load;
    load.urls.push_back(server.url);
    if (cluster != nullptr) {
      second = std::make_unique<Server>(sync, cluster->url());
      load.urls.push_back(second->url);
    }
    for (int s = 0; s < 4; ++s) load.tokens[s] = SignUp(server.url, "seat" + std::to_string(s));
    ApiClient creator(server.url);
    creator.SetToken(load.tokens[0]);
    const std::string circuit =
        json::parse(creator.Call("PUT", "circuits", RingBytes(), "application/octet-stream").body).value("id", "");
    std::vector<std::shared_ptr<RaceRun>> runs;
    std::vector<std::shared_ptr<Watcher>> watchers;
    std::array<std::unique_ptr<ApiClient>, 4> players;
    for (int s = 1; s < 4; ++s) {
      players[s] = std::make_unique<ApiClient>(server.url);
      players[s]->SetToken(load.tokens[s]);
    }
    for (int r = 0; r < races; ++r) {
      const long long id =
          json::parse(creator.Call("POST", "races", json{{"circuit", circuit}, {"seats", 4}, {"laps", 1}}.dump()).body)
              .value("id", 0LL);
      auto run = std::make_shared<RaceRun>(load, id);
      for (int s = 0; s < 4; ++s) {
        auto watcher = std::make_shared<Watcher>(load, run, id, s);
        watcher->Open();
        watchers.push_back(watcher);
      }
      runs.push_back(run);
    }
    // Every seat is watched, then joined: the race starts when the last seat is taken.
    load.io.run_for(std::chrono::seconds(10));
    load.io.restart();
    for (int r = 0; r < races; ++r) {
      for (int s = 1; s < 4; ++s)
        players[s]->Call("POST", "races/" + std::to_string(r + 1) + "/seats/" + std::to_string(s));
    }
    const double residentMb = server.ResidentMb();
    load.movesPerRace = moves;
    load.deadline = Clock::now() + std::chrono::seconds(seconds);
    std::mt19937 random(7);
    for (const auto& run : runs) {
      run->Start(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 999)(random)));
    }
    state.ResumeTiming();
    load.io.run_for(std::chrono::seconds(seconds + 10));
    state.PauseTiming();
    for (const auto& watcher : watchers) watcher->Close();
    state.counters["moves"] = static_cast<double>(load.roundTripsMs.size());
    state.counters["errors"] = load.errors;
    state.counters["sockets"] = load.connected;
    state.counters["p50_ms"] = Percentile(load.roundTripsMs, 0.50);
    state.counters["p99_ms"] = Percentile(load.roundTripsMs, 0.99);
    state.counters["server_mb"] = residentMb;
    state.counters["servers"] = servers;
    state.ResumeTiming();
  }
}

// ---- An account's races among many ------------------------------------------------------------------

// `stored` correspondence races of two seats, all the first account's, written straight into the
// database while the server is stopped; then the account's list, asked 200 times.
void ListMine(benchmark::State& state, int stored) {
  for (auto _ : state) {
    state.PauseTiming();
    Server server;
    const std::string token = SignUp(server.url, "ana");
    SignUp(server.url, "bo");
    ApiClient client(server.url);
    client.SetToken(token);
    const std::string circuit =
        json::parse(client.Call("PUT", "circuits", RingBytes(), "application/octet-stream").body).value("id", "");
    server.Stop();
    sqlite3* db = nullptr;
    sqlite3_open(server.Database().c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* race = nullptr;
    sqlite3_stmt* seat = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO races(circuit, creator, seats, laps, live, move_seconds, assists, state, turn, "
                       "created, due) VALUES (?, 1, 2, 3, 0, 86400, 1, 'running', 0, 0, 0)",
                       -1, &race, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO seats(race, seat, account, driver) VALUES (?, ?, ?, 0)", -1, &seat, nullptr);
    for (int r = 1; r <= stored; ++r) {
      sqlite3_bind_text(race, 1, circuit.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(race);
      sqlite3_reset(race);
      for (int s = 0; s < 2; ++s) {
        sqlite3_bind_int64(seat, 1, r);
        sqlite3_bind_int(seat, 2, s);
        sqlite3_bind_int(seat, 3, s + 1);
        sqlite3_step(seat);
        sqlite3_reset(seat);
      }
    }
    sqlite3_finalize(race);
    sqlite3_finalize(seat);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    server.Start();
    ApiClient again(server.url);
    again.SetToken(token);
    std::vector<double> times;
    size_t listed = 0;
    state.ResumeTiming();
    for (int i = 0; i < 200; ++i) {
      const Clock::time_point start = Clock::now();
      const HttpResult list = again.Call("GET", "races?mine=1");
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      listed = json::parse(list.body)["races"].size();
    }
    state.PauseTiming();
    state.counters["listed"] = static_cast<double>(listed);
    state.counters["p50_ms"] = Percentile(times, 0.50);
    state.counters["p99_ms"] = Percentile(times, 0.99);
    state.ResumeTiming();
  }
}

}  // namespace

// The quiet baselines first, then the loads they are compared with.
// Each move's round trip with every commit on the disk (the default) and with commits in the log.
BENCHMARK_CAPTURE(LiveRaces, OneRace / full, "full", 1, 24, 15, 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(LiveRaces, FiveHundredRaces / full, "full", 500, 96, 30, 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(LiveRaces, OneRace / normal, "normal", 1, 24, 15, 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(LiveRaces, FiveHundredRaces / normal, "normal", 500, 96, 30, 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// The same on PostgreSQL behind two servers, every commit on the database's disk.
BENCHMARK_CAPTURE(LiveRaces, OneRace / postgres / twoServers, "full", 1, 24, 15, 2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(LiveRaces, FiveHundredRaces / postgres / twoServers, "full", 500, 96, 30, 2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ListMine, TenRaces, 10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ListMine, HundredThousandRaces, 100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

namespace {

// Each loaded case's 99th percentile beside its quiet baseline's, as a ratio.
class RatioReporter : public BestRunsReporter {
 public:
  RatioReporter() : BestRunsReporter("/iterations") {}
  void Finalize() override {
    BestRunsReporter::Finalize();
    const std::pair<const char*, const char*> pairs[] = {
        // The names as the captures spell them, spaces and all.
        {"LiveRaces/FiveHundredRaces / full", "LiveRaces/OneRace / full"},
        {"LiveRaces/FiveHundredRaces / normal", "LiveRaces/OneRace / normal"},
        {"LiveRaces/FiveHundredRaces / postgres / twoServers", "LiveRaces/OneRace / postgres / twoServers"},
        {"ListMine/HundredThousandRaces", "ListMine/TenRaces"}};
    std::printf("\n99th percentiles, and their multiple of the quiet case's:\n");
    for (const auto& [loaded, quiet] : pairs) {
      const auto l = p99_.find(loaded);
      const auto q = p99_.find(quiet);
      if (l == p99_.end() || q == p99_.end() || q->second <= 0) continue;
      std::printf("  %-52s %9.2f ms  %7.1f x %s\n", loaded, l->second / 1e3, l->second / q->second, quiet);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
