// The roll's gestures as edits of the text: for a few hundred random scores and random gestures
// on random notes, the edited text compiles and its notes are the old ones with the gesture
// applied (read back from the compilation by a reader of its own), nothing else moves, and the
// edits stay inside the gesture channel's command strings; refusals only where the language
// cannot say it; and the text's habits, compared whole.
#include "editor/roll/roll_edit.h"

#include <QTest>
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/midi_writer.h"
#include "core/score_source_map.h"
#include "tests/support/memory_host.h"
#include "tests/support/random_score.h"

namespace {

constexpr int O4_C = 72;  // c of o4; o3 c is middle C, key 60

ScoreTextLines splitLines(const std::string& text) {
  ScoreTextLines lines(1);
  for (const char byte : text) {
    if (byte == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += byte;
    }
  }
  return lines;
}

std::string joinLines(const ScoreTextLines& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i > 0 ? "\n" : "") + lines[i];
  return text;
}

// A score compiled as the editor compiles it, with its source map.
struct Compiled {
  explicit Compiled(const std::string& text) : lines(splitLines(text)) {
    auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, text);
    SourceMap recorded;
    compile->host.sourceMapStorage = &recorded;
    result = compile->run();
    std::string error;
    if (result == 0)
      ok = map.build(recorded, compile->host.kept.data(), compile->host.kept.size(), &error);
  }
  ScoreTextLines lines;
  int32_t result = -1;
  bool ok = false;
  ScoreSourceMap map;
};

// A note as the events say it: its note-on event, start and length in units, key, the `v`
// level and gate step it sounds with.
struct Note {
  int64_t start, units;
  int key, level, gate;
  int32_t event;
  bool tuplet;
  auto key_() const { return std::tie(start, units, key, level, gate); }
  bool operator==(const Note& o) const { return key_() == o.key_(); }
};

// A tempo, pan or program change at its time.
struct Change {
  int64_t at;
  int code, value;
  bool operator==(const Change&) const = default;
};

// One channel read from its events: the notes, the changes, and for each rest-holding stretch
// the level and gate a note drawn there gets.
struct Channel {
  std::vector<Note> notes;
  std::vector<Change> changes;
  struct Free {
    int64_t start, end;
    int level, gate;
  };
  std::vector<Free> rests;
  int64_t end = 0;
  int endLevel = START_LEVEL, endGate = 0;
  bool operator==(const Channel& o) const { return notes == o.notes && changes == o.changes; }
};

// Whether each note-on stands in a tuplet: its source lies between braces of its string.
bool inTuplet(const ScoreTextLines& lines, const SourcePosition& p) {
  const std::string& line = lines[size_t(p.line)];
  for (int i = p.column - 1; i >= 0; --i) {
    if (line[size_t(i)] == '"' || line[size_t(i)] == '}') return false;
    if (line[size_t(i)] == '{') return true;
  }
  return false;
}

Channel readChannel(const Compiled& c, int channel) {
  Channel out;
  const int k = channelIndex(channel);
  const std::vector<uint8_t>& events = c.map.recorded().events[k];
  const auto length = static_cast<int32_t>(events.size());
  int level = START_LEVEL, gate = c.map.recorded().startGate[k];
  int64_t units = 0;
  for (int32_t at = 0; at < length; at += 2) {
    const uint8_t code = events[size_t(at)];
    const int value = events[size_t(at) + 1];
    if (code == EVENT_VELOCITY) level = std::min(value, VELOCITY_LEVEL_MAX);
    if (code == EVENT_GATE) gate = value;
    if (code == EVENT_TEMPO || code == EVENT_PAN || code == EVENT_PROGRAM)
      out.changes.push_back({units, code, value});
    if (code == EVENT_REST) {
      if (value > 0) out.rests.push_back({units, units + value, level, gate});
      units += value;
    } else if (code <= EVENT_NOTE_LAST) {
      Note note{units,
                value,
                code + NOTE_NUMBER_OFFSET,
                level,
                gate,
                at / 2,
                inTuplet(c.lines, c.map.recorded().positions[k][size_t(at / 2)])};
      while (tieFollows(events.data(), length, at)) {
        at += 4;
        note.units += events[size_t(at) + 1];
        note.tuplet =
            note.tuplet || inTuplet(c.lines, c.map.recorded().positions[k][size_t(at / 2)]);
      }
      units += note.units;
      out.notes.push_back(note);
    }
  }
  out.end = units;
  out.endLevel = level;
  out.endGate = gate;
  return out;
}

