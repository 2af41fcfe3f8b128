// The online race service.
#include "server/service.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "brain/driver.h"
#include "platform/files.h"
#include "server/circuit_upload.h"
#include "server/requests.h"

using nlohmann::json;

namespace {

constexpr int kListLimit = 100;
constexpr int kLapsLimit = 50;
constexpr size_t kTrackCache = 16;
constexpr size_t kDriverCache = 16;
constexpr size_t kSessionCache = 100000;

ApiReply Error(int status, const std::string& reason) {
  ApiReply reply;
  reply.status = status;
  reply.body = json{{"error", reason}}.dump();
  return reply;
}

ApiReply Json(int status, const json& body) {
  ApiReply reply;
  reply.status = status;
  reply.body = body.dump();
  return reply;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < path.size()) {
    const size_t slash = path.find('/', at);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// A race id: 1 to 18 digits, not starting with 0; 0 otherwise (no race has it).
int64_t RaceId(const std::string& text) {
  if (text.empty() || text.size() > 18 || text[0] == '0') return 0;
  int64_t id = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    id = id * 10 + (c - '0');
  }
  return id;
}

std::string IsoDate(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The query's value of the key, or empty.
std::string QueryValue(const std::string& query, const std::string& key) {
  std::istringstream in(query);
  std::string pair;
  while (std::getline(in, pair, '&')) {
    const size_t eq = pair.find('=');
    if (pair.substr(0, eq) == key) return eq == std::string::npos ? std::string() : pair.substr(eq + 1);
  }
  return {};
}

std::string EventMessage(const RaceEvent& event, int moveIndex) {
  if (event.kind == RaceEventKind::kRetire) {
    return json{{"type", "retire"}, {"seat", event.car}, {"index", moveIndex}}.dump();
  }
  return json{{"type", "move"}, {"index", moveIndex}, {"seat", event.car}, {"x", event.point.x}, {"y", event.point.y}}
      .dump();
}

// The race's state and whose turn it is (-1 unless it is running).
std::string StateMessage(const RaceRow& race) {
  return json{{"type", "state"}, {"state", race.state}, {"turn", race.state == "running" ? race.turn : -1}}.dump();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *bytes = out.str();
  return true;
}

}  // namespace

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Service::Service(ServiceOptions options, Log log)
    : options_(std::move(options)),
      log_(std::move(log)),
      brake_(options_.signInFailuresPerName, options_.signInFailuresPerAddress, options_.signInWindowMs),
      signUps_(options_.signUpsPerAddress, options_.signUpsPerAddress, options_.signInWindowMs) {}

Service::~Service() {
  StopClock();
  if (store_ != nullptr) store_->StopListening();
}

void Service::SetServerUrl(const std::string& url) {
  if (options_.serverUrl.empty()) options_.serverUrl = url;
}

bool Service::Open(std::string* error) {
  if (!StartCrypto()) {
    *error = "libsodium can't start";
    return false;
  }
  mkdir(options_.dataFolder.c_str(), 0700);
  mkdir((options_.dataFolder + "/circuits").c_str(), 0700);
  store_ = OpenStore(options_.database, options_.dataFolder, options_.syncEveryCommit, error);
  return store_ != nullptr &&
         store_->Listen([this](int64_t race, int64_t events, int64_t due) { Heard(race, events, due); }, error);
}

bool Service::Authenticate(const std::string& authorization, Account* account) {
  static const std::string kBearer = "Bearer ";
  if (authorization.compare(0, kBearer.size(), kBearer) != 0) return false;
  const std::string token = authorization.substr(kBearer.size());
  if (token.size() != 64) return false;
  const std::string hash = TokenHash(token);
  std::lock_guard<std::mutex> lock(mutex_);
  // Sessions are never ended: one found stays good, and is asked of the database once.
  const auto known = sessions_.find(hash);
  if (known != sessions_.end()) {
    *account = known->second;
    return true;
  }
  if (!store_->FindSession(hash, &account->id, &account->name)) return false;
  if (sessions_.size() >= kSessionCache) sessions_.clear();
  sessions_[hash] = *account;
  return true;
}

ApiReply Service::Handle(const ApiRequest& request) {
  static const std::string kPrefix = "/api/v1/";
  const size_t question = request.target.find('?');
  const std::string path = request.target.substr(0, question);
  const std::string query = question == std::string::npos ? std::string() : request.target.substr(question + 1);
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) return Error(404, "no such resource");
  const std::vector<std::string> parts = Split(path.substr(kPrefix.size()));
  const std::string& method = request.method;
  if (parts.size() == 1 && parts[0] == "accounts") {
    return method == "POST" ? CreateAccount(request) : Error(405, "use POST");
  }
  if (parts.size() == 1 && parts[0] == "sessions") {
    return method == "POST" ? CreateSession(request) : Error(405, "use POST");
  }
  const bool known = !parts.empty() && (parts[0] == "circuits" || parts[0] == "races");
  if (!known) return Error(404, "no such resource");
  Account account;
  if (!Authenticate(request.authorization, &account)) return Error(401, "a valid bearer token is needed");
  ApiReply reply = [&]() -> ApiReply {
    if (parts[0] == "circuits") {
      if (parts.size() == 1) return method == "PUT" ? PutCircuit(request, account) : Error(405, "use PUT");
      if (parts.size() == 2 || (parts.size() == 3 && parts[2] == "laps")) {
        if (method != "GET") return Error(405, "use GET");
        return GetCircuit(parts[1], parts.size() == 3);
      }
      return Error(404, "no such resource");
    }
    if (parts.size() == 1) {
      if (method == "POST") return CreateRace(request, account);
      if (method == "GET") return ListRaces(query, account);
      return Error(405, "use GET or POST");
    }
    const int64_t id = RaceId(parts[1]);
    if (parts.size() == 2) return method == "GET" ? GetRace(id) : Error(405, "use GET");
    if (parts.size() == 3 && parts[2] == "file") return method == "GET" ? GetRaceFile(id) : Error(405, "use GET");
    if (parts.size() == 3 && parts[2] == "moves") {
      return method == "POST" ? PostMove(id, request, account) : Error(405, "use POST");
    }
    if (parts.size() == 3 && parts[2] == "events")
      return Error(400, "the events are a WebSocket, or server-sent events (Accept: text/event-stream)");
    if (parts.size() == 4 && parts[2] == "seats") {
      return method == "POST" ? Join(id, parts[3], account) : Error(405, "use POST");
    }
    return Error(404, "no such resource");
  }();
  reply.who = account.name;
  return reply;
}

