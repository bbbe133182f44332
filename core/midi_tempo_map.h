// The timing of a Standard MIDI File: its division, its tempo changes merged from all tracks and
// the tick where the song ends (the latest End of Track of any track), with conversions between
// ticks and milliseconds, and its time signatures. The media player reports lengths and positions
// through it, since the synthesizer only tells its position in ticks. It also keeps the channels'
// setup messages (program changes, controllers, pitch bends), so that a play that starts in the
// middle of the song can start with the sound the song has there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

// What the channels are set to at a point of the song: per MIDI channel its program and the last
// value of each controller, -1 where the song has set none. Channel mode messages (controllers
// 120 to 127) are not kept: they are actions, not settings.
struct MidiChannelSetup {
  static constexpr int CHANNELS = 16;
  static constexpr int CONTROLLERS = 120;
  struct Channel {
    int program = -1;
    int pitchBend = -1;  // 0..16383
    int controllers[CONTROLLERS];
    Channel() { std::fill(std::begin(controllers), std::end(controllers), -1); }
    bool operator==(const Channel&) const = default;
  };
  Channel channels[CHANNELS];
  bool operator==(const MidiChannelSetup&) const = default;
};

class MidiTempoMap {
 public:
  static constexpr uint32_t DEFAULT_MICROS_PER_QUARTER = 500000;  // 120 beats per minute
  // The synthesizer counts ticks in an int: a longer track is refused, and conversions saturate
  // there.
  static constexpr int64_t TICK_MAX = 0x7FFFFFFF;

  struct TempoChange {
    int64_t tick;
    uint32_t microsPerQuarter;
  };

  // A time signature from `tick` on: `numerator` beats of a 2^`denominatorPower`th note.
  struct TimeSignature {
    int64_t tick;
    int numerator;
    int denominatorPower;
    bool operator==(const TimeSignature&) const = default;
  };

  // Reads the file's bytes. On anything that is not a Standard MIDI File this map can time (no
  // header, an SMPTE or zero division, a chunk or an event cut off by the end of the file, a
  // malformed event, a tempo of 0) it returns false, says why in *error and leaves the map
  // empty. Reads nothing outside the given bytes.
  bool parse(const uint8_t* data, size_t size, std::string* error);

  bool empty() const { return division_ == 0; }
  int division() const { return division_; }  // ticks per quarter note; 0 when empty
  // Ascending ticks, one change per tick (the last one written wins), the first at tick 0.
  const std::vector<TempoChange>& tempoChanges() const { return changes_; }
  // Ascending ticks, one a tick (the last one written wins), the first at tick 0: 4/4 unless
  // the file says otherwise there. Time signatures whose numerator is 0 or whose denominator is
  // finer than a 64th note are left out.
  const std::vector<TimeSignature>& timeSignatures() const { return signatures_; }
  int64_t endTick() const { return endTick_; }
  int64_t lengthMs() const { return tickToMs(endTick_); }

  // Whole milliseconds from the start of the song to `tick`, and the last tick reached by `ms`
  // milliseconds, both rounded down and extrapolated past the end at the last tempo; negative
  // inputs count as 0. 0 when the map is empty.
  int64_t tickToMs(int64_t tick) const;
  int64_t msToTick(int64_t ms) const;

  // The setup messages of all tracks at ticks before `tick`, applied in the order of the song.
  MidiChannelSetup setupBefore(int64_t tick) const;

  // A setup message: a channel status byte (0xB0.., 0xC0.., 0xE0..) and its data.
  struct SetupMessage {
    int64_t tick;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
  };

 private:
  int64_t scaledTime(int64_t tick) const;
  void keepSignatures(std::vector<TimeSignature>& signatures);

  int division_ = 0;
  std::vector<TempoChange> changes_;
  std::vector<int64_t> changeTime_;  // scaledTime() of each tempo change; order matches changes_
  int64_t endTick_ = 0;
  std::vector<TimeSignature> signatures_;
  std::vector<SetupMessage> setup_;  // by tick; in track order at the same tick
};
