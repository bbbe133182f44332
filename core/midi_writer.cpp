#include "core/midi_writer.h"

#include <algorithm>

#include "core/diagnostics.h"
#include "core/source_map.h"

namespace {

constexpr int32_t START_TEMPO = 120;
// A channel track sets up during the lead-in: GM reset (or filler text) at 0, all sound off
// after these ticks, the program change at the end of the lead-in.
constexpr uint32_t SOUND_OFF_TICKS = 144;
constexpr int32_t MIDI_DATA_MAX = 127;

// Automatic pan for channels 2..7 (index = channel); the console build has always used 84/105.
constexpr int32_t AUTO_PAN_FIRST = 2;
constexpr int32_t AUTO_PAN_LAST = 7;
constexpr uint8_t AUTO_PAN_EDITOR[CHANNEL_COUNT + 1] = {0, 0, 0, 127, 21, 85, 42, 106, 0, 0};
constexpr uint8_t AUTO_PAN_CONSOLE[CHANNEL_COUNT + 1] = {0, 0, 0, 127, 21, 84, 42, 105, 0, 0};
// A pan value above 127 (from a hand-made work area) is written as the centre of its flavour.
constexpr uint8_t PAN_CENTRE_CONSOLE = 63;
constexpr uint8_t PAN_CENTRE_EDITOR = 64;

int32_t put(OutputStream& out, std::initializer_list<uint8_t> bytes) {
  out.write(bytes.begin(), bytes.size());
  return static_cast<int32_t>(bytes.size());
}

int32_t putBytes(OutputStream& out, const uint8_t* bytes, int32_t size) {
  out.write(bytes, static_cast<size_t>(size));
  return size;
}

uint8_t statusByte(uint8_t kind, int32_t channel) {
  return static_cast<uint8_t>(kind | (channel & 0x0F));
}

// "MTrk", a placeholder length and the first delta; the track's byte count starts at 1.
int64_t beginTrack(OutputStream& out, int32_t& count) {
  const int64_t start = out.position();
  put(out, {'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
  count = 1;
  return start;
}

// End of Track, then the byte count patched into the length field.
void endTrack(OutputStream& out, int64_t start, int32_t count) {
  count += put(out, {0xFF, 0x2F, 0x00});
  const int64_t end = out.position();
  const uint32_t length = static_cast<uint32_t>(count);
  out.seek(start + 4);
  put(out, {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  out.seek(end);
}

int32_t putFillerText(OutputStream& out) {
  return put(out, {0xFF, 0x01, 0x01, '_'});
}

// Walks a channel's events for the conductor track: the unit time of its next tempo event.
struct TempoCursor {
  int32_t offset = 0;  // of the pending tempo event, or the channel length when none is left
  int64_t units = 0;   // note and rest units before it

  void advance(const uint8_t* events, int32_t length) {
    for (; offset < length; offset += 2) {
      const uint8_t code = events[offset];
      if (code == EVENT_END) break;
      if (code <= EVENT_NOTE_LAST) units += events[offset + 1];
      if (code == EVENT_TEMPO) return;
    }
    offset = length;
  }
};

// The tie's place comes from the source map when the host keeps one.
void reportLoneTie(CompileSession& session, int32_t channel, int32_t offset) {
  session.host->messageLine(formatText(textsOf(session).loneTie, static_cast<int>(channel)));
  Diagnostic tie;
  tie.code = ERROR_TIE_SINGLE;
  tie.channel = channel;
  tie.writing = true;
  const auto event = static_cast<size_t>(offset / 2);
  if (session.sourceMap != nullptr &&
      event < session.sourceMap->positions[channelIndex(channel)].size()) {
    const SourcePosition& at = session.sourceMap->positions[channelIndex(channel)][event];
    tie.line = at.line;
    tie.lineNumber = at.line + 1;
    tie.commandStart = at.column;
    tie.pointer = at.column;
    tie.commandEnd = at.column + std::max<int32_t>(at.length, 1);
  }
  diagnose(session, tie);
}

}  // namespace

int32_t writeVarLen(OutputStream& out, uint32_t value) {
  uint8_t bytes[5];
  int32_t size = 0;
  uint32_t groups = value & 0x7F;
  while ((value >>= 7) != 0) groups = (groups << 8) | 0x80 | (value & 0x7F);
  for (;;) {
    bytes[size++] = static_cast<uint8_t>(groups);
    if ((groups & 0x80) == 0) break;
    groups >>= 8;
  }
  return putBytes(out, bytes, size);
}

int32_t writeTempo(OutputStream& out, int32_t bpm) {
  const uint32_t micros = static_cast<uint32_t>(60.0 / std::max(bpm, 1) * 1000000.0);
  return put(out, {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16),
                   static_cast<uint8_t>(micros >> 8), static_cast<uint8_t>(micros), 0x00});
}

int32_t writeProgram(OutputStream& out, int32_t channel, int32_t program) {
  return put(out, {statusByte(0xC0, channel),
                   static_cast<uint8_t>(program > MIDI_DATA_MAX ? 0 : program), 0x00});
}

int32_t writePan(CompileSession& session, OutputStream& out, int32_t channel, int32_t pan) {
  const uint8_t centre =
      flavourOf(session) == FLAVOUR_CONSOLE ? PAN_CENTRE_CONSOLE : PAN_CENTRE_EDITOR;
  return put(out, {statusByte(0xB0, channel), 0x0A,
                   static_cast<uint8_t>(pan > MIDI_DATA_MAX ? centre : pan), 0x00});
}

int32_t writeNote(CompileSession& session, OutputStream& out, int32_t channel, int32_t code,
                  int32_t level, int32_t value) {
  const uint32_t ticks = static_cast<uint32_t>(value) * TICKS_PER_UNIT;
  const uint8_t note = static_cast<uint8_t>(code + NOTE_NUMBER_OFFSET);
  const uint8_t velocity = VELOCITY_BY_LEVEL[std::clamp(level, 0, VELOCITY_LEVEL_MAX)];
  if (ticks >= FULL_LENGTH_NOTE_TICKS) {
    int32_t count = put(out, {note, velocity});
    count += writeVarLen(out, ticks);
    return count + put(out, {note, 0x00, 0x00});
  }
  const uint32_t on = noteOnTicks(ticks, session.gate[channelIndex(channel)]);
  return put(out, {note, velocity, static_cast<uint8_t>(on), note, 0x00,
                   static_cast<uint8_t>(ticks - on)});
}

int32_t writeConductorTrack(CompileSession& session, OutputStream& out) {
  int32_t count = 0;
  const int64_t start = beginTrack(out, count);
  if (session.hasCopyright) {
    count += put(out, {0xFF, 0x02, static_cast<uint8_t>(session.copyrightLength)});
    count += putBytes(out, session.copyrightText, session.copyrightLength);
    count += put(out, {0x00});
  }
  if (session.hasSequenceName) {
    count += put(out, {0xFF, 0x03, static_cast<uint8_t>(session.sequenceNameLength)});
    count += putBytes(out, session.sequenceNameText, session.sequenceNameLength);
    count += put(out, {0x00});
  }
  count += put(out, {0xFF, 0x58, 0x04, 0x01, 0x03, 0x18, 0x08});  // 1/8: the lead-in bar
  count += writeVarLen(out, LEAD_IN_TICKS);
  count += writeTempo(out, START_TEMPO);
  count += put(out, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08, 0x00});  // 4/4

  // Tempo changes of all channels, each at its own time, merged in time order; equal times
  // keep channel order, and each channel's events keep their source order.
  TempoCursor cursors[CHANNEL_COUNT];
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    cursors[k].advance(session.workArea[k], session.workLength[k]);
  }
  int64_t previous = 0;
  for (;;) {
    int32_t next = -1;
    for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
      if (cursors[k].offset >= session.workLength[k]) continue;
      if (next < 0 || cursors[k].units < cursors[next].units) next = k;
    }
    if (next < 0) break;
    TempoCursor& cursor = cursors[next];
    count += putFillerText(out);
    count += writeVarLen(out, static_cast<uint32_t>((cursor.units - previous) * TICKS_PER_UNIT));
    count += writeTempo(out, session.workArea[next][cursor.offset + 1]);
    previous = cursor.units;
    cursor.offset += 2;
    cursor.advance(session.workArea[next], session.workLength[next]);
  }
  endTrack(out, start, count);
  return 0;
}

