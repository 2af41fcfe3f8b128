// UTF-16 text at the host boundary, and device paths.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/text.h"

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

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"lone continuation byte", "a\x80z", u"a\uFFFDz"},
      {"sequence cut short at the end", "a\xE2\x82", u"a\uFFFD\uFFFD"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.utf16) << c.name;

  EXPECT_EQ(ToUtf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(u"x" + std::u16string(1, u'\xDC00')), "x\xEF\xBF\xBD");
}

TEST(Text, DevicePathsExchangeSeparatorsOneToOne) {
  EXPECT_EQ(DevicePath("/home/ana/Apexgrid/Apexgrid"), u"\\home\\ana\\Apexgrid\\Apexgrid");
  EXPECT_EQ(HostPath(u"\\home\\ana\\Apexgrid\\Data\\Menu.pic"), "/home/ana/Apexgrid/Data/Menu.pic");
  EXPECT_EQ(HostPath(u"/tmp/typed in a shell/Ring.cct"), "/tmp/typed in a shell/Ring.cct");
  EXPECT_EQ(HostPath(u"\\Okruh \u010c"), "/Okruh \xC4\x8C");
}
