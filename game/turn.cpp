// The turn sequence: ending a turn, beginning the next, and the computer's ticks.
#include "game/turn.h"

#include <cstdio>
#include <string>

#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/race_log.h"
#include "game/view.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "platform/text.h"
#include "platform/window.h"
#include "rules/commit.h"
#include "rules/turn.h"

namespace {

uint32_t pauseTicks = 0;  // ticks of the computer's pause so far
// A remote car's move that arrived and is being shown, as a computer's is, before its commit.
bool remotePending = false;
GridPoint remoteTo;
bool waitingForServer = false;  // a turn that waits for a move or the server's word
constexpr char16_t kRecordLost[] = u" \u2013 the record couldn't be saved";

// A computer plays as a player who aims; the input mode the car's player chose is kept here while
// the computer has the car, and given back with it.
struct HeldMode {
  bool held = false;
  int16_t inputMode = kInputAim;
};
HeldMode heldModes[kMaxPlayers];

HeldMode& HeldModeOfCarToMove() {
  return heldModes[gameState.currentPlayer < kMaxPlayers ? gameState.currentPlayer : 0];
}

// Gives a player's car back its own input mode when the computer no longer drives it; true when
// the mode changed.
bool GiveBackInputMode() {
  HeldMode& held = HeldModeOfCarToMove();
  if (!held.held || IsComputerTurn()) return false;
  held.held = false;
  PlayerRecord& car = CurrentRecord(gameState);
  const bool changed = car.inputMode != held.inputMode;
  car.inputMode = held.inputMode;
  return changed;
}

void NameDriverToMove() {
  std::u16string caption = CaptionForCarToMove();
  // A lap that should have become the record and couldn't be saved (a read-only home, a circuit
  // made read-only) would otherwise go without a word: said once, and kept in the caption.
  if (gameState.track.recordsLost != 0) {
    if (ShownCaption().find(kRecordLost) == std::u16string::npos) {
      std::fprintf(stderr, "Apexgrid: the record couldn't be saved for %s\n", ToUtf8(gameState.track.path).c_str());
    }
    caption += kRecordLost;
  }
  ShowCaption(caption);
}

// A computer car shows its target and starts its pause.
void ComputerTakesTurn(GridPoint to) {
  GameState& s = gameState;
  PlayerRecord& car = CurrentRecord(s);
  HeldMode& held = HeldModeOfCarToMove();
  if (!held.held) held = HeldMode{true, car.inputMode};
  const bool aimed = car.inputMode == kInputAim;
  car.inputMode = kInputAim;
  NameDriverToMove();
  s.targetX = to.x;
  s.targetY = to.y;
  if (aimed) {
    DrawCursor();
  } else {
    ShowBoard();  // the Go button and the aiming look come with it
  }
  pauseTicks = 0;
  SetTimer(mainWindow, kComputerTimer, kComputerTick);
}

// The brain gave up on the circuit in the middle of a turn (memory ran short): every car is its
// player's now, so the board loses its badges, and the car to move, when the computer had it, is
// its player's again from its predicted point, in its own input mode.
void AfterComputerGaveUp(bool hadTheCar) {
  if (hadTheCar) {
    GiveBackInputMode();
    ForgetHint();
    ResetTarget();
  }
  ShowBoard();
  BeginTurn();
}

// A remote car's turn: its move, once it has arrived, is shown and committed after the pause, as
// a computer's; until then the board waits, and says whose turn it is.
void BeginRemoteTurn() {
  GameState& s = gameState;
  if (!remotePending) {
    // The server passed over a car this computer still counts (finished, retired): its order wins,
    // also for the moves still to play once it has said that the race is over.
    int mover = -1;
    if (!onlineRace.arrived.empty() && onlineRace.arrived.front().index == onlineRace.moves) {
      mover = onlineRace.arrived.front().car;
    } else if (!onlineRace.over && onlineRace.serverTurnAt == onlineRace.moves && onlineRace.serverTurn >= 0) {
      mover = onlineRace.serverTurn;
    }
    if (mover >= 0 && mover < s.playerCount && mover != s.currentPlayer) {
      s.currentPlayer = static_cast<uint16_t>(mover);
      s.scrollX = s.scrollY = 0;
      CentreView();
      ResetTarget();
      ShowBoard();
      if (!IsRemoteTurn()) {
        waitingForServer = false;
        BeginTurn();
        return;
      }
    }
  }
  if (!remotePending && !onlineRace.arrived.empty() && onlineRace.arrived.front().index == onlineRace.moves) {
    // It stays first among the arrived moves until its commit, so that the next one, should it
    // arrive during the pause, is known as the next.
    remoteTo = onlineRace.arrived.front().to;
    remotePending = true;
  }
  waitingForServer = !remotePending;
  if (remotePending) {
    ComputerTakesTurn(remoteTo);
  } else {
    NameDriverToMove();
  }
}

}  // namespace

