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

// The record section, read from where the file stands with `available` bytes left in it; true with
// its count and points when the file has a sound one. A file without one has no record. One that
// claims more points than the trail holds, or than the file has bytes for, is read as no record:
// the circuit still races. So is one of 1 or 2 points: it would claim 65535 or 0 rounds, and the
// second could never be beaten.
bool ReadRecordSection(std::FILE* file, long long available, uint16_t* count, std::vector<GridPoint>* points) {
  unsigned char countBytes[2];
  if (available < 2 || !ReadExactly(file, countBytes, 2)) return false;
  *count = ReadU16(countBytes);
  if (*count > kRecordCapacity || available - 2 < 4LL * *count || (*count > 0 && *count < kMinRecordPoints)) {
    return false;
  }
  if (*count == 0) return true;
  std::vector<unsigned char> raw(4 * static_cast<size_t>(*count));
  if (!ReadExactly(file, raw.data(), raw.size())) return false;
  points->resize(*count);
  for (size_t i = 0; i < *count; ++i) (*points)[i] = ReadPoint(raw.data() + 4 * i);
  return true;
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

  uint16_t count = 0;
  std::vector<GridPoint> points;
  const bool hasSection = ReadRecordSection(file, size - recordOffset, &count, &points);
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

namespace {

// Which record a circuit file holds while a new one is written into it.
enum RecordOnFile { kOldRecord, kNoRecord, kNewRecord };

// The new record section in the place of the old one, in an order that keeps the file loadable
// at every moment: the count goes to 0 and reaches the disk, then the points, then the count.
// A crash or a failure on the way leaves the old record, none, or the new one; never a count
// over points that aren't there.
RecordOnFile WriteRecordInPlace(const FileUpdate& file, long long offset, const std::vector<unsigned char>& section) {
  // Room first, so that a full disk stops this before anything has changed.
  if (ReserveFileSpace(file, offset, static_cast<long long>(section.size())) != 0) return kOldRecord;
  const unsigned char none[2] = {0, 0};
  if (WriteFileAt(file, offset, none, 2) != 0) return kOldRecord;
  if (SyncFile(file) != 0 || WriteFileAt(file, offset + 2, section.data() + 2, section.size() - 2) != 0 ||
      SyncFile(file) != 0 || WriteFileAt(file, offset, section.data(), 2) != 0) {
    return kNoRecord;
  }
  // The count is in. What an older, longer record left behind it is cut off; no load reads it,
  // so a failure here or in the syncs costs nothing.
  if (SyncFile(file) == 0 && TruncateFile(file, offset + static_cast<long long>(section.size())) == 0) {
    SyncFile(file);
  }
  return kNewRecord;
}

RecordOnFile WriteRecord(const FileUpdate& file, long long offset, const std::vector<unsigned char>& section) {
  // Replacing the whole file is the cleanest way where it loses the user nothing.
  if (file.replaceable) {
    std::vector<unsigned char> content(static_cast<size_t>(offset) + section.size());
    if (ReadFileAt(file, 0, content.data(), static_cast<size_t>(offset)) == 0) {
      std::copy(section.begin(), section.end(), content.begin() + offset);
      if (ReplaceUpdatedFile(file, content.data(), content.size()) == 0) return kNewRecord;
    }
    // The file is as it was; the record can still go in place.
  }
  return WriteRecordInPlace(file, offset, section);
}

}  // namespace

namespace {

// The record the file holds, read as LoadCircuit reads it: none (an empty list) when there is no
// section or one that can't be trusted.
std::vector<GridPoint> StoredRecord(const FileUpdate& file, long long offset) {
  std::vector<GridPoint> points;
  unsigned char countBytes[2];
  if (file.size - offset < 2 || ReadFileAt(file, offset, countBytes, 2) != 0) return points;
  const uint16_t count = ReadU16(countBytes);
  if (count < kMinRecordPoints || count > kRecordCapacity || file.size - offset - 2 < 4LL * count) return points;
  std::vector<unsigned char> raw(4 * static_cast<size_t>(count));
  if (ReadFileAt(file, offset + 2, raw.data(), raw.size()) != 0) return points;
  points.resize(count);
  for (size_t i = 0; i < count; ++i) points[i] = ReadPoint(raw.data() + 4 * i);
  return points;
}

void KeepInMemory(TrackGrid& track, const GridPoint* points, uint16_t count) {
  std::copy(points, points + count, track.recordTrail);
  track.recordCount = count;
  track.recordRounds = static_cast<uint16_t>(count - 2);  // a count of 0 loads as 65534, too
}

}  // namespace

void SaveRecord(TrackGrid& track, const GridPoint* points, uint16_t count) {
  if (count > kRecordCapacity || track.path.empty()) return;
  // A shipped circuit of a program folder this user can't write keeps its records in the user's
  // private copy of it, which from now on is the circuit played.
  const std::u16string path = RecordFile(track.path);
  if (path.empty()) {
    ++track.recordsLost;
    return;
  }
  // The file must exist and take updates; a missing or read-only circuit drops the record. The
  // lock makes every writer (another copy of the game, the circuit tool) measure its lap against
  // the record the file holds now, not the one it loaded: a better lap stored meanwhile stands.
  FileUpdate file;
  if (OpenLockedFileUpdate(path, &file) != 0) {
    ++track.recordsLost;
    return;
  }
  // Write only behind the grid of the circuit that was loaded. A file that has since been cut
  // short or given another size would be damaged by a record written at this offset.
  const long long recordOffset = RecordOffset(track.width, track.height);
  unsigned char size[4];
  if (file.size < recordOffset || ReadFileAt(file, 0, size, sizeof size) != 0 || ReadU16(size) != track.width ||
      ReadU16(size + 2) != track.height) {
    CloseFileUpdate(&file);
    ++track.recordsLost;
    return;
  }
  const std::vector<GridPoint> stored = StoredRecord(file, recordOffset);
  // Fewer points is a faster lap. Anything too short to be a lap only ever fills an empty place.
  if (!stored.empty() && (count < kMinRecordPoints || count >= stored.size())) {
    CloseFileUpdate(&file);
    track.path = path;
    KeepInMemory(track, stored.data(), static_cast<uint16_t>(stored.size()));
    return;
  }
  std::vector<unsigned char> section;
  section.reserve(2 + 4 * static_cast<size_t>(count));
  AppendU16(section, count);
  for (size_t i = 0; i < count; ++i) AppendPoint(section, points[i]);
  const RecordOnFile written = WriteRecord(file, recordOffset, section);
  CloseFileUpdate(&file);
  if (written != kOldRecord) track.path = path;

  // Memory follows the file, so that what the board shows and what the next lap is measured
  // against is what a new start would load.
  if (written == kNewRecord) {
    KeepInMemory(track, points, count);
    return;
  }
  ++track.recordsLost;
  if (written == kOldRecord) {
    KeepInMemory(track, stored.data(), static_cast<uint16_t>(stored.size()));
  } else {
    KeepInMemory(track, nullptr, 0);
  }
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
