// Starting another program: device path to host executable, the command line as one argument.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>

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

int StartBackgroundJob(const std::function<int()>& work) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) return 0;
  if (pid > 0) return static_cast<int>(pid);
  // The child: it dies with the program, yields to it, and meets a shortage of memory as an
  // exception of its own rather than the program's handler.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  setpriority(PRIO_PROCESS, 0, 10);
  std::set_new_handler(nullptr);
  int status = 1;
  try {
    status = work();
  } catch (...) {
    status = 1;
  }
  _exit(status & 0xFF);
}

int PollBackgroundJob(int job, int* status) {
  if (job <= 0) return -1;
  int raw = 0;
  const pid_t ended = waitpid(static_cast<pid_t>(job), &raw, WNOHANG);
  if (ended == 0) return 1;
  if (ended < 0) return -1;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return 0;
}

void StopBackgroundJob(int job) {
  if (job <= 0) return;
  kill(static_cast<pid_t>(job), SIGKILL);
  waitpid(static_cast<pid_t>(job), nullptr, 0);
}