void PlayArrivedMoves() {
  if (remotePending || gameState.screenMode != kScreenRace) return;
  // A turn of this computer's that the server's word took away (the move made elsewhere, the car
  // passed over) begins again too.
  if (!waitingForServer && !IsRemoteTurn()) return;
  waitingForServer = false;
  BeginTurn();
}

void BeginTurnAfresh() {
  KillTimer(mainWindow, kComputerTimer);
  remotePending = false;
  waitingForServer = false;
  for (HeldMode& held : heldModes) held = HeldMode{};
  ForgetHint();
  gameState.scrollX = gameState.scrollY = 0;
  CentreView();
  ResetTarget();
  if (gameState.screenMode != kScreenRace) return;  // the turn begins when the board is back
  ShowBoard();
  if (CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}

void BeginTurn() {
  KillTimer(mainWindow, kComputerTimer);
  if (IsRemoteTurn()) {
    BeginRemoteTurn();
    return;
  }
  PrepareBrain();  // not on a tick
  if (IsComputerTurn()) {
    const GridPoint to = ComputerMove();
    if (IsComputerTurn()) {
      ComputerTakesTurn(to);
    } else {
      AfterComputerGaveUp(true);
    }
    return;
  }
  if (GiveBackInputMode()) ShowBoard();
  // While a player ponders, the pro prepares its lap on the same ticks.
  if (gameState.screenMode == kScreenRace && MoreToThink()) SetTimer(mainWindow, kComputerTimer, kComputerTick);
  NameDriverToMove();
}

void EndTurn(int16_t x, int16_t y) {
  GameState& s = gameState;
  FlashGoButton();
  ForgetHint();
  // A car whose trail is full can't move: the commit refuses and its turn passes unused.
  const int car = s.currentPlayer;
  const int refused = CommitMove(s, x, y);
  KeepMove(car, GridPoint{x, y}, refused == 0);
  const bool fromServer = remotePending;
  remotePending = false;
  if (onlineRace.active && refused == 0) {
    // This computer's own moves go to the server, in order; a move that came from it doesn't.
    if (!fromServer) {
      onlineRace.outbox.push_back(OnlineMove{onlineRace.moves, car, GridPoint{x, y}});
      onlineRace.notice.clear();
    }
    ++onlineRace.moves;
    if (onlineRace.laps > 0 && s.players[car].laps >= onlineRace.laps && onlineRace.finishRound[car] < 0) {
      onlineRace.finishRound[car] = static_cast<int16_t>(s.round);
    }
    // The server's move just committed goes, as does one for a turn this computer played itself
    // meanwhile (the server decides about ours when it comes).
    while (!onlineRace.arrived.empty() && onlineRace.arrived.front().index < onlineRace.moves) {
      onlineRace.arrived.pop_front();
    }
  }
  NextTurn(s);
  s.scrollX = s.scrollY = 0;
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  // The pen that made this tap must not drag the next player's cursor before it is lifted.
  s.penLock = 1;
  BeginTurn();
}

void ComputerTick() {
  if (remotePending) {
    // Away from the board the remote move waits; back on it, its pause begins again.
    if (!IsRemoteTurn()) {
      KillTimer(mainWindow, kComputerTimer);
      return;
    }
    if (++pauseTicks < kComputerPause / kComputerTick) return;
    KillTimer(mainWindow, kComputerTimer);
    const uint8_t penLock = gameState.penLock;
    EndTurn(gameState.targetX, gameState.targetY);
    gameState.penLock = penLock;
    return;
  }
  // Back from the menu or the title the turn begins again, with a fresh pause.
  if (!IsComputerTurn()) {
    const bool gaveUp = ComputerUnavailable();
    if (gameState.screenMode != kScreenRace || !ThinkAhead()) KillTimer(mainWindow, kComputerTimer);
    if (!gaveUp && ComputerUnavailable()) AfterComputerGaveUp(false);
    return;
  }
  if (++pauseTicks < kComputerPause / kComputerTick) {
    // The pause is the players' time to follow the move; the pro uses some of it to prepare a
    // better lap than one turn's search can find.
    ThinkAhead();
    if (!IsComputerTurn()) AfterComputerGaveUp(true);
    return;
  }
  KillTimer(mainWindow, kComputerTimer);
  // The commit locks the pen that made it until it is lifted; no pen made this one, so a player's
  // next drag must steer as freely as before it.
  const uint8_t penLock = gameState.penLock;
  EndTurn(gameState.targetX, gameState.targetY);
  gameState.penLock = penLock;
}

void NewRace() {
  // An online race is the server's: no other race begins on its board, which the menu goes back to.
  if (onlineRace.active) {
    ResumeRace();
    return;
  }
  GameState& s = gameState;
  ResetRace(s);
  ForgetRace();
  for (HeldMode& held : heldModes) held = HeldMode{};  // every car aims again
  ForgetHint();
  s.screenMode = kScreenRace;
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}

void ResumeRace() {
  gameState.screenMode = kScreenRace;
  ShowBoard();
  BeginTurn();
}

void ChangePlayerCount(uint16_t count) {
  GameState& s = gameState;
  if (onlineRace.active) count = s.playerCount;  // the server's race keeps its cars
  s.playerCount = count;
  // A car taken out of the race in the middle of a round must not take its turn unseen: the turn
  // passes on as if that car had moved, to the first car of the next round still in the race.
  if (s.currentPlayer >= s.playerCount) {
    NextTurn(s);
    s.scrollX = s.scrollY = 0;
    ForgetHint();
    ResetTarget();
  }
  ResumeRace();
}

void FlashGoButton() {
  const GameState& s = gameState;
  if (CurrentRecord(gameState).inputMode == kInputAim) {
    BlitRect(framePicture, static_cast<uint16_t>(s.goButtonX), static_cast<uint16_t>(s.goButtonY), goButtonPicture, 0,
             kGoButtonPressedRow, kGoButtonSize, kGoButtonPressedRow + kGoButtonSize);
  }
  PresentFrame(display, framePicture, kPresentDirect);
}

void CycleDriver() {
  if (gameState.screenMode != kScreenRace) return;
  // Only this computer's cars, and in an online race without assists not even those.
  if (IsRemoteTurn() || (onlineRace.active && onlineRace.assistsOff)) return;
  NextDriverForCarToMove();
  // Back in the player's hands the turn starts from the predicted point, as any turn does, in the
  // player's own input mode; the board shows the car's badge, or no longer.
  GiveBackInputMode();
  ForgetHint();
  ResetTarget();
  ShowBoard();
  BeginTurn();
}

void ShowHint() {
  GameState& s = gameState;
  if (s.screenMode != kScreenRace || IsComputerTurn() || ComputerUnavailable()) return;
  if (IsRemoteTurn() || (onlineRace.active && onlineRace.assistsOff)) return;
  const GridPoint to = HintMove();
  if (ComputerUnavailable()) {
    AfterComputerGaveUp(false);
    return;
  }
  s.targetX = to.x;
  s.targetY = to.y;
  // Aiming, the hint is the target; tapping directly, the cross shows where to tap.
  if (CurrentRecord(s).inputMode == kInputDirect) ShowHintCross();
  DrawCursor();
}

void ToggleForesight() {
  if (onlineRace.active && onlineRace.assistsOff) return;
  const bool gaveUp = ComputerUnavailable();
  SwitchForesight();
  if (gameState.screenMode == kScreenRace && CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
  if (!gaveUp && ComputerUnavailable()) AfterComputerGaveUp(false);
}

void LeaveTitle() {
  KillTimer(mainWindow, kTitleTimer);
  gameState.screenMode = kScreenRace;
  CentreView();
  ResetTarget();
  if (CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}
