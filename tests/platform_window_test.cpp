// The SDL backend for real: the small windowed program on a virtual X server, driven with
// xdotool, its window read back from the server's frame buffer file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support.h"

namespace {

const std::string kFake = APEXGRID_FAKE_PROGRAM;

// A settings file's lines, without its heading comment.
std::string SettingsOf(const std::string& path) {
  std::string kept;
  for (const std::string& line : LinesOf(ReadText(path))) {
    if (!line.empty() && line[0] != '#') kept += line + "\n";
  }
  return kept;
}

class SdlWindow : public WindowTest {
 protected:
  TempFolder folder_;
};

}  // namespace

TEST_F(SdlWindow, PenKeysFocusAndTheScreenGoThroughARealWindow) {
  const std::string err = folder_.HostFile("err");
  StartShell("env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + screen().display() + "APEXGRID_INSTANCE=" +
                 Quote(folder_.host()) + " FAKE_COLOUR=F800 " + DesktopLibraries() + Quote(kFake) + " 2>" + Quote(err),
             folder_.HostFile("status"));
  ASSERT_TRUE(WaitForText(err, "STARTED UP")) << ReadText(err);

  const std::string window = screen().FindWindow("Fake");
  ASSERT_FALSE(window.empty());
  // The largest whole scale that fits 800 x 700 with room for a title bar is 2.
  const WindowPlace place = screen().PlaceOf(window);
  EXPECT_NE(place.geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << place.geometry;
  const int left = place.left, top = place.top;

  // A tap at device (10, 20); a drag from (20, 20) to (40, 30); moving without the button
  // held is no pen move.
  screen().Xdo("mousemove --window " + window + " 21 41 click 1");
  screen().Xdo("mousemove --window " + window + " 41 41 mousedown 1 mousemove --window " + window +
               " 81 61 mouseup 1 mousemove --window " + window + " 101 101");
  screen().Xdo("windowfocus --sync " + window);
  screen().Xdo("key Up");
  ASSERT_TRUE(WaitForText(err, "GOT WM_KEYDOWN 38 1"));
  const std::string said = ReadText(err);
  const std::string events[] = {
      "GOT WM_LBUTTONDOWN 1 1310730", "GOT WM_LBUTTONUP 0 1310730", "GOT WM_LBUTTONDOWN 1 1310740",
      "GOT WM_MOUSEMOVE 1 1966120",   "GOT WM_LBUTTONUP 0 1966120", "GOT WM_KEYDOWN 38 1",
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
  ScreenDump dump;
  const ScreenRgb red{255, 0, 0}, white{255, 255, 255};
  bool seen = false;
  for (int tries = 0; tries < 100 && !seen; ++tries) {
    seen = dump.Read(screen().ScreenFile()) && dump.Shows(left + 20, top + 40, white) &&
           dump.Shows(left + 40, top + 40, white);
    if (!seen) Pause(50);
  }
  ASSERT_TRUE(seen) << "the taps did not reach the screen";
  EXPECT_TRUE(dump.Shows(left + 18, top + 38, white));
  EXPECT_TRUE(dump.Shows(left + 23, top + 43, white));
  EXPECT_TRUE(dump.Shows(left + 24, top + 44, red));
  EXPECT_TRUE(dump.Shows(left + 17, top + 40, red));
  EXPECT_TRUE(dump.Shows(left, top, red));
  EXPECT_TRUE(dump.Shows(left + 479, top + 639, red));
  EXPECT_FALSE(dump.Shows(left - 1, top, red)) << "the window is exactly the screen";

  // A second copy doesn't open a window of its own.
  const int second =
      std::system(("env -u APEXGRID_VIDEO " + screen().display() + "APEXGRID_INSTANCE=" + Quote(folder_.host()) +
                   " FAKE_SECOND=1 " + DesktopLibraries() + Quote(kFake) + " 2>" + Quote(folder_.HostFile("second")))
                      .c_str());
  EXPECT_EQ(second, 0);
  EXPECT_NE(ReadText(folder_.HostFile("second")).find("SECOND COPY"), std::string::npos);

  // The start key makes the program close itself; the loop ends normally.
  screen().Xdo("windowfocus --sync " + window);
  screen().Xdo("key Return");
  ASSERT_TRUE(WaitForText(err, "LOOP ENDED 0")) << ReadText(err);
  WaitForText(folder_.HostFile("status"), "\n", 10000);
  EXPECT_EQ(ReadText(folder_.HostFile("status")), "0\n") << ReadText(err);
}

// The window at other sizes, on a desktop with a window manager: the screen sits centred at the
// largest whole scale that fits, a click lands on the device pixel under it, a click on the black
// margin touches nothing, F11 switches full screen, and the next start comes back as left.
TEST_F(SdlWindow, AtEverySizeThePenFindsItsPixelAndTheWindowIsRemembered) {
  if (!screen().StartWindowManager()) GTEST_SKIP() << "openbox is not installed";
  const std::string err = folder_.HostFile("err");
  const std::string settings = folder_.HostFile("window.txt");
  const std::string run = "env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + screen().display() +
                          "APEXGRID_INSTANCE=" + Quote(folder_.host()) + " FAKE_SETTINGS=" + Quote(settings) + " " +
                          DesktopLibraries() + Quote(kFake) + " 2>>" + Quote(err);
  StartShell(run, folder_.HostFile("status"));
  ASSERT_TRUE(WaitForText(err, "STARTED UP")) << ReadText(err);
  const std::string window = screen().FindWindow("Fake");
  ASSERT_FALSE(window.empty());
  EXPECT_NE(screen().Xdo("search --classname apexgrid").find(window), std::string::npos)
      << "the window's class is the application's id";

  // Each click is followed by a key, so that the log shows what the click did before the key.
  int keys = 0;
  auto clickThenKey = [&](const std::string& where) {
    screen().Xdo("mousemove " + where + " click 1");
    screen().Xdo("key Up");
    ++keys;
    return WaitForText(err, "GOT WM_KEYDOWN 38 1", 20000, keys);
  };
  auto sizeIs = [&](const std::string& size) {
    for (int tries = 0; tries < 100; ++tries) {
      if (screen().PlaceOf(window).geometry.find(size) != std::string::npos) return true;
      Pause(50);
    }
    return false;
  };
  struct Click {
    const char* what;
    int windowX, windowY;  // where the mouse clicks, in the window
    const char* heard;     // the tap's line, or null for none
  };
  auto clicks = [&](const std::vector<Click>& list) {
    for (const Click& c : list) {
      const size_t before = ReadText(err).size();
      ASSERT_TRUE(
          clickThenKey("--window " + window + " " + std::to_string(c.windowX) + " " + std::to_string(c.windowY)))
          << c.what;
      const std::string said = ReadText(err).substr(before);
      if (c.heard != nullptr) {
        EXPECT_NE(said.find(c.heard), std::string::npos) << c.what << ":\n" << said;
      } else {
        EXPECT_EQ(said.find("WM_LBUTTON"), std::string::npos) << c.what << ":\n" << said;
      }
    }
  };

  // 300 x 400 holds the screen once, at (30, 40); 1 is remembered.
  screen().Xdo("windowsize " + window + " 300 400");
  ASSERT_TRUE(sizeIs("WIDTH=300\nHEIGHT=400"));
  clicks({{"device (100, 200)", 130, 240, "GOT WM_LBUTTONDOWN 1 13107300"},
          {"device (239, 319)", 269, 359, "GOT WM_LBUTTONDOWN 1 20906223"},
          {"left margin", 29, 100, nullptr},
          {"bottom margin", 100, 360, nullptr}});
  EXPECT_EQ(SettingsOf(settings), "scale = 1\nfull-screen = 0\n");

  // Full screen on the 800 x 700 desktop: scale 2 at (160, 30).
  screen().Xdo("windowfocus --sync " + window);
  screen().Xdo("key F11");
  ASSERT_TRUE(sizeIs("WIDTH=800\nHEIGHT=700")) << screen().PlaceOf(window).geometry;
  clicks({{"device (10, 20) in full screen", 181, 71, "GOT WM_LBUTTONDOWN 1 1310730"},
          {"device (0, 0) in full screen", 160, 30, "GOT WM_LBUTTONDOWN 1 0"},
          {"margin in full screen", 159, 400, nullptr}});
  EXPECT_EQ(Count(ReadText(err), "GOT WM_KEYDOWN"), keys) << "F11 is the window's own key";
  EXPECT_EQ(SettingsOf(settings), "scale = 1\nfull-screen = 1\n");

  // Closed in full screen, the next start is full screen too, and F11 gives back the window at
  // the remembered scale.
  screen().Xdo("key Return");
  ASSERT_TRUE(WaitForText(err, "LOOP ENDED 0")) << ReadText(err);
  WaitForText(folder_.HostFile("status"), "\n", 10000);
  StartShell(run, folder_.HostFile("status2"));
  ASSERT_TRUE(WaitForText(err, "STARTED UP", 20000, 2)) << ReadText(err);
  const std::string again = screen().FindWindow("Fake");
  ASSERT_FALSE(again.empty());
  for (int tries = 0;
       tries < 100 && screen().PlaceOf(again).geometry.find("WIDTH=800\nHEIGHT=700") == std::string::npos; ++tries) {
    Pause(50);
  }
  EXPECT_NE(screen().PlaceOf(again).geometry.find("WIDTH=800\nHEIGHT=700"), std::string::npos);
  screen().Xdo("windowfocus --sync " + again);
  screen().Xdo("key F11");
  bool windowed = false;
  for (int tries = 0; tries < 100 && !windowed; ++tries) {
    windowed = screen().PlaceOf(again).geometry.find("WIDTH=240\nHEIGHT=320") != std::string::npos;
    if (!windowed) Pause(50);
  }
  EXPECT_TRUE(windowed) << screen().PlaceOf(again).geometry;
  EXPECT_EQ(SettingsOf(settings), "scale = 1\nfull-screen = 0\n");
  screen().Xdo("key Return");
  ASSERT_TRUE(WaitForText(err, "LOOP ENDED 0", 20000, 2)) << ReadText(err);
}
