// Reading the MIDI file a user names: opened without blocking (a FIFO does not hang), taken only
// when it is a regular file of at most MIDI_INPUT_BYTES_MAX bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/import_texts.h"

inline constexpr int64_t MIDI_INPUT_BYTES_MAX = 64 * 1024 * 1024;

// The whole file into `bytes`; false with `error` saying why when it cannot be read.
bool readMidiInput(const std::string& path, std::vector<uint8_t>& bytes, ImportMessage& error);
