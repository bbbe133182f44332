#include "import/midi_import.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "core/compile_session.h"
#include "core/midi_writer.h"
#include "import/midi_reader.h"
#include "import/midi_source.h"
#include "import/voice_layout.h"

namespace {

constexpr int64_t NEVER = std::numeric_limits<int64_t>::max();
constexpr int64_t FINE_PER_QUARTER = 480;  // ticks a quarter in the compiled file
constexpr int64_t UNITS_PER_QUARTER = FINE_PER_QUARTER / TICKS_PER_UNIT;
constexpr int64_t UNITS_PER_WHOLE = 4 * UNITS_PER_QUARTER;
constexpr int64_t BEAT_UNITS = UNITS_PER_QUARTER;
constexpr int KEY_LOWEST = 24;  // code 1, c of octave 0
constexpr int KEY_HIGHEST = 119;
constexpr int64_t FULL_LENGTH_UNITS = 9;  // 135 ticks: at least FULL_LENGTH_NOTE_TICKS
// A note that overlaps the next one of its line by at most this many units (a 64th), and by no
// more than half its own time, is played legato: it is ended where the next one starts.
constexpr int64_t LEGATO_OVERLAP_UNITS_MAX = 4;
constexpr int MELODY_CHANNELS = 8;  // ch1..ch8; ch9 goes to the percussion channel
constexpr int DRUM_SCORE_CHANNEL = 9;
constexpr int DRUM_MIDI_CHANNEL = 9;
constexpr int MIDI_CHANNELS = 16;
constexpr int TEMPO_MIN = 10, TEMPO_MAX = 250, START_TEMPO = 120;
constexpr int64_t START_MICROS = 500000;
constexpr int START_PROGRAM = 0;
// A score longer than a channel could ever hold, or of more bars than anyone reads, is refused.
constexpr int64_t UNITS_MAX = int64_t{WORK_AREA_LIMIT} / 2 * BYTE_MAX;
constexpr size_t BARS_MAX = 100000;
// A score has a line a bar and voice, three around each channel block, two header lines and the
// empty line behind the last line end. Bars longer than a line go on in lines of their own: each
// follows a line of nearly 2000 bytes, and a channel's events write far less than this many.
constexpr int64_t CONTINUATION_LINES_ROOM = 90000;
static_assert(int64_t{BARS_MAX} * CHANNEL_COUNT + 3 * CHANNEL_COUNT + 3 + CONTINUATION_LINES_ROOM <=
              CONSOLE_LINE_COUNT_MAX);

constexpr int64_t CHANNEL_EVENTS_MAX = WORK_AREA_LIMIT / 2;  // events a score channel may hold

// The first line of the score of a foreign file without notes, which says so where the score is
// read. A compiled file's rests are written back as they are.
constexpr const char* NO_NOTES_COMMENT = "// 音符のない MIDI ファイル";

// Kept for every note of the parts chosen, so packed.
struct Note {
  int64_t on = 0;        // units
  int64_t end = 0;       // units: the grid point nearest the note-off
  int64_t sound = 0;     // ticks at 480 a quarter from note-on to note-off
  uint32_t source = 0;   // index into MidiSource::notes
  uint8_t key = 0;       // 24..119
  uint8_t level = 0;     // 1..VELOCITY_LEVEL_MAX
  uint8_t marks = 0;     // MARK_ROUNDED, MARK_TRANSPOSED: counted where the note is kept
  bool trimmed = false;  // ended early where the next note of its line (or drum hit) starts
};

struct Voice {
  int track = 0;  // the part's track, from 0
  int midiChannel = 0;
  bool drum = false;
  std::vector<Note> notes;
  int scoreChannel = 0;  // 0 while unplaced or dropped
  std::vector<VoiceParameter> parameters;
  std::vector<VoiceItem> items;
};

struct Counts {
  int moved = 0;
  int trimmed = 0;
  double maxShift = 0;
  // Notes of voices beyond the channels, by part (track from 0, MIDI channel from 0): how many
  // and at which unit positions.
  std::map<std::pair<int, int>, std::pair<int, std::vector<int64_t>>> dropped;
  int partsLeftOut = 0;  // notes of the parts --parts leaves out
  // Voices of more events than a channel holds: (channel, first bar cut, the channel it goes on
  // in), and (channel, first bar cut, notes left out) where no channel is free.
  std::vector<std::array<int64_t, 3>> continued, cut;
  int runningAfterSpecial = 0;
  int snapped = 0;   // notes snapped to the grid of --grid
  int steadied = 0;  // notes given the level before by --steady-velocity
  int tracksNamed = 0, tracksHeld = 0;
  int unwritable = 0;  // zero-length notes with nothing before them
  int crowded = 0;     // zero-length notes beyond a tuplet's room at one grid point
  int outside = 0;
  int velocityRounded = 0;
  int velocityChanged = 0;
  int tupletLevels = 0;
  int drumsShortened = 0;
  int tempoRounded = 0;
  int temposOutside = 0;  // clamped to the language's range
  double firstOutside = 0;
  int64_t firstOutsideAt = 0;
  int parametersMoved = 0;
  bool noNotes = false;  // the file holds none
};

bool barsOf(const MidiSource& source, int64_t end, BarStarts& bars);

// ---------------------------------------------------------------------------------------------
// Time

int64_t nearestUnit(int64_t tick, int division) {
  return (tick * 2 * UNITS_PER_QUARTER + division) / (2 * int64_t{division});
}

bool onGrid(int64_t tick, int division) {
  return tick * UNITS_PER_QUARTER % division == 0;
}

// The fine time of a tick when the compiled file can hold it exactly, else that of its unit.
int64_t fineTime(int64_t tick, int division) {
  if (tick * FINE_PER_QUARTER % division == 0) return tick * FINE_PER_QUARTER / division;
  return nearestUnit(tick, division) * TICKS_PER_UNIT;
}

// Per gate step, the fewest units (below FULL_LENGTH_UNITS) of a note that sounds each tick count
// shorter than a full-length note, 0 where none does; asked for every note under every step.
constexpr auto GATED_LENGTHS = [] {
  std::array<std::array<uint8_t, FULL_LENGTH_NOTE_TICKS>, GATE_STEP_Q8 + 1> table{};
  for (int gate = 0; gate <= GATE_STEP_Q8; ++gate) {
    for (int64_t d = FULL_LENGTH_UNITS - 1; d >= 1; --d) {
      const uint32_t on = noteOnTicks(static_cast<uint32_t>(d * TICKS_PER_UNIT), gate);
      if (on < FULL_LENGTH_NOTE_TICKS)
        table[static_cast<size_t>(gate)][on] = static_cast<uint8_t>(d);
    }
  }
  return table;
}();

// The units of a note that sounds `sound` ticks under gate step `gate`, or 0 when none does.
int64_t exactLength(int64_t sound, int gate) {
  if (sound % TICKS_PER_UNIT == 0 && sound / TICKS_PER_UNIT >= FULL_LENGTH_UNITS) {
    return sound / TICKS_PER_UNIT;
  }
  if (sound < 0 || sound >= FULL_LENGTH_NOTE_TICKS) return 0;
  return GATED_LENGTHS[static_cast<size_t>(gate)][static_cast<size_t>(sound)];
}

int64_t snappedLength(int64_t sound) {
  return std::max<int64_t>(1, (sound + TICKS_PER_UNIT / 2) / TICKS_PER_UNIT);
}

// The fewest units a note needs to sound its time under any gate step.
int64_t shortestLength(int64_t sound) {
  if (sound == 0) return 0;
  int64_t best = 0;
  for (int gate = GATE_STEP_Q8; gate >= 0; --gate) {
    const int64_t d = exactLength(sound, gate);
    if (d > 0 && (best == 0 || d < best)) best = d;
  }
  return best > 0 ? best : snappedLength(sound);
}

// ---------------------------------------------------------------------------------------------
// Notes and voices

// The source's i-th note on the grid.
Note noteOf(const MidiSource& source, size_t i) {
  const SourceNote& s = source.notes[i];
  Note n;
  n.on = nearestUnit(s.onTick, source.division);
  n.end = std::max(n.on, nearestUnit(s.offTick, source.division));
  n.sound = std::max<int64_t>(0, fineTime(s.offTick, source.division) - n.on * TICKS_PER_UNIT);
  n.key = s.key;
  if (n.key < KEY_LOWEST || n.key > KEY_HIGHEST) n.marks |= MARK_TRANSPOSED;
  while (n.key < KEY_LOWEST) n.key += SEMITONES_PER_OCTAVE;
  while (n.key > KEY_HIGHEST) n.key -= SEMITONES_PER_OCTAVE;
  n.level = static_cast<uint8_t>(std::clamp((s.velocity + 1 + 4) / 8, 1, VELOCITY_LEVEL_MAX));
  if (n.level * 8 - 1 != s.velocity) n.marks |= MARK_ROUNDED;
  n.source = static_cast<uint32_t>(i);
  return n;
}

// Onset order; at one onset zero-length notes first, then from the top down.
bool playsBefore(const Note& a, const Note& b) {
  if (a.on != b.on) return a.on < b.on;
  if ((a.sound == 0) != (b.sound == 0)) return a.sound == 0;
  return a.key > b.key;
}

// Whether `last` overlaps `next`, which starts after it, only as a legato line does.
bool legatoOverlap(const Note& last, const Note& next) {
  const int64_t overlap = last.end - next.on;
  return last.on < next.on && overlap > 0 && overlap <= LEGATO_OVERLAP_UNITS_MAX &&
         2 * overlap <= next.on - last.on;
}

// Ends a legato note where the next note of its line starts.
void trimAt(Note& last, int64_t on, Counts& counts) {
  last.end = on;
  last.sound = std::min(last.sound, (on - last.on) * TICKS_PER_UNIT);
  last.trimmed = true;
  ++counts.trimmed;
}

// A part's notes into voices that never sound two notes at once on the grid: each note goes to
// the voice, free or ending in a legato overlap, whose last note is nearest in pitch (of two as
// near, the one whose last note ended latest), so a line stays together and a chord spreads.
std::vector<Voice> splitPart(std::vector<Note> notes, int channel, Counts& counts) {
  // A line's notes come in the order they play
  if (!std::is_sorted(notes.begin(), notes.end(), playsBefore)) {
    std::sort(notes.begin(), notes.end(), playsBefore);
  }
  // Each note's voice is found first, from the index of each voice's last note; then each
  // voice's notes are gathered in one allocation (a part of one voice keeps the part's).
  std::vector<size_t> lastOf;  // by voice
  std::vector<uint32_t> voiceOf(notes.size());
  for (size_t k = 0; k < notes.size(); ++k) {
    const Note& n = notes[k];
    int best = -1;
    int bestDistance = 0;
    int64_t bestEnd = 0;
    for (size_t v = 0; v < lastOf.size(); ++v) {
      const Note& last = notes[lastOf[v]];
      const bool free = last.end <= n.on && (last.on < n.on || last.sound == 0);
      if (!free && !legatoOverlap(last, n)) continue;
      const int distance = std::abs(last.key - n.key);
      const int64_t end = std::min(last.end, n.on);
      if (best < 0 || distance < bestDistance || (distance == bestDistance && end > bestEnd)) {
        best = static_cast<int>(v);
        bestDistance = distance;
        bestEnd = end;
      }
    }
    if (best < 0) {
      lastOf.push_back(k);
      best = static_cast<int>(lastOf.size()) - 1;
    } else {
      Note& last = notes[lastOf[static_cast<size_t>(best)]];
      if (last.end > n.on) trimAt(last, n.on, counts);
      lastOf[static_cast<size_t>(best)] = k;
    }
    voiceOf[k] = static_cast<uint32_t>(best);
  }
  std::vector<Voice> voices(lastOf.size());
  for (Voice& v : voices) v.midiChannel = channel;
  if (voices.size() == 1) {
    voices.front().notes = std::move(notes);
    return voices;
  }
  std::vector<size_t> sizes(voices.size());
  for (const uint32_t v : voiceOf) ++sizes[v];
  for (size_t v = 0; v < voices.size(); ++v) voices[v].notes.reserve(sizes[v]);
  for (size_t k = 0; k < notes.size(); ++k) voices[voiceOf[k]].notes.push_back(notes[k]);
  return voices;
}

// The percussion channel is one voice: a hit still sounding at the next one is cut there, so
// hits at one time become notes of no length.
Voice drumVoice(std::vector<Note> notes, Counts& counts) {
  std::sort(notes.begin(), notes.end(), playsBefore);
  for (size_t i = 0; i + 1 < notes.size(); ++i) {
    const int64_t room = (notes[i + 1].on - notes[i].on) * TICKS_PER_UNIT;
    if (notes[i].sound > room) {
      notes[i].sound = room;
      notes[i].end = notes[i + 1].on;
      notes[i].trimmed = true;
      ++counts.drumsShortened;
    }
  }
  Voice voice;
  voice.midiChannel = DRUM_MIDI_CHANNEL;
  voice.drum = true;
  voice.notes = std::move(notes);
  return voice;
}

// Whether every note of `voice` sounds with a note of `other` from the same to the same grid
// point, in unison or octaves.
bool doubles(const Voice& voice, const Voice& other) {
  if (voice.notes.empty() || other.notes.empty()) return false;
  for (const Note& n : voice.notes) {
    auto at = std::lower_bound(other.notes.begin(), other.notes.end(), n.on,
                               [](const Note& o, int64_t on) { return o.on < on; });
    bool found = false;
    for (; at != other.notes.end() && at->on == n.on && !found; ++at) {
      found = at->end == n.end && (at->key - n.key) % SEMITONES_PER_OCTAVE == 0;
    }
    if (!found) return false;
  }
  return true;
}

// How much the voice's place in its part is worth, by its notes' mean pitch: 0 for an inner
// voice, 1 for the top one, 2 for the bottom one (and a part's only voice), so that a chord's
// bass goes last.
int placeWorth(const std::vector<Voice>& voices, size_t index) {
  auto mean = [](const Voice& v) {
    double sum = 0;
    for (const Note& n : v.notes) sum += n.key;
    return v.notes.empty() ? 0.0 : sum / static_cast<double>(v.notes.size());
  };
  const Voice& voice = voices[index];
  bool highest = true, lowest = true;
  for (size_t i = 0; i < voices.size(); ++i) {
    const Voice& v = voices[i];
    if (i == index || v.track != voice.track || v.midiChannel != voice.midiChannel) continue;
    highest = highest && mean(v) <= mean(voice);
    lowest = lowest && mean(v) >= mean(voice);
  }
  return lowest ? 2 : highest ? 1 : 0;
}

// A voice left out, counted for the report by its part; one without notes (a channel of program
// or pan changes only) takes nothing audible with it and is not named.
void countDropped(const Voice& v, Counts& counts) {
  if (v.notes.empty()) return;
  auto& [notes, at] = counts.dropped[{v.track, v.midiChannel}];
  notes += static_cast<int>(v.notes.size());
  at.reserve(at.size() + v.notes.size());
  for (const Note& n : v.notes) at.push_back(n.on);
}

// When the melodic voices are more than the channels, the least worth go, one at a time: first
// a doubling (unison or octaves) of another voice, then the voice of the fewest notes, an inner
// voice of a part before its top and its top before its bottom, a later one before an earlier.
void dropLeastWorth(std::vector<Voice>& voices, Counts& counts) {
  auto melodic = [&] {
    return std::count_if(voices.begin(), voices.end(), [](const Voice& v) { return !v.drum; });
  };
  while (melodic() > MELODY_CHANNELS) {
    size_t worst = 0;
    std::tuple<bool, size_t, int> worstWorth{true, 0, 0};
    bool first = true;
    for (size_t i = 0; i < voices.size(); ++i) {
      if (voices[i].drum) continue;
      bool doubling = false;
      for (size_t j = 0; j < voices.size() && !doubling; ++j) {
        doubling = j != i && !voices[j].drum && doubles(voices[i], voices[j]);
      }
      const std::tuple<bool, size_t, int> worth{!doubling, voices[i].notes.size(),
                                                placeWorth(voices, i)};
      if (first || worth <= worstWorth) {
        worst = i;
        worstWorth = worth;
        first = false;
      }
    }
    countDropped(voices[worst], counts);
    voices.erase(voices.begin() + static_cast<std::ptrdiff_t>(worst));
  }
}

// Places voices on score channels: the percussion voice takes ch9, the others the lowest free
// channel in their order; in a compiled file a channel's only voice first keeps its MIDI
// channel's number, which is its score channel. Voices that find none are dropped.
void placeVoices(std::vector<Voice>& voices, bool keepNumbers, Counts& counts) {
  bool used[CHANNEL_COUNT + 1] = {};
  int perChannel[MIDI_CHANNELS] = {};
  for (const Voice& v : voices) ++perChannel[v.midiChannel];
  for (Voice& v : voices) {
    if (v.drum) {
      v.scoreChannel = DRUM_SCORE_CHANNEL;
      used[DRUM_SCORE_CHANNEL] = true;
    } else if (keepNumbers && perChannel[v.midiChannel] == 1 && v.midiChannel >= 1 &&
               v.midiChannel <= MELODY_CHANNELS && !used[v.midiChannel]) {
      v.scoreChannel = v.midiChannel;
      used[v.midiChannel] = true;
    }
  }
  for (Voice& v : voices) {
    if (v.scoreChannel != 0) continue;
    for (int c = 1; c <= MELODY_CHANNELS && v.scoreChannel == 0; ++c) {
      if (!used[c]) {
        v.scoreChannel = c;
        used[c] = true;
      }
    }
    if (v.scoreChannel == 0) countDropped(v, counts);
  }
  std::erase_if(voices, [](const Voice& v) { return v.scoreChannel == 0; });
  std::sort(voices.begin(), voices.end(),
            [](const Voice& a, const Voice& b) { return a.scoreChannel < b.scoreChannel; });
}

// Keeps the source records of the voices' notes only, renumbered, in place of all the file's:
// the notes of voices left out need none.
void keepSourcesOf(std::vector<Voice>& voices, MidiSource& source) {
  size_t kept = 0;
  for (const Voice& v : voices) kept += v.notes.size();
  std::vector<SourceNote> notes;
  notes.reserve(kept);
  for (Voice& v : voices) {
    for (Note& n : v.notes) {
      notes.push_back(source.notes[n.source]);
      n.source = static_cast<uint32_t>(notes.size() - 1);
    }
  }
  source.notes = std::move(notes);
}

// ---------------------------------------------------------------------------------------------
// Parameters

// Whether no note of the voice needs the time across `position`.
bool boundaryAt(const Voice& voice, int64_t position) {
  auto after = std::lower_bound(voice.notes.begin(), voice.notes.end(), position,
                                [](const Note& n, int64_t p) { return n.on < p; });
  if (after == voice.notes.begin()) return true;
  const Note& before = *(after - 1);
  return position >= before.on + shortestLength(before.sound);
}

// The first boundary at or after `position`: the end of the note that needs the time there.
int64_t boundaryFrom(const Voice& voice, int64_t position) {
  auto after = std::lower_bound(voice.notes.begin(), voice.notes.end(), position,
                                [](const Note& n, int64_t p) { return n.on < p; });
  const Note& before = *(after - 1);
  return before.on + shortestLength(before.sound);
}

void addParameter(Voice& voice, int64_t position, char command, int value, Counts& counts) {
  if (!boundaryAt(voice, position)) {
    position = boundaryFrom(voice, position);
    ++counts.parametersMoved;
  }
  voice.parameters.push_back({position, command, value});
}

// Changes of one kind as the score writes them: at their units, the last of several at one
// place, only those that change the value.
std::vector<SourceChange> effectiveChanges(const std::vector<SourceChange>& changes, int channel,
                                           int start, int division, Counts& counts) {
  std::vector<SourceChange> result;
  for (const SourceChange& c : changes) {
    if (channel >= 0 && c.channel != channel) continue;
    if (!onGrid(c.tick, division)) ++counts.parametersMoved;
    SourceChange at = c;
    at.tick = nearestUnit(c.tick, division);
    if (!result.empty() && result.back().tick == at.tick) result.pop_back();
    result.push_back(at);
  }
  std::vector<SourceChange> changed;
  int current = start;
  for (const SourceChange& c : result) {
    if (c.value == current) continue;
    changed.push_back(c);
    current = c.value;
  }
  return changed;
}

// Microseconds a quarter of a tempo in beats a minute, as the compiler writes it.
int64_t microsOf(int bpm) {
  return static_cast<int64_t>(60.0 / bpm * 1000000.0);
}

// The tempo map in whole beats a minute with its rounding carried: each stretch between two
// decision points takes the tempo that leaves the score's clock nearest the file's at the
// stretch's end, so that rounding never adds up. Decision points are the file's tempo changes
// and, while the file's tempo is no whole number, the beats where a voice has a boundary;
// there a new tempo is written only when the old one would let the clock drift by more than
// half a grid unit.
class TempoMap {
 public:
  TempoMap(const BarStarts& bars, Counts& counts) : bars_(bars), counts_(counts) {}

