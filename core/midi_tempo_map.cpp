#include "core/midi_tempo_map.h"

#include <algorithm>

namespace {

using TempoChange = MidiTempoMap::TempoChange;
using TimeSignature = MidiTempoMap::TimeSignature;
using SetupMessage = MidiTempoMap::SetupMessage;

constexpr uint32_t HEADER_DATA_BYTES = 6;
constexpr uint32_t FORMAT_MAX = 2;
constexpr int VAR_LEN_MAX_BYTES = 4;
constexpr uint32_t SMPTE_DIVISION_BIT = 0x8000;
constexpr uint32_t TEMPO_DATA_BYTES = 3;
constexpr int64_t TICK_MAX = MidiTempoMap::TICK_MAX;
constexpr int64_t MICROS_PER_MS = 1000;

constexpr uint8_t STATUS_SYSEX = 0xF0;
constexpr uint8_t STATUS_SYSEX_CONTINUATION = 0xF7;
constexpr uint8_t STATUS_META = 0xFF;
constexpr uint8_t META_END_OF_TRACK = 0x2F;
constexpr uint8_t META_TEMPO = 0x51;
constexpr uint8_t META_TIME_SIGNATURE = 0x58;
// A time signature's denominator is a power of two, 2^0 (whole notes) to this (64ths); any other
// time signature is left out.
constexpr uint8_t TIME_SIGNATURE_POWER_MAX = 6;

// Reads forward through a byte range; every read checks the end first and fails there.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_ - pos_; }
  bool atEnd() const { return pos_ == size_; }
  const uint8_t* here() const { return data_ + pos_; }

  bool byte(uint8_t& value) {
    if (atEnd()) return false;
    value = data_[pos_++];
    return true;
  }

  bool skip(size_t count) {
    if (count > remaining()) return false;
    pos_ += count;
    return true;
  }

  bool bigEndian(int bytes, uint32_t& value) {
    value = 0;
    for (int i = 0; i < bytes; ++i) {
      uint8_t b;
      if (!byte(b)) return false;
      value = value << 8 | b;
    }
    return true;
  }