ApiReply Service::CreateAccount(const ApiRequest& request) {
  AccountBody body;
  std::string error;
  if (!ParseAccountBody(request.body, &body, &error)) return Error(400, error);
  if (body.password.size() < kMinPasswordLength) return Error(400, "a password is at least 8 characters");
  // Each sign-up costs a hash and a row: an address makes only so many in a window.
  const int64_t now = NowMs();
  if (!signUps_.Allowed("", request.address, now)) return Error(429, "too many new accounts; try again later");
  signUps_.Failed("", request.address, now);
  const std::string hash = HashPassword(body.password);
  if (hash.empty()) return Error(503, "the server is short of memory");
  std::lock_guard<std::mutex> lock(mutex_);
  const int made = store_->AddAccount(body.name, hash, now);
  if (made < 0) return Error(500, "the database failed");
  if (made == 0) return Error(409, "the name is taken");
  log_("account " + body.name + " made");
  ApiReply reply = Json(201, json{{"name", body.name}});
  reply.who = body.name;
  return reply;
}

ApiReply Service::CreateSession(const ApiRequest& request) {
  AccountBody body;
  std::string error;
  if (!ParseAccountBody(request.body, &body, &error)) return Error(400, error);
  const int64_t now = NowMs();
  if (!brake_.Allowed(body.name, request.address, now)) return Error(429, "too many failed sign-ins; try again later");
  int64_t id = 0;
  std::string hash;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    found = store_->FindAccount(body.name, &id, &hash);
  }
  // An unknown name costs the same hash as a wrong password, so that timing tells no names.
  static const std::string kDecoy = HashPassword("decoy password");
  const bool matches = PasswordMatches(found ? hash : kDecoy, body.password) && found;
  if (!matches) {
    brake_.Failed(body.name, request.address, now);
    return Error(401, "wrong name or password");
  }
  const std::string token = NewToken();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_->AddSession(TokenHash(token), id, now)) return Error(500, "the database failed");
  }
  ApiReply reply = Json(200, json{{"token", token}});
  reply.who = body.name;
  return reply;
}

