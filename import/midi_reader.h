// The importer's view of a Standard MIDI File: format 0 and 1 files of any ticks-per-quarter
// division, read by the core's SMF reader into one list of timed events per track. Input that
// is no SMF, or is cut short, is refused with a reason; any bytes are safe to read. The slips
// the reader takes (running status behind a meta or SysEx event, a header naming more tracks
// than follow) are counted for the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/smf_reader.h"
#include "import/import_texts.h"

// An event's meta and SysEx data are views into the file's bytes, which outlive the MidiFile.
using MidiEvent = SmfEvent;

struct MidiTrack {
  std::vector<MidiEvent> events;  // in file order, ticks never decreasing
  int64_t endTick = 0;            // the End of Track event's tick, or the last event's
};

struct MidiFile {
  int format = 0;
  int division = 0;  // ticks per quarter note, 1..32767
  std::vector<MidiTrack> tracks;
  int tracksNamed = 0;          // the track count the header names
  int runningAfterSpecial = 0;  // channel events on running status behind a meta or SysEx event
};

// What the header and the reading say of a file.
struct MidiFileFacts {
  int format = 0;
  int division = 0;
  int tracksNamed = 0;
  int tracksHeld = 0;
  int runningAfterSpecial = 0;
};

// Takes a file's events as the reader goes, so that no list of them need be kept.
class MidiEventSink {
 public:
  virtual ~MidiEventSink() = default;
  virtual void beginTrack(size_t index) = 0;
  virtual void event(const MidiEvent& e) = 0;
  // The track's end: its End of Track, or its last event.
  virtual void endTrack(int64_t endTick) = 0;
};

// Reads `size` bytes, handing each track's events to `sink` in file order; true with `facts`
// filled, or false with `error` saying why (the sink may have seen part of the file).
bool readMidiEvents(const uint8_t* data, size_t size, MidiEventSink& sink, MidiFileFacts& facts,
                    ImportMessage& error);

// Reads `size` bytes; true with `file` filled, or false with `error` saying why.
bool readMidiFile(const uint8_t* data, size_t size, MidiFile& file, ImportMessage& error);
