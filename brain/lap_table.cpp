// The lap table: the states of the near-fastest ways to the lap with their rounds, from the exact
// search; windows of velocities a byte a state.
#include "brain/lap_table.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>
#include <utility>

#include "brain/exact_solver.h"
#include "rules/move.h"

namespace {

constexpr uint8_t kUnseen = 0xFF;  // a window entry the table doesn't hold

constexpr char kMagic[8] = {'A', 'P', 'X', 'L', 'A', 'P', 'S', '\0'};
constexpr uint32_t kFormat = 3;
// Magic, format, planes, circuit hash, states, windows, and the stop map's cells (0 for none).
constexpr size_t kHeaderBytes = 8 + 4 + 4 + 8 + 8 + 8 + 8;
// The header's numbers, little-endian.
template <typename T>
void PutNumber(unsigned char* at, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
}
template <typename T>
T GetNumber(const unsigned char* at) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
  return static_cast<T>(value);
}

uint64_t Mix(uint64_t h, uint64_t word) {
  h ^= word;
  h *= 0x100000001B3ull;
  h ^= h >> 29;
  return h;
}

// A checksum of the bytes, eight at a time.
uint64_t Checksum(uint64_t h, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = Mix(h, word);
  }
  for (; i < size; ++i) h = Mix(h, p[i]);
  return h;
}

}  // namespace

// ---- The windows --------------------------------------------------------------------------------

uint64_t LapTable::TileKey(int plane, size_t from, int vx, int vy) {
  const uint64_t tx = static_cast<uint64_t>(vx + kBias) >> kTileBits;
  const uint64_t ty = static_cast<uint64_t>(vy + kBias) >> kTileBits;
  return (static_cast<uint64_t>(plane) << 45 | static_cast<uint64_t>(from) << 16 | tx << 8 | ty) + 1;
}

