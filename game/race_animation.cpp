// Frames of the race board, replayed move by move, into a GIF.
#include "game/race_animation.h"

#include <vector>

#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/view.h"
#include "gfx/layout.h"
#include "platform/png.h"
#include "race/animation.h"
#include "race/replay.h"

namespace {

// The screen as composed, cut to the rows wanted and enlarged.
RgbImage FrameOf(int rows, int scale) {
  const Picture& screen = framePicture;
  const bool is565 = (screen.properties.ffFormat & kfDirect565) != 0;
  RgbImage plain = ImageFromPixels(screen.pixels, screen.width, static_cast<uint32_t>(rows), is565);
  if (scale == 1) return plain;
  RgbImage big;
  big.width = plain.width * scale;
  big.height = plain.height * scale;
  big.rgb.resize(static_cast<size_t>(big.width) * big.height * 3);
  for (uint32_t y = 0; y < big.height; ++y) {
    for (uint32_t x = 0; x < big.width; ++x) {
      const size_t from = (static_cast<size_t>(y / scale) * plain.width + x / scale) * 3;
      const size_t to = (static_cast<size_t>(y) * big.width + x) * 3;
      for (int c = 0; c < 3; ++c) big.rgb[to + c] = plain.rgb[from + c];
    }
  }
  return big;
}

void DrawTurn(const BoardAnimation& options, const RaceProgress& progress) {
  GameState& s = gameState;
  for (int car = 0; car < kMaxPlayers; ++car) {
    driverChoices.driver[car] = progress.drivers[car];
    s.players[car].inputMode = options.inputModes != nullptr ? options.inputModes[car] : kInputAim;
  }
  const uint16_t toMove = s.currentPlayer;
  if (options.follow >= 0) s.currentPlayer = static_cast<uint16_t>(options.follow);
  s.scrollX = s.scrollY = 0;
  // As the turn begins on the board: the view on the car, the target on its predicted point.
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  s.currentPlayer = toMove;
}

}  // namespace

int WriteBoardAnimation(const RaceFile& race, const std::string& raceName, const std::string& outHost,
                        const BoardAnimation& options, std::string* error) {
  const int rows = options.menuBar ? static_cast<int>(framePicture.height) : kMenuBarTop;
  GifWriter gif;
  if (gif.Open(outHost, framePicture.width * options.scale, static_cast<uint32_t>(rows * options.scale), error) != 0) {
    return 1;
  }
  GameState& s = gameState;
  s.screenMode = kScreenRace;
  RaceProgress progress;
  StartReplay(race, s, &progress);
  while (true) {
    // The driver changes before a move belong to the turn it is made in.
    while (progress.next < race.events.size() && race.events[progress.next].kind != RaceEventKind::kMove) {
      if (ReplayNext(race, raceName, s, &progress, error) != 0) return 1;
    }
    DrawTurn(options, progress);
    if (gif.Add(FrameOf(rows, options.scale), options.delay, error) != 0) return 1;
    if (progress.next >= race.events.size()) break;
    if (ReplayNext(race, raceName, s, &progress, error) != 0) return 1;
  }
  return gif.Close(error);
}
