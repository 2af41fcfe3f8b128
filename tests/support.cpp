// Test helpers.
#include "tests/support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/files.h"

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "apexgrid-test-XXXXXX").string();
  host_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!host_.empty()) std::filesystem::remove_all(host_, ignored);
}

std::u16string TempFolder::File(const std::string& name) const {
  return DevicePath(HostFile(name));
}

Bytes ReadBytes(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& hostPath, const Bytes& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& hostPath) { return std::filesystem::exists(hostPath); }

void PutU16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<unsigned char>(value));
  bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void PutU32(Bytes& bytes, uint32_t value) {
  PutU16(bytes, static_cast<uint16_t>(value));
  PutU16(bytes, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

uint32_t GetU32(const Bytes& bytes, size_t offset) {
  return GetU16(bytes, offset) | (static_cast<uint32_t>(GetU16(bytes, offset + 2)) << 16);
}

TestCircuit::TestCircuit(uint16_t w, uint16_t h)
    : width(w), height(h), cells(static_cast<size_t>(w) * h, 0) {
  pixels.resize(cells.size());
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
}

void TestCircuit::BlockRect(int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) Block(x, y);
  }
}

Bytes TestCircuit::Encode() const {
  Bytes b;
  PutU16(b, width);
  PutU16(b, height);
  for (GridPoint p : {start, lineA, lineB, ahead}) {
    PutU16(b, static_cast<uint16_t>(p.x));
    PutU16(b, static_cast<uint16_t>(p.y));
  }
  for (uint16_t p : pixels) PutU16(b, p);
  b.insert(b.end(), cells.begin(), cells.end());
  if (withRecord) {
    PutU16(b, static_cast<uint16_t>(record.size()));
    for (GridPoint p : record) {
      PutU16(b, static_cast<uint16_t>(p.x));
      PutU16(b, static_cast<uint16_t>(p.y));
    }
  }
  return b;
}
