// The headless backend's script: the events a test or a driving program plays into a program.
//
// One event a line; `#` at the start of a word starts a comment; blank lines are skipped.
//
//   tap X Y            pen down at (X, Y), then pen up there
//   down X Y           pen down           move X Y   pen move        up X Y   pen up
//   key NAME           key down; NAME is up down left right a b c start, or a host key: d h f
//                      (the game's driver, hint and foresight keys), r p e (resume, playback,
//                      export), o (the online lobby), backspace (a dialog's text field), space comma period escape
//                      (playback's own), or f11, which switches full screen (ToggleFullScreen) instead of reaching the
//                      program: headless only the state changes, and is remembered
//   wait MS            the virtual clock advances by MS milliseconds; every timer tick that falls
//                      due on the way is delivered, each at its own time
//   sleep MS           the program waits MS real milliseconds, still answering other copies that
//                      look for it (FindWindow); the virtual clock stands still
//   network N MS       the program waits, in real time and at most MS milliseconds, until its windows
//                      have been handed N network results (WM_NETWORK) since it started; the
//                      virtual clock stands still. Not reaching N by then is an ERROR, as below
//   blur / focus       focus lost / gained (delivered even when nothing changes; focus also
//                      restores a minimised window)
//   type TEXT          the rest of the line typed on the keyboard, one WM_CHAR a character
//   shot FILE          the screen as last presented, written to FILE (rest of the line) as PNG
//   close              the close message, as when the user closes the window
//   select N / start / storno / ok
//                      selector only: select list line N (from 0), press Start, press Storno,
//                      press the caption OK. They reach the first window as WM_SCRIPTCOMMAND,
//                      which the game's window passes over.
//
// Lines are played when the program's queue is empty, one at a time, after start-up: the first
// time the loop waits. Written on standard error, one line each:
//   MESSAGE <caption> | <text>             a message box (answered OK)
//   START <program path> | <command line>  a process start
//   ERROR line N: <what>                   a line that can't be read; the run then ends: every
//                                          window gets WM_CLOSE and the exit status is 2.
// Coordinates are signed 16-bit numbers, so scripts may also tap off the screen.
#pragma once

#include <cstdint>
#include <string>

enum class ScriptAction : uint8_t {
  kTap,
  kDown,
  kMove,
  kUp,
  kKey,
  kWait,
  kSleep,
  kNetwork,
  kBlur,
  kFocus,
  kShot,
  kType,
  kClose,
  kSelect,
  kStart,
  kStorno,
  kOk,
};

struct ScriptEvent {
  ScriptAction action = ScriptAction::kClose;
  int line = 0;  // line number in the script, from 1
  int x = 0;     // tap, down, move, up
  int y = 0;
  int16_t key = 0;            // key: a key code of platform/gx.h
  uint32_t milliseconds = 0;  // wait, sleep, network
  int index = 0;              // select; network: the count of results
  std::string file;           // shot: a host path; type: the text, UTF-8
};

// Reads one line of a script (without its line end; a trailing carriage return is allowed).
// Returns 1 with *event filled, 0 for a blank or comment line, -1 with what is wrong in *error.
int ParseScriptLine(const std::string& text, int lineNumber, ScriptEvent* event, std::string* error);

// ---- For the windows that carry out the selector's lines ----------------------------------------

// Writes `ERROR line N: <what>` and ends the script as for an unreadable line: for a line the
// program can't carry out (WM_SCRIPTCOMMAND, platform/window.h).
void ReportScriptError(int lineNumber, const std::string& what);