  // (position, beats a minute) of each `t` to write, for the file's changes `tempos` (at
  // units, microseconds) up to `end`; `boundary` tells where a correction may stand.
  template <typename Boundary>
  std::vector<std::pair<int64_t, int>> build(const std::vector<SourceChange>& tempos, int64_t end,
                                             Boundary boundary) {
    std::vector<std::pair<int64_t, int>> written;
    int64_t micros = START_MICROS;
    size_t next = 0;
    for (int64_t position = 0; position < end || next < tempos.size();) {
      bool change = false;
      while (next < tempos.size() && tempos[next].tick <= position) {
        micros = tempos[next++].value;
        change = true;
      }
      int64_t following = next < tempos.size() ? tempos[next].tick : end;
      if (exactBpm(micros) == 0) {  // the next beat with a boundary may correct the drift
        for (int64_t beat = nextBeat(position); beat < following; beat = nextBeat(beat)) {
          if (boundary(beat)) {
            following = beat;
            break;
          }
        }
      }
      const int bpm = choose(micros, std::max<int64_t>(following - position, 0), change, position);
      if (bpm != current_) {
        written.push_back({position, bpm});
        current_ = bpm;
      }
      error_ +=
          static_cast<double>(following - position) * (microsOf(bpm) - micros) / UNITS_PER_QUARTER;
      if (following <= position) break;
      position = following;
    }
    return written;
  }

