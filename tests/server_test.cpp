// The race server as a real process on 127.0.0.1: accounts, circuits, races and moves through the
// API, its refusals, its durability across a killed process, and a whole race played with
// apexgrid-online.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lobby/lobby.h"
#include "net/client.h"
#include "net/http_client.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "race/race_circuit.h"
#include "race/race_file.h"
#include "race/replay.h"
#include "support.h"
#include "tests/game_folder.h"
#include "tests/pg_cluster.h"

using nlohmann::json;

namespace {

// apexgrid-server on a port of its own choosing, its log in the data folder's parent.
class ServerProcess {
 public:
  // extra: more options; with --tls-cert the URL is an https one.
  explicit ServerProcess(const TempFolder& folder, std::vector<std::string> extra = {})
      : folder_(folder), extra_(std::move(extra)) {
    Start();
  }
  ~ServerProcess() {
    if (pid_ > 0) Signal(SIGKILL);
  }

  // port: "0" lets the server choose; a port given brings a killed server back where it was.
  void Start(const std::string& port = "0") {
    const size_t logged = ReadText(LogPath()).size();
    pid_ = fork();
    if (pid_ == 0) {
      const std::string log = LogPath();
      freopen(log.c_str(), "a", stderr);
      const std::string data = folder_.HostFile("data");
      const std::string listen = "127.0.0.1:" + port;
      std::vector<const char*> args = {APEXGRID_SERVER_PROGRAM, "--listen", listen.c_str(),      "--data", data.c_str(),
                                       "--computer-pause",      "20",       "--request-seconds", "2"};
      for (const std::string& arg : extra_) args.push_back(arg.c_str());
      args.push_back(nullptr);
      execv(APEXGRID_SERVER_PROGRAM, const_cast<char* const*>(args.data()));
      _exit(127);
    }
    // The port is in the first line this start logs.
    for (int i = 0; i < 400 && url_.port == "80"; ++i) {
      const std::string text = ReadText(LogPath()).substr(logged);
      const size_t at = text.find("listening on 127.0.0.1:");
      if (at != std::string::npos) {
        url_.host = "127.0.0.1";
        url_.tls = std::find(extra_.begin(), extra_.end(), "--tls-cert") != extra_.end();
        url_.port = text.substr(at + 23, text.find(',', at) - at - 23);
      } else {
        Pause(25);
      }
    }
    ASSERT_NE(url_.port, "80") << "the server didn't start: " << ReadText(LogPath());
  }

  // Sends the signal and waits for the end; the exit status, or 128 + the signal.
  int Signal(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    url_.port = "80";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The server's resident memory in MB.
  double ResidentMb() const {
    std::istringstream status(ReadText("/proc/" + std::to_string(pid_) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
  }
  const ServerUrl& url() const { return url_; }
  std::string LogPath() const { return folder_.HostFile("server.log"); }
  std::string Log() const { return ReadText(LogPath()); }

 private:
  const TempFolder& folder_;
  std::vector<std::string> extra_;
  pid_t pid_ = -1;
  ServerUrl url_;
};

json Body(const HttpResult& result) { return json::parse(result.body, nullptr, false); }

// A signed-in client of a new account.
std::unique_ptr<ApiClient> SignUp(const ServerUrl& url, const std::string& name, std::string* token = nullptr) {
  auto client = std::make_unique<ApiClient>(url);
  const std::string body = json{{"name", name}, {"password", "password-of-" + name}}.dump();
  EXPECT_EQ(client->Call("POST", "accounts", body).status, 201);
  const HttpResult session = client->Call("POST", "sessions", body);
  EXPECT_EQ(session.status, 200) << session.body;
  const std::string given = Body(session).value("token", "");
  client->SetToken(given);
  if (token != nullptr) *token = given;
  return client;
}

std::string CircuitBytes(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string UploadRing(ApiClient& client) {
  const HttpResult put = client.Call("PUT", "circuits", CircuitBytes(SmallRing().Encode()), "application/octet-stream");
  EXPECT_TRUE(put.status == 201 || put.status == 200) << put.body;
  return Body(put).value("id", "");
}

HttpResult Move(ApiClient& client, long long race, long long index, GridPoint to) {
  return client.Call("POST", "races/" + std::to_string(race) + "/moves",
                     json{{"index", index}, {"x", to.x}, {"y", to.y}}.dump());
}

json Race(ApiClient& client, long long race) { return Body(client.Call("GET", "races/" + std::to_string(race))); }

// Ana's two-seat race on the small ring, which Bo joins: running, Ana (seat 0) to move.
struct TwoSeatRace {
  std::unique_ptr<ApiClient> ana;
  std::unique_ptr<ApiClient> bo;
  long long id = 0;

  TwoSeatRace(const ServerUrl& url, const std::string& extra = "") {
    ana = SignUp(url, "ana");
    bo = SignUp(url, "bo");
    const std::string circuit = UploadRing(*ana);
    const HttpResult made =
        ana->Call("POST", "races", R"({"circuit":")" + circuit + R"(","seats":2,"laps":1)" + extra + "}");
    EXPECT_EQ(made.status, 201) << made.body;
    id = Body(made).value("id", 0LL);
    EXPECT_EQ(bo->Call("POST", "races/" + std::to_string(id) + "/seats/1").status, 201);
  }
};

// A raw connection, for what a well-behaved client never sends.
int RawConnection(const ServerUrl& url) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(url.port)));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval wait{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

std::string Answer(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

// A client of an account that exists, signed in afresh (on another server, or after a restart).
std::unique_ptr<ApiClient> SignIn(const ServerUrl& url, const std::string& name) {
  auto client = std::make_unique<ApiClient>(url);
  const HttpResult session =
      client->Call("POST", "sessions", json{{"name", name}, {"password", "password-of-" + name}}.dump());
  EXPECT_EQ(session.status, 200) << session.body;
  client->SetToken(Body(session).value("token", ""));
  return client;
}

// A race's event stream as server-sent events: the connection, its request sent.
int OpenSentEvents(const ServerUrl& url, const std::string& token, long long race, const std::string& query,
                   const std::string& headers) {
  const int fd = RawConnection(url);
  const std::string request = "GET /api/v1/races/" + std::to_string(race) + "/events" + query +
                              " HTTP/1.1\r\nHost: x\r\nAccept: text/event-stream\r\nAuthorization: Bearer " + token +
                              "\r\n" + headers + "\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

// What the stream says until it has given the move `index` (or ends, or 10 s pass without a word).
std::string SentEventsUntil(int fd, int index) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  const std::string last = "id: " + std::to_string(index) + "\n";
  while (text.find(last) == std::string::npos && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

// The moves' indices among server-sent events, in the order they came.
std::vector<int> SentMoves(const std::string& text) {
  std::vector<int> moves;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("data: ", 0) != 0) continue;
    const json event = json::parse(line.substr(6), nullptr, false);
    if (event.is_object() && event.value("type", "") == "move") moves.push_back(event.value("index", -1));
  }
  return moves;
}

// The tests that hold for either database run on SQLite in the data folder and on a throwaway
// PostgreSQL cluster.
class ServerOn : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) != "postgres") return;
    cluster_ = std::make_unique<PgCluster>();
    if (!cluster_->installed()) GTEST_SKIP() << cluster_->why();
    ASSERT_FALSE(cluster_->url().empty()) << cluster_->why();
  }
  // The server's options that choose the database.
  std::vector<std::string> Database(std::vector<std::string> extra = {}) const {
    if (cluster_ != nullptr) {
      extra.push_back("--database");
      extra.push_back(cluster_->url());
    }
    return extra;
  }
  bool OnSqlite() const { return cluster_ == nullptr; }

