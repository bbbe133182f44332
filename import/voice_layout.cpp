#include "import/voice_layout.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <string_view>

#include "core/compile_session.h"
#include "core/midi_writer.h"

namespace {

constexpr int64_t NEVER = std::numeric_limits<int64_t>::max();
constexpr size_t NUMBER_DIGITS_MAX = 20;  // a sign and the digits of any int64_t
constexpr int64_t BEAT_UNITS = 32;        // a space before each quarter's first command
constexpr int START_LEVEL = 10;
constexpr int START_GATE = GATE_STEP_Q8;
constexpr int START_OCTAVE = DEFAULT_OCTAVE;
constexpr int NOTE_NUMBER_OFFSET = 23;                  // key of code 0; code 1 is c of octave 0
constexpr std::string_view BAR_COMMENT = "  // 小節 ";  // closes each line, before the bar number
// A score line's bytes before its CR LF that both of tarvk32c's line readers take whole; the
// line is counted in UTF-8, never shorter than in code page 932.
constexpr size_t SCORE_LINE_BYTES_MAX =
    static_cast<size_t>(std::min(CONSOLE_LINE_MAX - 1, EDITOR_LINE_MAX));
// Notes of at least this many units sound their whole length whatever the gate step.
constexpr int64_t FULL_LENGTH_UNITS =
    (FULL_LENGTH_NOTE_TICKS + TICKS_PER_UNIT - 1) / TICKS_PER_UNIT;

// The written length of each table entry, in the order of LENGTH_TICKS.
constexpr std::array<const char*, LENGTH_INDEX_COUNT> LENGTH_TEXT = {
    "", "1.", "1", "2.", "2", "4.", "4", "8.", "8", "16.", "16", "32.", "32", "64.", "64", "128"};
constexpr const char* NOTE_NAMES[SEMITONES_PER_OCTAVE] = {"c",  "c#", "d",  "d#", "e",  "f",
                                                          "f#", "g",  "g#", "a",  "a#", "b"};
// The same in a key with flats: black keys by the flat of the note above.
constexpr const char* FLAT_NOTE_NAMES[SEMITONES_PER_OCTAVE] = {"c",  "d-", "d",  "e-", "e",  "f",
                                                               "g-", "g",  "a-", "a",  "b-", "b"};

// The length index (1..15) of each duration in units up to the longest length, 0 where no
// length is that long; looked up for every candidate tuplet, so a table.
constexpr int64_t LONGEST_LENGTH = LENGTH_TICKS[1];
constexpr std::array<int8_t, LONGEST_LENGTH + 1> LENGTH_INDEX_OF = [] {
  std::array<int8_t, LONGEST_LENGTH + 1> table{};
  for (int i = LENGTH_INDEX_COUNT - 1; i >= 1; --i) table[LENGTH_TICKS[i]] = static_cast<int8_t>(i);
  return table;
}();

// The length index (1..15) of a duration in units, or 0 when no length is that long.
int lengthIndexOf(int64_t units) {
  return units >= 0 && units <= LONGEST_LENGTH ? LENGTH_INDEX_OF[static_cast<size_t>(units)] : 0;
}

// The largest length no longer than each duration up to the longest length; looked up for
// every rest and tie, so a table.
constexpr std::array<int16_t, LONGEST_LENGTH + 1> LARGEST_WITHIN = [] {
  std::array<int16_t, LONGEST_LENGTH + 1> table{};
  for (int64_t units = 0; units <= LONGEST_LENGTH; ++units) {
    table[static_cast<size_t>(units)] = 1;
    for (int i = 1; i < LENGTH_INDEX_COUNT; ++i) {
      if (LENGTH_TICKS[i] <= units) {
        table[static_cast<size_t>(units)] = static_cast<int16_t>(LENGTH_TICKS[i]);
        break;
      }
    }
  }
  return table;
}();

// The largest length no longer than `units` (which is at least 1).
int64_t largestLengthWithin(int64_t units) {
  return units >= LONGEST_LENGTH ? LONGEST_LENGTH : LARGEST_WITHIN[static_cast<size_t>(units)];
}

void appendNumber(std::string& text, int64_t n) {
  char digits[NUMBER_DIGITS_MAX];
  text.append(digits, std::to_chars(digits, digits + NUMBER_DIGITS_MAX, n).ptr);
}

size_t digitsOf(size_t n) {
  size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

int octaveOf(int key) {
  return (key - NOTE_NUMBER_OFFSET - 1) / SEMITONES_PER_OCTAVE;
}

const char* nameOf(int key, bool flats) {
  const int step = (key - NOTE_NUMBER_OFFSET - 1) % SEMITONES_PER_OCTAVE;
  return flats ? FLAT_NOTE_NAMES[step] : NOTE_NAMES[step];
}

// The first bar start after `position`, found from `next`, the one found for a position near it
// (items and pieces come nearly in time order, so the search is a step or two).
BarStarts::const_iterator barAfter(const BarStarts& bars, BarStarts::const_iterator next,
                                   int64_t position) {
  while (next != bars.end() && *next <= position) ++next;
  while (next != bars.begin() && *(next - 1) > position) --next;
  return next;
}

// A stretch of the voice written as one thing: an item (a note perhaps tied into the tuplet
// behind it) or a tuplet of items.
struct Piece {
  int64_t start = 0;
  int64_t length = 0;  // units written: the item's (less the unit lent to a tuplet) or the total
  VoiceItem item;      // a plain piece's item
  std::vector<VoiceItem> items;
  bool tuplet = false;
  bool tiedIntoTuplet = false;
  bool afterTie = false;  // a tuplet whose first item continues the note before it
};

// Whether the durations of items[first, first + n) are those the compiler gives a tuplet of n
// items over `total` units: total div n each, one more for every step-th from the first.
bool tupletDurations(const std::vector<VoiceItem>& items, size_t first, size_t n, int64_t total) {
  const int64_t q = total / static_cast<int64_t>(n);
  const int64_t r = total % static_cast<int64_t>(n);
  const int64_t step = r > 0 ? static_cast<int64_t>(n) / r : 1;
  for (size_t k = 0; k < n; ++k) {
    const int64_t index = static_cast<int64_t>(k);
    const bool extra = r > 0 && index % step == 0 && index / step < r;
    if (items[first + k].length != q + (extra ? 1 : 0)) return false;
  }
  return true;
}

class PieceBuilder {
 public:
  PieceBuilder(const std::vector<VoiceItem>& items, const std::vector<VoiceParameter>& parameters,
               const BarStarts& bars, Joining joining)
      : items_(items), parameters_(parameters), bars_(bars), joining_(joining) {}

  std::vector<Piece> build(LayoutCounts& counts) {
    std::vector<Piece> pieces;
    pieces.reserve(items_.size());  // a piece takes an item or more, but where one lends a unit
    size_t i = 0;
    while (i < items_.size()) {
      if (const size_t n = tupletAt(i); n > 0) {
        pieces.push_back(tupletPiece(i, n));
        i += n;
        continue;
      }
      const VoiceItem& item = items_[i];
      size_t zeros = 0;
      while (i + 1 + zeros < items_.size() && items_[i + 1 + zeros].length == 0) ++zeros;
      if (zeros > 0 && item.length >= 1) {
        const size_t kept = std::min(zeros, static_cast<size_t>(JOINING_ZEROS_MAX));
        if (joining_ == Joining::Hits) {
          lendHitUnit(i, kept, pieces, counts);
        } else {
          lendUnit(i, kept, pieces, counts.velocityChanged);
        }
        counts.crowded += static_cast<int>(zeros - kept);
        for (size_t k = i + 1 + kept; k <= i + zeros; ++k) leftOut(items_[k], counts);
        i += 1 + zeros;
        continue;
      }
      if (item.length == 0 && item.isNote() && joining_ == Joining::Hits && i == 0) {
        if (const size_t taken = startHits(pieces, counts); taken > 0) {
          i += taken;
          continue;
        }
      }
      if (item.length > 0) {
        Piece piece;
        piece.start = item.start;
        piece.length = item.length;
        piece.item = item;
        pieces.push_back(std::move(piece));
      } else if (item.isNote()) {
        ++counts.unwritable;  // no item before it lends a unit
        leftOut(item, counts);
      }
      ++i;
    }
    return pieces;
  }

 private:
  static void leftOut(const VoiceItem& item, LayoutCounts& counts) {
    if (item.marks & MARK_ROUNDED) ++counts.droppedRounded;
    if (item.marks & MARK_TRANSPOSED) ++counts.droppedTransposed;
    if (item.marks & MARK_MOVED) ++counts.droppedMoved;
  }

  // The number of items from `first` that make an exact tuplet worth writing as one, or 0.
  // A tuplet stays inside its bar.
  size_t tupletAt(size_t first) const {
    const int64_t room = barEndAt(items_[first].start) - items_[first].start;
    int64_t total = 0;
    size_t best = 0;
    int32_t shortest = items_[first].length, longest = shortest;
    for (size_t n = 1; n <= static_cast<size_t>(TUPLET_MAX_NOTES) && first + n <= items_.size();
         ++n) {
      const int32_t length = items_[first + n - 1].length;
      total += length;
      if (total > LENGTH_TICKS[1] || total > room) break;
      // A tuplet's durations differ by a unit at most, so no longer run of these items is one.
      shortest = std::min(shortest, length);
      longest = std::max(longest, length);
      if (longest - shortest > 1) break;
      if (n >= 2 && lengthIndexOf(total) != 0 && fitsTuplet(first, n, total)) best = n;
    }
    return best;
  }

  bool fitsTuplet(size_t first, size_t n, int64_t total) const {
    const int64_t start = items_[first].start;
    // Zero-length notes behind the tuplet would have nothing left to join.
    if (first + n < items_.size() && items_[first + n].length == 0) return false;
    for (const VoiceParameter& p : parameters_) {
      if (p.position > start && p.position < start + total) return false;
    }
    bool needed = false;  // a duration that no length writes
    int level = -1, gate = -1;
    for (size_t k = first; k < first + n; ++k) {
      const VoiceItem& item = items_[k];
      if (item.length == 0 || lengthIndexOf(item.length) == 0) needed = true;
      if (!item.isNote()) continue;
      if (level >= 0 && item.level != level) return false;
      level = item.level;
      if (item.length > 0 && item.length < FULL_LENGTH_UNITS) {
        if (gate >= 0 && item.gate != gate) return false;
        gate = item.gate;
      }
    }
    return needed && tupletDurations(items_, first, n, total);
  }

  Piece tupletPiece(size_t first, size_t n) const {
    Piece piece;
    piece.tuplet = true;
    piece.start = items_[first].start;
    piece.items.assign(items_.begin() + static_cast<std::ptrdiff_t>(first),
                       items_.begin() + static_cast<std::ptrdiff_t>(first + n));
    for (const VoiceItem& item : piece.items) piece.length += item.length;
    return piece;
  }

  // Zero-length notes behind an item: the item lends its last unit to a tuplet of one unit
  // (`{c e g}128`), which gives the first entry that unit and the others none. A note that
  // lends is tied into the tuplet, so it still sounds its whole length. `zeros` (at most
  // JOINING_ZEROS_MAX) are the notes that join it.
  void lendUnit(size_t index, size_t zeros, std::vector<Piece>& pieces, int& velocityChanged) {
    const VoiceItem& item = items_[index];
    Piece body;
    body.start = item.start;
    body.length = item.length - 1;
    body.item = item;
    body.tiedIntoTuplet = item.isNote();
    if (body.length > 0) pieces.push_back(body);

    Piece group;
    group.tuplet = true;
    group.afterTie = body.tiedIntoTuplet && body.length > 0;
    group.start = item.start + item.length - 1;
    group.length = 1;
    VoiceItem tail = item;
    tail.start = group.start;
    tail.length = 1;
    group.items.push_back(tail);
    // One level for the whole tuplet: the lending note's, or the first zero-length note's.
    const int level = item.isNote() ? item.level : items_[index + 1].level;
    for (size_t k = index + 1; k <= index + zeros; ++k) {
      VoiceItem zero = items_[k];
      if (zero.level != level) {
        zero.level = level;
        ++velocityChanged;
      }
      group.items.push_back(zero);
    }
    if (!item.isNote()) group.items.front().level = level;
    pieces.push_back(std::move(group));
  }

  // Drum hits joining the hit or rest before them: it is shortened by the unit it lends (a hit
  // so shortened is counted), and the unit opens their tuplet as a rest, so that one level, the
  // first joining hit's, stands before the tuplet. Hits of another level take that one. A hit of
  // one unit opens the tuplet itself, and the joining hits take its level.
  void lendHitUnit(size_t index, size_t zeros, std::vector<Piece>& pieces, LayoutCounts& counts) {
    const VoiceItem& item = items_[index];
    if (item.length > 1) {
      Piece body;
      body.start = item.start;
      body.length = item.length - 1;
      body.item = item;
      body.item.length = body.length;
      pieces.push_back(std::move(body));
    }
    Piece group;
    group.tuplet = true;
    group.start = item.start + item.length - 1;
    group.length = 1;
    VoiceItem head;  // a rest, or a hit of one unit, which has nothing to lend but itself
    if (item.isNote() && item.length == 1) {
      head = item;
    } else if (item.isNote()) {
      ++counts.lendersShortened;
    }
    head.start = group.start;
    head.length = 1;
    group.items.push_back(head);
    appendJoining(index + 1, zeros, group, counts.velocityChanged);
    pieces.push_back(std::move(group));
  }

  // Drum hits at the very start, before which nothing can lend a unit: the first hit that has a
  // length sounds one unit, and the others follow it then; the rest of its length is a rest.
  // Returns the items taken (the hit's place then holds that rest), 0 when the start holds no
  // hit with a length.
  size_t startHits(std::vector<Piece>& pieces, LayoutCounts& counts) {
    size_t zeros = 0;
    while (zeros < items_.size() && items_[zeros].length == 0) ++zeros;
    if (zeros == items_.size() || !items_[zeros].isNote()) return 0;
    const VoiceItem first = items_[zeros];
    const size_t kept = std::min(zeros, static_cast<size_t>(JOINING_ZEROS_MAX));
    Piece group;
    group.tuplet = true;
    group.start = first.start;
    group.length = 1;
    VoiceItem head = first;
    head.length = 1;
    group.items.push_back(head);
    appendJoining(0, kept, group, counts.velocityChanged);
    pieces.push_back(std::move(group));
    counts.late += static_cast<int>(kept);
    counts.crowded += static_cast<int>(zeros - kept);
    for (size_t k = kept; k < zeros; ++k) leftOut(items_[k], counts);
    if (first.length == 1) return zeros + 1;
    ++counts.lendersShortened;
    VoiceItem rest;  // takes the hit's place, and lends to the hits after it
    rest.start = first.start + 1;
    rest.length = first.length - 1;
    items_[zeros] = rest;
    return zeros;
  }

  // The zero-length items from `first` into the tuplet, at one level: that of the tuplet's first
  // note.
  void appendJoining(size_t first, size_t zeros, Piece& group, int& velocityChanged) const {
    int level = -1;
    for (const VoiceItem& item : group.items) {
      if (item.isNote()) level = item.level;
    }
    for (size_t k = first; k < first + zeros; ++k) {
      VoiceItem zero = items_[k];
      if (level < 0) level = zero.level;
      if (zero.level != level) {
        zero.level = level;
        ++velocityChanged;
      }
      group.items.push_back(zero);
    }
  }

  int64_t barEndAt(int64_t position) const {
    barCursor_ = barAfter(bars_, barCursor_, position);
    return barCursor_ == bars_.end() ? NEVER : *barCursor_;
  }

  std::vector<VoiceItem> items_;  // a copy: the start's hits give their place to a rest
  const std::vector<VoiceParameter>& parameters_;
  const BarStarts& bars_;
  mutable BarStarts::const_iterator barCursor_ = bars_.begin();  // the bar after the last asked
  Joining joining_;
};

// Calls `visit` with the units of each part of a plain piece as the bar lines cut it, until it
// returns false; `next` is the first bar start after the piece's start.
template <typename Visit>
void forEachPart(const Piece& piece, const BarStarts& bars, BarStarts::const_iterator next,
                 Visit visit) {
  for (int64_t position = piece.start, end = piece.start + piece.length; position < end;) {
    const int64_t barEnd = next == bars.end() ? end : std::min(end, *next++);
    if (!visit(barEnd - position)) return;
    position = barEnd;
  }
}

// The most common length among the parts of plain pieces, as the bar lines cut them, that a
// single length writes; a quarter when there is none.
int defaultLengthIndex(const std::vector<Piece>& pieces, const BarStarts& bars) {
  int counts[LENGTH_INDEX_COUNT] = {};
  auto next = bars.begin();
  for (const Piece& piece : pieces) {
    if (piece.tuplet) continue;
    next = barAfter(bars, next, piece.start);
    forEachPart(piece, bars, next, [&](int64_t part) {
      ++counts[lengthIndexOf(part)];
      return true;
    });
  }
  int best = DEFAULT_LENGTH_INDEX;
  for (int i = 1; i < LENGTH_INDEX_COUNT; ++i) {
    if (counts[i] > counts[best]) best = i;
  }
  return best;
}

// Writes the pieces bar by bar: the line's opening octave, then commands with a space before
// each beat, parameters where they fall, ties where a note crosses the bar line. In a voice
// written by code, a note part of the default length is `n` and its code, which needs no octave;
// a line without letter notes then goes without its opening octave.
//
// Without an output string the writer only counts the events, which is all a voice's first
// pass needs to learn whether the voice fits a channel: no text is made, and counting stops at
// the end of the first bar that takes the events past `eventsLimit`.
class Writer {
 public:
  // What both passes over the same pieces write with: the default length, and the octave of the
  // first note at or after each piece written by letter, -1 for none.
  struct Plan {
    int defaultIndex = DEFAULT_LENGTH_INDEX;
    std::vector<int> upcoming;
  };

  static Plan plan(const std::vector<Piece>& pieces, const BarStarts& bars, NoteForm form) {
    Plan plan;
    plan.defaultIndex = defaultLengthIndex(pieces, bars);
    plan.upcoming.assign(pieces.size() + 1, -1);
    const bool byCode = form == NoteForm::Code;
    auto next = bars.end();
    for (size_t p = pieces.size(); p-- > 0;) {
      const Piece& piece = pieces[p];
      const VoiceItem* note = nullptr;
      if (!piece.tuplet && piece.item.isNote()) {
        next = barAfter(bars, next, piece.start);
        if (needsLetter(piece, bars, next, byCode, plan.defaultIndex)) note = &piece.item;
      }
      for (const VoiceItem& item : piece.items) {
        if (item.isNote() && !byCode) {  // a tuplet's notes are codes too when written by code
          note = &item;
          break;
        }
      }
      plan.upcoming[p] = note != nullptr ? octaveOf(note->key) : plan.upcoming[p + 1];
    }
    return plan;
  }

  Writer(const std::vector<Piece>& pieces, const std::vector<VoiceParameter>& parameters,
         const BarStarts& bars, NoteForm form, const FlatKeys& flatKeys, const Plan& plan,
         std::string* out, int64_t eventsLimit)
      : pieces_(pieces),
        parameters_(parameters),
        bars_(bars),
        flatKeys_(flatKeys),
        upcoming_(plan.upcoming),
        out_(out),
        eventsLimit_(eventsLimit),
        byCode_(form == NoteForm::Code),
        defaultIndex_(plan.defaultIndex) {}

  int64_t events() const { return events_; }
  std::vector<int64_t> eventsBeforeBars() { return std::move(eventsBefore_); }

  void write() {
    for (current_ = 0; current_ < pieces_.size() && !stopped_; ++current_) {
      const Piece& piece = pieces_[current_];
      parametersUpTo(piece.start);
      if (piece.tuplet) {
        tuplet(piece);
      } else {
        plain(piece);
      }
    }
    if (stopped_) return;
    parametersUpTo(NEVER);
    if (!line_.empty() || lines_ == 0) endLine();
  }

 private:
  bool flatsAt(int64_t position) const {
    auto after = std::upper_bound(
        flatKeys_.begin(), flatKeys_.end(), position,
        [](int64_t p, const std::pair<int64_t, bool>& key) { return p < key.first; });
    return after != flatKeys_.begin() && (after - 1)->second;
  }

  // A note part written as `n` and its code.
  bool byCodePart(int64_t units) const { return byCode_ && units == LENGTH_TICKS[defaultIndex_]; }

  // Whether a part of the plain piece is written by letter; `next` is the first bar start after
  // the piece's start.
  static bool needsLetter(const Piece& piece, const BarStarts& bars, BarStarts::const_iterator next,
                          bool byCode, int defaultIndex) {
    if (!byCode) return piece.length > 0;
    bool letter = false;
    forEachPart(piece, bars, next, [&](int64_t part) {
      letter = part != LENGTH_TICKS[defaultIndex];
      return !letter;
    });
    return letter;
  }

  void parametersUpTo(int64_t position) {
    for (; next_ < parameters_.size() && parameters_[next_].position <= position; ++next_) {
      const VoiceParameter& p = parameters_[next_];
      moveTo(p.position);
      if (out_ != nullptr) {
        command_.assign(1, p.command);
        appendNumber(command_, p.value);
        command_ += ' ';
        add(command_, p.position);
      }
      ++events_;
    }
  }

  void plain(const Piece& piece) {
    const VoiceItem& item = piece.item;
    int64_t position = piece.start;
    int64_t left = piece.length;
    bool first = true;
    while (left > 0) {
      moveTo(position);
      const int64_t part = std::min(left, barEnd() - position);
      if (item.isNote()) {
        const bool tied = part < left || piece.tiedIntoTuplet;
        notePart(item, part, first, tied, position);
      } else {
        rest(part, position);
      }
      position += part;
      left -= part;
      first = false;
    }
  }

  // One bar's part of a note: its settings first (only before the note's first part, as a
  // setting between two tied parts would break the tie), then the lengths joined by ties.
  void notePart(const VoiceItem& item, int64_t units, bool first, bool tiedOn, int64_t position) {
    if (first) settings(item, position);
    if (out_ == nullptr) {
      size_t count = 1;
      if (!byCodePart(units)) {
        count = 0;
        forEachLength(units, [&](std::string_view) { ++count; });
      }
      events_ += static_cast<int64_t>(2 * count - 1) + (tiedOn ? 1 : 0);
      return;
    }
    beginLine();
    std::string& text = command_;
    text.clear();
    size_t count = 1;
    if (byCodePart(units)) {
      text += 'n';
      appendNumber(text, item.key - NOTE_NUMBER_OFFSET);
    } else {
      octaveStep(text, item.key);
      const char* name = nameOf(item.key, flatsAt(position));
      count = 0;
      forEachLength(units, [&](std::string_view length) {
        if (count++ > 0) text += '&';
        text.append(name).append(length);
      });
    }
    if (tiedOn) text += '&';
    add(text, position);
    events_ += static_cast<int64_t>(2 * count - 1) + (tiedOn ? 1 : 0);
  }

  void settings(const VoiceItem& item, int64_t position) {
    setGate(item, position);
    setLevel(item.level, position);
  }

  // The gate step matters only for notes shorter than the full-length ones.
  void setGate(const VoiceItem& item, int64_t position) {
    if (item.length < FULL_LENGTH_UNITS && item.length > 0 && item.gate != gate_) {
      gate_ = item.gate;
      ++events_;
      if (out_ == nullptr) return;
      command_.assign(1, 'q');
      appendNumber(command_, gate_ + 1);
      command_ += ' ';
      add(command_, position);
    }
  }

  void setLevel(int level, int64_t position) {
    if (level == level_) return;
    level_ = level;
    ++events_;
    if (out_ == nullptr) return;
    command_.assign(1, 'v');
    appendNumber(command_, level_);
    command_ += ' ';
    add(command_, position);
  }

  void rest(int64_t units, int64_t position) {
    while (units > 0) {
      const int64_t part = largestLengthWithin(units);
      if (out_ != nullptr) {
        command_.assign(1, 'r');
        command_.append(lengthText(part));
        add(command_, position);
      }
      ++events_;
      position += part;
      units -= part;
    }
  }

  void tuplet(const Piece& piece) {
    moveTo(piece.start);
    if (!piece.afterTie) {  // one level and one gate step for the whole tuplet
      for (const VoiceItem& item : piece.items) {
        if (item.isNote()) {
          setLevel(item.level, piece.start);
          break;
        }
      }
      for (const VoiceItem& item : piece.items) {
        if (item.isNote() && item.length > 0 && item.length < FULL_LENGTH_UNITS) {
          setGate(item, piece.start);
          break;
        }
      }
    }
    if (out_ == nullptr) {
      events_ += static_cast<int64_t>(piece.items.size());
      return;
    }
    beginLine();
    std::string& text = command_;
    text.assign(1, '{');
    for (const VoiceItem& item : piece.items) {
      if (byCode_) {  // `{n15 n15 n15}4`: codes need a blank between them
        if (text.size() > 1) text += ' ';
        if (item.isNote()) {
          text += 'n';
          appendNumber(text, item.key - NOTE_NUMBER_OFFSET);
        } else {
          text += 'r';
        }
      } else if (item.isNote()) {
        octaveStep(text, item.key);
        text += nameOf(item.key, flatsAt(piece.start));
      } else {
        text += 'r';
      }
    }
    text += '}';
    text.append(lengthText(piece.length));
    add(text, piece.start);
    events_ += static_cast<int64_t>(piece.items.size());
  }

  // Calls `visit` with each length that writes `units`: one length, two tied, else an explicit
  // duration (a long one in whole-table pieces).
  template <typename Visit>
  void forEachLength(int64_t units, Visit visit) const {
    if (lengthIndexOf(units) != 0) return visit(lengthText(units));
    const int64_t head = largestLengthWithin(units);
    if (lengthIndexOf(units - head) != 0) {
      visit(lengthText(head));
      return visit(lengthText(units - head));
    }
    if (units <= BYTE_MAX) return visit(std::string(":").append(std::to_string(units)));
    for (int64_t left = units; left > 0;) {
      const int64_t part = largestLengthWithin(left);
      visit(lengthText(part));
      left -= part;
    }
  }

  std::string_view lengthText(int64_t units) const {
    const int index = lengthIndexOf(units);
    return index == defaultIndex_ ? std::string_view() : LENGTH_TEXT[index];
  }

  // Appends the step from the octave in force to the key's.
  void octaveStep(std::string& text, int key) {
    if (!letterInText_) octaveBeforeText_ = octave_;
    letterInText_ = true;
    const int target = octaveOf(key);
    const int step = target - octave_;
    octave_ = target;
    switch (step) {
      case 0:
        return;
      case 1:
        text += '>';
        return;
      case 2:
        text += ">>";
        return;
      case -1:
        text += '<';
        return;
      case -2:
        text += "<<";
        return;
      default:
        text += 'o';
        appendNumber(text, target);
    }
  }

  int64_t barEnd() const { return bar_ + 1 < bars_.size() ? bars_[bar_ + 1] : NEVER; }

  void moveTo(int64_t position) {
    while (bar_ + 1 < bars_.size() && position >= bars_[bar_ + 1]) endLine();
  }

  // A line opens with the voice's default length (the first line only) and the octave of the
  // next note, so that no octave step is needed to reach it.
  void beginLine() {
    if (!line_.empty()) return;
    if (lines_ == 0) line_.append("l").append(LENGTH_TEXT[defaultIndex_]).append(" ");
    const int octave = upcoming_[std::min(current_, upcoming_.size() - 1)];
    if (octave >= 0) octave_ = octave;
    octaveAt_ = line_.size();
    letterOnLine_ = false;
    line_ += 'o';
    appendNumber(line_, octave_);
    line_ += ' ';
    prefixEnd_ = line_.size();
  }

  // Appends a command to the line; one that would take the line past what a line reader holds
  // goes on a continuation line of the same bar.
  void add(std::string_view text, int64_t position) {
    beginLine();
    // `  "`, the line, a blank, the command, `"`, the comment and the bar number
    const size_t bytes =
        3 + line_.size() + 1 + text.size() + 1 + BAR_COMMENT.size() + digitsOf(bar_ + 1);
    if (bytes > SCORE_LINE_BYTES_MAX && line_.size() > prefixEnd_) continueLine();
    const bool setting = text.back() == ' ';  // settings stand apart from the notes
    const bool beat = (position - bars_[bar_]) % BEAT_UNITS == 0 && position != lastPosition_;
    const bool code = text.front() == 'n';  // a note by code stands apart, as its digits end it
    if ((beat || setting || code || lastCode_) && line_.size() > prefixEnd_ &&
        line_.back() != ' ') {
      line_ += ' ';
    }
    line_ += text;
    letterOnLine_ = letterOnLine_ || letterInText_;
    letterInText_ = false;
    lastPosition_ = position;
    lastCode_ = code;
  }

  // Ends the bar's line and opens its continuation with the octave in force before the command
  // about to be added, whose octave step counts from there.
  void continueLine() {
    const int octave = letterInText_ ? octaveBeforeText_ : octave_;
    closeLine();
    octaveAt_ = 0;
    letterOnLine_ = false;
    line_ += 'o';
    appendNumber(line_, octave);
    line_ += ' ';
    prefixEnd_ = line_.size();
  }

  void endLine() {
    if (out_ != nullptr) closeLine();
    ++bar_;
    eventsBefore_.push_back(events_);
    stopped_ = events_ > eventsLimit_;
  }

  void closeLine() {
    if (byCode_ && !letterOnLine_ && !line_.empty()) line_.erase(octaveAt_, prefixEnd_ - octaveAt_);
    while (!line_.empty() && line_.back() == ' ') line_.pop_back();
    out_->append("  \"").append(line_).append(1, '"').append(BAR_COMMENT);
    appendNumber(*out_, static_cast<int64_t>(bar_ + 1));
    *out_ += '\n';
    ++lines_;
    line_.clear();
  }

  const std::vector<Piece>& pieces_;
  const std::vector<VoiceParameter>& parameters_;
  const BarStarts& bars_;
  const FlatKeys& flatKeys_;
  const std::vector<int>& upcoming_;  // octave of the first note at or after each piece, or -1
  std::string* out_;                  // nullptr while counting
  int64_t eventsLimit_;
  bool stopped_ = false;  // counting went past the limit
  size_t lines_ = 0;      // lines written
  std::string line_;
  std::string command_;  // the command being composed
  size_t bar_ = 0;
  size_t current_ = 0;
  size_t next_ = 0;
  int64_t lastPosition_ = -1;
  int64_t events_ = 0;
  std::vector<int64_t> eventsBefore_{0};  // events before each bar written
  size_t prefixEnd_ = 0;
  size_t octaveAt_ = 0;  // where the line's opening octave stands
  bool byCode_;
  bool letterOnLine_ = false;
  bool letterInText_ = false;            // the command being composed holds a letter note
  int octaveBeforeText_ = START_OCTAVE;  // the octave before the command's first letter note
  bool lastCode_ = false;
  int defaultIndex_;
  int octave_ = START_OCTAVE;
  int level_ = START_LEVEL;
  int gate_ = START_GATE;
};

// The hits of no length at one time (items[first, end)) by level: the level of the most hits
// first (of equal counts, the one that comes first), then the others as they come.
std::vector<std::vector<VoiceItem>> hitsByLevel(const std::vector<VoiceItem>& items, size_t first,
                                                size_t end) {
  std::vector<std::vector<VoiceItem>> groups;
  for (size_t k = first; k < end; ++k) {
    auto same = std::find_if(groups.begin(), groups.end(),
                             [&](const auto& g) { return g.front().level == items[k].level; });
    if (same == groups.end()) {
      groups.push_back({items[k]});
    } else {
      same->push_back(items[k]);
    }
  }
  auto most = std::max_element(groups.begin(), groups.end(),
                               [](const auto& a, const auto& b) { return a.size() < b.size(); });
  std::rotate(groups.begin(), most, most + 1);
  return groups;
}

// Drum hits made ready to join the item before them, so that none is lost and each keeps its
// level. A hit of one unit that hits at one time follow becomes a hit of no length at its time
// (joining the item before it) and a rest of one unit that lends to those hits. Of the hits of
// no length at one time, the first level (hitsByLevel) stays there and each further level
// stands one unit earlier than the one before, in a tuplet of its own, where the item before
// has the units to lend (counted in `early`); elsewhere they share the first level.
std::vector<VoiceItem> readyDrumHits(const std::vector<VoiceItem>& items, LayoutCounts& counts) {
  std::vector<VoiceItem> out;
  out.reserve(items.size());
  for (size_t i = 0; i < items.size();) {
    const VoiceItem& item = items[i];
    if (item.length > 0) {
      const bool joined = i + 1 < items.size() && items[i + 1].length == 0;
      if (item.isNote() && item.length == 1 && joined && !out.empty() && out.back().length > 0) {
        VoiceItem hit = item;
        hit.length = 0;
        out.push_back(hit);
        VoiceItem rest;
        rest.start = item.start;
        rest.length = 1;
        out.push_back(rest);
      } else {
        out.push_back(item);
      }
      ++i;
      continue;
    }
    size_t end = i;
    while (end < items.size() && items[end].length == 0) ++end;
    const auto groups = hitsByLevel(items, i, end);
    const int64_t levels = static_cast<int64_t>(groups.size());
    // The item before lends a unit to each level, and keeps one when it is a hit.
    const bool room = !out.empty() && out.back().length >= levels + (out.back().isNote() ? 1 : 0);
    if (levels == 1 || !room) {
      out.insert(out.end(), items.begin() + static_cast<std::ptrdiff_t>(i),
                 items.begin() + static_cast<std::ptrdiff_t>(end));
      i = end;
      continue;
    }
    out.back().length -= levels - 1;
    for (size_t g = groups.size(); g-- > 0;) {
      const int64_t at = item.start - static_cast<int64_t>(g);
      for (VoiceItem hit : groups[g]) {
        hit.start = at;
        out.push_back(hit);
        if (g > 0) ++counts.early;
      }
      if (g > 0) {
        VoiceItem rest;
        rest.start = at;
        rest.length = 1;
        out.push_back(rest);
      }
    }
    i = end;
  }
  return out;
}

}  // namespace

bool layoutVoice(const std::vector<VoiceItem>& items, const std::vector<VoiceParameter>& parameters,
                 const BarStarts& bars, NoteForm form, Joining joining, const FlatKeys& flatKeys,
                 int64_t eventsLimit, std::string& out, LayoutCounts& counts) {
  const std::vector<Piece> pieces =
      joining == Joining::Hits
          ? PieceBuilder(readyDrumHits(items, counts), parameters, bars, joining).build(counts)
          : PieceBuilder(items, parameters, bars, joining).build(counts);
  // Counting needs the default length only where notes are written by code; the text needs it
  // and the octaves ahead, made once the voice is known to fit.
  Writer::Plan plan;
  if (form == NoteForm::Code) plan = Writer::plan(pieces, bars, form);
  Writer counter(pieces, parameters, bars, form, flatKeys, plan, nullptr, eventsLimit);
  counter.write();
  counts.events = counter.events();
  counts.eventsBefore = counter.eventsBeforeBars();
  if (counts.events > eventsLimit) return false;
  if (form != NoteForm::Code) plan = Writer::plan(pieces, bars, form);
  Writer(pieces, parameters, bars, form, flatKeys, plan, &out, NEVER).write();
  return true;
}
