// Folder search by name pattern over the host's directory listing.
#include "platform/find.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/files.h"

struct FindState {
  DIR* folder = nullptr;
  std::string hostFolder;
  std::u16string pattern;
};

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_NORMAL for a regular file, or 0 for anything else (a
// FIFO, a device, a socket, a link to nothing), which is no file of ours.
uint32_t KindOf(const std::string& hostFolder, const dirent* entry) {
  if (entry->d_type == DT_DIR) return FILE_ATTRIBUTE_DIRECTORY;
  if (entry->d_type == DT_REG) return FILE_ATTRIBUTE_NORMAL;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return 0;
  // Links and file systems that don't tell the type: ask for what the name leads to.
  struct stat info;
  const std::string path = hostFolder + "/" + entry->d_name;
  if (stat(path.c_str(), &info) != 0) return 0;
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return S_ISREG(info.st_mode) ? FILE_ATTRIBUTE_NORMAL : 0;
}

int NextMatch(FindState* search, FindData* found) {
  while (dirent* entry = readdir(search->folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // A name alone holds no "/": the mapping turns only its "\" and its bytes that aren't UTF-8.
    const std::u16string wide = DevicePath(name);
    if (!MatchesFilePattern(wide, search->pattern)) continue;
    const uint32_t kind = KindOf(search->hostFolder, entry);
    if (kind == 0) continue;
    found->fileName = wide;
    found->attributes = kind;
    return 1;
  }
  return 0;
}

}  // namespace

bool MatchesFilePattern(const std::u16string& name, const std::u16string& pattern) {
  // Greedy match with one step of backtracking to the last star: linear enough for file names.
  size_t n = 0, p = 0;
  size_t starP = std::u16string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

FindHandle FindFirstFile(const std::u16string& pattern, FindData* found) {
  const size_t cut = pattern.find_last_of(u"\\/");
  std::u16string folder;
  std::u16string names;
  if (cut == std::u16string::npos) {
    folder = u".";
    names = pattern;
  } else {
    folder = cut == 0 ? pattern.substr(0, 1) : pattern.substr(0, cut);
    names = pattern.substr(cut + 1);
  }
  auto* search = new FindState;
  search->hostFolder = HostPath(folder);
  search->pattern = names;
  search->folder = opendir(search->hostFolder.c_str());
  if (search->folder == nullptr || NextMatch(search, found) == 0) {
    FindClose(search);
    return nullptr;
  }
  return search;
}

int FindNextFile(FindHandle search, FindData* found) {
  if (search == nullptr || search->folder == nullptr) return 0;
  return NextMatch(search, found);
}

int FindClose(FindHandle search) {
  if (search == nullptr) return 0;
  if (search->folder != nullptr) closedir(search->folder);
  delete search;
  return 1;
}
