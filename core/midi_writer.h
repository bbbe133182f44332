// Standard MIDI File writer: format 1, 480 ticks per quarter, one track per used channel.
#pragma once

#include "core/compile_host.h"

// Every track's music starts behind a one-eighth lead-in bar at 120 beats per minute.
inline constexpr uint32_t LEAD_IN_TICKS = 240;
// Notes of this many ticks or more sound their whole length; the gate step shortens the rest.
inline constexpr uint32_t FULL_LENGTH_NOTE_TICKS = 128;
inline constexpr int32_t GATE_STEPS = 8;
// A note's key and velocity: the MIDI note number is its code plus this (code 1 = c of octave 0),
// its velocity that of the channel's velocity level, which starts each track at START_LEVEL.
inline constexpr int32_t NOTE_NUMBER_OFFSET = 23;
inline constexpr uint8_t VELOCITY_BY_LEVEL[VELOCITY_LEVEL_MAX + 1] = {
    0, 7, 15, 23, 31, 39, 47, 55, 63, 71, 79, 87, 95, 103, 111, 119, 127};
inline constexpr int32_t START_LEVEL = 10;
// The status byte's channel nibble is the channel's number, so this channel goes out on MIDI
// channel 10, the General MIDI percussion channel; it gets no program change.
inline constexpr int32_t DRUM_CHANNEL = 9;

// The ticks from a note's note-on to its note-off: a note of `ticks` (ties joined) under the
// channel's gate step 0..7.
constexpr uint32_t noteOnTicks(uint32_t ticks, int32_t gate) {
  if (ticks >= FULL_LENGTH_NOTE_TICKS) return ticks;
  const uint32_t on = ticks * static_cast<uint32_t>(gate + 1) / GATE_STEPS;
  return on == 0 && ticks >= 1 ? 1 : on;
}

// A tie joins the note (or tied part) at byte `offset` of a channel's events with the note or
// rest behind the tie; the joined event's duration adds to the note's.
inline bool tieFollows(const uint8_t* events, int32_t length, int32_t offset) {
  return offset + 6 <= length && events[offset + 2] == EVENT_TIE &&
         events[offset + 4] <= EVENT_NOTE_LAST;
}

// Writes the whole file; 0, or the code of the first failing channel track (11, a lone tie).
int32_t writeMidiFile(CompileSession& session, OutputStream& out);

int32_t writeConductorTrack(CompileSession& session, OutputStream& out);
int32_t writeChannelTrack(CompileSession& session, OutputStream& out, int32_t channel);

// Encoders; each returns the number of bytes it wrote.
int32_t writeNote(CompileSession& session, OutputStream& out, int32_t channel, int32_t code,
                  int32_t level, int32_t value);
int32_t writeProgram(OutputStream& out, int32_t channel, int32_t program);
int32_t writePan(CompileSession& session, OutputStream& out, int32_t channel, int32_t pan);
int32_t writeTempo(OutputStream& out, int32_t bpm);
int32_t writeVarLen(OutputStream& out, uint32_t value);
