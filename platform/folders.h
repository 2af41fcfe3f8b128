// Folders the programs write into: the per-user data folder, whether a folder takes writes, and
// making one.
#pragma once

#include <string>

// The per-user data folder as a device path: $XDG_DATA_HOME/apexgrid, or, when that variable is
// unset, empty or not an absolute path, $HOME/.local/share/apexgrid, the account's home standing
// in for a HOME that is unset or not absolute. Empty when none can be had. Whether it exists is
// not looked at.
std::u16string UserDataFolder();

// Non-zero when the folder exists and this user may create and replace files in it.
int FolderTakesWrites(const std::u16string& devicePath);

// Makes the folder and any missing folder above it (new ones readable by their owner only, as
// per-user data should be). 0 when the folder exists afterwards, 1 when it can't be made.
int MakeFolders(const std::u16string& devicePath);