  std::unique_ptr<PgCluster> cluster_;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Stores, ServerOn, ::testing::Values("sqlite", "postgres"),
                         [](const ::testing::TestParamInfo<const char*>& store) { return std::string(store.param); });

TEST_P(ServerOn, RefusesBadRequestsWithHonestStatuses) {
  TempFolder folder;
  ServerProcess server(folder, Database());
  TwoSeatRace race(server.url());
  ApiClient anonymous(server.url());
  ApiClient stranger(server.url());
  stranger.SetToken(std::string(64, 'a'));
  auto carol = SignUp(server.url(), "carol");
  const std::string circuit = Body(race.ana->Call("GET", "races/" + std::to_string(race.id))).value("circuit", "");
  const std::string r = "races/" + std::to_string(race.id);
  const std::string goodRace = R"("circuit":")" + circuit + R"(","seats":2)";
  // A race still waiting for its second player.
  const std::string open =
      "races/" + std::to_string(Body(race.ana->Call("POST", "races", "{" + goodRace + "}")).value("id", 0));
  struct Case {
    ApiClient* client;
    const char* method;
    std::string path;
    std::string body;
    int status;
  };
  const Case cases[] = {
      // Accounts: names, passwords, shapes.
      {&anonymous, "POST", "accounts", R"({"name":"ana","password":"another-password"})", 409},
      {&anonymous, "POST", "accounts", R"({"name":"has space","password":"long-enough"})", 400},
      {&anonymous, "POST", "accounts", R"({"name":"abcdefghijklmnopqrstuvwxy","password":"long-enough"})", 400},
      {&anonymous, "POST", "accounts", R"({"name":"dora","password":"short"})", 400},
      {&anonymous, "POST", "accounts", R"({"name":"dora","password":"long-enough","admin":true})", 400},
      {&anonymous, "POST", "accounts", R"({"name":"dora","password":12345678})", 400},
      {&anonymous, "POST", "accounts", R"(["dora","long-enough"])", 400},
      {&anonymous, "POST", "sessions", R"({"name":"ana","password":"password-of-bo"})", 401},
      // Tokens.
      {&anonymous, "GET", "races?open=1", "", 401},
      {&stranger, "GET", "races?open=1", "", 401},
      {&anonymous, "GET", r, "", 401},
      // Malformed, wrong types, huge numbers, negative seats, unknown fields.
      {race.ana.get(), "POST", "races", "{\"circuit\":", 400},
      {race.ana.get(), "POST", "races", "{" + goodRace + R"(,"colour":"red"})", 400},
      {race.ana.get(), "POST", "races", R"({"circuit":")" + circuit + R"(","seats":"2"})", 400},
      {race.ana.get(), "POST", "races", R"({"circuit":")" + circuit + R"(","seats":9})", 400},
      {race.ana.get(), "POST", "races", R"({"circuit":")" + circuit + R"(","seats":1e400})", 400},
      {race.ana.get(), "POST", "races", "{" + goodRace + R"(,"laps":21})", 400},
      {race.ana.get(), "POST", "races", "{" + goodRace + R"(,"computers":{"0":"pro"}})", 400},
      {race.ana.get(), "POST", "races", "{" + goodRace + R"(,"computers":{"1":"ace"}})", 400},
      {race.ana.get(), "POST", "races", "{" + goodRace + R"(,"pace":"correspondence"})", 400},
      {race.ana.get(), "POST", "races", R"({"circuit":")" + std::string(64, '0') + R"(","seats":2})", 404},
      {race.ana.get(), "POST", r + "/moves", R"({"index":0,"x":99999999999999999999999,"y":8})", 400},
      {race.ana.get(), "POST", r + "/moves", R"({"index":-1,"x":31,"y":8})", 400},
      {race.ana.get(), "POST", r + "/moves", R"({"index":0,"x":31.5,"y":8})", 400},
      {race.ana.get(), "POST", r + "/moves", R"({"index":0,"x":40000,"y":8})", 400},
      {race.ana.get(), "POST", r + "/moves", R"({"index":0,"x":31,"y":8,"seat":1})", 400},
      {race.ana.get(), "POST", r + "/seats/-1", "", 400},
      {race.ana.get(), "POST", r + "/seats/5", "", 404},
      // Unknown things.
      {race.ana.get(), "GET", "races/999", "", 404},
      {race.ana.get(), "GET", "races/abc", "", 404},
      {race.ana.get(), "GET", "circuits/" + std::string(64, 'f'), "", 404},
      {race.ana.get(), "GET", "nothing", "", 404},
      {race.ana.get(), "DELETE", r, "", 405},
      // Seats and turns: not your seat, not your turn, not the next move, outside the reach disc.
      {carol.get(), "POST", r + "/moves", R"({"index":0,"x":31,"y":8})", 403},
      {carol.get(), "POST", r + "/seats/1", "", 409},
      {race.bo.get(), "POST", r + "/seats/0", "", 409},
      {race.bo.get(), "POST", r + "/moves", R"({"index":0,"x":31,"y":8})", 409},
      {race.ana.get(), "POST", r + "/moves", R"({"index":1,"x":31,"y":8})", 409},
      {race.ana.get(), "POST", r + "/moves", R"({"index":0,"x":51,"y":8})", 422},
      {race.ana.get(), "POST", open + "/moves", R"({"index":0,"x":31,"y":8})", 409},
  };
  for (const Case& c : cases) {
    const HttpResult result = c.client->Call(c.method, c.path, c.body);
    EXPECT_EQ(result.status, c.status) << c.method << " " << c.path << " " << c.body << " -> " << result.body;
    if (result.status >= 400) {
      EXPECT_TRUE(Body(result).contains("error")) << result.body;
    }
  }
  // None of them moved a car.
  EXPECT_EQ(Race(*race.ana, race.id)["moves"].size(), 0u);
}

TEST(Server, RefusesHostileCircuitsAndTooLargeBodies) {
  TempFolder folder;
  ServerProcess server(folder);
  auto ana = SignUp(server.url(), "ana");
  TestCircuit onWall = SmallRing();
  onWall.start = Pt(0, 0);
  Bytes huge = SmallRing().Encode();
  huge[0] = huge[1] = 0xff;  // 65535 wide
  const Bytes ring = SmallRing().Encode();
  const struct {
    std::string bytes;
    int status;
  } cases[] = {
      {"", 422},
      {CircuitBytes(Bytes(ring.begin(), ring.begin() + 19)), 422},
      {CircuitBytes(Bytes(ring.begin(), ring.end() - 1)), 422},
      {CircuitBytes(huge), 422},
      {CircuitBytes(onWall.Encode()), 422},
      {std::string(20, '\0'), 422},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ana->Call("PUT", "circuits", c.bytes, "application/octet-stream").status, c.status) << c.bytes.size();
  }
  // The same circuit twice has one id; a record added to it doesn't change it.
  TestCircuit withRecord = SmallRing();
  withRecord.hasRecordSection = true;
  withRecord.record = {Pt(31, 8), Pt(31, 8), Pt(37, 8)};
  const std::string id = UploadRing(*ana);
  const HttpResult again = ana->Call("PUT", "circuits", CircuitBytes(withRecord.Encode()), "application/octet-stream");
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(Body(again).value("id", ""), id);
  EXPECT_EQ(ana->Call("GET", "circuits/" + id).body.size(), static_cast<size_t>(RecordOffset(60, 40)));

  // A body announced beyond the limit is answered 413 before a byte of it is sent.
  for (const char* request : {"PUT /api/v1/circuits HTTP/1.1\r\nHost: x\r\nContent-Length: 67108865\r\n\r\n",
                              "POST /api/v1/races HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n"}) {
    const int fd = RawConnection(server.url());
    send(fd, request, std::strlen(request), 0);
    EXPECT_EQ(Answer(fd).rfind("HTTP/1.1 413", 0), 0u) << request;
    close(fd);
  }
  // One sent in chunks, with no length announced, is cut off at the limit.
  const int fd = RawConnection(server.url());
  const std::string chunked = "POST /api/v1/races HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
  send(fd, chunked.data(), chunked.size(), 0);
  const std::string chunk = "1000\r\n" + std::string(0x1000, ' ') + "\r\n";
  for (int i = 0; i < 5; ++i) send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
  EXPECT_EQ(Answer(fd).rfind("HTTP/1.1 413", 0), 0u);
  close(fd);
}

