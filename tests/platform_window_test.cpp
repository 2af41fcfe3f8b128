// The SDL backend for real: the small windowed program on a virtual X server, driven with
// xdotool, its window read back from the server's frame buffer file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support.h"

namespace {

const std::string kFake = APEXGRID_FAKE_PROGRAM;

class SdlWindow : public WindowTest {
 protected:
  TempFolder folder_;
};

}  // namespace

TEST_F(SdlWindow, PenKeysFocusAndTheScreenGoThroughARealWindow) {
  const std::string err = folder_.HostFile("err");
  StartShell("env -u APEXGRID_VIDEO -u APEXGRID_SCALE -u SDL_VIDEODRIVER " + screen().display() +
                 "APEXGRID_INSTANCE=" + Quote(folder_.host()) + " FAKE_COLOUR=F800 " + DesktopLibraries() +
                 Quote(kFake) + " 2>" + Quote(err),
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
  const int second = std::system(("env -u APEXGRID_VIDEO " + screen().display() + "APEXGRID_INSTANCE=" +
                                  Quote(folder_.host()) + " FAKE_SECOND=1 " + DesktopLibraries() + Quote(kFake) +
                                  " 2>" + Quote(folder_.HostFile("second")))
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
