// Circuits as the online races name them: the file's bytes before the record section, checked by
// the game's own loader and named by their SHA-256, so that a new record never changes a name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "data/circuit.h"

constexpr int kMaxCircuitSide = 4096;
constexpr size_t kMaxCircuitBytes = 64u << 20;

// SHA-256 of the bytes, as 64 lowercase hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

// The circuit bytes without the record section: empty, with a one-line reason, when the bytes
// are no circuit the game would load, are larger than 4096 x 4096, or have a grid no car can
// start on.
std::string CircuitWithoutRecord(std::string_view bytes, std::string* error);

// Loads circuit bytes into a fresh track through the game's loader, by way of a scratch file of
// the given host path (removed again). Null with a reason when the loader refuses them.
std::unique_ptr<TrackGrid> LoadCircuitBytes(std::string_view bytes, const std::string& scratchPath, std::string* error);
