// The program folder, the data paths beside it, where the programs write, and small UTF-16 text
// files such as the last-circuit file.
#pragma once

#include <string>

// Data paths: each is the program folder followed by one of these.
inline constexpr char16_t kMenuBarFile[] = u"\\Data\\MenuBar.pic";
inline constexpr char16_t kGoButtonFile[] = u"\\Data\\GoButton.pic";
inline constexpr char16_t kMenuFile[] = u"\\Data\\Menu.pic";
inline constexpr char16_t kSubMenuFile[] = u"\\Data\\SubMenu_NPlayer.pic";
inline constexpr char16_t kTitleFile[] = u"\\Data\\GameData.dat";
inline constexpr char16_t kDigitsFile[] = u"\\Data\\Numbers-CourierNew14.pic";
inline constexpr char16_t kBadgesFile[] = u"\\Data\\Badges.pic";
inline constexpr char16_t kLastCircuitFile[] = u"\\Data\\lastmap.dat";
inline constexpr char16_t kScreenshotFile[] = u"\\ScrSave.pic";
inline constexpr char16_t kSelectorProgram[] = u"\\Apexpick.exe";
inline constexpr char16_t kGameProgram[] = u"\\Apexgrid.exe";
inline constexpr char16_t kLobbyProgram[] = u"\\Apexlobby.exe";
inline constexpr char16_t kCircuitsFolder[] = u"\\Circuits\\";
// The desktop window's scale and full screen (platform/settings.h), beside the last-circuit file.
inline constexpr char16_t kWindowSettingsFile[] = u"\\Data\\window.txt";
// Present in an installed program folder only (the install step puts it there): such a folder is
// the package manager's, and is never written, whoever runs the programs.
inline constexpr char16_t kInstalledMarkFile[] = u"\\Data\\installed.txt";

// Full path of the running program file.
std::u16string GetModulePath();

// The program folder: the module path cut before its last backslash (never ending in one), or
// "\" when the module path has no backslash.
std::u16string GetProgramFolder();
// The same rule for a given module path.
std::u16string ProgramFolderOf(const std::u16string& modulePath);

// ---- Where the programs write -------------------------------------------------------------------
//
// Everything the programs write (the last-circuit file, the screenshot, settings, circuit records)
// goes into the program folder when this user can write to it, as on the hand-held, and it isn't
// an installed one (it holds the installed mark). An installed or read-only program folder is
// never written: the per-user folder (platform/folders.h) takes its place, laid out the same way,
// with Data and Circuits folders inside. A shipped circuit whose
// record is to be written is first copied into the per-user Circuits folder, and from then on that
// private copy is the one played; the player's own circuits can be put there too.

// The folder that takes what the programs write: the program folder or the per-user folder (made
// with its Data and Circuits folders when it is first needed). When the per-user folder can't be
// made (a read-only home), a program folder that takes writes and isn't installed, else the
// per-user folder all the same, so that writes fail quietly rather than land in an installed tree.
// The program folder also when there is no per-user folder to be had at all.
std::u16string GetWritableFolder();
// The same rule for given folders: userFolder when the program folder takes no writes or is
// installed, and userFolder isn't empty, else programFolder.
std::u16string WritableFolderOf(const std::u16string& programFolder, const std::u16string& userFolder);
// True when the program folder holds the installed mark.
bool IsInstalledFolder(const std::u16string& programFolder);

// The per-user copy that stands for a shipped circuit: for a path directly in the program
// folder's Circuits folder, the file of the same name in the writable folder's Circuits folder;
// empty for any other path, and when the writable folder is the program folder itself.
std::u16string PrivateCopyOf(const std::u16string& circuitPath, const std::u16string& programFolder,
                             const std::u16string& writableFolder);

// The circuit file to load for a path: the private copy of a shipped circuit when there is one,
// else the path itself.
std::u16string CircuitToLoad(const std::u16string& path);

// The file a new record of the circuit is written into: the private copy of a shipped circuit
// (copied from the shipped file first, when it isn't there yet), else the circuit's own file.
// Empty when the copy can't be made.
std::u16string RecordFile(const std::u16string& circuitPath);

// The whole file as UTF-16 little-endian text; empty when it can't be opened. A final odd byte is
// dropped.
std::u16string ReadTextFile(const std::u16string& path);

// Replaces the file with the text's code units, little-endian, nothing else, whole: it holds the
// old text or the new one at every moment. A file that can't be written keeps its old text and
// nothing is said.
void WriteTextFile(const std::u16string& path, const std::u16string& text);
