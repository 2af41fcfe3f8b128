// The circuit model: cells, the quick path test, outcomes, and the distance fields.
#include "brain/track_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "rules/commit.h"
#include "rules/move.h"

CarState CarOf(const PlayerRecord& player) {
  const int last = player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1;
  const GridPoint p = player.trail[last];
  const GridPoint q = player.trail[last > 0 ? last - 1 : 0];
  CarState car;
  car.at = p;
  car.velocity = GridPoint{static_cast<int16_t>(p.x - q.x), static_cast<int16_t>(p.y - q.y)};
  car.reverseCrossings = player.reverseCrossings;
  return car;
}

CarState After(const CarState& car, GridPoint to, MoveOutcome outcome) {
  CarState next = car;
  switch (outcome) {
    case MoveOutcome::kCrash:
      next.velocity = GridPoint{};
      return next;
    case MoveOutcome::kBackward:
      ++next.reverseCrossings;
      break;
    case MoveOutcome::kUndo:
      --next.reverseCrossings;
      break;
    case MoveOutcome::kClean:
    case MoveOutcome::kLap:
      break;
  }
  next.velocity = GridPoint{static_cast<int16_t>(to.x - car.at.x), static_cast<int16_t>(to.y - car.at.y)};
  next.at = to;
  return next;
}

bool TrackModel::Build(const TrackGrid& track) noexcept {
  width_ = height_ = 0;
  if (track.collisionGrid == nullptr || track.width == 0 || track.height == 0) return false;
  try {
    const int w = track.width;
    const int h = track.height;
    const size_t cells = static_cast<size_t>(w) * h;
    start_ = track.startPoint;
    lineA_ = track.finishLineA;
    lineB_ = track.finishLineB;
    aheadSide_ = SideOfLine(lineA_, lineB_, track.aheadPoint);
    blocked_.assign(track.collisionGrid, track.collisionGrid + cells);
    for (uint8_t& b : blocked_) b = b == 1 ? 1 : 0;
    width_ = w;
    height_ = h;

    side_.resize(cells);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        side_[Index(x, y)] = static_cast<uint8_t>(
            SideOfLine(lineA_, lineB_, GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)}));
      }
    }

    blockedSums_.assign(static_cast<size_t>(w + 1) * (h + 1), 0);
    for (int y = 0; y < h; ++y) {
      uint32_t row = 0;
      for (int x = 0; x < w; ++x) {
        row += blocked_[Index(x, y)];
        blockedSums_[static_cast<size_t>(y + 1) * (w + 1) + x + 1] =
            blockedSums_[static_cast<size_t>(y) * (w + 1) + x + 1] + row;
      }
    }

    // Chessboard distance to the nearest blocked cell, outside the grid included: every cell
    // closer to a free cell than its clearance is free.
    clearance_.assign(cells, 0);
    auto clearanceAt = [&](int x, int y) -> uint32_t {
      return x < 0 || y < 0 || x >= w || y >= h ? 0 : clearance_[Index(x, y)];
    };
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (blocked_[Index(x, y)]) continue;
        const uint32_t d = std::min({clearanceAt(x - 1, y), clearanceAt(x - 1, y - 1), clearanceAt(x, y - 1),
                                     clearanceAt(x + 1, y - 1)}) +
                           1;
        clearance_[Index(x, y)] = static_cast<uint16_t>(std::min<uint32_t>(d, 0xFFFF));
      }
    }
    for (int y = h - 1; y >= 0; --y) {
      for (int x = w - 1; x >= 0; --x) {
        if (blocked_[Index(x, y)]) continue;
        const uint32_t d = std::min({clearanceAt(x + 1, y), clearanceAt(x + 1, y + 1), clearanceAt(x, y + 1),
                                     clearanceAt(x - 1, y + 1)}) +
                           1;
        if (d < clearance_[Index(x, y)]) clearance_[Index(x, y)] = static_cast<uint16_t>(d);
      }
    }

    reach_.clear();
    maxAxisChange_ = 0;
    for (int oy = -kMoveRadius; oy <= kMoveRadius; ++oy) {
      for (int ox = -kMoveRadius; ox <= kMoveRadius; ++ox) {
        if (IsWithinReach(static_cast<int16_t>(ox), static_cast<int16_t>(oy), kMoveRadius)) {
          reach_.push_back(GridPoint{static_cast<int16_t>(ox), static_cast<int16_t>(oy)});
          maxAxisChange_ = std::max(maxAxisChange_, std::abs(ox));
        }
      }
    }

    MeasureFields();
    boundsAreProof_ = CheckLineEnds();
    return true;
  } catch (const std::bad_alloc&) {
    width_ = height_ = 0;
    blocked_.clear();
    side_.clear();
    blockedSums_.clear();
    clearance_.clear();
    steps_.clear();
    return false;
  }
}

