// UTF-16 text at the host boundary, and device paths.
#include "platform/text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"

TEST(Text, ConvertsBetweenUtf16AndUtf8) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"Ring.cct", "Ring.cct"},
      {u"Okruh \u010c\u00e1slav", "Okruh \xC4\x8C\xC3\xA1slav"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\U0001F3C1 flag", "\xF0\x9F\x8F\x81 flag"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
  }
}

// Shown to people, malformed bytes are U+FFFD; as host bytes, each is kept as a lone surrogate
// that turns back into it.
TEST(Text, MalformedInputBecomesReplacementCharactersOrKeptBytes) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
    std::u16string kept;
  };
  const Case cases[] = {
      {"lone continuation byte", "a\x80z", u"a\uFFFDz", u"a\xDC80z"},
      {"sequence cut short at the end", "a\xE2\x82", u"a\uFFFD\uFFFD", u"a\xDCE2\xDC82"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD", u"\xDCC0\xDCAF"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", u"\xDCED\xDCA0\xDC80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u"\xDCF4\xDC90\xDC80\xDC80"},
      {"Latin-1 between UTF-8", "Cr\xEAte \xC3\xA9", u"Cr\uFFFDte \u00E9", u"Cr\xDCEAte \u00E9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16) << c.name;
    EXPECT_EQ(FromHostBytes(c.utf8), c.kept) << c.name;
    EXPECT_EQ(ToHostBytes(c.kept), c.utf8) << c.name;
    EXPECT_EQ(ToUtf8(c.kept), ToUtf8(c.utf16)) << c.name << ": shown, a kept byte is U+FFFD";
  }

  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(u"x" + std::u16string(1, u'\xDC00')), "x\xEF\xBF\xBD");
}

TEST(Text, DevicePathsExchangeSeparatorsOneToOne) {
  EXPECT_EQ(HostPath(u"/tmp/typed in a shell/Ring.cct"), "/tmp/typed in a shell/Ring.cct");
  // Every host name comes back exactly: its "\\", its bytes that aren't UTF-8, and the very
  // character that stands for a "\\".
  struct Case {
    std::string host;
    std::u16string device;
  };
  const Case cases[] = {
      {"/home/ana/Apexgrid/Apexgrid", u"\\home\\ana\\Apexgrid\\Apexgrid"},
      {"/Okruh \xC4\x8C", u"\\Okruh \u010c"},
      {"/home/we\\ird/my\\race.cct", u"\\home\\we\uF05Cird\\my\uF05Crace.cct"},
      {"/c/Cr\xEAte.cct", u"\\c\\Cr\xDCEAte.cct"},
      {"/c/\xEF\x81\x9C.cct", u"\\c\\\xDCEF\xDC81\xDC9C.cct"},
      {"Circuits/x.cct", u"Circuits\\x.cct"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DevicePath(c.host), c.device) << c.host;
    EXPECT_EQ(HostPath(c.device), c.host) << c.host;
  }
}

TEST(Text, ACommandLinePathIsMadeFull) {
  char* here = getcwd(nullptr, 0);
  const std::u16string cwd = DevicePath(here);
  std::free(here);
  struct Case {
    std::u16string given;
    std::u16string full;
  };
  const Case cases[] = {
      {u"\\x\\Circuits\\My Ring.cct", u"\\x\\Circuits\\My Ring.cct"},  // a device path, as it is
      {u"/tmp/./a//b.cct", u"\\tmp\\a\\b.cct"},
      {u"Circuits/2-Riverside.cct", cwd + u"\\Circuits\\2-Riverside.cct"},
      {u"./my\\race.cct", cwd + u"\\my\uF05Crace.cct"},  // typed in a shell: "\\" is in the name
      {u"../Cr\xDCEAte.cct", cwd + u"\\..\\Cr\xDCEAte.cct"},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(FullDevicePath(c.given), c.full) << ToUtf8(c.given);
}
