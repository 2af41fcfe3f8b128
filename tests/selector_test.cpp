// Apexpick's dialog logic without a window: the circuit list, the selection, what Start runs,
// and the handlers, on real folders.
#include "selector/selector.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "selector/dialog_layout.h"
#include "tests/support.h"

namespace {

std::u16string Wide(const std::string& text) { return FromUtf8(text); }

// The circuit files the file system lists, in its order, that the dialog should show.
std::vector<std::string> Listed(const ProgramFolder& folder, const std::vector<std::string>& shown) {
  std::vector<std::string> order;
  for (const std::string& name : folder.CircuitFiles()) {
    for (const std::string& s : shown) {
      if (s == name) order.push_back(name);
    }
  }
  return order;
}

}  // namespace

TEST(CircuitList, ShowsCircuitFilesWithoutTheirExtensionInFileSystemOrder) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::vector<std::string> shown;          // the files that must be listed, in any order here
    std::vector<std::u16string> lines = {};  // their list lines, where not the name as it stands
    std::vector<std::string> fifos = {};
  };
  const Case cases[] = {
      {"either case of the extension; folders, FIFOs and other names left out",
       {"Ring.cct", "oval.CCT", "notes.txt", "Ring.cct.bak", "a.cctx", "cct"},
       {"x.cct"},
       {"Ring.cct", "oval.CCT"},
       {},
       {"pipe.cct"}},
      {"names as they stand",
       {"My Ring.cct", "Okruh \xc4\x8c\xc3\xa1slav.Cct", ".cct", "A##B %s.cct"},
       {},
       {"My Ring.cct", "Okruh \xc4\x8c\xc3\xa1slav.Cct", ".cct", "A##B %s.cct"}},
      {"a backslash and a byte that isn't UTF-8 show as U+FFFD, the table keeps them",
       {"my\\race.cct", "Cr\xEAte.cct"},
       {},
       {"my\\race.cct", "Cr\xEAte.cct"},
       {u"my\uFFFDrace", u"Cr\uFFFDte"}},
      {"an empty folder", {}, {}, {}},
  };
  for (const Case& c : cases) {
    ProgramFolder folder;
    for (const std::string& f : c.files) folder.AddCircuit(f);
    for (const std::string& d : c.folders) std::filesystem::create_directory(folder.HostFile("Circuits/" + d));
    for (const std::string& f : c.fifos) ASSERT_EQ(mkfifo(folder.HostFile("Circuits/" + f).c_str(), 0600), 0);
    SelectorDialog dialog;
    dialog.selected = 3;
    InitSelectorDialog(&dialog, Wide(folder.Device()));

    const std::vector<std::string> order = Listed(folder, c.shown);
    ASSERT_EQ(order.size(), c.shown.size()) << c.what;
    ASSERT_EQ(dialog.table.circuitCount, static_cast<int>(order.size())) << c.what;
    ASSERT_EQ(dialog.listLines.size(), order.size()) << c.what;
    for (size_t i = 0; i < order.size(); ++i) {
      const size_t at = static_cast<size_t>(std::find(c.shown.begin(), c.shown.end(), order[i]) - c.shown.begin());
      const std::u16string line = c.lines.empty() ? Wide(order[i].substr(0, order[i].size() - 4)) : c.lines[at];
      EXPECT_EQ(dialog.listLines[i], line) << c.what;
      EXPECT_EQ(HostPath(dialog.table.entries[i]), folder.HostFile("Circuits/" + order[i])) << c.what;
    }
    EXPECT_EQ(dialog.selected, -1) << c.what << ": nothing is selected at first";
    EXPECT_FALSE(dialog.table.moreThanListed) << c.what;
  }
}

TEST(CircuitList, FollowsLinksToFilesButNotToFolders) {
  ProgramFolder folder;
  folder.AddCircuit("Ring.cct");
  std::filesystem::create_directory(folder.HostFile("elsewhere"));
  std::filesystem::create_directory_symlink(folder.HostFile("elsewhere"), folder.HostFile("Circuits/dir.cct"));
  std::filesystem::create_symlink(folder.HostFile("Circuits/Ring.cct"), folder.HostFile("Circuits/Link.cct"));
  SelectorDialog dialog;
  InitSelectorDialog(&dialog, Wide(folder.Device()));
  const std::vector<std::string> order = Listed(folder, {"Ring.cct", "Link.cct"});
  ASSERT_EQ(dialog.listLines.size(), 2u);
  EXPECT_EQ(dialog.listLines[0], Wide(order[0].substr(0, order[0].size() - 4)));
  EXPECT_EQ(dialog.listLines[1], Wide(order[1].substr(0, order[1].size() - 4)));
}

TEST(CircuitList, IsEmptyWithoutACircuitsFolder) {
  ProgramFolder folder;
  std::filesystem::remove(folder.HostFile("Circuits"));
  SelectorDialog dialog;
  InitSelectorDialog(&dialog, Wide(folder.Device()));
  EXPECT_EQ(dialog.table.circuitCount, 0);
  EXPECT_TRUE(dialog.listLines.empty());
  GameStart start;
  EXPECT_FALSE(ChooseGameStart(dialog, &start));
}

