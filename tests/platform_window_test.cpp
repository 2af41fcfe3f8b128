// The SDL backend for real: the small windowed program on a virtual X server, driven with
// xdotool, its window read back from the server's frame buffer file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support.h"

namespace {

const std::string kFake = APEXGRID_FAKE_PROGRAM;

// Leak reports of the desktop's libraries are left out by a suppression file. Mesa's driver can't
// be named there: it is unloaded before the report, which then shows its blocks with no module.
// So under the sanitizers the window draws through SDL's own software renderer, without Mesa.
#ifdef APEXGRID_SANITIZED
const std::string kDesktopLibraries =
    "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 LSAN_OPTIONS=suppressions=" +
    std::string(APEXGRID_LSAN_SUPPRESSIONS) + " ";
#else
const std::string kDesktopLibraries;
#endif

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void Pause(int milliseconds) {
  std::system(("sleep " + std::to_string(milliseconds / 1000.0)).c_str());
}

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

int Count(const std::string& text, const std::string& part) {
  int found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

bool WaitFor(const std::string& path, const std::string& text, int times = 1) {
  for (int waited = 0; waited < 20000; waited += 20) {
    if (Count(ReadText(path), text) >= times) return true;
    Pause(20);
  }
  return false;
}

struct Rgb {
  int r, g, b;
};

// The server's screen as it writes it into its frame buffer file (an X window dump: a header of
// big-endian 32-bit fields, a colour table, then the pixels).
struct ScreenDump {
  Bytes bytes;
  uint32_t width = 0, height = 0, bytesPerLine = 0, bitsPerPixel = 0, byteOrder = 0, start = 0;

  bool Read(const std::string& path) {
    bytes = ReadBytes(path);
    if (bytes.size() < 100) return false;
    auto field = [&](int i) {
      const size_t at = static_cast<size_t>(i) * 4;
      return static_cast<uint32_t>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
                                   bytes[at + 3]);
    };
    width = field(4);
    height = field(5);
    byteOrder = field(7);
    bitsPerPixel = field(11);
    bytesPerLine = field(12);
    start = field(0) + field(19) * 12;
    return bitsPerPixel == 32 && bytes.size() >= start + static_cast<size_t>(bytesPerLine) * height;
  }

  Rgb At(uint32_t x, uint32_t y) const {
    const size_t at = start + static_cast<size_t>(y) * bytesPerLine + x * 4;
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) {
      const uint32_t byte = bytes[at + (byteOrder == 0 ? i : 3 - i)];
      p |= byte << (8 * i);
    }
    return Rgb{static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255),
               static_cast<int>(p & 255)};
  }
};

// Close enough: the X server's renderer may round 5- and 6-bit channels a step differently.
bool Near(const Rgb& a, const Rgb& b) {
  return std::abs(a.r - b.r) <= 8 && std::abs(a.g - b.g) <= 8 && std::abs(a.b - b.b) <= 8;
}

class SdlWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    // The server picks a free display number itself and writes it down.
    std::system(("Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -fbdir " +
                 Quote(folder_.host()) + " 3>" + Quote(folder_.HostFile("display")) +
                 " 2>/dev/null & echo $! >" + Quote(folder_.HostFile("server")))
                    .c_str());
    for (int waited = 0; waited < 10000 && ReadText(folder_.HostFile("display")).empty(); waited += 20) {
      Pause(20);
    }
    std::string number = ReadText(folder_.HostFile("display"));
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    display_ = "DISPLAY=:" + number + " ";
  }

  void TearDown() override {
    const std::string server = ReadText(folder_.HostFile("server"));
    if (server.empty()) return;
    // Stop the server we started, by its number, and let it finish before the folder goes.
    const std::string pid = server.substr(0, server.find('\n'));
    std::system(("kill " + pid + " 2>/dev/null; for i in $(seq 100); do kill -0 " + pid +
                 " 2>/dev/null || break; sleep 0.05; done")
                    .c_str());
  }

  // Runs xdotool on our server; returns what it printed.
  std::string Xdo(const std::string& arguments) {
    const std::string out = folder_.HostFile("xdo");
    std::system(("timeout 10 env " + display_ + "xdotool " + arguments + " >" + Quote(out) + " 2>&1").c_str());
    return ReadText(out);
  }

  TempFolder folder_;
  std::string display_;
};

}  // namespace

