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

// ---- Reading ------------------------------------------------------------------------------------

// Opens an existing regular file in one of the binary modes "rb", "r+b", or "wb" (which creates
// or empties it); null when it can't be opened. Never waits: a FIFO, a device or a folder is
// refused at once, as an unreadable file would be.
std::FILE* OpenHostFile(const std::string& hostPath, const char* mode);
std::FILE* OpenDeviceFile(const std::u16string& devicePath, const char* mode);

// Size in bytes of an open file, or -1 when it can't be told. The read position is kept.
long long FileSize(std::FILE* file);

// True when both paths lead to one and the same existing file, whatever their names.
bool SameHostFile(const std::string& a, const std::string& b);
// True when something stands at the path, readable or not (a dangling link too).
bool DeviceFileExists(const std::u16string& devicePath);
// True when the file exists and its owner made it read-only (no write permission for anyone), or
// we may not write it.
bool IsReadOnlyHostFile(const std::string& hostPath);

// ---- Writing a whole file -----------------------------------------------------------------------

// Writes a file whole, so that it holds its old content or the new one at every moment, a crash
// included: the bytes go to a temporary file beside it, reach the disk, and take its place in one
// rename. A link is followed and kept; an existing file keeps its permissions (and its owner,
// where we may give it). 0 on success; 1 with the reason in *error (when given), and the file as
// it was.
int WriteHostFile(const std::string& hostPath, const void* data, size_t size, std::string* error);
int WriteWholeFile(const std::u16string& devicePath, const void* data, size_t size);
// Makes a new file, whole, only where nothing stands at the path yet: never over a file another
// process made meanwhile. 0 when this call made it; 1 otherwise, nothing changed.
int WriteNewFile(const std::u16string& devicePath, const void* data, size_t size);

// ---- Updating part of a file that the user keeps ------------------------------------------------

// An existing regular file opened to take a change in place, for the circuit's record.
struct FileUpdate {
  int descriptor = -1;
  std::string hostPath;  // the file itself, every link on the way followed
  long long size = 0;
  unsigned mode = 0;
  unsigned group = 0;
  // The file can be replaced whole through a rename without its user losing anything: a plain
  // file with one link, owned by us, without extended attributes (access lists among them), in a
  // folder we may write.
  bool replaceable = false;
};

// 0 when opened; 1 when it is missing, not a regular file, or can't be written. A file that its
// owner made read-only (no write permission for anyone) is not opened, not even for root.
int OpenFileUpdate(const std::u16string& devicePath, FileUpdate* file);
// The same, holding an exclusive lock (flock) on the file until it is closed, so that writers
// taking turns each see what the one before left. A file another writer replaced while we waited
// is opened again: the lock then is on the file the path names. 1 also when the lock isn't had
// within a few seconds (a writer that never lets go must not freeze the program).
int OpenLockedFileUpdate(const std::u16string& devicePath, FileUpdate* file);
// Each 0 on success, 1 on failure.
int ReadFileAt(const FileUpdate& file, long long offset, void* data, size_t size);
int WriteFileAt(const FileUpdate& file, long long offset, const void* data, size_t size);
int SyncFile(const FileUpdate& file);
int TruncateFile(const FileUpdate& file, long long size);
// Sets aside room on the disk for bytes offset to offset + size, so that writing them can't run
// out of space halfway. 1 when the disk is full; 0 otherwise, also where the file system can't
// set room aside.
int ReserveFileSpace(const FileUpdate& file, long long offset, long long size);
// Replaces a replaceable file whole, the way WriteHostFile does. 0 on success; 1 and the file as it
// was. The descriptor still refers to the old content afterwards.
int ReplaceUpdatedFile(const FileUpdate& file, const void* data, size_t size);
void CloseFileUpdate(FileUpdate* file);

// ---- Failing on purpose, for tests --------------------------------------------------------------

// The steps by which files are written and updated (reading is never made to fail).
enum FileStep { kFileOpen, kFileWrite, kFileSync, kFileRename, kFileTruncate, kFileStepCount };

// Makes the nth step of the kind from now on (1: the next one) fail as a failing or full disk
// would: a failed write of more than two bytes writes its first half. 0 takes the fault back.
void FailFileStep(FileStep step, int nth);
// True while a fault set by FailFileStep is still to come.
bool FileFaultPending();

// ---- The running program ------------------------------------------------------------------------

// Full device path of the running program file.
std::u16string ModuleFileName();
