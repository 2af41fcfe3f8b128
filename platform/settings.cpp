// Small settings files: reading, looking up, changing and writing them whole.
#include "platform/settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/files.h"

namespace {

// A settings file is a few lines; anything much larger is not one of ours.
constexpr long long kLargestFile = 64LL * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// The setting a line holds: a name, '=', and the value, blanks around each trimmed. False for a
// comment, a blank line or anything that isn't a setting.
bool SettingOfLine(const std::string& text, std::string* name, std::string* value) {
  const std::string line = Trimmed(text);
  if (line.empty() || line[0] == '#') return false;
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  *name = Trimmed(line.substr(0, equals));
  *value = Trimmed(line.substr(equals + 1));
  return IsName(*name);
}

}  // namespace

Settings ParseSettings(const std::string& text) {
  Settings settings;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    settings.lines.push_back(text.substr(start, end - start));
    start = end + 1;
    std::string name, value;
    if (SettingOfLine(settings.lines.back(), &name, &value)) SetSetting(&settings, name, value);
  }
  return settings;
}

Settings ReadSettings(const std::u16string& devicePath) {
  std::FILE* file = OpenDeviceFile(devicePath, "rb");
  if (file == nullptr) {
    // Missing is a first start; anything else that stands there is someone's, and stays theirs.
    struct stat info;
    const std::string host = HostPath(devicePath);
    Settings none;
    none.unreadable = !host.empty() && stat(host.c_str(), &info) == 0;
    return none;
  }
  const long long size = FileSize(file);
  std::string text;
  bool read = size >= 0 && size <= kLargestFile;
  if (read && size > 0) {
    text.resize(static_cast<size_t>(size));
    read = std::fread(&text[0], 1, text.size(), file) == text.size();
  }
  std::fclose(file);
  if (!read) {
    Settings none;
    none.unreadable = true;
    return none;
  }
  return ParseSettings(text);
}

std::string FormatSettings(const Settings& settings, const std::string& heading) {
  std::string text;
  if (settings.lines.empty() && !heading.empty()) text += "# " + heading + "\n";
  // Each name's last line is the one that counts when the file is read.
  std::map<std::string, size_t> lastLine;
  for (size_t i = 0; i < settings.lines.size(); ++i) {
    std::string name, value;
    if (SettingOfLine(settings.lines[i], &name, &value)) lastLine[name] = i;
  }
  std::vector<std::string> lines = settings.lines;
  for (const auto& entry : settings.entries) {
    const auto found = lastLine.find(entry.first);
    if (found == lastLine.end()) {
      lines.push_back(entry.first + " = " + entry.second);
      continue;
    }
    std::string name, value;
    SettingOfLine(lines[found->second], &name, &value);
    if (value != entry.second) lines[found->second] = entry.first + " = " + entry.second;
  }
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

int WriteSettings(const std::u16string& devicePath, const Settings& settings, const std::string& heading) {
  if (settings.unreadable) return 1;
  const std::string text = FormatSettings(settings, heading);
  return WriteWholeFile(devicePath, text.data(), text.size());
}

std::string SettingText(const Settings& settings, const std::string& name, const std::string& fallback) {
  for (const auto& entry : settings.entries) {
    if (entry.first == name) return entry.second;
  }
  return fallback;
}

int SettingNumber(const Settings& settings, const std::string& name, int lowest, int highest, int fallback) {
  const std::string text = SettingText(settings, name);
  if (text.empty() || text.size() > 11) return fallback;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != 0 || IsBlank(text[0]) || value < lowest || value > highest) {
    return fallback;
  }
  return static_cast<int>(value);
}

int SetSetting(Settings* settings, const std::string& name, const std::string& value) {
  if (!IsName(name) || value.find_first_of("\r\n") != std::string::npos) return 1;
  const std::string kept = Trimmed(value);
  for (auto& entry : settings->entries) {
    if (entry.first == name) {
      entry.second = kept;
      return 0;
    }
  }
  settings->entries.emplace_back(name, kept);
  return 0;
}

int SetSetting(Settings* settings, const std::string& name, int value) {
  return SetSetting(settings, name, std::to_string(value));
}
