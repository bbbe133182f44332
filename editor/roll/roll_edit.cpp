#include "editor/roll/roll_edit.h"

#include <algorithm>

#include "core/midi_writer.h"
#include "core/score_source_map.h"
#include "editor/roll/note_text.h"

namespace {

constexpr char QUOTE = '"';
constexpr int32_t CHANNEL_EVENTS_MAX = WORK_AREA_LIMIT / 2;

// order matches RollRefusal
constexpr const char* REFUSAL_TEXTS[] = {
    "",
    "テキストが最後のコンパイルから変わっているため, ピアノロールで編集できません.",
    "1つのチャンネルで同時に2つの音は鳴らせません.",
    "使える休符が行や文字列, 命令で分かれているため, そこへは動かせません.",
    "連符の中の音符と休符はピアノロールで編集できません.",
    "この高さの音は書けません (o0 c から o7 b まで).",
    "チャンネル %1 のイベントが上限を超えます.",
    "行が長くなりすぎます (1行 %1 バイトまで).",
    "タイが行や文字列をまたぐ音符は長さを変えられません.",
    "このチャンネルにはまだイベントがないため, 描けません.",
};
static_assert(std::size(REFUSAL_TEXTS) == size_t(RollRefusal::NothingToDrawIn) + 1);

bool isLetter(char byte) {
  const char upper = byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 'a' + 'A') : byte;
  return upper >= 'A' && upper <= 'G';
}

bool isAccidental(char byte) {
  return byte == '#' || byte == '+' || byte == '-';
}

// Velocity and gate settings stand at no time of their own in the file: a note that moves past
// them in time changes nothing they do.
bool untimed(uint8_t code) {
  return code == EVENT_VELOCITY || code == EVENT_GATE;
}

// A note with the parts tied to it, or a rest not tied to a note: event indices first..last (the
// ties between the parts are events too) and its time in units.
struct Item {
  int32_t first = 0;
  int32_t last = 0;
  int64_t start = 0;
  int64_t units = 0;
  bool note = false;
  bool tuplet = false;
};

// Rests next to one another in the events and in one command string: items first..last.
struct Run {
  int32_t first = -1;
  int32_t last = -1;
  int64_t total = 0;
  bool empty() const { return first < 0; }
};

// One edit before merging: bytes [from, to) of a line, and the events it takes and writes.
struct Change {
  int32_t line;
  int32_t from;
  int32_t to;
  std::string text;
  int32_t removed = 0;
  int32_t added = 0;
};

class ChannelEdit {
 public:
  ChannelEdit(const ScoreTextLines& lines, const ScoreSourceMap& map, int channel)
      : lines_(lines), channel_(channel) {
    const int32_t k = channelIndex(channel);
    events_ = &map.recorded().events[k];
    readable_ = readChannelCommands(lines, map, channel, commands_);
    if (readable_) buildItems();
  }

  RollRefusal run(const RollGesture& g) {
    if (!readable_) return RollRefusal::TextChanged;
    switch (g.kind) {
      case RollGesture::Kind::Draw:
        return draw(g.start, g.length, g.key);
      case RollGesture::Kind::Move:
        return move(g.note, g.start, g.key);
      case RollGesture::Kind::Resize:
        return resize(g.note, g.length);
      case RollGesture::Kind::Delete:
        return erase(g.notes);
      case RollGesture::Kind::Velocity:
        return velocity(g.note, g.level);
    }
    return RollRefusal::None;
  }

  const std::vector<Change>& changes() const { return changes_; }
  int32_t eventCount() const { return static_cast<int32_t>(commands_.size()); }

 private:
  uint8_t code(int32_t event) const { return (*events_)[2 * static_cast<size_t>(event)]; }
  uint8_t value(int32_t event) const { return (*events_)[2 * static_cast<size_t>(event) + 1]; }
  const ChannelCommand& command(int32_t event) const {
    return commands_[static_cast<size_t>(event)];
  }
  std::string commandText(int32_t event) const {
    const ChannelCommand& c = command(event);
    return lines_[static_cast<size_t>(c.line)].substr(static_cast<size_t>(c.start),
                                                      static_cast<size_t>(c.end - c.start));
  }
  int32_t defaultUnits(int32_t event) const { return LENGTH_TICKS[command(event).lengthIndex]; }
  bool freeRest(const Item& item) const { return !item.note && !item.tuplet; }