TEST(Server, KeepsAnsweringPastIdleSlowAndSilentClients) {
  TempFolder folder;
  ServerProcess server(folder);
  // Idle connections, a header that trickles in, and an event stream that never reads.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 11000);
  setrlimit(RLIMIT_NOFILE, &files);
  std::vector<int> idle;
  const int many = files.rlim_cur >= 11000 ? 10000 : 300;  // as many as this process may hold
  for (int i = 0; i < many; ++i) idle.push_back(RawConnection(server.url()));
  const int slow = RawConnection(server.url());
  send(slow, "GET /api/v1/races?open=1 HTTP/1.1\r\nHo", 37, 0);
  TwoSeatRace race(server.url());
  std::string token;
  auto watcher = SignUp(server.url(), "watcher", &token);
  EventStream silent;
  std::string error;
  ASSERT_TRUE(silent.Open(server.url(), token, race.id, -1, &error)) << error;
  const std::vector<GridPoint> lap = SmallRingLap();
  for (size_t i = 0; i < 10; ++i) {
    ASSERT_EQ(Move(i % 2 == 0 ? *race.ana : *race.bo, race.id, static_cast<long long>(i), lap[i / 2]).status, 201);
    EXPECT_EQ(watcher->Call("GET", "races?open=1").status, 200);
  }
  // Every connection costs little (the sanitizers' own bookkeeping aside).
#ifndef APEXGRID_SANITIZED
  EXPECT_LT(server.ResidentMb(), 200.0);
#endif
  // The trickling header is cut off by the server, never answered.
  EXPECT_EQ(Answer(slow), "");
  close(slow);
  // A WebSocket that never reads, with little room on its side, is cut once 1,024 messages wait
  // for it; the race goes on.
  const long long longRace =
      Body(race.ana->Call("POST", "races", json{{"circuit", UploadRing(*race.ana)}, {"seats", 8}, {"laps", 20}}.dump()))
          .value("id", 0LL);
  std::vector<std::unique_ptr<ApiClient>> seats;
  for (int seat = 1; seat < 8; ++seat) {
    seats.push_back(SignUp(server.url(), "seat" + std::to_string(seat)));
    ASSERT_EQ(seats.back()->Call("POST", "races/" + std::to_string(longRace) + "/seats/" + std::to_string(seat)).status,
              201);
  }
  const int stalled = socket(AF_INET, SOCK_STREAM, 0);
  const int room = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(server.url().port)));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string upgrade = "GET /api/v1/races/" + std::to_string(longRace) +
                              "/events HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                              "Authorization: Bearer " +
                              token + "\r\n\r\n";
  send(stalled, upgrade.data(), upgrade.size(), 0);
  const std::string cut = " event stream of race " + std::to_string(longRace) + " cut, 1024 messages behind";
  size_t moved = 0;
  for (; moved < lap.size() * 160 && (moved % 100 != 0 || server.Log().find(cut) == std::string::npos); ++moved) {
    ASSERT_EQ(Move(moved % 8 == 0 ? *race.ana : *seats[moved % 8 - 1], longRace, static_cast<long long>(moved),
                   lap[(moved / 8) % lap.size()])
                  .status,
              201)
        << moved;
  }
  EXPECT_NE(server.Log().find(cut), std::string::npos) << moved << " moves";
  close(stalled);
  for (const int fd : idle) close(fd);
  EXPECT_EQ(watcher->Call("GET", "races?mine=1").status, 200);
}

TEST_P(ServerOn, KeepsTokensAndHashesOutOfAnswersAndLogsAndBrakesGuessingAndFloods) {
  TempFolder folder;
  ServerProcess server(folder, Database({"--requests-per-minute", "40"}));
  std::string token;
  auto ana = SignUp(server.url(), "ana", &token);
  EXPECT_EQ(token.size(), 64u);  // 256 random bits
  std::string second;
  SignUp(server.url(), "bo", &second);
  EXPECT_NE(token, second);
  ApiClient guesser(server.url());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(
        guesser.Call("POST", "sessions", R"({"name":"ana","password":"guess-)" + std::to_string(i) + "\"}").status,
        401);
  }
  // The brake holds the right password back too, for that name only.
  EXPECT_EQ(guesser.Call("POST", "sessions", R"({"name":"ana","password":"password-of-ana"})").status, 429);
  EXPECT_EQ(guesser.Call("POST", "sessions", R"({"name":"bo","password":"password-of-bo"})").status, 200);
  // Nothing the server says or logs holds a token or a hash; the database holds neither token.
  const std::string race = Body(ana->Call("GET", "races?mine=1")).dump();
  // An address that floods the server is held back, whatever it asks; it is told for how long.
  int answered = 0;
  HttpResult flood;
  while (answered < 50 && (flood = ana->Call("GET", "races?mine=1")).status == 200) ++answered;
  EXPECT_EQ(flood.status, 429);
  EXPECT_LT(answered, 40);
  const int fd = RawConnection(server.url());
  const std::string again = "GET /api/v1/races?open=1 HTTP/1.1\r\nHost: x\r\n\r\n";
  send(fd, again.data(), again.size(), 0);
  EXPECT_NE(Answer(fd).find("\r\nRetry-After: 60\r\n"), std::string::npos);
  close(fd);
  EXPECT_EQ(server.Signal(SIGTERM), 0);
  const std::string log = server.Log();
  for (const std::string& secret : {token, second, std::string("$argon2id"), std::string("password-of")}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    EXPECT_EQ(race.find(secret), std::string::npos) << secret;
  }
  if (OnSqlite()) {
    const std::string database =
        ReadText(folder.HostFile("data/apexgrid-server.db")) + ReadText(folder.HostFile("data/apexgrid-server.db-wal"));
    EXPECT_EQ(database.find(token), std::string::npos);
    EXPECT_NE(database.find("$argon2id"), std::string::npos);
  }
  EXPECT_NE(log.find("POST /api/v1/sessions 429"), std::string::npos);
  EXPECT_NE(log.find("GET /api/v1/races?mine=1 429"), std::string::npos);
}

TEST_P(ServerOn, KeepsEveryAnsweredMoveThroughAKillAndTakesRetriesOnce) {
  TempFolder folder;
  ServerProcess server(folder, Database());
  TwoSeatRace race(server.url());
  const std::vector<GridPoint> lap = SmallRingLap();
  // The server is killed after every few answered moves; each answered move is there after the
  // restart, and the race goes on.
  size_t index = 0;
  for (int life = 0; life < 3; ++life) {
    for (int i = 0; i < 4; ++i, ++index) {
      ApiClient& mover = index % 2 == 0 ? *race.ana : *race.bo;
      const GridPoint to = lap[index / 2];
      ASSERT_EQ(Move(mover, race.id, static_cast<long long>(index), to).status, 201);
      // A retry of the same move is answered the same, and stored once; a different one is refused.
      EXPECT_EQ(Move(mover, race.id, static_cast<long long>(index), to).status, 201);
      EXPECT_EQ(Move(mover, race.id, static_cast<long long>(index), Pt(to.x, to.y + 1)).status, 409);
    }
    EXPECT_EQ(server.Signal(SIGKILL), 128 + SIGKILL);
    server.Start();
    race.ana = SignIn(server.url(), "ana");
    race.bo = SignIn(server.url(), "bo");
    const json state = Race(*race.ana, race.id);
    ASSERT_EQ(state["moves"].size(), index);
    EXPECT_EQ(state["state"], "running");
    EXPECT_EQ(state["turn"], 0);
  }
}

TEST_P(ServerOn, RetiresASeatOutOfTimeAndItsReplayAgrees) {
  TempFolder folder;
  ServerProcess server(folder, Database());
  TwoSeatRace race(server.url(), R"(,"move_seconds":1)");
  // Ana moves; Bo lets his second run out and retires; Ana then races alone to the end.
  const std::vector<GridPoint> lap = SmallRingLap();
  ASSERT_EQ(Move(*race.ana, race.id, 0, lap[0]).status, 201);
  json state;
  for (int i = 0; i < 200 && (state = Race(*race.ana, race.id))["retirements"].empty(); ++i) Pause(25);
  ASSERT_EQ(state["retirements"].size(), 1u);
  EXPECT_EQ(state["retirements"][0]["seat"], 1);
  EXPECT_EQ(Move(*race.bo, race.id, 1, lap[0]).status, 409);
  for (size_t i = 1; i < lap.size(); ++i) {
    ASSERT_EQ(Move(*race.ana, race.id, static_cast<long long>(i), lap[i]).status, 201) << i;
  }
  state = Race(*race.ana, race.id);
  EXPECT_EQ(state["state"], "finished");
  EXPECT_EQ(state["places"], json({{"0", 1}}));
  EXPECT_EQ(Move(*race.ana, race.id, static_cast<long long>(lap.size()), lap[0]).status, 409);
  // The best laps table has Ana's, in the rounds the game's record would count.
  const json laps = Body(race.ana->Call("GET", "circuits/" + state["circuit"].get<std::string>() + "/laps"))["laps"];
  ASSERT_EQ(laps.size(), 1u);
  EXPECT_EQ(laps[0]["player"], "ana");
  EXPECT_EQ(laps[0]["rounds"], static_cast<int>(lap.size()));
  // The race file holds the retirement, and replays to the same end.
  const std::string text = race.ana->Call("GET", "races/" + std::to_string(race.id) + "/file").body;
  EXPECT_NE(text.find("\nretire 1\n"), std::string::npos) << text;
  RaceFile file;
  std::string error;
  ASSERT_EQ(ParseRace(text, "race", &file, &error), 0) << error;
  auto state2 = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(state2->track,
                        [&] {
                          WriteBytes(folder.HostFile("ring.cct"), SmallRing().Encode());
                          return folder.File("ring.cct");
                        }()),
            0);
  RaceProgress progress;
  ASSERT_EQ(ReplayRace(file, "race", *state2, &progress, &error), 0) << error;
  EXPECT_TRUE(progress.over);
  EXPECT_TRUE(progress.retired[1]);
}

