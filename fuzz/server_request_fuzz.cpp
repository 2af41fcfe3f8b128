// Fuzzes the race server's readers of what clients send: the JSON bodies of accounts, races and
// moves, and uploaded circuits. The first byte picks the reader; whatever is accepted keeps to
// the ranges the server relies on.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/circuit_upload.h"
#include "server/requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  switch (data[0] % 4) {
    case 0: {
      AccountBody account;
      if (ParseAccountBody(body, &account, &error) && !IsValidName(account.name)) __builtin_trap();
      break;
    }
    case 1: {
      RaceBody race;
      if (ParseRaceBody(body, &race, &error)) {
        if (race.seats < kMinSeats || race.seats > kMaxSeats || race.laps < 1 || race.laps > kMaxLaps ||
            !IsCircuitId(race.circuit) || race.moveSeconds < 0 || race.drivers[0] != SeatDriver::kHuman) {
          __builtin_trap();
        }
        for (int seat = race.seats; seat < kMaxSeats; ++seat) {
          if (race.drivers[seat] != SeatDriver::kHuman) __builtin_trap();
        }
      }
      break;
    }
    case 2: {
      MoveBody move;
      if (ParseMoveBody(body, &move, &error) && move.index < 0) __builtin_trap();
      break;
    }
    default: {
      const std::string kept = CircuitWithoutRecord(body, &error);
      if (!kept.empty() && (kept.size() > body.size() || body.substr(0, kept.size()) != kept)) __builtin_trap();
      break;
    }
  }
  return 0;
}
