// Searching a folder for files by a name pattern, as the selector lists its circuits.
//
//   FindData found;
//   FindHandle search = FindFirstFile(folder + u"*.cct", &found);
//   if (search != nullptr) {
//     do {
//       if (found.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
//       ... found.fileName ...
//     } while (FindNextFile(search, &found));
//     FindClose(search);
//   }
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct FindData {
  uint32_t attributes = 0;  // FILE_ATTRIBUTE_DIRECTORY for folders, else FILE_ATTRIBUTE_NORMAL
  std::u16string fileName;  // the entry's name alone, as the file system spells it
};

struct FindState;
using FindHandle = FindState*;

// Starts a search for a device path whose last part is a name pattern ("\x\Circuits\*.cct").
// `*` stands for any run of characters and `?` for one; letters match in either case, as the
// hand-held's file system did ("*.cct" finds Ring.cct and oval.CCT, not notes.txt or a.cctx).
// Entries come in the order the file system keeps them; "." and ".." are never reported.
// Folders are reported too, marked FILE_ATTRIBUTE_DIRECTORY (a link counts as what it points at);
// anything that is neither a folder nor a regular file (a FIFO, a device, a link to nothing) is
// not. Names come in the device's spelling of host names (see platform/files.h).
// Returns a handle with the first entry in *found, or null when the folder can't be read or
// nothing matches.
FindHandle FindFirstFile(const std::u16string& pattern, FindData* found);

// The next matching entry into *found: non-zero, or 0 when there is none left.
int FindNextFile(FindHandle search, FindData* found);

// Ends a search. Non-zero.
int FindClose(FindHandle search);

// The name-pattern rule of FindFirstFile on its own.
bool MatchesFilePattern(const std::u16string& name, const std::u16string& pattern);
