// Running the real game program in a program folder of its own.
#include "tests/game_folder.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/files.h"
#include "platform/text.h"

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const std::string& hostPath) {
  const Bytes bytes = ReadBytes(hostPath);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void Pause(int milliseconds) { std::system(("sleep " + std::to_string(milliseconds / 1000.0)).c_str()); }

bool WaitForFile(const std::string& hostPath, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (FileExists(hostPath)) return true;
    Pause(20);
  }
  return false;
}

bool GameRun::Said(const std::string& line) const {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

std::vector<std::string> GameRun::LinesStarting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& l : lines) {
    if (l.rfind(prefix, 0) == 0) found.push_back(l);
  }
  return found;
}

GameFolder::GameFolder(bool withData) {
  canonical_ = fs::canonical(folder_.host()).string();
  fs::copy_file(APEXGRID_GAME_PROGRAM, folder_.HostFile("Apexgrid"));
  fs::create_directory(folder_.HostFile("Data"));
  fs::create_directory(folder_.HostFile("Circuits"));
  if (withData) {
    for (const fs::directory_entry& entry : fs::directory_iterator(APEXGRID_DATA_FOLDER)) {
      // Only the pictures: a last-circuit file the build folder may hold is not ours.
      if (entry.path().filename() == "lastmap.dat") continue;
      fs::copy_file(entry.path(), folder_.HostFile("Data/" + entry.path().filename().string()));
    }
  }
}

std::string GameFolder::Host(const std::string& name) const { return canonical_ + "/" + name; }

std::string GameFolder::Device(const std::string& name) const { return ToUtf8(DevicePath(Host(name))); }

std::string GameFolder::DeviceFolder() const { return ToUtf8(DevicePath(canonical_)); }

std::string GameFolder::SelectorPath() const { return DeviceFolder() + "\\Apexpick.exe"; }

void GameFolder::AddCircuit(const std::string& name, const TestCircuit& circuit) const {
  WriteBytes(Host("Circuits/" + name), circuit.Encode());
}

std::string GameFolder::Isolation() const {
  std::string environment = "env -u APEXGRID_START -u APEXGRID_SCRIPT_Apexgrid APEXGRID_INSTANCE=" +
                            Quote(canonical_) + " ";
#ifdef APEXGRID_LSAN_SUPPRESSIONS
  environment += "LSAN_OPTIONS=suppressions=" + Quote(APEXGRID_LSAN_SUPPRESSIONS) + " ";
#endif
  return environment;
}

GameRun GameFolder::Play(const std::string& script, const std::string& commandLine,
                         const std::string& environment) const {
  const std::string scriptFile = folder_.HostFile("script");
  WriteBytes(scriptFile, Bytes(script.begin(), script.end()));
  const std::string err = folder_.HostFile("err");
  const std::string status = folder_.HostFile("status");
  fs::remove(status);
  const std::string command = Isolation() + "APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(scriptFile) + " " +
                              environment + " " + Quote(Host("Apexgrid")) +
                              (commandLine.empty() ? std::string() : " " + Quote(commandLine)) + " 2>" +
                              Quote(err);
  std::system(("(" + command + "); echo $? >" + Quote(status)).c_str());
  GameRun run;
  run.status = std::atoi(ReadText(status).c_str());
  run.lines = LinesOf(ReadText(err));
  return run;
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