  void buildItems() {
    const auto count = static_cast<int32_t>(commands_.size());
    const auto length = static_cast<int32_t>(events_->size());
    int64_t units = 0;
    for (int32_t e = 0; e < count; ++e) {
      const uint8_t c = code(e);
      if (c > EVENT_NOTE_LAST) continue;
      Item item{e, e, units, value(e), c != EVENT_REST, command(e).tuplet};
      if (item.note) {
        while (tieFollows(events_->data(), length, 2 * item.last)) {
          item.last += 2;
          item.units += value(item.last);
          item.tuplet = item.tuplet || command(item.last).tuplet;
        }
      }
      units += item.units;
      e = item.last;
      items_.push_back(item);
    }
  }

  int32_t itemOfNote(int32_t event) const {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].first == event && items_[i].note) return static_cast<int32_t>(i);
    }
    return -1;
  }

  // Two events next to each other in the events stand in one command string, neither in a
  // tuplet: what lies between them is blanks and octave or length settings.
  bool textContiguous(int32_t a, int32_t b) const {
    const ChannelCommand& x = command(a);
    const ChannelCommand& y = command(b);
    if (x.line != y.line || x.tuplet || y.tuplet) return false;
    const std::string& line = lines_[static_cast<size_t>(x.line)];
    return std::find(line.begin() + x.end, line.begin() + y.start, QUOTE) == line.begin() + y.start;
  }

  bool onlyUntimedBetween(int32_t a, int32_t b) const {
    for (int32_t e = a + 1; e < b; ++e) {
      if (!untimed(code(e))) return false;
    }
    return true;
  }

  bool chainContiguous(const Item& item) const {
    for (int32_t e = item.first; e < item.last; ++e) {
      if (!textContiguous(e, e + 1)) return false;
    }
    return true;
  }

  // The rests before item j, up to velocity and gate commands before it.
  Run runBefore(int32_t j) const {
    Run run;
    const int32_t b = j - 1;
    if (b < 0 || !freeRest(items_[size_t(b)]) ||
        !onlyUntimedBetween(items_[size_t(b)].last, items_[size_t(j)].first))
      return run;
    run = {b, b, items_[size_t(b)].units};
    while (run.first > 0) {
      const Item& p = items_[size_t(run.first - 1)];
      const Item& q = items_[size_t(run.first)];
      if (!freeRest(p) || p.last + 1 != q.first || !textContiguous(p.last, q.first)) break;
      --run.first;
      run.total += p.units;
    }
    return run;
  }

  // The rests after item j, past velocity and gate commands behind it.
  Run runAfter(int32_t j) const {
    Run run;
    const int32_t a = j + 1;
    if (a >= static_cast<int32_t>(items_.size()) || !freeRest(items_[size_t(a)]) ||
        !onlyUntimedBetween(items_[size_t(j)].last, items_[size_t(a)].first))
      return run;
    run = {a, a, items_[size_t(a)].units};
    while (run.last + 1 < static_cast<int32_t>(items_.size())) {
      const Item& p = items_[size_t(run.last)];
      const Item& q = items_[size_t(run.last + 1)];
      if (!freeRest(q) || p.last + 1 != q.first || !textContiguous(p.last, q.first)) break;
      ++run.last;
      run.total += q.units;
    }
    return run;
  }

  // Nothing behind item j and its rests keeps time: the channel may grow there.
  bool openEnd(int32_t j, const Run& after) const {
    const int32_t last = items_[size_t(after.empty() ? j : after.last)].last;
    for (int32_t e = last + 1; e < eventCount(); ++e) {
      if (!untimed(code(e))) return false;
    }
    return true;
  }

  // Why there is no room next to item j: a note there, or rests that cannot be used.
  RollRefusal noRoom(int32_t neighbour) const {
    if (neighbour >= 0 && neighbour < static_cast<int32_t>(items_.size()) &&
        items_[size_t(neighbour)].note)
      return RollRefusal::Overlap;
    return RollRefusal::RestSplit;
  }

  // The text of events first..last replaced by what `write` writes, the octave and the default
  // length after it kept.
  template <typename Write>
  void rewrite(int32_t first, int32_t last, Write write) {
    const ChannelCommand& a = command(first);
    const ChannelCommand& b = command(last);
    NoteTextWriter writer(a.octaveBefore, defaultUnits(first));
    write(writer);
    writer.finish(b.octaveAfter);
    std::string text = writer.text();
    int32_t added = writer.events();
    if (b.lengthIndex != a.lengthIndex)
      text += (text.empty() ? "l" : " l") + lengthName(LENGTH_TICKS[b.lengthIndex]);
    int32_t to = b.end;
    // Commands that go leave one blank between their neighbours, not two.
    const std::string& line = lines_[size_t(a.line)];
    if (text.empty() && size_t(to) < line.size() && line[size_t(to)] == ' ' &&
        (a.start == 0 || line[size_t(a.start - 1)] == ' '))
      ++to;
    changes_.push_back({a.line, a.start, to, std::move(text), last - first + 1, added});
  }

  void insert(int32_t line, int32_t column, std::string text, int32_t added) {
    changes_.push_back({line, column, column, std::move(text), 0, added});
  }

  // Rests of `units` written in place of the run, or before (`atEvent`'s start) or behind
  // (its end) an event when the run is empty.
  void setRun(const Run& run, int64_t units, int32_t atEvent, bool behind) {
    if (!run.empty()) {
      rewrite(items_[size_t(run.first)].first, items_[size_t(run.last)].last,
              [&](NoteTextWriter& w) { w.rest(units); });
      return;
    }
    if (units <= 0) return;
    const ChannelCommand& c = command(atEvent);
    NoteTextWriter writer(behind ? c.octaveAfter : c.octaveBefore, defaultUnits(atEvent));
    writer.rest(units);
    const std::string text = behind ? " " + writer.text() : writer.text() + " ";
    insert(c.line, behind ? c.end : c.start, text, writer.events());
  }

  // The accidental the channel writes nearest before event `event`, '+' when none.
  char accidentalNear(int32_t event) const {
    for (int32_t e = std::min(event, eventCount() - 1); e >= 0; --e) {
      if (code(e) == EVENT_REST || code(e) > EVENT_NOTE_LAST) continue;
      const std::string text = commandText(e);
      if (text.size() > 1 && isLetter(text[0]) && isAccidental(text[1])) return text[1];
    }
    return '+';
  }

  // How the note whose command is `event` is written.
  NoteSpelling spellingOf(int32_t event) const {
    NoteSpelling spelling;
    const std::string text = commandText(event);
    spelling.byNumber = !text.empty() && (text[0] == 'n' || text[0] == 'N');
    spelling.byUnits = text.find(':') != std::string::npos;
    spelling.upper = !text.empty() && text[0] >= 'A' && text[0] <= 'Z';
    spelling.accidental =
        text.size() > 1 && isAccidental(text[1]) ? text[1] : accidentalNear(event);
    return spelling;
  }

  // A new note is written as the nearest note before it is (else after it); the drum channel
  // writes keys by number unless its notes are letters.
  NoteSpelling spellingNear(int32_t item) const {
    for (int32_t i = item; i >= 0; --i) {
      if (i < static_cast<int32_t>(items_.size()) && items_[size_t(i)].note &&
          !items_[size_t(i)].tuplet)
        return spellingOf(items_[size_t(i)].first);
    }
    for (size_t i = static_cast<size_t>(std::max(item, 0)); i < items_.size(); ++i) {
      if (items_[i].note && !items_[i].tuplet) return spellingOf(items_[i].first);
    }
    NoteSpelling spelling;
    spelling.byNumber = channel_ == DRUM_CHANNEL;
    return spelling;
  }

  // The pitch of the note of item j becomes `code`: each part's letter (or number) rewritten,
  // octave marks around it where the octave changes.
  void repitch(int32_t j, int32_t newCode) {
    const Item& item = items_[size_t(j)];
    const NoteSpelling spelling = spellingOf(item.first);
    const int32_t semitone = (newCode - 1) % SEMITONES_PER_OCTAVE + 1;
    const int32_t octave = (newCode - semitone) / SEMITONES_PER_OCTAVE;
    const ChannelCommand& on = command(item.first);
    const bool marks = !spelling.byNumber && octave != on.octaveBefore;
    if (marks) insert(on.line, on.start, octaveMove(on.octaveBefore, octave), 0);
    bool sameOctave = true;
    for (int32_t e = item.first; e <= item.last; e += 2) {
      sameOctave = sameOctave && command(e).octaveBefore == on.octaveBefore;
      if (code(e) == EVENT_REST) continue;
      const ChannelCommand& c = command(e);
      const std::string text = commandText(e);
      if (text[0] == 'n' || text[0] == 'N') {
        const auto digits = static_cast<int32_t>(text.find_first_not_of("0123456789", 1));
        const int32_t end = digits < 0 ? c.end : c.start + digits;
        changes_.push_back({c.line, c.start + 1, end, std::to_string(newCode)});
        continue;
      }
      NoteSpelling own = spelling;
      own.upper = text[0] >= 'A' && text[0] <= 'Z';
      const int32_t letterBytes = text.size() > 1 && isAccidental(text[1]) ? 2 : 1;
      changes_.push_back({c.line, c.start, c.start + letterBytes, letterOf(semitone, own)});
    }
    if (!marks) return;
    const bool around = sameOctave && chainContiguous(item);
    const ChannelCommand& behind = command(around ? item.last : item.first);
    insert(behind.line, behind.end, octaveMove(octave, on.octaveBefore), 0);
  }

  RollRefusal draw(int64_t start, int64_t length, int key) {
    const int32_t newCode = key - NOTE_NUMBER_OFFSET;
    if (newCode < 1 || newCode > EVENT_NOTE_LAST) return RollRefusal::KeyOutOfRange;
    if (start < 0 || length < 1) return RollRefusal::Overlap;
    if (items_.empty()) return RollRefusal::NothingToDrawIn;
    const int64_t end = start + length;
    const auto holding = std::partition_point(
        items_.begin(), items_.end(), [&](const Item& i) { return i.start + i.units <= start; });
    if (holding == items_.end()) {
      // Behind the channel's last note or rest: rests up to the note, written behind the last
      // event, if nothing there keeps time.
      const Item& lastItem = items_.back();
      if (!openEnd(static_cast<int32_t>(items_.size()) - 1, Run())) return RollRefusal::RestSplit;
      const int32_t lastEvent = eventCount() - 1;
      const ChannelCommand& c = command(lastEvent);
      NoteTextWriter writer(c.octaveAfter, defaultUnits(lastEvent));
      writer.rest(start - (lastItem.start + lastItem.units));
      writer.note(newCode, length, spellingNear(static_cast<int32_t>(items_.size()) - 1));
      insert(c.line, c.end, " " + writer.text(), writer.events());
      return RollRefusal::None;
    }
    const auto j = static_cast<int32_t>(holding - items_.begin());
    if (!freeRest(*holding)) return holding->note ? RollRefusal::Overlap : RollRefusal::InTuplet;
    // The rests holding the new note: the run from the one at `start` on.
    Run run{j, j, holding->units};
    while (run.first > 0) {
      const Item& p = items_[size_t(run.first - 1)];
      if (!freeRest(p) || p.last + 1 != items_[size_t(run.first)].first ||
          !textContiguous(p.last, items_[size_t(run.first)].first))
        break;
      --run.first;
    }
    while (items_[size_t(run.last)].start + items_[size_t(run.last)].units < end) {
      const int32_t n = run.last + 1;
      if (n >= static_cast<int32_t>(items_.size())) {
        if (!openEnd(run.last, Run())) return RollRefusal::RestSplit;
        break;  // the note goes on past the channel's end
      }
      const Item& q = items_[size_t(n)];
      if (q.note) return RollRefusal::Overlap;
      if (!freeRest(q)) return RollRefusal::InTuplet;
      if (items_[size_t(run.last)].last + 1 != q.first ||
          !textContiguous(items_[size_t(run.last)].last, q.first))
        return RollRefusal::RestSplit;
      run.last = n;
    }
    const Item& first = items_[size_t(run.first)];
    const Item& last = items_[size_t(run.last)];
    const int64_t runEnd = last.start + last.units;
    const NoteSpelling spelling = spellingNear(run.first - 1);
    rewrite(first.first, last.last, [&](NoteTextWriter& w) {
      w.rest(start - first.start);
      w.note(newCode, length, spelling);
      w.rest(runEnd - end);
    });
    return RollRefusal::None;
  }

  RollRefusal move(int32_t note, int64_t newStart, int key) {
    const int32_t j = itemOfNote(note);
    if (j < 0) return RollRefusal::TextChanged;
    const Item item = items_[size_t(j)];
    if (item.tuplet) return RollRefusal::InTuplet;
    const int32_t newCode = key - NOTE_NUMBER_OFFSET;
    if (newCode < 1 || newCode > EVENT_NOTE_LAST) return RollRefusal::KeyOutOfRange;
    const int64_t delta = newStart - item.start;
    const Run before = runBefore(j);
    const Run after = runAfter(j);
    if (delta < 0 && before.total < -delta)
      return noRoom(before.empty() ? j - 1 : before.first - 1);
    if (delta > 0 && after.total < delta && !openEnd(j, after))
      return noRoom(after.empty() ? j + 1 : after.last + 1);
    if (delta != 0) setRun(before, before.total + delta, item.first, false);
    if (newCode != code(item.first)) repitch(j, newCode);
    if (delta != 0) setRun(after, std::max<int64_t>(0, after.total - delta), item.last, true);
    return RollRefusal::None;
  }

  RollRefusal resize(int32_t note, int64_t length) {
    const int32_t j = itemOfNote(note);
    if (j < 0) return RollRefusal::TextChanged;
    const Item item = items_[size_t(j)];
    if (item.tuplet) return RollRefusal::InTuplet;
    if (length < 1) length = 1;
    const int64_t grow = length - item.units;
    if (grow == 0) return RollRefusal::None;
    if (!chainContiguous(item)) return RollRefusal::NoteSplit;
    const Run after = runAfter(j);
    if (grow > 0 && after.total < grow && !openEnd(j, after))
      return noRoom(after.empty() ? j + 1 : after.last + 1);
    NoteSpelling spelling = spellingOf(item.first);
    const uint8_t noteCode = code(item.first);
    // The note keeps its letter and accidental as written.
    const std::string text = commandText(item.first);
    if (isLetter(text[0]))
      spelling.letter = text.substr(0, text.size() > 1 && isAccidental(text[1]) ? 2 : 1);
    rewrite(item.first, item.last, [&](NoteTextWriter& w) { w.note(noteCode, length, spelling); });
    setRun(after, std::max<int64_t>(0, after.total - grow), item.last, true);
    return RollRefusal::None;
  }

  RollRefusal erase(const std::vector<int32_t>& notes) {
    std::vector<bool> gone(items_.size());
    for (const int32_t note : notes) {
      const int32_t j = itemOfNote(note);
      if (j < 0) return RollRefusal::TextChanged;
      if (items_[size_t(j)].tuplet) return RollRefusal::InTuplet;
      gone[size_t(j)] = true;
    }
    // Each stretch of deleted notes and free rests next to one another becomes rests, one
    // rewrite for each part of it that one command string holds.
    size_t i = 0;
    while (i < items_.size()) {
      if (!gone[i]) {
        ++i;
        continue;
      }
      size_t first = i;
      while (first > 0 && freeRest(items_[first - 1]) &&
             items_[first - 1].last + 1 == items_[first].first)
        --first;
      size_t last = i;
      while (last + 1 < items_.size() && (gone[last + 1] || freeRest(items_[last + 1])) &&
             items_[last].last + 1 == items_[last + 1].first)
        ++last;
      restStretch(items_[first].first, items_[last].last, gone, first);
      i = last + 1;
    }
    return RollRefusal::None;
  }

  // Events from..to become rests, split where the text breaks; parts that only held rests stay.
  void restStretch(int32_t from, int32_t to, const std::vector<bool>& gone, size_t firstItem) {
    int32_t pieceStart = from;
    int64_t units = 0;
    bool touched = false;
    size_t item = firstItem;
    for (int32_t e = from; e <= to; ++e) {
      while (items_[item].last < e) ++item;
      if (code(e) <= EVENT_NOTE_LAST) units += value(e);
      touched = touched || gone[item];
      if (e == to || !textContiguous(e, e + 1)) {
        if (touched) rewrite(pieceStart, e, [&](NoteTextWriter& w) { w.rest(units); });
        pieceStart = e + 1;
        units = 0;
        touched = false;
      }
    }
  }

  RollRefusal velocity(int32_t note, int level) {
    const int32_t j = itemOfNote(note);
    if (j < 0) return RollRefusal::TextChanged;
    const Item& item = items_[size_t(j)];
    if (item.tuplet) return RollRefusal::InTuplet;
    level = std::clamp(level, 1, VELOCITY_LEVEL_MAX);
    int32_t old = START_LEVEL;
    for (int32_t e = 0; e < item.first; ++e) {
      if (code(e) == EVENT_VELOCITY) old = std::min<int32_t>(value(e), VELOCITY_LEVEL_MAX);
    }
    if (level == old) return RollRefusal::None;
    const int32_t before = item.first - 1;
    const ChannelCommand& on = command(item.first);
    if (before >= 0 && code(before) == EVENT_VELOCITY && textContiguous(before, item.first)) {
      const ChannelCommand& v = command(before);
      changes_.push_back({v.line, v.start + 1, v.end, std::to_string(level)});
    } else {
      insert(on.line, on.start, "v" + std::to_string(level) + " ", 1);
    }
    // The old level back for the next note, unless a `v` comes before it.
    for (int32_t e = item.last + 1; e < eventCount(); ++e) {
      if (code(e) == EVENT_VELOCITY) break;
      if (code(e) == EVENT_REST || code(e) > EVENT_NOTE_LAST) continue;
      const ChannelCommand& end = command(item.last);
      insert(end.line, end.end, " v" + std::to_string(old), 1);
      break;
    }
    return RollRefusal::None;
  }

  const ScoreTextLines& lines_;
  int channel_;
  const std::vector<uint8_t>* events_ = nullptr;
  bool readable_ = false;
  std::vector<ChannelCommand> commands_;
  std::vector<Item> items_;
  std::vector<Change> changes_;
};

