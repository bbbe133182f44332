// The timing of a Standard MIDI File: its division, its tempo changes merged from all tracks and
// the tick where the song ends (the latest End of Track of any track), with conversions between
// ticks and milliseconds. The media player reports lengths and positions through it, since the
// synthesizer only tells its position in ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

  // Reads the file's bytes. On anything that is not a Standard MIDI File this map can time (no
  // header, an SMPTE or zero division, a chunk or an event cut off by the end of the file, a
  // malformed event, a tempo of 0) it returns false, says why in *error and leaves the map
  // empty. Reads nothing outside the given bytes.
  bool parse(const uint8_t* data, size_t size, std::string* error);

  bool empty() const { return division_ == 0; }
  int division() const { return division_; }  // ticks per quarter note; 0 when empty
  // Ascending ticks, one change per tick (the last one written wins), the first at tick 0.
  const std::vector<TempoChange>& tempoChanges() const { return changes_; }
  int64_t endTick() const { return endTick_; }
  int64_t lengthMs() const { return tickToMs(endTick_); }

  // Whole milliseconds from the start of the song to `tick`, and the last tick reached by `ms`
  // milliseconds, both rounded down and extrapolated past the end at the last tempo; negative
  // inputs count as 0. 0 when the map is empty.
  int64_t tickToMs(int64_t tick) const;
  int64_t msToTick(int64_t ms) const;

 private:
  int64_t scaledTime(int64_t tick) const;

  int division_ = 0;
  std::vector<TempoChange> changes_;
  std::vector<int64_t> changeTime_;  // scaledTime() of each tempo change; order matches changes_
  int64_t endTick_ = 0;
};
