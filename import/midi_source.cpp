#include "import/midi_source.h"

#include <algorithm>
#include <array>

#include "core/midi_writer.h"
#include "import/lead_in.h"

namespace {

constexpr uint8_t NOTE_OFF = 0x80, NOTE_ON = 0x90, CONTROL = 0xB0, PROGRAM = 0xC0,
                  PITCH_BEND = 0xE0;
constexpr int CC_PAN = 10, CC_SUSTAIN = 64;
constexpr int MIDI_CHANNELS = 16;
constexpr uint8_t META_TEXT = 0x01, META_COPYRIGHT = 0x02, META_NAME = 0x03, META_LYRIC = 0x05,
                  META_MARKER = 0x06, META_CUE = 0x07, META_TEMPO = 0x51,
                  META_TIME_SIGNATURE = 0x58, META_KEY_SIGNATURE = 0x59;
class Gatherer : public MidiEventSink {
 public:
  Gatherer(MidiSource& source, int64_t offset, bool leadIn)
      : source_(source), offset_(offset), leadIn_(leadIn) {}

  void beginTrack(size_t index) override {
    open_.fill(NONE);
    track_ = static_cast<int>(index);
    if (source_.trackNames.size() <= index) source_.trackNames.resize(index + 1);
  }

  void event(const MidiEvent& e) override {
    const auto index = static_cast<size_t>(track_);
    if (e.tick < offset_) {  // the lead-in's set-up, and the texts
      if (e.kind == MidiEvent::META && (e.status == META_COPYRIGHT || e.status == META_NAME)) {
        metaEvent(e, 0, index);
      }
      return;
    }
    const int64_t tick = e.tick - offset_;
    switch (e.kind) {
      case MidiEvent::CHANNEL:
        channelEvent(e, tick);
        break;
      case MidiEvent::META:
        metaEvent(e, tick, index);
        break;
      case MidiEvent::SYSEX:
        ++source_.otherMessages;
        break;
    }
  }

  void endTrack(int64_t endTick) override {
    const int64_t end = std::max<int64_t>(0, endTick - offset_);
    for (const size_t n : open_) {
      if (n != NONE) source_.notes[n].offTick = std::max(end, source_.notes[n].onTick);
    }
  }

 private:
  void channelEvent(const MidiEvent& e, int64_t tick) {
    const int channel = e.channel();
    switch (e.type()) {
      case NOTE_ON:
        if (e.data2 > 0) {
          noteOn(channel, e.data1, e.data2, tick);
          break;
        }
        [[fallthrough]];
      case NOTE_OFF:
        noteOff(channel, e.data1, tick);
        break;
      case CONTROL:
        if (e.data1 == CC_PAN) {
          source_.pans.push_back({tick, channel, e.data2, 0});
        } else if (e.data1 == CC_SUSTAIN) {
          ++source_.sustainPedal;
        } else {
          ++source_.controllers;
          source_.controllerNumbers.insert(e.data1);
        }
        break;
      case PROGRAM:
        source_.programs.push_back({tick, channel, e.data1, 0});
        break;
      case PITCH_BEND:
        ++source_.pitchBends;
        break;
      default:
        ++source_.otherMessages;  // key and channel pressure
    }
  }

  void noteOn(int channel, int key, int velocity, int64_t tick) {
    size_t& sounding = open_[slot(channel, key)];
    if (sounding != NONE) {  // a repeated key ends the note still sounding
      source_.notes[sounding].offTick = tick;
      ++source_.repaired;
    }
    sounding = source_.notes.size();
    source_.notes.push_back({tick, tick, static_cast<uint8_t>(key), static_cast<uint8_t>(velocity),
                             static_cast<uint8_t>(channel), static_cast<uint16_t>(track_)});
  }

  void noteOff(int channel, int key, int64_t tick) {
    size_t& sounding = open_[slot(channel, key)];
    if (sounding == NONE) return;  // also the compiled rests
    source_.notes[sounding].offTick = tick;
    sounding = NONE;
  }

