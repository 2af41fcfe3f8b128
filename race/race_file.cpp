// Reading and writing race files.
#include "race/race_file.h"

#include <cstdio>

#include "platform/files.h"

namespace {

const char* const kDriverNames[] = {"human", "club", "pro"};

struct LineReader {
  const std::string& name;
  std::string* error;
  int line = 0;

  int Fail(const std::string& what) const {
    if (error != nullptr) *error = name + ":" + std::to_string(line) + ": " + what;
    return 1;
  }
};

// Well-formed UTF-8 without control characters other than LF and a CR just before one: the length of the
// good prefix, so that a message can say where garbage starts.
size_t CleanTextLength(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < n && s[i + 1] == '\n');
      if ((c < 0x20 && !lineEnd) || c == 0x7F) return i;
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, code = c & 0x07;
    } else {
      return i;
    }
    if (i + extra >= n) return i;
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return i;
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return i;
    }
    i += extra + 1;
  }
  return n;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string::npos ? std::string::npos : space - start));
    if (space == std::string::npos) return fields;
    start = space + 1;
  }
}

// A decimal whole number in [low, high]: an optional minus and at most nine digits.
bool ParseNumber(const std::string& field, long low, long high, long* value) {
  size_t i = field.size() > 0 && field[0] == '-' ? 1 : 0;
  if (field.size() == i || field.size() - i > 9) return false;
  long v = 0;
  for (; i < field.size(); ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
    v = v * 10 + (field[i] - '0');
  }
  if (field[0] == '-') v = -v;
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

int DriverOf(const std::string& field) {
  for (int d = 0; d < 3; ++d) {
    if (field == kDriverNames[d]) return d;
  }
  return -1;
}

bool IsHash(const std::string& field) {
  if (field.size() != 64) return false;
  for (char c : field) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A circuit's name is looked up in folders, so it must stay a plain name inside them.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Text the reader can go through line by line: clean UTF-8, not empty, ending with its last line's LF.
int CheckRaceText(const std::string& text, const std::string& name, std::string* error) {
  LineReader in{name, error};
  const size_t clean = CleanTextLength(text);
  if (clean < text.size()) {
    in.line = 1;
    for (size_t i = 0; i < clean; ++i) in.line += text[i] == '\n' ? 1 : 0;
    return in.Fail("not text: a control character or a broken UTF-8 sequence");
  }
  if (text.empty()) {
    if (error != nullptr) *error = name + ": the file is empty";
    return 1;
  }
  if (text.back() != '\n') {
    if (error != nullptr) *error = name + ": the file ends in the middle of a line (cut short?)";
    return 1;
  }
  return 0;
}

// One header line, whose key has been checked as given once and before the first move.
int ParseHeaderLine(const LineReader& in, const std::vector<std::string>& f, const std::string& rest, RaceFile* race) {
  const std::string& key = f[0];
  long a = 0;
  if (key == "circuit") {
    if (!IsPlainFileName(rest)) return in.Fail("the circuit must be named by a plain file name");
    race->circuitName = rest;
  } else if (key == "circuit-path") {
    if (rest.empty()) return in.Fail("the circuit path is empty");
    race->circuitPath = rest;
  } else if (key == "circuit-sha256") {
    if (f.size() != 2 || !IsHash(f[1])) return in.Fail("the circuit's SHA-256 must be 64 lowercase hex digits");
    race->circuitSha256 = f[1];
  } else if (key == "players") {
    if (f.size() != 2 || !ParseNumber(f[1], 1, kMaxPlayers, &a)) return in.Fail("players must be 1 to 8");
    race->players = static_cast<int>(a);
  } else if (key == "server" || key == "race") {
    if (f.size() != 2 || f[1].empty()) return in.Fail("\"" + key + "\" takes one word");
    (key == "server" ? race->server : race->raceId) = f[1];
  } else if (key == "laps") {
    if (f.size() != 2 || !ParseNumber(f[1], 1, kMaxRaceLaps, &a)) return in.Fail("laps must be 1 to 20");
    race->laps = static_cast<int>(a);
  } else if (key == "pace") {
    const bool live = f.size() == 3 && f[1] == "live";
    // A live race may have no time per move (0); a correspondence race always has one.
    if (!(live || (f.size() == 3 && f[1] == "correspondence")) ||
        !ParseNumber(f[2], live ? 0 : 1, kMaxPaceSeconds, &a)) {
      return in.Fail("pace must be \"live\" 0 to " + std::to_string(kMaxPaceSeconds) +
                     " seconds or \"correspondence\" 1 to " + std::to_string(kMaxPaceSeconds) + " seconds");
    }
    race->pace = live ? RacePace::kLive : RacePace::kCorrespondence;
    race->paceSeconds = static_cast<int32_t>(a);
  } else if (key == "assists") {
    if (f.size() != 2 || (f[1] != "on" && f[1] != "off")) return in.Fail("assists must be \"on\" or \"off\"");
    race->assists = f[1] == "on" ? 1 : 0;
  }
  return 0;
}

// A line about one car: its seat, its driver, its move or its retiring. The first move ends the
// header.
int ParseCarLine(const LineReader& in, const std::vector<std::string>& f, const std::string& line, bool* inEvents,
                 bool* seatSeen, RaceFile* race) {
  const std::string& key = f[0];
  long a = 0, b = 0, c = 0;
  const auto car = [&](const std::string& field, long* value) {
    return ParseNumber(field, 0, race->players - 1, value);
  };
  const std::string carRange = "a car from 0 to " + std::to_string(race->players - 1);
  if (key == "seat") {
    if (*inEvents) return in.Fail("\"seat\" belongs before the first move");
    if (f.size() < 3 || !car(f[1], &a)) return in.Fail("a seat needs " + carRange + " and a name");
    if (seatSeen[a]) return in.Fail("car " + f[1] + "'s seat is given twice");
    seatSeen[a] = true;
    race->seats[a] = line.substr(key.size() + f[1].size() + 2);
  } else if (key == "driver") {
    const int driver = f.size() == 3 ? DriverOf(f[2]) : -1;
    if (f.size() != 3 || !car(f[1], &a) || driver < 0) {
      return in.Fail("a driver line needs " + carRange + " and human, club or pro");
    }
    if (*inEvents) {
      RaceEvent event;
      event.kind = RaceEventKind::kDriver;
      event.car = static_cast<uint8_t>(a);
      event.driver = static_cast<uint8_t>(driver);
      event.line = in.line;
      race->events.push_back(event);
    } else {
      race->drivers[a] = static_cast<uint8_t>(driver);
    }
  } else if (key == "move") {
    if (f.size() != 4 || !car(f[1], &a)) return in.Fail("a move needs " + carRange + " and a point");
    if (!ParseNumber(f[2], INT16_MIN, INT16_MAX, &b) || !ParseNumber(f[3], INT16_MIN, INT16_MAX, &c)) {
      return in.Fail("a move's point must be two numbers from -32768 to 32767");
    }
    RaceEvent event;
    event.car = static_cast<uint8_t>(a);
    event.point = GridPoint{static_cast<int16_t>(b), static_cast<int16_t>(c)};
    event.line = in.line;
    race->events.push_back(event);
    *inEvents = true;
  } else if (key == "retire") {
    if (f.size() != 2 || !car(f[1], &a)) return in.Fail("retire needs " + carRange);
    RaceEvent event;
    event.kind = RaceEventKind::kRetire;
    event.car = static_cast<uint8_t>(a);
    event.line = in.line;
    race->events.push_back(event);
    *inEvents = true;
  }
  return 0;
}

}  // namespace

const char* RaceDriverName(uint8_t driver) { return driver < 3 ? kDriverNames[driver] : "human"; }

int ParseRace(const std::string& text, const std::string& name, RaceFile* race, std::string* error) {
  *race = RaceFile();
  LineReader in{name, error};
  if (CheckRaceText(text, name, error) != 0) return 1;

  bool seen[16] = {};  // header keywords given once each
  bool inEvents = false;
  bool seatSeen[kMaxPlayers] = {};
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++in.line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (in.line == 1) {
      if (line == kRaceFormatLine) continue;
      if (line.rfind("apexgrid-race ", 0) == 0) {
        return in.Fail("version " + line.substr(14) + " of the race format is not known here (this game reads 1)");
      }
      return in.Fail("not a race file (it must begin with \"apexgrid-race 1\")");
    }
    if (line.empty()) continue;
    const std::vector<std::string> f = Fields(line);
    const std::string& key = f[0];
    const std::string rest = line.size() > key.size() ? line.substr(key.size() + 1) : std::string();
    long a = 0, b = 0;

    static const char* const kHeader[] = {"circuit", "circuit-path", "circuit-sha256", "players", "server",
                                          "race",    "laps",         "pace",           "assists"};
    int header = -1;
    for (int k = 0; k < 9; ++k) {
      if (key == kHeader[k]) header = k;
    }
    if (header >= 0) {
      if (inEvents) return in.Fail("\"" + key + "\" belongs before the first move");
      if (seen[header]) return in.Fail("\"" + key + "\" is given twice");
      seen[header] = true;
    }
    const bool needsPlayers = key == "driver" || key == "move" || key == "retire" || key == "seat";
    if (needsPlayers && race->players == 0) return in.Fail("\"" + key + "\" before the \"players\" line");

    if (header >= 0) {
      if (ParseHeaderLine(in, f, rest, race) != 0) return 1;
    } else if (needsPlayers) {
      if (ParseCarLine(in, f, line, &inEvents, seatSeen, race) != 0) return 1;
    } else if (key == "scroll") {
      if (f.size() != 3 || !ParseNumber(f[1], INT16_MIN, INT16_MAX, &a) ||
          !ParseNumber(f[2], INT16_MIN, INT16_MAX, &b)) {
        return in.Fail("scroll needs two numbers from -32768 to 32767");
      }
      race->hasScroll = true;
      race->scrollX = static_cast<int16_t>(a);
      race->scrollY = static_cast<int16_t>(b);
    } else {
      return in.Fail("unknown line \"" + key.substr(0, 40) + "\"");
    }
  }
  in.line = 0;
  const char* missing = race->circuitName.empty()     ? "circuit"
                        : race->circuitSha256.empty() ? "circuit-sha256"
                        : race->players == 0          ? "players"
                                                      : nullptr;
  if (missing != nullptr) {
    if (error != nullptr) *error = name + ": no \"" + missing + "\" line (cut short?)";
    return 1;
  }
  return 0;
}

