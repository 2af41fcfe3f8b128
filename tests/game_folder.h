// Test helpers for running the real game program: a program folder of its own in a temporary
// folder, circuits made for the test, scripted headless runs, and the screen read back.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/picture.h"
#include "platform/png.h"
#include "tests/support.h"

// The game's program folder: a copy of the game program, its Data folder and an empty Circuits
// folder, with scripts and reports beside it.
class GameFolder {
 public:
  // withData false leaves the Data folder empty.
  explicit GameFolder(bool withData = true);

  // Host path of a file in the program folder ("Circuits/Ring.cct"), and its device path.
  std::string Host(const std::string& name) const { return folder_.HostFile(name); }
  std::string Device(const std::string& name) const;
  // The program folder itself as the game names it, and the selector's path as it starts it.
  std::string DeviceFolder() const { return folder_.Device(); }
  std::string SelectorPath() const { return DeviceFolder() + "\\Apexpick.exe"; }

  void AddCircuit(const std::string& name, const TestCircuit& circuit) const;

  // Runs the game headless with the script, the command line as its one argument (none when
  // empty), and extra environment assignments, in the working folder when one is given, after the
  // shell command `before` when one is given (a ulimit, say); waits for it to end.
  ProgramRun Play(const std::string& script, const std::string& commandLine, const std::string& environment = "",
                  const std::string& workingFolder = "", const std::string& before = "") const;
  // The same, with the circuit's device path as the command line.
  ProgramRun PlayCircuit(const std::string& script, const std::string& circuit) const {
    return Play(script, Device("Circuits/" + circuit));
  }

  // Environment that keeps a run to this folder: its own single-instance key, nothing started
  // for real, no script meant for another program.
  std::string Isolation() const;

 private:
  ProgramFolder folder_;
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