  // The first tempo outside the language's range: its beats a minute and position.
  int outside = 0;
  double firstOutside = 0;
  int64_t firstOutsideAt = 0;

 private:
  // The first beat (a quarter from its bar's start) after `position`.
  int64_t nextBeat(int64_t position) const {
    auto bar = std::upper_bound(bars_.begin(), bars_.end(), position);
    const int64_t start = bar == bars_.begin() ? 0 : *(bar - 1);
    const int64_t beat = start + ((position - start) / BEAT_UNITS + 1) * BEAT_UNITS;
    return bar != bars_.end() ? std::min(beat, *bar) : beat;
  }

  static int exactBpm(int64_t micros) {
    const double exact = 60.0e6 / static_cast<double>(std::max<int64_t>(micros, 1));
    const long nearest = std::lround(exact);
    for (long bpm = std::max(long{TEMPO_MIN}, nearest - 1);
         bpm <= std::min(long{TEMPO_MAX}, nearest + 1); ++bpm) {
      if (microsOf(static_cast<int>(bpm)) == micros) return static_cast<int>(bpm);
    }
    return 0;
  }

  // The tempo for `units` of the file's `micros` from `position`: at a file's change the exact
  // one when the clock stays within half a grid unit, else the one that brings it nearest; at a
  // correction point the tempo in force when that keeps the clock within half a grid unit.
  int choose(int64_t micros, int64_t units, bool change, int64_t position) {
    const double exact = 60.0e6 / static_cast<double>(std::max<int64_t>(micros, 1));
    if (change) {
      if (exact < TEMPO_MIN - 0.5 || exact >= TEMPO_MAX + 0.5) {
        if (outside++ == 0) {
          firstOutside = exact;
          firstOutsideAt = position;
        }
      } else if (exactBpm(micros) == 0) {
        ++counts_.tempoRounded;
      }
    }
    const double halfUnit = static_cast<double>(micros) / (2 * UNITS_PER_QUARTER);
    auto drift = [&](int bpm) {
      return std::abs(error_ +
                      static_cast<double>(units) * (microsOf(bpm) - micros) / UNITS_PER_QUARTER);
    };
    const int preferred = change ? exactBpm(micros) : current_;
    if (preferred > 0 && drift(preferred) <= halfUnit) return preferred;
    const int low = std::clamp(static_cast<int>(std::floor(exact)), TEMPO_MIN, TEMPO_MAX);
    const int high = std::clamp(static_cast<int>(std::ceil(exact)), TEMPO_MIN, TEMPO_MAX);
    return drift(low) <= drift(high) ? low : high;
  }

