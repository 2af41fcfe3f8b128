// apexgrid-online: the command-line client of the race server, for people and scripts.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "brain/driver.h"
#include "net/http_client.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "server/circuit_upload.h"
#include "server/race_play.h"

using nlohmann::json;

namespace {

const char kUsage[] =
    "usage: apexgrid-online [--server URL] [--ca CERTIFICATES.pem] COMMAND ...\n"
    "  URL is http[s]://HOST[:PORT]; --ca names the certificates an https server is checked\n"
    "  against (the system's by default); without --server, the last server signed in to\n"
    "  signup NAME | login NAME          the password from the terminal, or standard input\n"
    "  upload CIRCUIT.cct\n"
    "  create CIRCUIT.cct --seats N --laps L [--live [SECONDS] | --correspondence HOURS]\n"
    "         [--computer SEAT=club|pro]... [--assists on|off]\n"
    "  races [--open]\n"
    "  join RACE SEAT\n"
    "  move RACE X,Y\n"
    "  show RACE\n"
    "  watch RACE\n"
    "  fetch RACE OUT.apxrace\n"
    "  bot RACE SEAT --driver pro|club\n";

// A failure: the one-line reason, and exit status 1.
struct Failure {
  std::string reason;
};

[[noreturn]] void Fail(const std::string& reason) { throw Failure{reason}; }

// ---- The saved session: one line per server, "URL TOKEN NAME", in a file only its owner reads ----

std::string SessionFile() {
  const std::u16string folder = UserDataFolder();
  if (folder.empty()) Fail("no per-user folder to keep the session in (HOME is unset)");
  if (MakeFolders(folder) != 0) Fail("can't make the per-user folder " + HostPath(folder));
  return HostPath(folder) + "/online-session.txt";
}

struct Session {
  std::string url;
  std::string token;
  std::string name;
};

std::vector<Session> ReadSessions() {
  std::vector<Session> sessions;
  std::ifstream in(SessionFile());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Session session;
    if (fields >> session.url >> session.token >> session.name) sessions.push_back(session);
  }
  return sessions;
}

void SaveSession(const Session& session) {
  std::vector<Session> sessions = ReadSessions();
  std::string text = session.url + " " + session.token + " " + session.name + "\n";
  for (const Session& other : sessions) {
    if (other.url != session.url) text += other.url + " " + other.token + " " + other.name + "\n";
  }
  // Made for its owner alone, and kept so when it existed with wider rights.
  const std::string path = SessionFile();
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) Fail("can't write " + temporary);
  fchmod(fd, 0600);
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  close(fd);
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) Fail("can't write " + path);
}

// The session for the URL given, or the first one saved when none is given.
Session FindSession(const std::string& url) {
  for (const Session& session : ReadSessions()) {
    if (url.empty() || session.url == url) return session;
  }
  Fail(url.empty() ? "not signed in: use login NAME first" : "not signed in to " + url + ": use login NAME first");
}