bool TrackModel::BoxFree(int x0, int y0, int x1, int y1) const {
  if (x0 < 0 || y0 < 0 || x1 >= width_ || y1 >= height_) return false;
  const size_t stride = static_cast<size_t>(width_) + 1;
  const uint32_t count = blockedSums_[(y1 + 1) * stride + x1 + 1] - blockedSums_[y0 * stride + x1 + 1] -
                         blockedSums_[(y1 + 1) * stride + x0] + blockedSums_[y0 * stride + x0];
  return count == 0;
}

bool TrackModel::PathBlocked(GridPoint from, GridPoint to, size_t* work) const {
  if (BoxFree(std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x), std::max(from.y, to.y))) {
    return false;
  }
  // The cells WalkLine visits, taken in jumps: the i-th cell lies i along the major axis from
  // the walk's first end, and the minor coordinate has moved ceil((i * minor - major / 2) /
  // major) times by then (never below zero). Every cell fewer steps away than a free cell's
  // clearance is free, so the walk may jump that far.
  int x0 = from.x, y0 = from.y, x1 = to.x, y1 = to.y;
  const int64_t dx = std::abs(x1 - x0);
  const int64_t dy = std::abs(y1 - y0);
  const bool alongX = dx >= dy;
  if (alongX ? x0 > x1 : y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const int64_t major = alongX ? dx : dy;
  const int64_t minor = alongX ? dy : dx;
  const int step = alongX ? (y1 > y0 ? 1 : -1) : (x1 > x0 ? 1 : -1);
  size_t looked = 0;
  for (int64_t i = 0; i <= major; ++looked) {
    const int64_t t = i * minor - major / 2;
    const int m = t > 0 ? static_cast<int>((t + major - 1) / major) : 0;
    const int x = alongX ? x0 + static_cast<int>(i) : x0 + step * m;
    const int y = alongX ? y0 + step * m : y0 + static_cast<int>(i);
    if (Blocked(x, y)) {
      if (work != nullptr) *work += looked + 1;
      return true;
    }
    i += clearance_[Index(x, y)];
  }
  if (work != nullptr) *work += looked;
  return false;
}

int TrackModel::SideOf(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) {
    return SideOfLine(lineA_, lineB_, GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)});
  }
  return side_[Index(x, y)];
}

MoveOutcome TrackModel::Outcome(GridPoint from, GridPoint to, int reverseCrossings) const {
  if (PathBlocked(from, to)) return MoveOutcome::kCrash;
  return CleanOutcome(from, to, reverseCrossings);
}

MoveOutcome TrackModel::CleanOutcome(GridPoint from, GridPoint to, int reverseCrossings) const {
  return CrossingOutcome(lineA_, lineB_, aheadSide_, from, SideOf(from.x, from.y), to, SideOf(to.x, to.y),
                         reverseCrossings);
}

uint32_t TrackModel::StepsToGo(int crossings, int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kFar;
  const int layer = std::clamp(crossings, 1, kLayers) - 1;
  return steps_[static_cast<size_t>(layer) * width_ * height_ + Index(x, y)];
}

uint32_t TrackModel::MovesToCover(uint32_t steps, int speed) const {
  if (steps == 0) return 0;
  // n moves cover at most n * speed + a * n * (n + 1) / 2 steps.
  const double a = maxAxisChange_;
  const double b = speed + a / 2;
  double n = std::ceil((-b + std::sqrt(b * b + 2 * a * steps)) / a);
  if (n < 1) n = 1;
  auto covers = [&](double moves) { return moves * speed + a * moves * (moves + 1) / 2 >= steps; };
  while (n > 1 && covers(n - 1)) --n;
  while (!covers(n)) ++n;
  return static_cast<uint32_t>(n);
}

uint32_t TrackModel::RoundsBound(const CarState& car) const {
  const uint32_t steps = StepsToGo(car.reverseCrossings + 1, car.at.x, car.at.y);
  if (steps == kFar) return kFar;
  const int speed = std::max(std::abs(static_cast<int>(car.velocity.x)), std::abs(static_cast<int>(car.velocity.y)));
  return MovesToCover(steps, speed);
}

