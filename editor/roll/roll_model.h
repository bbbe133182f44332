// The piano roll's picture of a clean compilation: every note the MIDI file sounds, as a bar from
// its note-on to its note-off with its key and velocity, and the commands that made it; the
// song's tempo changes, time signatures and length. Built from the compilation's source map,
// whose notes are timed as the MIDI writer times them (the lead-in, ties as one note, the gate),
// it answers what the roll asks: the notes of a channel in a stretch of time, the note at a key
// and tick, the notes made by the command at a caret or by a selection, and the bars.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "core/midi_tempo_map.h"
#include "core/midi_writer.h"
#include "core/source_map.h"

class ScoreSourceMap;

// One sounding note. Its source is its note-on command (line, byte column and length in the
// document's encoding); `lastLine` and `lastEnd` end the last command tied to it (the note-on
// command's own end when nothing is tied), so that the note's commands span from `line`:`column`
// to `lastLine`:`lastEnd`. `event` is the note-on's index in its channel's events and `units`
// the written duration of the note with its tied parts (a unit is 1/32 of a quarter note), which
// the gate may cut short of off - on.
struct RollNote {
  int32_t on = 0;  // ticks
  int32_t off = 0;
  int32_t event = 0;
  int32_t units = 0;
  int32_t line = 0;
  int32_t lastLine = 0;
  uint16_t column = 0;
  uint16_t length = 0;
  uint16_t lastEnd = 0;
  uint8_t channel = 0;  // 1..9
  uint8_t key = 0;      // MIDI note number
  uint8_t velocity = 0;

  SourcePoint start() const { return {line, column}; }
  SourcePoint end() const { return {lastLine, lastEnd}; }
};

// A bar line: its tick and its number. Bars are numbered from 0, the written file's lead-in, so
// the music's first bar is bar 1.
struct RollBar {
  int64_t tick = 0;
  int64_t number = 0;
};

class RollModel {
 public:
  // Replaces the picture with the compilation `map` times. A note whose velocity is 0 sounds
  // nothing (its note-on is a note-off) and is left out, as are rests.
  void build(const ScoreSourceMap& map);
  void clear();

  bool empty() const { return notes_.empty(); }
  // Every note, channel by channel, each channel's in time order; a note's index here is how the
  // roll names it.
  const std::vector<RollNote>& notes() const { return notes_; }
  std::span<const RollNote> channelNotes(int channel) const;
  int32_t firstIndex(int channel) const { return channelStart_[channel - 1]; }
  bool hasChannel(int channel) const { return !channelNotes(channel).empty(); }
  // The lowest and highest key sounded (60 and 72 when nothing sounds).
  int lowestKey() const { return lowestKey_; }
  int highestKey() const { return highestKey_; }

  const MidiTempoMap& tempoMap() const { return tempo_; }
  int division() const { return tempo_.empty() ? 480 : tempo_.division(); }
  // The song's end: the latest End of Track, at least the last note-off.
  int64_t endTick() const { return endTick_; }

  // The notes of `channel` sounding in [from, to): the indices [first, last). A channel's notes
  // follow one another without overlapping, so both ends are binary searches.
  std::pair<int32_t, int32_t> sounding(int channel, int64_t from, int64_t to) const;
  // The note of `channel` on `key` that holds `tick`, or that lies within `slack` ticks of it
  // (a note narrower than the mouse can aim at), the nearest one first; -1 when none.
  int32_t noteAt(int channel, int key, int64_t tick, int64_t slack) const;
  // The notes made by the command at a caret (the point before byte `byte` of 0-based `line`):
  // the command the caret stands in or at the start of, else the one it stands right behind.
  std::vector<int32_t> notesAtCaret(int line, int byte) const;
  // The notes made by the commands a selection [from, to) touches; a caret when from == to.
  std::vector<int32_t> notesIn(SourcePoint from, SourcePoint to) const;

  // The bar lines in [from, to), every `every`th bar counted from bar 0.
  void bars(int64_t from, int64_t to, int64_t every, std::vector<RollBar>& out) const;
  // The ticks of one bar at `tick`.
  int64_t barTicks(int64_t tick) const;

 private:
  struct Meter {
    int64_t tick;
    int64_t barTicks;
    int64_t firstBar;  // the number of the bar that starts at `tick`
  };
  void buildChannel(const ScoreSourceMap& map, int channel);
  void buildMeters();

  std::vector<RollNote> notes_;
  int32_t channelStart_[CHANNEL_COUNT + 1] = {};
  int lowestKey_ = 60;
  int highestKey_ = 72;
  MidiTempoMap tempo_;
  int64_t endTick_ = 0;
  // Until a compilation is shown, the bars every written file has: the lead-in, then 4/4.
  std::vector<Meter> meters_ = {{0, LEAD_IN_TICKS, 0}, {LEAD_IN_TICKS, 4 * 480, 1}};
};