  void metaEvent(const MidiEvent& e, int64_t tick, size_t index) {
    const std::string_view b = e.data;
    switch (e.status) {
      case META_TEMPO:
        if (b.size() >= 3) {
          const int micros = (static_cast<uint8_t>(b[0]) << 16) |
                             (static_cast<uint8_t>(b[1]) << 8) | static_cast<uint8_t>(b[2]);
          source_.tempos.push_back({tick, 0, micros, 0});
        }
        break;
      case META_TIME_SIGNATURE:
        if (b.size() >= 2) {
          source_.timeSignatures.push_back(
              {tick, 0, static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1])});
        }
        break;
      case META_KEY_SIGNATURE:
        if (!b.empty()) {
          source_.keySignatures.push_back({tick, 0, static_cast<int8_t>(b[0]), 0});
        }
        break;
      case META_COPYRIGHT:
        if (!source_.hasCopyright) source_.copyright = b;
        source_.hasCopyright = true;
        break;
      case META_NAME:
        if (source_.trackNames[index].empty()) source_.trackNames[index] = b;
        // The sequence name is the first track's name; else the first name of another track.
        if (index == 0 && !nameFromFirst_) {
          source_.name = b;
          source_.hasName = nameFromFirst_ = true;
        } else if (!source_.hasName) {
          source_.name = b;
          source_.hasName = true;
        }
        break;
      case META_TEXT:
        if (leadIn_ && b == "_") break;  // the compiled file's filler before a tempo change
        [[fallthrough]];
      case META_LYRIC:
      case META_MARKER:
      case META_CUE:
        ++source_.texts;
        break;
      default:
        break;  // end of track, port and the like carry no music
    }
  }

  static size_t slot(int channel, int key) { return static_cast<size_t>(channel * KEYS + key); }

  static constexpr int KEYS = 128;
  static constexpr size_t NONE = SIZE_MAX;

  MidiSource& source_;
  int64_t offset_;
  bool leadIn_;
  bool nameFromFirst_ = false;
  int track_ = 0;
  // The note sounding on each channel and key, NONE where none does: a note-on of a sounding key
  // ends the note before, so a key holds at most one.
  std::array<size_t, MIDI_CHANNELS * KEYS> open_{};
};

// Hands each event to both sinks.
class BothSinks : public MidiEventSink {
 public:
  BothSinks(MidiEventSink& a, MidiEventSink& b) : a_(a), b_(b) {}
  void beginTrack(size_t index) override {
    a_.beginTrack(index);
    b_.beginTrack(index);
  }
  void event(const MidiEvent& e) override {
    a_.event(e);
    b_.event(e);
  }
  void endTrack(int64_t endTick) override {
    a_.endTrack(endTick);
    b_.endTrack(endTick);
  }

 private:
  MidiEventSink& a_;
  MidiEventSink& b_;
};

}  // namespace

// One reading gathers the file as a foreign one while it looks for the lead-in; a file that
// has one (tarvk32c's own) is gathered again behind it. No list of the file's events is kept.
bool gatherSource(const uint8_t* data, size_t size, MidiSource& source, MidiFileFacts& facts,
                  ImportMessage& error) {
  source = MidiSource();
  LeadInCheck check;
  Gatherer foreign(source, 0, false);
  BothSinks both(check, foreign);
  if (!readMidiEvents(data, size, both, facts, error)) return false;
  source.division = facts.division;
  if (check.found(facts.format, facts.division)) {
    source = MidiSource();
    source.division = facts.division;
    source.compiled = true;
    Gatherer compiled(source, LEAD_IN_TICKS, true);
    if (!readMidiEvents(data, size, compiled, facts, error)) return false;
  }
  auto byTick = [](const SourceChange& a, const SourceChange& b) { return a.tick < b.tick; };
  for (auto* list : {&source.programs, &source.pans, &source.tempos, &source.timeSignatures,
                     &source.keySignatures}) {
    std::stable_sort(list->begin(), list->end(), byTick);
  }
  return true;
}