int ReadRaceFile(const std::string& hostPath, RaceFile* race, std::string* error) {
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) {
    if (error != nullptr) *error = hostPath + ": can't be read (missing, a folder or not a plain file)";
    return 1;
  }
  const long long size = FileSize(file);
  if (size < 0 || size > kMaxRaceFileBytes) {
    std::fclose(file);
    if (error != nullptr) *error = hostPath + ": too big for a race file";
    return 1;
  }
  std::string text(static_cast<size_t>(size), '\0');
  const size_t got = size > 0 ? std::fread(text.data(), 1, text.size(), file) : 0;
  std::fclose(file);
  if (got != text.size()) {
    if (error != nullptr) *error = hostPath + ": can't be read";
    return 1;
  }
  return ParseRace(text, hostPath, race, error);
}

std::string FormatRaceEvent(const RaceEvent& event) {
  const std::string car = std::to_string(event.car);
  switch (event.kind) {
    case RaceEventKind::kDriver:
      return "driver " + car + " " + RaceDriverName(event.driver) + "\n";
    case RaceEventKind::kRetire:
      return "retire " + car + "\n";
    case RaceEventKind::kMove:
      break;
  }
  return "move " + car + " " + std::to_string(event.point.x) + " " + std::to_string(event.point.y) + "\n";
}