std::vector<Channel> readChannels(const Compiled& c) {
  std::vector<Channel> all;
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) all.push_back(readChannel(c, channel));
  return all;
}

// Notes of no length share their start with the next one: whole notes are compared.
void sortNotes(Channel& channel) {
  std::sort(channel.notes.begin(), channel.notes.end(),
            [](const Note& a, const Note& b) { return a.key_() < b.key_(); });
}

// Another note than `except` sounds in [from, to) (one of no length: starts there).
bool crosses(const Channel& channel, int64_t from, int64_t to, int32_t except) {
  for (const Note& n : channel.notes) {
    if (n.event != except && n.start < to &&
        std::max<int64_t>(n.start + n.units, n.start + 1) > from)
      return true;
  }
  return false;
}

bool overlaps(const Channel& channel) {
  for (size_t i = 1; i < channel.notes.size(); ++i) {
    if (channel.notes[i - 1].start + channel.notes[i - 1].units > channel.notes[i].start)
      return true;
  }
  return false;
}

QString describe(const Channel& c) {
  QString text;
  for (const Note& n : c.notes)
    text += QString(" [%1+%2 k%3 v%4 q%5]")
                .arg(n.start)
                .arg(n.units)
                .arg(n.key)
                .arg(n.level)
                .arg(n.gate);
  for (const Change& x : c.changes)
    text += QString(" {%1 %2=%3}").arg(x.at).arg(x.code).arg(x.value);
  return text;
}

// The text with the gesture's edit made, or the refusal.
RollEditResult edited(const Compiled& c, const RollGesture& g, std::string* text) {
  RollEditResult result = editForGesture(c.lines, c.map, g);
  ScoreTextLines lines = c.lines;
  applyEdits(lines, result.edits);
  *text = joinLines(lines);
  return result;
}

// The one-line case: the text after the gesture, or the refusal's text.
QString afterGesture(const std::string& score, const RollGesture& g) {
  Compiled c(score);
  if (!c.ok) return "does not compile";
  std::string text;
  const RollEditResult result = edited(c, g, &text);
  if (!result.ok()) return QString::fromStdString(refusalMessage(result));
  return QString::fromStdString(text);
}

QString refused(RollRefusal refusal) {
  return QString::fromUtf8(refusalText(refusal));
}

// The note-on event of the nth note of a channel.
int32_t noteEvent(const std::string& score, int channel, size_t nth) {
  Compiled c(score);
  return readChannel(c, channel).notes.at(nth).event;
}

RollGesture gesture(RollGesture::Kind kind, int channel) {
  RollGesture g;
  g.kind = kind;
  g.channel = channel;
  return g;
}

}  // namespace

class RollEditTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void gesturesOnRandomScoresGiveTheirNotesAndNothingElse();
  void aMoveWritesTheScoresOwnPitchHabits();
  void lengthsFollowTheDefaultLengthAndTie();
  void deletedNotesMergeWithTheRestsBesideThem();
  void velocityIsSetBeforeTheNoteAndRestoredBehindIt();
  void whatTheLanguageCannotSayIsRefused();
};