  const BarStarts& bars_;
  Counts& counts_;
  int current_ = START_TEMPO;
  double error_ = 0;  // microseconds the score's clock is behind (+) the file's
};

// The first voice with a boundary at the tempo change, the drum voice included; when every
// voice holds a note there, a voice of its own on a free channel (ch9 too), else the first
// voice, where the change moves to the end of the note.
size_t tempoVoice(std::vector<Voice>& voices, int64_t position) {
  for (size_t i = 0; i < voices.size(); ++i) {
    if (boundaryAt(voices[i], position)) return i;
  }
  bool used[CHANNEL_COUNT + 1] = {};
  for (const Voice& v : voices) used[v.scoreChannel] = true;
  for (int c = 1; c <= CHANNEL_COUNT; ++c) {
    if (!used[c]) {
      voices.emplace_back();
      voices.back().scoreChannel = c;
      return voices.size() - 1;
    }
  }
  return 0;
}

void placeParameters(std::vector<Voice>& voices, const MidiSource& source, const BarStarts& bars,
                     Counts& counts) {
  for (Voice& v : voices) {
    for (const SourceChange& c :
         effectiveChanges(source.programs, v.midiChannel, START_PROGRAM, source.division, counts)) {
      addParameter(v, c.tick, '@', c.value, counts);
    }
    for (const SourceChange& c :
         effectiveChanges(source.pans, v.midiChannel, -1, source.division, counts)) {
      addParameter(v, c.tick, '$', c.value, counts);
    }
  }
  const std::vector<SourceChange> tempos =
      effectiveChanges(source.tempos, -1, static_cast<int>(START_MICROS), source.division, counts);
  if (voices.empty() && !tempos.empty()) {  // a tempo map without notes still needs a voice
    voices.emplace_back();
    voices.back().scoreChannel = 1;
  }
  int64_t end = 0;
  for (const Voice& v : voices) {
    for (const Note& n : v.notes) end = std::max(end, n.end);
  }
  TempoMap map(bars, counts);
  const auto written = map.build(tempos, end, [&](int64_t position) {
    return std::any_of(voices.begin(), voices.end(),
                       [&](const Voice& v) { return boundaryAt(v, position); });
  });
  for (const auto& [position, bpm] : written) {
    addParameter(voices[tempoVoice(voices, position)], position, 't', bpm, counts);
  }
  if (map.outside > 0) {
    counts.temposOutside = map.outside;
    counts.firstOutside = map.firstOutside;
    counts.firstOutsideAt = map.firstOutsideAt;
  }
  std::sort(voices.begin(), voices.end(),
            [](const Voice& a, const Voice& b) { return a.scoreChannel < b.scoreChannel; });
  for (Voice& v : voices) {
    std::stable_sort(
        v.parameters.begin(), v.parameters.end(),
        [](const VoiceParameter& a, const VoiceParameter& b) { return a.position < b.position; });
  }
}

// ---------------------------------------------------------------------------------------------
// Items

void addRests(Voice& voice, int64_t from, int64_t to) {
  for (const VoiceParameter& p : voice.parameters) {  // parameters split a rest
    if (p.position > from && p.position < to) {
      voice.items.push_back({from, static_cast<int32_t>(p.position - from), 0, 0, GATE_STEP_Q8});
      from = p.position;
    }
  }
  if (to > from) voice.items.push_back({from, static_cast<int32_t>(to - from), 0, 0, GATE_STEP_Q8});
}

// Whether the compiled score does not start or end the note where the file does; the largest
// shift is kept.
bool noteMoved(const MidiSource& source, const Note& n, int64_t length, int gate, Counts& counts) {
  const SourceNote& s = source.notes[n.source];
  const int64_t on = n.on * TICKS_PER_UNIT;
  // A legato note or drum hit ended where the next starts is counted as such: only its onset
  // counts here.
  const int64_t off =
      n.trimmed
          ? s.offTick * FINE_PER_QUARTER / source.division
          : on + (length == 0 ? 0
                              : noteOnTicks(static_cast<uint32_t>(length * TICKS_PER_UNIT), gate));
  const int64_t d = source.division;
  if (on * d == s.onTick * FINE_PER_QUARTER &&
      (n.trimmed || off * d == s.offTick * FINE_PER_QUARTER)) {
    return false;
  }
  const double shift =
      std::max(std::abs(static_cast<double>(on * d) / FINE_PER_QUARTER - s.onTick),
               std::abs(static_cast<double>(off * d) / FINE_PER_QUARTER - s.offTick));
  counts.maxShift = std::max(counts.maxShift, shift);
  return true;
}

// The length and gate step of each note: its own sounding time exactly, under the gate step in
// force when one fits, within the time before the voice's next note or parameter.
// A note shortened within its written length, as staccato plays it: when the time to the next
// note (`room`) is one length that a gate step shortens to the note's time exactly, that length
// (`q4 c16` rather than `c32r32`); the gate step in force first. 0 when none does; only lengths
// shorter than a full-length note are gated.
int64_t gatedToNext(int64_t sound, int64_t room, int gate, int& noteGate) {
  if (room >= FULL_LENGTH_UNITS || sound == room * TICKS_PER_UNIT) return 0;
  if (std::find(std::begin(LENGTH_TICKS) + 1, std::end(LENGTH_TICKS), room) ==
      std::end(LENGTH_TICKS)) {
    return 0;
  }
  for (int g : {gate, 7, 6, 5, 4, 3, 2, 1, 0}) {
    if (noteOnTicks(static_cast<uint32_t>(room * TICKS_PER_UNIT), g) == sound) {
      noteGate = g;
      return room;
    }
  }
  return 0;
}

void buildItems(Voice& voice, const MidiSource& source, Counts& counts) {
  // A note, and a rest before it split by the parameters there; a rest up to the last parameter.
  voice.items.reserve(2 * voice.notes.size() + voice.parameters.size() + 1);
  int64_t cursor = 0;
  int gate = GATE_STEP_Q8;
  size_t parameter = 0;
  for (size_t i = 0; i < voice.notes.size(); ++i) {
    const Note& n = voice.notes[i];
    if (n.on > cursor) addRests(voice, cursor, n.on);
    int64_t room = i + 1 < voice.notes.size() ? voice.notes[i + 1].on - n.on : NEVER;
    while (parameter < voice.parameters.size() && voice.parameters[parameter].position <= n.on) {
      ++parameter;
    }
    if (parameter < voice.parameters.size()) {
      room = std::min(room, voice.parameters[parameter].position - n.on);
    }
    int64_t length = 0;
    int noteGate = gate;
    if (n.sound > 0) length = gatedToNext(n.sound, room, gate, noteGate);
    if (n.sound > 0 && length == 0) {
      for (int g : {gate, 7, 6, 5, 4, 3, 2, 1, 0}) {
        const int64_t d = exactLength(n.sound, g);
        if (d > 0 && d <= room) {
          length = d;
          noteGate = g;
          break;
        }
      }
      if (length == 0) {
        length = std::min(snappedLength(n.sound), room);
        noteGate = GATE_STEP_Q8;
      }
    }
    if (length > 0 && length < FULL_LENGTH_UNITS) gate = noteGate;
    const bool moved = noteMoved(source, n, length, noteGate, counts);
    voice.items.push_back({n.on, static_cast<int32_t>(length), n.key, n.level,
                           static_cast<uint8_t>(noteGate),
                           static_cast<uint8_t>(n.marks | (moved ? MARK_MOVED : 0))});
    cursor = n.on + length;
  }
  if (!voice.parameters.empty() && voice.parameters.back().position > cursor) {
    addRests(voice, cursor, voice.parameters.back().position);
  }
}

// ---------------------------------------------------------------------------------------------
// Bars

bool barsOf(const MidiSource& source, int64_t end, BarStarts& bars) {
  std::vector<std::pair<int64_t, int64_t>> signatures;  // unit, bar length
  for (const SourceChange& c : source.timeSignatures) {
    int64_t length = int64_t{c.value} * UNITS_PER_WHOLE >> std::min(c.extra, 7);
    if (c.value == 0) length = UNITS_PER_WHOLE;
    const int64_t at = nearestUnit(c.tick, source.division);
    if (!signatures.empty() && signatures.back().first == at) signatures.pop_back();
    signatures.push_back({at, std::max<int64_t>(length, 1)});
  }
  int64_t length = UNITS_PER_WHOLE;
  size_t next = 0;
  for (int64_t position = 0;;) {
    while (next < signatures.size() && signatures[next].first <= position) {
      length = signatures[next++].second;
    }
    bars.push_back(position);
    if (position >= end) return true;
    if (bars.size() > BARS_MAX) return false;
    int64_t following = position + length;
    if (next < signatures.size() && signatures[next].first < following) {
      following = signatures[next].first;  // a new time signature starts a new bar
    }
    position = following;
  }
}

// ---------------------------------------------------------------------------------------------
// Tuplets

// Notes a tuplet of another program may hold, and the spans (units) it may fill, tried in this
// order: the smallest group and the shortest span first, so sextuplets become two triplets.
constexpr int TUPLET_SIZES[] = {3, 5, 6, 7};
constexpr int64_t TUPLET_SPANS[] = {8, 16, 32, 64, 128};

// The units the compiler gives the k-th of n notes of a tuplet over `span`: span div n, one more
// for every step-th from the first.
int64_t tupletShare(int64_t span, int n, int k) {
  const int64_t q = span / n, r = span % n;
  const int64_t step = r > 0 ? n / r : 1;
  return q + (r > 0 && k % step == 0 && k / step < r ? 1 : 0);
}

// Whether the n notes from `first` play an even split of `span` units from the first note's
// grid point: every onset and end within one grid unit of its split point, every note sounding
// to its end (legato), one velocity level give or take one, and nothing else starting inside.
// Times are compared as ticks * 32 * n, where a split point and a unit are whole numbers.
bool tupletGroup(const std::vector<Note>& notes, size_t first, int n, int64_t span,
                 const MidiSource& source) {
  if (first + static_cast<size_t>(n) > notes.size()) return false;
  const int64_t d = source.division;
  const int64_t unit = d * n;
  auto split = [&](int k) { return notes[first].on * d * n + k * span * d; };
  int lowest = VELOCITY_LEVEL_MAX, highest = 0;
  for (int k = 0; k < n; ++k) {
    const Note& note = notes[first + static_cast<size_t>(k)];
    const SourceNote& s = source.notes[note.source];
    const int64_t on = s.onTick * UNITS_PER_QUARTER * n;
    const int64_t off = s.offTick * UNITS_PER_QUARTER * n;
    if (std::abs(on - split(k)) >= unit || note.sound == 0) return false;
    if (!note.trimmed && std::abs(off - split(k + 1)) >= unit) return false;
    lowest = std::min<int>(lowest, note.level);
    highest = std::max<int>(highest, note.level);
  }
  if (highest - lowest > 1) return false;
  const size_t after = first + static_cast<size_t>(n);
  return after == notes.size() ||
         source.notes[notes[after].source].onTick * UNITS_PER_QUARTER * n > split(n) - unit;
}

// Notes of another program's tuplets, which fall beside the grid, are put where the compiler
// plays a tuplet over the same span, so that the score writes them as one (`{cde}4`); a group
// starts on a beat (or, for a span shorter than a beat, on a point of its span) and stays in its
// bar. The notes of a group take its first note's level.
void snapTuplets(Voice& voice, const MidiSource& source, const BarStarts& bars, Counts& counts) {
  std::vector<Note>& notes = voice.notes;
  for (size_t i = 0; i < notes.size();) {
    const int64_t start = notes[i].on;
    auto bar = std::upper_bound(bars.begin(), bars.end(), start);
    const int64_t barStart = bar == bars.begin() ? 0 : *(bar - 1);
    const int64_t barEnd = bar == bars.end() ? NEVER : *bar;
    int size = 0;
    int64_t span = 0;
    // The first note must end within a unit of the group's first split point (unless trimmed):
    // checked here first, as most notes start no group.
    const int64_t d = source.division;
    const int64_t firstLength =
        source.notes[notes[i].source].offTick * UNITS_PER_QUARTER - start * d;
    for (const int64_t t : TUPLET_SPANS) {
      if ((start - barStart) % std::min(t, BEAT_UNITS) != 0 || start + t > barEnd) continue;
      for (const int n : TUPLET_SIZES) {
        const bool firstFits = notes[i].trimmed || std::abs(firstLength * n - t * d) < d * n;
        if (size == 0 && firstFits && tupletGroup(notes, i, n, t, source)) {
          size = n;
          span = t;
        }
      }
    }
    if (size == 0) {
      ++i;
      continue;
    }
    int64_t at = start;
    const int level = notes[i].level;
    for (int k = 0; k < size; ++k) {
      Note& note = notes[i + static_cast<size_t>(k)];
      const int64_t share = tupletShare(span, size, k);
      note.on = at;
      note.end = at + share;
      note.sound = share * TICKS_PER_UNIT;
      note.trimmed = false;
      if (note.level != level) {
        note.level = level;
        ++counts.tupletLevels;
      }
      at += share;
    }
    i += static_cast<size_t>(size);
  }
}

// ---------------------------------------------------------------------------------------------
// Texts

// A name or copyright of the file as a quoted header text: no quote or control character, at
// most `limit` bytes in the score's encoding (cut at a character), the characters the encoding
// cannot hold left out. Empty when nothing is left; `cut` tells that it was shortened.
std::string headerText(const std::string& raw, ScoreEncoding encoding, size_t limit, bool& cut,
                       int& leftOut) {
  std::string utf8 = fileTextToUtf8(raw);
  for (char& c : utf8) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    if (c == '"') c = '\'';
  }
  return encodableText(utf8, encoding, limit, cut, leftOut);
}

