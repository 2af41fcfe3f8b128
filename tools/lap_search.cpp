// The distance-to-go field and the beam search for a lap.
#include "tools/lap_search.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <unordered_set>

#include "gfx/line_walk.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/state.h"

DistanceToGo MeasureDistanceToGo(const TrackGrid& track) {
  DistanceToGo field;
  field.width = track.width;
  field.height = track.height;
  const size_t cells = static_cast<size_t>(track.width) * track.height;
  field.distance.assign(cells, DistanceToGo::kUnreachable);
  if (track.collisionGrid == nullptr || cells == 0) return field;

  // Passable: free and not on the line. The line is a wall here, so that the only way from the
  // start back to the line is the long way round.
  std::vector<uint8_t> open(cells, 0);
  for (int y = 0; y < track.height; ++y) {
    for (int x = 0; x < track.width; ++x) {
      open[static_cast<size_t>(y) * track.width + x] = IsCellBlocked(track, x, y) ? 0 : 1;
    }
  }
  std::vector<size_t> line;
  WalkLine(track.finishLineA.x, track.finishLineA.y, track.finishLineB.x, track.finishLineB.y,
           [&](int x, int y) {
             if (x >= 0 && y >= 0 && x < track.width && y < track.height) {
               const size_t i = static_cast<size_t>(y) * track.width + x;
               open[i] = 0;
               line.push_back(i);
             }
             return false;
           });

  using Entry = std::pair<float, size_t>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
  const int aheadSide = SideOfLine(track.finishLineA, track.finishLineB, track.aheadPoint);
  const int w = track.width;
  for (size_t i : line) {
    const int lx = static_cast<int>(i % w);
    const int ly = static_cast<int>(i / w);
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int x = lx + dx, y = ly + dy;
        if (x < 0 || y < 0 || x >= w || y >= track.height) continue;
        const size_t n = static_cast<size_t>(y) * w + x;
        const GridPoint p{static_cast<int16_t>(x), static_cast<int16_t>(y)};
        if (open[n] && SideOfLine(track.finishLineA, track.finishLineB, p) != aheadSide &&
            field.distance[n] > 0) {
          field.distance[n] = 0;
          queue.push({0.0f, n});
        }
      }
    }
  }

  // Dijkstra over the eight neighbours. A diagonal step needs both cells beside it open, so that
  // the one-cell line and thin walls can't be slipped through at a corner.
  const float diagonal = std::sqrt(2.0f);
  while (!queue.empty()) {
    const auto [d, i] = queue.top();
    queue.pop();
    if (d > field.distance[i]) continue;
    const int x = static_cast<int>(i % w);
    const int y = static_cast<int>(i / w);
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if (dx == 0 && dy == 0) continue;
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= w || ny >= track.height) continue;
        const size_t n = static_cast<size_t>(ny) * w + nx;
        if (!open[n]) continue;
        if (dx != 0 && dy != 0 &&
            (!open[static_cast<size_t>(y) * w + nx] || !open[static_cast<size_t>(ny) * w + x])) {
          continue;
        }
        const float next = d + (dx != 0 && dy != 0 ? diagonal : 1.0f);
        if (next < field.distance[n]) {
          field.distance[n] = next;
          queue.push({next, n});
        }
      }
    }
  }
  return field;
}

namespace {

struct Car {
  int16_t x, y, vx, vy;
  int parent;  // index in the previous round, -1 for the start
};

uint64_t Key(int x, int y, int vx, int vy) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(x)) << 48) |
         (static_cast<uint64_t>(static_cast<uint16_t>(y)) << 32) |
         (static_cast<uint64_t>(static_cast<uint16_t>(vx)) << 16) | static_cast<uint16_t>(vy);
}

struct Candidate {
  float progress;
  int16_t x, y, vx, vy;
  int parent;
};

constexpr int kSpeedBand = 4;   // pixels per round of each speed band
constexpr int kSpeedBands = 64;
constexpr int kPerParent = 2;   // cars of one speed band one car may leave behind it

int SpeedBand(int vx, int vy) {
  const int band = static_cast<int>(std::sqrt(static_cast<float>(vx * vx + vy * vy)) / kSpeedBand);
  return std::min(band, kSpeedBands - 1);
}

// The few moves of one car that come furthest in each speed band. Of a car's thousand or so
// moves only these can be kept, so the rest never reach the sort and the path test.
class BestPerBand {
 public:
  void Offer(const Candidate& c) {
    const int band = SpeedBand(c.vx, c.vy);
    int& n = count_[band];
    if (n == 0) touched_.push_back(band);
    Candidate* list = best_[band];
    if (n == kKeep && c.progress <= list[kKeep - 1].progress) return;
    int i = n < kKeep ? n++ : kKeep - 1;
    while (i > 0 && list[i - 1].progress < c.progress) {
      list[i] = list[i - 1];
      --i;
    }
    list[i] = c;
  }
  // Hands the kept moves over and starts again for the next car.
  void MoveTo(std::vector<Candidate>* out) {
    for (int band : touched_) {
      out->insert(out->end(), best_[band], best_[band] + count_[band]);
      count_[band] = 0;
    }
    touched_.clear();
  }

 private:
  static constexpr int kKeep = 2 * kPerParent + 2;  // spares for moves the path test refuses
  Candidate best_[kSpeedBands][kKeep];
  int count_[kSpeedBands] = {};
  std::vector<int> touched_;
};

std::vector<GridPoint> Reach() {
  std::vector<GridPoint> offsets;
  for (int oy = -kMoveRadius; oy <= kMoveRadius; ++oy) {
    for (int ox = -kMoveRadius; ox <= kMoveRadius; ++ox) {
      if (IsWithinReach(static_cast<int16_t>(ox), static_cast<int16_t>(oy), kMoveRadius)) {
        offsets.push_back(GridPoint{static_cast<int16_t>(ox), static_cast<int16_t>(oy)});
      }
    }
  }
  return offsets;
}

