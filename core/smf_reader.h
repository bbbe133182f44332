// The one reader of Standard MIDI Files: the header, then each track's events one at a time,
// every read checked against the end of the bytes, nothing copied (an event's data is a view
// into the file). Callers take what they need as the events go by: the tempo map its tempos,
// the importer its notes. Two slips other readers take are taken and counted: running status
// behind a meta or SysEx event, and a header naming more tracks than the file holds (the file
// ends right behind a track). Everything else that is no SMF is a fault, named precisely enough
// for each caller to say it in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One event at its absolute tick. Channel events keep their status and one or two data bytes;
// meta events their type (in `status`) and data; SysEx (F0 or F7) its data. End of Track is not
// handed out: it ends the track.
struct SmfEvent {
  enum Kind : uint8_t { CHANNEL, META, SYSEX };
  int64_t tick = 0;
  Kind kind = CHANNEL;
  uint8_t status = 0;  // channel: 0x80..0xEF; meta: the type byte; SysEx: 0xF0 or 0xF7
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  std::string_view data;  // meta and SysEx data, within the file's bytes

  uint8_t channel() const { return status & 0x0F; }
  uint8_t type() const { return status & 0xF0; }
};

enum class SmfFault : uint8_t {
  None,
  NotSmf,             // no "MThd" at the start
  HeaderCut,          // the header chunk ends past the file's end
  HeaderShort,        // a header chunk of fewer than six bytes
  UnknownFormat,      // a format above 2
  SmpteDivision,      // a division in SMPTE frames
  ZeroDivision,       // 0 ticks a quarter
  FileEndsInTrack,    // the file ends inside or before a track the header names
  EventCut,           // an event runs past its chunk's end
  LengthTooLong,      // a variable-length number of more than four bytes
  DataWithoutStatus,  // a data byte where no running status applies
  SystemMessage,      // a status F1..FE other than FF
  StatusInsideEvent,  // a channel message's data byte with bit 7 set
};

// Which part of an event a fault is in.
enum class SmfPart : uint8_t { Delta, Meta, Sysex, Channel };

struct SmfError {
  SmfFault fault = SmfFault::None;
  SmfPart part = SmfPart::Delta;
  int track = 0;      // from 1, for faults inside a track
  size_t offset = 0;  // within the track chunk's data, where the reader stopped
  int format = 0;     // for UnknownFormat
};

class SmfReader {
 public:
  // Reads the header of `size` bytes at `data`, which must outlive the reader and the views it
  // hands out. False with `error` when the bytes do not start as a Standard MIDI File.
  bool open(const uint8_t* data, size_t size, SmfError& error);

  int format() const { return format_; }
  int division() const { return division_; }  // ticks per quarter note, 1..32767
  int tracksNamed() const { return tracksNamed_; }
  int tracksRead() const { return tracksRead_; }  // tracks reached by nextTrack
  // Channel events on running status behind a meta or SysEx event, in the tracks read so far.
  int runningAfterSpecial() const { return runningAfterSpecial_; }

  // Moves to the next track chunk, skipping chunks of other kinds. False when the tracks are
  // done (`error` stays None; the file may end early behind a track) or on a fault.
  bool nextTrack(SmfError& error);

  // The current track's next event. False at the track's end (its End of Track, or its chunk's
  // end; `error` stays None, anything behind End of Track is ignored) or on a fault.
  bool nextEvent(SmfEvent& event, SmfError& error);
  // The tick where the current track ends: its End of Track, or its last event when it has none.
  int64_t trackEnd() const { return tick_; }

 private:
  bool fault(SmfFault kind, SmfPart part, SmfError& error) const;
  bool varLen(uint32_t& value, SmfPart part, SmfError& error);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;  // the next chunk's start
  int format_ = 0;
  int division_ = 0;
  int tracksNamed_ = 0;
  int tracksRead_ = 0;
  int runningAfterSpecial_ = 0;
  // The current track chunk's data and the read position in it.
  const uint8_t* track_ = nullptr;
  size_t trackSize_ = 0;
  size_t at_ = 0;
  int64_t tick_ = 0;
  uint8_t running_ = 0;
  bool afterSpecial_ = false;  // a meta or SysEx event stands between running status and here
  bool ended_ = true;
};