TEST_P(ServerOn, PushesMovesToEventStreamsFromTheIndexAsked) {
  TempFolder folder;
  ServerProcess server(folder, Database());
  std::string token;
  TwoSeatRace race(server.url());
  SignUp(server.url(), "watcher", &token);  // anyone signed in may watch
  const std::vector<GridPoint> lap = SmallRingLap();
  ApiClient* ana = race.ana.get();
  ASSERT_EQ(Move(*ana, race.id, 0, lap[0]).status, 201);
  ASSERT_EQ(Move(*race.bo, race.id, 1, lap[0]).status, 201);
  // Reconnecting after move 0: move 1 comes from the backlog, move 2 as it is made.
  EventStream stream;
  std::string error;
  ASSERT_TRUE(stream.Open(server.url(), token, race.id, 0, &error)) << error;
  ASSERT_EQ(Move(*ana, race.id, 2, lap[1]).status, 201);
  std::vector<int> moves;
  std::string message;
  while (moves.size() < 2 && stream.Next(&message, 10, &error)) {
    const json event = json::parse(message);
    if (event["type"] == "move") moves.push_back(event["index"].get<int>());
  }
  EXPECT_EQ(moves, (std::vector<int>{1, 2}));
  // A quiet stream ends a wait at its time; the read goes on, and a later wait has move 3 whole.
  for (int events = 0; events < 8 && stream.Next(&message, 1, &error);) ++events;
  EXPECT_EQ(error, "no event within 1 s");
  // The same as server-sent events, resumed after move 0 by the target or by the last event's id,
  // then the next move as it is made.
  const struct {
    const char* query;
    const char* headers;
  } resumes[] = {{"?after=0", ""}, {"", "Last-Event-ID: 0\r\n"}};
  int next = 3;
  for (const auto& resume : resumes) {
    const int fd = OpenSentEvents(server.url(), token, race.id, resume.query, resume.headers);
    std::string text = SentEventsUntil(fd, next - 1);
    ASSERT_EQ(Move(next % 2 == 0 ? *ana : *race.bo, race.id, next, lap[next / 2]).status, 201);
    text += SentEventsUntil(fd, next);
    close(fd);
    EXPECT_EQ(text.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nContent-Type: text/event-stream\r\n"), std::string::npos);
    std::vector<int> expected;
    for (int i = 1; i <= next; ++i) expected.push_back(i);
    EXPECT_EQ(SentMoves(text), expected) << resume.query << resume.headers;
    ++next;
  }
  int after = -1;
  while (after < 0 && stream.Next(&message, 10, &error)) {
    const json event = json::parse(message);
    if (event["type"] == "move") after = event["index"].get<int>();
  }
  EXPECT_EQ(after, 3) << error;
  // Unknown races and missing tokens get no stream.
  int status = 0;
  EventStream refused;
  EXPECT_FALSE(refused.Open(server.url(), token, 999, -1, &error, &status));
  EXPECT_EQ(status, 404);
  EXPECT_FALSE(refused.Open(server.url(), std::string(64, 'b'), race.id, -1, &error, &status));
  EXPECT_EQ(status, 401);
}

TEST_P(ServerOn, TwoAccountsAndAComputerRaceToTheEndWithTheClient) {
  TempFolder folder;
  ServerProcess server(folder, Database());
  const std::string url = "http://127.0.0.1:" + server.url().port;
  const std::string online = std::string(APEXGRID_ONLINE_PROGRAM) + " --server " + url;
  WriteBytes(folder.HostFile("ring.cct"), SmallRing().Encode());
  const auto as = [&](const std::string& who) { return "XDG_DATA_HOME=" + Quote(folder.HostFile(who)) + " "; };
  ASSERT_EQ(RunShell("echo password-of-ana | " + as("ana") + online + " signup ana >/dev/null", folder), 0);
  ASSERT_EQ(RunShell("echo password-of-bo | " + as("bo") + online + " signup bo >/dev/null", folder), 0);
  // The token is kept for its owner alone.
  struct stat kept {};
  ASSERT_EQ(stat(folder.HostFile("ana/apexgrid/online-session.txt").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0777, 0600u);
  ASSERT_EQ(RunShell(as("ana") + online + " create " + Quote(folder.HostFile("ring.cct")) +
                         " --seats 3 --laps 2 --live --computer 2=pro >" + Quote(folder.HostFile("made")),
                     folder),
            0);
  EXPECT_EQ(ReadText(folder.HostFile("made")), "race 1\n");
  ASSERT_EQ(RunShell(as("bo") + online + " join 1 1 >/dev/null", folder), 0);
  EXPECT_NE(RunShell(as("bo") + online + " join 1 1 2>/dev/null", folder), 0);
  StartShell(as("ana") + online + " bot 1 0 --driver club >" + Quote(folder.HostFile("ana.out")),
             folder.HostFile("ana.rc"));
  StartShell(as("bo") + online + " bot 1 1 --driver pro >" + Quote(folder.HostFile("bo.out")),
             folder.HostFile("bo.rc"));
  ASSERT_TRUE(WaitForFile(folder.HostFile("ana.rc"), 60000) && WaitForFile(folder.HostFile("bo.rc"), 60000));
  EXPECT_EQ(ReadText(folder.HostFile("ana.rc")).substr(0, 1), "0") << ReadText(folder.HostFile("ana.out"));
  EXPECT_EQ(ReadText(folder.HostFile("bo.rc")).substr(0, 1), "0") << ReadText(folder.HostFile("bo.out"));
  ASSERT_EQ(RunShell(as("ana") + online + " fetch 1 " + Quote(folder.HostFile("race.apxrace")) + " >/dev/null", folder),
            0);
  // The fetched file replays through the game's rules to the places the server gave.
  ApiClient ana(server.url());
  ana.SetToken(Body(ana.Call("POST", "sessions", R"({"name":"ana","password":"password-of-ana"})"))["token"]);
  const json state = Race(ana, 1);
  EXPECT_EQ(state["state"], "finished");
  RaceFile file;
  std::string error;
  ASSERT_EQ(ReadRaceFile(folder.HostFile("race.apxrace"), &file, &error), 0) << error;
  EXPECT_EQ(file.seats[0], "ana");
  EXPECT_EQ(file.drivers[2], kRacePro);
  auto replay = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(replay->track, folder.File("ring.cct")), 0);
  RaceProgress progress;
  ASSERT_EQ(ReplayRace(file, "race", *replay, &progress, &error), 0) << error;
  EXPECT_TRUE(progress.over);
  int places[kMaxPlayers];
  RacePlaces(progress, 3, places);
  for (int seat = 0; seat < 3; ++seat) {
    EXPECT_EQ(places[seat], state["places"].value(std::to_string(seat), 0)) << seat;
    EXPECT_GT(places[seat], 0) << "every car finished";
  }
  // The client's one-line answers.
  ProgramRun show = RunProgram(as("ana") + online + " show 1 >" + Quote(folder.HostFile("show")), folder);
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(ReadText(folder.HostFile("show")).rfind("race 1: finished", 0), 0u);
  ProgramRun late = RunProgram(as("ana") + online + " move 1 31,8", folder);
  EXPECT_NE(late.status, 0);
  EXPECT_TRUE(late.Said("apexgrid-online: the race is over (409)")) << late.lines.size();
}

TEST(Server, ServesHttpsAndSecureEventStreamsWithTheCertificateGiven) {
  TempFolder folder;
  const std::string cert = folder.HostFile("cert.pem");
  const std::string key = folder.HostFile("key.pem");
  ASSERT_EQ(RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                     "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                         Quote(key) + " -out " + Quote(cert) + " 2>/dev/null",
                     folder),
            0);
  ServerProcess server(folder, {"--tls-cert", cert, "--tls-key", key});
  ServerUrl trusting = server.url();
  trusting.caFile = cert;
  std::string token;
  auto ana = SignUp(trusting, "ana", &token);
  const std::string circuit = UploadRing(*ana);
  ASSERT_EQ(ana->Call("POST", "races", R"({"circuit":")" + circuit + R"(","seats":2})").status, 201);
  EventStream stream;
  std::string error;
  ASSERT_TRUE(stream.Open(trusting, token, 1, -1, &error)) << error;
  std::string message;
  ASSERT_TRUE(stream.Next(&message, 10, &error)) << error;
  EXPECT_EQ(json::parse(message)["state"], "open");
  // A client that doesn't trust the certificate, or speaks plain HTTP, gets nothing.
  ServerUrl plain = server.url();
  plain.tls = false;
  for (const ServerUrl& url : {server.url(), plain}) {
    ApiClient client(url);
    const HttpResult result = client.Call("GET", "races?open=1");
    EXPECT_EQ(result.status, 0) << result.body;
  }
}

