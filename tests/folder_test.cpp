// The program folder and UTF-16 text files such as the last-circuit file.
#include "data/folder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "tests/support.h"

TEST(ProgramFolder, IsTheModulePathCutBeforeItsLastBackslash) {
  struct Case {
    std::u16string module;
    std::u16string folder;
  };
  const Case cases[] = {
      {u"\\Program Files\\Game\\Apexgrid.exe", u"\\Program Files\\Game"},
      {u"\\home\\ana\\Apexgrid\\Apexgrid", u"\\home\\ana\\Apexgrid"},
      {u"\\Apexgrid.exe", u""},  // in the root: each data path is then the literal alone
      {u"Apexgrid", u"\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgramFolderOf(c.module), c.folder);
}

TEST(ProgramFolder, OfThisProgramHoldsIt) {
  const std::u16string module = GetModulePath();
  ASSERT_FALSE(module.empty());
  EXPECT_EQ(module.substr(module.rfind(u'\\') + 1), u"apexgrid_tests");
  EXPECT_EQ(GetProgramFolder() + u"\\apexgrid_tests", module);
}

TEST(TextFile, HoldsTheCodeUnitsLittleEndianAndNothingElse) {
  TempFolder folder;
  const std::u16string path = u"\\home\\ana\\Okruh \u010c\\Ring.cct";
  WriteTextFile(folder.File("lastmap.dat"), path);
  const Bytes bytes = ReadBytes(folder.HostFile("lastmap.dat"));
  ASSERT_EQ(bytes.size(), path.size() * 2);
  EXPECT_EQ(bytes[0], '\\');
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(GetU16(bytes, 2 * path.find(u'\u010c')), 0x010C);
  EXPECT_EQ(ReadTextFile(folder.File("lastmap.dat")), path);

  // Writing replaces the whole file, or leaves it as it was when a step of writing it fails.
  for (FileStep step : {kFileOpen, kFileWrite, kFileSync, kFileRename}) {
    FailFileStep(step, 1);
    WriteTextFile(folder.File("lastmap.dat"), u"\\a much longer path than the one before it");
    EXPECT_FALSE(FileFaultPending()) << step;
    EXPECT_EQ(ReadBytes(folder.HostFile("lastmap.dat")), bytes) << step;
  }
  WriteTextFile(folder.File("lastmap.dat"), u"x");
  EXPECT_EQ(ReadTextFile(folder.File("lastmap.dat")), u"x");
  // Through a link, the file it leads to; the link stays.
  std::filesystem::rename(folder.HostFile("lastmap.dat"), folder.HostFile("kept.dat"));
  std::filesystem::create_symlink("kept.dat", folder.HostFile("lastmap.dat"));
  WriteTextFile(folder.File("lastmap.dat"), u"y");
  EXPECT_TRUE(std::filesystem::is_symlink(folder.HostFile("lastmap.dat")));
  EXPECT_EQ(ReadTextFile(folder.File("kept.dat")), u"y");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()),
            2);
}

TEST(TextFile, ReadingTakesWholeUnitsOnly) {
  TempFolder folder;
  struct Case {
    const char* name;
    Bytes bytes;
    std::u16string text;
  };
  Bytes longOdd;
  for (int i = 0; i < 5001; ++i) longOdd.push_back(i % 2 ? 0 : 'a');  // spans read chunks
  const Case cases[] = {
      {"empty", {}, u""},
      {"odd byte dropped", {'a', 0, 'b', 0, 'c'}, u"ab"},
      {"one byte", {'a'}, u""},
      {"odd length across chunks", longOdd, std::u16string(2500, u'a')},
  };
  for (const Case& c : cases) {
    WriteBytes(folder.HostFile("t.dat"), c.bytes);
    EXPECT_EQ(ReadTextFile(folder.File("t.dat")), c.text) << c.name;
  }
  EXPECT_EQ(ReadTextFile(folder.File("missing.dat")), u"");
  EXPECT_EQ(ReadTextFile(folder.File("")), u"");  // a folder is not a file
  ASSERT_EQ(mkfifo(folder.HostFile("pipe.dat").c_str(), 0600), 0);
  EXPECT_EQ(ReadTextFile(folder.File("pipe.dat")), u"") << "nor is a FIFO, which is not waited on";
}

TEST(TextFile, AFileThatCantBeCreatedIsSilentlyNotWritten) {
  TempFolder folder;
  WriteTextFile(folder.File("no such folder/lastmap.dat"), u"x");
  EXPECT_FALSE(FileExists(folder.HostFile("no such folder/lastmap.dat")));
}

