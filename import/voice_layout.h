// One voice of an imported score on the language's grid, and how it is written: the voice's
// timed items (notes with their gate step and velocity level, rests, zero-length notes) and its
// parameter changes become one command string a bar (more where a bar's commands are more than
// a line holds), with ties over bar lines, tuplets where their durations fit exactly, and
// explicit durations only where no length does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/compile_session.h"

// Zero-length notes that join the tuplet of the item before them, beside the item's last unit;
// the tuplet holds no more.
inline constexpr int JOINING_ZEROS_MAX = TUPLET_MAX_NOTES - 1;

// A note (key 24..119) or a rest (key 0) from `start` for `length` units; a note's gate step
// 0..7 matters only when it is shorter than the writer's full-length notes.
// What the report counts of a note; the layout counts those of the notes it leaves out, so that
// the report counts only notes the score keeps.
inline constexpr uint8_t MARK_ROUNDED = 1, MARK_TRANSPOSED = 2, MARK_MOVED = 4;

struct VoiceItem {
  int64_t start = 0;
  int32_t length = 0;  // a score is at most UNITS_MAX long
  uint8_t key = 0;
  uint8_t level = 0;
  uint8_t gate = 7;
  uint8_t marks = 0;  // MARK_ bits
  bool isNote() const { return key != 0; }
};

// A tempo (`t`, beats a minute), program (`@`) or pan (`$`) at a unit position where no note of
// the voice sounds.
struct VoiceParameter {
  int64_t position = 0;
  char command = 't';
  int value = 0;
};

// Bar starts in units, ascending, the first 0; the last entry ends the last bar.
using BarStarts = std::vector<int64_t>;

// The voice is written as command strings, one a bar from the first (a bar longer than a line
// goes on in lines of its own), each a whole line of the channel block ("  \"...\"  // 小節 N")
// that tarvk32c's line readers take whole. Items are in time order, back to back from 0; parameters
// in time order.
struct LayoutCounts {
  int velocityChanged = 0;   // zero-length notes given the level of the tuplet they join
  int unwritable = 0;        // zero-length notes with nothing before them to join, left out
  int crowded = 0;           // zero-length notes beyond JOINING_ZEROS_MAX behind an item, left out
  int lendersShortened = 0;  // drum hits shortened by the unit they lend to the hits after them
  int late = 0;              // drum hits at the very start written one unit behind the first
  int early = 0;             // drum hits at one time written one unit before those of another level
  int64_t events = 0;        // the events the voice's channel will hold when compiled
  std::vector<int64_t> eventsBefore;  // the events before each bar written, from the first
  int droppedRounded = 0, droppedTransposed = 0, droppedMoved = 0;  // marks of notes left out
};
// How notes are written: by letter and octave, or (the drum channel) as `n` and the note's code
// wherever the note is one default length, by letter elsewhere.
enum class NoteForm { Letter, Code };
// How zero-length notes join the item before them. Tied: a note lends its last unit tied into
// their tuplet, so it sounds its whole length (`c8.&c32.&{c e g}128`). Hits: a drum hit lends its
// last unit and is shortened by it, and the tuplet opens with a rest (`{r n15 n19}128`), so the
// joining hits keep their own level; each further level at one time has a tuplet of its own one
// unit earlier (`v8 {r n19}128 v15 {r n26}128 v13 n13`); hits at the very start, where nothing
// lends, follow the first hit by one unit (`{n13 n19}128`).
enum class Joining { Tied, Hits };
// Where the file's key signature has flats, black keys are written with `-` (E-flat minor:
// `e- b- g-`, not `d# a# f#`): each entry the position where a key starts and whether it has
// flats, in time order; before the first, and without any, sharps.
using FlatKeys = std::vector<std::pair<int64_t, bool>>;
// Counts the events the voice's channel will hold; when they are no more than `eventsLimit`,
// appends the voice's lines to `out`, each with its "\n", and returns true. Otherwise returns
// false with nothing written, `counts.events` past the limit and `counts.eventsBefore` up to the
// first bar that takes the events past it.
bool layoutVoice(const std::vector<VoiceItem>& items, const std::vector<VoiceParameter>& parameters,
                 const BarStarts& bars, NoteForm form, Joining joining, const FlatKeys& flatKeys,
                 int64_t eventsLimit, std::string& out, LayoutCounts& counts);
