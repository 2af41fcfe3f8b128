// The dialog run by the headless script: the pen at device pixels, virtual time, shots.
#include "platform/core.h"
#include "platform/dialog_canvas.h"
#include "platform/gx.h"
#include "platform/script.h"

namespace {

// Each frame moves ImGui's clock on by at least this much, so that time never stands still for
// it even while the virtual clock does.
constexpr double kFrameSeconds = 0.001;

struct HeadlessDialog {
  const DialogProgram* program;
  DialogCanvas* canvas;
  double pendingSeconds = 0;  // virtual time that passed since the last frame
  int penX = -1;
  int penY = -1;
  bool penDown = false;
};

void Frame(HeadlessDialog* run) {
  DrawDialogFrame(run->canvas, *run->program, run->pendingSeconds + kFrameSeconds);
  run->pendingSeconds = 0;
}

// The pen goes to (x, y) first and only then changes, each step a frame of its own, as a hand
// would: ImGui reads the pen's state once a frame.
void Pen(HeadlessDialog* run, int x, int y, bool down) {
  if (x != run->penX || y != run->penY) {
    run->penX = x;
    run->penY = y;
    DialogPen(x, y, run->penDown);
    Frame(run);
  }
  if (down != run->penDown && !run->program->ended()) {
    run->penDown = down;
    DialogPen(x, y, down);
    Frame(run);
  }
}

void Key(HeadlessDialog* run, int16_t code) {
  const int key = code == kKeyUp ? kDialogKeyUp : code == kKeyDown ? kDialogKeyDown : 0;
  if (key == 0) return;  // the dialog has no use for the device's other keys
  DialogKey(key, true);
  Frame(run);
  DialogKey(key, false);
  Frame(run);
}

void Play(HeadlessDialog* run, const ScriptEvent& e) {
  switch (e.action) {
    case ScriptAction::kTap:
      Pen(run, e.x, e.y, true);
      Pen(run, e.x, e.y, false);
      break;
    case ScriptAction::kDown:
      Pen(run, e.x, e.y, true);
      break;
    case ScriptAction::kMove:
      Pen(run, e.x, e.y, run->penDown);
      break;
    case ScriptAction::kUp:
      Pen(run, e.x, e.y, false);
      break;
    case ScriptAction::kKey:
      Key(run, e.key);
      break;
    case ScriptAction::kWait:
      AdvanceVirtualClock(e.milliseconds);
      run->pendingSeconds += e.milliseconds / 1000.0;
      break;
    case ScriptAction::kSleep:
      SleepAnswering(e.milliseconds);
      break;
    case ScriptAction::kBlur:
    case ScriptAction::kFocus:
      break;  // a modal dialog keeps to itself what the focus does
    case ScriptAction::kShot:
      Frame(run);
      if (WriteCanvasPng(run->canvas, e.file) != 0) ReportScriptError(e.line, "can't write " + e.file);
      break;
    case ScriptAction::kClose:
      run->program->close();
      break;
    case ScriptAction::kSelect:
    case ScriptAction::kStart:
    case ScriptAction::kStorno:
    case ScriptAction::kOk: {
      std::string error;
      if (run->program->scriptLine(e, &error) != 0) {
        ReportScriptError(e.line, error);
      } else {
        Frame(run);
      }
      break;
    }
  }
}

}  // namespace

void RunHeadlessDialog(const DialogProgram& program, DialogCanvas* canvas) {
  HeadlessDialog run{&program, canvas};
  // Two frames before the first line: ImGui places its windows in the first and shows them
  // settled from the second.
  Frame(&run);
  Frame(&run);
  ScriptEvent event;
  while (!program.ended()) {
    if (!NextScriptEvent(&event)) {
      program.close();  // the script is over: as the user leaving the dialog
      break;
    }
    Play(&run, event);
  }
}