int32_t writeChannelTrack(CompileSession& session, OutputStream& out, int32_t channel) {
  const int32_t k = channelIndex(channel);
  const uint8_t* events = session.workArea[k];
  const int32_t length = session.workLength[k];
  const bool console = flavourOf(session) == FLAVOUR_CONSOLE;
  bool runningStatus = false;
  int32_t level = START_LEVEL;

  int32_t count = 0;
  const int64_t start = beginTrack(out, count);
  if (session.gmResetWritten == 0) {
    count += put(out, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});  // GM System On
    session.gmResetWritten = 1;
  } else {
    count += putFillerText(out);
  }
  count += writeVarLen(out, SOUND_OFF_TICKS);
  count += put(out, {statusByte(0xB0, channel), 0x78, 0x00});  // all sound off
  count += writeVarLen(out, LEAD_IN_TICKS - SOUND_OFF_TICKS);
  if (channel != DRUM_CHANNEL) count += writeProgram(out, channel, 0);
  if (channel >= AUTO_PAN_FIRST && channel <= AUTO_PAN_LAST && session.autoPan) {
    count += writePan(session, out, channel,
                      console ? AUTO_PAN_CONSOLE[channel] : AUTO_PAN_EDITOR[channel]);
  }

  auto noteStatus = [&] {
    if (runningStatus) return;
    count += put(out, {statusByte(0x90, channel)});
    runningStatus = true;
  };
  for (int32_t offset = 0; offset < length; offset += 2) {
    const uint8_t code = events[offset];
    int32_t value = events[offset + 1];
    if (code == EVENT_REST) {
      noteStatus();
      session.channelTicks[k] += value;
      count += writeNote(session, out, channel, 0, 0, value);
    } else if (code <= EVENT_NOTE_LAST) {
      noteStatus();
      // A tie joins the note with the note or rest behind it; chains add up.
      while (tieFollows(events, length, offset)) {
        value += events[offset + 5];
        offset += 4;
      }
      session.channelTicks[k] += value;
      count += writeNote(session, out, channel, code, level, value);
    } else if (code == EVENT_PAN) {
      count += writePan(session, out, channel, value);
      runningStatus = false;
    } else if (code == EVENT_GATE) {
      session.gate[k] = value;
    } else if (code == EVENT_TIE) {
      reportLoneTie(session, channel, offset);
      return ERROR_TIE_SINGLE;
    } else if (code == EVENT_TEMPO) {
      if (console) {
        count += writeTempo(out, value);
        runningStatus = false;
      }
    } else if (code == EVENT_VELOCITY) {
      level = std::min(value, VELOCITY_LEVEL_MAX);
    } else if (code == EVENT_PROGRAM) {
      count += writeProgram(out, channel, value);
      runningStatus = false;
    } else if (code == EVENT_END) {
      break;
    }
  }
  endTrack(out, start, count);
  return 0;
}

int32_t writeMidiFile(CompileSession& session, OutputStream& out) {
  int32_t used = 0;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) used += session.workLength[k] != 0 ? 1 : 0;
  if (used == 0) return 0;
  const int32_t tracks = used + 1;
  put(out, {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, static_cast<uint8_t>(tracks >> 8),
            static_cast<uint8_t>(tracks), 0x01, 0xE0});
  writeConductorTrack(session, out);
  for (int32_t channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    if (session.workLength[channelIndex(channel)] == 0) continue;
    if (const int32_t result = writeChannelTrack(session, out, channel); result != 0) {
      return result;
    }
  }
  return 0;
}
