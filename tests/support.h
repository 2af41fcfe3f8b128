// Test helpers: temporary folders and their files, circuits built in memory, the emulated screen's
// pixel format, and the built programs run as real processes, in windows on a virtual X server too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/circuit.h"
#include "platform/byte_order.h"
#include "platform/png.h"

// ---- Temporary folders and files ----------------------------------------------------------------

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& host() const { return host_; }
  std::string HostFile(const std::string& name) const { return host_ + "/" + name; }
  // The same file as a device path, as the game names files.
  std::u16string File(const std::string& name) const;

 private:
  std::string host_;
};

using Bytes = std::vector<unsigned char>;

Bytes ReadBytes(const std::string& hostPath);
void WriteBytes(const std::string& hostPath, const Bytes& bytes);
bool FileExists(const std::string& hostPath);

// Tests of permissions run as an ordinary user, since root may write anything: "nobody" when the
// suite runs as root (as CI does), else the user running it. GiveToTestUser hands a file or a
// folder with everything in it to that user; AsTestUser runs the body as that user (in a child
// process that gives up root, when it must) and is true when the body's checks held.
void GiveToTestUser(const std::string& hostPath);
bool AsTestUser(const std::function<void()>& body);

// A file's bytes as text; empty when it is missing.
std::string ReadText(const std::string& hostPath);
void WriteText(const std::string& hostPath, const std::string& text);
std::vector<std::string> LinesOf(const std::string& text);
// How many times the part stands in the text, overlapping ones counted.
int Count(const std::string& text, const std::string& part);

// Little-endian fields of a file's bytes; a field past the end fails the test and reads as 0.
uint16_t GetU16(const Bytes& bytes, size_t offset);
uint32_t GetU32(const Bytes& bytes, size_t offset);

// ---- Circuits in memory ---------------------------------------------------------------------------

// A point from plain ints, in 16 bits like every point of the game.
inline GridPoint Pt(int x, int y) { return GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)}; }

// A circuit in memory, written out in the circuit file format. The grid starts all free and the
// picture with a pattern.
struct TestCircuit : CircuitFile {
  TestCircuit(uint16_t w, uint16_t h);
  void Block(int x, int y) { cells[static_cast<size_t>(y) * width + x] = 1; }
  // Blocks every cell of the rectangle [x0, x1) x [y0, y1).
  void BlockRect(int x0, int y0, int x1, int y1);
  Bytes Encode() const;
};

// A 60 x 40 ring in the top-left corner of a circuit of the size, walls everywhere else: the track
// is [2, 58) x [2, 38) around an island at [14, 46) x [14, 26). The start/finish line crosses the
// top straight at x = 30 from wall to wall; cars race clockwise (left to right along the top) and
// start just past the line, at (31, 8).
TestCircuit SmallRing(uint16_t width = 60, uint16_t height = 40);
// The small ring's centre line, clockwise from its start in moves of at most 6 cells each way,
// ending just past the line again: a lap.
std::vector<GridPoint> SmallRingLap();

// A ring with walls three cells thick round a track `lane` wide, width x height in all: the
// start/finish line crosses the top straight from the outer wall into the island, and its ends
// lie deep enough in the walls for the lap solver's bound to be a proof (height at least
// 11 + 2 * lane). Cars race clockwise from just past the line.
TestCircuit WalledRing(int width, int height, int lane);

// ---- The emulated screen's pixel format -------------------------------------------------------------

// A test that may change the emulated screen's pixel format: the screen and the colour format the
// colours follow go back to their defaults after it.
class ScreenFormatTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // Gives the emulated screen the pixel format and makes colours follow it.
  void UseFormat(uint32_t format);
};

// ---- Running the built programs ---------------------------------------------------------------------

// Shell quoting for one word.
std::string Quote(const std::string& text);
void Pause(int milliseconds);
// Waits until the file exists; false after the timeout.
bool WaitForFile(const std::string& hostPath, int milliseconds = 20000);
// Waits until the file holds the text at least `times` times; false after the timeout.
bool WaitForText(const std::string& hostPath, const std::string& text, int milliseconds = 20000, int times = 1);
bool Installed(const char* program);

// Runs a shell command line to its end in a folder of the test's own; returns its exit status.
int RunShell(const std::string& command, const TempFolder& scratch);
// Starts a shell command line in the background; its exit status is written to the file when it
// ends.
void StartShell(const std::string& command, const std::string& statusPath);

