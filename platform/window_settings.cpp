// The window's scale and full screen, remembered between runs in a small settings file.
#include <string>

#include "platform/core.h"
#include "platform/platform.h"
#include "platform/settings.h"

namespace {

constexpr char kScale[] = "scale";
constexpr char kFullScreen[] = "full-screen";
constexpr char kHeading[] = "The window of Apexgrid and Apexpick, as the player left it";
constexpr int kLargestScale = 16;

struct Remembered {
  std::u16string file;  // empty: nothing is kept
  WindowState state;
};

Remembered& Kept() {
  static Remembered kept;
  return kept;
}

void Write() {
  Remembered& k = Kept();
  if (k.file.empty()) return;
  // Whatever else the file holds is kept; a failed write is no reason to bother the player.
  Settings settings = ReadSettings(k.file);
  if (k.state.scale > 0) SetSetting(&settings, kScale, k.state.scale);
  SetSetting(&settings, kFullScreen, k.state.fullScreen ? 1 : 0);
  WriteSettings(k.file, settings, kHeading);
}

}  // namespace

void SetWindowSettingsFile(const std::u16string& devicePath) {
  Remembered& k = Kept();
  k.file = devicePath;
  k.state = WindowState();
  if (devicePath.empty()) return;
  const Settings settings = ReadSettings(devicePath);
  k.state.scale = SettingNumber(settings, kScale, 1, kLargestScale, 0);
  k.state.fullScreen = SettingNumber(settings, kFullScreen, 0, 1, 0) == 1;
}

void ForgetWindowSettingsFile() { Kept() = Remembered(); }

WindowState RememberedWindowState() { return Kept().state; }

void RememberWindowScale(int scale) {
  Remembered& k = Kept();
  if (scale < 1 || scale > kLargestScale || scale == k.state.scale) return;
  k.state.scale = scale;
  Write();
}

void RememberFullScreen(bool fullScreen) {
  Remembered& k = Kept();
  if (fullScreen == k.state.fullScreen) return;
  k.state.fullScreen = fullScreen;
  Write();
}
