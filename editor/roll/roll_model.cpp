#include "editor/roll/roll_model.h"

#include <algorithm>
#include <limits>

#include "core/midi_writer.h"
#include "core/score_source_map.h"

namespace {

constexpr int QUARTERS_PER_WHOLE = 4;

}  // namespace

void RollModel::clear() {
  notes_.clear();
  std::fill(std::begin(channelStart_), std::end(channelStart_), 0);
  lowestKey_ = 60;
  highestKey_ = 72;
  tempo_ = MidiTempoMap();
  endTick_ = 0;
  meters_ = {{0, LEAD_IN_TICKS, 0}, {LEAD_IN_TICKS, int64_t{division()} * QUARTERS_PER_WHOLE, 1}};
}

void RollModel::build(const ScoreSourceMap& map) {
  notes_.clear();
  size_t parts = 0;
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) parts += map.noteParts(channel).size();
  notes_.reserve(parts);
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    channelStart_[channel - 1] = static_cast<int32_t>(notes_.size());
    buildChannel(map, channel);
  }
  channelStart_[CHANNEL_COUNT] = static_cast<int32_t>(notes_.size());
  int lowest = std::numeric_limits<int>::max();
  int highest = -1;
  int64_t lastOff = 0;
  for (const RollNote& note : notes_) {
    lowest = std::min<int>(lowest, note.key);
    highest = std::max<int>(highest, note.key);
    lastOff = std::max<int64_t>(lastOff, note.off);
  }
  lowestKey_ = highest < 0 ? 60 : lowest;
  highestKey_ = highest < 0 ? 72 : highest;
  tempo_ = map.tempoMap();
  endTick_ = std::max(tempo_.endTick(), lastOff);
  buildMeters();
}

// A note is its note-on part and the parts tied to it. It sounds from the note-on to the end of
// the last part that sounds at all (the parts behind the note-off are empty); its velocity is
// that of the channel's level at its note-on event, as the writer keeps it.
void RollModel::buildChannel(const ScoreSourceMap& map, int channel) {
  const int32_t k = channelIndex(channel);
  const std::vector<ScoreSourceMap::NotePart>& parts = map.noteParts(channel);
  const std::vector<uint8_t>& events = map.recorded().events[k];
  const std::vector<SourcePosition>& positions = map.recorded().positions[k];
  int32_t level = START_LEVEL;
  int32_t levelAt = 0;  // the events before this one have set `level`
  RollNote note;
  bool open = false;
  auto close = [&] {
    if (open && note.velocity > 0) notes_.push_back(note);
    open = false;
  };
  for (const ScoreSourceMap::NotePart& part : parts) {
    const SourcePosition& p = positions[static_cast<size_t>(part.event)];
    if (part.noteOn) {
      close();
      for (; levelAt < part.event; ++levelAt) {
        const size_t at = 2 * static_cast<size_t>(levelAt);
        if (events[at] == EVENT_VELOCITY)
          level = std::min<int32_t>(events[at + 1], VELOCITY_LEVEL_MAX);
      }
      note.on = part.start;
      note.off = part.start;
      note.event = part.event;
      note.units = 0;
      note.line = p.line;
      note.column = p.column;
      note.length = p.length;
      note.channel = static_cast<uint8_t>(channel);
      note.key =
          static_cast<uint8_t>(events[2 * static_cast<size_t>(part.event)] + NOTE_NUMBER_OFFSET);
      note.velocity = VELOCITY_BY_LEVEL[level];
      open = true;
    }
    if (!open) continue;
    note.units += events[2 * static_cast<size_t>(part.event) + 1];
    if (part.end > part.start) note.off = part.end;
    note.lastLine = p.line;
    note.lastEnd = static_cast<uint16_t>(p.column + p.length);
  }
  close();
}

// Each time signature starts a bar; its bars run until the next one.
void RollModel::buildMeters() {
  meters_.clear();
  const int64_t whole = int64_t{division()} * QUARTERS_PER_WHOLE;
  int64_t bar = 0;
  for (const MidiTempoMap::TimeSignature& s : tempo_.timeSignatures()) {
    const int64_t ticks = std::max<int64_t>(1, s.numerator * whole >> s.denominatorPower);
    if (!meters_.empty()) {
      const Meter& before = meters_.back();
      bar = before.firstBar + (s.tick - before.tick + before.barTicks - 1) / before.barTicks;
    }
    meters_.push_back({s.tick, ticks, bar});
  }
  if (meters_.empty()) meters_.push_back({0, whole, 0});
}

