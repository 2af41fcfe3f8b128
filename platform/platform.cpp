// Starting and stopping the platform: the one place where the backend is chosen.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/core.h"
#include "platform/text.h"

namespace {

const Backend* active = nullptr;
std::u16string commandLine;

}  // namespace

const Backend* ActiveBackend() { return active; }

int StartPlatform(int argc, char** argv, const char* programName, std::string* error) {
  if (active != nullptr) StopPlatform(0);

  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  // The arguments are host bytes: whatever they hold comes back whole where the command line is
  // handed on (CreateProcess) or names a file.
  commandLine = FromHostBytes(line);

  const char* video = std::getenv("APEXGRID_VIDEO");
  const bool headless = video != nullptr && std::strcmp(video, "headless") == 0;
  const Backend* backend = headless ? &kHeadlessBackend : &kSdlBackend;
  std::string reason;
  if (backend->start(programName != nullptr ? programName : "", &reason) != 0) {
    if (error != nullptr) *error = reason;
    return 1;
  }
  active = backend;
  ResetWindowSystem();
  return 0;
}

int StopPlatform(int exitCode) {
  const bool scriptFailed = CloseWindowSystem();
  if (active != nullptr) active->stop();
  active = nullptr;
  ForgetWindowSettingsFile();
  return scriptFailed ? 2 : exitCode;
}

int AnswerHelpOrVersion(int argc, char** argv, const char* usage, const char* version) {
  if (argc != 2) return 0;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", version);
  } else {
    return 0;
  }
  std::fflush(stdout);
  return 1;
}

int IsHeadless() { return active == &kHeadlessBackend ? 1 : 0; }

std::u16string GetCommandLine() { return commandLine; }