ApiReply Service::PutCircuit(const ApiRequest& request, const Account& account) {
  if (request.body.size() > kMaxCircuitBody) return Error(413, "a circuit is at most 64 MB");
  std::string error;
  const std::string bytes = CircuitWithoutRecord(request.body, &error);
  if (bytes.empty()) return Error(422, error);
  const std::string id = Sha256Hex(bytes);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (store_->HasCircuit(id)) return Json(200, json{{"id", id}});
  }
  // The game's own loader has the last word; a scratch file per thread keeps loads apart.
  const std::string folder = options_.dataFolder + "/circuits/";
  std::ostringstream scratch;
  scratch << folder << "upload-" << std::this_thread::get_id() << ".tmp";
  if (LoadCircuitBytes(bytes, scratch.str(), &error) == nullptr) return Error(422, error);
  std::string writeError;
  if (WriteHostFile(folder + id + ".cct", bytes.data(), bytes.size(), &writeError) != 0) {
    return Error(500, "the circuit can't be stored");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const bool known = store_->HasCircuit(id);
  if (!known && !store_->AddCircuit(id, account.id, NowMs(), bytes)) return Error(500, "the database failed");
  if (!known) log_("circuit " + id + " uploaded by " + account.name);
  return Json(known ? 200 : 201, json{{"id", id}});
}

ApiReply Service::GetCircuit(const std::string& id, bool laps) {
  if (!IsCircuitId(id)) return Error(404, "unknown circuit");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!store_->HasCircuit(id)) return Error(404, "unknown circuit");
    if (!laps && !CircuitFile(id)) return Error(500, "the circuit file is missing");
    if (laps) {
      json list = json::array();
      for (const LapRow& lap : store_->BestLaps(id, kLapsLimit)) {
        list.push_back({{"player", lap.player}, {"rounds", lap.rounds}, {"race", lap.race}, {"date", IsoDate(lap.at)}});
      }
      return Json(200, json{{"laps", list}});
    }
  }
  // A circuit file is written whole before its row, and never changes: it is read without the
  // lock, which others' moves need meanwhile.
  ApiReply reply;
  if (!ReadWholeFile(options_.dataFolder + "/circuits/" + id + ".cct", &reply.body)) {
    return Error(500, "the circuit file is missing");
  }
  reply.contentType = "application/octet-stream";
  return reply;
}

std::shared_ptr<TrackGrid> Service::Track(const std::string& circuit) {
  auto it = tracks_.find(circuit);
  if (it != tracks_.end()) return it->second;
  auto track = std::make_shared<TrackGrid>();
  if (!CircuitFile(circuit) ||
      LoadCircuit(*track, DevicePath(options_.dataFolder + "/circuits/" + circuit + ".cct")) != 0 ||
      track->collisionGrid == nullptr) {
    return nullptr;
  }
  // Races need the grid and the line, never the picture: the largest circuit's is 32 MB.
  ReleasePixels(track->picture);
  if (tracks_.size() >= kTrackCache) tracks_.erase(tracks_.begin());
  tracks_[circuit] = track;
  return track;
}