void RollEditTest::gesturesOnRandomScoresGiveTheirNotesAndNothingElse() {
  testing_support::RandomScoreWriter writer(33);
  std::mt19937 random(18);
  auto number = [&](int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random);
  };
  constexpr int KINDS = 5;
  int done[KINDS] = {}, refused[KINDS] = {};
  int reasons[int(RollRefusal::NothingToDrawIn) + 1] = {};
  int scores = 0;
  for (int i = 0; i < 500; ++i) {
    const testing_support::RandomScore score = writer.next();
    const Compiled before(score.text);
    if (!before.ok) continue;
    const std::vector<Channel> old = readChannels(before);
    std::vector<int> withNotes;
    for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
      if (!old[size_t(channel - 1)].notes.empty()) withNotes.push_back(channel);
    }
    if (withNotes.empty()) continue;
    ++scores;
    for (int round = 0; round < 4; ++round) {
      const int channel = withNotes[size_t(number(0, int64_t(withNotes.size()) - 1))];
      const Channel& was = old[size_t(channel - 1)];
      const auto kind = static_cast<RollGesture::Kind>(number(0, KINDS - 1));
      RollGesture g = gesture(kind, channel);
      // Mostly a note outside the tuplets, which the roll does not edit.
      size_t pick = size_t(number(0, int64_t(was.notes.size()) - 1));
      for (int tries = 0; tries < 8 && was.notes[pick].tuplet && number(0, 7) > 0; ++tries)
        pick = size_t(number(0, int64_t(was.notes.size()) - 1));
      const Note target = was.notes[pick];
      g.note = target.event;
      std::vector<Channel> expected = old;
      Channel& now = expected[size_t(channel - 1)];
      bool tuplet = target.tuplet;
      switch (kind) {
        case RollGesture::Kind::Draw: {
          // Mostly in a rest or behind the end, sometimes anywhere.
          g.start = number(0, was.end + 64);
          g.length = number(1, 3) == 1 ? number(1, 300) : 8 * number(1, 8);
          if (!was.rests.empty() && number(0, 2) > 0) {
            const Channel::Free& f = was.rests[size_t(number(0, int64_t(was.rests.size()) - 1))];
            g.start = number(f.start, f.end - 1);
            g.length = number(1, f.end - g.start);
          }
          g.key = int(number(24, 119));
          int level = was.endLevel, gate = was.endGate;
          for (const Channel::Free& f : was.rests) {
            if (f.start <= g.start && g.start < f.end)
              std::tie(level, gate) = std::tie(f.level, f.gate);
          }
          now.notes.push_back({g.start, g.length, g.key, level, gate, -1, false});
          tuplet = false;
          break;
        }
        case RollGesture::Kind::Move:
          g.start = std::max<int64_t>(0, target.start + (number(0, 2) == 0 ? 0 : number(-48, 48)));
          g.key = std::clamp<int>(
              target.key + int(number(0, 1) == 0 ? 12 * number(-1, 1) : number(-5, 5)), 24, 119);
          now.notes[pick].start = g.start;
          now.notes[pick].key = g.key;
          break;
        case RollGesture::Kind::Resize:
          g.length = number(1, 2) == 1 ? number(1, 400)
                                       : std::max<int64_t>(1, target.units + number(-16, 16));
          now.notes[pick].units = g.length;
          break;
        case RollGesture::Kind::Delete: {
          const int64_t count = number(1, std::min<int64_t>(3, int64_t(was.notes.size())));
          std::vector<size_t> gone;
          for (int64_t n = 0; n < count; ++n)
            gone.push_back(size_t(number(0, int64_t(was.notes.size()) - 1)));
          std::sort(gone.begin(), gone.end());
          gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
          tuplet = false;
          for (auto n = gone.rbegin(); n != gone.rend(); ++n) {
            g.notes.push_back(was.notes[*n].event);
            tuplet = tuplet || was.notes[*n].tuplet;
            now.notes.erase(now.notes.begin() + std::ptrdiff_t(*n));
          }
          break;
        }
        case RollGesture::Kind::Velocity:
          g.level = int(number(1, VELOCITY_LEVEL_MAX));
          now.notes[pick].level = g.level;
          break;
      }
      sortNotes(now);
      std::string text;
      const RollEditResult result = edited(before, g, &text);
      const QString context =
          QString("score %1 round %2 kind %3 ch%4 note %5\n%6\n---\n%7")
              .arg(i)
              .arg(round)
              .arg(int(kind))
              .arg(channel)
              .arg(pick)
              .arg(QString::fromStdString(score.text), QString::fromStdString(text));
      if (!result.ok()) {
        ++refused[int(kind)];
        ++reasons[size_t(result.refusal)];
        QVERIFY2(result.edits.empty(), qPrintable(context));
        // A note in a tuplet, two notes at once, or rests the gesture cannot use: nothing else.
        if (result.refusal == RollRefusal::InTuplet) {
          QVERIFY2(tuplet || kind == RollGesture::Kind::Draw, qPrintable(context));
        } else if (result.refusal == RollRefusal::Overlap) {
          // Where it would lie, or on its way there.
          const bool way = kind == RollGesture::Kind::Move &&
                           crosses(was, std::min(target.start, g.start),
                                   std::max(target.start, g.start) + target.units, target.event);
          QVERIFY2(overlaps(now) || way, qPrintable(context));
        } else {
          QVERIFY2(
              result.refusal == RollRefusal::RestSplit || result.refusal == RollRefusal::NoteSplit,
              qPrintable(QString("%1: %2").arg(refusalText(result.refusal), context)));
        }
        continue;
      }
      QVERIFY2(!tuplet, qPrintable(context));
      ++done[int(kind)];
      for (const TextEdit& e : result.edits) {
        bool inside = false;
        for (const auto& s : score.strings) {
          inside = inside || (s.channel == channel && s.line == e.line && s.open < e.column &&
                              e.column + e.length <= s.close);
        }
        QVERIFY2(inside, qPrintable(QString("edit at %1:%2 outside ch%3's strings\n%4")
                                        .arg(e.line)
                                        .arg(e.column)
                                        .arg(channel)
                                        .arg(context)));
      }
      const Compiled after(text);
      QVERIFY2(after.ok, qPrintable(context));
      std::vector<Channel> got = readChannels(after);
      for (int c = 0; c < CHANNEL_COUNT; ++c) {
        sortNotes(got[size_t(c)]);
        sortNotes(expected[size_t(c)]);
        QVERIFY2(
            got[size_t(c)] == expected[size_t(c)],
            qPrintable(QString("ch%1\n got:%2\nwant:%3\n%4")
                           .arg(c + 1)
                           .arg(describe(got[size_t(c)]), describe(expected[size_t(c)]), context)));
      }
    }
  }
  QVERIFY(scores > 400);
  for (int kind = 0; kind < KINDS; ++kind)
    qInfo("kind %d: %d done, %d refused", kind, done[kind], refused[kind]);
  for (size_t r = 0; r < std::size(reasons); ++r) qInfo("refusal %d: %d", int(r), reasons[r]);
  for (int kind = 0; kind < KINDS; ++kind) {
    QVERIFY(done[kind] > refused[kind] / 2);
    QVERIFY(done[kind] > 150);
  }
}