namespace {

// Waits for the race's first retirement; the race as it then is.
json RetiredOnce(ApiClient& client, long long race) {
  json state;
  for (int i = 0; i < 200 && (state = Race(client, race))["retirements"].empty(); ++i) Pause(25);
  return state;
}

}  // namespace

TEST(PostgresServers, ShareARaceItsPushesAndTheClockThroughAKilledServer) {
  PgCluster cluster;
  if (!cluster.installed()) GTEST_SKIP() << cluster.why();
  ASSERT_FALSE(cluster.url().empty()) << cluster.why();
  const std::vector<std::string> database = {"--database", cluster.url()};
  TempFolder folderA;
  TempFolder folderB;
  ServerProcess a(folderA, database);
  TwoSeatRace race(a.url());
  const std::string circuit = UploadRing(*race.ana);
  const std::string timedRace = R"({"circuit":")" + circuit + R"(","seats":2,"laps":1,"move_seconds":1})";
  const auto timed = [&](ApiClient& ana, ApiClient& bo) {
    const long long id = Body(ana.Call("POST", "races", timedRace)).value("id", 0LL);
    EXPECT_EQ(bo.Call("POST", "races/" + std::to_string(id) + "/seats/1").status, 201);
    EXPECT_EQ(Move(ana, id, 0, SmallRingLap()[0]).status, 201);
    return id;
  };
  // Alone, A plays the clock: Bo runs out of time.
  const long long first = timed(*race.ana, *race.bo);
  EXPECT_EQ(RetiredOnce(*race.ana, first)["retirements"].size(), 1u);
  // B shares the database: it serves A's accounts, races and circuits, and pushes A's moves.
  ServerProcess b(folderB, database);
  auto boOnB = SignIn(b.url(), "bo");
  EXPECT_EQ(boOnB->Call("GET", "circuits/" + circuit).body, CircuitBytes(SmallRing().Encode()));
  std::string token;
  SignUp(b.url(), "watcher", &token);
  // The watcher reads server-sent events, whose socket gives up after 10 s without a word.
  const int watcher = OpenSentEvents(b.url(), token, race.id, "", "");
  const std::vector<GridPoint> lap = SmallRingLap();
  const size_t moves = lap.size() * 2;
  std::string said;
  std::vector<int> heard;
  const auto hear = [&](size_t count) {
    said += SentEventsUntil(watcher, static_cast<int>(count) - 1);
    heard = SentMoves(said);
  };
  // Moves on A reach B's watcher as they are made.
  size_t index = 0;
  for (; index < 4; ++index) {
    ApiClient& mover = index % 2 == 0 ? *race.ana : *race.bo;
    ASSERT_EQ(Move(mover, race.id, static_cast<long long>(index), lap[index / 2]).status, 201) << index;
  }
  hear(index);
  EXPECT_EQ(heard, (std::vector<int>{0, 1, 2, 3}));
  for (; index < 6; ++index) {
    ApiClient& mover = index % 2 == 0 ? *race.ana : *boOnB;
    ASSERT_EQ(Move(mover, race.id, static_cast<long long>(index), lap[index / 2]).status, 201) << index;
  }
  // One server's answered move is refused on the other when sent again differently.
  EXPECT_EQ(Move(*boOnB, race.id, 5, Pt(lap[2].x, lap[2].y + 1)).status, 409);
  // The clock stays with A, which took it first: B leaves the due race alone.
  const long long shared = timed(*race.ana, *boOnB);
  EXPECT_EQ(RetiredOnce(*boOnB, shared)["retirements"].size(), 1u);
  const std::string retired = "race " + std::to_string(shared) + " seat 1 retired";
  EXPECT_NE(a.Log().find(retired), std::string::npos);
  EXPECT_EQ(b.Log().find(retired), std::string::npos);
  // A dies mid-race; the race ends through B.
  EXPECT_EQ(a.Signal(SIGKILL), 128 + SIGKILL);
  auto anaOnB = SignIn(b.url(), "ana");
  for (; index < moves; ++index) {
    ApiClient& mover = index % 2 == 0 ? *anaOnB : *boOnB;
    ASSERT_EQ(Move(mover, race.id, static_cast<long long>(index), lap[index / 2]).status, 201) << index;
  }
  const json state = Race(*anaOnB, race.id);
  EXPECT_EQ(state["state"], "finished");
  EXPECT_EQ(state["moves"].size(), moves);
  // B's watcher heard every move once, in order, whichever server took it.
  hear(moves);
  std::vector<int> expected(moves);
  for (size_t i = 0; i < moves; ++i) expected[i] = static_cast<int>(i);
  EXPECT_EQ(heard, expected);
  close(watcher);
  // With A gone, B takes the clock.
  const long long second = timed(*anaOnB, *boOnB);
  EXPECT_EQ(RetiredOnce(*anaOnB, second)["retirements"].size(), 1u);
  EXPECT_NE(b.Log().find("race " + std::to_string(second) + " seat 1 retired"), std::string::npos);
}

// ---- The threaded client, as the desktop programs use it ----------------------------------------

namespace {

// What a window handed WM_NETWORK took from the client, in arrival order.
NetClient* windowClient = nullptr;
std::vector<NetResult> taken;

intptr_t NetworkProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_NETWORK) {
    NetResult result;
    if (windowClient != nullptr && windowClient->Take(wParam, &result)) taken.push_back(std::move(result));
    return 0;
  }
  return DefWindowProc(window, message, wParam, lParam);
}

// The loop's thread, in real time: hands on messages until `done` holds, for at most ten seconds.
template <class Done>
void PumpUntil(Done done) {
  for (int i = 0; i < 2000 && !done(); ++i) {
    Message message;
    while (PeekMessage(&message)) DispatchMessage(&message);
    if (!done()) Pause(5);
  }
}

bool Arrived(NetKind kind, size_t from = 0) {
  return std::any_of(taken.begin() + static_cast<long>(from), taken.end(),
                     [kind](const NetResult& r) { return r.kind == kind; });
}

std::vector<long long> MoveIndices() {
  std::vector<long long> indices;
  for (const NetResult& r : taken) {
    if (r.kind != NetKind::kEvent) continue;
    const json event = json::parse(r.event, nullptr, false);
    if (event.value("type", "") == "move") indices.push_back(event["index"].get<long long>());
  }
  return indices;
}

}  // namespace

TEST(NetClient, ReconnectsWithBackOff) {
  const int expected[] = {0, 1, 2, 4, 8, 16, 30, 30};
  for (int failures = 0; failures < 8; ++failures) {
    EXPECT_EQ(ReconnectDelaySeconds(failures), expected[failures]) << failures;
  }
}

