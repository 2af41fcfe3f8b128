// Small settings files: what a program keeps between runs beyond the device's own files.
//
// A settings file is UTF-8 text, one setting a line:
//
//   # the window's scale and full screen, written by the program
//   scale = 3
//   full-screen = 0
//
// A name is letters, digits, '-', '_' and '.'; the value is the rest of the line, blanks at both
// ends trimmed. Lines starting with '#', blank lines and lines that aren't a setting are skipped
// when read, so that a file edited by hand or written by a later version never stops a program.
// A file is always written whole, replacing the old one in one rename, so that a crash leaves the
// old settings or the new ones.
//
//   Settings settings = ReadSettings(path);
//   const int scale = SettingNumber(settings, "scale", 1, 16, 0);
//   SetSetting(&settings, "scale", 3);
//   WriteSettings(path, settings);
//
// Settings a program doesn't know are kept as they were when it writes the file again.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct Settings {
  std::vector<std::pair<std::string, std::string>> entries;  // in the file's order, names unique
};

// The settings in a file's text; a later line with the same name wins.
Settings ParseSettings(const std::string& text);
// The file's settings; none when it is missing, unreadable or larger than 64 KiB.
Settings ReadSettings(const std::u16string& devicePath);

// The file's text: a heading comment when given, then one `name = value` line each.
std::string FormatSettings(const Settings& settings, const std::string& heading = "");
// Writes the file whole (its folder must exist). 0 on success, 1 when nothing was written.
int WriteSettings(const std::u16string& devicePath, const Settings& settings,
                  const std::string& heading = "");

// The value, or fallback when the setting is missing.
std::string SettingText(const Settings& settings, const std::string& name,
                        const std::string& fallback = "");
// A whole number from lowest to highest, or fallback when the setting is missing or isn't one.
int SettingNumber(const Settings& settings, const std::string& name, int lowest, int highest,
                  int fallback);

// Sets a setting, in its place when it is there, else at the end. A name that isn't one, or a
// value with a line end in it, is refused: 1, and nothing changes.
int SetSetting(Settings* settings, const std::string& name, const std::string& value);
int SetSetting(Settings* settings, const std::string& name, int value);
