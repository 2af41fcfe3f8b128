// The board renderer: every layer of the race screen, bottom to top.
#include "gfx/board.h"

#include <cstring>
#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "rules/move.h"

namespace {

bool OnBoard(int x, int y) { return x >= 0 && x < kBoardWidth && y >= 0 && y < kBoardHeight; }

// Track to board coordinates, in 16 bits like every coordinate of the game.
int16_t BoardX(int trackX) { return static_cast<int16_t>(trackX - gameState.viewX); }
int16_t BoardY(int trackY) { return static_cast<int16_t>(trackY - gameState.viewY); }

#if defined(__SSE2__)
// True when none of the four points from p lies on the board.
inline bool NoneOnBoard(const GridPoint* p, __m128i view) {
  static_assert(sizeof(GridPoint) == 4, "points are two 16-bit values side by side");
  const __m128i limits = _mm_set_epi16(kBoardHeight, kBoardWidth, kBoardHeight, kBoardWidth, kBoardHeight,
                                       kBoardWidth, kBoardHeight, kBoardWidth);
  // Board coordinates in 16 bits, as BoardX and BoardY give them; then 0 <= v < limit per lane.
  const __m128i v = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), view);
  const __m128i in = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16(-1)), _mm_cmpgt_epi16(limits, v));
  // A point is on the board when both its lanes are: x's lane and y's lane, ANDed into x's.
  const __m128i both = _mm_and_si128(in, _mm_srli_epi32(in, 16));
  return (_mm_movemask_epi8(both) & 0x3333) == 0;
}
#endif

// A segment is drawn only when one of its ends lies on the board. Long segments that merely pass
// through the board are skipped: testing two points is what keeps a board of long trails cheap.
// Walks the points once, each tested once, changing pens only when the opacity changes; stretches
// of four points off the board are passed over together, since most of a long race lies outside
// the view.
void DrawPolyline(const GridPoint* points, int segments, uint16_t colour, int16_t (*alphaOf)(int age)) {
  if (segments <= 0) return;
  BlendPen pen{};
  int16_t penAlpha = -1;
  int16_t x0 = BoardX(points[0].x);
  int16_t y0 = BoardY(points[0].y);
  bool in0 = OnBoard(x0, y0);
#if defined(__SSE2__)
  const __m128i view = _mm_set_epi16(gameState.viewY, gameState.viewX, gameState.viewY, gameState.viewX,
                                     gameState.viewY, gameState.viewX, gameState.viewY, gameState.viewX);
#endif
  for (int j = 0; j < segments; ++j) {
#if defined(__SSE2__)
    // Segments j to j + 3 join points j to j + 4: none is drawn when no such point is on the board.
    if (!in0 && j + 4 <= segments && NoneOnBoard(points + j + 1, view)) {
      j += 3;
      x0 = BoardX(points[j + 1].x);
      y0 = BoardY(points[j + 1].y);
      continue;
    }
#endif
    const int16_t x1 = BoardX(points[j + 1].x);
    const int16_t y1 = BoardY(points[j + 1].y);
    const bool in1 = OnBoard(x1, y1);
    if (in0 || in1) {
      const int16_t alpha = alphaOf(segments - 1 - j);
      if (alpha != penAlpha) {
        pen = MakeBlendPen(colour, alpha);
        penAlpha = alpha;
      }
      BlendLineWithPen(framePicture, x0, y0, x1, y1, pen);
    }
    x0 = x1;
    y0 = y1;
    in0 = in1;
  }
}

int16_t RecordAlpha(int) { return kRecordAlpha; }

// The view may not start left of or above the circuit, nor show past its right or bottom edge
// unless the circuit is smaller than the board.
void ClampView() {
  GameState& s = gameState;
  if (s.viewX < 0) s.viewX = 0;
  if (s.viewY < 0) s.viewY = 0;
  int32_t left = s.viewX;
  int32_t top = s.viewY;
  int32_t right = left + kBoardWidth;
  int32_t bottom = top + kBoardHeight;
  if (right > s.track.width) {
    right = s.track.width;
    left = right - kBoardWidth < 0 ? 0 : right - kBoardWidth;
    s.viewX = static_cast<int16_t>(left);
  }
  if (bottom > s.track.height) {
    bottom = s.track.height;
    top = bottom - kBoardHeight < 0 ? 0 : bottom - kBoardHeight;
    s.viewY = static_cast<int16_t>(top);
  }
  s.viewRect = ViewRect{left, top, right, bottom};
}