TEST(CircuitList, HoldsAtMostTheTableAndSaysWhenThereWereMore) {
  struct Case {
    int files;
    int listed;
    bool more;
  };
  const Case cases[] = {{999, 999, false}, {1000, 1000, false}, {1001, 1000, true}, {1200, 1000, true}};
  for (const Case& c : cases) {
    ProgramFolder folder;
    for (int i = 0; i < c.files; ++i) folder.AddCircuit("c" + std::to_string(i) + ".cct");
    SelectorDialog dialog;
    InitSelectorDialog(&dialog, Wide(folder.Device()));
    EXPECT_EQ(dialog.table.circuitCount, c.listed) << c.files;
    EXPECT_EQ(static_cast<int>(dialog.listLines.size()), c.listed) << c.files;
    EXPECT_EQ(dialog.table.moreThanListed, c.more) << c.files;
    // The last entry listed is the file the file system gave in that place.
    const std::vector<std::string> files = folder.CircuitFiles();
    EXPECT_EQ(dialog.table.entries[c.listed - 1],
              Wide(folder.Device() + "\\Circuits\\" + files[static_cast<size_t>(c.listed - 1)]));
    EXPECT_EQ(SelectLine(&dialog, c.listed - 1), 0);
    EXPECT_EQ(SelectLine(&dialog, c.listed), 1) << "no line beyond the table";
  }
}

TEST(Selection, ChangesOnlyToALineThatExists) {
  SelectorDialog dialog;
  dialog.listLines = {u"a", u"b", u"c"};
  dialog.table.circuitCount = 3;
  struct Step {
    const char* what;
    int line;    // SelectLine(line) when step is 0
    int step;    // else MoveSelection(step)
    int result;  // of SelectLine
    int selected;
  };
  const Step steps[] = {
      {"before the first line", -1, 0, 1, -1},
      {"after the last", 3, 0, 1, -1},
      {"down from nothing takes the first", 0, 1, 0, 0},
      {"up at the top stays", 0, -1, 0, 0},
      {"down", 0, 1, 0, 1},
      {"a line", 2, 0, 0, 2},
      {"down at the bottom stays", 0, 1, 0, 2},
      {"up", 0, -1, 0, 1},
      {"still refused with a selection", 7, 0, 1, 1},
  };
  for (const Step& s : steps) {
    dialog.revealSelection = false;
    if (s.step == 0) {
      EXPECT_EQ(SelectLine(&dialog, s.line), s.result) << s.what;
    } else {
      MoveSelection(&dialog, s.step);
    }
    EXPECT_EQ(dialog.selected, s.selected) << s.what;
    EXPECT_EQ(dialog.revealSelection, s.result == 0) << s.what;
  }
  SelectorDialog none;
  MoveSelection(&none, 1);
  EXPECT_EQ(none.selected, -1) << "an empty list has nothing to select";
}

TEST(GameStart, IsTheGameBesideTheSelectorWithTheCircuitPathAsItsWholeCommandLine) {
  struct Case {
    std::u16string folder;
    std::u16string program;
  };
  const Case cases[] = {
      {u"\\Program Files\\Game", u"\\Program Files\\Game\\Apexgrid.exe"},
      {u"", u"\\Apexgrid.exe"},  // the selector in the root folder
  };
  for (const Case& c : cases) {
    SelectorDialog dialog;
    dialog.programFolder = c.folder;
    dialog.listLines = {u"Ring", u"oval"};
    dialog.table.circuitCount = 2;
    dialog.table.entries[0] = c.folder + u"\\Circuits\\Ring.cct";
    dialog.table.entries[1] = c.folder + u"\\Circuits\\oval.CCT";
    GameStart start;
    EXPECT_FALSE(ChooseGameStart(dialog, &start)) << "nothing selected";
    SelectLine(&dialog, 1);
    ASSERT_TRUE(ChooseGameStart(dialog, &start));
    EXPECT_EQ(start.program, c.program);
    EXPECT_EQ(start.commandLine, c.folder + u"\\Circuits\\oval.CCT") << "unquoted, spaces and all";
  }
}

// The dialog's resource places its controls in dialog units; on the device screen they must keep
// their arrangement: inside the dialog, the buttons side by side under the list and flush with
// its right edge, the dialog centred.
TEST(Layout, KeepsTheDialogsArrangementOnTheDeviceScreen) {
  const DialogGeometry g = LayOutDialog(240, 320);
  EXPECT_EQ(g.client.width, 209);
  EXPECT_EQ(g.client.height, 239);
  EXPECT_LE(std::abs(g.frame.x - (240 - g.frame.Right())), 1) << "centred across";
  EXPECT_LE(std::abs(g.frame.y - (320 - g.frame.Bottom())), 1) << "centred down";
  for (const PixelRect& r : {g.label, g.list, g.start, g.storno}) {
    EXPECT_TRUE(g.client.Contains(r.x, r.y) && g.client.Contains(r.Right() - 1, r.Bottom() - 1));
  }
  EXPECT_TRUE(g.caption.Contains(g.okButton.x, g.okButton.y) &&
              g.caption.Contains(g.okButton.Right() - 1, g.okButton.Bottom() - 1));
  EXPECT_EQ(g.start.Right(), g.list.Right());
  EXPECT_EQ(g.start.y, g.storno.y);
  EXPECT_LT(g.storno.Right(), g.start.x);
  EXPECT_GT(g.start.y, g.list.Bottom());
  EXPECT_EQ(g.label.x, g.list.x);
  EXPECT_LE(g.label.Bottom(), g.list.y);
  EXPECT_GE(g.list.height - 2, 13 * kListLineHeight) << "room for thirteen lines";
}
