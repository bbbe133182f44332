#include "lsp/score_analysis.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/compile_driver.h"
#include "core/compile_host.h"
#include "core/diagnostics.h"
#include "core/midi_writer.h"
#include "core/output_stream.h"
#include "core/pitch_names.h"
#include "lsp/instrument_names.h"

namespace {

// A score of many lines that code page 932 cannot hold reports the first ones only.
constexpr size_t UNENCODABLE_REPORTS_MAX = 100;
constexpr int64_t TICKS_PER_QUARTER = 480;
constexpr int64_t QUARTERS_PER_BAR = 4;  // the MIDI file's time signature is 4/4

struct LengthName {
  int32_t units;
  const char* english;
  const char* japanese;
};

constexpr LengthName LENGTH_NAMES[] = {
    {128, "whole note", "全音符"},     {96, "dotted half note", "付点2分音符"},
    {64, "half note", "2分音符"},      {48, "dotted quarter note", "付点4分音符"},
    {32, "quarter note", "4分音符"},   {24, "dotted eighth note", "付点8分音符"},
    {16, "eighth note", "8分音符"},    {12, "dotted sixteenth note", "付点16分音符"},
    {8, "sixteenth note", "16分音符"}, {6, "dotted 32nd note", "付点32分音符"},
    {4, "32nd note", "32分音符"},      {2, "64th note", "64分音符"},
};

const char* pick(Language language, const char* english, const char* japanese) {
  return language == Language::JAPANESE ? japanese : english;
}

std::string lengthText(int32_t units, bool rest, Language language) {
  const int64_t ticks = int64_t{units} * TICKS_PER_UNIT;
  for (const LengthName& name : LENGTH_NAMES) {
    if (name.units != units) continue;
    std::string text = pick(language, name.english, name.japanese);
    if (rest) {
      if (language == Language::JAPANESE) {
        text.replace(text.rfind("音符"), std::string_view("音符").size(), "休符");
      } else {
        text.replace(text.rfind("note"), 4, "rest");
      }
    }
    return formatText("%s (%ld ticks)", text.c_str(), static_cast<long>(ticks));
  }
  return formatText("%s %ld ticks", pick(language, rest ? "rest" : "note", rest ? "休符" : "音符"),
                    static_cast<long>(ticks));
}

// The bar and beat (from 1) of a tick of the MIDI file, the lead-in before bar 1.
struct BarBeat {
  long bar;
  long beat;
};

BarBeat barBeatOf(int64_t tick) {
  const int64_t music = std::max<int64_t>(tick - LEAD_IN_TICKS, 0);
  return {
      static_cast<long>(music / (TICKS_PER_QUARTER * QUARTERS_PER_BAR) + 1),
      static_cast<long>(music % (TICKS_PER_QUARTER * QUARTERS_PER_BAR) / TICKS_PER_QUARTER + 1)};
}

std::string placeText(int64_t tick, Language language) {
  const BarBeat place = barBeatOf(tick);
  return formatText(pick(language, "bar %ld beat %ld", "小節 %ld 拍 %ld"), place.bar, place.beat);
}

std::string timeText(int64_t ms) {
  return formatText("%ld:%02ld.%03ld", static_cast<long>(ms / 60000),
                    static_cast<long>(ms / 1000 % 60), static_cast<long>(ms % 1000));
}

}  // namespace

std::string diagnosticMessage(const Diagnostic& diagnostic, Language language) {
  const bool japanese = language == Language::JAPANESE;
  if (diagnostic.code == DIAGNOSTIC_UNENCODABLE) {
    const std::string code = formatText("U+%04X", static_cast<unsigned>(diagnostic.character));
    std::string shown;
    appendUtf8(shown, diagnostic.character);
    return japanese ? formatText(
                          "文字「%s」(%s) はシフトJIS(コードページ932)で表せません. "
                          "コンパイラは ? と読みます",
                          shown.c_str(), code.c_str())
                    : formatText(
                          "The character '%s' (%s) cannot be written in code page 932 "
                          "(Shift-JIS); the compiler reads it as '?'",
                          shown.c_str(), code.c_str());
  }
  if (diagnostic.code == DIAGNOSTIC_LONG_LINE && !japanese) {
    return formatText("[warning] line (%s) : a line is read up to %d bytes; the rest is left out",
                      formatLineNumber(diagnostic.lineNumber).c_str(),
                      static_cast<int>(diagnostic.commandStart));
  }
  return diagnosticText(diagnostic, japanese ? FLAVOUR_EDITOR : FLAVOUR_CONSOLE);
}