// Changes in text order merged where they meet, each trimmed to the bytes it really changes.
std::vector<TextEdit> mergedEdits(const ScoreTextLines& lines, std::vector<Change> changes) {
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return a.line != b.line ? a.line < b.line : a.from < b.from;
  });
  std::vector<Change> merged;
  for (Change& c : changes) {
    if (!merged.empty() && merged.back().line == c.line && merged.back().to == c.from) {
      merged.back().to = c.to;
      merged.back().text += c.text;
      continue;
    }
    merged.push_back(std::move(c));
  }
  std::vector<TextEdit> edits;
  for (const Change& c : merged) {
    const std::string_view old =
        std::string_view(lines[size_t(c.line)]).substr(size_t(c.from), size_t(c.to - c.from));
    size_t head = 0;
    while (head < old.size() && head < c.text.size() && old[head] == c.text[head]) ++head;
    size_t tail = 0;
    while (tail < old.size() - head && tail < c.text.size() - head &&
           old[old.size() - 1 - tail] == c.text[c.text.size() - 1 - tail])
      ++tail;
    if (head == old.size() && head == c.text.size()) continue;
    edits.push_back({c.line, c.from + static_cast<int32_t>(head),
                     static_cast<int32_t>(old.size() - head - tail),
                     c.text.substr(head, c.text.size() - head - tail)});
  }
  return edits;
}

}  // namespace

