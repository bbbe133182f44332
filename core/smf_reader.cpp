#include "core/smf_reader.h"

namespace {

constexpr size_t CHUNK_HEAD_BYTES = 8;
constexpr uint32_t HEADER_DATA_BYTES = 6;
constexpr int FORMAT_MAX = 2;
constexpr int VAR_LEN_BYTES_MAX = 4;
constexpr uint16_t SMPTE_DIVISION_BIT = 0x8000;
constexpr uint8_t STATUS_SYSEX = 0xF0;
constexpr uint8_t STATUS_SYSEX_CONTINUATION = 0xF7;
constexpr uint8_t STATUS_META = 0xFF;
constexpr uint8_t META_END_OF_TRACK = 0x2F;

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint16_t be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool isChunk(const uint8_t* p, const char (&name)[5]) {
  return p[0] == name[0] && p[1] == name[1] && p[2] == name[2] && p[3] == name[3];
}

// Data bytes that follow a channel status byte (0x80..0xEF).
size_t channelDataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

}  // namespace

// header: "MThd" length[4] format[2] tracks[2] division[2] (longer headers are skipped)
bool SmfReader::open(const uint8_t* data, size_t size, SmfError& error) {
  *this = SmfReader();
  error = SmfError();
  data_ = data;
  size_ = size;
  if (size < 4 || !isChunk(data, "MThd")) return fault(SmfFault::NotSmf, SmfPart::Delta, error);
  if (size < CHUNK_HEAD_BYTES) return fault(SmfFault::HeaderCut, SmfPart::Delta, error);
  const uint32_t length = be32(data + 4);
  if (length > size - CHUNK_HEAD_BYTES) return fault(SmfFault::HeaderCut, SmfPart::Delta, error);
  if (length < HEADER_DATA_BYTES) return fault(SmfFault::HeaderShort, SmfPart::Delta, error);
  format_ = be16(data + 8);
  tracksNamed_ = be16(data + 10);
  const uint16_t division = be16(data + 12);
  if (format_ > FORMAT_MAX) {
    error.format = format_;
    return fault(SmfFault::UnknownFormat, SmfPart::Delta, error);
  }
  if (division & SMPTE_DIVISION_BIT) return fault(SmfFault::SmpteDivision, SmfPart::Delta, error);
  if (division == 0) return fault(SmfFault::ZeroDivision, SmfPart::Delta, error);
  division_ = division;
  pos_ = CHUNK_HEAD_BYTES + length;
  return true;
}

// chunk: type[4] length[4] data[length]; the "MTrk" ones are the tracks.
bool SmfReader::nextTrack(SmfError& error) {
  ended_ = true;
  while (tracksRead_ < tracksNamed_) {
    if (size_ - pos_ < CHUNK_HEAD_BYTES) {
      if (pos_ == size_ && tracksRead_ > 0) return false;  // the header names more than follow
      return fault(SmfFault::FileEndsInTrack, SmfPart::Delta, error);
    }
    const uint32_t length = be32(data_ + pos_ + 4);
    if (length > size_ - pos_ - CHUNK_HEAD_BYTES) {
      return fault(SmfFault::FileEndsInTrack, SmfPart::Delta, error);
    }
    const bool isTrack = isChunk(data_ + pos_, "MTrk");
    const uint8_t* body = data_ + pos_ + CHUNK_HEAD_BYTES;
    pos_ += CHUNK_HEAD_BYTES + length;
    if (!isTrack) continue;  // chunks of other kinds are skipped, as readers must
    ++tracksRead_;
    track_ = body;
    trackSize_ = length;
    at_ = 0;
    tick_ = 0;
    running_ = 0;
    afterSpecial_ = false;
    ended_ = false;
    return true;
  }
  return false;
}

// event: delta (channel message | FF type length data | F0/F7 length data), where a channel
// message's status byte may be left out behind another channel message (running status, which
// goes on behind a meta or SysEx event as other readers take it).
bool SmfReader::nextEvent(SmfEvent& event, SmfError& error) {
  if (ended_) return false;
  if (at_ >= trackSize_) {
    ended_ = true;  // a track without End of Track ends with its chunk
    return false;
  }
  uint32_t delta = 0;
  if (!varLen(delta, SmfPart::Delta, error)) return false;
  tick_ += delta;
  if (at_ >= trackSize_) return fault(SmfFault::EventCut, SmfPart::Delta, error);
  event = SmfEvent();
  event.tick = tick_;
  uint8_t status = track_[at_];
  if (status < 0x80) {
    if (running_ == 0) return fault(SmfFault::DataWithoutStatus, SmfPart::Channel, error);
    status = running_;  // the data byte stays unread
    if (afterSpecial_) ++runningAfterSpecial_;
  } else {
    ++at_;
  }
  afterSpecial_ = false;
  if (status < STATUS_SYSEX) {
    running_ = status;
    event.kind = SmfEvent::CHANNEL;
    event.status = status;
    const size_t length = channelDataBytes(status);
    if (length > trackSize_ - at_) return fault(SmfFault::EventCut, SmfPart::Channel, error);
    if (track_[at_] >= 0x80 || (length == 2 && track_[at_ + 1] >= 0x80)) {
      return fault(SmfFault::StatusInsideEvent, SmfPart::Channel, error);
    }
    event.data1 = track_[at_];
    if (length == 2) event.data2 = track_[at_ + 1];
    at_ += length;
    return true;
  }
  SmfPart part = SmfPart::Sysex;
  if (status == STATUS_META) {
    part = SmfPart::Meta;
    if (at_ >= trackSize_) return fault(SmfFault::EventCut, part, error);
    event.kind = SmfEvent::META;
    event.status = track_[at_++];
  } else if (status == STATUS_SYSEX || status == STATUS_SYSEX_CONTINUATION) {
    event.kind = SmfEvent::SYSEX;
    event.status = status;
  } else {
    return fault(SmfFault::SystemMessage, SmfPart::Channel, error);
  }
  afterSpecial_ = running_ != 0;
  uint32_t length = 0;
  if (!varLen(length, part, error)) return false;
  if (length > trackSize_ - at_) return fault(SmfFault::EventCut, part, error);
  event.data = std::string_view(reinterpret_cast<const char*>(track_ + at_), length);
  at_ += length;
  if (event.kind == SmfEvent::META && event.status == META_END_OF_TRACK) {
    ended_ = true;  // anything behind End of Track is ignored
    return false;
  }
  return true;
}

// Variable-length number: 7 bits a byte, most significant first, bit 7 set on all but the last.
bool SmfReader::varLen(uint32_t& value, SmfPart part, SmfError& error) {
  value = 0;
  for (int i = 0; i < VAR_LEN_BYTES_MAX; ++i) {
    if (at_ >= trackSize_) return fault(SmfFault::EventCut, part, error);
    const uint8_t b = track_[at_++];
    value = (value << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) return true;
  }
  return fault(SmfFault::LengthTooLong, part, error);
}

bool SmfReader::fault(SmfFault kind, SmfPart part, SmfError& error) const {
  error.fault = kind;
  error.part = part;
  error.track = ended_ ? tracksRead_ + 1 : tracksRead_;
  error.offset = at_;
  return false;
}
