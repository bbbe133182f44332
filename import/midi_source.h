// What the importer takes from a read MIDI file: notes paired from their note-on and note-off,
// the program, pan, tempo and time-signature changes, the name and copyright texts, and counts
// of what the language has no command for. Times are the file's ticks behind the lead-in that
// every compiled file starts with, when the file has one.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "import/midi_reader.h"

// Kept for every note of the file, so packed: a file's tracks are at most 65535.
struct SourceNote {
  int64_t onTick = 0;
  int64_t offTick = 0;
  uint8_t key = 0;
  uint8_t velocity = 0;
  uint8_t channel = 0;  // 0..15
  uint16_t track = 0;   // the track it stands in, from 0
};

// A program or pan change (value 0..127), a tempo (microseconds a quarter), a time signature
// (value = numerator, extra = the denominator's power of two) or a key signature (value = sharps,
// negative for flats).
struct SourceChange {
  int64_t tick = 0;
  int channel = 0;
  int value = 0;
  int extra = 0;
};

struct MidiSource {
  int division = 480;
  std::vector<SourceNote> notes;
  std::vector<SourceChange> programs, pans, tempos, timeSignatures, keySignatures;
  std::string name, copyright;          // raw bytes
  std::vector<std::string> trackNames;  // each track's first name, raw bytes, "" without one
  bool hasName = false, hasCopyright = false;
  int pitchBends = 0, sustainPedal = 0, controllers = 0, otherMessages = 0, texts = 0;
  std::set<int> controllerNumbers;
  int repaired = 0;       // notes ended by a note-on of their own key before their note-off
  bool compiled = false;  // the file opens with tarvk32c's lead-in, which is left out
};

// Gathers the source of a file's `size` bytes at `data`: true with `source` and `facts`, or
// false with `error` when the bytes are no file the importer reads. Notes still sounding when
// their track ends end there; a note-on for a key that already sounds ends the earlier note
// (counted as re-paired).
bool gatherSource(const uint8_t* data, size_t size, MidiSource& source, MidiFileFacts& facts,
                  ImportMessage& error);
