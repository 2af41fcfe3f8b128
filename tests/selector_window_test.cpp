// Apexpick in a real SDL window on a virtual X server: a click selects a line, the screen shows
// it, and Start starts the game program beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/png.h"
#include "selector/dialog_layout.h"
#include "tests/support.h"

namespace {

const std::string kSelector = APEXGRID_SELECTOR_PROGRAM;

class ApexpickWindow : public WindowTest {};

}  // namespace

TEST_F(ApexpickWindow, AClickSelectsALineAndStartStartsTheGame) {
  ProgramFolder folder("My Games");
  folder.AddProgram(kSelector, "Apexpick");
  for (const char* c : {"Ring.cct", "oval.CCT", "Third one.cct"}) folder.AddCircuit(c);
  // The game: a stand-in that writes down how it was started.
  const std::string started = folder.scratch().HostFile("started");
  WriteText(folder.HostFile("Apexgrid"), "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" >" + Quote(started) + "\n");
  chmod(folder.HostFile("Apexgrid").c_str(), 0755);

  const std::string err = folder.scratch().HostFile("err");
  const std::string status = folder.scratch().HostFile("exit");
  StartShell("env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + screen().display() + DesktopLibraries() +
                 Quote(folder.HostFile("Apexpick")) + " 2>" + Quote(err),
             status);
  const std::string window = screen().FindWindow("Apexgrid");
  ASSERT_FALSE(window.empty()) << ReadText(err);
  // The device screen at the game window's scale: the largest whole one that fits 800 x 700.
  const WindowPlace place = screen().PlaceOf(window);
  ASSERT_NE(place.geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << place.geometry;
  const int left = place.left, top = place.top;

  const DialogGeometry g = LayOutDialog(240, 320);
  const int lineX = g.list.x + 20, lineY = g.list.y + 1 + kListLineHeight + kListLineHeight / 2;
  screen().Xdo("mousemove --window " + window + " " + std::to_string(lineX * 2 + 1) + " " +
               std::to_string(lineY * 2 + 1) + " click 1");

  // The second line turns navy, on the screen, in whole device pixels twice the size.
  const int rightEdge = (g.list.Right() - 2 - kScrollBarWidth) * 2;
  const ScreenRgb navy{0, 0, 132}, white{255, 255, 255};
  ScreenDump dump;
  bool seen = false;
  for (int tries = 0; tries < 100 && !seen; ++tries) {
    seen = dump.Read(screen().ScreenFile()) && dump.Shows(left + rightEdge - 2, top + lineY * 2, navy);
    if (!seen) Pause(50);
  }
  ASSERT_TRUE(seen) << "the click did not select the line";
  EXPECT_TRUE(dump.Shows(left + rightEdge - 2, top + (lineY - kListLineHeight) * 2, white));
  EXPECT_TRUE(dump.Shows(left + g.caption.x * 2 + 100, top + g.caption.y * 2 + 1, navy));
  // For a person to look at: APEXGRID_SHOT_FOLDER=DIR keeps the screen as DIR/apexpick-window.png.
  if (const char* keep = std::getenv("APEXGRID_SHOT_FOLDER")) {
    WritePng(std::string(keep) + "/apexpick-window.png", dump.Image());
  }

  screen().Xdo("mousemove --window " + window + " " + std::to_string((g.start.x + 10) * 2) + " " +
               std::to_string((g.start.y + 10) * 2) + " click 1");
  ASSERT_TRUE(WaitForText(status, "\n")) << ReadText(err);
  EXPECT_EQ(ReadText(status), "0\n") << ReadText(err);
  ASSERT_TRUE(WaitForText(started, "|"));
  EXPECT_EQ(ReadText(started), "1|" + folder.Device() + "\\Circuits\\" + folder.CircuitFiles().at(1));
}