void DrawTrails() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    // trail[0] → trail[1] is never drawn: at the start both are the start point. The newest
    // segment, trail[n − 1] → trail[n], has age 0.
    const int newest = player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1;
    DrawPolyline(player.trail + 1, newest - 1, player.colour, TrailAlpha);
  }
}

void DrawRecordLap() {
  const TrackGrid& track = gameState.track;
  const int count = track.recordCount < kRecordCapacity ? track.recordCount : kRecordCapacity;
  DrawPolyline(track.recordTrail, count - 1, WhiteColour(), RecordAlpha);
}

void DrawCars() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    const GridPoint at = player.trail[player.lastIndex < kTrailCapacity ? player.lastIndex : kTrailCapacity - 1];
    const int16_t x = BoardX(at.x);
    const int16_t y = BoardY(at.y);
    FillRect(framePicture, static_cast<int16_t>(x - kCarHalfSize), static_cast<int16_t>(y - kCarHalfSize),
             static_cast<int16_t>(x + kCarHalfSize), static_cast<int16_t>(y + kCarHalfSize), player.colour);
  }
}

// The marker advances along the record lap one point per round and rests on its last point once
// the round counter reaches the record's rounds. A circuit without a record has no point to mark.
void DrawRecordMarker() {
  const TrackGrid& track = gameState.track;
  const int count = track.recordCount < kRecordCapacity ? track.recordCount : kRecordCapacity;
  if (count == 0) return;
  int index = track.recordRounds > gameState.round ? gameState.round + 1 : count - 1;
  // A record of one point claims 65535 rounds; its marker still stays on the points it has.
  if (index > count - 1) index = count - 1;
  const GridPoint at = track.recordTrail[index];
  const int16_t x = BoardX(at.x);
  const int16_t y = BoardY(at.y);
  BlendFillRect(framePicture, static_cast<int16_t>(x - kRecordMarkerHalfSize),
                static_cast<int16_t>(y - kRecordMarkerHalfSize), static_cast<int16_t>(x + kRecordMarkerHalfSize),
                static_cast<int16_t>(y + kRecordMarkerHalfSize), WhiteColour(), kRecordAlpha);
}

int16_t Limit(int value, int low, int high) {
  return static_cast<int16_t>(value < low ? low : value > high ? high : value);
}

void DrawStatusRows() {
  for (int p = 0; p < gameState.playerCount && p < kMaxPlayers; ++p) {
    const PlayerRecord& player = gameState.players[p];
    const int16_t top = static_cast<int16_t>(kStatusRowPitch * p + kStatusRowTop);
    const int16_t bottom = static_cast<int16_t>(kStatusRowPitch * (p + 1));
    FillRect(framePicture, kLapBarLeft, top, static_cast<int16_t>(kLapBarStep * player.laps + kLapBarLeft),
             bottom, player.colour);
    for (int i = 0; i < player.waitTurns; ++i) {
      const int left = kPenaltyLeft + kPenaltyStep * i;
      FillRect(framePicture, static_cast<int16_t>(left), top, static_cast<int16_t>(left + kPenaltySize), bottom,
               player.colour);
    }
  }
}

