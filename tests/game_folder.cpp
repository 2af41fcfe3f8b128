// Running the real game program in a program folder of its own.
#include "tests/game_folder.h"

#include <filesystem>

#include "platform/files.h"
#include "platform/text.h"

namespace fs = std::filesystem;

GameFolder::GameFolder(bool withData) {
  folder_.AddProgram(APEXGRID_GAME_PROGRAM, "Apexgrid");
  fs::create_directory(Host("Data"));
  if (withData) {
    for (const fs::directory_entry& entry : fs::directory_iterator(APEXGRID_DATA_FOLDER)) {
      // Only the pictures: a last-circuit file the build folder may hold is not ours.
      if (entry.path().filename() == "lastmap.dat") continue;
      fs::copy_file(entry.path(), Host("Data/" + entry.path().filename().string()));
    }
  }
}

std::string GameFolder::Device(const std::string& name) const { return ToUtf8(DevicePath(Host(name))); }

void GameFolder::AddCircuit(const std::string& name, const TestCircuit& circuit) const {
  WriteBytes(Host("Circuits/" + name), circuit.Encode());
}

std::string GameFolder::Isolation() const {
  return "env -u APEXGRID_START -u APEXGRID_SCRIPT_Apexgrid APEXGRID_INSTANCE=" + Quote(folder_.host()) + " " +
         LeakSuppressions();
}

ProgramRun GameFolder::Play(const std::string& script, const std::string& commandLine, const std::string& environment,
                            const std::string& workingFolder, const std::string& before) const {
  const std::string scriptFile = folder_.scratch().HostFile("script");
  WriteText(scriptFile, script);
  return RunProgram((before.empty() ? std::string() : before + " && ") +
                        (workingFolder.empty() ? std::string() : "cd " + Quote(workingFolder) + " && ") + Isolation() +
                        "APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(scriptFile) + " " + environment + " " +
                        Quote(Host("Apexgrid")) + (commandLine.empty() ? std::string() : " " + Quote(commandLine)),
                    folder_.scratch());
}

bool Shot::Load(const std::string& hostPath) {
  std::string error;
  image = RgbImage();
  return FileExists(hostPath) && ReadPng(hostPath, &image, nullptr, &error) == 0;
}

bool Shot::Is(int x, int y, uint16_t colour) const {
  if (x < 0 || y < 0 || x >= static_cast<int>(image.width) || y >= static_cast<int>(image.height)) return false;
  uint8_t r, g, b;
  ExpandPixel(colour, true, &r, &g, &b);
  const size_t at = (static_cast<size_t>(y) * image.width + x) * 3;
  return image.rgb[at] == r && image.rgb[at + 1] == g && image.rgb[at + 2] == b;
}

bool Shot::Shows(const Picture& picture, int x0, int y0, int x1, int y1, int dx, int dy) const {
  if (picture.pixels == nullptr) return false;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const int px = x + dx;
      const int py = y + dy;
      if (px < 0 || py < 0 || px >= static_cast<int>(picture.width) || py >= static_cast<int>(picture.height)) {
        return false;
      }
      if (!Is(x, y, picture.pixels[static_cast<size_t>(py) * picture.width + px])) return false;
    }
  }
  return true;
}

void LoadDataPicture(Picture& picture, const std::string& name) {
  LoadPicture(picture, DevicePath(std::string(APEXGRID_DATA_FOLDER) + "/" + name));
}