bool Service::CircuitFile(const std::string& id) {
  const std::string path = options_.dataFolder + "/circuits/" + id + ".cct";
  struct stat file {};
  if (stat(path.c_str(), &file) == 0) return true;
  std::string bytes;
  std::string error;
  // Another server on the database took it in; it is written whole or not at all.
  return store_->CircuitBytes(id, &bytes) && Sha256Hex(bytes) == id &&
         WriteHostFile(path, bytes.data(), bytes.size(), &error) == 0;
}

std::unique_ptr<RacePlay> Service::Replay(const RaceRow& race, std::shared_ptr<TrackGrid>* track) {
  *track = Track(race.circuit);
  if (*track == nullptr) return nullptr;
  auto play = std::make_unique<RacePlay>(**track, race.seats, race.laps);
  // Every stored event was checked when it came; one that no longer fits (a changed rule) ends the
  // replay there rather than the server.
  play->PlayAll(race.events);
  return play;
}

void Service::SetTurn(RaceRow* race, const RacePlay& play, int64_t now) const {
  if (race->state == "open") {
    race->turn = -1;
    race->due = 0;
    return;
  }
  if (play.over()) {
    race->state = "finished";
    race->turn = -1;
    race->due = 0;
    return;
  }
  race->state = "running";
  race->turn = play.turn();
  const SeatDriver driver = race->seatRows[race->turn].driver;
  if (play.TrailFull()) {
    race->due = now;  // the clock retires the car at once
  } else if (driver != SeatDriver::kHuman) {
    race->due = now + options_.computerPauseMs;
  } else {
    race->due = race->moveSeconds > 0 ? now + race->moveSeconds * 1000LL : 0;
  }
}

bool Service::Commit(RaceRow* race, RacePlay* play, const RaceEvent& event, int64_t now) {
  const int moveIndex = play->moves();
  LapDone lap;
  std::string refusal;
  if (play->Play(event, &lap, &refusal) != 0) {
    log_("race " + std::to_string(race->id) + ": " + refusal);
    return false;
  }
  SetTurn(race, *play, now);
  LapRow lapRow;
  lapRow.rounds = lap.rounds;
  const size_t position = race->events.size();
  if (!store_->AddEvent(*race, position, event, now, lap.seat >= 0 ? &lapRow : nullptr)) return false;
  race->events.push_back(event);
  const std::string name = "race " + std::to_string(race->id);
  if (event.kind == RaceEventKind::kRetire) {
    log_(name + " seat " + std::to_string(event.car) + " retired");
  } else {
    log_(name + " move " + std::to_string(moveIndex) + " seat " + std::to_string(event.car) + " to " +
         std::to_string(event.point.x) + "," + std::to_string(event.point.y) +
         (lap.seat >= 0 ? " lap in " + std::to_string(lap.rounds) + " rounds" : ""));
  }
  if (race->state == "finished") {
    const std::vector<int> places = play->Places();
    json placesJson = json::object();
    for (int p = 0; p < race->seats; ++p) {
      if (places[p] > 0) placesJson[std::to_string(p)] = places[p];
    }
    log_(name + " finished, places " + placesJson.dump());
  }
  Deliver(*race);
  // The clock wakes for a new due time; an event that leaves none changes nothing it waits for.
  if (race->due > 0) PokeClock();
  return true;
}

void Service::Deliver(const RaceRow& race) {
  const std::string state = StateMessage(race);
  for (auto& entry : subscriptions_) {
    Subscription& listener = entry.second;
    if (listener.race != race.id) continue;
    // Events come in order whichever server stored them: those this listener lacks, from the
    // race as read just now.
    const bool news = listener.sent < race.events.size();
    int moveIndex = 0;
    for (size_t p = 0; p < race.events.size(); ++p) {
      if (p >= listener.sent) listener.listener(EventMessage(race.events[p], moveIndex));
      if (race.events[p].kind == RaceEventKind::kMove) ++moveIndex;
    }
    listener.sent = std::max(listener.sent, race.events.size());
    if (news || state != listener.lastState) {
      listener.listener(state);
      listener.lastState = state;
    }
  }
}

