// The score's text against the time of its MIDI file, both ways: the time at which a source
// position sounds (play from the caret) and the commands sounding at a time (follow the score).
// Built from a clean compilation's source map (core/source_map.h) and the MIDI file it wrote:
// each event lands at the tick the MIDI writer gives it (the lead-in bar, then the channel's
// durations; ties make one note, the gate ends short notes early), and the file's tempo map
// turns ticks into milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/midi_tempo_map.h"
#include "core/source_map.h"

class ScoreSourceMap {
 public:
  // One command of the score: its channel (1..9), its 0-based editor line, and its bytes in
  // that line as the compiler read them (the document's encoding; ScoreDocument::byteColumn()
  // and characterColumn() convert to and from the editor's columns).
  struct Source {
    int channel = 0;
    int line = 0;
    int byteColumn = 0;
    int byteLength = 0;
  };

  // The event a source position starts playback at, and its time.
  struct SourceTime {
    Source source;
    int64_t tick = 0;
    int64_t ms = 0;
    int event = 0;  // its index in the channel's events (recorded().events: code, value pairs)
  };

  // A note's command sounding from startTick up to (not including) endTick: a note, or a part
  // that a tie joined to the note before it (the tied note or rest behind the `&`), which goes
  // on sounding the note's key. A note sounds from its note-on to its note-off, so a short note
  // under a gate below q8 ends early; a note of duration 0 never sounds (startTick = endTick).
  struct Sounding {
    Source source;
    int64_t startTick = 0;
    int64_t endTick = 0;
    bool noteOn = false;  // the part whose start is the note-on, false for the parts tied to it
  };

  // Replaces the map with one of what a compilation recorded and the bytes of the MIDI file it
  // wrote (no bytes: no channel held events). The recorded storage is taken by swapping:
  // `recorded` gets this map's previous storage, for the next compilation to record into
  // without allocating. False, with the reason in *error, when the file cannot be timed; the
  // map is then empty.
  bool build(SourceMap& recorded, const uint8_t* midi, size_t size, std::string* error);

  const MidiTempoMap& tempoMap() const { return tempoMap_; }
  // What the compilation recorded: every channel's events and their positions.
  const SourceMap& recorded() const { return recorded_; }
  // Every channel block in source order.
  const std::vector<ChannelBlock>& blocks() const { return recorded_.blocks; }

  // The channel block that holds the point before byte `byteColumn` of editor line `line`, or
  // nullptr outside every block.
  const ChannelBlock* blockAt(int line, int byteColumn) const;

  // Where playback from the caret (editor line, byte column) starts: the first event of the
  // caret's channel block whose command ends behind the caret (so a caret inside a command
  // takes that command); when the block has no such event (the caret behind its last one, or
  // an empty block), the channel's nearest earlier event. Nothing when the caret is outside
  // every channel block or its channel has no events.
  std::optional<SourceTime> timeAt(int line, int byteColumn) const;

  // The commands sounding at `tick` (at `ms`), one at most per channel, in channel order,
  // appended to `out` (which is not cleared). Nine binary searches.
  void soundingAtTick(int64_t tick, std::vector<Sounding>& out) const;
  void soundingAtMs(int64_t ms, std::vector<Sounding>& out) const;

  // Every note and tied part of a channel in time order.
  std::vector<Sounding> notes(int channel) const;

  // The same without copies, for readers that walk them all: a note or tied part, its sounding
  // ticks and its event's index in the channel (an index into recorded()'s events, two bytes
  // an event, and positions).
  struct NotePart {
    int32_t start;
    int32_t end;
    int32_t event : 31;
    uint32_t noteOn : 1;
  };
  const std::vector<NotePart>& noteParts(int channel) const {
    return notes_[channelIndex(channel)];
  }

 private:
  void timeChannel(int32_t k);
  Source sourceOf(int32_t k, int32_t event) const;
  Sounding soundingOf(int32_t k, const NotePart& part) const;

  SourceMap recorded_;
  MidiTempoMap tempoMap_;
  // Per channel (entry k = channel k + 1): the tick of each event, in event order.
  std::vector<int32_t> ticks_[CHANNEL_COUNT];
  std::vector<NotePart> notes_[CHANNEL_COUNT];
};
