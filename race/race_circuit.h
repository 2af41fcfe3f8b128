// The circuit a race was run on: its hash, and where to find it.
#pragma once

#include <string>
#include <vector>

#include "race/race_file.h"

// The SHA-256, in lowercase hex, of a circuit file's bytes before its record section, so that a new
// record doesn't orphan the races run before it. Empty, with *error naming the file, when it can't
// be read or is shorter than its picture and grid.
std::string CircuitSha256(const std::string& hostPath, std::string* error);
// The same over bytes in memory.
std::string CircuitSha256(const void* bytes, size_t size);

// Finds the race's circuit: its recorded path, else its name in each of the folders in order (host
// paths), else any circuit file of those folders under another name. Every candidate is checked
// against the race's hash; the first that matches is returned.
// Empty, with *error naming the race file and the circuit, when none does.
std::string FindRaceCircuit(const RaceFile& race, const std::string& raceName,
                            const std::vector<std::string>& circuitFolders, std::string* error);

// Checks a circuit the user names for the race. 0 when it matches; 1 with *error naming both files.
int CheckRaceCircuit(const RaceFile& race, const std::string& raceName, const std::string& circuitHostPath,
                     std::string* error);