void Service::Heard(int64_t raceId, int64_t events, int64_t due) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> races;
    for (const auto& entry : subscriptions_) {
      const Subscription& listener = entry.second;
      if (raceId != 0 && listener.race != raceId) continue;
      // This server's own changes have been delivered already: they are heard as nothing new.
      if (events >= 0 && listener.sent >= static_cast<size_t>(events)) continue;
      if (std::find(races.begin(), races.end(), listener.race) == races.end()) races.push_back(listener.race);
    }
    for (const int64_t id : races) {
      RaceRow race;
      if (store_->LoadRace(id, &race)) Deliver(race);
    }
  }
  // Another server's move may have made a computer's turn, or a time limit.
  if (due != 0) PokeClock();
}

std::string Service::RaceJson(const RaceRow& race, const RacePlay* play) const {
  json seats = json::array();
  for (const SeatRow& seat : race.seatRows) {
    json entry{{"seat", seat.seat}, {"driver", DriverName(seat.driver)}};
    entry["player"] = seat.account != 0 ? json(seat.player) : json(nullptr);
    if (play != nullptr) {
      entry["laps"] = play->car(seat.seat).laps;
      entry["finished"] = play->finished(seat.seat);
      entry["retired"] = play->retired(seat.seat);
    }
    seats.push_back(entry);
  }
  json moves = json::array();
  json retirements = json::array();
  int index = 0;
  for (const RaceEvent& event : race.events) {
    if (event.kind == RaceEventKind::kRetire) {
      retirements.push_back({{"seat", event.car}, {"index", index}});
    } else {
      moves.push_back({{"index", index++}, {"seat", event.car}, {"x", event.point.x}, {"y", event.point.y}});
    }
  }
  json places = json::object();
  if (play != nullptr) {
    const std::vector<int> placeList = play->Places();
    for (int p = 0; p < race.seats; ++p) {
      if (placeList[p] > 0) places[std::to_string(p)] = placeList[p];
    }
  }
  json body{{"id", race.id},
            {"circuit", race.circuit},
            {"seats", seats},
            {"laps", race.laps},
            {"pace", race.live ? "live" : "correspondence"},
            {"move_seconds", race.moveSeconds},
            {"assists", race.assists},
            {"state", race.state},
            {"moves", moves},
            {"retirements", retirements},
            {"places", places},
            {"created", IsoDate(race.created)}};
  body["turn"] = race.state == "running" ? json(race.turn) : json(nullptr);
  if (race.due > 0 && race.state == "running") body["due"] = IsoDate(race.due);
  return body.dump();
}

ApiReply Service::CreateRace(const ApiRequest& request, const Account& account) {
  RaceBody body;
  std::string error;
  if (!ParseRaceBody(request.body, &body, &error)) return Error(400, error);
  const int64_t now = NowMs();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!store_->HasCircuit(body.circuit)) return Error(404, "unknown circuit");
  RaceRow race;
  race.circuit = body.circuit;
  race.creator = account.id;
  race.seats = body.seats;
  race.laps = body.laps;
  race.live = body.live;
  race.moveSeconds = body.moveSeconds;
  race.assists = body.assists;
  race.created = now;
  bool full = true;
  for (int s = 0; s < body.seats; ++s) {
    SeatRow seat;
    seat.seat = s;
    seat.driver = body.drivers[s];
    seat.account = s == 0 ? account.id : 0;
    full = full && (s == 0 || seat.driver != SeatDriver::kHuman);
    race.seatRows.push_back(seat);
  }
  std::shared_ptr<TrackGrid> track;
  race.state = full ? "running" : "open";
  if (full) {
    std::unique_ptr<RacePlay> play = Replay(race, &track);
    if (play == nullptr) return Error(500, "the circuit can't be loaded");
    SetTurn(&race, *play, now);
  }
  race.id = store_->AddRace(race);
  if (race.id == 0) return Error(500, "the database failed");
  log_("race " + std::to_string(race.id) + " made by " + account.name + (full ? ", running" : ""));
  if (full) PokeClock();
  return Json(201, json{{"id", race.id}});
}

