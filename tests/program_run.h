// Test helpers for running the built programs as real processes: shell quoting, waiting for
// output, a temporary program folder, and a virtual X server for window tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/support.h"

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, Bytes(text.begin(), text.end()));
}

inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline void Pause(int milliseconds) {
  std::system(("sleep " + std::to_string(milliseconds / 1000.0)).c_str());
}

// Runs a shell command line to its end in a folder of the test's own; returns its exit status.
inline int RunShell(const std::string& command, const TempFolder& scratch) {
  const std::string status = scratch.HostFile("status");
  std::filesystem::remove(status);
  std::system(("(" + command + "); echo $? > " + Quote(status)).c_str());
  return std::atoi(ReadText(status).c_str());
}

// Waits until the file holds the text; false after the timeout.
inline bool WaitForText(const std::string& path, const std::string& text, int milliseconds = 20000) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (ReadText(path).find(text) != std::string::npos) return true;
    Pause(20);
  }
  return false;
}

inline bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// A program folder of its own: a copy of the program (the module path resolves links, and the
// folder is also the headless single-instance key), an empty Circuits folder, and room for
// scripts and reports beside it, outside the program folder.
class ProgramFolder {
 public:
  // name: the program folder's own name inside the temporary folder, spaces allowed.
  explicit ProgramFolder(const std::string& name = "Game") : host_(scratch_.HostFile(name)) {
    std::filesystem::create_directories(host_ + "/Circuits");
  }

  const TempFolder& scratch() const { return scratch_; }
  const std::string& host() const { return host_; }
  std::string HostFile(const std::string& name) const { return host_ + "/" + name; }
  // The program folder as the programs name it: a device path without a trailing backslash.
  std::string Device() const { return ToUtf8(DevicePath(host_)); }

  void AddProgram(const std::string& built, const std::string& name) const {
    std::filesystem::copy_file(built, HostFile(name));
  }
  void AddCircuit(const std::string& name) const { WriteBytes(HostFile("Circuits/" + name), Bytes{}); }

  // The names the file system lists in Circuits, in its order, files only.
  std::vector<std::string> CircuitFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(host_ + "/Circuits")) {
      if (!entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  TempFolder scratch_;
  std::string host_;
};

// A virtual X server of the test's own; the display number is chosen by the server.
class VirtualScreen {
 public:
  VirtualScreen() {
    std::system(("Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -fbdir " +
                 Quote(folder_.host()) + " 3>" + Quote(folder_.HostFile("display")) +
                 " 2>/dev/null & echo $! >" + Quote(folder_.HostFile("server")))
                    .c_str());
    for (int waited = 0; waited < 10000 && ReadText(folder_.HostFile("display")).empty();
         waited += 20) {
      Pause(20);
    }
    std::string number = ReadText(folder_.HostFile("display"));
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (!number.empty()) display_ = "DISPLAY=:" + number + " ";
  }

  ~VirtualScreen() {
    const std::string server = ReadText(folder_.HostFile("server"));
    if (server.empty()) return;
    // Stop the server we started, by its number, and let it finish before the folder goes.
    const std::string pid = server.substr(0, server.find('\n'));
    std::system(("kill " + pid + " 2>/dev/null; for i in $(seq 100); do kill -0 " + pid +
                 " 2>/dev/null || break; sleep 0.05; done")
                    .c_str());
  }

  bool running() const { return !display_.empty(); }
  // "DISPLAY=:N ", to put in front of a command.
  const std::string& display() const { return display_; }
  // The server's frame buffer file (an X window dump).
  std::string ScreenFile() const { return folder_.HostFile("Xvfb_screen0"); }

  // Runs xdotool on this server; returns what it printed.
  std::string Xdo(const std::string& arguments) const {
    const std::string out = folder_.HostFile("xdo");
    std::system(("timeout 10 env " + display_ + "xdotool " + arguments + " >" + Quote(out) +
                 " 2>&1")
                    .c_str());
    return ReadText(out);
  }

 private:
  TempFolder folder_;
  std::string display_;
};