void TrackModel::MeasureFields() {
  const int w = width_;
  const int h = height_;
  const size_t cells = static_cast<size_t>(w) * h;
  steps_.assign(cells * kLayers, kFar);

  // A step between neighbouring free cells on two sides of the line counts as a crossing when
  // its midpoint lies along the segment between the ends, not on the line's extension.
  const double abx = lineB_.x - lineA_.x;
  const double aby = lineB_.y - lineA_.y;
  const double ab2 = abx * abx + aby * aby;
  // +1 forward, -1 backward, 0 no crossing, for the step from c to its neighbour n.
  auto crossing = [&](int cx, int cy, int nx, int ny) {
    const int from = side_[Index(cx, cy)];
    const int to = side_[Index(nx, ny)];
    if (from == to || ab2 == 0) return 0;
    const double mx = (cx + nx) / 2.0 - lineA_.x;
    const double my = (cy + ny) / 2.0 - lineA_.y;
    const double t = (mx * abx + my * aby) / ab2;
    if (t <= 0 || t >= 1) return 0;
    return to == aheadSide_ ? 1 : -1;
  };
  static constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
  static constexpr int kDy[8] = {0, 1, 1, 1, 0, -1, -1, -1};

  // Breadth-first from the crossing that counts, backwards over the steps, through the layers of
  // crossings still to make. The top layer stands for all higher ones: a backward crossing there
  // keeps the layer, which can only lower its distances, so they stay lower bounds.
  std::vector<uint32_t> queue;
  queue.reserve(cells);
  auto node = [&](int layer, size_t cell) { return static_cast<uint32_t>(layer * cells + cell); };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (blocked_[Index(x, y)]) continue;
      for (int k = 0; k < 8; ++k) {
        const int nx = x + kDx[k], ny = y + kDy[k];
        if (Blocked(nx, ny) || crossing(x, y, nx, ny) != 1) continue;
        steps_[node(0, Index(x, y))] = 1;
        queue.push_back(node(0, Index(x, y)));
        break;
      }
    }
  }
  // Layer indices run 0..kLayers-1 for 1..kLayers crossings still to make.
  for (size_t head = 0; head < queue.size(); ++head) {
    const uint32_t n = queue[head];
    const int layer = static_cast<int>(n / cells);
    const size_t cell = n % cells;
    const int x = static_cast<int>(cell % w);
    const int y = static_cast<int>(cell / w);
    const uint32_t next = steps_[n] + 1;
    for (int k = 0; k < 8; ++k) {
      const int px = x + kDx[k], py = y + kDy[k];  // a cell that steps onto (x, y)
      if (Blocked(px, py)) continue;
      const int c = crossing(px, py, x, y);
      int from[2];
      int count = 0;
      if (c == 0) {
        from[count++] = layer;
      } else if (c == 1) {
        if (layer + 1 < kLayers) from[count++] = layer + 1;
      } else {
        if (layer >= 1) from[count++] = layer - 1;
        if (layer == kLayers - 1) from[count++] = layer;
      }
      for (int i = 0; i < count; ++i) {
        const uint32_t m = node(from[i], Index(px, py));
        if (steps_[m] == kFar) {
          steps_[m] = next;
          queue.push_back(m);
        }
      }
    }
  }
}

bool TrackModel::CheckLineEnds() const {
  const double abx = lineB_.x - lineA_.x;
  const double aby = lineB_.y - lineA_.y;
  const double length = std::sqrt(abx * abx + aby * aby);
  if (length == 0) return false;
  const double tx = abx / length, ty = aby / length;
  // How far one step between neighbouring cells moves across and along the line.
  double across = 0, along = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      across = std::max(across, std::abs(dx * ty - dy * tx));
      along = std::max(along, std::abs(dx * tx + dy * ty));
    }
  }
  // A move's path keeps within half a cell of its segment, so every cell of it where the sides
  // change lies within `across + 1` of the line. A path that ran along the line past one of its
  // ends would put a cell within this distance of that end; with all of those blocked, the
  // path's change of side happens wholly beside the segment or wholly beside its extension,
  // as the commit's test decides.
  const double reach = std::sqrt((across + 1) * (across + 1) + along * along / 4) + 0.05;
  const int r = static_cast<int>(std::ceil(reach));
  for (GridPoint end : {lineA_, lineB_}) {
    for (int dy = -r; dy <= r; ++dy) {
      for (int dx = -r; dx <= r; ++dx) {
        if (dx * dx + dy * dy < reach * reach && !Blocked(end.x + dx, end.y + dy)) return false;
      }
    }
  }
  return true;
}
