// Starting another program: device path to host executable, the command line as one argument.
#include "platform/process.h"

#include <spawn.h>
#include <sys/types.h>

#include "platform/core.h"
#include "platform/files.h"
#include "platform/text.h"

extern char** environ;

namespace {

// "...\Apexpick.exe" names the host program ".../Apexpick": the hand-held's executables carry
// the extension, ours don't.
std::string HostProgram(const std::u16string& programPath) {
  std::string host = HostPath(programPath);
  if (host.size() > 4) {
    std::string tail = host.substr(host.size() - 4);
    for (char& c : tail) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (tail == ".exe") host.resize(host.size() - 4);
  }
  return host;
}

}  // namespace

int CreateProcess(const std::u16string& programPath, const std::u16string& commandLine) {
  const Backend* backend = ActiveBackend();
  return backend != nullptr ? backend->startProcess(programPath, commandLine) : SpawnProgram(programPath, commandLine);
}

int SpawnProgram(const std::u16string& programPath, const std::u16string& commandLine) {
  const std::string program = HostProgram(programPath);
  if (program.empty()) return 0;
  std::string argument = ToHostBytes(commandLine);
  char* argv[3] = {const_cast<char*>(program.c_str()), nullptr, nullptr};
  if (!commandLine.empty()) argv[1] = argument.data();
  pid_t child;
  return posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) == 0 ? 1 : 0;
}
