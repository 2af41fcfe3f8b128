// The loop between the two programs, with real processes in a program folder of their own: the
// game without a circuit starts the selector, the selector starts the game on the chosen circuit,
// and the game remembers that circuit in the last-circuit file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "data/folder.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support.h"

namespace {

const std::string kGame = APEXGRID_GAME_PROGRAM;
const std::string kSelector = APEXGRID_SELECTOR_PROGRAM;
const std::string kBuildFolder = APEXGRID_BUILD_FOLDER;

std::string HostLiteral(const char16_t* literal) {
  std::string path = ToUtf8(literal);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

Bytes Utf16(const std::u16string& text) {
  Bytes bytes;
  for (char16_t c : text) AppendU16(bytes, c);
  return bytes;
}

}  // namespace

// Odd names go the whole way too: a "\\" in a name (the program folder's and the circuit's), and
// a Latin-1 name that isn't UTF-8. The game remembers them, and a start without a command line
// plays them again.
TEST(TheLoop, TheGameWithoutACircuitHandsOverToTheSelectorAndBackOnTheChosenOne) {
  struct Case {
    const char* folder;
    const char* circuit;
  };
  for (const Case& c :
       {Case{"My Games", "First Race.cct"}, Case{"we\\ird", "my\\race.cct"}, Case{"My Games", "Cr\xEAte.cct"}}) {
    SCOPED_TRACE(c.circuit);
    ProgramFolder folder(c.folder);
    folder.AddProgram(kGame, "Apexgrid");
    folder.AddProgram(kSelector, "Apexpick");
    std::filesystem::create_directory(folder.HostFile("Data"));
    for (const char16_t* picture : {kMenuBarFile, kGoButtonFile, kMenuFile, kSubMenuFile, kTitleFile, kDigitsFile}) {
      std::filesystem::copy_file(kBuildFolder + HostLiteral(picture), folder.host() + HostLiteral(picture));
    }
    std::filesystem::copy_file(kBuildFolder + "/Circuits/1-First-Race.cct",
                               folder.HostFile(std::string("Circuits/") + c.circuit));
    ASSERT_FALSE(FileExists(folder.HostFile("Data/lastmap.dat")));

    // Only the selector has a script: it picks the first line and presses Start. Each game runs
    // until its (empty) script is over. Every program of the chain writes into the pipe, so cat
    // ends when the last of them has ended.
    const std::string script = folder.scratch().HostFile("selector script");
    WriteText(script, "select 0\nstart\n");
    const std::string err = folder.scratch().HostFile("err");
    const std::string chain =
        "env -u APEXGRID_SCRIPT -u APEXGRID_SCRIPT_Apexgrid APEXGRID_VIDEO=headless "
        "APEXGRID_START=run APEXGRID_INSTANCE=" +
        Quote(folder.host()) + " " + LeakSuppressions() + "APEXGRID_SCRIPT_Apexpick=" + Quote(script) + " " +
        Quote(folder.HostFile("Apexgrid"));
    RunShell("{ " + chain + " 2>&1 >/dev/null; echo EXIT $?; } | cat >" + Quote(err), folder.scratch());

    const std::vector<std::string> lines = LinesOf(ReadText(err));
    const std::u16string path = DevicePath(folder.HostFile(std::string("Circuits/") + c.circuit));
    const std::vector<std::string> starts{
        "START " + folder.Device() + "\\Apexpick.exe | ",
        "START " + folder.Device() + "\\Apexgrid.exe | " + ToUtf8(path),
    };
    std::vector<std::string> seen;
    for (const std::string& line : lines) {
      if (line.rfind("START ", 0) == 0) seen.push_back(line);
      EXPECT_EQ(line.rfind("MESSAGE", 0), std::string::npos) << line;
    }
    EXPECT_EQ(seen, starts) << ReadText(err);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "EXIT 0"), 1) << ReadText(err);
    EXPECT_EQ(ReadBytes(folder.HostFile("Data/lastmap.dat")), Utf16(path))
        << "the game remembers the circuit the selector chose, as UTF-16LE";

    // Started again without a command line, from elsewhere, the game plays it: no message, no
    // selector.
    RunShell("{ " + chain + " 2>&1 >/dev/null; echo EXIT $?; } | cat >" + Quote(err), folder.scratch());
    EXPECT_EQ(LinesOf(ReadText(err)), std::vector<std::string>{"EXIT 0"});
  }
}
