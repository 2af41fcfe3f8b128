// Host side of files: the name mapping, opens that never wait, whole-file writes that can't be
// left half done, updates in place, and the steps a test can make fail.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/text.h"

namespace {

// A backslash inside a host name, as the device side spells it: the device's backslash is the
// separator.
constexpr char16_t kHostBackslash = u'\uF05C';
// The UTF-8 bytes of that character, for when a host name holds the character itself.
constexpr unsigned char kHostBackslashUtf8[] = {0xEF, 0x81, 0x9C};

}  // namespace

std::string HostPath(const std::u16string& devicePath) {
  std::u16string text = devicePath;
  for (char16_t& c : text) {
    if (c == u'\\') {
      c = u'/';
    } else if (c == kHostBackslash) {
      c = u'\\';
    }
  }
  return ToHostBytes(text);
}

std::u16string DevicePath(const std::string& hostPath) {
  const std::u16string text = FromHostBytes(hostPath);
  std::u16string device;
  device.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'/') {
      device += u'\\';
    } else if (c == u'\\') {
      device += kHostBackslash;
    } else if (c == kHostBackslash) {
      // The character itself, in a host name, travels as its three bytes so that it never comes
      // back as a backslash.
      for (unsigned char b : kHostBackslashUtf8) device += static_cast<char16_t>(0xDC00 + b);
    } else {
      device += c;
    }
  }
  return device;
}

std::u16string FullDevicePath(const std::u16string& given) {
  if (given.empty() || given[0] == u'\\') return given;
  std::string host = ToHostBytes(given);
  if (host[0] != '/') {
    char* folder = getcwd(nullptr, 0);
    if (folder == nullptr) return given;
    host = std::string(folder) + "/" + host;
    std::free(folder);
  }
  // "." and empty names add nothing; ".." is kept, since a link may stand before it.
  std::string full;
  size_t start = 1;
  while (start <= host.size()) {
    size_t end = host.find('/', start);
    if (end == std::string::npos) end = host.size();
    const std::string name = host.substr(start, end - start);
    if (!name.empty() && name != ".") full += "/" + name;
    start = end + 1;
  }
  return DevicePath(full.empty() ? "/" : full);
}

// ---- Failing on purpose ---------------------------------------------------------------------------

namespace {

int faults[kFileStepCount] = {};

// True when this is the step a test asked to fail; errno then says why, as the disk would.
bool Injected(FileStep step) {
  if (faults[step] == 0 || --faults[step] > 0) return false;
  errno = step == kFileWrite ? ENOSPC : EIO;
  return true;
}

}  // namespace

void FailFileStep(FileStep step, int nth) { faults[step] = nth > 0 ? nth : 0; }

bool FileFaultPending() {
  for (int n : faults) {
    if (n > 0) return true;
  }
  return false;
}

// ---- The steps ------------------------------------------------------------------------------------