void headerLine(const char* command, ImportText leftOut, ImportText charactersLeftOut,
                ImportText cut, bool present, const std::string& raw, ScoreEncoding encoding,
                size_t limit, std::string& text, std::vector<ImportMessage>& report) {
  if (!present || raw.empty()) return;
  bool wasCut = false;
  int characters = 0;
  const std::string value = headerText(raw, encoding, limit, wasCut, characters);
  if (value.empty()) {
    report.push_back({leftOut, {}});
    return;
  }
  if (characters > 0) report.push_back({charactersLeftOut, {std::to_string(characters)}});
  if (wasCut) report.push_back({cut, {std::to_string(limit)}});
  text += std::string(command) + "(\"" + value + "\")\n";
}

// The comma-separated numbers, runs of consecutive ones as "first-last" when `runs`.
// `numbers` ascending, each once.
std::string numberList(const std::vector<int64_t>& numbers, bool runs) {
  std::string text;
  for (auto it = numbers.begin(); it != numbers.end();) {
    const int64_t first = *it;
    int64_t last = first;
    while (++it != numbers.end() && runs && *it == last + 1) last = *it;
    if (!text.empty()) text += ", ";
    text += std::to_string(first);
    if (last > first) text.append("-").append(std::to_string(last));
  }
  return text;
}