ApiReply Service::ListRaces(const std::string& query, const Account& account) {
  const bool open = QueryValue(query, "open") == "1";
  const bool mine = QueryValue(query, "mine") == "1";
  if (open == mine) return Error(400, "ask for mine=1 or open=1");
  std::lock_guard<std::mutex> lock(mutex_);
  json list = json::array();
  for (const RaceSummary& race : store_->ListRaces(account.id, open, kListLimit)) {
    json entry{{"id", race.id},     {"circuit", race.circuit}, {"seats", race.seats},
               {"laps", race.laps}, {"state", race.state},     {"free_seats", race.freeSeats}};
    entry["turn"] = race.state == "running" ? json(race.turn) : json(nullptr);
    list.push_back(entry);
  }
  return Json(200, json{{"races", list}});
}

ApiReply Service::GetRace(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  if (id == 0 || !store_->LoadRace(id, &race)) return Error(404, "unknown race");
  std::shared_ptr<TrackGrid> track;
  const std::unique_ptr<RacePlay> play = Replay(race, &track);
  ApiReply reply;
  reply.body = RaceJson(race, play.get());
  return reply;
}

ApiReply Service::GetRaceFile(int64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  if (id == 0 || !store_->LoadRace(id, &race)) return Error(404, "unknown race");
  RaceFile file;
  file.circuitName = race.circuit + ".cct";
  file.circuitSha256 = race.circuit;
  file.players = race.seats;
  file.server = options_.serverUrl;
  file.raceId = std::to_string(race.id);
  file.laps = race.laps;
  file.pace = race.live ? RacePace::kLive : RacePace::kCorrespondence;
  file.paceSeconds = race.moveSeconds;
  file.assists = race.assists ? 1 : 0;
  for (const SeatRow& seat : race.seatRows) {
    file.drivers[seat.seat] = static_cast<uint8_t>(seat.driver);
    if (seat.account != 0) file.seats[seat.seat] = seat.player;
  }
  file.events = race.events;
  ApiReply reply;
  reply.body = FormatRace(file);
  reply.contentType = "text/plain; charset=utf-8";
  return reply;
}

ApiReply Service::Join(int64_t id, const std::string& seatText, const Account& account) {
  if (seatText.size() != 1 || seatText[0] < '0' || seatText[0] > '7') return Error(400, "a seat is 0 to 7");
  const int seat = seatText[0] - '0';
  const int64_t now = NowMs();
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  // Servers sharing the database may seat others in the race meanwhile: the seat is taken again
  // on the race as it then is.
  for (int attempt = 0;; ++attempt) {
    if (id == 0 || !store_->LoadRace(id, &race)) return Error(404, "unknown race");
    if (seat >= race.seats) return Error(404, "the race has no such seat");
    if (race.state != "open") return Error(409, "the race has no free seats");
    for (const SeatRow& row : race.seatRows) {
      if (row.account == account.id) return Error(409, "you have a seat in this race already");
    }
    const SeatRow& row = race.seatRows[seat];
    if (row.account != 0 || row.driver != SeatDriver::kHuman) return Error(409, "the seat is taken");
    race.seatRows[seat].account = account.id;
    race.seatRows[seat].player = account.name;
    bool full = true;
    for (const SeatRow& other : race.seatRows)
      full = full && (other.account != 0 || other.driver != SeatDriver::kHuman);
    std::shared_ptr<TrackGrid> track;
    if (full) {
      race.state = "running";
      std::unique_ptr<RacePlay> play = Replay(race, &track);
      if (play == nullptr) return Error(500, "the circuit can't be loaded");
      SetTurn(&race, *play, now);
    }
    if (store_->TakeSeat(race, seat, account.id)) break;
    if (attempt == 2) return Error(409, "the seat is taken");
  }
  const bool full = race.state == "running";
  log_("race " + std::to_string(id) + " seat " + std::to_string(seat) + " taken by " + account.name +
       (full ? ", running" : ""));
  if (full) {
    Deliver(race);
    PokeClock();
  }
  return Json(201, json{{"race", id}, {"seat", seat}});
}

