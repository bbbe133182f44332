#include "core/midi_tempo_map.h"

#include <algorithm>

#include "core/smf_reader.h"

namespace {

using TempoChange = MidiTempoMap::TempoChange;
using TimeSignature = MidiTempoMap::TimeSignature;
using SetupMessage = MidiTempoMap::SetupMessage;

constexpr uint32_t TEMPO_DATA_BYTES = 3;
constexpr int64_t TICK_MAX = MidiTempoMap::TICK_MAX;
constexpr int64_t MICROS_PER_MS = 1000;

constexpr uint8_t META_TEMPO = 0x51;
constexpr uint8_t META_TIME_SIGNATURE = 0x58;
// A time signature's denominator is a power of two, 2^0 (whole notes) to this (64ths); any other
// time signature is left out.
constexpr uint8_t TIME_SIGNATURE_POWER_MAX = 6;

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string trackText(int track, const char* text) {
  return "track " + std::to_string(track) + ": " + text;
}

// What the reader's fault is called here.
std::string faultText(const SmfError& e) {
  switch (e.fault) {
    case SmfFault::None:
    case SmfFault::NotSmf:
      return "not a Standard MIDI File";
    case SmfFault::HeaderCut:
      return "header chunk cut off";
    case SmfFault::HeaderShort:
      return "header chunk too short";
    case SmfFault::UnknownFormat:
      return "unknown file format " + std::to_string(e.format);
    case SmfFault::SmpteDivision:
      return "SMPTE time division is not supported";
    case SmfFault::ZeroDivision:
      return "time division of 0 ticks per quarter note";
    case SmfFault::FileEndsInTrack:
      return "the file ends inside or before track " + std::to_string(e.track);
    case SmfFault::EventCut:
    case SmfFault::LengthTooLong:
      switch (e.part) {
        case SmfPart::Delta:
          return trackText(e.track, "delta time cut off or longer than four bytes");
        case SmfPart::Meta:
          return trackText(e.track, "meta event cut off");
        case SmfPart::Sysex:
          return trackText(e.track, "system exclusive event cut off");
        case SmfPart::Channel:
          return trackText(e.track, "channel message cut off");
      }
      break;
    case SmfFault::DataWithoutStatus:
      return trackText(e.track, "data byte without status");
    case SmfFault::SystemMessage:
      return trackText(e.track, "unexpected system message");
    case SmfFault::StatusInsideEvent:
      return trackText(e.track, "status byte inside a channel message");
  }
  return "not a Standard MIDI File";
}

// What the tracks' meta events say about time.
struct Meters {
  std::vector<TempoChange> tempos;
  std::vector<TimeSignature> signatures;
};

// Tempo changes and time signatures (FF 58 nn dd ...) are collected.
bool readMeta(const SmfEvent& e, int number, Meters& meters, std::string* error) {
  const auto* data = reinterpret_cast<const uint8_t*>(e.data.data());
  const size_t length = e.data.size();
  if (e.status == META_TIME_SIGNATURE && length >= 2 && data[0] > 0 &&
      data[1] <= TIME_SIGNATURE_POWER_MAX) {
    meters.signatures.push_back({e.tick, data[0], data[1]});
  }
  if (e.status != META_TEMPO) return true;
  if (length != TEMPO_DATA_BYTES) {
    return fail(error, trackText(number, "tempo event not 3 bytes long"));
  }
  const uint32_t micros = uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2];
  if (micros == 0) return fail(error, trackText(number, "tempo of 0"));
  meters.tempos.push_back({e.tick, micros});
  return true;
}

// The tempos, time signatures and setup messages of the reader's current track, and its end.
bool readTrack(SmfReader& reader, Meters& meters, std::vector<SetupMessage>& setup,
               int64_t& endTick, std::string* error) {
  const int number = reader.tracksRead();
  SmfEvent e;
  SmfError fault;
  while (reader.nextEvent(e, fault)) {
    if (e.tick > TICK_MAX) return fail(error, trackText(number, "longer than 2^31 ticks"));
    if (e.kind == SmfEvent::META) {
      if (!readMeta(e, number, meters, error)) return false;
      continue;
    }
    const uint8_t kind = e.type();
    if (e.kind == SmfEvent::CHANNEL && (kind == 0xB0 || kind == 0xC0 || kind == 0xE0)) {
      setup.push_back({e.tick, e.status, e.data1, e.data2});
    }
  }
  if (fault.fault != SmfFault::None) return fail(error, faultText(fault));
  if (reader.trackEnd() > TICK_MAX) return fail(error, trackText(number, "longer than 2^31 ticks"));
  endTick = reader.trackEnd();
  return true;
}

}  // namespace