std::string FormatRace(const RaceFile& race) {
  std::string text = std::string(kRaceFormatLine) + "\n";
  text += "circuit " + race.circuitName + "\n";
  if (!race.circuitPath.empty()) text += "circuit-path " + race.circuitPath + "\n";
  text += "circuit-sha256 " + race.circuitSha256 + "\n";
  text += "players " + std::to_string(race.players) + "\n";
  if (!race.server.empty()) text += "server " + race.server + "\n";
  if (!race.raceId.empty()) text += "race " + race.raceId + "\n";
  if (race.laps > 0) text += "laps " + std::to_string(race.laps) + "\n";
  if (race.pace != RacePace::kNone) {
    text += std::string("pace ") + (race.pace == RacePace::kLive ? "live " : "correspondence ") +
            std::to_string(race.paceSeconds) + "\n";
  }
  if (race.assists >= 0) text += std::string("assists ") + (race.assists == 1 ? "on" : "off") + "\n";
  for (int car = 0; car < race.players && car < kMaxPlayers; ++car) {
    if (!race.seats[car].empty()) text += "seat " + std::to_string(car) + " " + race.seats[car] + "\n";
  }
  for (int car = 0; car < race.players && car < kMaxPlayers; ++car) {
    text += "driver " + std::to_string(car) + " " + RaceDriverName(race.drivers[car]) + "\n";
  }
  text.reserve(text.size() + race.events.size() * 16 + 32);
  for (const RaceEvent& event : race.events) text += FormatRaceEvent(event);
  if (race.hasScroll) text += "scroll " + std::to_string(race.scrollX) + " " + std::to_string(race.scrollY) + "\n";
  return text;
}

int WriteRaceFile(const std::string& hostPath, const std::string& text, std::string* error) {
  std::string reason;
  if (WriteHostFile(hostPath, text.data(), text.size(), &reason) == 0) return 0;
  if (error != nullptr) *error = hostPath + ": " + reason;
  return 1;
}
