// Circuit loader, outline builder and record writer.
#include "data/circuit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/folder.h"
#include "platform/byte_order.h"
#include "platform/files.h"

namespace {

GridPoint ReadPoint(const unsigned char* b) { return GridPoint{ReadS16(b), ReadS16(b + 2)}; }

void AppendPoint(std::vector<unsigned char>& bytes, GridPoint p) {
  AppendU16(bytes, static_cast<uint16_t>(p.x));
  AppendU16(bytes, static_cast<uint16_t>(p.y));
}

// Reads exactly size bytes; anything less is a failure.
bool ReadExactly(std::FILE* file, void* target, size_t size) {
  return size == 0 || std::fread(target, 1, size, file) == size;
}

}  // namespace

TrackGrid::~TrackGrid() { ReleaseCircuit(*this); }

void ReleaseCircuit(TrackGrid& track) {
  std::free(track.collisionGrid);
  track.collisionGrid = nullptr;
  std::free(track.outlineGrid);
  track.outlineGrid = nullptr;
  std::free(track.outlineRows);
  track.outlineRows = nullptr;
  std::free(track.outlineCells);
  track.outlineCells = nullptr;
  track.path.clear();
  track.path.shrink_to_fit();
  ReleasePixels(track.picture);
}

int16_t LoadCircuit(TrackGrid& track, const std::u16string& path) {
  std::FILE* file = OpenDeviceFile(path, "rb");
  if (file == nullptr) return 1;

  // Everything is read into new storage first and handed to the grid only once the whole file
  // has proved sound, so a bad file leaves the circuit that was there.
  const long long size = FileSize(file);
  unsigned char header[kCircuitHeaderBytes];
  if (!ReadExactly(file, header, sizeof header)) {
    std::fclose(file);
    return 1;
  }
  const uint16_t width = ReadU16(header);
  const uint16_t height = ReadU16(header + 2);
  const size_t cells = static_cast<size_t>(width) * height;
  const long long recordOffset = RecordOffset(width, height);
  if (cells == 0 || size < recordOffset) {
    std::fclose(file);
    return 1;
  }

  Picture picture;
  if (CreatePicture(picture, width, height, kPictureGivenSize) != 0 || picture.pixels == nullptr ||
      !ReadExactly(file, picture.pixels, cells * 2)) {
    std::fclose(file);
    return 1;
  }
  auto* pixelBytes = reinterpret_cast<unsigned char*>(picture.pixels);
  for (size_t i = 0; i < cells; ++i) picture.pixels[i] = ReadU16(pixelBytes + 2 * i);

  auto* collision = static_cast<uint8_t*>(std::malloc(cells));
  if (collision == nullptr || !ReadExactly(file, collision, cells)) {
    std::free(collision);
    std::fclose(file);
    return 1;
  }

  // The record section. A file without one has no record. One that claims more points than the
  // trail holds, or than the file has bytes for, is read as no record: the circuit still races.
  // So is one of 1 or 2 points: it would claim 65535 or 0 rounds, and the second could never be
  // beaten.
  bool hasSection = false;
  uint16_t count = 0;
  std::vector<GridPoint> points;
  unsigned char countBytes[2];
  if (size - recordOffset >= 2 && ReadExactly(file, countBytes, 2)) {
    count = ReadU16(countBytes);
    hasSection = true;
    if (count > kRecordCapacity || size - recordOffset - 2 < 4LL * count || (count > 0 && count < kMinRecordPoints)) {
      hasSection = false;
    } else if (count > 0) {
      std::vector<unsigned char> raw(4 * static_cast<size_t>(count));
      if (!ReadExactly(file, raw.data(), raw.size())) {
        hasSection = false;
      } else {
        points.resize(count);
        for (size_t i = 0; i < count; ++i) points[i] = ReadPoint(raw.data() + 4 * i);
      }
    }
  }
  std::fclose(file);

  std::free(track.collisionGrid);
  track.collisionGrid = collision;
  track.width = width;
  track.height = height;
  track.startPoint = ReadPoint(header + 4);
  track.finishLineA = ReadPoint(header + 8);
  track.finishLineB = ReadPoint(header + 12);
  track.aheadPoint = ReadPoint(header + 16);
  SwapPictures(track.picture, picture);  // the old pixels leave with the local picture
  if (!hasSection) {
    track.recordCount = 0;
    track.recordRounds = 0;
  } else {
    // A count of 0 keeps the earlier trail points; only the count says none are in use.
    std::copy(points.begin(), points.end(), track.recordTrail);
    track.recordCount = count;
    track.recordRounds = static_cast<uint16_t>(count - 2);
  }
  track.path = path;
  BuildOutline(track);
  return 0;
}

