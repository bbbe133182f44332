#include "editor/roll/note_text.h"

#include <algorithm>
#include <cstdlib>

#include "core/compile_session.h"

namespace {

constexpr int32_t OCTAVE_MARKS_MAX = 2;  // a longer jump is written as `o`
// order matches WRITABLE_UNITS
constexpr const char* LENGTH_NAMES[] = {"1.",  "1",  "2.",  "2",  "4.",  "4",  "8.", "8",
                                        "16.", "16", "32.", "32", "64.", "64", "128"};
static_assert(std::size(LENGTH_NAMES) == std::size(WRITABLE_UNITS));
constexpr const char* SHARP_LETTERS[SEMITONES_PER_OCTAVE] = {"c",  "c#", "d",  "d#", "e",  "f",
                                                             "f#", "g",  "g#", "a",  "a#", "b"};
constexpr const char* FLAT_LETTERS[SEMITONES_PER_OCTAVE] = {"c",  "d-", "d",  "e-", "e",  "f",
                                                            "g-", "g",  "a-", "a",  "b-", "b"};

}  // namespace

std::string lengthName(int32_t units) {
  for (size_t i = 0; i < std::size(WRITABLE_UNITS); ++i) {
    if (WRITABLE_UNITS[i] == units) return LENGTH_NAMES[i];
  }
  return "";
}

std::vector<int32_t> lengthPieces(int32_t units, int32_t defaultUnits) {
  if (units == defaultUnits || !lengthName(units).empty()) return {units};
  std::vector<int32_t> pieces;
  while (units > 0) {
    const int32_t piece = *std::find_if(std::begin(WRITABLE_UNITS), std::end(WRITABLE_UNITS),
                                        [&](int32_t writable) { return writable <= units; });
    pieces.push_back(piece);
    units -= piece;
  }
  return pieces;
}

std::string letterOf(int32_t semitone, const NoteSpelling& spelling) {
  const auto index = static_cast<size_t>(semitone - 1);
  std::string text = spelling.accidental == '-' ? FLAT_LETTERS[index] : SHARP_LETTERS[index];
  if (text.size() > 1 && spelling.accidental != '#') text[1] = spelling.accidental;
  if (spelling.upper) text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string octaveMove(int32_t from, int32_t to) {
  const int32_t steps = to - from;
  if (steps == 0) return "";
  if (std::abs(steps) <= OCTAVE_MARKS_MAX)
    return std::string(std::abs(steps), steps > 0 ? '>' : '<');
  return "o" + std::to_string(to);
}

void NoteTextWriter::separate() {
  if (!text_.empty()) text_ += ' ';
}

void NoteTextWriter::rest(int64_t units) {
  while (units > 0) {
    const auto part = static_cast<int32_t>(std::min<int64_t>(units, WRITABLE_UNITS[0]));
    for (const int32_t piece : lengthPieces(part, defaultUnits_)) {
      separate();
      text_ += 'r';
      if (piece != defaultUnits_) text_ += lengthName(piece);
      ++events_;
    }
    units -= part;
  }
}

void NoteTextWriter::note(int32_t code, int64_t units, const NoteSpelling& spelling) {
  if (spelling.byNumber && units >= defaultUnits_) {
    // `n` takes the default length; a longer note goes on in rests tied to it.
    separate();
    text_ += "n" + std::to_string(code);
    ++events_;
    NoteTextWriter tail(octave_, defaultUnits_);
    tail.rest(units - defaultUnits_);
    if (tail.events() > 0) {
      for (const char byte : tail.text()) {
        if (byte == ' ') continue;
        if (byte == 'r') text_ += '&';
        text_ += byte;
      }
      events_ += 2 * tail.events();
    }
    return;
  }
  letterNote(code, units, spelling);
}

void NoteTextWriter::letterNote(int32_t code, int64_t units, const NoteSpelling& spelling) {
  const int32_t semitone = (code - 1) % SEMITONES_PER_OCTAVE + 1;
  const int32_t octave = (code - semitone) / SEMITONES_PER_OCTAVE;
  separate();
  text_ += octaveMove(octave_, octave);
  octave_ = octave;
  const std::string letter =
      spelling.letter.empty() ? letterOf(semitone, spelling) : spelling.letter;
  bool first = true;
  auto part = [&](const std::string& length) {
    if (!first) {
      text_ += '&';
      ++events_;
    }
    first = false;
    text_ += letter + length;
    ++events_;
  };
  while (units > 0) {
    if (spelling.byUnits) {
      const int64_t piece = std::min<int64_t>(units, UNITS_PER_DURATION_MAX);
      part(":" + std::to_string(piece));
      units -= piece;
      continue;
    }
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(units, WRITABLE_UNITS[0]));
    for (const int32_t piece : lengthPieces(chunk, defaultUnits_))
      part(piece == defaultUnits_ ? std::string() : lengthName(piece));
    units -= chunk;
  }
  text_ += octaveMove(octave_, home_);
  octave_ = home_;
}

void NoteTextWriter::finish(int32_t octave) {
  text_ += octaveMove(octave_, octave);
  octave_ = octave;
}