const char* refusalText(RollRefusal refusal) {
  return REFUSAL_TEXTS[static_cast<size_t>(refusal)];
}

std::string refusalMessage(const RollEditResult& result) {
  std::string text = refusalText(result.refusal);
  const size_t at = text.find("%1");
  if (at == std::string::npos) return text;
  const int value = result.refusal == RollRefusal::LineTooLong ? EDITOR_LINE_MAX : result.channel;
  return text.replace(at, 2, std::to_string(value));
}

RollEditResult editForGesture(const ScoreTextLines& lines, const ScoreSourceMap& map,
                              const RollGesture& gesture) {
  return editForGestures(lines, map, {gesture});
}

RollEditResult editForGestures(const ScoreTextLines& lines, const ScoreSourceMap& map,
                               const std::vector<RollGesture>& gestures) {
  RollEditResult result;
  std::vector<Change> changes;
  for (const RollGesture& gesture : gestures) {
    if (gesture.channel < 1 || gesture.channel > CHANNEL_COUNT) {
      result.refusal = RollRefusal::TextChanged;
      return result;
    }
    result.channel = gesture.channel;
    ChannelEdit edit(lines, map, gesture.channel);
    result.refusal = edit.run(gesture);
    if (!result.ok()) return result;
    int32_t events = edit.eventCount();
    for (const Change& c : edit.changes()) events += c.added - c.removed;
    if (events > CHANNEL_EVENTS_MAX) {
      result.refusal = RollRefusal::TooManyEvents;
      return result;
    }
    changes.insert(changes.end(), edit.changes().begin(), edit.changes().end());
  }
  result.channel = 0;
  result.edits = mergedEdits(lines, std::move(changes));
  std::vector<int64_t> growth(lines.size());
  for (const TextEdit& e : result.edits)
    growth[size_t(e.line)] += static_cast<int64_t>(e.text.size()) - e.length;
  for (size_t line = 0; line < lines.size(); ++line) {
    if (growth[line] > 0 &&
        static_cast<int64_t>(lines[line].size()) + growth[line] > EDITOR_LINE_MAX) {
      result.edits.clear();
      result.refusal = RollRefusal::LineTooLong;
      return result;
    }
  }
  return result;
}

void applyEdits(ScoreTextLines& lines, const std::vector<TextEdit>& edits) {
  for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
    lines[size_t(e->line)].replace(size_t(e->column), size_t(e->length), e->text);
  }
}