namespace {

int TemporaryStep(std::string* name) {
  if (Injected(kFileOpen)) return -1;
  return mkostemp(name->data(), O_CLOEXEC);
}

int WriteStep(int fd, long long offset, const void* data, size_t size) {
  const bool fails = Injected(kFileWrite);
  const auto* bytes = static_cast<const unsigned char*>(data);
  const size_t end = fails ? (size > 2 ? size / 2 : 0) : size;
  size_t done = 0;
  while (done < end) {
    const ssize_t n = pwrite(fd, bytes + done, end - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    done += static_cast<size_t>(n);
  }
  if (fails) errno = ENOSPC;
  return fails ? 1 : 0;
}

int SyncStep(int fd) {
  if (Injected(kFileSync)) return 1;
  return fsync(fd) == 0 ? 0 : 1;
}

int RenameStep(const std::string& from, const std::string& to) {
  if (Injected(kFileRename)) return 1;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : 1;
}

int TruncateStep(int fd, long long size) {
  if (Injected(kFileTruncate)) return 1;
  return ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : 1;
}

bool Usable(const std::string& hostPath) { return !hostPath.empty() && hostPath.find('\0') == std::string::npos; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a write lands: the last name's links followed one by one to what they name, which need
// not exist yet. The folders on the way may be links; a rename works through them.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return path;
    const std::string target(buffer, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (target[0] == '/' || slash == std::string::npos) {
      path = target;
    } else {
      path.erase(slash + 1);  // the link's folder, which a relative target starts from
      path += target;
    }
  }
  return path;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

int Failed(std::string* error, int code) {
  if (error != nullptr) *error = std::strerror(code);
  return 1;
}

// The bytes to a temporary file beside target, onto the disk, then in target's place. An existing
// file's owner and group go to the new one where we may give them; with keepOwner a file that
// can't keep them is left as it was.
int Replace(const std::string& target, const void* data, size_t size, mode_t mode, const struct stat* old,
            bool keepOwner, std::string* error) {
  std::string temp = target + ".XXXXXX";
  const int fd = TemporaryStep(&temp);
  if (fd < 0) return Failed(error, errno);
  bool ok = WriteStep(fd, 0, data, size) == 0;
  if (ok && old != nullptr) {
    struct stat made;
    if (fstat(fd, &made) == 0 && (made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        fchown(fd, old->st_uid, old->st_gid) != 0 && keepOwner) {
      ok = false;
    }
  }
  // After the owner: giving a file away clears its set-id bits.
  ok = ok && fchmod(fd, mode) == 0 && SyncStep(fd) == 0;
  int code = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (!ok || RenameStep(temp, target) != 0) {
    if (ok) code = errno;
    unlink(temp.c_str());
    return Failed(error, code);
  }
  // The rename reaches the disk with its folder. Should that fail, the file is in place all the
  // same, and a crash would leave the old content or the new one.
  const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    SyncStep(folder);
    close(folder);
  }
  return 0;
}

// A regular file, opened without waiting: O_NONBLOCK keeps a FIFO from holding the open, and goes
// again once the file is known to be a regular one. "wb" empties the file only then.
int OpenRegular(const std::string& path, int flags, struct stat* info) {
  if (!Usable(path)) return -1;
  int fd;
  do {
    fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode) || status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      ((flags & O_TRUNC) && ftruncate(fd, 0) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// ---- Reading ----------------------------------------------------------------------------------------

std::FILE* OpenHostFile(const std::string& hostPath, const char* mode) {
  // Text modes would be meaningless here and on the device alike; only binary ones are honoured.
  int flags;
  if (std::strcmp(mode, "rb") == 0) {
    flags = O_RDONLY;
  } else if (std::strcmp(mode, "r+b") == 0) {
    flags = O_RDWR;
  } else if (std::strcmp(mode, "wb") == 0) {
    flags = O_WRONLY | O_CREAT | O_TRUNC;
  } else {
    return nullptr;
  }
  struct stat info;
  const int fd = OpenRegular(hostPath, flags, &info);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

std::FILE* OpenDeviceFile(const std::u16string& devicePath, const char* mode) {
  return OpenHostFile(HostPath(devicePath), mode);
}

long long FileSize(std::FILE* file) {
  struct stat info;
  if (file == nullptr || fstat(fileno(file), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

bool SameHostFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return Usable(a) && Usable(b) && stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool DeviceFileExists(const std::u16string& devicePath) {
  const std::string path = HostPath(devicePath);
  struct stat info;
  return Usable(path) && lstat(path.c_str(), &info) == 0;
}

bool IsReadOnlyHostFile(const std::string& hostPath) {
  struct stat info;
  if (!Usable(hostPath) || stat(hostPath.c_str(), &info) != 0) return false;
  return (info.st_mode & 0222) == 0 || faccessat(AT_FDCWD, hostPath.c_str(), W_OK, AT_EACCESS) != 0;
}

// ---- Writing a whole file -----------------------------------------------------------------------

int WriteHostFile(const std::string& hostPath, const void* data, size_t size, std::string* error) {
  if (!Usable(hostPath)) return Failed(error, ENOENT);
  const std::string target = FollowLinks(hostPath);
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) return Failed(error, EISDIR);
  // A FIFO or a device can't be replaced, and writing into one is no file written whole.
  if (exists && !S_ISREG(old.st_mode)) return Failed(error, EINVAL);
  const mode_t mode = exists ? old.st_mode & 07777 : NewFileMode();
  return Replace(target, data, size, mode, exists ? &old : nullptr, false, error);
}

int WriteWholeFile(const std::u16string& devicePath, const void* data, size_t size) {
  return WriteHostFile(HostPath(devicePath), data, size, nullptr);
}

int WriteNewFile(const std::u16string& devicePath, const void* data, size_t size) {
  const std::string target = HostPath(devicePath);
  if (!Usable(target)) return 1;
  std::string temp = target + ".XXXXXX";
  const int fd = TemporaryStep(&temp);
  if (fd < 0) return 1;
  bool ok = WriteStep(fd, 0, data, size) == 0 && fchmod(fd, NewFileMode()) == 0 && SyncStep(fd) == 0;
  ok = close(fd) == 0 && ok;
  // A second name for the finished file, which the file system refuses where one exists already.
  if (ok && link(temp.c_str(), target.c_str()) != 0) {
    // A file system without hard links may still rename without replacing.
    ok = (errno == EPERM || errno == EOPNOTSUPP) &&
         renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
  }
  unlink(temp.c_str());
  if (!ok) return 1;
  const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    SyncStep(folder);
    close(folder);
  }
  return 0;
}

// ---- Updating part of a file ----------------------------------------------------------------------

int OpenFileUpdate(const std::u16string& devicePath, FileUpdate* file) {
  *file = FileUpdate();
  const std::string target = FollowLinks(HostPath(devicePath));
  struct stat info;
  if (Injected(kFileOpen)) return 1;
  const int fd = OpenRegular(target, O_RDWR | O_NOFOLLOW, &info);
  if (fd < 0) return 1;
  if ((info.st_mode & 0222) == 0) {
    close(fd);
    return 1;
  }
  file->descriptor = fd;
  file->hostPath = target;
  file->size = static_cast<long long>(info.st_size);
  file->mode = info.st_mode & 07777;
  file->group = info.st_gid;
  // A rename would give the user a new file: another owner, no other links, no extended
  // attributes. Only where nothing of that kind is lost, and the folder takes a new name, is it
  // the way.
  file->replaceable = info.st_nlink == 1 && info.st_uid == geteuid() && flistxattr(fd, nullptr, 0) <= 0 &&
                      faccessat(AT_FDCWD, FolderOf(target).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  return 0;
}

int OpenLockedFileUpdate(const std::u16string& devicePath, FileUpdate* file) {
  // Another writer holds the lock for the few writes and syncs of one record; two seconds is far
  // beyond that, and short enough for a program to go on when something holds it for good.
  constexpr int kPatience = 200;
  constexpr auto kPause = std::chrono::milliseconds(10);
  for (int reopened = 0; reopened < 8; ++reopened) {
    if (OpenFileUpdate(devicePath, file) != 0) return 1;
    int waited = 0;
    while (flock(file->descriptor, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || ++waited > kPatience) {
        CloseFileUpdate(file);
        return 1;
      }
      std::this_thread::sleep_for(kPause);
    }
    // What we waited for may have replaced the file whole: the lock and the descriptor are then
    // on content nobody reads any more. The size may have changed in place too.
    struct stat open, named;
    if (fstat(file->descriptor, &open) == 0 && stat(file->hostPath.c_str(), &named) == 0 &&
        open.st_dev == named.st_dev && open.st_ino == named.st_ino) {
      file->size = static_cast<long long>(open.st_size);
      return 0;
    }
    CloseFileUpdate(file);
  }
  return 1;
}

int ReadFileAt(const FileUpdate& file, long long offset, void* data, size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(file.descriptor, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int WriteFileAt(const FileUpdate& file, long long offset, const void* data, size_t size) {
  return WriteStep(file.descriptor, offset, data, size);
}

int SyncFile(const FileUpdate& file) { return SyncStep(file.descriptor); }

int TruncateFile(const FileUpdate& file, long long size) { return TruncateStep(file.descriptor, size); }

int ReserveFileSpace(const FileUpdate& file, long long offset, long long size) {
  if (size <= 0) return 0;
  if (fallocate(file.descriptor, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(size)) == 0) {
    return 0;
  }
  return errno == ENOSPC || errno == EDQUOT ? 1 : 0;
}

int ReplaceUpdatedFile(const FileUpdate& file, const void* data, size_t size) {
  struct stat old;
  if (!file.replaceable || fstat(file.descriptor, &old) != 0) return 1;
  return Replace(file.hostPath, data, size, static_cast<mode_t>(file.mode), &old, true, nullptr);
}

void CloseFileUpdate(FileUpdate* file) {
  if (file->descriptor >= 0) close(file->descriptor);
  file->descriptor = -1;
}

// ---- The running program ------------------------------------------------------------------------

std::u16string ModuleFileName() {
  char buffer[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::u16string();
  return DevicePath(std::string(buffer, static_cast<size_t>(length)));
}
