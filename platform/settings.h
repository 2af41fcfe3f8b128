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
// when read, so that a file edited by hand or written by a later version never stops a program;
// writing the file again keeps them, in their places, and rewrites only the lines of settings
// that changed. A file is always written whole, replacing the old one in one rename, so that a
// crash leaves the old settings or the new ones. A file that is there but can't be read (no
// permission, not a plain file, larger than 64 KiB: not one of ours) is never written over.
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
  // The text's own lines, comments and lines that aren't settings among them, for writing it again.
  std::vector<std::string> lines;
  // Read from a file that is there but couldn't be read: WriteSettings leaves it alone.
  bool unreadable = false;
};

// The settings in a file's text; a later line with the same name wins.
Settings ParseSettings(const std::string& text);
// The file's settings; none when it is missing, unreadable or larger than 64 KiB, and then marked
// unreadable unless it is missing.
Settings ReadSettings(const std::u16string& devicePath);

// The text: the lines it was read from, each setting's last line rewritten where its value
// changed, then a `name = value` line for each setting new to it. A text of no lines starts with
// the heading comment, when one is given.
std::string FormatSettings(const Settings& settings, const std::string& heading = "");
// Writes the file whole (its folder must exist). 0 on success, 1 when nothing was written (and
// always for settings read from an unreadable file).
int WriteSettings(const std::u16string& devicePath, const Settings& settings, const std::string& heading = "");

// The value, or fallback when the setting is missing.
std::string SettingText(const Settings& settings, const std::string& name, const std::string& fallback = "");
// A whole number from lowest to highest, or fallback when the setting is missing or isn't one.
int SettingNumber(const Settings& settings, const std::string& name, int lowest, int highest, int fallback);

// Sets a setting, in its place when it is there, else at the end. A name that isn't one, or a
// value with a line end in it, is refused: 1, and nothing changes.
int SetSetting(Settings* settings, const std::string& name, const std::string& value);
int SetSetting(Settings* settings, const std::string& name, int value);
