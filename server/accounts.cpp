// Password hashes, tokens and the sign-in brake.
#include "server/accounts.h"

#include <sodium.h>

#include "server/circuit_upload.h"

bool StartCrypto() { return sodium_init() >= 0; }

std::string HashPassword(const std::string& password) {
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return {};
  }
  return hash;
}

bool PasswordMatches(const std::string& hash, const std::string& password) {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string NewToken() {
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char hex[2 * sizeof bytes + 1];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  return hex;
}

std::string TokenHash(const std::string& token) { return Sha256Hex(token); }

bool SignInBrake::Over(std::map<std::string, Count>& counts, const std::string& key, int limit, int64_t now) {
  auto it = counts.find(key);
  if (it == counts.end()) return false;
  if (now - it->second.since >= windowMs_) {
    counts.erase(it);
    return false;
  }
  return it->second.failures >= limit;
}

void SignInBrake::Add(std::map<std::string, Count>& counts, const std::string& key, int64_t now) {
  // Old windows go as new failures come, so that the table holds only the last window's keys.
  if (counts.size() > 100000) {
    for (auto it = counts.begin(); it != counts.end();) {
      it = now - it->second.since >= windowMs_ ? counts.erase(it) : std::next(it);
    }
  }
  Count& count = counts[key];
  if (count.failures == 0 || now - count.since >= windowMs_) count = Count{0, now};
  ++count.failures;
}

bool SignInBrake::Allowed(const std::string& name, const std::string& address, int64_t now) {
  std::lock_guard<std::mutex> lock(mutex_);
  return !Over(names_, name, perName_, now) && !Over(addresses_, address, perAddress_, now);
}

void SignInBrake::Failed(const std::string& name, const std::string& address, int64_t now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Add(names_, name, now);
  Add(addresses_, address, now);
}
