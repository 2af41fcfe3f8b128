// Strict readers of the API's request bodies.
#include "server/requests.h"

#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// The body as a JSON object whose fields are all among the known ones.
bool ReadObject(std::string_view body, std::initializer_list<const char*> known, json* out, std::string* error) {
  *out = json::parse(body.begin(), body.end(), nullptr, false);
  if (out->is_discarded()) {
    *error = "the body is not JSON";
    return false;
  }
  if (!out->is_object()) {
    *error = "the body is not a JSON object";
    return false;
  }
  for (const auto& item : out->items()) {
    bool found = false;
    for (const char* name : known) found = found || item.key() == name;
    if (!found) {
      *error = "unknown field '" + item.key().substr(0, 40) + "'";
      return false;
    }
  }
  return true;
}

bool ReadInteger(const json& object, const char* name, int64_t low, int64_t high, int64_t* out, std::string* error) {
  const auto it = object.find(name);
  if (it == object.end()) {
    *error = std::string("missing field '") + name + "'";
    return false;
  }
  // Only whole numbers written as such; 3.0 and 1e3 are not, and neither are numbers past 64 bits.
  if (it->is_number_unsigned()) {
    const uint64_t value = it->get<uint64_t>();
    if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) || static_cast<int64_t>(value) > high) {
      *error = std::string("'") + name + "' is out of range";
      return false;
    }
    *out = static_cast<int64_t>(value);
  } else if (it->is_number_integer()) {
    *out = it->get<int64_t>();
  } else {
    *error = std::string("'") + name + "' is not a whole number";
    return false;
  }
  if (*out < low || *out > high) {
    *error = std::string("'") + name + "' is out of range";
    return false;
  }
  return true;
}

bool ReadString(const json& object, const char* name, size_t maxLength, std::string* out, std::string* error) {
  const auto it = object.find(name);
  if (it == object.end()) {
    *error = std::string("missing field '") + name + "'";
    return false;
  }
  if (!it->is_string()) {
    *error = std::string("'") + name + "' is not a string";
    return false;
  }
  *out = it->get<std::string>();
  if (out->size() > maxLength) {
    *error = std::string("'") + name + "' is too long";
    return false;
  }
  return true;
}

}  // namespace

const char* DriverName(SeatDriver driver) {
  switch (driver) {
    case SeatDriver::kClub:
      return "club";
    case SeatDriver::kPro:
      return "pro";
    case SeatDriver::kHuman:
      break;
  }
  return "human";
}

bool IsValidName(std::string_view name) {
  if (name.empty() || name.size() > 24) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool IsCircuitId(std::string_view id) {
  if (id.size() != 64) return false;
  for (const char c : id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ParseAccountBody(std::string_view body, AccountBody* out, std::string* error) {
  json object;
  if (!ReadObject(body, {"name", "password"}, &object, error)) return false;
  if (!ReadString(object, "name", 24, &out->name, error)) return false;
  if (!ReadString(object, "password", kMaxPasswordLength, &out->password, error)) return false;
  if (!IsValidName(out->name)) {
    *error = "a name is 1 to 24 letters, digits, '-' and '_'";
    return false;
  }
  return true;
}

bool ParseRaceBody(std::string_view body, RaceBody* out, std::string* error) {
  json object;
  if (!ReadObject(body, {"circuit", "seats", "laps", "pace", "move_seconds", "assists", "computers"}, &object, error)) {
    return false;
  }
  RaceBody race;
  if (!ReadString(object, "circuit", 64, &race.circuit, error)) return false;
  if (!IsCircuitId(race.circuit)) {
    *error = "'circuit' is not a circuit id";
    return false;
  }
  int64_t number = 0;
  if (!ReadInteger(object, "seats", kMinSeats, kMaxSeats, &number, error)) return false;
  race.seats = static_cast<int>(number);
  if (object.contains("laps")) {
    if (!ReadInteger(object, "laps", 1, kMaxLaps, &number, error)) return false;
    race.laps = static_cast<int>(number);
  }
  std::string pace = "live";
  if (object.contains("pace")) {
    if (!ReadString(object, "pace", 16, &pace, error)) return false;
    if (pace != "live" && pace != "correspondence") {
      *error = "'pace' is live or correspondence";
      return false;
    }
  }
  race.live = pace == "live";
  if (object.contains("move_seconds") || !race.live) {
    const int64_t high = race.live ? kMaxLiveSeconds : kMaxCorrespondenceHours * 3600LL;
    if (!ReadInteger(object, "move_seconds", race.live ? 0 : 1, high, &number, error)) return false;
    race.moveSeconds = static_cast<int>(number);
  }
  if (object.contains("assists")) {
    if (!object["assists"].is_boolean()) {
      *error = "'assists' is true or false";
      return false;
    }
    race.assists = object["assists"].get<bool>();
  }
  if (object.contains("computers")) {
    const json& computers = object["computers"];
    if (!computers.is_object()) {
      *error = "'computers' is an object of seats";
      return false;
    }
    for (const auto& item : computers.items()) {
      const std::string& key = item.key();
      // Seat 0 is the creator's own.
      if (key.size() != 1 || key[0] < '1' || key[0] - '0' >= race.seats) {
        *error = "'computers' names a seat the race doesn't have";
        return false;
      }
      if (!item.value().is_string() || (item.value() != "club" && item.value() != "pro")) {
        *error = "a computer seat is club or pro";
        return false;
      }
      race.drivers[key[0] - '0'] = item.value() == "pro" ? SeatDriver::kPro : SeatDriver::kClub;
    }
  }
  *out = race;
  return true;
}

bool ParseMoveBody(std::string_view body, MoveBody* out, std::string* error) {
  json object;
  if (!ReadObject(body, {"index", "x", "y"}, &object, error)) return false;
  int64_t index = 0;
  int64_t x = 0;
  int64_t y = 0;
  if (!ReadInteger(object, "index", 0, std::numeric_limits<int32_t>::max(), &index, error)) return false;
  if (!ReadInteger(object, "x", std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max(), &x, error) ||
      !ReadInteger(object, "y", std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max(), &y, error)) {
    return false;
  }
  out->index = index;
  out->x = static_cast<int16_t>(x);
  out->y = static_cast<int16_t>(y);
  return true;
}