// The editor's kind of host over the score's compile bytes: the report is taken structured
// (the failure, the warnings recognised by the core's own texts), the MIDI file kept in memory.
class ScoreAnalysis::Host : public EditorCompileHost {
 public:
  Host(const ScoreText& text, SourceMap& map) : text_(text), map_(map) {}

  void messageLine(std::string_view) override {}
  void alert(std::string_view) override {}
  int32_t sourceLineCount() override { return text_.lineCount(); }
  std::string_view sourceLine(int32_t index) override { return text_.compileLine(index); }
  std::string displayText(std::string_view bytes) override {
    if (text_.encoding() == TextEncoding::Cp932) return EditorCompileHost::displayText(bytes);
    return std::string(bytes);
  }
  OutputStream* openOutput() override {
    midi.clear();
    return &midi;
  }
  int32_t closeOutput(bool keep) override {
    midiKept = keep;
    return OUTPUT_CLOSED;
  }
  SourceMap* sourceMap() override { return &map_; }
  void diagnosed(const Diagnostic& diagnostic) override { diagnostics.push_back(diagnostic); }

  std::vector<Diagnostic> diagnostics;
  MemoryOutputStream midi;
  bool midiKept = false;

 private:
  const ScoreText& text_;
  SourceMap& map_;
};

