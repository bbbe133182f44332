// The MIDI importer: a Standard MIDI File becomes a score that compiles back to the same notes
// wherever they stand on the language's grid (a unit is 1/32 of a quarter note), written as a
// person would: one bar a line, one channel block a voice, default lengths, octave steps, ties
// over bar lines and tuplets. What the language cannot hold is left out and counted in a report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "import/import_texts.h"
#include "import/score_text.h"

struct ImportResult {
  bool ok = false;
  ImportMessage error;                // why the file was refused, when !ok
  std::string text;                   // the score in UTF-8 with "\n" line ends, for an editor
  std::string bytes;                  // the score in the chosen encoding with CR LF line ends
  std::vector<ImportMessage> report;  // what could not be kept, one message a kind
  int notes = 0;                      // notes written into the score
  int voices = 0;                     // channel blocks written
};

// What of the file to import, and how: the parts numbered as listParts numbers them (from 1),
// empty for all; for played input, a grid that onsets and ends are snapped to (`grid` notes a
// whole note, 16 for sixteenths; `gridTriplets` for the triplets of that note value, 8 and true
// for eighth-note triplets; 0 for none, which keeps the compiler's grid), and whether a change
// of one velocity level from the note before is absorbed.
struct ImportOptions {
  std::vector<int> parts;
  int grid = 0;
  bool gridTriplets = false;
  bool steadyVelocity = false;
};

ImportResult importMidi(const uint8_t* data, size_t size, ScoreEncoding encoding,
                        const ImportOptions& options = {});

// A part of the file: the notes of one MIDI channel in one track.
struct PartSummary {
  int track = 0;        // from 1
  int midiChannel = 0;  // from 1, as musicians count (10 is the drums)
  int program = -1;     // the first program change of the channel, -1 without one
  int notes = 0;
  int voices = 0;    // voices the importer splits it into
  std::string name;  // the track's name in UTF-8, "" without one
  // Whether the import without a choice of parts keeps any of its notes (false for a part whose
  // voices are all dropped for want of channels).
  bool keptByDefault = false;
};

// The file's parts in the order the score takes them; false with `error` when it is refused.
bool listParts(const uint8_t* data, size_t size, std::vector<PartSummary>& parts,
               ImportMessage& error);