void DrawMenuBar() {
  BlitRect(framePicture, 0, kMenuBarTop, menuBarPicture, 0, kMenuBarUpRow, kScreenColumns,
           kMenuBarUpRow + kMenuBarHeight);
  if (gameState.showOutline) {
    BlitRect(framePicture, kOutlineButtonLeft, kMenuBarTop, menuBarPicture, kOutlineButtonLeft, kMenuBarOnRow,
             kOutlineButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }
  if (gameState.showRecord) {
    BlitRect(framePicture, kRecordButtonLeft, kMenuBarTop, menuBarPicture, kRecordButtonLeft, kMenuBarOnRow,
             kRecordButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }
}

}  // namespace

int DrawBoard() {
  GameState& s = gameState;
  const PlayerRecord& current = s.players[s.currentPlayer < kMaxPlayers ? s.currentPlayer : 0];
  const GridPoint predicted = PredictedPoint(current);

  ClampView();
  const ViewRect& view = s.viewRect;
  BlitRect(framePicture, 0, 0, s.track.picture, static_cast<uint16_t>(view.left), static_cast<uint16_t>(view.top),
           static_cast<uint16_t>(view.right), static_cast<uint16_t>(view.bottom));

  DrawTrails();
  if (s.showRecord) DrawRecordLap();
  DrawCars();
  if (s.showRecord) DrawRecordMarker();

  const int16_t px = BoardX(predicted.x);
  const int16_t py = BoardY(predicted.y);
  DrawCircle(framePicture, px, py, kReachCircleRadius, current.colour);

  // Up and to the right of the reach circle, kept on the board; placed whatever the input mode,
  // so that switching to the cursor finds it where it belongs.
  s.goButtonX = Limit(static_cast<int16_t>(px + kGoButtonOffsetX), 0, kGoButtonMaxX);
  s.goButtonY = Limit(static_cast<int16_t>(py + kGoButtonOffsetY), 0, kGoButtonMaxY);

  DrawStatusRows();
  if (s.showOutline) DrawOutline();
  DrawMenuBar();

  DrawNumber(framePicture, kCounterRight, kRoundCounterTop, s.round, 1);
  if (s.track.recordCount > 0) DrawNumber(framePicture, kCounterRight, kRecordCounterTop, s.track.recordRounds, 1);

  if (current.inputMode == kInputAim) {
    BlitRect(framePicture, static_cast<uint16_t>(s.goButtonX), static_cast<uint16_t>(s.goButtonY), goButtonPicture,
             0, kGoButtonUpRow, kGoButtonSize, kGoButtonUpRow + kGoButtonSize);
    BlitRect(framePicture, kInputButtonLeft, kMenuBarTop, menuBarPicture, kInputButtonLeft, kMenuBarOnRow,
             kInputButtonRight, kMenuBarOnRow + kMenuBarHeight);
  }

  CopyPicture(framePicture, boardPicture);
  PresentFrame(display, framePicture, 0);
  return 0;
}

// ---- The outline layer ----------------------------------------------------------------------------

namespace {

// The hits of a stretch of outline rows, as words of 64 cells: bit i of word k of a row is cell
// left + 64k + i, set when the cell holds exactly 1. The last word of a row is read ending at the
// row's end and shifted so that it starts where the previous word stopped. Needs end − left of at
// least 64. One version for each instruction set the machine may have; they give the same words.
struct OutlineRows {
  const uint8_t* first;  // cell (left, top)
  size_t stride;         // the grid's width
  int rows;
  int cells;             // end − left
  int words;             // words per row: cells / 64 rounded up, at most kMaxOutlineWords
};
constexpr int kMaxOutlineWords = (kBoardWidth + 63) / 64;

template <typename Hits64>
inline void FillOutlineWords(const OutlineRows& r, uint64_t* words, Hits64 hits64) {
  for (int y = 0; y < r.rows; ++y) {
    const uint8_t* row = r.first + y * r.stride;
    uint64_t* out = words + y * r.words;
    int k = 0;
    for (; 64 * (k + 1) <= r.cells; ++k) out[k] = hits64(row + 64 * k);
    if (k < r.words) out[k] = hits64(row + r.cells - 64) >> (64 - (r.cells - 64 * k));
  }
}

#if !defined(__x86_64__)
void OutlineWordsPlain(const OutlineRows& r, uint64_t* words) {
  FillOutlineWords(r, words, [](const uint8_t* p) {
    uint64_t hits = 0;
    for (int i = 0; i < 64; ++i) hits |= static_cast<uint64_t>(p[i] == 1) << i;
    return hits;
  });
}
#else
__attribute__((target("sse2"))) uint64_t Hits64Sse2(const uint8_t* p) {
  const __m128i ones = _mm_set1_epi8(1);
  uint64_t hits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i cells = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    hits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(cells, ones)))) << (16 * k);
  }
  return hits;
}

__attribute__((target("sse2"))) void OutlineWordsSse2(const OutlineRows& r, uint64_t* words) {
  FillOutlineWords(r, words, Hits64Sse2);
}

__attribute__((target("avx2"))) uint64_t Hits64Avx2(const uint8_t* p) {
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, ones)))) |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, ones)))) << 32;
}

__attribute__((target("avx2"))) void OutlineWordsAvx2(const OutlineRows& r, uint64_t* words) {
  FillOutlineWords(r, words, Hits64Avx2);
}

__attribute__((target("avx512bw"))) uint64_t Hits64Avx512(const uint8_t* p) {
  return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8(1));
}

__attribute__((target("avx512bw"))) void OutlineWordsAvx512(const OutlineRows& r, uint64_t* words) {
  FillOutlineWords(r, words, Hits64Avx512);
}
#endif

using OutlineWordsFunction = void (*)(const OutlineRows&, uint64_t*);

OutlineWordsFunction ChooseOutlineWords() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw")) return OutlineWordsAvx512;
  if (__builtin_cpu_supports("avx2")) return OutlineWordsAvx2;
  return OutlineWordsSse2;
#else
  return OutlineWordsPlain;