void RollEditTest::aMoveWritesTheScoresOwnPitchHabits() {
  const std::string score = "ch1 { \"o4 l8 c d e\" }";
  RollGesture g = gesture(RollGesture::Kind::Move, 1);
  g.note = noteEvent(score, 1, 1);
  g.start = 16;
  g.key = O4_C + 2 + 12;  // d an octave up
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"o4 l8 c >d< e\" }"));
  g.key = O4_C + 2 - 24;  // two octaves down: two marks
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"o4 l8 c <<d>> e\" }"));
  g.key = O4_C + 2 + 36;  // three: an `o` there and back
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"o4 l8 c o7do4 e\" }"));
  // A line longer than the compiler reads, elsewhere, changes nothing.
  const std::string longLine = "// " + std::string(EDITOR_LINE_MAX + 100, '-') + "\n" + score;
  g.note = noteEvent(longLine, 1, 1);
  g.key = O4_C + 2 + 12;
  QVERIFY(afterGesture(longLine, g).endsWith("ch1 { \"o4 l8 c >d< e\" }"));
  // The accidental the note had, its letter's case, and the channel's for a natural.
  const std::string flats = "ch1 { \"o4 D- E c\" }";
  g.note = noteEvent(flats, 1, 0);
  g.start = 0;
  g.key = O4_C + 3;
  QCOMPARE(afterGesture(flats, g), QString("ch1 { \"o4 E- E c\" }"));
  g.note = noteEvent(flats, 1, 2);
  g.start = 64;
  g.key = O4_C + 1;
  QCOMPARE(afterGesture(flats, g), QString("ch1 { \"o4 D- E d-\" }"));
  // A note by number stays a number; tied parts follow the note-on.
  const std::string numbered = "ch9 { \"l8 n13 c4&c8\" }";
  g = gesture(RollGesture::Kind::Move, 9);
  g.note = noteEvent(numbered, 9, 0);
  g.key = 13 + NOTE_NUMBER_OFFSET + 2;
  QCOMPARE(afterGesture(numbered, g), QString("ch9 { \"l8 n15 c4&c8\" }"));
  g.note = noteEvent(numbered, 9, 1);
  g.start = 16;
  g.key = O4_C + 4;
  QCOMPARE(afterGesture(numbered, g), QString("ch9 { \"l8 n13 e4&e8\" }"));
}