// The file as the one SMF reader reads it, every track's tempos, time signatures and setup
// messages gathered.
bool MidiTempoMap::parse(const uint8_t* data, size_t size, std::string* error) {
  *this = MidiTempoMap();
  SmfReader reader;
  SmfError fault;
  if (!reader.open(data, size, fault)) return fail(error, faultText(fault));

  Meters meters;
  std::vector<TempoChange>& tempos = meters.tempos;
  std::vector<SetupMessage> setup;
  int64_t endTick = 0;
  while (reader.nextTrack(fault)) {
    int64_t trackEnd = 0;
    if (!readTrack(reader, meters, setup, trackEnd, error)) return false;
    endTick = std::max(endTick, trackEnd);
  }
  if (fault.fault != SmfFault::None) return fail(error, faultText(fault));

  // Tracks were read in order, so a stable sort leaves the last one written last at each tick.
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
  changes_.push_back({0, DEFAULT_MICROS_PER_QUARTER});
  for (const TempoChange& change : tempos) {
    if (change.tick == changes_.back().tick) {
      changes_.back() = change;
    } else {
      changes_.push_back(change);
    }
  }
  division_ = reader.division();
  changeTime_.resize(changes_.size());
  for (size_t i = 1; i < changes_.size(); ++i) {
    const TempoChange& previous = changes_[i - 1];
    changeTime_[i] =
        changeTime_[i - 1] + (changes_[i].tick - previous.tick) * previous.microsPerQuarter;
  }
  endTick_ = endTick;
  keepSignatures(meters.signatures);
  std::stable_sort(setup.begin(), setup.end(),
                   [](const SetupMessage& a, const SetupMessage& b) { return a.tick < b.tick; });
  setup_ = std::move(setup);
  return true;
}

// As the tempo changes: merged by tick, the last one written wins, the first at tick 0 (4/4 where
// the file sets none there).
void MidiTempoMap::keepSignatures(std::vector<TimeSignature>& signatures) {
  std::stable_sort(signatures.begin(), signatures.end(),
                   [](const TimeSignature& a, const TimeSignature& b) { return a.tick < b.tick; });
  signatures_.push_back({0, 4, 2});
  for (const TimeSignature& signature : signatures) {
    if (signature.tick == signatures_.back().tick) {
      signatures_.back() = signature;
    } else {
      signatures_.push_back(signature);
    }
  }
}

MidiChannelSetup MidiTempoMap::setupBefore(int64_t tick) const {
  MidiChannelSetup setup;
  for (const SetupMessage& message : setup_) {
    if (message.tick >= tick) break;
    MidiChannelSetup::Channel& channel = setup.channels[message.status & 0x0F];
    switch (message.status & 0xF0) {
      case 0xC0:
        channel.program = message.data1;
        break;
      case 0xE0:
        channel.pitchBend = message.data1 | message.data2 << 7;
        break;
      default:
        if (message.data1 < MidiChannelSetup::CONTROLLERS)
          channel.controllers[message.data1] = message.data2;
    }
  }
  return setup;
}

// Times are kept exactly as ticks x microseconds per quarter (microseconds x division), which
// stays below 2^55 for ticks up to TICK_MAX.
int64_t MidiTempoMap::scaledTime(int64_t tick) const {
  tick = std::clamp<int64_t>(tick, 0, TICK_MAX);
  const auto later =
      std::upper_bound(changes_.begin(), changes_.end(), tick,
                       [](int64_t t, const TempoChange& change) { return t < change.tick; });
  const size_t i = size_t(later - changes_.begin()) - 1;
  return changeTime_[i] + (tick - changes_[i].tick) * changes_[i].microsPerQuarter;
}

int64_t MidiTempoMap::tickToMs(int64_t tick) const {
  if (empty()) return 0;
  return scaledTime(tick) / (MICROS_PER_MS * division_);
}

int64_t MidiTempoMap::msToTick(int64_t ms) const {
  if (empty() || ms <= 0) return 0;
  if (ms > tickToMs(TICK_MAX)) return TICK_MAX;
  const int64_t time = ms * MICROS_PER_MS * division_;
  const auto later = std::upper_bound(changeTime_.begin(), changeTime_.end(), time);
  const size_t i = size_t(later - changeTime_.begin()) - 1;
  return std::min(TICK_MAX,
                  changes_[i].tick + (time - changeTime_[i]) / changes_[i].microsPerQuarter);
}