int BuildOutline(TrackGrid& track) {
  std::free(track.outlineGrid);
  std::free(track.outlineRows);
  std::free(track.outlineCells);
  track.outlineRows = nullptr;
  track.outlineCells = nullptr;
  const size_t cells = static_cast<size_t>(track.width) * track.height;
  track.outlineGrid = static_cast<uint8_t*>(std::calloc(cells ? cells : 1, 1));
  if (track.outlineGrid == nullptr) return 1;
  const uint8_t* grid = track.collisionGrid;
  if (grid == nullptr) return 0;
  const size_t w = track.width;
  size_t marked = 0;
  for (size_t y = 1; y + 1 < track.height; ++y) {
    for (size_t x = 1; x + 1 < w; ++x) {
      const size_t i = y * w + x;
      if (grid[i] != 1) continue;
      if (grid[i - 1] == 0 || grid[i + 1] == 0 || grid[i - w] == 0 || grid[i + w] == 0) {
        track.outlineGrid[i] = 1;
        ++marked;
      }
    }
  }

  // The outline is a thin line through a large grid; listing its cells once here lets every frame
  // draw them without looking at the cells in between.
  auto* rows = static_cast<uint32_t*>(std::malloc((track.height + 1) * sizeof(uint32_t)));
  auto* xs = static_cast<uint16_t*>(std::malloc((marked ? marked : 1) * sizeof(uint16_t)));
  if (rows == nullptr || xs == nullptr) {
    std::free(rows);
    std::free(xs);
    return 1;
  }
  uint32_t next = 0;
  for (size_t y = 0; y < track.height; ++y) {
    rows[y] = next;
    const uint8_t* row = track.outlineGrid + y * w;
    for (size_t x = 0; x < w; ++x) {
      if (row[x] == 1) xs[next++] = static_cast<uint16_t>(x);
    }
  }
  rows[track.height] = next;
  track.outlineRows = rows;
  track.outlineCells = xs;
  return 0;
}

void SaveRecord(TrackGrid& track, const GridPoint* points, uint16_t count) {
  if (count > kRecordCapacity || track.path.empty()) return;
  // A shipped circuit of a program folder this user can't write keeps its records in the user's
  // private copy of it, which from now on is the circuit played.
  const std::u16string path = RecordFile(track.path);
  if (path.empty()) return;
  // The file must exist and take updates; a missing or read-only circuit drops the record.
  std::FILE* file = OpenDeviceFile(path, "r+b");
  if (file == nullptr) return;
  const long long size = FileSize(file);
  const long long recordOffset = RecordOffset(track.width, track.height);
  std::vector<unsigned char> content(size > 0 ? static_cast<size_t>(size) : 0);
  const bool read = size >= recordOffset && ReadExactly(file, content.data(), content.size());
  std::fclose(file);
  // Write only behind the grid of the circuit that was loaded. A file that has since been cut
  // short or given another size would be damaged by a record written at this offset.
  if (!read || ReadU16(content.data()) != track.width ||
      ReadU16(content.data() + 2) != track.height) {
    return;
  }

  // The section is written over the old one; a shorter record leaves the old tail behind it,
  // which no load reads.
  const size_t end = static_cast<size_t>(recordOffset) + 2 + 4 * static_cast<size_t>(count);
  if (content.size() < end) content.resize(end);
  unsigned char* section = content.data() + recordOffset;
  PutU16(section, count);
  for (size_t i = 0; i < count; ++i) {
    PutU16(section + 2 + 4 * i, static_cast<uint16_t>(points[i].x));
    PutU16(section + 4 + 4 * i, static_cast<uint16_t>(points[i].y));
  }
  if (ReplaceFileContent(path, content.data(), content.size()) != 0) return;
  track.path = path;

  std::copy(points, points + count, track.recordTrail);
  track.recordCount = count;
  track.recordRounds = static_cast<uint16_t>(count - 2);
}

std::vector<unsigned char> EncodeCircuit(const CircuitFile& c) {
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<size_t>(RecordOffset(c.width, c.height)) + 2 + 4 * c.record.size());
  AppendU16(bytes, c.width);
  AppendU16(bytes, c.height);
  for (GridPoint p : {c.start, c.lineA, c.lineB, c.ahead}) AppendPoint(bytes, p);
  for (uint16_t p : c.pixels) AppendU16(bytes, p);
  bytes.insert(bytes.end(), c.cells.begin(), c.cells.end());
  if (c.hasRecordSection) {
    AppendU16(bytes, static_cast<uint16_t>(c.record.size()));
    for (GridPoint p : c.record) AppendPoint(bytes, p);
  }
  return bytes;
}
