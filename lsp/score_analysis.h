// One compilation of an open score as the editor compiles it (its lines in the score's encoding,
// nothing written to disk), and what the server answers from it: the diagnostics and, from the
// source map against the MIDI file the compilation made in memory, what a command is and where
// it sounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/compile_session.h"
#include "core/diagnostic.h"
#include "core/score_source_map.h"
#include "core/source_map.h"
#include "lsp/score_text.h"

// The language of the server's texts.
enum class Language { ENGLISH, JAPANESE };

class ScoreAnalysis {
 public:
  ScoreAnalysis() = default;
  ScoreAnalysis(const ScoreAnalysis&) = delete;
  ScoreAnalysis& operator=(const ScoreAnalysis&) = delete;

  // Compiles the text in a session of its own, as the editor's check of a score does, held only
  // while it runs (it is larger than a small score's text and everything kept from it); the
  // diagnostics and the timing below are then this text's.
  void compile(const ScoreText& text);

  // The characters the score's encoding cannot hold, the compiler's first error and its
  // warnings, in line order; positions in compile bytes.
  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }
  int32_t result() const { return result_; }

  // What sounds at compile byte `column` of `line`: the note, rest or parameter command there,
  // as one line of text; nothing where no event's command stands.
  std::optional<std::string> describeEvent(int32_t line, size_t column, Language language) const;

  // The command at the point and its source, for the caller's range.
  std::optional<ScoreSourceMap::SourceTime> eventAt(int32_t line, size_t column) const;

  // Where the channel of the block around compile byte `column` of `line` stands once what it
  // plays before that point is over: its bar and beat and its time, as "12.3 · 0:25.5".
  // Nothing outside a channel block or when the compilation made no MIDI file to time.
  std::optional<std::string> placeAfter(int32_t line, size_t column) const;

  // The runs of octave marks of the compilation's command strings in source order, with the
  // octave behind each; none when the compilation made no MIDI file to time.
  const std::vector<OctaveMark>& octaveMarks() const { return timing_.recorded().octaveMarks; }

  // The value of the last event of kind `code` that `channel` (1..9) recorded before the point,
  // also when the compilation stopped at a later error; nothing when it has none there.
  std::optional<int32_t> valueBefore(int channel, int32_t line, size_t column, uint8_t code) const;

 private:
  class Host;
  SourceMap recorded_;
  ScoreSourceMap timing_;
  bool timed_ = false;  // the compilation wrote a MIDI file that the timing is built on
  // Per channel, the units played up to the end of each event; summed on the first
  // placeAfter() of a compilation.
  mutable std::vector<uint32_t> unitsAfter_[CHANNEL_COUNT];
  mutable bool summed_ = false;
  std::vector<Diagnostic> diagnostics_;
  int32_t result_ = 0;
};

// A diagnostic in the language's words: the compiler's own English or Japanese where it has
// them, the server's for an unencodable character and for a long line in English.
std::string diagnosticMessage(const Diagnostic& diagnostic, Language language);
