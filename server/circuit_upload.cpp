// Checking and naming uploaded circuits.
#include "server/circuit_upload.h"

#include <sodium.h>
#include <unistd.h>

#include <cstdio>

#include "platform/files.h"

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string CircuitWithoutRecord(std::string_view bytes, std::string* error) {
  if (bytes.size() < static_cast<size_t>(kCircuitHeaderBytes)) {
    *error = "the circuit file is shorter than its header";
    return {};
  }
  const auto u16 = [&bytes](size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                             << 8);
  };
  const uint16_t width = u16(0);
  const uint16_t height = u16(2);
  if (width == 0 || height == 0 || width > kMaxCircuitSide || height > kMaxCircuitSide) {
    *error = "a circuit is 1 to 4096 cells each way";
    return {};
  }
  const long long size = RecordOffset(width, height);
  if (bytes.size() < static_cast<size_t>(size)) {
    *error = "the circuit file is shorter than its picture and grid";
    return {};
  }
  const auto s16 = [&u16](size_t at) { return static_cast<int16_t>(u16(at)); };
  const int startX = s16(4);
  const int startY = s16(6);
  const size_t cells = kCircuitHeaderBytes + 2LL * width * height;
  // A start off the grid or on a wall leaves no car a move; the game would load it, but no race
  // on it could be run.
  if (startX < 0 || startY < 0 || startX >= width || startY >= height ||
      bytes[cells + static_cast<size_t>(startY) * width + startX] != 0) {
    *error = "the circuit's start is not on free track";
    return {};
  }
  return std::string(bytes.substr(0, static_cast<size_t>(size)));
}

std::unique_ptr<TrackGrid> LoadCircuitBytes(std::string_view bytes, const std::string& scratchPath,
                                            std::string* error) {
  std::string writeError;
  if (WriteHostFile(scratchPath, bytes.data(), bytes.size(), &writeError) != 0) {
    *error = "the circuit can't be stored: " + writeError;
    return nullptr;
  }
  auto track = std::make_unique<TrackGrid>();
  const int16_t status = LoadCircuit(*track, DevicePath(scratchPath));
  unlink(scratchPath.c_str());
  if (status != 0 || track->collisionGrid == nullptr) {
    *error = "the game's loader refuses the circuit";
    return nullptr;
  }
  return track;
}
