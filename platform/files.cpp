// Host side of files: separator mapping, binary opens, atomic replacement, the module path.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/text.h"

std::string HostPath(const std::u16string& devicePath) {
  std::string host = ToUtf8(devicePath);
  for (char& c : host) {
    if (c == '\\') c = '/';
  }
  return host;
}

std::u16string DevicePath(const std::string& hostPath) {
  std::u16string device = FromUtf8(hostPath);
  for (char16_t& c : device) {
    if (c == u'/') c = u'\\';
  }
  return device;
}

std::FILE* OpenDeviceFile(const std::u16string& devicePath, const char* mode) {
  // Text modes would be meaningless here and on the device alike; only binary ones are honoured.
  if (std::strcmp(mode, "rb") != 0 && std::strcmp(mode, "wb") != 0 &&
      std::strcmp(mode, "r+b") != 0) {
    return nullptr;
  }
  const std::string host = HostPath(devicePath);
  if (host.empty()) return nullptr;
  std::FILE* file = std::fopen(host.c_str(), mode);
  if (file == nullptr) return nullptr;
  // fopen happily opens a directory for reading; a directory is never a file of ours.
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

long long FileSize(std::FILE* file) {
  struct stat info;
  if (file == nullptr || fstat(fileno(file), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

namespace {

int WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t done = write(fd, bytes, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return 0;
}

}  // namespace

int ReplaceFileContent(const std::u16string& devicePath, const void* data, size_t size) {
  const std::string host = HostPath(devicePath);
  struct stat info;
  if (host.empty() || stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 1;

  std::string temp = host + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return 1;
  const bool written = WriteAll(fd, data, size) == 0 &&
                       fchmod(fd, info.st_mode & 07777) == 0 && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temp.c_str(), host.c_str()) != 0) {
    unlink(temp.c_str());
    return 1;
  }
  // Make the rename itself durable: sync the folder that holds the file.
  const size_t slash = host.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : host.substr(0, slash));
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return 0;
}

int WriteWholeFile(const std::u16string& devicePath, const void* data, size_t size) {
  const std::string host = HostPath(devicePath);
  struct stat info;
  if (host.empty()) return 1;
  if (stat(host.c_str(), &info) == 0) return ReplaceFileContent(devicePath, data, size);

  std::string temp = host + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return 1;
  // mkstemp makes the file private; a new file of ours gets what the user's umask allows.
  const mode_t mask = umask(0);
  umask(mask);
  const bool written = WriteAll(fd, data, size) == 0 && fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temp.c_str(), host.c_str()) != 0) {
    unlink(temp.c_str());
    return 1;
  }
  return 0;
}

std::u16string ModuleFileName() {
  char buffer[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::u16string();
  return DevicePath(std::string(buffer, static_cast<size_t>(length)));
}
