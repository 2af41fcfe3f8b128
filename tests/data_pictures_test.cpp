// The data pictures as the game loads them: their sizes, the rectangles the game copies out of
// them, the tap regions their buttons must lie in, and the looks that are copied over each other.
#include "tools/data_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "gfx/colour.h"
#include "gfx/picture.h"
#include "tests/support.h"
#include "tools/picture_layout.h"
#include "tools/tool_error.h"

namespace {

// A rectangle of a picture: left, top, right, bottom, right and bottom exclusive.
struct Rect {
  int left, top, right, bottom;
};

// Draws every data picture into one temporary folder, once for all tests of this program, and
// loads them with the game's own loader.
class DataPictures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder;
    layouts_ = new std::vector<PictureLayout>(ReadPictureLayouts(APEXGRID_SOURCE_DIR "/assets/pictures.txt"));
    WriteDataPictures(*layouts_, APEXGRID_FONT_FOLDER, folder_->host());
  }
  static void TearDownTestSuite() {
    delete layouts_;
    delete folder_;
  }

  static const Picture& Load(const std::string& file) {
    static std::map<std::string, std::unique_ptr<Picture>> loaded;
    auto& p = loaded[file];
    if (!p) {
      p = std::make_unique<Picture>();
      LoadPicture(*p, folder_->File(file));
    }
    return *p;
  }
  static const PictureLayout& Layout(const std::string& file) {
    for (const PictureLayout& l : *layouts_) {
      if (l.file == file) return l;
    }
    throw ToolError("no layout for " + file);
  }
  static uint16_t Pixel(const Picture& p, int x, int y) { return p.pixels[y * p.yStep + x * p.xStep]; }

  // Columns (or rows) where the two rectangles' pixels differ, as a mask over the first one.
  static std::vector<std::vector<bool>> Differences(const Picture& p, Rect a, int dx, int dy) {
    std::vector<std::vector<bool>> diff(a.bottom - a.top, std::vector<bool>(a.right - a.left));
    for (int y = a.top; y < a.bottom; ++y) {
      for (int x = a.left; x < a.right; ++x) {
        diff[y - a.top][x - a.left] = Pixel(p, x, y) != Pixel(p, x + dx, y + dy);
      }
    }
    return diff;
  }

  static TempFolder* folder_;
  static std::vector<PictureLayout>* layouts_;
};

TempFolder* DataPictures::folder_ = nullptr;
std::vector<PictureLayout>* DataPictures::layouts_ = nullptr;

}  // namespace

TEST_F(DataPictures, EachHasItsSizeAndHoldsEveryRectangleTheGameCopies) {
  struct Case {
    const char* file;
    int width, height;
    std::vector<Rect> copied;
  };
  std::vector<Rect> countBands;
  for (int n = 1; n <= 8; ++n) countBands.push_back({0, 206 + 19 * n, 70, 225 + 19 * n});
  const Case cases[] = {
      {"MenuBar.pic",
       240,
       40,
       {{0, 0, 240, 20}, {0, 20, 65, 40}, {126, 20, 150, 40}, {152, 20, 178, 40}, {180, 20, 204, 40}}},
      {"GoButton.pic", 20, 40, {{0, 0, 20, 20}, {0, 20, 20, 40}}},
      {"Menu.pic", 140, 600, {{0, 0, 140, 300}, {0, 527, 140, 553}}},
      {"SubMenu_NPlayer.pic", 70, 400, countBands},
      {"GameData.dat", 240, 320, {{0, 0, 240, 320}}},
  };
  for (const Case& c : cases) {
    const Picture& p = Load(c.file);
    ASSERT_NE(p.pixels, nullptr) << c.file;
    EXPECT_EQ(p.width, static_cast<uint32_t>(c.width)) << c.file;
    EXPECT_EQ(p.height, static_cast<uint32_t>(c.height)) << c.file;
    for (const Rect& r : c.copied) {
      EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= static_cast<int>(p.width) &&
                  r.bottom <= static_cast<int>(p.height))
          << c.file << " rows " << r.top << "-" << r.bottom;
    }
  }
  const Picture& digits = Load("Numbers-CourierNew14.pic");
  ASSERT_NE(digits.pixels, nullptr);
  EXPECT_EQ(digits.width % 10, 0u);
  EXPECT_LE(digits.height, 11u) << "the two round counters, at rows 2 and 13, would overlap";
}

