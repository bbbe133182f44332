#include "core/score_source_map.h"

#include <algorithm>
#include <utility>

#include "core/midi_writer.h"

namespace {

int64_t tickAt(int64_t units) {
  return LEAD_IN_TICKS + units * TICKS_PER_UNIT;
}

SourcePoint startOf(const SourcePosition& p) {
  return {p.line, p.column};
}

SourcePoint endOf(const SourcePosition& p) {
  return {p.line, p.column + p.length};
}

}  // namespace

// Every vector keeps its storage from one compilation to the next: a maximal score's map is
// megabytes, and fresh pages cost more than filling them.
bool ScoreSourceMap::build(SourceMap& recorded, const uint8_t* midi, size_t size,
                           std::string* error) {
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    std::swap(recorded_.events[k], recorded.events[k]);
    std::swap(recorded_.positions[k], recorded.positions[k]);
    recorded_.startGate[k] = recorded.startGate[k];
    ticks_[k].clear();
    notes_[k].clear();
  }
  std::swap(recorded_.blocks, recorded.blocks);
  std::swap(recorded_.octaveMarks, recorded.octaveMarks);
  tempoMap_ = MidiTempoMap();
  if (size > 0 && !tempoMap_.parse(midi, size, error)) {
    for (int32_t k = 0; k < CHANNEL_COUNT; ++k) recorded_.positions[k].clear();
    recorded_.blocks.clear();
    recorded_.octaveMarks.clear();
    return false;
  }
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) timeChannel(k);
  return true;
}

// The channel track's time as the MIDI writer walks the events: every event at the channel's
// running time; a note with the parts ties join to it sounds from its note-on for
// noteOnTicks() of their summed length.
void ScoreSourceMap::timeChannel(int32_t k) {
  const uint8_t* events = recorded_.events[k].data();
  const auto length =
      static_cast<int32_t>(std::min(recorded_.events[k].size(), 2 * recorded_.positions[k].size()));
  std::vector<int32_t>& ticks = ticks_[k];
  std::vector<NotePart>& notes = notes_[k];
  ticks.reserve(static_cast<size_t>(length / 2));
  notes.reserve(static_cast<size_t>(length / 2));
  int32_t gate = recorded_.startGate[k];
  int64_t units = 0;
  for (int32_t offset = 0; offset < length;) {
    const uint8_t code = events[offset];
    if (code == EVENT_END) break;
    if (code == EVENT_REST || code > EVENT_NOTE_LAST) {
      ticks.push_back(static_cast<int32_t>(tickAt(units)));
      if (code == EVENT_REST) units += events[offset + 1];
      if (code == EVENT_GATE) gate = events[offset + 1];
      offset += 2;
      continue;
    }
    int32_t last = offset;
    uint32_t total = events[offset + 1];
    while (tieFollows(events, length, last)) {
      last += 4;
      total += events[last + 1];
    }
    const int64_t off = tickAt(units) + noteOnTicks(total * TICKS_PER_UNIT, gate);
    for (int32_t part = offset; part <= last; part += 4) {
      const int64_t start = tickAt(units);
      units += events[part + 1];
      const int64_t end = std::clamp(off, start, tickAt(units));
      ticks.push_back(static_cast<int32_t>(start));
      notes.push_back({static_cast<int32_t>(start), static_cast<int32_t>(end), part / 2,
                       part == offset ? 1u : 0u});
      if (part < last) ticks.push_back(static_cast<int32_t>(tickAt(units)));  // the tie
    }
    offset = last + 2;
  }
}

ScoreSourceMap::Source ScoreSourceMap::sourceOf(int32_t k, int32_t event) const {
  const SourcePosition& p = recorded_.positions[k][static_cast<size_t>(event)];
  return {k + 1, p.line, p.column, p.length};
}

ScoreSourceMap::Sounding ScoreSourceMap::soundingOf(int32_t k, const NotePart& part) const {
  return {sourceOf(k, part.event), part.start, part.end, part.noteOn != 0};
}

const ChannelBlock* ScoreSourceMap::blockAt(int line, int byteColumn) const {
  const SourcePoint point{line, byteColumn};
  const std::vector<ChannelBlock>& blocks = recorded_.blocks;
  const auto later = std::partition_point(blocks.begin(), blocks.end(),
                                          [&](const ChannelBlock& b) { return b.open < point; });
  if (later == blocks.begin()) return nullptr;
  const ChannelBlock& block = *(later - 1);
  return block.holds(point) ? &block : nullptr;
}

std::optional<ScoreSourceMap::SourceTime> ScoreSourceMap::timeAt(int line, int byteColumn) const {
  const ChannelBlock* block = blockAt(line, byteColumn);
  if (block == nullptr) return std::nullopt;
  const int32_t k = channelIndex(block->channel);
  const std::vector<int32_t>& ticks = ticks_[k];
  const std::vector<SourcePosition>& positions = recorded_.positions[k];
  const auto count = static_cast<int32_t>(ticks.size());
  const SourcePoint caret{line, byteColumn};
  const auto behind =
      std::partition_point(positions.begin(), positions.begin() + count,
                           [&](const SourcePosition& p) { return endOf(p) <= caret; });
  int32_t event = static_cast<int32_t>(behind - positions.begin());
  const bool inBlock =
      event < count && startOf(positions[static_cast<size_t>(event)]) < block->close;
  if (!inBlock && event > 0) --event;
  if (event >= count) return std::nullopt;
  const int64_t tick = ticks[static_cast<size_t>(event)];
  return SourceTime{sourceOf(k, event), tick, tempoMap_.tickToMs(tick), event};
}

void ScoreSourceMap::soundingAtTick(int64_t tick, std::vector<Sounding>& out) const {
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    const std::vector<NotePart>& notes = notes_[k];
    const auto later =
        std::upper_bound(notes.begin(), notes.end(), tick,
                         [](int64_t t, const NotePart& part) { return t < int64_t{part.start}; });
    if (later == notes.begin()) continue;
    const NotePart& part = *(later - 1);
    if (tick < part.end) out.push_back(soundingOf(k, part));
  }
}

void ScoreSourceMap::soundingAtMs(int64_t ms, std::vector<Sounding>& out) const {
  soundingAtTick(tempoMap_.msToTick(ms), out);
}

std::vector<ScoreSourceMap::Sounding> ScoreSourceMap::notes(int channel) const {
  std::vector<Sounding> all;
  if (channel < 1 || channel > CHANNEL_COUNT) return all;
  const int32_t k = channelIndex(channel);
  all.reserve(notes_[k].size());
  for (const NotePart& part : notes_[k]) all.push_back(soundingOf(k, part));
  return all;
}
