// Files on device paths, and the path of the running program.
//
// The game speaks in device paths: absolute, backslash-separated, no drive letter. They map one
// to one onto host paths by exchanging the separators; forward slashes pass through unchanged, so
// a path typed in a shell works as it is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

std::string HostPath(const std::u16string& devicePath);
std::u16string DevicePath(const std::string& hostPath);

// Opens a file in one of the binary modes "rb", "wb", "r+b"; null when it can't be opened.
std::FILE* OpenDeviceFile(const std::u16string& devicePath, const char* mode);

// Size in bytes of an open file, or -1 when it can't be told. The read position is kept.
long long FileSize(std::FILE* file);

// Replaces the whole content of an existing file so that a crash at any moment leaves either the
// old content or the new one: the new bytes go to a temporary file beside it, reach the disk, and
// take the old file's place in one rename. The file keeps its permissions. 0 on success, 1 when
// nothing was changed.
int ReplaceFileContent(const std::u16string& devicePath, const void* data, size_t size);

// Writes a whole file, new or existing, the same way: the bytes go to a temporary file beside it
// and take its place in one rename, so that nobody ever reads it half-written. A new file gets the
// permissions a new file gets; an existing one keeps its own. 0 on success, 1 when nothing was
// changed.
int WriteWholeFile(const std::u16string& devicePath, const void* data, size_t size);

// Full device path of the running program file.
std::u16string ModuleFileName();