std::string ReadPassword() {
  std::string password;
  if (isatty(STDIN_FILENO)) {
    std::fputs("password: ", stderr);
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::getline(std::cin, password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fputs("\n", stderr);
  } else {
    std::getline(std::cin, password);
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("can't read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The server's answer as JSON, or a failure naming the server's reason.
json Expect(const HttpResult& result, std::initializer_list<int> statuses) {
  if (result.status == 0) Fail(result.error);
  bool expected = false;
  for (const int status : statuses) expected = expected || status == result.status;
  json body = json::parse(result.body, nullptr, false);
  if (!expected) {
    std::string reason = body.is_object() && body.contains("error") && body["error"].is_string()
                             ? body["error"].get<std::string>()
                             : "unexpected answer";
    Fail(reason + " (" + std::to_string(result.status) + ")");
  }
  return body;
}

long long NumberArgument(const std::string& text, long long low, long long high, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0' || value < low || value > high) Fail(what + " is not valid: " + text);
  return value;
}

// The race's moves and retirements in their order, from its JSON.
std::vector<RaceEvent> RaceEvents(const json& race) {
  std::vector<RaceEvent> events;
  const json& moves = race["moves"];
  const json& retirements = race["retirements"];
  size_t r = 0;
  for (size_t m = 0; m <= moves.size(); ++m) {
    while (r < retirements.size() && retirements[r]["index"].get<size_t>() <= m) {
      RaceEvent event;
      event.kind = RaceEventKind::kRetire;
      event.car = retirements[r++]["seat"].get<int>();
      events.push_back(event);
    }
    if (m == moves.size()) break;
    RaceEvent event;
    event.car = moves[m]["seat"].get<int>();
    event.point = GridPoint{moves[m]["x"].get<int16_t>(), moves[m]["y"].get<int16_t>()};
    events.push_back(event);
  }
  return events;
}

std::string PlacesText(const json& race) {
  std::string text;
  for (const auto& place : race["places"].items()) {
    text += (text.empty() ? "" : ", ") + std::string("seat ") + place.key() + ": " +
            std::to_string(place.value().get<int>());
  }
  return text.empty() ? "none" : text;
}

struct Client {
  std::string url;
  std::string caFile;
  ServerUrl server;
  std::unique_ptr<ApiClient> api;
  Session session;

  void Connect(const std::string& given, bool signedIn) {
    if (signedIn) {
      session = FindSession(given);
      url = session.url;
    } else {
      if (given.empty()) Fail("--server URL is needed");
      url = given;
    }
    std::string error;
    server.caFile = caFile;
    if (!ParseServerUrl(url, &server, &error)) Fail(error);
    api = std::make_unique<ApiClient>(server);
    if (signedIn) api->SetToken(session.token);
  }
  json Race(const std::string& id) { return Expect(api->Call("GET", "races/" + id), {200}); }
};

int SignIn(Client& client, const std::string& name, bool signup) {
  const std::string password = ReadPassword();
  const std::string body = json{{"name", name}, {"password", password}}.dump();
  if (signup) Expect(client.api->Call("POST", "accounts", body), {201});
  const json answer = Expect(client.api->Call("POST", "sessions", body), {200});
  SaveSession(Session{client.url, answer["token"].get<std::string>(), name});
  std::printf("%s as %s on %s\n", signup ? "signed up" : "signed in", name.c_str(), client.url.c_str());
  return 0;
}

std::string Upload(Client& client, const std::string& path) {
  const json answer =
      Expect(client.api->Call("PUT", "circuits", ReadFile(path), "application/octet-stream"), {200, 201});
  return answer["id"].get<std::string>();
}

int Create(Client& client, const std::vector<std::string>& args) {
  if (args.empty()) Fail("create needs a circuit file");
  json body;
  body["seats"] = 0;
  json computers = json::object();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& flag = args[i];
    const bool hasValue = i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0;
    if (flag == "--seats" && hasValue) {
      body["seats"] = NumberArgument(args[++i], 2, 8, "the seats");
    } else if (flag == "--laps" && hasValue) {
      body["laps"] = NumberArgument(args[++i], 1, 20, "the laps");
    } else if (flag == "--live") {
      body["pace"] = "live";
      if (hasValue) body["move_seconds"] = NumberArgument(args[++i], 0, 3600, "the seconds per move");
    } else if (flag == "--correspondence" && hasValue) {
      body["pace"] = "correspondence";
      body["move_seconds"] = NumberArgument(args[++i], 1, 720, "the hours per move") * 3600;
    } else if (flag == "--computer" && hasValue) {
      const std::string& value = args[++i];
      const size_t eq = value.find('=');
      if (eq == std::string::npos) Fail("--computer takes SEAT=club|pro");
      computers[std::to_string(NumberArgument(value.substr(0, eq), 1, 7, "the computer's seat"))] =
          value.substr(eq + 1);
    } else if (flag == "--assists" && hasValue) {
      body["assists"] = args[++i] == "on";
    } else {
      Fail("create: unknown or incomplete option " + flag);
    }
  }
  if (body["seats"] == 0) Fail("create needs --seats N");
  if (!computers.empty()) body["computers"] = computers;
  body["circuit"] = Upload(client, args[0]);
  const json answer = Expect(client.api->Call("POST", "races", body.dump()), {201});
  std::printf("race %lld\n", answer["id"].get<long long>());
  return 0;
}

int Races(Client& client, bool open) {
  const json answer = Expect(client.api->Call("GET", open ? "races?open=1" : "races?mine=1"), {200});
  std::printf("%-8s %-9s %5s %5s %4s %4s\n", "RACE", "STATE", "SEATS", "FREE", "TURN", "LAPS");
  for (const json& race : answer["races"]) {
    const std::string turn = race["turn"].is_null() ? "-" : std::to_string(race["turn"].get<int>());
    std::printf("%-8lld %-9s %5d %5d %4s %4d\n", race["id"].get<long long>(), race["state"].get<std::string>().c_str(),
                race["seats"].get<int>(), race["free_seats"].get<int>(), turn.c_str(), race["laps"].get<int>());
  }
  return 0;
}

int Show(Client& client, const std::string& id) {
  const json race = client.Race(id);
  const std::string turn = race["turn"].is_null() ? "-" : std::to_string(race["turn"].get<int>());
  std::printf("race %s: %s, %d lap(s), %s, %zu move(s), turn %s, places %s\n", id.c_str(),
              race["state"].get<std::string>().c_str(), race["laps"].get<int>(),
              race["pace"].get<std::string>().c_str(), race["moves"].size(), turn.c_str(), PlacesText(race).c_str());
  for (const json& seat : race["seats"]) {
    const std::string player = seat["player"].is_null() ? "-" : seat["player"].get<std::string>();
    std::printf("  seat %d  %-6s %-24s laps %d%s%s\n", seat["seat"].get<int>(),
                seat["driver"].get<std::string>().c_str(), player.c_str(), seat.value("laps", 0),
                seat.value("finished", false) ? "  finished" : "", seat.value("retired", false) ? "  retired" : "");
  }
  return 0;
}

int Move(Client& client, const std::string& id, const std::string& point) {
  const size_t comma = point.find(',');
  if (comma == std::string::npos) Fail("a point is X,Y");
  const long long x = NumberArgument(point.substr(0, comma), -32768, 32767, "X");
  const long long y = NumberArgument(point.substr(comma + 1), -32768, 32767, "Y");
  const json race = client.Race(id);
  const size_t index = race["moves"].size();
  Expect(client.api->Call("POST", "races/" + id + "/moves", json{{"index", index}, {"x", x}, {"y", y}}.dump()), {201});
  std::printf("move %zu to %lld,%lld\n", index, x, y);
  return 0;
}

int Watch(Client& client, const std::string& id) {
  const long long race = NumberArgument(id, 1, 999999999999999999LL, "the race");
  EventStream stream;
  std::string error;
  if (!stream.Open(client.server, client.session.token, race, -1, &error)) Fail(error);
  std::string message;
  while (stream.Next(&message, 0, &error)) {
    const json event = json::parse(message, nullptr, false);
    if (!event.is_object()) continue;
    const std::string type = event.value("type", "");
    if (type == "move") {
      std::printf("move %d seat %d to %d,%d\n", event["index"].get<int>(), event["seat"].get<int>(),
                  event["x"].get<int>(), event["y"].get<int>());
    } else if (type == "retire") {
      std::printf("seat %d retired\n", event["seat"].get<int>());
    } else if (type == "state" && event["state"] == "finished") {
      std::printf("finished: %s\n", PlacesText(client.Race(id)).c_str());
      std::fflush(stdout);
      return 0;
    }
    std::fflush(stdout);
  }
  Fail(error);
}

int Fetch(Client& client, const std::string& id, const std::string& out) {
  const HttpResult result = client.api->Call("GET", "races/" + id + "/file");
  if (result.status != 200) Expect(result, {200});
  std::string error;
  if (WriteHostFile(out, result.body.data(), result.body.size(), &error) != 0)
    Fail("can't write " + out + ": " + error);
  std::printf("race %s saved to %s\n", id.c_str(), out.c_str());
  return 0;
}

int Bot(Client& client, const std::string& id, int seat, DriverLevel level) {
  const long long raceId = NumberArgument(id, 1, 999999999999999999LL, "the race");
  json race = client.Race(id);
  if (seat >= static_cast<int>(race["seats"].size())) Fail("the race has no seat " + std::to_string(seat));
  const HttpResult circuit = client.api->Call("GET", "circuits/" + race["circuit"].get<std::string>());
  if (circuit.status != 200) Expect(circuit, {200});
  std::string error;
  const std::string scratch = "/tmp/apexgrid-online-" + std::to_string(getpid()) + ".cct";
  const std::unique_ptr<TrackGrid> track = LoadCircuitBytes(circuit.body, scratch, &error);
  if (track == nullptr) Fail(error);
  Driver brain;
  brain.Load(*track);
  EventStream stream;
  if (!stream.Open(client.server, client.session.token, raceId, 1 << 30, &error)) Fail(error);
  int played = 0;
  for (;;) {
    if (race["state"] == "finished") {
      std::printf("race %s finished after %d move(s) of seat %d: places %s\n", id.c_str(), played, seat,
                  PlacesText(race).c_str());
      return 0;
    }
    if (race["state"] == "running" && race["turn"] == seat) {
      RacePlay play(*track, static_cast<int>(race["seats"].size()), race["laps"].get<int>());
      if (!play.PlayAll(RaceEvents(race))) Fail("the race's moves don't replay");
      const GridPoint to = brain.Move(play.car(seat), level, static_cast<uint32_t>(raceId * 8 + seat + 1));
      const json body{{"index", race["moves"].size()}, {"x", to.x}, {"y", to.y}};
      const HttpResult result = client.api->Call("POST", "races/" + id + "/moves", body.dump());
      if (result.status != 409) Expect(result, {201});
      ++played;
    } else {
      std::string message;
      // Events only wake the bot; the race is read afresh after each, or after a quiet minute.
      stream.Next(&message, 60, &error);
    }
    race = client.Race(id);
  }
}

int Run(const std::vector<std::string>& all) {
  std::string url;
  std::string caFile;
  size_t at = 0;
  while (at + 1 < all.size() && (all[at] == "--server" || all[at] == "--ca")) {
    (all[at] == "--server" ? url : caFile) = all[at + 1];
    at += 2;
  }
  if (at >= all.size()) Fail(std::string("no command\n") + kUsage);
  const std::string& command = all[at];
  const std::vector<std::string> args(all.begin() + static_cast<long>(at) + 1, all.end());
  const auto need = [&args, &command](size_t count) {
    if (args.size() != count) Fail(command + " takes " + std::to_string(count) + " argument(s)");
  };
  Client client;
  client.caFile = caFile;
  if (command == "signup" || command == "login") {
    need(1);
    client.Connect(url, false);
    return SignIn(client, args[0], command == "signup");
  }
  client.Connect(url, true);
  if (command == "upload") {
    need(1);
    std::printf("%s\n", Upload(client, args[0]).c_str());
    return 0;
  }
  if (command == "create") return Create(client, args);
  if (command == "races") {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--open")) Fail("races takes only --open");
    return Races(client, args.size() == 1);
  }
  if (command == "join") {
    need(2);
    const long long seat = NumberArgument(args[1], 0, 7, "the seat");
    Expect(client.api->Call("POST", "races/" + args[0] + "/seats/" + std::to_string(seat)), {201});
    std::printf("joined race %s in seat %lld\n", args[0].c_str(), seat);
    return 0;
  }
  if (command == "move") {
    need(2);
    return Move(client, args[0], args[1]);
  }
  if (command == "show") {
    need(1);
    return Show(client, args[0]);
  }
  if (command == "watch") {
    need(1);
    return Watch(client, args[0]);
  }
  if (command == "fetch") {
    need(2);
    return Fetch(client, args[0], args[1]);
  }
  if (command == "bot") {
    if (args.size() != 4 || args[2] != "--driver" || (args[3] != "pro" && args[3] != "club")) {
      Fail("bot takes RACE SEAT --driver pro|club");
    }
    return Bot(client, args[0], static_cast<int>(NumberArgument(args[1], 0, 7, "the seat")),
               args[3] == "pro" ? DriverLevel::kPro : DriverLevel::kClub);
  }
  Fail("unknown command " + command + "\n" + kUsage);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "apexgrid-online: %s\n", failure.reason.c_str());
  } catch (const std::exception& error) {
    // A malformed answer from the server.
    std::fprintf(stderr, "apexgrid-online: the server's answer can't be read (%s)\n", error.what());
  }
  return 1;
}