TEST_F(SdlWindow, PenKeysFocusAndTheScreenGoThroughARealWindow) {
  const std::string err = folder_.HostFile("err");
  std::system(("(env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + display_ +
               "APEXGRID_INSTANCE=" + Quote(folder_.host()) + " FAKE_COLOUR=F800 " + kDesktopLibraries + Quote(kFake) + " 2>" + Quote(err) +
               "; echo $? >" + Quote(folder_.HostFile("status")) + ") &")
                  .c_str());
  ASSERT_TRUE(WaitFor(err, "STARTED UP")) << ReadText(err);

  std::string window = Xdo("search --sync --onlyvisible --name '^Fake$'");
  window = window.substr(0, window.find('\n'));
  ASSERT_FALSE(window.empty());
  // The largest whole scale that fits 800 x 700 with room for a title bar is 2.
  const std::string geometry = Xdo("getwindowgeometry --shell " + window);
  EXPECT_NE(geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << geometry;
  int left = 0, top = 0;
  std::istringstream lines(geometry);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("X=", 0) == 0) left = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) top = std::atoi(line.c_str() + 2);
  }

  // A tap at device (10, 20); a drag from (20, 20) to (40, 30); moving without the button
  // held is no pen move.
  Xdo("mousemove --window " + window + " 21 41 click 1");
  Xdo("mousemove --window " + window + " 41 41 mousedown 1 mousemove --window " + window +
      " 81 61 mouseup 1 mousemove --window " + window + " 101 101");
  Xdo("windowfocus --sync " + window);
  Xdo("key Up");
  ASSERT_TRUE(WaitFor(err, "GOT WM_KEYDOWN 38 1"));
  const std::string said = ReadText(err);
  const std::string events[] = {
      "GOT WM_LBUTTONDOWN 1 1310730", "GOT WM_LBUTTONUP 0 1310730",
      "GOT WM_LBUTTONDOWN 1 1310740", "GOT WM_MOUSEMOVE 1 1966120",
      "GOT WM_LBUTTONUP 0 1966120",   "GOT WM_KEYDOWN 38 1",
  };
  size_t at = 0;
  for (const std::string& event : events) {
    const size_t found = said.find(event, at);
    ASSERT_NE(found, std::string::npos) << event << " in order, in:\n" << said;
    at = found;
  }
  EXPECT_EQ(Count(said, "WM_MOUSEMOVE"), 1) << said;
  // The focus the window got when it appeared came once, before start-up was over; the
  // desktop's own notice of it was swallowed.
  EXPECT_EQ(Count(said, "GOT WM_SETFOCUS"), 1) << said;
  EXPECT_LT(said.find("GOT WM_SETFOCUS"), said.find("STARTED UP"));

  // The screen: red, with white squares where the pen went down, at twice the size.
  ScreenDump screen;
  const Rgb red{255, 0, 0}, white{255, 255, 255};
  bool seen = false;
  for (int tries = 0; tries < 100 && !seen; ++tries) {
    seen = screen.Read(folder_.HostFile("Xvfb_screen0")) &&
           Near(screen.At(left + 20, top + 40), white) && Near(screen.At(left + 40, top + 40), white);
    if (!seen) Pause(50);
  }
  ASSERT_TRUE(seen) << "the taps did not reach the screen";
  EXPECT_TRUE(Near(screen.At(left + 18, top + 38), white));
  EXPECT_TRUE(Near(screen.At(left + 23, top + 43), white));
  EXPECT_TRUE(Near(screen.At(left + 24, top + 44), red));
  EXPECT_TRUE(Near(screen.At(left + 17, top + 40), red));
  EXPECT_TRUE(Near(screen.At(left, top), red));
  EXPECT_TRUE(Near(screen.At(left + 479, top + 639), red));
  EXPECT_FALSE(Near(screen.At(left - 1, top), red)) << "the window is exactly the screen";

  // A second copy doesn't open a window of its own.
  const int second = std::system(("env -u APEXGRID_VIDEO " + display_ + "APEXGRID_INSTANCE=" +
                                  Quote(folder_.host()) + " FAKE_SECOND=1 " + kDesktopLibraries + Quote(kFake) + " 2>" +
                                  Quote(folder_.HostFile("second")))
                                     .c_str());
  EXPECT_EQ(second, 0);
  EXPECT_NE(ReadText(folder_.HostFile("second")).find("SECOND COPY"), std::string::npos);

  // The start key makes the program close itself; the loop ends normally.
  Xdo("windowfocus --sync " + window);
  Xdo("key Return");
  ASSERT_TRUE(WaitFor(err, "LOOP ENDED 0")) << ReadText(err);
  for (int waited = 0; waited < 10000 && ReadText(folder_.HostFile("status")).empty(); waited += 20) {
    Pause(20);
  }
  EXPECT_EQ(ReadText(folder_.HostFile("status")), "0\n") << ReadText(err);
}