// One message a kind of thing left out or changed, in the order the report lists them.
void reportCounts(const Counts& c, const MidiSource& s, const BarStarts& bars,
                  std::vector<ImportMessage>& report) {
  if (c.tracksHeld < c.tracksNamed) {
    report.push_back(
        {ImportText::TracksMissing, {std::to_string(c.tracksNamed), std::to_string(c.tracksHeld)}});
  }
  if (c.runningAfterSpecial) {
    report.push_back({ImportText::RunningStatusAfterMeta, {std::to_string(c.runningAfterSpecial)}});
  }
  if (c.noNotes && !s.compiled) report.push_back({ImportText::NoNotes, {}});
  if (c.moved) {
    char shift[32];
    std::snprintf(shift, sizeof shift, "%g", c.maxShift);
    report.push_back({ImportText::NotesMoved, {std::to_string(c.moved), shift}});
  }
  for (const auto& [part, dropped] : c.dropped) {
    std::vector<int64_t> numbers;  // bar numbers from 1
    numbers.reserve(dropped.second.size());
    for (int64_t p : dropped.second) {  // in runs of onsets in time order, one a voice
      const int64_t bar = std::upper_bound(bars.begin(), bars.end(), p) - bars.begin();
      if (numbers.empty() || numbers.back() != bar) numbers.push_back(bar);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    report.push_back({ImportText::NotesDropped,
                      {std::to_string(dropped.first), numberList(numbers, true),
                       std::to_string(part.first + 1), std::to_string(part.second + 1)}});
  }
  for (const auto& [from, bar, channel] : c.continued) {
    report.push_back({ImportText::VoiceContinued,
                      {std::to_string(from), std::to_string(CHANNEL_EVENTS_MAX),
                       std::to_string(bar), std::to_string(channel)}});
  }
  for (const auto& [from, bar, notes] : c.cut) {
    report.push_back({ImportText::VoiceCut,
                      {std::to_string(from), std::to_string(CHANNEL_EVENTS_MAX),
                       std::to_string(notes), std::to_string(bar)}});
  }
  if (c.partsLeftOut) {
    report.push_back({ImportText::PartsLeftOut, {std::to_string(c.partsLeftOut)}});
  }
  if (c.unwritable) {
    report.push_back({ImportText::ZeroLengthDropped, {std::to_string(c.unwritable)}});
  }
  if (c.crowded) {
    report.push_back({ImportText::ZeroLengthCrowded,
                      {std::to_string(c.crowded), std::to_string(JOINING_ZEROS_MAX)}});
  }
  if (c.temposOutside) {
    char bpm[32];
    std::snprintf(bpm, sizeof bpm, "%.4g", c.firstOutside);
    const int64_t bar = std::upper_bound(bars.begin(), bars.end(), c.firstOutsideAt) - bars.begin();
    report.push_back(
        {ImportText::TemposOutside, {std::to_string(c.temposOutside), bpm, std::to_string(bar)}});
  }
  const std::pair<int, ImportText> counted[] = {
      {c.trimmed, ImportText::LegatoTrimmed},
      {c.outside, ImportText::NotesTransposed},
      {s.repaired, ImportText::NotesRepaired},
      {c.drumsShortened, ImportText::DrumsShortened},
      {c.velocityRounded, ImportText::VelocitiesRounded},
      {c.velocityChanged, ImportText::VelocitiesMatched},
      {c.tupletLevels, ImportText::TupletLevelsJoined},
      {c.snapped, ImportText::NotesSnapped},
      {c.steadied, ImportText::VelocitiesSteadied},
      {c.tempoRounded, ImportText::TemposRounded},
      {c.parametersMoved, ImportText::ChangesMoved},
      {s.pitchBends, ImportText::PitchBendsLost},
      {s.sustainPedal, ImportText::SustainPedalLost},
  };
  for (const auto& [n, kind] : counted) {
    if (n) report.push_back({kind, {std::to_string(n)}});
  }
  if (s.controllers) {
    const std::vector<int64_t> numbers(s.controllerNumbers.begin(), s.controllerNumbers.end());
    report.push_back(
        {ImportText::ControllersLost, {std::to_string(s.controllers), numberList(numbers, false)}});
  }
  if (s.otherMessages) {
    report.push_back({ImportText::OtherMessagesLost, {std::to_string(s.otherMessages)}});
  }
  if (s.texts) report.push_back({ImportText::TextsLost, {std::to_string(s.texts)}});
}

// ---------------------------------------------------------------------------------------------
// Channel blocks

// What every voice is written with.
struct VoiceWriting {
  const MidiSource& source;
  const BarStarts& bars;
  const FlatKeys& flatKeys;
};

// Appends the voice's lines to `lines` when it fits a channel (see layoutVoice).
bool layoutOf(const Voice& v, const VoiceWriting& w, std::string& lines, LayoutCounts& layout) {
  // A compiled file's zero-length notes come back tied, as they were written; another
  // program's simultaneous drum hits each keep their level.
  const Joining joining = v.drum && !w.source.compiled ? Joining::Hits : Joining::Tied;
  return layoutVoice(v.items, v.parameters, w.bars, v.drum ? NoteForm::Code : NoteForm::Letter,
                     joining, w.flatKeys, CHANNEL_EVENTS_MAX, lines, layout);
}

// The last bar line the voice reaches within a channel's events, where no note sounds across:
// its position, or 0 when there is none.
int64_t cutPosition(const Voice& v, const LayoutCounts& layout, const BarStarts& bars) {
  for (size_t b = std::min(layout.eventsBefore.size(), bars.size()); b-- > 1;) {
    if (layout.eventsBefore[b] > CHANNEL_EVENTS_MAX) continue;
    const int64_t at = bars[b];
    const bool crossed = std::any_of(v.items.begin(), v.items.end(), [at](const VoiceItem& i) {
      return i.isNote() && i.start < at && i.start + i.length > at;
    });
    if (!crossed) return at;
  }
  return 0;
}

// The voice's notes and parameters from `at` on, as a voice of their own that starts with the
// program and pan in force there; the voice keeps what stands before.
Voice splitVoice(Voice& v, int64_t at, const MidiSource& source, Counts& counts) {
  Voice rest;
  rest.track = v.track;
  rest.midiChannel = v.midiChannel;
  rest.drum = v.drum;
  auto from = std::lower_bound(v.notes.begin(), v.notes.end(), at,
                               [](const Note& n, int64_t p) { return n.on < p; });
  rest.notes.assign(from, v.notes.end());
  v.notes.erase(from, v.notes.end());
  for (const char command : {'@', '$'}) {
    const VoiceParameter* inForce = nullptr;
    for (const VoiceParameter& p : v.parameters) {
      if (p.command == command && p.position < at) inForce = &p;
    }
    if (inForce != nullptr) rest.parameters.push_back({at, command, inForce->value});
  }
  for (const VoiceParameter& p : v.parameters) {
    if (p.position >= at) rest.parameters.push_back(p);
  }
  std::erase_if(v.parameters, [at](const VoiceParameter& p) { return p.position >= at; });
  std::stable_sort(
      rest.parameters.begin(), rest.parameters.end(),
      [](const VoiceParameter& a, const VoiceParameter& b) { return a.position < b.position; });
  v.items.clear();
  buildItems(v, source, counts);
  buildItems(rest, source, counts);
  return rest;
}

// Frees what the voice holds but its place: a voice written needs no more.
void release(Voice& v) {
  std::vector<Note>().swap(v.notes);
  std::vector<VoiceParameter>().swap(v.parameters);
  std::vector<VoiceItem>().swap(v.items);
}

// A score channel no voice takes, for a voice that is no drum voice; 0 when there is none.
int freeChannel(const std::vector<Voice>& voices, bool drum) {
  if (drum) return 0;
  bool used[CHANNEL_COUNT + 1] = {};
  for (const Voice& v : voices) used[v.scoreChannel] = true;
  for (int c = 1; c <= MELODY_CHANNELS; ++c) {
    if (!used[c]) return c;
  }
  return 0;
}

// Writes voice `index` as its channel block and counts what the report says of it; returns the
// notes written, or -1 when its first bar alone holds more events than a channel. A voice of
// more events than a channel holds is cut at the last bar line that fits: the rest goes on as a
// voice of its own in a free channel (written in its turn), or, where there is none, is left
// out.
int writeVoice(std::vector<Voice>& voices, size_t index, const VoiceWriting& w, Counts& counts,
               std::string& block) {
  LayoutCounts layout;
  block.append("ch").append(std::to_string(voices[index].scoreChannel)).append(" {\n");
  while (!layoutOf(voices[index], w, block, layout)) {
    const int64_t at = cutPosition(voices[index], layout, w.bars);
    if (at == 0) return -1;
    const int64_t bar = std::upper_bound(w.bars.begin(), w.bars.end(), at) - w.bars.begin();
    Voice rest = splitVoice(voices[index], at, w.source, counts);
    const int channel = freeChannel(voices, rest.drum);
    const int from = voices[index].scoreChannel;
    if (channel != 0) {
      rest.scoreChannel = channel;
      counts.continued.push_back({from, bar, channel});
      voices.push_back(std::move(rest));
    } else {
      const int left = static_cast<int>(std::count_if(
          rest.items.begin(), rest.items.end(), [](const VoiceItem& i) { return i.isNote(); }));
      counts.cut.push_back({from, bar, left});
    }
    layout = LayoutCounts();
  }
  const Voice& v = voices[index];
  block.append("}\n");
  counts.velocityChanged += layout.velocityChanged;
  counts.unwritable += layout.unwritable;
  counts.crowded += layout.crowded;
  int written = 0;
  for (const VoiceItem& item : v.items) {  // the report counts the notes kept
    written += item.isNote() ? 1 : 0;
    counts.velocityRounded += (item.marks & MARK_ROUNDED) ? 1 : 0;
    counts.outside += (item.marks & MARK_TRANSPOSED) ? 1 : 0;
    counts.moved += (item.marks & MARK_MOVED) ? 1 : 0;
  }
  counts.velocityRounded -= layout.droppedRounded;
  counts.outside -= layout.droppedTransposed;
  counts.moved -= layout.droppedMoved;
  counts.drumsShortened += layout.lendersShortened;
  if (layout.late + layout.early > 0) {  // one unit from the file's time
    counts.moved += layout.late + layout.early;
    counts.maxShift = std::max(counts.maxShift, w.source.division / double{UNITS_PER_QUARTER});
  }
  return written - layout.unwritable - layout.crowded;
}

// ---------------------------------------------------------------------------------------------
// Transcription of played input

// Onsets and ends snapped to the grid the options ask for, in the file's ticks (a grid point
// need not be a whole tick: it is rounded); a note snapped to no length keeps one grid step.
// Returns the notes that changed.
int snapToGrid(MidiSource& source, const ImportOptions& options) {
  if (options.grid <= 0) return 0;
  // A grid step is 4 * division / grid ticks, two thirds of that for triplets: num / den.
  const int64_t num = int64_t{4} * source.division * (options.gridTriplets ? 2 : 1);
  const int64_t den = int64_t{options.grid} * (options.gridTriplets ? 3 : 1);
  auto point = [&](int64_t k) { return (k * num * 2 + den) / (den * 2); };
  auto nearest = [&](int64_t tick) { return (tick * den * 2 + num) / (num * 2); };
  int changed = 0;
  for (SourceNote& n : source.notes) {
    const int64_t on = nearest(n.onTick);
    const int64_t off = std::max(nearest(n.offTick), on + 1);
    if (point(on) != n.onTick || point(off) != n.offTick) ++changed;
    n.onTick = point(on);
    n.offTick = point(off);
  }
  return changed;
}

// A change of one velocity level from the note before, in a voice, is absorbed: the note takes
// the level before. Returns the notes that changed.
int steadyLevels(Voice& voice) {
  int changed = 0;
  for (size_t i = 1; i < voice.notes.size(); ++i) {
    Note& n = voice.notes[i];
    const int before = voice.notes[i - 1].level;
    if (std::abs(n.level - before) == 1) {
      n.level = before;
      ++changed;
    }
  }
  return changed;
}

// A part: the indices of its notes in MidiSource::notes, in file order.
using PartNotes = std::vector<uint32_t>;

// The parts of the file in the score's order (track, then MIDI channel), each its notes' indices;
// a part's notes are made one part at a time (notesOf), so that only one part's are ever held
// beside the voices.
std::map<std::pair<int, int>, PartNotes> partsOf(const MidiSource& source) {
  // Each part's indices in one allocation; a note finds its part by track and channel in a table.
  auto slot = [](const SourceNote& s) { return size_t{s.track} * MIDI_CHANNELS + s.channel; };
  std::vector<size_t> sizes(source.trackNames.size() * MIDI_CHANNELS);
  for (const SourceNote& s : source.notes) ++sizes[slot(s)];
  std::map<std::pair<int, int>, PartNotes> parts;
  std::vector<PartNotes*> part(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (sizes[i] == 0) continue;
    part[i] = &parts[{static_cast<int>(i / MIDI_CHANNELS), static_cast<int>(i % MIDI_CHANNELS)}];
    part[i]->reserve(sizes[i]);
  }
  for (size_t i = 0; i < source.notes.size(); ++i) {
    part[slot(source.notes[i])]->push_back(static_cast<uint32_t>(i));
  }
  return parts;
}

// A part's notes on the grid.
std::vector<Note> notesOf(const MidiSource& source, const PartNotes& part) {
  std::vector<Note> notes;
  notes.reserve(part.size());
  for (const uint32_t i : part) notes.push_back(noteOf(source, i));
  return notes;
}

}  // namespace