// Answers and events reach the window on the loop's thread; an unreachable server is an answer
// with its reason, never a wait; the race's stream survives the server's kill and restart and
// passes on every move exactly once.
TEST(NetClient, HandsAnswersAndEventsToTheWindowThroughAKilledServer) {
  TempFolder folder;
  setenv("APEXGRID_VIDEO", "headless", 1);
  setenv("APEXGRID_INSTANCE", folder.host().c_str(), 1);
  unsetenv("APEXGRID_SCRIPT");
  char name[] = "NetTest";
  char* argv[] = {name};
  std::string error;
  ASSERT_EQ(StartPlatform(1, argv, "NetTest", &error), 0) << error;
  WindowClass windowClass;
  windowClass.windowProc = NetworkProc;
  windowClass.className = u"NETTEST";
  RegisterClass(&windowClass);
  WindowHandle window =
      CreateWindow(u"NETTEST", u"NetTest", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  ASSERT_NE(window, nullptr);
  taken.clear();

  ServerProcess server(folder);
  TwoSeatRace race(server.url());
  {
    // A port nobody listens on: its answer says so.
    ServerUrl nowhere = server.url();
    nowhere.port = "1";
    NetClient lost(window, nowhere, 2);
    windowClient = &lost;
    const uint32_t id = lost.Request("GET", "races?mine=1");
    PumpUntil([] { return !taken.empty(); });
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].request, id);
    EXPECT_EQ(taken[0].http.status, 0);
    EXPECT_NE(taken[0].http.error.find("can't reach"), std::string::npos) << taken[0].http.error;
  }
  taken.clear();

  NetClient client(window, server.url(), 5);
  windowClient = &client;
  const HttpResult session =
      ApiClient(server.url()).Call("POST", "sessions", R"({"name":"bo","password":"password-of-bo"})");
  client.SetToken(Body(session).value("token", ""));
  const uint32_t asked = client.Request("GET", "races/" + std::to_string(race.id));
  PumpUntil([] { return !taken.empty(); });
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].request, asked);
  EXPECT_EQ(taken[0].http.status, 200);
  EXPECT_EQ(Body(taken[0].http).value("state", ""), "running");

  const std::vector<GridPoint> lap = SmallRingLap();
  ASSERT_EQ(Move(*race.ana, race.id, 0, lap[0]).status, 201);
  taken.clear();
  client.Follow(race.id, -1);
  PumpUntil([] { return MoveIndices().size() == 1; });
  EXPECT_TRUE(Arrived(NetKind::kConnected));
  ASSERT_EQ(Move(*race.bo, race.id, 1, lap[0]).status, 201);
  PumpUntil([] { return MoveIndices().size() == 2; });
  EXPECT_EQ(MoveIndices(), (std::vector<long long>{0, 1}));

  // Killed and brought back on the same port: the stream is lost, comes back after its wait, and
  // asks only for what followed move 1.
  const std::string port = server.url().port;
  EXPECT_EQ(server.Signal(SIGKILL), 128 + SIGKILL);
  const size_t before = taken.size();
  PumpUntil([before] { return Arrived(NetKind::kLost, before); });
  ASSERT_TRUE(Arrived(NetKind::kLost, before));
  EXPECT_EQ(taken.back().kind, NetKind::kLost);
  EXPECT_EQ(taken.back().retrySeconds, 1);
  server.Start(port);
  ApiClient ana(server.url());
  ana.SetToken(Body(ana.Call("POST", "sessions", R"({"name":"ana","password":"password-of-ana"})"))["token"]);
  ASSERT_EQ(Move(ana, race.id, 2, lap[1]).status, 201);
  PumpUntil([] { return MoveIndices().size() >= 3; });
  EXPECT_EQ(MoveIndices(), (std::vector<long long>{0, 1, 2}));
  EXPECT_TRUE(Arrived(NetKind::kConnected, before));

  client.StopFollowing();
  windowClient = nullptr;
  StopPlatform(0);
}

// A server that takes the connection and never answers: a client shutting down doesn't wait for it
// (the call's own limit is far beyond the bound here).
TEST(NetClient, ShutsDownAtOnceWhileARequestWaitsForAnAnswer) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  ServerUrl silent;
  silent.host = "127.0.0.1";
  silent.port = std::to_string(ntohs(address.sin_port));
  auto client = std::make_unique<NetClient>(nullptr, silent, 30);
  client->Request("GET", "races?mine=1");
  Pause(200);  // connected (the kernel accepts for the listener) and waiting for the answer
  std::atomic<bool> closed{false};
  std::thread closer([&client, &closed] {
    client.reset();
    closed = true;
  });
  for (int i = 0; i < 400 && !closed; ++i) Pause(25);
  EXPECT_TRUE(closed) << "still waiting for the silent server";
  closer.join();
  close(listener);
}

// ---- Apexlobby's decisions against the server ----------------------------------------------------

namespace {

Lobby* windowLobby = nullptr;

intptr_t LobbyProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_NETWORK && windowLobby != nullptr) {
    OnNetwork(windowLobby, wParam);
    return 0;
  }
  return DefWindowProc(window, message, wParam, lParam);
}

// Hands on results until the lobby has no question left open.
void Settle(Lobby* lobby) {
  PumpUntil([lobby] { return lobby->asked.empty(); });
}

// A lobby of its own user folder, signed up (or in) to the server.
void SignedIn(Lobby* lobby, WindowHandle window, const TempFolder& folder, const ServerUrl& url,
              const std::string& user, bool signUp) {
  InitLobby(lobby, folder.File("program"), folder.File("program"), folder.File(user));
  OpenLobby(lobby, window);
  std::snprintf(lobby->server, sizeof lobby->server, "http://127.0.0.1:%s", url.port.c_str());
  OnUseServer(lobby);
  std::snprintf(lobby->name, sizeof lobby->name, "%s", user.c_str());
  std::snprintf(lobby->password, sizeof lobby->password, "password-of-%s", user.c_str());
  windowLobby = lobby;
  OnSignIn(lobby, signUp);
  Settle(lobby);
}

}  // namespace

TEST(Lobby, SaysWhatWentWrongInOneClearLine) {
  struct Case {
    LobbyAsk ask;
    int status;
    const char* body;
    const char* line;
  };
  const Case cases[] = {
      {LobbyAsk::kMine, 0, "", "The server can't be reached: "},
      {LobbyAsk::kSignIn, 401, R"({"error":"wrong name or password"})", "Sign-in refused: wrong name or password."},
      {LobbyAsk::kSignIn, 429, "", "Too many failed sign-ins"},
      {LobbyAsk::kSignUp, 429, "", "Too many new accounts from here"},
      {LobbyAsk::kSignUp, 409, "", "That name is taken."},
      {LobbyAsk::kJoin, 409, R"({"error":"taken"})", "That seat is taken"},
      {LobbyAsk::kMine, 401, "", "Signed out by the server"},
      {LobbyAsk::kCreate, 400, R"({"error":"laps out of range"})", "The server answered 400 (laps out of range)."},
      {LobbyAsk::kCreate, 201, R"({"id":3})", ""},
  };
  for (const Case& c : cases) {
    HttpResult answer;
    answer.status = c.status;
    answer.body = c.body;
    answer.error = "connection refused";
    EXPECT_EQ(LobbyLineFor(c.ask, answer).rfind(c.line, 0), 0u) << c.status << ": " << LobbyLineFor(c.ask, answer);
  }
  // The form's race: computers take the last seats; a correspondence race's time is in seconds.
  NewRaceForm form;
  form.seats = 4;
  form.laps = 2;
  form.computers = 2;
  form.correspondence = true;
  form.hours = 2;
  form.assists = false;
  EXPECT_EQ(json::parse(NewRaceBody(form, "abc")),
            json::parse(R"({"circuit":"abc","seats":4,"laps":2,"pace":"correspondence","move_seconds":7200,
                            "assists":false,"computers":{"3":"club","2":"club"}})"));
}