uint32_t LapTable::FindTile(uint64_t key) const {
  if (slotKeys_.empty()) return ~0u;
  for (size_t s = (key * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;; s = (s + 1) & slotMask_) {
    if (slotKeys_[s] == key) return slotTiles_[s];
    if (slotKeys_[s] == 0) return ~0u;
  }
}

bool LapTable::Rehash(size_t slots) {
  slotKeys_.assign(slots, 0);
  slotTiles_.assign(slots, 0);
  slotMask_ = slots - 1;
  for (uint32_t t = 0; t < keys_.size(); ++t) {
    size_t s = (keys_[t] * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;
    while (slotKeys_[s] != 0 && slotKeys_[s] != keys_[t]) s = (s + 1) & slotMask_;
    if (slotKeys_[s] != 0) return false;
    slotKeys_[s] = keys_[t];
    slotTiles_[s] = t;
  }
  return true;
}

uint32_t LapTable::AddTile(uint64_t key) {
  if ((keys_.size() + 1) * 2 > slotKeys_.size()) Rehash(slotKeys_.empty() ? 1024 : slotKeys_.size() * 2);
  const uint32_t tile = static_cast<uint32_t>(keys_.size());
  keys_.push_back(key);
  tiles_.resize(tiles_.size() + kTileCells, kUnseen);
  size_t s = (key * 0x9E3779B97F4A7C15ull) >> 20 & slotMask_;
  while (slotKeys_[s] != 0) s = (s + 1) & slotMask_;
  slotKeys_[s] = key;
  slotTiles_[s] = tile;
  return tile;
}

const uint8_t* LapTable::Entry(int plane, size_t from, int vx, int vy) const {
  if (vx < -kBias || vy < -kBias || vx >= kBias || vy >= kBias) return nullptr;
  const uint32_t tile = FindTile(TileKey(plane, from, vx, vy));
  if (tile == ~0u) return nullptr;
  const int cell = ((vy + kBias) & (kTileSide - 1)) << kTileBits | ((vx + kBias) & (kTileSide - 1));
  return &tiles_[static_cast<size_t>(tile) * kTileCells + cell];
}

uint8_t* LapTable::MakeEntry(int plane, size_t from, int vx, int vy) {
  if (vx < -kBias || vy < -kBias || vx >= kBias || vy >= kBias) return nullptr;
  const uint64_t key = TileKey(plane, from, vx, vy);
  uint32_t tile = FindTile(key);
  if (tile == ~0u) tile = AddTile(key);
  const int cell = ((vy + kBias) & (kTileSide - 1)) << kTileBits | ((vx + kBias) & (kTileSide - 1));
  return &tiles_[static_cast<size_t>(tile) * kTileCells + cell];
}

int LapTable::PlaneAfter(GridPoint from, GridPoint to, int plane, MoveOutcome* outcome) const {
  *outcome = model_->CleanOutcome(from, to, plane);
  const int after = plane + (*outcome == MoveOutcome::kBackward ? 1 : *outcome == MoveOutcome::kUndo ? -1 : 0);
  return after < kPlanes ? after : -1;
}

// ---- Building -----------------------------------------------------------------------------------

size_t LapTable::DefaultBuildBytes() noexcept {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
  const size_t machine = pages > 0 && pageSize > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(pageSize)
                                                   : size_t{4} << 30;
  return std::min(machine / 4, size_t{4} << 30);
}

void LapTable::Begin(const TrackModel& model, size_t maxBytes, size_t buildBytes) noexcept {
  *this = LapTable();
  model_ = &model;
  maxBytes_ = maxBytes;
  buildBytes_ = buildBytes;
  phase_ = model.built() && !model.Blocked(model.start().x, model.start().y) ? Phase::kBegun : Phase::kFailed;
}

void LapTable::Fail() {
  const TrackModel* model = model_;
  *this = LapTable();
  model_ = model;
  phase_ = Phase::kFailed;
}

bool LapTable::LapEnd(CarState car, CarState* end) const {
  for (int rounds = Rounds(car); rounds > 0; rounds = Rounds(car)) {
    GridPoint to;
    if (!BestMove(car, &to)) return false;
    if (model_->PathBlocked(car.at, to)) {
      car = CarState{car.at, {}, car.reverseCrossings};
      continue;
    }
    const MoveOutcome outcome = model_->CleanOutcome(car.at, to, car.reverseCrossings);
    car = After(car, to, outcome);
    if (outcome == MoveOutcome::kLap) {
      *end = car;
      return true;
    }
  }
  return false;
}

bool LapTable::BuildAll(int threads, const std::function<bool()>& stop,
                        const std::function<void(int lap, const ExactProgress&)>& progress) noexcept {
  if (phase_ != Phase::kBegun) return ready();
  try {
    const TrackModel& m = *model_;
    bool tooLarge = false;
    const ExactTableKeeper keep = [&](const CarState& car, int rounds) {
      if (car.reverseCrossings >= kPlanes || rounds > kMostRounds || tooLarge) return;
      uint8_t* e = MakeEntry(car.reverseCrossings, m.Index(car.at.x - car.velocity.x, car.at.y - car.velocity.y),
                             car.velocity.x, car.velocity.y);
      if (e == nullptr) return;
      if (*e == kUnseen) ++states_;
      *e = static_cast<uint8_t>(std::min<int>(*e, rounds));
      // Checked now and then: the windows grow a tile at a time.
      if ((states_ & 0xFFFF) == 0 && bytes() + slotKeys_.size() * 12 > maxBytes_) tooLarge = true;
    };
    ExactLimits limits;
    limits.seconds = 1e6;
    limits.memoryBytes = buildBytes_;
    limits.threads = threads > 0 ? threads : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    limits.roundsAfterLap = kSpareRounds;
    limits.stop = [&] { return tooLarge || (stop && stop()); };
    // The lap from the standing start, then each lap from where the table's pro ends the one
    // before, until the pro ends a lap where the table holds the next.
    CarState from{m.start(), {}, 0};
    for (int lap = 0; lap <= kFlyingLaps; ++lap) {
      if (progress) limits.progress = [&](const ExactProgress& p) { progress(lap, p); };
      const ExactLap solved = SolveExactTable(m, from, limits, keep);
      if (!solved.table || tooLarge || bytes() > maxBytes_) {
        if (lap == 0) {
          Fail();
          return false;
        }
        break;  // the table of the laps before stands
      }
      CarState end;
      if (!LapEnd(from, &end) || Rounds(end) > 0) break;
      from = end;
    }
    if (Rounds(CarState{m.start(), {}, 0}) < 0) {
      Fail();
      return false;
    }
    // The stop map, when it fits beside the laps and its build in the build's room; else the laps
    // stand alone and CanStop can't tell.
    if (bytes() + StopMap::BytesFor(m) <= maxBytes_ && StopMap::BuildBytesFor(m) <= buildBytes_) {
      try {
        if (progress) progress(-1, ExactProgress{});
        if (!stops_.Build(m, limits.threads, stop)) {
          Fail();
          return false;
        }
      } catch (const std::bad_alloc&) {
        stops_.Clear();
      }
    }
    phase_ = Phase::kReady;
    return true;
  } catch (const std::bad_alloc&) {
    Fail();
    return false;
  }
}

// ---- Answers ------------------------------------------------------------------------------------

int LapTable::Rounds(const CarState& car) const {
  if (phase_ == Phase::kIdle || phase_ == Phase::kFailed || car.reverseCrossings < 0 ||
      car.reverseCrossings >= kPlanes) {
    return -1;
  }
  const int fx = car.at.x - car.velocity.x, fy = car.at.y - car.velocity.y;
  if (model_->Blocked(fx, fy) || model_->Blocked(car.at.x, car.at.y)) return -1;
  const uint8_t* e = Entry(car.reverseCrossings, model_->Index(fx, fy), car.velocity.x, car.velocity.y);
  return e != nullptr && *e >= 1 && *e <= kMostRounds ? *e : -1;
}

bool LapTable::BestMove(const CarState& car, GridPoint* to) const {
  const int rounds = Rounds(car);
  if (rounds < 0) return false;
  const TrackModel& m = *model_;
  const size_t cell = m.Index(car.at.x, car.at.y);
  const GridPoint c = Predicted(car);
  const int plane = car.reverseCrossings;
  // A state the table holds was reached by a clean move from the cell before it, so a move to
  // one is clean; only the lap's own move, which the table doesn't hold, is tested.
  for (GridPoint o : m.Reach()) {
    const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
    if (m.Blocked(d.x, d.y)) continue;
    MoveOutcome outcome;
    const int after = PlaneAfter(car.at, d, plane, &outcome);
    if (after < 0) continue;
    if (outcome == MoveOutcome::kLap) {
      if (rounds == 1 && !m.PathBlocked(car.at, d)) {
        *to = d;
        return true;
      }
      continue;
    }
    const uint8_t* e = Entry(after, cell, car.velocity.x + o.x, car.velocity.y + o.y);
    if (e != nullptr && *e + 1 == rounds) {
      *to = d;
      return true;
    }
  }
  // Else the fastest way is a crash, to stand here three rounds on.
  const int standing = Rounds(CarState{car.at, {}, car.reverseCrossings});
  if (standing < 0 || standing + 3 != rounds) return false;
  for (GridPoint o : m.Reach()) {
    const GridPoint d{static_cast<int16_t>(c.x + o.x), static_cast<int16_t>(c.y + o.y)};
    if (m.PathBlocked(car.at, d)) {
      *to = d;
      return true;
    }
  }
  return false;
}

// ---- The file -----------------------------------------------------------------------------------

uint64_t LapTable::CircuitHash(const TrackModel& model) {
  uint64_t h = Mix(0xCBF29CE484222325ull, static_cast<uint64_t>(model.width()) << 32 | model.height());
  h = Mix(h,
          static_cast<uint64_t>(static_cast<uint16_t>(model.start().x)) << 16 | static_cast<uint16_t>(model.start().y));
  h = Mix(h, static_cast<uint64_t>(static_cast<uint16_t>(model.lineA().x)) << 48 |
                 static_cast<uint64_t>(static_cast<uint16_t>(model.lineA().y)) << 32 |
                 static_cast<uint64_t>(static_cast<uint16_t>(model.lineB().x)) << 16 |
                 static_cast<uint16_t>(model.lineB().y));
  h = Mix(h, static_cast<uint64_t>(model.aheadSide()) << 8 | kMoveRadius);
  uint64_t word = 0;
  int bits = 0;
  for (int y = 0; y < model.height(); ++y) {
    for (int x = 0; x < model.width(); ++x) {
      word = word << 1 | (model.Blocked(x, y) ? 1 : 0);
      if (++bits == 64) {
        h = Mix(h, word);
        word = 0;
        bits = 0;
      }
    }
  }
  return Mix(Mix(h, word), kFormat);
}

void LapTable::RemoveOldFiles(const std::string& hostFolder) noexcept {
  try {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(hostFolder, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("laps-", 0) != 0 || name.size() < 13 || name.compare(name.size() - 8, 8, ".apxlaps") != 0 ||
          !entry.is_regular_file(ec)) {
        continue;
      }
      unsigned char header[12];
      std::FILE* file = std::fopen(entry.path().c_str(), "rb");
      if (file == nullptr) continue;
      const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
      std::fclose(file);
      if (read && std::memcmp(header, kMagic, 8) == 0 && GetNumber<uint32_t>(header + 8) != kFormat) {
        std::filesystem::remove(entry.path(), ec);
      }
    }
  } catch (const std::exception&) {
    // What can't be listed or removed stays.
  }
}

std::string LapTable::FileName(const TrackModel& model) {
  char name[40];
  std::snprintf(name, sizeof name, "laps-%016llx.apxlaps", static_cast<unsigned long long>(CircuitHash(model)));
  return name;
}

bool LapTable::Save(const std::string& hostPath) const noexcept {
  if (!ready()) return false;
  std::string temporary;
  try {
    temporary = hostPath + ".part";
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const uint64_t hash = CircuitHash(*model_);
  const uint64_t states = states_, tiles = keys_.size();
  const std::vector<uint64_t>& map = stops_.words();
  const uint64_t mapCells = map.size() / StopMap::kCellWords;
  unsigned char header[kHeaderBytes];
  std::copy(kMagic, kMagic + 8, header);
  PutNumber<uint32_t>(header + 8, kFormat);
  PutNumber<uint32_t>(header + 12, kPlanes);
  PutNumber(header + 16, hash);
  PutNumber(header + 24, states);
  PutNumber(header + 32, tiles);
  PutNumber(header + 40, mapCells);
  uint64_t sum = Checksum(0, header, sizeof header);
  sum = Checksum(sum, keys_.data(), keys_.size() * 8);
  sum = Checksum(sum, tiles_.data(), tiles_.size());
  sum = Checksum(sum, map.data(), map.size() * 8);
  bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                 std::fwrite(keys_.data(), 8, keys_.size(), file) == keys_.size() &&
                 std::fwrite(tiles_.data(), 1, tiles_.size(), file) == tiles_.size() &&
                 std::fwrite(map.data(), 8, map.size(), file) == map.size() && std::fwrite(&sum, 8, 1, file) == 1;
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(temporary.c_str(), hostPath.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool LapTable::Load(const TrackModel& model, const std::string& hostPath) noexcept {
  if (!model.built()) return false;
  std::FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) return false;
  bool good = false;
  try {
    unsigned char header[kHeaderBytes];
    uint64_t hash = 0, states = 0, tiles = 0, mapCells = 0;
    uint32_t format = 0, planes = 0;
    long long length = -1;
    if (fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
    std::rewind(file);
    if (length >= static_cast<long long>(kHeaderBytes) + 8 &&
        std::fread(header, 1, sizeof header, file) == sizeof header) {
      format = GetNumber<uint32_t>(header + 8);
      planes = GetNumber<uint32_t>(header + 12);
      hash = GetNumber<uint64_t>(header + 16);
      states = GetNumber<uint64_t>(header + 24);
      tiles = GetNumber<uint64_t>(header + 32);
      mapCells = GetNumber<uint64_t>(header + 40);
      const uint64_t tileBytes = 8 + kTileCells;
      good = std::memcmp(header, kMagic, 8) == 0 && format == kFormat && planes == kPlanes &&
             hash == CircuitHash(model) && tiles < (uint64_t{1} << 31) && mapCells < (uint64_t{1} << 31) &&
             static_cast<uint64_t>(length) == kHeaderBytes + tiles * tileBytes + mapCells * StopMap::kCellBytes + 8;
      if (good) {
        LapTable loaded;
        loaded.model_ = &model;
        loaded.keys_.resize(tiles);
        loaded.tiles_.resize(tiles * kTileCells);
        std::vector<uint64_t> map(mapCells * StopMap::kCellWords);
        uint64_t sum = 0;
        good = std::fread(loaded.keys_.data(), 8, tiles, file) == tiles &&
               std::fread(loaded.tiles_.data(), 1, loaded.tiles_.size(), file) == loaded.tiles_.size() &&
               std::fread(map.data(), 8, map.size(), file) == map.size() && std::fread(&sum, 8, 1, file) == 1;
        uint64_t expected = Checksum(0, header, sizeof header);
        expected = Checksum(expected, loaded.keys_.data(), loaded.keys_.size() * 8);
        expected = Checksum(expected, loaded.tiles_.data(), loaded.tiles_.size());
        expected = Checksum(expected, map.data(), map.size() * 8);
        good = good && sum == expected;
        // A map has a plane pair for every free cell of the circuit.
        good = good && (mapCells == 0 || loaded.stops_.Adopt(model, std::move(map)));
        // Every key names a plane and a cell of this circuit, once.
        const uint64_t cells = static_cast<uint64_t>(model.width()) * model.height();
        for (uint64_t t = 0; good && t < tiles; ++t) {
          const uint64_t key = loaded.keys_[t] - 1;
          good =
              loaded.keys_[t] != 0 && (key >> 45) < static_cast<uint64_t>(kPlanes) && (key >> 16 & 0x1FFFFFFF) < cells;
        }
        size_t slots = 1024;
        while (slots < tiles * 2 + 2) slots *= 2;
        good = good && loaded.Rehash(slots);
        if (good) {
          loaded.states_ = states;
          loaded.maxBytes_ = maxBytes_;
          loaded.phase_ = Phase::kReady;
          *this = std::move(loaded);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    good = false;
  }
  std::fclose(file);
  return good;
}
