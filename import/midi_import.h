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

enum class ScoreEncoding { Cp932, Utf8 };

struct ImportResult {
  bool ok = false;
  ImportMessage error;                // why the file was refused, when !ok
  std::string text;                   // the score in UTF-8 with "\n" line ends, for an editor
  std::string bytes;                  // the score in the chosen encoding with CR LF line ends
  std::vector<ImportMessage> report;  // what could not be kept, one message a kind
  int notes = 0;                      // notes written into the score
  int voices = 0;                     // channel blocks written
};

ImportResult importMidi(const uint8_t* data, size_t size, ScoreEncoding encoding);