TEST_F(DataPictures, EveryButtonAndEntryLiesWhereItsTapsLand) {
  // Picture columns (bar) or rows (panels), both ends included, where the game takes the taps:
  // the screen regions translated into each picture.
  struct Tap {
    const char* file;
    const char* kind;
    const char* name;
    int first, last;
  };
  const Tap taps[] = {
      {"MenuBar.pic", "button", "menu", 0, 60},       {"MenuBar.pic", "button", "record", 127, 149},
      {"MenuBar.pic", "button", "aim", 153, 177},     {"MenuBar.pic", "button", "outline", 181, 201},
      {"MenuBar.pic", "button", "desktop", 211, 239}, {"Menu.pic", "entry", "title", 180, 202},
      {"Menu.pic", "entry", "circuit", 204, 226},     {"Menu.pic", "entry", "players", 228, 249},
      {"Menu.pic", "entry", "newrace", 249, 275},     {"Menu.pic", "entry", "quit", 275, 299},
      {"GoButton.pic", "button", "go", 0, 19},
  };
  for (const Tap& t : taps) {
    const LayoutElement* e = Layout(t.file).Find(t.kind, t.name);
    ASSERT_NE(e, nullptr) << t.file << " " << t.name;
    EXPECT_GE(e->first, t.first) << t.file << " " << t.name;
    EXPECT_LE(e->last, t.last) << t.file << " " << t.name;
  }
  // The count bands of the submenu: taps at screen rows 76 + 19i to 93 + 19i, the panel at row 50.
  for (int i = 0; i < 8; ++i) {
    const LayoutElement* band = Layout("SubMenu_NPlayer.pic").Find("band", std::to_string(i + 1));
    ASSERT_NE(band, nullptr) << i + 1;
    EXPECT_GE(band->first, 26 + 19 * i);
    EXPECT_LE(band->last, 43 + 19 * i);
  }
  // Menu entries must not share rows, so that each looks like the one its taps choose.
  const PictureLayout& menu = Layout("Menu.pic");
  for (size_t i = 0; i + 1 < menu.elements.size(); ++i) {
    if (menu.elements[i].kind == "entry" && menu.elements[i + 1].kind == "entry") {
      EXPECT_LT(menu.elements[i].last, menu.elements[i + 1].first) << menu.elements[i].name;
    }
  }
}

TEST_F(DataPictures, SwitchedOnLooksChangeOnlyTheirOwnButtonOrEntry) {
  // The game copies the second look of one element over the first; anything else that differs
  // inside the copied rectangle would show as a stray piece of a neighbour.
  const Picture& bar = Load("MenuBar.pic");
  const struct {
    int left, right;  // right exclusive
  } barButtons[] = {{0, 65}, {126, 150}, {152, 178}, {180, 204}, {211, 240}};
  const auto barDiff = Differences(bar, {0, 0, 240, 20}, 0, 20);
  for (int x = 0; x < 240; ++x) {
    bool inButton = false;
    for (const auto& b : barButtons) inButton = inButton || (x >= b.left && x < b.right);
    bool differs = false;
    for (int y = 0; y < 20; ++y) differs = differs || barDiff[y][x];
    if (!inButton) {
      EXPECT_FALSE(differs) << "menu bar column " << x << " changes between its looks";
    }
  }
  for (const auto& b : barButtons) {
    int changed = 0;
    for (int y = 0; y < 20; ++y) {
      for (int x = b.left; x < b.right; ++x) changed += barDiff[y][x];
    }
    EXPECT_GT(changed, 100) << "the button at column " << b.left << " has no switched-on look";
  }

  // The highlighted players entry: rows 527-552 over screen rows 227-252.
  const Picture& menu = Load("Menu.pic");
  const auto menuDiff = Differences(menu, {0, 227, 140, 253}, 0, 300);
  int menuChanged = 0;
  for (int row = 227; row < 253; ++row) {
    for (int x = 0; x < 140; ++x) {
      if (!menuDiff[row - 227][x]) continue;
      ++menuChanged;
      EXPECT_TRUE(row >= 228 && row <= 249) << "menu row " << row << " changes outside the players entry";
    }
  }
  EXPECT_GT(menuChanged, 500);

  // Each highlighted count n: rows 206 + 19n to 224 + 19n over panel rows 6 + 19n to 24 + 19n.
  const Picture& sub = Load("SubMenu_NPlayer.pic");
  for (int n = 1; n <= 8; ++n) {
    const int top = 6 + 19 * n;
    const auto diff = Differences(sub, {0, top, 70, top + 19}, 0, 200);
    int changed = 0;
    for (int row = top; row < top + 19; ++row) {
      for (int x = 0; x < 70; ++x) {
        if (!diff[row - top][x]) continue;
        ++changed;
        EXPECT_TRUE(row >= 26 + 19 * (n - 1) && row <= 43 + 19 * (n - 1))
            << "count " << n << ": row " << row << " changes outside its band";
      }
    }
    EXPECT_GT(changed, 300) << "count " << n << " has no highlighted look";
  }

  const Picture& go = Load("GoButton.pic");
  const auto goDiff = Differences(go, {0, 0, 20, 20}, 0, 20);
  int goChanged = 0;
  for (const auto& row : goDiff) goChanged += static_cast<int>(std::count(row.begin(), row.end(), true));
  EXPECT_GT(goChanged, 100) << "the pressed Go button looks like the unpressed one";
}

