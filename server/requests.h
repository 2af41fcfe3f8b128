// The request bodies of the online race API, read strictly: a body with an unknown field, a field
// of the wrong type or a number out of range is refused whole, with a one-line reason.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Who drives a seat, as the API and race files name it.
enum class SeatDriver : uint8_t { kHuman, kClub, kPro };
const char* DriverName(SeatDriver driver);

constexpr int kMinSeats = 2;
constexpr int kMaxSeats = 8;
constexpr int kMaxLaps = 20;
constexpr int kMaxLiveSeconds = 3600;             // a live race's longest time per move
constexpr int kMaxCorrespondenceHours = 24 * 30;  // a correspondence race's longest
constexpr size_t kMinPasswordLength = 8;
constexpr size_t kMaxPasswordLength = 256;  // the hash reads it whole; nobody types more

struct AccountBody {
  std::string name;
  std::string password;
};

struct RaceBody {
  std::string circuit;  // 64 lowercase hex digits
  int seats = 0;
  int laps = 1;
  bool live = true;
  int moveSeconds = 0;  // 0: no limit (live races only)
  bool assists = true;
  std::array<SeatDriver, kMaxSeats> drivers{};  // seat 0 is always the creator's
};

struct MoveBody {
  int64_t index = 0;
  int16_t x = 0;
  int16_t y = 0;
};

// 1 to 24 letters, digits, '-' and '_'.
bool IsValidName(std::string_view name);
// 64 lowercase hexadecimal digits, as circuits are named.
bool IsCircuitId(std::string_view id);

bool ParseAccountBody(std::string_view body, AccountBody* out, std::string* error);
bool ParseRaceBody(std::string_view body, RaceBody* out, std::string* error);
bool ParseMoveBody(std::string_view body, MoveBody* out, std::string* error);
