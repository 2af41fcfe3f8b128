// Apexpick's dialog state and handlers.
#include "selector/selector.h"

#include "data/folder.h"
#include "platform/find.h"
#include "platform/process.h"
#include "platform/script.h"

namespace {

void FillCircuitList(SelectorDialog* dialog) {
  CircuitTable& table = dialog->table;
  const std::u16string folder = dialog->programFolder + kCircuitsFolder;
  const std::u16string pattern = folder + u"*.cct";
  table.circuitCount = 0;
  table.moreThanListed = false;
  dialog->listLines.clear();
  FindData found;
  FindHandle search = FindFirstFile(pattern, &found);
  if (search == nullptr) return;
  do {
    if (found.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // The table has a fixed size: what doesn't fit is left out, and the dialog says so.
    if (table.circuitCount >= kCircuitTableSize) {
      table.moreThanListed = true;
      break;
    }
    table.entries[table.circuitCount] = folder + found.fileName;
    ++table.circuitCount;
    dialog->listLines.push_back(DisplayName(found.fileName));
  } while (FindNextFile(search, &found));
  FindClose(search);
}

// The player's own circuits and private copies, from the per-user folder.
void AddOwnCircuits(SelectorDialog* dialog) {
  if (dialog->writableFolder.empty() || dialog->writableFolder == dialog->programFolder) return;
  CircuitTable& table = dialog->table;
  const std::u16string shipped = dialog->programFolder + kCircuitsFolder;
  const std::u16string own = dialog->writableFolder + kCircuitsFolder;
  FindData found;
  FindHandle search = FindFirstFile(own + u"*.cct", &found);
  if (search == nullptr) return;
  do {
    if (found.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    bool replaced = false;
    for (int i = 0; i < table.circuitCount && !replaced; ++i) {
      if (table.entries[i] != shipped + found.fileName) continue;
      table.entries[i] = own + found.fileName;
      replaced = true;
    }
    if (replaced) continue;
    if (table.circuitCount >= kCircuitTableSize) {
      table.moreThanListed = true;
      continue;  // a later file may still be the copy of a listed circuit
    }
    table.entries[table.circuitCount] = own + found.fileName;
    ++table.circuitCount;
    dialog->listLines.push_back(DisplayName(found.fileName));
  } while (FindNextFile(search, &found));
  FindClose(search);
}

}  // namespace

std::u16string DisplayName(const std::u16string& fileName) {
  std::u16string name = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::u16string();
  // What stands for a host "\" or for a byte that isn't UTF-8 (platform/files.h) is the mapping's
  // own, no letter of the name: it shows as the replacement character.
  for (char16_t& c : name) {
    if (c == u'\uF05C' || (c >= 0xDC80 && c <= 0xDCFF)) c = u'\uFFFD';
  }
  return name;
}

void InitSelectorDialog(SelectorDialog* dialog, const std::u16string& programFolder,
                        const std::u16string& writableFolder) {
  dialog->programFolder = programFolder;
  dialog->writableFolder = writableFolder;
  dialog->selected = -1;
  dialog->revealSelection = false;
  dialog->ended = false;
  FillCircuitList(dialog);
  AddOwnCircuits(dialog);
}

int SelectLine(SelectorDialog* dialog, int line) {
  if (line < 0 || line >= static_cast<int>(dialog->listLines.size())) return 1;
  dialog->selected = line;
  dialog->revealSelection = true;
  return 0;
}

void MoveSelection(SelectorDialog* dialog, int step) {
  const int count = static_cast<int>(dialog->listLines.size());
  if (count == 0) return;
  int line = dialog->selected < 0 ? 0 : dialog->selected + step;
  if (line < 0) line = 0;
  if (line > count - 1) line = count - 1;
  SelectLine(dialog, line);
}

bool ChooseGameStart(const SelectorDialog& dialog, GameStart* start) {
  if (dialog.selected < 0 || dialog.selected >= dialog.table.circuitCount) return false;
  start->program = dialog.programFolder + kGameProgram;
  start->commandLine = dialog.table.entries[dialog.selected];
  return true;
}

void OnStart(SelectorDialog* dialog) {
  GameStart start;
  if (!ChooseGameStart(*dialog, &start)) return;
  // A game that can't be started is not reported: the selector ends all the same.
  CreateProcess(start.program, start.commandLine);
  dialog->ended = true;
}

void OnStorno(SelectorDialog* dialog) { dialog->ended = true; }

void OnCaptionOk(SelectorDialog* dialog) { dialog->ended = true; }

int PlaySelectorLine(SelectorDialog* dialog, const ScriptEvent& event, std::string* error) {
  switch (event.action) {
    case ScriptAction::kSelect:
      if (SelectLine(dialog, event.index) != 0) {
        *error = "`select " + std::to_string(event.index) + "`: the list has " +
                 std::to_string(dialog->listLines.size()) + " lines";
        return 1;
      }
      return 0;
    case ScriptAction::kStart:
      OnStart(dialog);
      return 0;
    case ScriptAction::kStorno:
      OnStorno(dialog);
      return 0;
    case ScriptAction::kOk:
      OnCaptionOk(dialog);
      return 0;
    default:
      *error = "not a line for the selector's dialog";
      return 1;
  }
}