// A private copy of a shipped circuit is made only where none stands: one another writer made
// meanwhile, perhaps with a record in it, is never replaced.
TEST(NewFile, IsMadeOnlyWhereNothingStands) {
  TempFolder folder;
  EXPECT_EQ(WriteNewFile(folder.File("c.cct"), "first", 5), 0);
  EXPECT_EQ(WriteNewFile(folder.File("c.cct"), "second", 6), 1);
  EXPECT_EQ(ReadText(folder.HostFile("c.cct")), "first");
  EXPECT_EQ(WriteNewFile(folder.File("missing/c.cct"), "x", 1), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()), 1)
      << "nothing left beside it";
}

TEST(WritableFolder, IsTheProgramFolderWhenItTakesWritesElseTheUsersFolder) {
  TempFolder folder;
  const std::u16string user = folder.File("user");
  const std::u16string here = DevicePath(folder.host());
  EXPECT_EQ(WritableFolderOf(here, user), here) << "a folder this test may write";
  EXPECT_EQ(WritableFolderOf(folder.File("missing"), user), user);
  EXPECT_EQ(WritableFolderOf(folder.File("missing"), u""), folder.File("missing")) << "no user folder to be had";
  std::filesystem::create_directories(folder.HostFile("installed/Data"));
  WriteText(folder.HostFile("installed/Data/installed.txt"), "");
  EXPECT_EQ(WritableFolderOf(folder.File("installed"), user), user) << "an installed folder, though it takes writes";

  // Only circuits directly in the program folder's Circuits folder have private copies.
  const std::u16string program = u"\\usr\\lib\\apexgrid", own = u"\\home\\ana\\.local\\share\\apexgrid";
  struct Case {
    std::u16string path;
    std::u16string copy;
  };
  const Case cases[] = {
      {u"\\usr\\lib\\apexgrid\\Circuits\\Ring.cct", own + u"\\Circuits\\Ring.cct"},
      {u"/usr/lib/apexgrid/Circuits/oval.CCT", own + u"\\Circuits\\oval.CCT"},  // typed in a shell
      {u"\\usr\\lib\\apexgrid\\Circuits\\more\\Ring.cct", u""},
      {u"\\usr\\lib\\apexgrid\\Circuits\\", u""},
      {u"\\usr\\lib\\apexgrid\\Ring.cct", u""},
      {u"\\usr\\lib\\apexgrid2\\Circuits\\Ring.cct", u""},
      {u"\\home\\ana\\Ring.cct", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(PrivateCopyOf(c.path, program, own), c.copy) << ToUtf8(c.path);
  EXPECT_EQ(PrivateCopyOf(u"\\usr\\lib\\apexgrid\\Circuits\\Ring.cct", program, program), u"")
      << "a program folder that takes writes keeps its circuits";

  // The shipped folder by another name is the same folder.
  ASSERT_EQ(
      std::system(
          ("mkdir -p " + folder.host() + "/lib/apexgrid/Circuits && ln -s lib " + folder.host() + "/link").c_str()),
      0);
  const std::u16string installed = DevicePath(folder.host() + "/lib/apexgrid");
  for (const char* other : {"/link/apexgrid/Circuits/Ring.cct", "/lib/apexgrid/Circuits/../Circuits/Ring.cct"}) {
    EXPECT_EQ(PrivateCopyOf(DevicePath(folder.host() + other), installed, own), own + u"\\Circuits\\Ring.cct") << other;
  }
}

TEST(UserDataFolder, FollowsXdgDataHomeThenHomeThenTheAccount) {
  const passwd* account = getpwuid(geteuid());
  ASSERT_NE(account, nullptr);
  const std::string own = std::string(account->pw_dir) + "/.local/share/apexgrid";
  struct Case {
    const char* data;  // XDG_DATA_HOME, nullptr for unset
    const char* home;  // HOME, nullptr for unset
    std::string folder;
  } const cases[] = {
      {"/d", "/h", "/d/apexgrid"},
      {"d", "/h", "/h/.local/share/apexgrid"},  // a relative one is no XDG folder
      {nullptr, "/h", "/h/.local/share/apexgrid"},
      {nullptr, nullptr, own},  // no HOME: the account's home, or nothing would be kept
      {"", "", own},
  };
  const char* savedData = std::getenv("XDG_DATA_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string data = savedData ? savedData : "", home = savedHome ? savedHome : "";
  for (const Case& c : cases) {
    c.data ? setenv("XDG_DATA_HOME", c.data, 1) : unsetenv("XDG_DATA_HOME");
    c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
    EXPECT_EQ(ToUtf8(UserDataFolder()), ToUtf8(DevicePath(c.folder)))
        << (c.data ? c.data : "-") << " " << (c.home ? c.home : "-");
  }
  savedData ? setenv("XDG_DATA_HOME", data.c_str(), 1) : unsetenv("XDG_DATA_HOME");
  savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}
