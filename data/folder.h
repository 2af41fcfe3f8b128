// The program folder, the data paths beside it, and small UTF-16 text files such as the
// last-circuit file.
#pragma once

#include <string>

// Data paths: each is the program folder followed by one of these.
inline constexpr char16_t kMenuBarFile[] = u"\\Data\\MenuBar.pic";
inline constexpr char16_t kGoButtonFile[] = u"\\Data\\GoButton.pic";
inline constexpr char16_t kMenuFile[] = u"\\Data\\Menu.pic";
inline constexpr char16_t kSubMenuFile[] = u"\\Data\\SubMenu_NPlayer.pic";
inline constexpr char16_t kTitleFile[] = u"\\Data\\GameData.dat";
inline constexpr char16_t kDigitsFile[] = u"\\Data\\Numbers-CourierNew14.pic";
inline constexpr char16_t kLastCircuitFile[] = u"\\Data\\lastmap.dat";
inline constexpr char16_t kScreenshotFile[] = u"\\ScrSave.pic";
inline constexpr char16_t kSelectorProgram[] = u"\\Apexpick.exe";
inline constexpr char16_t kGameProgram[] = u"\\Apexgrid.exe";
inline constexpr char16_t kCircuitsFolder[] = u"\\Circuits\\";

// Full path of the running program file.
std::u16string GetModulePath();

// The program folder: the module path cut before its last backslash (never ending in one), or
// "\" when the module path has no backslash.
std::u16string GetProgramFolder();
// The same rule for a given module path.
std::u16string ProgramFolderOf(const std::u16string& modulePath);

// The whole file as UTF-16 little-endian text; empty when it can't be opened. A final odd byte is
// dropped.
std::u16string ReadTextFile(const std::u16string& path);

// Replaces the file with the text's code units, little-endian, nothing else, whole: it holds the
// old text or the new one at every moment. A file that can't be written keeps its old text and
// nothing is said.
void WriteTextFile(const std::u16string& path, const std::u16string& text);
