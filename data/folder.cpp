// Program folder, where the programs write, and UTF-16 text files.
#include "data/folder.h"

#include <cstdio>
#include <vector>

#include "platform/byte_order.h"
#include "platform/files.h"
#include "platform/folders.h"

std::u16string GetModulePath() { return ModuleFileName(); }

std::u16string ProgramFolderOf(const std::u16string& modulePath) {
  const size_t slash = modulePath.rfind(u'\\');
  if (slash == std::u16string::npos) return u"\\";
  return modulePath.substr(0, slash);
}

std::u16string GetProgramFolder() { return ProgramFolderOf(GetModulePath()); }

std::u16string ReadTextFile(const std::u16string& path) {
  std::u16string text;
  std::FILE* file = OpenDeviceFile(path, "rb");
  if (file == nullptr) return text;
  unsigned char buffer[4096];
  size_t carried = 0;  // an odd byte left from the previous chunk
  size_t got;
  while ((got = std::fread(buffer + carried, 1, sizeof buffer - carried, file)) > 0) {
    const size_t have = carried + got;
    size_t i = 0;
    for (; i + 1 < have; i += 2) {
      text += static_cast<char16_t>(ReadU16(buffer + i));
    }
    carried = have - i;
    if (carried) buffer[0] = buffer[i];
  }
  std::fclose(file);
  return text;
}

void WriteTextFile(const std::u16string& path, const std::u16string& text) {
  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) AppendU16(bytes, c);
  // Whole or not at all: a crash or a full disk never leaves half a path to load next time.
  WriteWholeFile(path, bytes.data(), bytes.size());
}

// ---- Where the programs write ---------------------------------------------------------------------

bool IsInstalledFolder(const std::u16string& programFolder) {
  return DeviceFileExists(programFolder + kInstalledMarkFile);
}

std::u16string WritableFolderOf(const std::u16string& programFolder, const std::u16string& userFolder) {
  // Root may write anywhere, so "may I write it" alone would let a game run as root write into
  // the package manager's tree.
  if (userFolder.empty() || (FolderTakesWrites(programFolder) && !IsInstalledFolder(programFolder))) {
    return programFolder;
  }
  return userFolder;
}

std::u16string GetWritableFolder() {
  std::u16string program = GetProgramFolder();
  std::u16string folder = WritableFolderOf(program, UserDataFolder());
  if (folder == program) return program;
  // The per-user folder is made as it is first needed; without it nothing can be kept. An installed
  // tree is no place to keep it instead: writes then fail, and the records say so.
  if (MakeFolders(folder + u"\\Data") != 0 || MakeFolders(folder + u"\\Circuits") != 0) {
    return IsInstalledFolder(program) ? folder : program;
  }
  return folder;
}

std::u16string PrivateCopyOf(const std::u16string& circuitPath, const std::u16string& programFolder,
                             const std::u16string& writableFolder) {
  if (writableFolder == programFolder) return std::u16string();
  // A path typed in a shell may use forward slashes; the device's own use backslashes.
  std::u16string path = circuitPath;
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  const std::u16string shipped = programFolder + kCircuitsFolder;
  const size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos || slash + 1 == path.size()) return std::u16string();
  const std::u16string folder = path.substr(0, slash + 1);
  // The same folder by another name (a link to it, a "..") holds the same shipped circuits.
  if (folder != shipped &&
      !SameHostFile(HostPath(path.substr(0, slash)), HostPath(shipped.substr(0, shipped.size() - 1)))) {
    return std::u16string();
  }
  return writableFolder + kCircuitsFolder + path.substr(slash + 1);
}

std::u16string CircuitToLoad(const std::u16string& path) {
  std::u16string copy = PrivateCopyOf(path, GetProgramFolder(), GetWritableFolder());
  if (copy.empty()) return path;
  std::FILE* file = OpenDeviceFile(copy, "rb");
  if (file == nullptr) return path;
  std::fclose(file);
  return copy;
}

std::u16string RecordFile(const std::u16string& circuitPath) {
  std::u16string copy = PrivateCopyOf(circuitPath, GetProgramFolder(), GetWritableFolder());
  if (copy.empty()) return circuitPath;
  if (std::FILE* existing = OpenDeviceFile(copy, "rb")) {
    std::fclose(existing);
    return copy;
  }
  // A copy that is there but can't be read is the user's to mend; the shipped file never
  // replaces it, nor the record it may hold.
  if (DeviceFileExists(copy)) return std::u16string();
  std::FILE* shipped = OpenDeviceFile(circuitPath, "rb");
  if (shipped == nullptr) return std::u16string();
  std::vector<unsigned char> bytes;
  unsigned char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, shipped)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool read = std::ferror(shipped) == 0;
  std::fclose(shipped);
  if (!read) return std::u16string();
  // Made only where none stands: another writer (the circuit tool) may have made the copy since we
  // looked, and put a record into it.
  if (WriteNewFile(copy, bytes.data(), bytes.size()) != 0) {
    std::FILE* made = OpenDeviceFile(copy, "rb");
    if (made == nullptr) return std::u16string();
    std::fclose(made);
  }
  return copy;
}
