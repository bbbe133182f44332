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
constexpr int64_t SOUND_OFF_TICKS = 144;  // where a channel track's all sound off stands
const std::string LEAD_IN_BAR("\x01\x03\x18\x08", 4);   // 1/8
const std::string COMMON_TIME("\x04\x02\x18\x08", 4);   // 4/4
const std::string START_TEMPO("\x07\xA1\x20", 3);       // 500000 microseconds a quarter
const std::string GM_RESET("\x7E\x7F\x09\x01\xF7", 5);  // the SysEx's data
const std::string FILLER_TEXT("_");

bool isMeta(const MidiEvent& e, uint8_t type, std::string_view bytes) {
  return e.kind == MidiEvent::META && e.status == type && e.data == bytes;
}

}  // namespace

// conductor: (copyright | name)* at tick 0 around the 1/8 bar at 0, then tempo 120 and 4/4 at
// the lead-in's end.
void LeadInCheck::conductorEvent(const MidiEvent& e) {
  if (e.tick > LEAD_IN_TICKS || conductorDone_) {
    conductorDone_ = true;
    return;
  }
  if (e.tick == 0 && e.kind == MidiEvent::META &&
      (e.status == META_COPYRIGHT || e.status == META_NAME)) {
    return;
  }
  if (e.tick == 0 && !bar_ && isMeta(e, META_TIME_SIGNATURE, LEAD_IN_BAR)) {
    bar_ = true;
  } else if (e.tick == LEAD_IN_TICKS && bar_ && isMeta(e, META_TEMPO, START_TEMPO)) {
    tempo_ = true;
  } else if (e.tick == LEAD_IN_TICKS && tempo_ && isMeta(e, META_TIME_SIGNATURE, COMMON_TIME)) {
    common_ = true;
  } else if (e.tick < LEAD_IN_TICKS || !common_) {
    failed_ = true;  // anything else before the music starts
  }
}

// channel track: (GM reset (the first) | filler text) at 0, all sound off, program 0 at the
// lead-in's end but on the drums, then music on the track's own channel only.
void LeadInCheck::channelEvent(const MidiEvent& e) {
  switch (step_++) {
    case 0: {
      const bool reset = e.kind == MidiEvent::SYSEX && e.status == 0xF0 && e.data == GM_RESET;
      if (e.tick != 0 || (track_ == 1 ? !reset : !isMeta(e, META_TEXT, FILLER_TEXT))) {
        failed_ = true;
      }
      return;
    }
    case 1:
      if (e.tick != SOUND_OFF_TICKS || e.kind != MidiEvent::CHANNEL || e.type() != CONTROL ||
          e.data1 != ALL_SOUND_OFF || e.data2 != 0) {
        failed_ = true;
        return;
      }
      channel_ = e.channel();
      if (channel_ < 1 || channel_ > CHANNEL_COUNT || channel_ <= previous_) failed_ = true;
      if (channel_ == DRUM_CHANNEL) ++step_;  // no program on the drums
      return;
    case 2:
      if (e.tick != LEAD_IN_TICKS || e.kind != MidiEvent::CHANNEL ||
          e.status != (PROGRAM | channel_) || e.data1 != 0) {
        failed_ = true;
      }
      return;
    default:
      step_ = 3;
      if (e.tick < LEAD_IN_TICKS || e.kind == MidiEvent::SYSEX ||
          (e.kind == MidiEvent::CHANNEL &&
           (e.channel() != channel_ || (e.type() == CONTROL && e.data1 != PAN)))) {
        failed_ = true;
      }
  }
}

void LeadInCheck::beginTrack(size_t index) {
  track_ = index;
  step_ = 0;
  if (index > 0) previous_ = channel_;
}

void LeadInCheck::event(const MidiEvent& e) {
  if (failed_) return;
  if (track_ == 0) {
    conductorEvent(e);
  } else {
    channelEvent(e);
  }
}

void LeadInCheck::endTrack(int64_t) {
  if (track_ == 0) {
    failed_ = failed_ || !(bar_ && tempo_ && common_);
  } else {
    // The opening, the sound off and (but on the drums) the program must all be there.
    failed_ = failed_ || step_ < 3;
  }
  ++tracks_;
}

bool LeadInCheck::found(int format, int division) const {
  return !failed_ && format == 1 && division == COMPILED_DIVISION && tracks_ >= 2 &&
         tracks_ <= CHANNEL_COUNT + 1;
}

bool hasCompiledLeadIn(const MidiFile& file) {
  LeadInCheck check;
  for (size_t t = 0; t < file.tracks.size(); ++t) {
    check.beginTrack(t);
    for (const MidiEvent& e : file.tracks[t].events) check.event(e);
    check.endTrack(file.tracks[t].endTick);
  }
  return check.found(file.format, file.division);
}