ApiReply Service::PostMove(int64_t id, const ApiRequest& request, const Account& account) {
  MoveBody body;
  std::string error;
  if (!ParseMoveBody(request.body, &body, &error)) return Error(400, error);
  const int64_t now = NowMs();
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  if (id == 0 || !store_->LoadRace(id, &race)) return Error(404, "unknown race");
  int seat = -1;
  for (const SeatRow& row : race.seatRows) {
    if (row.account == account.id) seat = row.seat;
  }
  if (seat < 0) return Error(403, "you have no seat in this race");
  if (race.state == "open") return Error(409, "the race hasn't started");
  // A move sent again (the same index and point, by the same seat) is answered as the first was.
  int64_t moves = 0;
  for (const RaceEvent& event : race.events) {
    if (event.kind != RaceEventKind::kMove) continue;
    if (moves == body.index) {
      if (event.car == seat && event.point.x == body.x && event.point.y == body.y) {
        return Json(201, json{{"index", body.index}, {"repeated", true}});
      }
      return Error(409, "move " + std::to_string(body.index) + " has been made");
    }
    ++moves;
  }
  if (race.state == "finished") return Error(409, "the race is over");
  if (body.index != moves) return Error(409, "the next move is " + std::to_string(moves));
  std::shared_ptr<TrackGrid> track;
  std::unique_ptr<RacePlay> play = Replay(race, &track);
  if (play == nullptr) return Error(500, "the circuit can't be loaded");
  const GridPoint to{body.x, body.y};
  switch (play->Check(seat, to)) {
    case MoveCheck::kOk:
      break;
    case MoveCheck::kNotRunning:
      return Error(409, "the race is over");
    case MoveCheck::kWrongSeat:
      return Error(409, "not your turn");
    case MoveCheck::kOutOfReach:
      return Error(422, "the point is outside the reach disc");
    case MoveCheck::kTrailFull:
      return Error(409, "the car's trail is full: it retires");
  }
  RaceEvent event;
  event.car = static_cast<uint8_t>(seat);
  event.point = to;
  if (!Commit(&race, play.get(), event, now)) {
    // Another server on the database stored this position first.
    RaceRow again;
    if (store_->LoadRace(id, &again) && again.events.size() > race.events.size()) {
      return Error(409, "move " + std::to_string(body.index) + " has been made");
    }
    return Error(500, "the move can't be stored");
  }
  return Json(201, json{{"index", body.index}});
}

ApiReply Service::Subscribe(const std::string& authorization, int64_t raceId, int64_t after, Listener listener,
                            std::vector<std::string>* backlog, int* id) {
  Account account;
  if (!Authenticate(authorization, &account)) return Error(401, "a valid bearer token is needed");
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  if (raceId == 0 || !store_->LoadRace(raceId, &race)) return Error(404, "unknown race");
  // The backlog and the registration happen under one lock, as every event does: nothing falls
  // between them.
  int index = 0;
  for (const RaceEvent& event : race.events) {
    if (index > after) backlog->push_back(EventMessage(event, index));
    if (event.kind == RaceEventKind::kMove) ++index;
  }
  backlog->push_back(StateMessage(race));
  *id = nextSubscription_++;
  subscriptions_[*id] = Subscription{raceId, std::move(listener), race.events.size(), backlog->back()};
  ApiReply reply;
  reply.who = account.name;
  return reply;
}

