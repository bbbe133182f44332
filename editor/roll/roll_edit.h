// What a gesture in the piano roll does to the score's text: draw a note in a rest, move a note
// (its pitch, and in time into the rests beside it), resize it, delete notes, set a note's
// velocity. Each becomes the smallest edit of the command strings that gives the new notes,
// written in the score's habits (core of it: editor/roll/note_text.h); nothing outside the
// touched commands changes. What the language cannot say is refused with the reason, and then
// nothing changes. Plain values in, edits out: the window applies them as one undo step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/roll/channel_text.h"

class ScoreSourceMap;

// Replace `length` bytes at byte `column` of line `line` (the document's encoding) by `text`.
struct TextEdit {
  int32_t line = 0;
  int32_t column = 0;
  int32_t length = 0;
  std::string text;
  bool operator==(const TextEdit&) const = default;
};

struct RollGesture {
  enum class Kind : uint8_t { Draw, Move, Resize, Delete, Velocity };
  Kind kind = Kind::Draw;
  int channel = 1;
  // The note's note-on event in its channel (ScoreSourceMap::NotePart::event): Move, Resize,
  // Velocity; Delete takes every note of `notes` (of this channel).
  int32_t note = -1;
  std::vector<int32_t> notes;
  // In units from the channel's start (a unit is 1/32 of a quarter note): Draw's start and
  // length, Move's new start, Resize's new length.
  int64_t start = 0;
  int64_t length = 0;
  int key = 0;    // MIDI key: Draw's, Move's new one
  int level = 0;  // Velocity: the `v` level 1..16
};

enum class RollRefusal : uint8_t {
  None,
  TextChanged,      // the text is not what the shown compilation read
  Overlap,          // two notes at once in one channel
  RestSplit,        // the rests it needs are split by a line, a string or a command
  InTuplet,         // a note or rest inside a tuplet
  KeyOutOfRange,    // a key no note command reaches
  TooManyEvents,    // the channel would exceed its events
  LineTooLong,      // a line would be longer than the compiler reads
  NoteSplit,        // a note whose ties cross a line or string cannot change its length
  NothingToDrawIn,  // the channel has no events to draw beside
};

// The refusal's text (UTF-8; %1 stands for the channel or the limit).
const char* refusalText(RollRefusal refusal);

struct RollEditResult {
  std::vector<TextEdit> edits;  // in text order, none overlapping; empty when refused
  RollRefusal refusal = RollRefusal::None;
  int channel = 0;  // the channel of the gesture refused
  bool ok() const { return refusal == RollRefusal::None; }
};

// The refusal's text for the status bar, its channel or limit filled in.
std::string refusalMessage(const RollEditResult& result);

// The edit `gesture` makes of the text `lines`, which `map` is the clean compilation of.
RollEditResult editForGesture(const ScoreTextLines& lines, const ScoreSourceMap& map,
                              const RollGesture& gesture);

// The edit of several gestures at once, each in its own channel (Del on notes of several
// channels): refused when one of them is.
RollEditResult editForGestures(const ScoreTextLines& lines, const ScoreSourceMap& map,
                               const std::vector<RollGesture>& gestures);

// The text with the edits made (they stand against the original lines).
void applyEdits(ScoreTextLines& lines, const std::vector<TextEdit>& edits);
