// The per-user data folder and the folder checks behind it.
#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"

std::u16string UserDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return DevicePath(std::string(data) + "/apexgrid");
  const char* home = std::getenv("HOME");
  // Started without HOME (env -i, some service managers), the home is still the account's: without
  // it an installed game would write nowhere and drop every record without a word.
  if (home == nullptr || home[0] != '/') {
    const passwd* account = getpwuid(geteuid());
    home = account != nullptr ? account->pw_dir : nullptr;
  }
  if (home != nullptr && home[0] == '/') return DevicePath(std::string(home) + "/.local/share/apexgrid");
  return std::u16string();
}

int FolderTakesWrites(const std::u16string& devicePath) {
  const std::string host = HostPath(devicePath);
  struct stat info;
  if (host.empty() || stat(host.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
  return access(host.c_str(), W_OK | X_OK) == 0 ? 1 : 0;
}

int MakeFolders(const std::u16string& devicePath) {
  std::string host = HostPath(devicePath);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  if (host.empty()) return 1;
  struct stat info;
  if (stat(host.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : 1;
  const size_t slash = host.rfind('/');
  if (slash != std::string::npos && slash > 0 && MakeFolders(DevicePath(host.substr(0, slash))) != 0) {
    return 1;
  }
  if (mkdir(host.c_str(), 0700) != 0 && errno != EEXIST) return 1;
  return stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 0 : 1;
}
