#include "import/lead_in.h"

#include <string>
#include <string_view>

#include "core/compile_session.h"
#include "core/midi_writer.h"

namespace {

constexpr int COMPILED_DIVISION = 480;
constexpr uint8_t META_TEXT = 0x01, META_COPYRIGHT = 0x02, META_NAME = 0x03, META_TEMPO = 0x51,
                  META_TIME_SIGNATURE = 0x58;
constexpr uint8_t CONTROL = 0xB0, PROGRAM = 0xC0, PAN = 10, ALL_SOUND_OFF = 0x78;
constexpr uint64_t SOUND_OFF_TICKS = 144;  // where a channel track's all sound off stands
const std::string LEAD_IN_BAR("\x01\x03\x18\x08", 4);   // 1/8
const std::string COMMON_TIME("\x04\x02\x18\x08", 4);   // 4/4
const std::string START_TEMPO("\x07\xA1\x20", 3);       // 500000 microseconds a quarter
const std::string GM_RESET("\x7E\x7F\x09\x01\xF7", 5);  // the SysEx's data
const std::string FILLER_TEXT("_");

bool isMeta(const MidiEvent& e, uint8_t type, std::string_view bytes) {
  return e.kind == MidiEvent::META && e.status == type && e.data == bytes;
}

bool conductorLeadIn(const MidiTrack& track) {
  bool bar = false, tempo = false, common = false;
  for (const MidiEvent& e : track.events) {
    if (e.tick > LEAD_IN_TICKS) break;
    if (e.tick == 0 && e.kind == MidiEvent::META &&
        (e.status == META_COPYRIGHT || e.status == META_NAME)) {
      continue;
    }
    if (e.tick == 0 && !bar && isMeta(e, META_TIME_SIGNATURE, LEAD_IN_BAR)) {
      bar = true;
    } else if (e.tick == LEAD_IN_TICKS && bar && isMeta(e, META_TEMPO, START_TEMPO)) {
      tempo = true;
    } else if (e.tick == LEAD_IN_TICKS && tempo && isMeta(e, META_TIME_SIGNATURE, COMMON_TIME)) {
      common = true;
    } else if (e.tick < LEAD_IN_TICKS || !common) {
      return false;  // anything else before the music starts
    }
  }
  return bar && tempo && common;
}

// A channel track's lead-in; `channel` is its score channel, -1 when the track shows none.
bool channelLeadIn(const MidiTrack& track, bool first, int& channel) {
  channel = -1;
  size_t i = 0;
  const auto& events = track.events;
  if (i >= events.size() || events[i].tick != 0) return false;
  const MidiEvent& opening = events[i++];
  const bool reset =
      opening.kind == MidiEvent::SYSEX && opening.status == 0xF0 && opening.data == GM_RESET;
  if (first ? !reset : !isMeta(opening, META_TEXT, FILLER_TEXT)) return false;
  if (i >= events.size()) return false;
  const MidiEvent& off = events[i++];
  if (off.tick != SOUND_OFF_TICKS || off.kind != MidiEvent::CHANNEL || off.type() != CONTROL ||
      off.data1 != ALL_SOUND_OFF || off.data2 != 0) {
    return false;
  }
  channel = off.channel();
  if (channel < 1 || channel > CHANNEL_COUNT) return false;
  if (channel != DRUM_CHANNEL) {
    if (i >= events.size()) return false;
    const MidiEvent& program = events[i++];
    if (program.tick != LEAD_IN_TICKS || program.kind != MidiEvent::CHANNEL ||
        program.status != (PROGRAM | channel) || program.data1 != 0) {
      return false;
    }
  }
  for (; i < events.size(); ++i) {  // the music: all on the track's own channel
    const MidiEvent& e = events[i];
    if (e.tick < LEAD_IN_TICKS) return false;
    if (e.kind == MidiEvent::CHANNEL && e.channel() != channel) return false;
    if (e.kind == MidiEvent::SYSEX) return false;
    if (e.kind == MidiEvent::CHANNEL && e.type() == CONTROL && e.data1 != PAN) return false;
  }
  return true;
}

}  // namespace

bool hasCompiledLeadIn(const MidiFile& file) {
  if (file.format != 1 || file.division != COMPILED_DIVISION || file.tracks.size() < 2 ||
      file.tracks.size() > static_cast<size_t>(CHANNEL_COUNT) + 1) {
    return false;
  }
  if (!conductorLeadIn(file.tracks[0])) return false;
  int previous = 0;
  for (size_t t = 1; t < file.tracks.size(); ++t) {
    int channel = -1;
    if (!channelLeadIn(file.tracks[t], t == 1, channel) || channel <= previous) return false;
    previous = channel;
  }
  return true;
}
