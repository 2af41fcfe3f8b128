// Test helpers: temporary folders, raw file bytes, and circuits built in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/grid_point.h"

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& host() const { return host_; }
  std::string HostFile(const std::string& name) const { return host_ + "/" + name; }
  // The same file as a device path, as the game names files.
  std::u16string File(const std::string& name) const;

 private:
  std::string host_;
};

using Bytes = std::vector<unsigned char>;

Bytes ReadBytes(const std::string& hostPath);
void WriteBytes(const std::string& hostPath, const Bytes& bytes);
bool FileExists(const std::string& hostPath);

void PutU16(Bytes& bytes, uint16_t value);
void PutU32(Bytes& bytes, uint32_t value);
uint16_t GetU16(const Bytes& bytes, size_t offset);
uint32_t GetU32(const Bytes& bytes, size_t offset);

// A circuit in memory, written out in the circuit file format. The grid starts all free.
struct TestCircuit {
  uint16_t width = 0;
  uint16_t height = 0;
  GridPoint start;
  GridPoint lineA;
  GridPoint lineB;
  GridPoint ahead;
  std::vector<uint16_t> pixels;  // width*height; filled with a pattern when left empty
  std::vector<uint8_t> cells;    // width*height; all 0 when left empty
  bool withRecord = false;
  std::vector<GridPoint> record;

  TestCircuit(uint16_t w, uint16_t h);
  void Block(int x, int y) { cells[static_cast<size_t>(y) * width + x] = 1; }
  // Blocks every cell of the rectangle [x0, x1) x [y0, y1).
  void BlockRect(int x0, int y0, int x1, int y1);
  Bytes Encode() const;
};
