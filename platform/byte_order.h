// Little-endian fields, the byte order of every file the game and its tools read and write.
#pragma once

#include <cstdint>
#include <vector>

inline uint16_t ReadU16(const unsigned char* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }
inline int16_t ReadS16(const unsigned char* bytes) { return static_cast<int16_t>(ReadU16(bytes)); }
inline uint32_t ReadU32(const unsigned char* bytes) {
  return ReadU16(bytes) | (static_cast<uint32_t>(ReadU16(bytes + 2)) << 16);
}

inline void PutU16(unsigned char* bytes, uint16_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
}
inline void PutU32(unsigned char* bytes, uint32_t value) {
  PutU16(bytes, static_cast<uint16_t>(value));
  PutU16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

inline void AppendU16(std::vector<unsigned char>& bytes, uint16_t value) {
  bytes.push_back(static_cast<unsigned char>(value));
  bytes.push_back(static_cast<unsigned char>(value >> 8));
}
inline void AppendU32(std::vector<unsigned char>& bytes, uint32_t value) {
  AppendU16(bytes, static_cast<uint16_t>(value));
  AppendU16(bytes, static_cast<uint16_t>(value >> 16));
}
