// Test helpers for running the real game program: a program folder of its own in a temporary
// folder, circuits made for the test, scripted headless runs, and the screen read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/picture.h"
#include "platform/png.h"
#include "tests/support.h"

// Shell quoting for one word.
std::string Quote(const std::string& text);
std::string ReadText(const std::string& hostPath);
std::vector<std::string> LinesOf(const std::string& text);
void Pause(int milliseconds);
// Waits until the file exists; false after the timeout.
bool WaitForFile(const std::string& hostPath, int milliseconds = 20000);

// What a headless run of the game said and how it ended.
struct GameRun {
  int status = -1;
  std::vector<std::string> lines;  // standard error, line by line

  bool Said(const std::string& line) const;
  // The lines that begin with the prefix.
  std::vector<std::string> LinesStarting(const std::string& prefix) const;
};

// A program folder: a copy of the game program and its Data folder (the module path resolves
// links, so the program is copied rather than linked), and an empty Circuits folder.
class GameFolder {
 public:
  // withData false leaves the Data folder empty.
  explicit GameFolder(bool withData = true);

  // Host path of a file in the program folder ("Circuits/Ring.cct"), and its device path.
  std::string Host(const std::string& name) const;
  std::string Device(const std::string& name) const;
  // The program folder itself as the game names it, and the selector's path as it starts it.
  std::string DeviceFolder() const;
  std::string SelectorPath() const;

  void AddCircuit(const std::string& name, const TestCircuit& circuit) const;

  // Runs the game headless with the script, the command line as its one argument (none when
  // empty), and extra environment assignments; waits for it to end.
  GameRun Play(const std::string& script, const std::string& commandLine,
               const std::string& environment = "") const;
  // The same, with the circuit's device path as the command line.
  GameRun PlayCircuit(const std::string& script, const std::string& circuit) const {
    return Play(script, Device("Circuits/" + circuit));
  }

  // Environment that keeps a run to this folder: its own single-instance key, nothing started
  // for real, no script meant for another program.
  std::string Isolation() const;

 private:
  TempFolder folder_;
  std::string canonical_;
};

// The screen as a shot wrote it.
struct Shot {
  RgbImage image;

  // Reads a PNG shot; false when it is missing or unreadable.
  bool Load(const std::string& hostPath);
  // True when the pixel shows the 5-6-5 colour.
  bool Is(int x, int y, uint16_t colour) const;
  // True when every pixel of [x0, x1) x [y0, y1) shows pixel (x + dx, y + dy) of the picture.
  bool Shows(const Picture& picture, int x0, int y0, int x1, int y1, int dx = 0, int dy = 0) const;
  // True when the two shots agree everywhere.
  bool SameAs(const Shot& other) const { return image.rgb == other.image.rgb; }
};

// One of the game's data pictures, as the build drew it.
void LoadDataPicture(Picture& picture, const std::string& name);
