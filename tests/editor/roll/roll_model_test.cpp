// The piano roll's notes against the written MIDI file, read back by a reader of its own that
// knows nothing of the writer (running status, velocity-0 note-ons as note-offs, any meta and
// system exclusive event), for a few hundred random scores; the notes a caret or a selection
// names; and the bars the time signatures give.
#include "editor/roll/roll_model.h"

#include <QTest>
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/score_source_map.h"
#include "tests/support/memory_host.h"
#include "tests/support/random_score.h"

namespace {

struct Note {
  int channel, key;
  int64_t on, off;
  int velocity;
  auto operator<=>(const Note&) const = default;
};

QString describe(const Note& n) {
  return QString("ch%1 key %2 %3-%4 v%5")
      .arg(n.channel)
      .arg(n.key)
      .arg(n.on)
      .arg(n.off)
      .arg(n.velocity);
}

// Every sounding note of a Standard MIDI File, by the status byte's channel nibble. A note-on of
// velocity 0 ends a note, as a note-off does; one that ends nothing is ignored.
std::vector<Note> readNotes(const std::vector<uint8_t>& file, QString* error) {
  std::vector<Note> notes;
  size_t pos = 0;
  auto u32 = [&](size_t at) {
    return uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
           file[at + 3];
  };
  if (file.empty()) return notes;  // no channel held events
  if (file.size() < 14 || std::string(file.begin(), file.begin() + 4) != "MThd") {
    *error = "no header";
    return notes;
  }
  pos = 8 + u32(4);
  while (pos + 8 <= file.size()) {
    const size_t end = pos + 8 + u32(pos + 4);
    const bool track = std::string(file.begin() + pos, file.begin() + pos + 4) == "MTrk";
    size_t at = pos + 8;
    pos = end;
    if (!track) continue;
    int64_t tick = 0;
    uint8_t running = 0;
    std::map<std::pair<int, int>, std::pair<int64_t, int>> open;
    auto varLen = [&] {
      uint32_t value = 0;
      uint8_t b;
      do {
        b = file[at++];
        value = value << 7 | (b & 0x7F);
      } while (b & 0x80);
      return value;
    };
    while (at < end) {
      tick += varLen();
      uint8_t status = file[at];
      if (status == 0xFF) {
        at += 2;
        at += varLen();
        continue;
      }
      if (status == 0xF0 || status == 0xF7) {
        ++at;
        at += varLen();
        continue;
      }
      if (status & 0x80) {
        running = status;
        ++at;
      }
      status = running;
      const int kind = status & 0xF0, channel = status & 0x0F;
      const int size = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
      const int key = file[at], velocity = size == 2 ? file[at + 1] : 0;
      at += size;
      if (kind == 0x90 && velocity > 0) {
        open[{channel, key}] = {tick, velocity};
      } else if (kind == 0x80 || kind == 0x90) {
        const auto started = open.find({channel, key});
        if (started == open.end()) continue;
        notes.push_back({channel, key, started->second.first, tick, started->second.second});
        open.erase(started);
      }
    }
  }
  std::sort(notes.begin(), notes.end());
  return notes;
}

std::vector<Note> rollNotes(const RollModel& model) {
  std::vector<Note> notes;
  for (const RollNote& n : model.notes())
    notes.push_back({n.channel, n.key, n.on, n.off, n.velocity});
  std::sort(notes.begin(), notes.end());
  return notes;
}

// A score compiled as the editor compiles it, and the roll's model of it.
struct RolledScore {
  explicit RolledScore(const std::string& score) {
    auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, score);
    SourceMap recorded;
    compile->host.sourceMapStorage = &recorded;
    result = compile->run();
    midi = compile->host.kept;
    std::string error;
    if (result == 0 && map.build(recorded, midi.data(), midi.size(), &error)) model.build(map);
  }
  int32_t result = -1;
  std::vector<uint8_t> midi;
  ScoreSourceMap map;
  RollModel model;
};

// "line:column+length" of each note, in the order given.
QStringList sources(const RollModel& model, const std::vector<int32_t>& notes) {
  QStringList list;
  for (const int32_t i : notes) {
    const RollNote& n = model.notes()[static_cast<size_t>(i)];
    list << QString("%1:%2+%3").arg(n.line).arg(n.column).arg(n.length);
  }
  return list;
}

}  // namespace

class RollModelTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void theNotesAreThoseOfTheWrittenFile();
  void aCaretNamesTheNotesItsCommandMade();
  void aSelectionNamesTheNotesOfEveryCommandItTouches();
  void barsFollowTheLeadInAndTheTimeSignatures();
};

