// Apexpick in a real SDL window on a virtual X server: a click selects a line, the screen shows
// it, and Start starts the game program beside it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/png.h"
#include "selector/dialog_layout.h"
#include "tests/program_run.h"

namespace {

const std::string kSelector = APEXGRID_SELECTOR_PROGRAM;

// Leak reports of the desktop's libraries are left out by a suppression file; Mesa's can't be
// named there, so under the sanitizers the window draws through SDL's own software renderer.
#ifdef APEXGRID_SANITIZED
const std::string kDesktopLibraries =
    "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 LSAN_OPTIONS=suppressions=" +
    std::string(APEXGRID_LSAN_SUPPRESSIONS) + " ";
#else
const std::string kDesktopLibraries;
#endif

// The X server's screen as it keeps it in its frame buffer file (an X window dump: a header of
// big-endian 32-bit fields, a colour table, then 32-bit pixels).
bool ReadScreen(const std::string& path, RgbImage* image) {
  const Bytes bytes = ReadBytes(path);
  if (bytes.size() < 100) return false;
  auto field = [&](int i) {
    const size_t at = static_cast<size_t>(i) * 4;
    return static_cast<uint32_t>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
  };
  const uint32_t width = field(4), height = field(5), byteOrder = field(7), bits = field(11);
  const uint32_t perLine = field(12), start = field(0) + field(19) * 12;
  if (bits != 32 || bytes.size() < start + static_cast<size_t>(perLine) * height) return false;
  image->width = width;
  image->height = height;
  image->rgb.assign(static_cast<size_t>(width) * height * 3, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const size_t at = start + static_cast<size_t>(y) * perLine + x * 4;
      uint32_t p = 0;
      for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(bytes[at + (byteOrder == 0 ? i : 3 - i)]) << (8 * i);
      uint8_t* out = &image->rgb[(static_cast<size_t>(y) * width + x) * 3];
      out[0] = static_cast<uint8_t>(p >> 16);
      out[1] = static_cast<uint8_t>(p >> 8);
      out[2] = static_cast<uint8_t>(p);
    }
  }
  return true;
}

bool IsColour(const RgbImage& image, int x, int y, int r, int g, int b) {
  if (x < 0 || y < 0 || x >= static_cast<int>(image.width) || y >= static_cast<int>(image.height)) return false;
  const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
  return std::abs(p[0] - r) <= 8 && std::abs(p[1] - g) <= 8 && std::abs(p[2] - b) <= 8;
}

}  // namespace

TEST(ApexpickWindow, AClickSelectsALineAndStartStartsTheGame) {
  if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  VirtualScreen screen;
  ASSERT_TRUE(screen.running()) << "Xvfb did not start";
  ProgramFolder folder("My Games");
  folder.AddProgram(kSelector, "Apexpick");
  for (const char* c : {"Ring.cct", "oval.CCT", "Third one.cct"}) folder.AddCircuit(c);
  // The game: a stand-in that writes down how it was started.
  const std::string started = folder.scratch().HostFile("started");
  WriteText(folder.HostFile("Apexgrid"),
            "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" >" + Quote(started) + "\n");
  chmod(folder.HostFile("Apexgrid").c_str(), 0755);

  const std::string err = folder.scratch().HostFile("err");
  const std::string status = folder.scratch().HostFile("exit");
  std::system(("(env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + screen.display() +
               kDesktopLibraries + Quote(folder.HostFile("Apexpick")) + " 2>" + Quote(err) +
               "; echo $? >" + Quote(status) + ") &")
                  .c_str());
  std::string window = screen.Xdo("search --sync --onlyvisible --name '^Apexgrid$'");
  window = window.substr(0, window.find('\n'));
  ASSERT_FALSE(window.empty()) << ReadText(err);
  // The device screen at the game window's scale: the largest whole one that fits 800 x 700.
  const std::string geometry = screen.Xdo("getwindowgeometry --shell " + window);
  ASSERT_NE(geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << geometry;
  int left = 0, top = 0;
  for (const std::string& line : LinesOf(geometry)) {
    if (line.rfind("X=", 0) == 0) left = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) top = std::atoi(line.c_str() + 2);
  }

  const DialogGeometry g = LayOutDialog(240, 320);
  const int lineX = g.list.x + 20, lineY = g.list.y + 1 + kListLineHeight + kListLineHeight / 2;
  screen.Xdo("mousemove --window " + window + " " + std::to_string(lineX * 2 + 1) + " " +
             std::to_string(lineY * 2 + 1) + " click 1");

  // The second line turns navy, on the screen, in whole device pixels twice the size.
  const int rightEdge = (g.list.Right() - 2 - kScrollBarWidth) * 2;
  RgbImage image;
  bool seen = false;
  for (int tries = 0; tries < 100 && !seen; ++tries) {
    seen = ReadScreen(screen.ScreenFile(), &image) &&
           IsColour(image, left + rightEdge - 2, top + lineY * 2, 0, 0, 132);
    if (!seen) Pause(50);
  }
  ASSERT_TRUE(seen) << "the click did not select the line";
  EXPECT_TRUE(IsColour(image, left + rightEdge - 2, top + (lineY - kListLineHeight) * 2, 255, 255, 255));
  EXPECT_TRUE(IsColour(image, left + g.caption.x * 2 + 100, top + g.caption.y * 2 + 1, 0, 0, 132));
  // For a person to look at: APEXGRID_SHOT_FOLDER=DIR keeps the screen as DIR/apexpick-window.png.
  if (const char* keep = std::getenv("APEXGRID_SHOT_FOLDER")) {
    WritePng(std::string(keep) + "/apexpick-window.png", image);
  }

  screen.Xdo("mousemove --window " + window + " " + std::to_string((g.start.x + 10) * 2) + " " +
             std::to_string((g.start.y + 10) * 2) + " click 1");
  ASSERT_TRUE(WaitForText(status, "\n")) << ReadText(err);
  EXPECT_EQ(ReadText(status), "0\n") << ReadText(err);
  ASSERT_TRUE(WaitForText(started, "|"));
  EXPECT_EQ(ReadText(started), "1|" + folder.Device() + "\\Circuits\\" + folder.CircuitFiles().at(1));
}
