// Writing notes and rests as command text in a score's own habits: lengths against the default
// length `l` (left out where they equal it), ties where no single length says it, octave marks
// `<` `>` for a step or two and `o` for a jump, and the note letter spelled with the accidental
// the score uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a score writes a note's pitch: by letter (with its case and the accidental it uses for a
// black key) or by number (`n49`), and its length by note value or by units (`c:48`).
struct NoteSpelling {
  bool byNumber = false;
  bool byUnits = false;
  bool upper = false;
  char accidental = '+';  // '+', '#' or '-'
  std::string letter;     // when set, the letter and accidental written as they are
};

// The note values a length can be written as, longest first, in units.
inline constexpr int32_t WRITABLE_UNITS[] = {192, 128, 96, 64, 48, 32, 24, 16,
                                             12,  8,   6,  4,  3,  2,  1};
// The longest duration one `:` command holds.
inline constexpr int32_t UNITS_PER_DURATION_MAX = 255;

// "4." for 48 units, "" for a duration no note value has.
std::string lengthName(int32_t units);
// The pieces a duration is written in: itself when the default length or one note value says
// it, else note values longest first.
std::vector<int32_t> lengthPieces(int32_t units, int32_t defaultUnits);
// "c+", "d-", "C" ...: the letter and accidental of semitone 1..12 (1 = c).
std::string letterOf(int32_t semitone, const NoteSpelling& spelling);
// The octave commands that take the octave from `from` to `to`.
std::string octaveMove(int32_t from, int32_t to);

// Builds the text of a stretch of commands from a known octave and default length, counting the
// events it writes. Notes and rests are separated by a blank; a note's octave marks and ties
// stay with it.
class NoteTextWriter {
 public:
  NoteTextWriter(int32_t octave, int32_t defaultUnits)
      : octave_(octave), home_(octave), defaultUnits_(defaultUnits) {}

  // Rests of `units` in all (none for 0).
  void rest(int64_t units);
  // A note of event code 1..96 sounding `units` (at least 1), the octave back home after it.
  void note(int32_t code, int64_t units, const NoteSpelling& spelling);
  // The octave commands that leave the octave at `octave`.
  void finish(int32_t octave);
  // Raw text (an octave change the caller worked out).
  void append(const std::string& text) { text_ += text; }

  const std::string& text() const { return text_; }
  int32_t events() const { return events_; }

 private:
  void separate();  // a blank between two notes or rests
  void letterNote(int32_t code, int64_t units, const NoteSpelling& spelling);

  std::string text_;
  int32_t octave_;
  int32_t home_;
  int32_t defaultUnits_;
  int32_t events_ = 0;
};