// Two lobbies against a real server: an unreachable server and a wrong password each get their
// line; a new race from the selector's list appears under My races; the second player joins from
// Open races; the race where it is your turn comes first and is marked; a third player finds the
// seat taken; the token is kept for its owner only; a correspondence race that becomes yours to
// move is noticed once.
TEST(Lobby, SignsUpCreatesJoinsAndOrdersRacesAgainstTheServer) {
  TempFolder folder;
  setenv("APEXGRID_VIDEO", "headless", 1);
  setenv("APEXGRID_INSTANCE", folder.host().c_str(), 1);
  unsetenv("APEXGRID_SCRIPT");
  char name[] = "LobbyTest";
  char* argv[] = {name};
  std::string error;
  ASSERT_EQ(StartPlatform(1, argv, "LobbyTest", &error), 0) << error;
  WindowClass windowClass;
  windowClass.windowProc = LobbyProc;
  windowClass.className = u"LOBBYTEST";
  RegisterClass(&windowClass);
  WindowHandle window =
      CreateWindow(u"LOBBYTEST", u"LobbyTest", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  ASSERT_NE(window, nullptr);
  std::filesystem::create_directories(folder.HostFile("program/Circuits"));
  WriteBytes(folder.HostFile("program/Circuits/Ring.cct"), SmallRing().Encode());

  {
    Lobby nowhere;
    ServerUrl closed;
    closed.host = "127.0.0.1";
    closed.port = "1";
    SignedIn(&nowhere, window, folder, closed, "ana", true);
    EXPECT_EQ(nowhere.line.rfind("The server can't be reached", 0), 0u) << nowhere.line;
    EXPECT_EQ(nowhere.page, LobbyPage::kSignIn);
  }
  ServerProcess server(folder);
  auto ana = std::make_unique<Lobby>();
  SignedIn(ana.get(), window, folder, server.url(), "ana", true);
  ASSERT_EQ(ana->page, LobbyPage::kRaces) << ana->line;
  struct stat token {};
  ASSERT_EQ(stat(folder.HostFile("ana/Data/lobby-token").c_str(), &token), 0);
  EXPECT_EQ(token.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadTokenFile(folder.File("ana/Data/lobby-token")), ana->token);
  EXPECT_EQ(ana->line.find(ana->token), std::string::npos);

  // Two races, the first made ends up second once it is Ana's turn in it.
  ASSERT_EQ(ana->circuitNames, std::vector<std::string>{"Ring"});
  for (int seats : {2, 3}) {
    ana->form.seats = seats;
    ana->form.correspondence = seats == 2;
    OnCreateRace(ana.get());
    Settle(ana.get());
  }
  ASSERT_EQ(ana->mine.size(), 2u) << ana->line;
  EXPECT_TRUE(ana->open.empty()) << "races Ana sits in are hers, not open to her";
  const long long first = ana->mine[1].id;
  EXPECT_EQ(ana->mine[0].seats, 3);
  EXPECT_FALSE(ana->mine[0].yourTurn || ana->mine[1].yourTurn);

  Lobby bo;
  SignedIn(&bo, window, folder, server.url(), "bo", true);
  ASSERT_EQ(bo.open.size(), 2u) << bo.line;
  bo.selectedOpen = bo.open[0].id == first ? 0 : 1;
  OnJoinRace(&bo);
  Settle(&bo);
  EXPECT_EQ(bo.line, "Joined race " + std::to_string(first) + ".");
  ASSERT_EQ(bo.mine.size(), 1u);
  EXPECT_EQ(bo.mine[0].turnName, "ana");
  EXPECT_FALSE(bo.mine[0].yourTurn);

  windowLobby = ana.get();
  OnRefresh(ana.get());
  Settle(ana.get());
  ASSERT_EQ(ana->mine.size(), 2u);
  EXPECT_EQ(ana->mine[0].id, first);
  EXPECT_TRUE(ana->mine[0].yourTurn);
  EXPECT_EQ(ana->mine[0].mySeat, 0);
  // Bo's joining made it Ana's turn in a correspondence race: noticed once (and, with no
  // notification service here, shown nowhere, quietly), not again at the next look.
  EXPECT_EQ(ana->notified, std::vector<long long>{first});
  OnRefresh(ana.get());
  Settle(ana.get());
  EXPECT_EQ(ana->notified, std::vector<long long>{first});

  // A game open already keeps its own race when started again: the lobby brings it forward and
  // says what to do, not that the race opened.
  windowClass.className = u"APEXGRID";
  RegisterClass(&windowClass);
  ASSERT_NE(
      CreateWindow(u"APEXGRID", u"Apexgrid", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT),
      nullptr);
  ana->selectedMine = 0;
  OnOpenRace(ana.get());
  Settle(ana.get());
  EXPECT_EQ(ana->line, "The game is open already; close it, then open race " + std::to_string(first) + " again.");

  // Cy saw the race open, but Bo was quicker; and a wrong password is refused in plain words.
  Lobby cy;
  SignedIn(&cy, window, folder, server.url(), "cy", true);
  LobbyRace stale;
  stale.id = first;
  cy.open = {stale};
  cy.selectedOpen = 0;
  OnJoinRace(&cy);
  Settle(&cy);
  EXPECT_EQ(cy.line.rfind("That seat is taken", 0), 0u) << cy.line;
  std::snprintf(cy.password, sizeof cy.password, "not-the-password");
  OnSignIn(&cy, false);
  Settle(&cy);
  EXPECT_EQ(cy.line, "Sign-in refused: wrong name or password.");

  windowLobby = nullptr;
  ana.reset();
  bo.client.reset();
  cy.client.reset();
  StopPlatform(0);
}

// Apexlobby itself, headless, scripted as a player would use it: the address typed and Enter, a
// sign-in by Enter refused, signed up, a race made on the circuit listed, and opened: its file in
// Races/ is the server's, and the game is started on it. The token is kept for its owner only and
// never said.
TEST(Lobby, TheProgramSignsUpMakesARaceAndOpensItInTheGame) {
  TempFolder folder;
  ServerProcess server(folder);
  ProgramFolder program("Game");
  program.AddProgram(APEXGRID_LOBBY_PROGRAM, "Apexlobby");
  WriteBytes(program.HostFile("Circuits/Ring.cct"), SmallRing().Encode());
  // Enter takes the address, and Enter signs in (refused: there is no such account yet).
  const std::string script = "tap 120 50\ntype http://127.0.0.1:" + server.url().port +
                             "\nkey start\ntap 120 60\ntype ana\ntap 120 95\ntype password-of-ana\n"
                             "key start\nnetwork 1 10000\n"
                             "storno\nnetwork 5 10000\nstorno\nstart\nnetwork 10 10000\nselect 0\nstart\n"
                             "network 11 10000\nok\n";
  WriteText(program.scratch().HostFile("script"), script);
  const ProgramRun run = RunProgram("env -u APEXGRID_SCRIPT -u APEXGRID_START APEXGRID_VIDEO=headless " +
                                        LeakSuppressions() + "XDG_DATA_HOME=" + Quote(folder.HostFile("home")) +
                                        " APEXGRID_SCRIPT_Apexlobby=" + Quote(program.scratch().HostFile("script")) +
                                        " " + Quote(program.HostFile("Apexlobby")),
                                    program.scratch());
  EXPECT_EQ(run.status, 0);
  const std::string raceFile = program.Device() + "\\Races\\Online-1.apxrace";
  EXPECT_EQ(run.lines, std::vector<std::string>{"START " + program.Device() + "\\Apexgrid.exe | " + raceFile});
  ApiClient ana(server.url());
  const HttpResult session = ana.Call("POST", "sessions", R"({"name":"ana","password":"password-of-ana"})");
  ana.SetToken(Body(session).value("token", ""));
  const HttpResult file = ana.Call("GET", "races/1/file");
  ASSERT_EQ(file.status, 200);
  EXPECT_EQ(ReadText(program.HostFile("Races/Online-1.apxrace")), file.body);
  struct stat token {};
  ASSERT_EQ(stat(folder.HostFile("home/apexgrid/Data/lobby-token").c_str(), &token), 0);
  EXPECT_EQ(token.st_mode & 0777, 0600u);
  const std::string kept = ReadText(folder.HostFile("home/apexgrid/Data/lobby-token"));
  EXPECT_EQ(kept.size(), 64u);
  for (const std::string& line : run.lines) EXPECT_EQ(line.find(kept), std::string::npos) << line;
  EXPECT_EQ(ReadText(folder.HostFile("home/apexgrid/Data/lobby.txt")).find("password"), std::string::npos);

  // On a computer without the circuit, the race opens too: still signed in, the circuit comes
  // from the server under the hash the race names it by, where the game finds it.
  ProgramFolder bare("Bare");
  bare.AddProgram(APEXGRID_LOBBY_PROGRAM, "Apexlobby");
  WriteText(bare.scratch().HostFile("script"), "network 3 10000\nselect 0\nstart\nnetwork 5 10000\nok\n");
  const ProgramRun again = RunProgram("env -u APEXGRID_SCRIPT -u APEXGRID_START APEXGRID_VIDEO=headless " +
                                          LeakSuppressions() + "XDG_DATA_HOME=" + Quote(folder.HostFile("home")) +
                                          " APEXGRID_SCRIPT_Apexlobby=" + Quote(bare.scratch().HostFile("script")) +
                                          " " + Quote(bare.HostFile("Apexlobby")),
                                      bare.scratch());
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.lines, std::vector<std::string>{"START " + bare.Device() + "\\Apexgrid.exe | " + bare.Device() +
                                                  "\\Races\\Online-1.apxrace"});
  RaceFile race;
  std::string error;
  ASSERT_EQ(ParseRace(file.body, "race", &race, &error), 0) << error;
  EXPECT_EQ(FindRaceCircuit(race, "race", {bare.HostFile("Circuits")}, &error),
            bare.HostFile("Circuits/" + race.circuitSha256 + ".cct"))
      << error;
}

// ---- The game playing online ---------------------------------------------------------------------

namespace {

// The moves and retirements of a race file as its lines say them, in order.
std::string RaceLines(const std::string& text) {
  std::string kept;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("move ", 0) == 0 || line.rfind("retire ", 0) == 0) kept += line + "\n";
  }
  return kept;
}

// A game of its own folder, headless, playing the race file for a signed-in account: its race
// file in Races/, the lobby's name and token in its user folder, its script beside it.
struct OnlinePlayer {
  std::string name;
  std::unique_ptr<GameFolder> game;

  // `raceFile`: the file's text; `driver` drives the account's seat (the game's computer, so that
  // the run needs no taps); `waits`: the script's steps, each a computer's pause in virtual time.
  OnlinePlayer(const TempFolder& folder, const ServerUrl& url, const std::string& account, std::string raceFile,
               int seat, int waits)
      : name(account), game(std::make_unique<GameFolder>()) {
    game->AddCircuit("Ring.cct", SmallRing());
    std::filesystem::create_directories(game->Host("Races"));
    const std::string human = "driver " + std::to_string(seat) + " human";
    if (raceFile.find(human) != std::string::npos) {
      raceFile.replace(raceFile.find(human), human.size(), "driver " + std::to_string(seat) + " club");
    }
    WriteText(game->Host("Races/Online.apxrace"), raceFile);
    const std::string data = folder.HostFile(name + "/apexgrid/Data");
    std::filesystem::create_directories(data);
    WriteText(data + "/lobby.txt", "name = " + name + "\n");
    const HttpResult session =
        ApiClient(url).Call("POST", "sessions", json{{"name", name}, {"password", "password-of-" + name}}.dump());
    WriteText(data + "/lobby-token", Body(session).value("token", ""));
    std::string script;
    for (int i = 0; i < waits; ++i) script += "wait 900\nsleep 20\n";
    WriteText(game->Host("../" + name + ".script"), script);
  }

