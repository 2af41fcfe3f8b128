// A modal dialog drawn with Dear ImGui on the device screen, for the selector program.
//
// The dialog program owns its state and draws it with ImGui calls; the host owns the ImGui
// context, turns the desktop's mouse and keys (or the headless script) into ImGui input, and
// puts the frames on the screen. The device screen (240 x 320) is the canvas, as for the game:
// the SDL backend shows it in a window at the same whole scale as the game's window, the
// headless backend keeps it in memory for `shot` lines.
//
//   DialogProgram program;
//   program.setUp = [] { ... ImGui style and fonts ... };
//   program.draw = [&] { ... one frame of ImGui calls ... };
//   program.ended = [&] { return dialog.ended; };
//   program.close = [&] { ... as the caption OK ... };
//   program.scriptLine = [&](const ScriptEvent& e, std::string* error) { ... };
//   RunDialog(u"Apexgrid", program, &error);
//
// Headless, the script's lines are played one at a time: `tap`, `down`, `move` and `up` are the
// pen (the mouse) at device pixels, `key up` and `key down` the arrow keys (other keys are passed
// over), `wait` moves the virtual clock, `sleep` passes real time, `shot FILE` writes the screen
// as it would look to a PNG, `close` is the desktop's close button. `select N`, `start`, `storno`
// and `ok` go to program.scriptLine. When the script is over and the dialog still runs, it is
// closed through program.close.
#pragma once

#include <functional>
#include <string>

#include "platform/script.h"

// Keys the host delivers to ImGui, as indices for ImGui::IsKeyPressed (io.KeyMap holds them for
// ImGuiKey_UpArrow and ImGuiKey_DownArrow).
constexpr int kDialogKeyUp = 1;
constexpr int kDialogKeyDown = 2;

struct DialogProgram {
  // Called once the ImGui context exists and before its font atlas is built: style and fonts.
  std::function<void()> setUp;
  // One frame of the dialog: called between ImGui::NewFrame and ImGui::Render.
  std::function<void()> draw;
  // True once the dialog has ended; the host then returns.
  std::function<bool()> ended;
  // The desktop's close button, a `close` line, or the end of the script.
  std::function<void()> close;
  // A `select N`, `start`, `storno` or `ok` line: 0 when carried out, 1 with the reason in *error
  // (which then ends the script with an ERROR line).
  std::function<int(const ScriptEvent& event, std::string* error)> scriptLine;
};

// Runs the dialog until it ends. The desktop window, if any, carries the title. 0 when the dialog
// ran; 1 with a one-line reason in *error when it could not be shown at all.
int RunDialog(const std::u16string& title, const DialogProgram& program, std::string* error);