void RollEditTest::lengthsFollowTheDefaultLengthAndTie() {
  const std::string score = "ch1 { \"l8 c r2 d\" }";
  RollGesture draw = gesture(RollGesture::Kind::Draw, 1);
  draw.start = 16;
  draw.length = 16;
  draw.key = O4_C + 4;
  QCOMPARE(afterGesture(score, draw), QString("ch1 { \"l8 c e r4. d\" }"));
  draw.key = O4_C + 12 + 4;  // marks hug the note
  QCOMPARE(afterGesture(score, draw), QString("ch1 { \"l8 c >e< r4. d\" }"));
  draw.key = O4_C + 4;
  draw.start = 32;
  draw.length = 40;  // a quarter and a sixteenth
  QCOMPARE(afterGesture(score, draw), QString("ch1 { \"l8 c r e4&e16 r16 d\" }"));
  RollGesture resize = gesture(RollGesture::Kind::Resize, 1);
  resize.note = noteEvent(score, 1, 0);
  resize.length = 48;
  QCOMPARE(afterGesture(score, resize), QString("ch1 { \"l8 c4. r4 d\" }"));
  resize.length = 4;  // shorter: the rest behind it grows
  QCOMPARE(afterGesture(score, resize), QString("ch1 { \"l8 c32 r2 r16. d\" }"));
  // Durations in units stay in units; past the channel's end there is room.
  const std::string units = "ch1 { \"c:48\" }";
  resize.note = noteEvent(units, 1, 0);
  resize.length = 300;
  QCOMPARE(afterGesture(units, resize), QString("ch1 { \"c:255&c:45\" }"));
  draw.start = 48 + 32;
  draw.length = 32;
  draw.key = O4_C + 7;
  QCOMPARE(afterGesture(units, draw), QString("ch1 { \"c:48 r g:32\" }"));
  // Moving in time: the rests on both sides grow and shrink; the note's text stays.
  const std::string moving = "ch1 { \"r4 c8 r8 d\" }";
  RollGesture move = gesture(RollGesture::Kind::Move, 1);
  move.note = noteEvent(moving, 1, 0);
  move.key = O4_C;
  move.start = 16;
  QCOMPARE(afterGesture(moving, move), QString("ch1 { \"r8 c8 r d\" }"));
  move.start = 48;
  QCOMPARE(afterGesture(moving, move), QString("ch1 { \"r4. c8 d\" }"));
}

void RollEditTest::deletedNotesMergeWithTheRestsBesideThem() {
  const std::string score = "ch1 { \"c r d r e\" }";
  RollGesture g = gesture(RollGesture::Kind::Delete, 1);
  g.notes = {noteEvent(score, 1, 1)};
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"c r2. e\" }"));
  g.notes = {noteEvent(score, 1, 0), noteEvent(score, 1, 2)};
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"r2 d r2\" }"));
  // A length set among the commands replaced is set again behind them.
  const std::string lengths = "ch1 { \"c r l8 r d\" }";
  g.notes = {noteEvent(lengths, 1, 0)};
  QCOMPARE(afterGesture(lengths, g), QString("ch1 { \"r2 r8 l8 d\" }"));
  // A note tied across two strings becomes a rest in each.
  const std::string split = "ch1 { \"c4&\" \"c8 d\" }";
  g.notes = {noteEvent(split, 1, 0)};
  QCOMPARE(afterGesture(split, g), QString("ch1 { \"r\" \"r8 d\" }"));
}

void RollEditTest::velocityIsSetBeforeTheNoteAndRestoredBehindIt() {
  const std::string score = "ch1 { \"v12 c d e\" }";
  RollGesture g = gesture(RollGesture::Kind::Velocity, 1);
  g.note = noteEvent(score, 1, 1);
  g.level = 5;
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"v12 c v5 d v12 e\" }"));
  // A `v` right before the note is the note's own: it changes, and a second drag does too.
  g.note = noteEvent(score, 1, 0);
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"v5 c v12 d e\" }"));
  const std::string once = "ch1 { \"v12 c v5 d v12 e\" }";
  g.note = noteEvent(once, 1, 1);
  g.level = 7;
  QCOMPARE(afterGesture(once, g), QString("ch1 { \"v12 c v7 d v12 e\" }"));
  // The last note needs no level behind it.
  g.note = noteEvent(score, 1, 2);
  QCOMPARE(afterGesture(score, g), QString("ch1 { \"v12 c d v7 e\" }"));
}

