// Small settings files: reading, looking up, changing and writing them whole.
#include "platform/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"

namespace {

// A settings file is a few lines; anything much larger is not one of ours.
constexpr long long kLargestFile = 64 * 1024;

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
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

Settings ParseSettings(const std::string& text) {
  Settings settings;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    SetSetting(&settings, Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)));
  }
  return settings;
}

Settings ReadSettings(const std::u16string& devicePath) {
  std::FILE* file = OpenDeviceFile(devicePath, "rb");
  if (file == nullptr) return Settings();
  const long long size = FileSize(file);
  std::string text;
  if (size > 0 && size <= kLargestFile) {
    text.resize(static_cast<size_t>(size));
    text.resize(std::fread(&text[0], 1, text.size(), file));
  }
  std::fclose(file);
  return ParseSettings(text);
}

std::string FormatSettings(const Settings& settings, const std::string& heading) {
  std::string text;
  if (!heading.empty()) text += "# " + heading + "\n";
  for (const auto& entry : settings.entries) text += entry.first + " = " + entry.second + "\n";
  return text;
}

int WriteSettings(const std::u16string& devicePath, const Settings& settings,
                  const std::string& heading) {
  const std::string text = FormatSettings(settings, heading);
  return WriteWholeFile(devicePath, text.data(), text.size());
}

std::string SettingText(const Settings& settings, const std::string& name,
                        const std::string& fallback) {
  for (const auto& entry : settings.entries) {
    if (entry.first == name) return entry.second;
  }
  return fallback;
}

int SettingNumber(const Settings& settings, const std::string& name, int lowest, int highest,
                  int fallback) {
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