TEST_F(DataPictures, DigitsAreDarkWithALightRimOnTheTransparentKey) {
  const Picture& digits = Load("Numbers-CourierNew14.pic");
  ASSERT_NE(digits.pixels, nullptr);
  const uint16_t key = MakeColour(31, 0, 31);
  ASSERT_EQ(key, 0xF81F);
  const int cell = static_cast<int>(digits.width) / 10;
  const int h = static_cast<int>(digits.height);
  auto brightness = [](uint16_t p) {
    uint16_t r, g, b;
    SplitColour(p, &r, &g, &b);
    return (r / 31.0 + g / 63.0 + b / 31.0) / 3;
  };
  std::vector<std::vector<uint16_t>> glyphs;
  for (int d = 0; d < 10; ++d) {
    int dark = 0, light = 0, clear = 0;
    std::vector<uint16_t> glyph;
    for (int y = 0; y < h; ++y) {
      for (int x = d * cell; x < (d + 1) * cell; ++x) {
        const uint16_t p = Pixel(digits, x, y);
        glyph.push_back(p);
        if (p == key) {
          ++clear;
          continue;
        }
        if (brightness(p) > 0.8) ++light;
        if (brightness(p) >= 0.5) continue;
        ++dark;
        // A dark pixel never touches the key, nor the edge of its cell: the rim goes all round.
        ASSERT_TRUE(x > d * cell && x < (d + 1) * cell - 1 && y > 0 && y < h - 1)
            << "digit " << d << " touches its cell's edge at " << x << "," << y;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            EXPECT_NE(Pixel(digits, x + dx, y + dy), key) << "digit " << d << " has no rim at " << x << "," << y;
          }
        }
      }
    }
    EXPECT_GT(dark, 8) << "digit " << d;
    EXPECT_GT(light, 8) << "digit " << d;
    EXPECT_GT(clear, 10) << "digit " << d;
    for (const auto& other : glyphs) EXPECT_NE(glyph, other) << "digit " << d << " repeats another";
    glyphs.push_back(glyph);
  }
}

TEST(PictureLayoutFile, ReportsTheLineOfAnythingItCantUse) {
  TempFolder folder;
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"button menu 0 60\n", "line 1: 'button' before any picture"},
      {"picture A.pic 20 40\nhalves 15\n", "line 2: two looks of 15 rows"},
      {"picture A.pic 20 40\nbutton go 0 20\n", "line 2: go (0 to 20) doesn't fit the picture's 20 columns"},
      {"picture A.pic 20 40\nhalves 20\nentry go 5 20\n", "line 3: go (5 to 20) doesn't fit the picture's 20 rows"},
      {"picture A.pic 20 40\nbutton go 0 x\n", "line 2: 'x' is not a whole number"},
      {"picture A.pic 20 40\nbutton go 0 5 \"GO\n", "line 2: a text has no closing quote"},
      {"picture A.pic 0 40\n", "line 1: a picture's size must be"},
  };
  for (const auto& c : cases) {
    WriteBytes(folder.HostFile("layout.txt"), Bytes(c.text, c.text + std::strlen(c.text)));
    try {
      ReadPictureLayouts(folder.HostFile("layout.txt"));
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}
