// The Standard MIDI File reader of the importer: format 0 and 1 files of any ticks-per-quarter
// division, with running status, SysEx and meta events, into one list of timed events per track.
// Input that is no SMF, or is cut short, is refused with a reason; any bytes are safe to read.
// Two slips other readers take are taken and counted: running status behind a meta or SysEx
// event (which ends it in a strict reading), and a header naming more tracks than follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "import/import_texts.h"

// One event at its absolute tick. Channel events keep their status and one or two data bytes;
// meta events their type and data; SysEx (F0 or F7) its data.
struct MidiEvent {
  enum Kind : uint8_t { CHANNEL, META, SYSEX };
  uint64_t tick = 0;
  Kind kind = CHANNEL;
  uint8_t status = 0;  // channel: 0x80..0xEF; meta: the type byte; SysEx: 0xF0 or 0xF7
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  std::string bytes;  // meta and SysEx data

  uint8_t channel() const { return status & 0x0F; }
  uint8_t type() const { return status & 0xF0; }
};

struct MidiTrack {
  std::vector<MidiEvent> events;  // in file order, ticks never decreasing
  uint64_t endTick = 0;           // the End of Track event's tick, or the last event's
  int runningAfterSpecial = 0;    // see MidiFile
};

struct MidiFile {
  int format = 0;
  int division = 0;  // ticks per quarter note, 1..32767
  std::vector<MidiTrack> tracks;
  int tracksNamed = 0;          // the track count the header names
  int runningAfterSpecial = 0;  // channel events on running status behind a meta or SysEx event
};

// Reads `size` bytes; true with `file` filled, or false with `error` saying why.
bool readMidiFile(const uint8_t* data, size_t size, MidiFile& file, ImportMessage& error);