  // Variable-length quantity: 7 bits a byte, most significant first, bit 7 set on all but the
  // last; at most four bytes.
  bool varLen(uint32_t& value) {
    value = 0;
    for (int i = 0; i < VAR_LEN_MAX_BYTES; ++i) {
      uint8_t b;
      if (!byte(b)) return false;
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string trackText(int track, const char* text) {
  return "track " + std::to_string(track) + ": " + text;
}

// Data bytes that follow a channel status byte (0x80..0xEF).
int channelDataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// chunk: type[4] length[4] data[length]; the data range is handed back in `body`.
bool readChunk(ByteReader& file, uint32_t& type, ByteReader& body) {
  uint32_t length;
  if (!file.bigEndian(4, type) || !file.bigEndian(4, length)) return false;
  const uint8_t* start = file.here();
  if (!file.skip(length)) return false;
  body = ByteReader(start, length);
  return true;
}

constexpr uint32_t chunkType(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
         uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// What the tracks' meta events say about time.
struct Meters {
  std::vector<TempoChange> tempos;
  std::vector<TimeSignature> signatures;
};

// meta: FF type length data. Tempo changes and time signatures (FF 58 nn dd ...) are collected;
// End of Track ends the walk.
bool readMeta(ByteReader& track, int number, int64_t tick, Meters& meters, bool& endOfTrack,
              std::string* error) {
  uint8_t type;
  uint32_t length;
  if (!track.byte(type) || !track.varLen(length)) {
    return fail(error, trackText(number, "meta event cut off"));
  }
  const uint8_t* data = track.here();
  if (!track.skip(length)) return fail(error, trackText(number, "meta event cut off"));
  if (type == META_END_OF_TRACK) endOfTrack = true;
  if (type == META_TIME_SIGNATURE && length >= 2 && data[0] > 0 &&
      data[1] <= TIME_SIGNATURE_POWER_MAX) {
    meters.signatures.push_back({tick, data[0], data[1]});
  }
  if (type != META_TEMPO) return true;
  if (length != TEMPO_DATA_BYTES) {
    return fail(error, trackText(number, "tempo event not 3 bytes long"));
  }
  const uint32_t micros = uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2];
  if (micros == 0) return fail(error, trackText(number, "tempo of 0"));
  meters.tempos.push_back({tick, micros});
  return true;
}

// track: (delta event)* up to End of Track or the end of the chunk, where
// event: meta | sysex | channel message, whose status byte may be left out after another
// channel message (running status; meta and sysex events cancel it).
// The track's end is its End of Track, or its last event when it has none.
bool readTrack(ByteReader track, int number, Meters& meters, std::vector<SetupMessage>& setup,
               int64_t& endTick, std::string* error) {
  int64_t tick = 0;
  uint8_t runningStatus = 0;
  bool endOfTrack = false;
  while (!track.atEnd() && !endOfTrack) {
    uint32_t delta;
    uint8_t status;
    if (!track.varLen(delta) || !track.byte(status)) {
      return fail(error, trackText(number, "delta time cut off or longer than four bytes"));
    }
    tick += delta;
    if (tick > TICK_MAX) return fail(error, trackText(number, "longer than 2^31 ticks"));
    if (status == STATUS_META) {
      runningStatus = 0;
      if (!readMeta(track, number, tick, meters, endOfTrack, error)) return false;
    } else if (status == STATUS_SYSEX || status == STATUS_SYSEX_CONTINUATION) {
      runningStatus = 0;
      uint32_t length;
      if (!track.varLen(length) || !track.skip(length)) {
        return fail(error, trackText(number, "system exclusive event cut off"));
      }
    } else {
      int data = 0;
      if (status < 0x80) {  // running status: this byte is the first data byte
        if (runningStatus == 0) return fail(error, trackText(number, "data byte without status"));
        data = 1;
        status = runningStatus;
      }
      if (status >= 0xF0) return fail(error, trackText(number, "unexpected system message"));
      runningStatus = status;
      const uint8_t* bytes = track.here() - data;
      if (!track.skip(size_t(channelDataBytes(status) - data))) {
        return fail(error, trackText(number, "channel message cut off"));
      }
      const uint8_t kind = status & 0xF0;
      if (kind == 0xB0 || kind == 0xC0 || kind == 0xE0) {
        setup.push_back(
            {tick, status, uint8_t(bytes[0] & 0x7F), uint8_t(kind == 0xC0 ? 0 : bytes[1] & 0x7F)});
      }
    }
  }
  endTick = tick;
  return true;
}

}  // namespace

// file: "MThd" length format tracks division, then chunks, of which the "MTrk" ones are the
// tracks (others are skipped); bytes after the last track are ignored.
bool MidiTempoMap::parse(const uint8_t* data, size_t size, std::string* error) {
  *this = MidiTempoMap();
  ByteReader file(data, size);
  uint32_t type = 0;
  ByteReader header(nullptr, 0);
  const bool headerRead = readChunk(file, type, header);
  if (type != chunkType("MThd")) return fail(error, "not a Standard MIDI File");
  if (!headerRead) return fail(error, "header chunk cut off");
  uint32_t format, trackCount, division;
  if (header.remaining() < HEADER_DATA_BYTES || !header.bigEndian(2, format) ||
      !header.bigEndian(2, trackCount) || !header.bigEndian(2, division)) {
    return fail(error, "header chunk too short");
  }
  if (format > FORMAT_MAX) return fail(error, "unknown file format " + std::to_string(format));
  if (division & SMPTE_DIVISION_BIT) return fail(error, "SMPTE time division is not supported");
  if (division == 0) return fail(error, "time division of 0 ticks per quarter note");

  Meters meters;
  std::vector<TempoChange>& tempos = meters.tempos;
  std::vector<SetupMessage> setup;
  int64_t endTick = 0;
  for (uint32_t number = 1; number <= trackCount;) {
    ByteReader body(nullptr, 0);
    if (!readChunk(file, type, body)) {
      return fail(error, "the file ends inside or before track " + std::to_string(number));
    }
    if (type != chunkType("MTrk")) continue;
    int64_t trackEnd = 0;
    if (!readTrack(body, int(number), meters, setup, trackEnd, error)) return false;
    endTick = std::max(endTick, trackEnd);
    ++number;
  }

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
  division_ = int(division);
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