// One search with a given width. Returns true with the moves when a lap was found.
bool Search(const TrackGrid& track, const DistanceToGo& field, const LapSearchOptions& options,
            int carsPerSpeed, std::vector<GridPoint>* moves) {
  const GridPoint a = track.finishLineA;
  const GridPoint b = track.finishLineB;
  const int aheadSide = SideOfLine(a, b, track.aheadPoint);
  const float lapLength = field.At(track.startPoint.x, track.startPoint.y);
  static const std::vector<GridPoint> reach = Reach();

  std::vector<std::vector<Car>> rounds;
  rounds.push_back({Car{track.startPoint.x, track.startPoint.y, 0, 0, -1}});
  std::unordered_set<uint64_t> seen;
  seen.insert(Key(track.startPoint.x, track.startPoint.y, 0, 0));
  std::vector<Candidate> candidates;

  for (int round = 1; round <= options.maxRounds; ++round) {
    const std::vector<Car>& cars = rounds.back();
    candidates.clear();
    BestPerBand bestOfCar;
    for (size_t c = 0; c < cars.size(); ++c) {
      const Car& car = cars[c];
      const GridPoint from{car.x, car.y};
      const int fromSide = SideOfLine(a, b, from);
      const int px = car.x + car.vx;
      const int py = car.y + car.vy;
      for (GridPoint off : reach) {
        const int x = px + off.x;
        const int y = py + off.y;
        if (x < INT16_MIN || x > INT16_MAX || y < INT16_MIN || y > INT16_MAX) continue;
        if (IsCellBlocked(track, x, y)) continue;
        const GridPoint to{static_cast<int16_t>(x), static_cast<int16_t>(y)};
        // The lap test exactly as a commit makes it.
        if (SideOfLine(a, b, to) != fromSide && SideOfLine(from, to, a) != SideOfLine(from, to, b)) {
          if (SideOfLine(a, b, to) != aheadSide) continue;  // backwards: never worth it
          if (IsPathBlocked(track, from.x, from.y, to.x, to.y)) continue;
          // The lap is complete: walk back through the rounds for the moves that led here.
          moves->assign(1, to);
          for (int r = static_cast<int>(rounds.size()) - 1, i = static_cast<int>(c); r > 0; --r) {
            const Car& step = rounds[r][i];
            moves->push_back(GridPoint{step.x, step.y});
            i = step.parent;
          }
          std::reverse(moves->begin(), moves->end());
          return true;
        }
        const float distance = field.At(x, y);
        if (distance == DistanceToGo::kUnreachable) continue;
        bestOfCar.Offer(Candidate{lapLength - distance, to.x, to.y, static_cast<int16_t>(x - car.x),
                             static_cast<int16_t>(y - car.y), static_cast<int>(c)});
      }
      bestOfCar.MoveTo(&candidates);
    }

    // Keep the cars that have come furthest, a few in each speed band; the path test, the costly
    // part, is made only for cars that would be kept.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& p, const Candidate& q) {
      return p.progress > q.progress;
    });
    std::vector<int> kept(kSpeedBands, 0);
    std::vector<std::vector<int>> perParent(cars.size());
    std::vector<Car> next;
    float best = 0;
    for (const Candidate& cand : candidates) {
      const int band = SpeedBand(cand.vx, cand.vy);
      if (kept[band] >= carsPerSpeed) continue;
      std::vector<int>& fromParent = perParent[cand.parent];
      if (std::count(fromParent.begin(), fromParent.end(), band) >= kPerParent) continue;
      const uint64_t key = Key(cand.x, cand.y, cand.vx, cand.vy);
      if (seen.count(key) != 0) continue;
      const Car& parent = cars[cand.parent];
      if (IsPathBlocked(track, parent.x, parent.y, cand.x, cand.y)) continue;
      seen.insert(key);
      ++kept[band];
      fromParent.push_back(band);
      next.push_back(Car{cand.x, cand.y, cand.vx, cand.vy, cand.parent});
      best = std::max(best, cand.progress);
    }
    if (next.empty()) return false;
    rounds.push_back(std::move(next));
    if (options.progress) options.progress(round, lapLength > 0 ? best / lapLength : 1.0);
  }
  return false;
}

}  // namespace

LapSearchResult FindLap(const TrackGrid& track, const LapSearchOptions& options) {
  LapSearchResult result;
  if (track.collisionGrid == nullptr) {
    result.problem = "the circuit has no collision grid";
    return result;
  }
  const GridPoint s = track.startPoint;
  if (IsCellBlocked(track, s.x, s.y)) {
    result.problem = "the start point " + std::to_string(s.x) + "," + std::to_string(s.y) +
                     " is on a blocked cell";
    return result;
  }
  const DistanceToGo field = MeasureDistanceToGo(track);
  const float lapLength = field.At(s.x, s.y);
  if (lapLength == DistanceToGo::kUnreachable) {
    result.problem = "no way along the track leads from the start point round to the start/finish line";
    return result;
  }
  result.lapLength = lapLength;
  // A narrow search is quick and finds laps on ordinary circuits; wider ones keep more slow cars
  // alive for circuits whose corners catch them all.
  for (int width = options.carsPerSpeed; width <= options.carsPerSpeed * 8; width *= 2) {
    if (Search(track, field, options, width, &result.moves)) {
      result.found = true;
      return result;
    }
  }
  result.problem = "no lap found: every car the search sent off ran into a dead end";
  return result;
}
