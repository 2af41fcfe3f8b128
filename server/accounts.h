// Passwords, session tokens and the brake on guessing them: argon2id hashes, random bearer tokens
// kept only as hashes, and sign-in failures counted per name and per address.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// False when libsodium can't start (no randomness).
bool StartCrypto();

// The argon2id hash string of the password, with the interactive limits; empty when memory runs
// out.
std::string HashPassword(const std::string& password);
bool PasswordMatches(const std::string& hash, const std::string& password);

// A new bearer token: 32 random bytes as 64 hexadecimal digits.
std::string NewToken();
// What the database keeps of a token: its SHA-256, so that a copy of the database opens no seat.
std::string TokenHash(const std::string& token);

// Sign-in failures in a sliding window: after too many for a name or from an address, sign-ins
// for it are refused (429) until the window has passed, right password or not.
class SignInBrake {
 public:
  SignInBrake(int perName, int perAddress, int64_t windowMs)
      : perName_(perName), perAddress_(perAddress), windowMs_(windowMs) {}
  bool Allowed(const std::string& name, const std::string& address, int64_t now);
  void Failed(const std::string& name, const std::string& address, int64_t now);

 private:
  struct Count {
    int failures = 0;
    int64_t since = 0;
  };
  bool Over(std::map<std::string, Count>& counts, const std::string& key, int limit, int64_t now);
  void Add(std::map<std::string, Count>& counts, const std::string& key, int64_t now);

  std::mutex mutex_;
  int perName_;
  int perAddress_;
  int64_t windowMs_;
  std::map<std::string, Count> names_;
  std::map<std::string, Count> addresses_;
};