void RollEditTest::whatTheLanguageCannotSayIsRefused() {
  const std::string score = "ch1 { \"c d {efg}4 r\" }\nch2 { \"l8\" }";
  RollGesture move = gesture(RollGesture::Kind::Move, 1);
  move.note = noteEvent(score, 1, 0);
  move.key = O4_C;
  move.start = 8;  // into d
  QCOMPARE(afterGesture(score, move), refused(RollRefusal::Overlap));
  RollGesture draw = gesture(RollGesture::Kind::Draw, 1);
  draw.key = O4_C;
  draw.start = 40;  // over d
  draw.length = 8;
  QCOMPARE(afterGesture(score, draw), refused(RollRefusal::Overlap));
  RollGesture tuplet = gesture(RollGesture::Kind::Velocity, 1);
  tuplet.note = noteEvent(score, 1, 2);
  tuplet.level = 3;
  QCOMPARE(afterGesture(score, tuplet), refused(RollRefusal::InTuplet));
  draw.channel = 2;  // a block with no events
  QCOMPARE(afterGesture(score, draw), refused(RollRefusal::NothingToDrawIn));
  RollGesture high = gesture(RollGesture::Kind::Move, 1);
  high.note = noteEvent(score, 1, 0);
  high.key = 120;
  QCOMPARE(afterGesture(score, high), refused(RollRefusal::KeyOutOfRange));
  // Rests on another line cannot take the note moved into them.
  const std::string lines = "ch1 {\n \"c r\"\n \"r d\" }";
  move.note = noteEvent(lines, 1, 0);
  move.start = 48;
  QCOMPARE(afterGesture(lines, move), refused(RollRefusal::RestSplit));
  // A note tied across strings keeps its length.
  const std::string split = "ch1 { \"c4&\" \"c8 r d\" }";
  RollGesture longer = gesture(RollGesture::Kind::Resize, 1);
  longer.note = noteEvent(split, 1, 0);
  longer.length = 56;
  QCOMPARE(afterGesture(split, longer), refused(RollRefusal::NoteSplit));
  // A line the compiler would cut takes no more bytes.
  const std::string wide = "ch1 { \"c d" + std::string(EDITOR_LINE_MAX - 16, ' ') + "\" }";
  RollGesture louder = gesture(RollGesture::Kind::Velocity, 1);
  louder.note = noteEvent(wide, 1, 0);
  louder.level = 9;  // `v9 ` and ` v10`: 7 bytes
  QCOMPARE(afterGesture(wide, louder), refused(RollRefusal::LineTooLong).arg(EDITOR_LINE_MAX));
  louder.note = noteEvent(wide, 1, 1);  // `v9 ` only: 3 bytes, 1998 in all
  QVERIFY(afterGesture(wide, louder).startsWith("ch1 { \"c v9 d "));
  // A channel full of events takes no more: 320 lines of 99 notes and a rest.
  std::string big = "ch1 {\n";
  for (int i = 0; i < WORK_AREA_LIMIT / 2 / 100; ++i) {
    big += " \"";
    for (int n = 0; n < 99; ++n) big += "c ";
    big += "r\"\n";
  }
  big += "}";
  const int32_t last = noteEvent(big, 1, 320 * 99 - 1);
  RollGesture level = gesture(RollGesture::Kind::Velocity, 1);
  level.note = last;
  level.level = 3;  // one `v` more: none is needed behind the last note
  QCOMPARE(afterGesture(big, level), refused(RollRefusal::TooManyEvents).arg(1));
  RollGesture pitch = gesture(RollGesture::Kind::Move, 1);
  pitch.note = last;
  pitch.start = 320 * 100 * 32 - 64;
  pitch.key = O4_C + 2;  // as many events as before
  QVERIFY(afterGesture(big, pitch).endsWith("c c d r\"\n}"));
}

QTEST_GUILESS_MAIN(RollEditTest)
#include "roll_edit_test.moc"