// The voices of the parts the options choose, in the file's order (the notes of one MIDI channel
// in one track, by track, then channel; the percussion channel is one part whatever its tracks,
// and a channel of program or pan changes alone is a part without notes), less the voices the
// score channels have no room for.
std::vector<Voice> voicesKept(const MidiSource& source, const ImportOptions& options,
                              Counts& counts) {
  std::map<std::pair<int, int>, PartNotes> parts = partsOf(source);
  std::vector<Note> drums;
  bool withNotes[MIDI_CHANNELS] = {};
  int number = 0;
  for (auto it = parts.begin(); it != parts.end();) {
    ++number;
    const int channel = it->first.second;
    if (!options.parts.empty() &&
        std::find(options.parts.begin(), options.parts.end(), number) == options.parts.end()) {
      counts.partsLeftOut += static_cast<int>(it->second.size());
      it = parts.erase(it);
      continue;
    }
    withNotes[channel] = true;
    if (channel == DRUM_MIDI_CHANNEL) {
      const std::vector<Note> notes = notesOf(source, it->second);
      drums.insert(drums.end(), notes.begin(), notes.end());
      it = parts.erase(it);
      continue;
    }
    ++it;
  }
  for (int c = 0; c < MIDI_CHANNELS && options.parts.empty(); ++c) {
    // a channel of changes alone still sets them
    const bool changes =
        std::any_of(source.programs.begin(), source.programs.end(),
                    [c](const SourceChange& p) { return p.channel == c && p.value != 0; }) ||
        std::any_of(source.pans.begin(), source.pans.end(),
                    [c](const SourceChange& p) { return p.channel == c; });
    if (changes && !withNotes[c] && c != DRUM_MIDI_CHANNEL) {
      parts[{std::numeric_limits<int>::max(), c}];
    }
    if (changes) withNotes[c] = true;
  }
  std::vector<Voice> voices;
  for (auto& [key, part] : parts) {
    std::vector<Voice> split = splitPart(notesOf(source, part), key.second, counts);
    PartNotes().swap(part);
    if (split.empty()) {
      split.emplace_back();
      split.back().midiChannel = key.second;
    }
    for (Voice& v : split) {
      v.track = key.first;
      voices.push_back(std::move(v));
    }
  }
  if (withNotes[DRUM_MIDI_CHANNEL]) voices.push_back(drumVoice(drums, counts));
  if (!source.compiled) dropLeastWorth(voices, counts);
  return voices;
}

