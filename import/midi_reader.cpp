#include "import/midi_reader.h"

#include <utility>

namespace {

constexpr size_t HEADER_BYTES = 14;
constexpr size_t CHUNK_HEAD_BYTES = 8;
constexpr int VAR_LEN_BYTES_MAX = 4;
constexpr uint8_t META = 0xFF;
constexpr uint8_t META_END_OF_TRACK = 0x2F;

ImportMessage refusal(ImportText kind, std::vector<std::string> values = {}) {
  return {kind, std::move(values)};
}

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint16_t be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Reads the events of one track chunk's body. Fails on bytes that are no event and on an event
// cut by the chunk's end.
class TrackReader {
 public:
  TrackReader(const uint8_t* data, size_t size, int index)
      : data_(data), size_(size), index_(index) {}

  bool read(MidiTrack& track, ImportMessage& error) {
    uint64_t tick = 0;
    uint8_t running = 0;
    bool afterSpecial = false;  // a meta or SysEx event stands between running status and here
    while (pos_ < size_) {
      uint32_t delta = 0;
      if (!varLen(delta, error)) return false;
      tick += delta;
      if (pos_ >= size_) return cut(error);
      MidiEvent event;
      event.tick = tick;
      uint8_t status = data_[pos_];
      if (status < 0x80) {
        if (running == 0) return bad(ImportText::BadStatusByte, error);
        status = running;  // running status: the data byte stays unread
        if (afterSpecial) ++track.runningAfterSpecial;
      } else {
        ++pos_;
      }
      afterSpecial = false;
      if (status < 0xF0) {
        running = status;
        event.kind = MidiEvent::CHANNEL;
        event.status = status;
        const size_t length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (pos_ + length > size_) return cut(error);
        event.data1 = data_[pos_] & 0x7F;
        if (length == 2) event.data2 = data_[pos_ + 1] & 0x7F;
        if (data_[pos_] >= 0x80 || (length == 2 && data_[pos_ + 1] >= 0x80)) {
          return bad(ImportText::BadStatusByte, error);
        }
        pos_ += length;
      } else if (status == META) {
        afterSpecial = running != 0;  // running status goes on behind it, as readers take it
        if (pos_ >= size_) return cut(error);
        event.kind = MidiEvent::META;
        event.status = data_[pos_++];
        if (!payload(event, error)) return false;
        if (event.status == META_END_OF_TRACK) {
          track.endTick = tick;
          return true;  // anything behind End of Track is ignored
        }
      } else if (status == 0xF0 || status == 0xF7) {
        afterSpecial = running != 0;
        event.kind = MidiEvent::SYSEX;
        event.status = status;
        if (!payload(event, error)) return false;
      } else {
        return bad(ImportText::BadStatusByte, error);
      }
      track.events.push_back(std::move(event));
      track.endTick = tick;
    }
    return true;  // a track without End of Track ends with its chunk
  }

 private:
  bool varLen(uint32_t& value, ImportMessage& error) {
    value = 0;
    for (int i = 0; i < VAR_LEN_BYTES_MAX; ++i) {
      if (pos_ >= size_) return cut(error);
      const uint8_t b = data_[pos_++];
      value = (value << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return bad(ImportText::BadVariableLength, error);
  }

  bool payload(MidiEvent& event, ImportMessage& error) {
    uint32_t length = 0;
    if (!varLen(length, error)) return false;
    if (length > size_ - pos_) return cut(error);
    event.bytes.assign(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return true;
  }

  bool cut(ImportMessage& error) {
    error = refusal(ImportText::CutShort);
    return false;
  }
  bool bad(ImportText kind, ImportMessage& error) {
    error = refusal(kind, {std::to_string(index_ + 1), std::to_string(pos_)});
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  int index_;
  size_t pos_ = 0;
};

}  // namespace

bool readMidiFile(const uint8_t* data, size_t size, MidiFile& file, ImportMessage& error) {
  file = MidiFile();
  if (size < 4 || data[0] != 'M' || data[1] != 'T' || data[2] != 'h' || data[3] != 'd') {
    error = refusal(ImportText::NotSmf);
    return false;
  }
  if (size < HEADER_BYTES) {
    error = refusal(ImportText::CutShort);
    return false;
  }
  const uint32_t headerLength = be32(data + 4);
  if (headerLength < 6) {
    error = refusal(ImportText::BadHeaderLength);
    return false;
  }
  if (headerLength > size - 8) {
    error = refusal(ImportText::CutShort);
    return false;
  }
  file.format = be16(data + 8);
  const int trackCount = be16(data + 10);
  const uint16_t division = be16(data + 12);
  if (file.format > 1) {
    error = refusal(ImportText::UnreadableFormat, {std::to_string(file.format)});
    return false;
  }
  if (division & 0x8000) {
    error = refusal(ImportText::SmpteDivision);
    return false;
  }
  if (division == 0) {
    error = refusal(ImportText::ZeroDivision);
    return false;
  }
  if (trackCount == 0) {
    error = refusal(ImportText::NoTracks);
    return false;
  }
  file.division = division;

  file.tracksNamed = trackCount;
  size_t pos = 8 + headerLength;
  while (static_cast<int>(file.tracks.size()) < trackCount) {
    if (size - pos < CHUNK_HEAD_BYTES) {
      if (pos == size && !file.tracks.empty()) break;  // the header names more than follow
      error = refusal(ImportText::CutShort);
      return false;
    }
    const uint32_t length = be32(data + pos + 4);
    if (length > size - pos - CHUNK_HEAD_BYTES) {
      error = refusal(ImportText::CutShort);
      return false;
    }
    const uint8_t* body = data + pos + CHUNK_HEAD_BYTES;
    const bool isTrack =
        data[pos] == 'M' && data[pos + 1] == 'T' && data[pos + 2] == 'r' && data[pos + 3] == 'k';
    pos += CHUNK_HEAD_BYTES + length;
    if (!isTrack) continue;  // chunks of other kinds are skipped, as readers must
    MidiTrack track;
    TrackReader reader(body, length, static_cast<int>(file.tracks.size()));
    if (!reader.read(track, error)) return false;
    file.runningAfterSpecial += track.runningAfterSpecial;
    file.tracks.push_back(std::move(track));
  }
  return true;
}