std::span<const RollNote> RollModel::channelNotes(int channel) const {
  if (channel < 1 || channel > CHANNEL_COUNT || notes_.empty()) return {};
  return std::span<const RollNote>(notes_).subspan(
      static_cast<size_t>(channelStart_[channel - 1]),
      static_cast<size_t>(channelStart_[channel] - channelStart_[channel - 1]));
}

std::pair<int32_t, int32_t> RollModel::sounding(int channel, int64_t from, int64_t to) const {
  const std::span<const RollNote> notes = channelNotes(channel);
  // A note of no length at `from` still shows as a sliver.
  const auto first = std::partition_point(notes.begin(), notes.end(), [&](const RollNote& n) {
    return n.off < from || (n.off == from && n.on < from);
  });
  const auto last =
      std::partition_point(first, notes.end(), [&](const RollNote& n) { return n.on < to; });
  const int32_t base = channelNotes(channel).empty() ? 0 : firstIndex(channel);
  return {base + static_cast<int32_t>(first - notes.begin()),
          base + static_cast<int32_t>(last - notes.begin())};
}

int32_t RollModel::noteAt(int channel, int key, int64_t tick, int64_t slack) const {
  const auto [first, last] = sounding(channel, tick - slack, tick + slack + 1);
  int32_t best = -1;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (int32_t i = first; i < last; ++i) {
    const RollNote& note = notes_[static_cast<size_t>(i)];
    if (note.key != key) continue;
    const int64_t distance = tick < note.on     ? note.on - tick
                             : tick >= note.off ? tick - note.off
                                                : 0;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

std::vector<int32_t> RollModel::notesAtCaret(int line, int byte) const {
  return notesIn({line, byte}, {line, byte});
}

// A channel's notes stand in the text in their order, so the notes a range touches are one run
// of each channel's notes.
std::vector<int32_t> RollModel::notesIn(SourcePoint from, SourcePoint to) const {
  std::vector<int32_t> found;
  const bool caret = !(from < to);
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    const std::span<const RollNote> notes = channelNotes(channel);
    if (notes.empty()) continue;
    const int32_t base = firstIndex(channel);
    auto i = std::partition_point(notes.begin(), notes.end(),
                                  [&](const RollNote& n) { return n.end() < from; });
    if (caret) {
      if (i == notes.end()) continue;
      // Right behind one command and at the start of the next: the next one.
      if (i->end() == from && i + 1 != notes.end() && i[1].start() == from) ++i;
      if (!(from < i->start())) found.push_back(base + static_cast<int32_t>(i - notes.begin()));
      continue;
    }
    if (i != notes.end() && i->end() == from) ++i;  // ends where the selection starts
    for (; i != notes.end() && i->start() < to; ++i)
      found.push_back(base + static_cast<int32_t>(i - notes.begin()));
  }
  return found;
}

void RollModel::bars(int64_t from, int64_t to, int64_t every, std::vector<RollBar>& out) const {
  every = std::max<int64_t>(every, 1);
  for (size_t m = 0; m < meters_.size(); ++m) {
    const Meter& meter = meters_[m];
    const int64_t end = m + 1 < meters_.size() ? meters_[m + 1].tick : to;
    if (end <= from) continue;
    if (meter.tick >= to) break;
    // The first bar of this meter at or after `from` whose number is a multiple of `every`.
    int64_t bar = meter.firstBar;
    if (from > meter.tick) bar += (from - meter.tick + meter.barTicks - 1) / meter.barTicks;
    bar = (bar + every - 1) / every * every;
    for (;; bar += every) {
      const int64_t tick = meter.tick + (bar - meter.firstBar) * meter.barTicks;
      if (tick >= end || tick >= to) break;
      out.push_back({tick, bar});
    }
  }
}

int64_t RollModel::barTicks(int64_t tick) const {
  const auto later = std::upper_bound(meters_.begin(), meters_.end(), tick,
                                      [](int64_t t, const Meter& m) { return t < m.tick; });
  return later == meters_.begin() ? meters_.front().barTicks : (later - 1)->barTicks;
}
