// A modal dialog drawn with Dear ImGui on the device screen, for the selector and the lobby.
//
// The dialog program owns its state and draws it with ImGui calls; RunDialog owns the ImGui
// context and hosts it in an ordinary platform window (platform/window.h), on the same message
// loop as the game: the pen and the arrow keys become ImGui's input, and every frame is put on
// the device screen through the display library, so a window shows it at the game's scale and a
// headless `shot` line writes it.
//
//   DialogProgram program;
//   program.setUp = [] { ... ImGui style and fonts ... };
//   program.draw = [&] { ... one frame of ImGui calls ... };
//   program.ended = [&] { return dialog.ended; };
//   program.close = [&] { ... as the caption OK ... };
//   program.scriptLine = [&](const ScriptEvent& e, std::string* error) { ... };
//   RunDialog(u"Apexgrid", program, &error);
//
// Each pen change and each key is a frame of its own, the pen moving to its place before it goes
// down or up, as a hand would: ImGui reads the pen once a frame. The desktop's close button (and
// a headless script that runs out) goes to program.close; `select N`, `start`, `storno` and `ok`
// lines go to program.scriptLine.
#pragma once

#include <functional>
#include <string>

#include "platform/script.h"
#include "platform/window.h"

struct DialogProgram {
  // The window's icon; may be null.
  const WindowIcon* icon = nullptr;
  // Called once the ImGui context exists and before its font atlas is built: style and fonts.
  std::function<void()> setUp;
  // One frame of the dialog: called between ImGui::NewFrame and ImGui::Render.
  std::function<void()> draw;
  // True once the dialog has ended; the window then closes and RunDialog returns.
  std::function<bool()> ended;
  // The desktop's close button, a `close` line, or the end of the script.
  std::function<void()> close;
  // A `select N`, `start`, `storno` or `ok` line: 0 when carried out, 1 with the reason in *error
  // (which then ends the script with an ERROR line).
  std::function<int(const ScriptEvent& event, std::string* error)> scriptLine;
  // Optional: the window exists, before its first frame (for what posts to it, as the network
  // client does).
  std::function<void(WindowHandle window)> opened;
  // Optional: a message the dialog itself doesn't read (WM_NETWORK, WM_TIMER); true when it
  // changed what the dialog shows, which then gets a new frame.
  std::function<bool(uint32_t message, uintptr_t wParam, intptr_t lParam)> message;
};

// Runs the dialog in a window with the title until it ends. 0 when the dialog ran; 1 with a
// one-line reason in *error when it could not be shown at all.
int RunDialog(const std::u16string& title, const DialogProgram& program, std::string* error);