void Service::Unsubscribe(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  subscriptions_.erase(id);
}

// ---- The clock ------------------------------------------------------------------------------------

void Service::StartClock() {
  stopping_ = false;
  clock_ = std::thread([this] { ClockLoop(); });
}

void Service::StopClock() {
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    stopping_ = true;
  }
  clockWake_.notify_all();
  if (clock_.joinable()) clock_.join();
}

void Service::PokeClock() {
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    poked_ = true;
  }
  clockWake_.notify_all();
}

void Service::ClockLoop() {
  for (;;) {
    int64_t next = 0;
    std::vector<int64_t> due;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      due = store_->DueRaces(NowMs(), 64, &next);
      // Of servers sharing the database, one plays the due races; the others look again now and
      // then, to take over from one that went.
      if (!due.empty() && !store_->LeadClock()) {
        due.clear();
        next = NowMs() + 1000;
      }
    }
    for (const int64_t race : due) RunDue(race);
    std::unique_lock<std::mutex> lock(clockMutex_);
    if (stopping_) return;
    if (!due.empty() && next == 0) continue;  // more may be due at once
    const int64_t wait = next == 0 ? 60000 : std::max<int64_t>(0, std::min<int64_t>(60000, next - NowMs()));
    clockWake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping_ || poked_; });
    poked_ = false;
    if (stopping_) return;
  }
}

void Service::RunDue(int64_t raceId) {
  PlayerRecord car;
  std::string circuit;
  SeatDriver driver = SeatDriver::kHuman;
  int seat = -1;
  size_t position = 0;
  std::shared_ptr<TrackGrid> track;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    RaceRow race;
    const int64_t now = NowMs();
    if (!store_->LoadRace(raceId, &race) || race.state != "running" || race.due == 0 || race.due > now) return;
    std::unique_ptr<RacePlay> play = Replay(race, &track);
    if (play == nullptr || play->over()) return;
    seat = play->turn();
    driver = race.seatRows[seat].driver;
    if (driver == SeatDriver::kHuman || play->TrailFull()) {
      RaceEvent event;
      event.kind = RaceEventKind::kRetire;
      event.car = seat;
      if (!Commit(&race, play.get(), event, now)) log_("race " + std::to_string(raceId) + ": the database failed");
      return;
    }
    car = play->car(seat);
    circuit = race.circuit;
    position = race.events.size();
  }
  // The brain works outside the lock: the others' requests go on meanwhile.
  std::unique_ptr<Driver>& brain = drivers_[circuit];
  if (brain == nullptr) {
    if (drivers_.size() > kDriverCache) {
      drivers_.clear();
      return;  // the next pass makes a fresh one
    }
    brain = std::make_unique<Driver>();
    brain->Load(*track);
  }
  const GridPoint to = brain->Move(car, driver == SeatDriver::kPro ? DriverLevel::kPro : DriverLevel::kClub,
                                   static_cast<uint32_t>(raceId * 8 + seat + 1));
  std::lock_guard<std::mutex> lock(mutex_);
  RaceRow race;
  if (!store_->LoadRace(raceId, &race) || race.events.size() != position) return;
  std::unique_ptr<RacePlay> play = Replay(race, &track);
  if (play == nullptr || play->turn() != seat) return;
  RaceEvent event;
  event.car = seat;
  event.point = to;
  if (play->Check(seat, to) != MoveCheck::kOk) {
    // The brain answers inside the reach; should it not, the car retires rather than stall the race.
    event.kind = RaceEventKind::kRetire;
  }
  if (!Commit(&race, play.get(), event, NowMs())) log_("race " + std::to_string(raceId) + ": the database failed");
}
