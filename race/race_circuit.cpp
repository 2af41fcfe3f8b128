// The circuit's hash over its picture and grid, and the search for a race's circuit.
#include "race/race_circuit.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "data/circuit.h"
#include "platform/files.h"

std::string CircuitSha256(const void* bytes, size_t size) {
  static const int ready = sodium_init();  // picks the fastest code for this processor, once
  (void)ready;
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, static_cast<const unsigned char*>(bytes), size);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string CircuitSha256(const std::string& hostPath, std::string* error) {
  const auto fail = [&](const char* what) {
    if (error != nullptr) *error = hostPath + ": " + what;
    return std::string();
  };
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) return fail("can't be read");
  unsigned char header[4] = {};
  std::vector<unsigned char> bytes;
  const long long size = FileSize(file);
  if (std::fread(header, 1, 4, file) == 4) {
    const uint16_t width = static_cast<uint16_t>(header[0] | header[1] << 8);
    const uint16_t height = static_cast<uint16_t>(header[2] | header[3] << 8);
    const long long length = RecordOffset(width, height);
    if (width > 0 && height > 0 && size >= length) {
      bytes.resize(static_cast<size_t>(length));
      std::copy(header, header + 4, bytes.begin());
      if (std::fread(bytes.data() + 4, 1, bytes.size() - 4, file) != bytes.size() - 4) bytes.clear();
    }
  }
  std::fclose(file);
  if (bytes.empty()) return fail("is not a circuit file (shorter than its picture and grid)");
  return CircuitSha256(bytes.data(), bytes.size());
}

int CheckRaceCircuit(const RaceFile& race, const std::string& raceName, const std::string& circuitHostPath,
                     std::string* error) {
  std::string reason;
  const std::string hash = CircuitSha256(circuitHostPath, &reason);
  if (hash.empty()) {
    if (error != nullptr) *error = raceName + ": its circuit " + reason;
    return 1;
  }
  if (hash == race.circuitSha256) return 0;
  if (error != nullptr) {
    *error = raceName + ": the circuit " + circuitHostPath +
             " is not the one this race was run on (its picture or grid has changed)";
  }
  return 1;
}

std::string FindRaceCircuit(const RaceFile& race, const std::string& raceName,
                            const std::vector<std::string>& circuitFolders, std::string* error) {
  std::vector<std::string> candidates;
  if (!race.circuitPath.empty()) candidates.push_back(race.circuitPath);
  for (const std::string& folder : circuitFolders) {
    if (!folder.empty()) candidates.push_back(folder + (folder.back() == '/' ? "" : "/") + race.circuitName);
  }
  std::string firstMismatch;
  for (const std::string& path : candidates) {
    std::string reason;
    if (CircuitSha256(path, &reason) == race.circuitSha256) return path;
    if (firstMismatch.empty() && reason.empty()) firstMismatch = path;  // readable, but another circuit
  }
  // A race from the server names its circuit by its hash, and the player keeps it under a name of
  // their own: any circuit file of the folders with the race's hash is the one (the first 1000 of
  // each folder, as the selector lists them).
  for (const std::string& folder : circuitFolders) {
    if (folder.empty()) continue;
    std::error_code ec;
    std::filesystem::directory_iterator entries(folder, ec);
    int looked = 0;
    for (; !ec && entries != std::filesystem::directory_iterator() && looked < 1000; entries.increment(ec)) {
      const std::filesystem::path& path = entries->path();
      if (path.extension() != ".cct" || !entries->is_regular_file(ec)) continue;
      ++looked;
      std::string reason;
      if (CircuitSha256(path.string(), &reason) == race.circuitSha256) return path.string();
    }
  }
  if (error != nullptr) {
    if (!firstMismatch.empty()) {
      *error = raceName + ": the circuit " + firstMismatch +
               " is not the one this race was run on (its picture or grid has changed)";
    } else {
      *error = raceName + ": its circuit " + race.circuitName + " is nowhere to be found";
    }
  }
  return std::string();
}