bool listParts(const uint8_t* data, size_t size, std::vector<PartSummary>& parts,
               ImportMessage& error) {
  MidiSource source;
  MidiFileFacts facts;
  if (!gatherSource(data, size, source, facts, error)) return false;
  parts.clear();
  Counts ignored;
  for (auto& [key, indices] : partsOf(source)) {
    PartSummary part;
    part.track = key.first + 1;
    part.midiChannel = key.second + 1;
    part.notes = static_cast<int>(indices.size());
    for (const SourceChange& p : source.programs) {
      if (p.channel == key.second) {
        part.program = p.value;
        break;
      }
    }
    part.name = fileTextToUtf8(source.trackNames[static_cast<size_t>(key.first)]);
    part.voices =
        key.second == DRUM_MIDI_CHANNEL
            ? 1
            : static_cast<int>(splitPart(notesOf(source, indices), key.second, ignored).size());
    parts.push_back(part);
  }
  const std::vector<Voice> kept = voicesKept(source, ImportOptions(), ignored);
  for (PartSummary& part : parts) {
    part.keptByDefault = std::any_of(kept.begin(), kept.end(), [&](const Voice& v) {
      return !v.notes.empty() && v.midiChannel + 1 == part.midiChannel &&
             (v.drum || v.track + 1 == part.track);  // the drums are one voice of all tracks
    });
  }
  return true;
}

ImportResult importMidi(const uint8_t* data, size_t size, ScoreEncoding encoding,
                        const ImportOptions& options) {
  ImportResult result;
  MidiSource source;
  MidiFileFacts facts;
  if (!gatherSource(data, size, source, facts, result.error)) return result;
  const int snapped = snapToGrid(source, options);
  Counts counts;
  counts.runningAfterSpecial = facts.runningAfterSpecial;
  counts.tracksNamed = facts.tracksNamed;
  counts.tracksHeld = facts.tracksHeld;
  counts.snapped = snapped;

  int64_t last = 0;
  for (const SourceNote& n : source.notes) last = std::max(last, n.offTick);
  for (const auto* list :
       {&source.programs, &source.pans, &source.tempos, &source.timeSignatures}) {
    if (!list->empty()) last = std::max(last, list->back().tick);
  }
  if (nearestUnit(last, source.division) > UNITS_MAX) {
    result.error = {ImportText::TooManyBars, {std::to_string(BARS_MAX)}};
    return result;
  }

  std::vector<Voice> voices = voicesKept(source, options, counts);
  if (options.steadyVelocity) {
    for (Voice& v : voices) counts.steadied += steadyLevels(v);
  }
  placeVoices(voices, source.compiled, counts);
  counts.noNotes = source.notes.empty();
  keepSourcesOf(voices, source);
  int64_t noteEnd = 0;
  for (const Voice& v : voices) {
    for (const Note& n : v.notes) noteEnd = std::max(noteEnd, n.end);
  }
  BarStarts provisional;  // the bars as far as the notes go
  if (!barsOf(source, noteEnd, provisional)) {
    result.error = {ImportText::TooManyBars, {std::to_string(BARS_MAX)}};
    return result;
  }
  if (!source.compiled) {  // a compiled file's tuplets are on the grid already
    for (Voice& v : voices) snapTuplets(v, source, provisional, counts);
  }
  placeParameters(voices, source, provisional, counts);

  int64_t end = 0;
  for (Voice& v : voices) {
    buildItems(v, source, counts);
    if (!v.items.empty()) end = std::max(end, v.items.back().start + v.items.back().length);
  }
  BarStarts bars;
  if (!barsOf(source, end, bars)) {
    result.error = {ImportText::TooManyBars, {std::to_string(BARS_MAX)}};
    return result;
  }

  FlatKeys flatKeys;
  for (const SourceChange& k : source.keySignatures) {
    const int64_t at = nearestUnit(k.tick, source.division);
    if (!flatKeys.empty() && flatKeys.back().first == at) flatKeys.pop_back();
    flatKeys.push_back({at, k.value < 0});
  }
  std::string text;
  if (counts.noNotes && !source.compiled) text += std::string(NO_NOTES_COMMENT) + '\n';
  headerLine("sn", ImportText::NameLeftOut, ImportText::NameCharactersLeftOut, ImportText::NameCut,
             source.hasName, source.name, encoding, SEQUENCE_NAME_MAX, text, result.report);
  headerLine("cr", ImportText::CopyrightLeftOut, ImportText::CopyrightCharactersLeftOut,
             ImportText::CopyrightCut, source.hasCopyright, source.copyright, encoding,
             COPYRIGHT_MAX, text, result.report);
  const VoiceWriting writing{source, bars, flatKeys};
  std::vector<std::pair<int, std::string>> blocks;  // score channel, channel block
  for (size_t v = 0; v < voices.size(); ++v) {
    std::string block;
    const int written = writeVoice(voices, v, writing, counts, block);
    if (written < 0) {
      result.error = {ImportText::TooManyEvents,
                      {std::to_string(voices[v].scoreChannel), std::to_string(CHANNEL_EVENTS_MAX)}};
      return result;
    }
    result.notes += written;
    blocks.push_back({voices[v].scoreChannel, std::move(block)});
    release(voices[v]);  // written: only its channel is asked for again
  }
  std::stable_sort(blocks.begin(), blocks.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  size_t textSize = text.size();
  for (const auto& [channel, block] : blocks) textSize += 1 + block.size();
  text.reserve(textSize);
  for (auto& [channel, block] : blocks) {
    if (!text.empty()) text += '\n';
    text += block;
    std::string().swap(block);
  }
  result.voices = static_cast<int>(voices.size());
  reportCounts(counts, source, bars, result.report);

  if (!encodeScore(text, encoding, result.bytes)) {
    result.error = {ImportText::NotEncodable, {}};
    return result;
  }
  result.text = std::move(text);
  result.ok = true;
  return result;
}