// Ties, tuplets, gates, velocity levels 0 to 16, zero-length notes and tempo changes all come up.
void RollModelTest::theNotesAreThoseOfTheWrittenFile() {
  testing_support::RandomScoreWriter writer(24);
  int compared = 0, notes = 0;
  for (int i = 0; i < 300; ++i) {
    const testing_support::RandomScore score = writer.next();
    RolledScore rolled(score.text);
    if (rolled.result != 0) continue;
    QString error;
    const std::vector<Note> written = readNotes(rolled.midi, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const std::vector<Note> shown = rollNotes(rolled.model);
    if (shown != written) {
      const auto [a, b] = std::mismatch(shown.begin(), shown.end(), written.begin(), written.end());
      QFAIL(qPrintable(QString("score %1: the roll has %2, the file %3\n%4")
                           .arg(i)
                           .arg(a == shown.end() ? "nothing more" : describe(*a))
                           .arg(b == written.end() ? "nothing more" : describe(*b))
                           .arg(QString::fromStdString(score.text))));
    }
    ++compared;
    notes += static_cast<int>(written.size());
    QVERIFY(rolled.model.endTick() >= (written.empty() ? 0 : written.back().off));
  }
  QVERIFY(compared > 250);
  QVERIFY(notes > 3000);
}

void RollModelTest::aCaretNamesTheNotesItsCommandMade() {
  // line 1: `c` at 3, `v0 d` (silent) at 5, `e8&f` at 13..17 (one note), `g` at 18.
  RolledScore rolled("ch1 {\n  \"c v0 d v9 e8&f g\"\n}\nch2 { \"o5 c\" }");
  const RollModel& model = rolled.model;
  QCOMPARE(model.notes().size(), size_t{4});  // c, e&f, g and ch2's c; the v0 d sounds not
  const struct {
    int line, byte;
    QStringList notes;
  } cases[] = {
      {1, 3, {"1:3+1"}},    // at the start of c
      {1, 4, {"1:3+1"}},    // right behind it
      {1, 8, {}},           // on the silent d
      {1, 14, {"1:13+2"}},  // inside e8: the tied note
      {1, 16, {"1:13+2"}},  // on the f tied to it
      {1, 17, {"1:13+2"}},  // behind f, before the space
      {1, 18, {"1:18+1"}},  // at g
      {0, 2, {}},           // outside every block
      {3, 10, {"3:10+1"}},  // ch2's note on its own line
  };
  for (const auto& c : cases) {
    QCOMPARE(sources(model, model.notesAtCaret(c.line, c.byte)), c.notes);
  }
  // Adjacent commands: a caret between them takes the one it stands before.
  RolledScore adjacent("ch1 { \"cde\" }");
  QCOMPARE(sources(adjacent.model, adjacent.model.notesAtCaret(0, 8)), QStringList{"0:8+1"});
  QCOMPARE(sources(adjacent.model, adjacent.model.notesAtCaret(0, 10)), QStringList{"0:9+1"});
}

void RollModelTest::aSelectionNamesTheNotesOfEveryCommandItTouches() {
  RolledScore rolled("ch1 {\n  \"c d\"\n  \"e f\"\n}\nch3 { \"g\" }\n");
  const RollModel& model = rolled.model;
  auto in = [&](SourcePoint from, SourcePoint to) {
    return sources(model, model.notesIn(from, to));
  };
  QCOMPARE(in({1, 3}, {2, 4}), QStringList({"1:3+1", "1:5+1", "2:3+1"}));
  QCOMPARE(in({1, 4}, {1, 5}), QStringList());         // only the space between c and d
  QCOMPARE(in({1, 4}, {1, 6}), QStringList{"1:5+1"});  // ends where d ends
  QCOMPARE(in({0, 0}, {5, 0}), QStringList({"1:3+1", "1:5+1", "2:3+1", "2:5+1", "4:7+1"}));
}

void RollModelTest::barsFollowTheLeadInAndTheTimeSignatures() {
  RolledScore rolled("ch1 { \"c1 c1 c1\" }");
  std::vector<RollBar> bars;
  rolled.model.bars(0, 240 + 3 * 1920, 1, bars);
  QCOMPARE(bars.size(), size_t{4});
  QCOMPARE(bars[0].tick, int64_t{0});  // the lead-in, bar 0
  QCOMPARE(bars[1].tick, int64_t{240});
  QCOMPARE(bars[1].number, int64_t{1});
  QCOMPARE(bars[3].tick, int64_t{240 + 2 * 1920});
  QCOMPARE(bars[3].number, int64_t{3});
  bars.clear();
  rolled.model.bars(1000, 240 + 40 * 1920, 10, bars);  // every tenth, from the first in range
  QCOMPARE(bars.size(), size_t{4});
  QCOMPARE(bars[0].number, int64_t{10});
  QCOMPARE(bars[0].tick, int64_t{240 + 9 * 1920});
  QCOMPARE(rolled.model.barTicks(100), int64_t{240});
  QCOMPARE(rolled.model.barTicks(240), int64_t{1920});
  // Before any compilation, and after a clear, the bars are those of every written file.
  RollModel cleared = rolled.model;
  cleared.clear();
  for (const RollModel& empty : {RollModel(), cleared}) {
    bars.clear();
    empty.bars(0, 240 + 1920 + 1, 1, bars);
    QCOMPARE(bars.size(), size_t{3});
    QCOMPARE(bars[1].tick, int64_t{240});
    QCOMPARE(bars[1].number, int64_t{1});
    QCOMPARE(bars[2].tick, int64_t{240 + 1920});
  }
}

QTEST_GUILESS_MAIN(RollModelTest)
#include "roll_model_test.moc"