void ScoreAnalysis::compile(const ScoreText& text) {
  const auto session = std::make_unique<CompileSession>();
  Host host(text, recorded_);
  MemoryOutputStream noCompiledData;
  prepareEditorCompilation(*session, host, false, noCompiledData);
  result_ = compileSource(*session);

  const std::vector<uint8_t>& midi = host.midi.bytes();
  timed_ = host.midiKept && !midi.empty();
  std::string error;
  if (!timing_.build(recorded_, timed_ ? midi.data() : nullptr, timed_ ? midi.size() : 0, &error))
    timed_ = false;
  summed_ = false;

  diagnostics_.clear();
  size_t unencodable = 0;
  for (int32_t line = 0; line < text.lineCount() && unencodable < UNENCODABLE_REPORTS_MAX; ++line) {
    for (const UnencodableCharacter& bad : text.unencodable(line)) {
      if (++unencodable > UNENCODABLE_REPORTS_MAX) break;
      const auto column = static_cast<int32_t>(text.compileByteOf(line, bad.textByte));
      diagnostics_.push_back(unencodableDiagnostic(line, column, bad.character));
    }
  }
  // A message about no line of the score (memory) has no place to stand.
  for (const Diagnostic& d : host.diagnostics) {
    if (d.line >= 0) diagnostics_.push_back(d);
  }
  std::stable_sort(diagnostics_.begin(), diagnostics_.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
}

std::optional<ScoreSourceMap::SourceTime> ScoreAnalysis::eventAt(int32_t line,
                                                                 size_t column) const {
  const std::optional<ScoreSourceMap::SourceTime> at =
      timing_.timeAt(line, static_cast<int>(column));
  if (!at || at->source.line != line) return std::nullopt;
  const auto start = static_cast<size_t>(at->source.byteColumn);
  if (column < start || column >= start + static_cast<size_t>(at->source.byteLength))
    return std::nullopt;
  return at;
}

// A channel's time runs on by the length of each note and rest, as the MIDI writer walks it.
std::optional<std::string> ScoreAnalysis::placeAfter(int32_t line, size_t column) const {
  if (!timed_) return std::nullopt;
  const ChannelBlock* block = timing_.blockAt(line, static_cast<int>(column));
  if (block == nullptr) return std::nullopt;
  const int32_t k = channelIndex(block->channel);
  const SourceMap& recorded = timing_.recorded();
  if (!summed_) {
    for (int32_t c = 0; c < CHANNEL_COUNT; ++c) {
      const std::vector<uint8_t>& events = recorded.events[c];
      const size_t count = std::min(events.size() / 2, recorded.positions[c].size());
      std::vector<uint32_t>& after = unitsAfter_[c];
      after.resize(count);
      uint32_t units = 0;
      for (size_t i = 0; i < count; ++i) {
        if (events[2 * i] <= EVENT_NOTE_LAST) units += events[2 * i + 1];
        after[i] = units;
      }
    }
    summed_ = true;
  }
  // The channel's events stand in source order: the last one before the point.
  const std::vector<SourcePosition>& positions = recorded.positions[k];
  const std::vector<uint32_t>& after = unitsAfter_[k];
  const auto end = positions.begin() + static_cast<ptrdiff_t>(after.size());
  const auto next = std::partition_point(positions.begin(), end, [&](const SourcePosition& p) {
    return std::pair<int64_t, int64_t>(p.line, p.column) <
           std::pair<int64_t, int64_t>(line, static_cast<int64_t>(column));
  });
  const uint32_t units =
      next == positions.begin() ? 0 : after[static_cast<size_t>(next - positions.begin() - 1)];
  const int64_t tick = LEAD_IN_TICKS + int64_t{units} * TICKS_PER_UNIT;
  const BarBeat place = barBeatOf(tick);
  const int64_t tenths = timing_.tempoMap().tickToMs(tick) / 100;
  return formatText("%ld.%ld · %ld:%02ld.%ld", place.bar, place.beat,
                    static_cast<long>(tenths / 600), static_cast<long>(tenths / 10 % 60),
                    static_cast<long>(tenths % 10));
}

std::optional<int32_t> ScoreAnalysis::valueBefore(int channel, int32_t line, size_t column,
                                                  uint8_t code) const {
  if (channel < 1 || channel > CHANNEL_COUNT) return std::nullopt;
  const int32_t k = channelIndex(channel);
  const std::vector<uint8_t>& events = timing_.recorded().events[k];
  const std::vector<SourcePosition>& positions = timing_.recorded().positions[k];
  const size_t count = std::min(events.size() / 2, positions.size());
  const auto next =
      std::partition_point(positions.begin(), positions.begin() + static_cast<ptrdiff_t>(count),
                           [&](const SourcePosition& p) {
                             return std::pair<int64_t, int64_t>(p.line, p.column) <
                                    std::pair<int64_t, int64_t>(line, static_cast<int64_t>(column));
                           });
  for (auto i = static_cast<size_t>(next - positions.begin()); i > 0; --i) {
    if (events[2 * (i - 1)] == code) return events[2 * (i - 1) + 1];
  }
  return std::nullopt;
}

std::optional<std::string> ScoreAnalysis::describeEvent(int32_t line, size_t column,
                                                        Language language) const {
  const std::optional<ScoreSourceMap::SourceTime> at = eventAt(line, column);
  if (!at) return std::nullopt;
  const int32_t k = channelIndex(at->source.channel);
  const std::vector<uint8_t>& events = timing_.recorded().events[k];
  const auto offset = static_cast<size_t>(at->event) * 2;
  if (offset + 1 >= events.size()) return std::nullopt;
  const uint8_t code = events[offset];
  const uint8_t value = events[offset + 1];

  // The channel's velocity level and program where the event stands.
  int32_t level = START_LEVEL;
  int32_t program = 0;
  for (size_t i = 0; i < offset; i += 2) {
    if (events[i] == EVENT_VELOCITY) level = std::min<int32_t>(events[i + 1], VELOCITY_LEVEL_MAX);
    if (events[i] == EVENT_PROGRAM) program = events[i + 1];
  }

  const char* dot = pick(language, " · ", " ・ ");
  std::string text;
  const bool sounding = code <= EVENT_NOTE_LAST;
  if (code == EVENT_REST) {
    text = pick(language, "rest", "休符");
    text += dot + lengthText(value, true, language);
  } else if (sounding) {
    // The key's name as the roll shows it; on the drum channel its percussion sound first.
    const int32_t key = code + NOTE_NUMBER_OFFSET;
    text = pitchName(key);
    const char* drum = at->source.channel == DRUM_CHANNEL ? drumSoundName(key, language) : nullptr;
    if (drum != nullptr) text = std::string(drum) + " (" + text + ")";
    text += dot + lengthText(value, false, language);
  } else if (code == EVENT_TEMPO) {
    text = formatText(pick(language, "tempo %d", "テンポ %d"), value);
  } else if (code == EVENT_VELOCITY) {
    text = formatText(pick(language, "volume %d", "音量 %d"), value);
  } else if (code == EVENT_PROGRAM) {
    text = formatText(pick(language, "program %d", "音色 %d"), value);
    if (const char* name = programName(value, language)) (text += dot) += name;
  } else if (code == EVENT_PAN) {
    text = formatText(pick(language, "pan %d", "パン %d"), value);
  } else if (code == EVENT_GATE) {
    text = formatText(pick(language, "gate Q%d", "ゲート Q%d"), value + 1);
  } else if (code == EVENT_TIE) {
    text = pick(language, "tie", "タイ");
  }
  text += dot;
  text += formatText("ch%d", at->source.channel);
  text += dot + placeText(at->tick, language);
  if (timed_) text += dot + timeText(at->ms);
  if (code != EVENT_REST && sounding) {
    text += dot + formatText(pick(language, "volume %d", "音量 %d"), static_cast<int>(level));
    if (at->source.channel != DRUM_CHANNEL)
      text += dot + formatText(pick(language, "program %d", "音色 %d"), static_cast<int>(program));
  }
  return text;
}
