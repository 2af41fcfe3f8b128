// Apexpick's dialog state and handlers: the circuit table, the list box, Start, Storno and OK.
//
// Kept apart from drawing, so that everything the dialog decides can be run without a window:
// the view (dialog_view.h) only shows this state and calls the handlers below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScriptEvent;

// The circuit table holds this many full paths; circuit files found beyond it are not listed.
constexpr int kCircuitTableSize = 1000;

// The circuits found in the program folder's Circuits folder. Entry i is the full path of the
// file shown in list line i.
struct CircuitTable {
  std::u16string entries[kCircuitTableSize];
  int16_t circuitCount = 0;
  // The folder held more circuit files than the table: the dialog says that only the first
  // kCircuitTableSize are listed.
  bool moreThanListed = false;
};

struct SelectorDialog {
  CircuitTable table;
  std::u16string programFolder;
  // Where the programs write (GetWritableFolder, data/folder.h): when it isn't the program folder,
  // its Circuits folder holds the player's own circuits and private copies of shipped ones.
  std::u16string writableFolder;
  // The list box, unsorted: line i shows entry i of the table.
  std::vector<std::u16string> listLines;
  int selected = -1;  // the selected list line, -1 for none
  // The selection was moved by a key or a script rather than the pen: the view scrolls it into
  // sight once and clears this.
  bool revealSelection = false;
  bool ended = false;
};

// The dialog's initialisation: the table and the list filled from programFolder + "\Circuits\"
// + "*.cct", in the order the file system gives them, folders skipped; nothing selected. With a
// writable folder other than the program folder, the circuits of its Circuits folder are listed
// too: a private copy takes the line of the shipped circuit of the same name, and the others
// follow the shipped ones, in the order the file system gives them.
void InitSelectorDialog(SelectorDialog* dialog, const std::u16string& programFolder,
                        const std::u16string& writableFolder = std::u16string());

// The list line for a circuit file: its name without the last four characters (".cct" in
// whatever case the file system keeps it). A "\" of the host's name and its bytes that aren't
// UTF-8 show as U+FFFD; the table keeps the name whole.
std::u16string DisplayName(const std::u16string& fileName);

// Selects a list line and has the view scroll it into sight. 0 on success; 1 (and nothing
// changes) when there is no such line.
int SelectLine(SelectorDialog* dialog, int line);

// The list's arrow keys: the selection moves by step lines and stops at either end; with nothing
// selected either key selects the first line.
void MoveSelection(SelectorDialog* dialog, int step);

// What Start would run: the game program beside the selector, given the selected circuit's full
// path as its whole command line, unquoted.
struct GameStart {
  std::u16string program;
  std::u16string commandLine;
};
// False when no line is selected.
bool ChooseGameStart(const SelectorDialog& dialog, GameStart* start);

// Start: with a selected line, starts the game on it and ends the dialog (whether or not the
// game could be started); with none, does nothing.
void OnStart(SelectorDialog* dialog);

// Storno, and the OK button in the caption: the dialog ends, nothing is started.
void OnStorno(SelectorDialog* dialog);
void OnCaptionOk(SelectorDialog* dialog);

// A headless script's `select N` (line N from 0), `start`, `storno` or `ok`, acted out as the pen
// would. 0 when carried out; 1 with the reason in *error for a line that doesn't exist.
int PlaySelectorLine(SelectorDialog* dialog, const ScriptEvent& event, std::string* error);
