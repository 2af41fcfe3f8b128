// Files on device paths, and the path of the running program.
//
// The game speaks in device paths: absolute, backslash-separated, no drive letter. Host names map
// onto them one to one and back without losing anything: the host's "/" is the device's "\", a
// "\" inside a host name is U+F05C (a character no host name gives otherwise), and each byte of a
// host name that is not UTF-8 is a lone surrogate U+DC80 to U+DCFF. Going back, a device "/"
// stays "/", so a path typed in a shell works as it is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

std::string HostPath(const std::u16string& devicePath);
std::u16string DevicePath(const std::string& hostPath);

// A path given to a program (its command line) as a full device path. A device path, which begins
// with a backslash as the selector and the last-circuit file give them, is taken as it is.
// Anything else was typed in a shell or by a launcher: a host path, relative to the working folder
// unless it begins with "/". It is made absolute and mapped name by name, so that a backslash in
// it belongs to a name.
std::u16string FullDevicePath(const std::u16string& given);

// Opens a file in one of the binary modes "rb", "wb", "r+b"; null when it can't be opened.
std::FILE* OpenDeviceFile(const std::u16string& devicePath, const char* mode);

// Size in bytes of an open file, or -1 when it can't be told. The read position is kept.
long long FileSize(std::FILE* file);

// Replaces the whole content of an existing file so that a crash at any moment leaves either the
// old content or the new one: the new bytes go to a temporary file beside it, reach the disk, and
// take the old file's place in one rename. The file keeps its permissions. 0 on success, 1 when
// nothing was changed.
int ReplaceFileContent(const std::u16string& devicePath, const void* data, size_t size);

// Full device path of the running program file.
std::u16string ModuleFileName();