#endif
}

}  // namespace

void DrawOutline() {
  const TrackGrid& track = gameState.track;
  const ViewRect& view = gameState.viewRect;
  if (track.outlineGrid == nullptr) return;
  const uint16_t black = BlackColour();
  // A view rectangle left from another circuit must not lead the scan off this one's grid.
  const int32_t left = view.left < 0 ? 0 : view.left;
  const int32_t top = view.top < 0 ? 0 : view.top;
  const int32_t right = view.right > track.width ? track.width : view.right;
  const int32_t bottom = view.bottom > track.height ? track.height : view.bottom;
  // The last column and row of the view are not examined.
  const int32_t end = right - 1;
  const int32_t last = bottom - 1;
  const int16_t viewX = gameState.viewX;
  const int16_t viewY = gameState.viewY;
  // Every pixel put lies on the board. When the frame holds the whole board and the view is wide
  // enough for whole words, the scan finds the outline cells 64 at a time and writes straight
  // into the frame's rows; otherwise each cell is looked at and put through PutPixel.
  const bool words = framePicture.pixels != nullptr && framePicture.xStep == 1 &&
                     framePicture.width >= kBoardWidth && framePicture.height >= kBoardHeight &&
                     left - viewX >= 0 && top - viewY >= 0 && end - viewX <= kBoardWidth &&
                     last - viewY <= kBoardHeight && end - left >= 64 && end - left <= 64 * kMaxOutlineWords;
  if (!words) {
    for (int32_t y = top; y < last; ++y) {
      const uint8_t* row = track.outlineGrid + static_cast<size_t>(y) * track.width;
      for (int32_t x = left; x < end; ++x) {
        if (row[x] == 1) PutPixel(framePicture, static_cast<uint16_t>(x - viewX), static_cast<uint16_t>(y - viewY), black);
      }
    }
    return;
  }
  if (last <= top) return;
  static const OutlineWordsFunction outlineWords = ChooseOutlineWords();
  OutlineRows rows;
  rows.first = track.outlineGrid + static_cast<size_t>(top) * track.width + left;
  rows.stride = track.width;
  rows.rows = last - top;
  rows.cells = end - left;
  rows.words = (rows.cells + 63) / 64;
  uint64_t hits[kBoardHeight * kMaxOutlineWords];
  outlineWords(rows, hits);
  // Row by row, which puts the same pixels as column by column. Outline cells are few and
  // scattered, so a branch on each would be mispredicted about as often as taken: the first two
  // hits of a word are put without a branch (a missing hit writes to a spare pixel), and only a
  // third one loops.
  uint16_t spare = 0;
  for (int y = 0; y < rows.rows; ++y) {
    uint16_t* out = framePicture.pixels + static_cast<size_t>(top + y - viewY) * framePicture.yStep + (left - viewX);
    for (int k = 0; k < rows.words; ++k) {
      uint64_t word = hits[y * rows.words + k];
      uint16_t* at = out + 64 * k;
      uint16_t* first = word != 0 ? at + __builtin_ctzll(word) : &spare;
      *first = black;
      word &= word - 1;
      uint16_t* second = word != 0 ? at + __builtin_ctzll(word) : &spare;
      *second = black;
      word &= word - 1;
      while (word != 0) {
        at[__builtin_ctzll(word)] = black;
        word &= word - 1;
      }
    }
  }
}

std::u16string NumberToText(uint16_t value) {
  char16_t digits[5];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value = static_cast<uint16_t>(value / 10);
  } while (value != 0);
  std::u16string text;
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

void DrawNumber(Picture& target, uint16_t x, uint16_t y, uint16_t value, int16_t alignment) {
  const std::u16string text = NumberToText(value);
  const uint16_t length = static_cast<uint16_t>(text.size());
  const uint16_t glyph = static_cast<uint16_t>(digitsPicture.width / 10);
  uint16_t shift = 0;
  if (alignment == 1) shift = static_cast<uint16_t>(length * glyph + 2);
  if (alignment == 2) shift = static_cast<uint16_t>((length * glyph) / 2 + 2);
  const uint16_t key = DigitKeyColour();
  for (uint16_t i = 0; i < length; ++i) {
    const uint16_t d = static_cast<uint16_t>(text[i] - u'0');
    BlitKeyed(target, static_cast<uint16_t>(x + i * glyph - shift), y, digitsPicture, static_cast<uint16_t>(d * glyph), 0,
              static_cast<uint16_t>((d + 1) * glyph), static_cast<uint16_t>(digitsPicture.height), key);
  }
}