  // In the background, its process id written down so that it can be killed; `run` names the
  // status file of this start.
  void Start(const TempFolder& folder, const std::string& run = "") const {
    StartShell("sh -c 'echo $$ >" + Quote(folder.HostFile(name + ".pid")) + "; exec \"$@\"' game " + game->Isolation() +
                   " APEXGRID_VIDEO=headless XDG_DATA_HOME=" + Quote(folder.HostFile(name)) + " APEXGRID_SCRIPT=" +
                   Quote(game->Host("../" + name + ".script")) + " " + Quote(game->Host("Apexgrid")) + " " +
                   Quote(game->Device("Races/Online.apxrace")) + " 2>>" + Quote(game->Host("../" + name + ".err")),
               folder.HostFile(name + run + ".status"));
  }
  // Ends the game as a crash or a power cut would.
  void Kill(const TempFolder& folder) const {
    ASSERT_TRUE(WaitForFile(folder.HostFile(name + ".pid")));
    kill(std::stoi(ReadText(folder.HostFile(name + ".pid"))), SIGKILL);
  }
  std::string RaceFileText() const { return ReadText(game->Host("Races/Online.apxrace")); }
  std::string Said() const { return ReadText(game->Host("../" + name + ".err")); }
};

std::string ServerLines(const json& race) {
  std::string lines;
  for (const json& m : race["moves"]) {
    lines += "move " + std::to_string(m["seat"].get<int>()) + " " + std::to_string(m["x"].get<int>()) + " " +
             std::to_string(m["y"].get<int>()) + "\n";
  }
  return lines;
}

}  // namespace

// Games on loopback, each playing its own seat (driven by the game's own computer), race a live
// 2-lap race to the end: two games through a kill of the server and its restart on the same port,
// and a kill of one game and its restart on its race file (the games reconnect, send what waited,
// catch up); and one game against the server's computer. Every race file ends holding the server's
// moves, each once.
TEST(OnlineGame, GamesRaceToTheEndThroughKillsOfTheServerAndOfAGame) {
  struct Case {
    const char* what;
    bool computer;  // seat 1 is the server's computer, not Bo's game
    bool kills;
  };
  const Case cases[] = {
      {"two games, the server and a game killed", false, true},
      {"one game against the server's computer", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    ServerProcess server(folder);
    auto ana = SignUp(server.url(), "ana");
    auto bo = SignUp(server.url(), "bo");
    const std::string body = json{{"circuit", UploadRing(*ana)}, {"seats", 2}, {"laps", 2}}.dump();
    const std::string computer = c.computer ? R"(,"computers":{"1":"club"}})" : "}";
    const HttpResult made = ana->Call("POST", "races", body.substr(0, body.size() - 1) + computer);
    ASSERT_EQ(made.status, 201) << made.body;
    const long long id = Body(made).value("id", 0LL);
    if (!c.computer) {
      ASSERT_EQ(bo->Call("POST", "races/" + std::to_string(id) + "/seats/1").status, 201);
    }
    const HttpResult file = ana->Call("GET", "races/" + std::to_string(id) + "/file");
    ASSERT_EQ(file.status, 200);
    // The games' scripts outlast the race by far; they are stopped once the race has settled.
    std::vector<std::unique_ptr<OnlinePlayer>> players;
    players.push_back(std::make_unique<OnlinePlayer>(folder, server.url(), "ana", file.body, 0, 5000));
    if (!c.computer) players.push_back(std::make_unique<OnlinePlayer>(folder, server.url(), "bo", file.body, 1, 5000));
    for (const auto& player : players) player->Start(folder);
    if (c.kills) {
      // A few moves in, the server dies and comes back where it was.
      for (int i = 0; i < 400 && Race(*ana, id)["moves"].size() < 4; ++i) Pause(25);
      ASSERT_GE(Race(*ana, id)["moves"].size(), 4u) << server.Log();
      const std::string port = server.url().port;
      EXPECT_EQ(server.Signal(SIGKILL), 128 + SIGKILL);
      Pause(300);
      server.Start(port);
      // Then Bo's game is killed, and started again on its race file: it catches up and goes on.
      for (int i = 0; i < 400 && Race(*ana, id)["moves"].size() < 8; ++i) Pause(25);
      players[1]->Kill(folder);
      EXPECT_EQ(Race(*ana, id)["state"], "running") << "killed mid-race";
      ASSERT_TRUE(WaitForFile(folder.HostFile("bo.status"), 60000));
      EXPECT_EQ(ReadText(folder.HostFile("bo.status")), "137\n");
      Pause(500);
      players[1]->Start(folder, "-again");
    }
    // The race ends, and every game's file comes to hold the server's moves.
    json state;
    const auto settled = [&] {
      state = Race(*ana, id);
      if (state["state"] != "finished") return false;
      return std::all_of(players.begin(), players.end(),
                         [&](const auto& player) { return RaceLines(player->RaceFileText()) == ServerLines(state); });
    };
    for (int i = 0; i < 900 && !settled(); ++i) Pause(100);
    for (const auto& player : players) player->Kill(folder);
    EXPECT_TRUE(WaitForFile(folder.HostFile("ana.status")));
    if (!c.computer) {
      EXPECT_TRUE(WaitForFile(folder.HostFile(c.kills ? "bo-again.status" : "bo.status")));
    }
    EXPECT_EQ(state["state"], "finished");
    for (const auto& player : players) {
      EXPECT_EQ(RaceLines(player->RaceFileText()), ServerLines(state)) << player->name << " said: " << player->Said();
    }
  }
}

// A race file that has left the server's race: a move the server refuses (the race hasn't begun
// there), or a move the server holds otherwise (made elsewhere). The game takes the race as the
// server holds it, into its file and onto its board, and plays on from there.
TEST(OnlineGame, ARaceThatLeftTheServersIsTakenAsTheServerHoldsIt) {
  struct Case {
    const char* what;
    bool begun;  // Bo has joined and Ana's first move was made elsewhere
  };
  for (const Case c : {Case{"refused", false}, Case{"made elsewhere", true}}) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    ServerProcess server(folder);
    auto ana = SignUp(server.url(), "ana");
    auto bo = SignUp(server.url(), "bo");
    const HttpResult made = ana->Call("POST", "races", json{{"circuit", UploadRing(*ana)}, {"seats", 2}}.dump());
    ASSERT_EQ(made.status, 201) << made.body;
    const long long id = Body(made).value("id", 0LL);
    const HttpResult file = ana->Call("GET", "races/" + std::to_string(id) + "/file");
    ASSERT_EQ(file.status, 200);
    if (c.begun) {
      ASSERT_EQ(bo->Call("POST", "races/" + std::to_string(id) + "/seats/1").status, 201);
      ASSERT_EQ(Move(*ana, id, 0, GridPoint{32, 8}).status, 201);
    }
    OnlinePlayer game(folder, server.url(), "ana", file.body + "move 0 33 8\n", 0, 5000);
    game.Start(folder);
    const std::string theirs = c.begun ? "move 0 32 8\n" : "";
    for (int i = 0; i < 800 && RaceLines(game.RaceFileText()) != theirs; ++i) Pause(25);
    EXPECT_EQ(RaceLines(game.RaceFileText()), theirs) << game.Said();
    if (!c.begun) {
      ASSERT_EQ(bo->Call("POST", "races/" + std::to_string(id) + "/seats/1").status, 201);
      for (int i = 0; i < 800 && Race(*ana, id)["moves"].empty(); ++i) Pause(25);
      const json state = Race(*ana, id);
      ASSERT_EQ(state["moves"].size(), 1u) << "Ana's game plays on: " << game.Said();
      for (int i = 0; i < 800 && RaceLines(game.RaceFileText()).empty(); ++i) Pause(25);
      EXPECT_EQ(RaceLines(game.RaceFileText()), ServerLines(state)) << game.Said();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.HostFile("ana.status"))) << "the game plays on: " << game.Said();
    game.Kill(folder);
    EXPECT_TRUE(WaitForFile(folder.HostFile("ana.status")));
  }
}