// What a program said on its standard error and how it ended.
struct ProgramRun {
  int status = -1;
  std::vector<std::string> lines;  // standard error, line by line

  bool Said(const std::string& line) const;
  // The lines that begin with the prefix.
  std::vector<std::string> LinesStarting(const std::string& prefix) const;
};

// Runs a shell command line to its end with its standard error in the scratch folder's file
// "err", which it then reads back.
ProgramRun RunProgram(const std::string& command, const TempFolder& scratch);

// Environment assignments to put in front of a program. The first keeps the leak reports of the
// desktop's own libraries from failing a sanitizer build of it; the second also makes a window
// draw without Mesa in such a build (see support.cpp).
std::string LeakSuppressions();
std::string DesktopLibraries();

// A program folder of its own: copies of the programs (the module path resolves links, and the
// folder is also the headless single-instance key), an empty Circuits folder, and room for
// scripts and reports beside it, outside the program folder.
class ProgramFolder {
 public:
  // name: the program folder's own name inside the temporary folder, spaces allowed.
  explicit ProgramFolder(const std::string& name = "Game");

  const TempFolder& scratch() const { return scratch_; }
  // The program folder with every link resolved, as the programs find it.
  const std::string& host() const { return host_; }
  std::string HostFile(const std::string& name) const { return host_ + "/" + name; }
  // The program folder as the programs name it: a device path without a trailing backslash.
  std::string Device() const;

  void AddProgram(const std::string& built, const std::string& name) const;
  // An empty circuit file.
  void AddCircuit(const std::string& name) const { WriteBytes(HostFile("Circuits/" + name), Bytes{}); }
  // The names the file system lists in Circuits, in its order, files only.
  std::vector<std::string> CircuitFiles() const;

 private:
  TempFolder scratch_;
  std::string host_;
};

// ---- Windows on a virtual X server ------------------------------------------------------------------

// Where a window stands on the screen, and xdotool's whole answer.
struct WindowPlace {
  std::string geometry;
  int left = 0;
  int top = 0;
};

// A virtual X server of the test's own, 800 x 700; the display number is chosen by the server.
class VirtualScreen {
 public:
  VirtualScreen();
  ~VirtualScreen();
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;

  bool running() const { return !display_.empty(); }
  // "DISPLAY=:N ", to put in front of a command.
  const std::string& display() const { return display_; }
  // The server's frame buffer file (an X window dump).
  std::string ScreenFile() const { return folder_.HostFile("Xvfb_screen0"); }

  // Starts a window manager (openbox) on the server, for what only a desktop does: full screen,
  // title bars. False when it is missing or didn't come up.
  bool StartWindowManager() const;

  // Runs xdotool on this server; returns what it printed.
  std::string Xdo(const std::string& arguments) const;
  // The first visible window with exactly the title, once there is one; empty when none came.
  std::string FindWindow(const std::string& title) const;
  WindowPlace PlaceOf(const std::string& window) const;

 private:
  TempFolder folder_;
  std::string display_;
};

// A test with a virtual X server of its own, skipped where Xvfb or xdotool is missing.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  const VirtualScreen& screen() const { return *screen_; }

 private:
  std::optional<VirtualScreen> screen_;
};

// A colour on the X server's screen, 8 bits a channel.
struct ScreenRgb {
  int r = 0, g = 0, b = 0;
};
// The colour a 5-6-5 pixel shows as.
ScreenRgb ShownAs(uint16_t colour);
// Close enough: the server's renderer may round 5- and 6-bit channels a step differently.
bool Near(const ScreenRgb& a, const ScreenRgb& b);

// The X server's screen as it keeps it in its frame buffer file.
class ScreenDump {
 public:
  // False while the file is missing, cut short or not 32 bits a pixel.
  bool Read(const std::string& path);
  // True when the point is on the screen and its pixel is near the colour.
  bool Shows(int x, int y, const ScreenRgb& colour) const;
  RgbImage Image() const;

 private:
  Bytes bytes_;
  bool valid_ = false;
};

// The same for one pixel straight from the file: only the header and the pixel are read, so that
// polling stays quick in a sanitizer build.
bool ScreenFileShows(const std::string& path, int x, int y, const ScreenRgb& colour);
