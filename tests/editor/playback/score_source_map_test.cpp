// The score's text against its MIDI file's time: the time at a caret with tempo changes in
// another channel, ties, tuplets, channels opened twice and carets outside the blocks; the
// commands sounding at a time with gates and ties; and on random scores every note where the
// written file has its note-on and note-off.
#include "core/score_source_map.h"

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/memory_host.h"
#include "tests/support/random_score.h"

namespace {

// A compilation as the editor runs it, recording its map, and the map built from it.
struct MappedScore {
  explicit MappedScore(const std::string& score, bool* ok = nullptr) {
    auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, score);
    SourceMap recorded;
    compile->host.sourceMapStorage = &recorded;
    result = compile->run();
    midi = compile->host.kept;
    built = map.build(recorded, midi.data(), midi.size(), &error);
    if (ok != nullptr) *ok = result == 0 && built;
  }
  int32_t result = -1;
  bool built = false;
  std::string error;
  std::vector<uint8_t> midi;
  ScoreSourceMap map;
};

// "ch:line:column+length tick ms", or "none".
QString timeText(const std::optional<ScoreSourceMap::SourceTime>& time) {
  if (!time) return "none";
  const ScoreSourceMap::Source& s = time->source;
  return QString("%1:%2:%3+%4 %5 %6")
      .arg(s.channel)
      .arg(s.line)
      .arg(s.byteColumn)
      .arg(s.byteLength)
      .arg(time->tick)
      .arg(time->ms);
}

// "ch:line:column+length start-end" of each sounding command, "*" marking a note-on.
QString soundingText(const std::vector<ScoreSourceMap::Sounding>& sounding) {
  QStringList parts;
  for (const ScoreSourceMap::Sounding& s : sounding) {
    parts << QString("%1:%2:%3+%4 %5-%6%7")
                 .arg(s.source.channel)
                 .arg(s.source.line)
                 .arg(s.source.byteColumn)
                 .arg(s.source.byteLength)
                 .arg(s.startTick)
                 .arg(s.endTick)
                 .arg(s.noteOn ? "*" : "");
  }
  return parts.join(", ");
}

QString soundingAt(const ScoreSourceMap& map, int64_t tick) {
  std::vector<ScoreSourceMap::Sounding> sounding;
  map.soundingAtTick(tick, sounding);
  return soundingText(sounding);
}

// One note of the written file: the ticks of its note-on and note-off.
struct WrittenNote {
  int64_t on;
  int64_t off;
};

// The notes of each channel track of a file the core wrote: every note and rest is a note-on
// and a note-off (velocity 0) under running status; rests are key 23 and left out.
std::vector<std::vector<WrittenNote>> writtenNotes(const std::vector<uint8_t>& file) {
  std::vector<std::vector<WrittenNote>> channels(CHANNEL_COUNT + 1);
  size_t pos = 14;
  while (pos + 8 <= file.size()) {
    const size_t end = pos + 8 +
                       (size_t(file[pos + 4]) << 24 | size_t(file[pos + 5]) << 16 |
                        size_t(file[pos + 6]) << 8 | file[pos + 7]);
    pos += 8;
    int64_t tick = 0;
    uint8_t status = 0;
    std::vector<std::pair<int64_t, int>> events;  // tick and key of each note message
    while (pos < end) {
      uint32_t delta = 0;
      uint8_t byte = 0;
      do {
        byte = file[pos++];
        delta = delta << 7 | (byte & 0x7F);
      } while (byte & 0x80);
      tick += delta;
      if (file[pos] == 0xFF || file[pos] == 0xF0) {
        const bool meta = file[pos] == 0xFF;
        pos += meta ? 2 : 1;
        uint32_t length = 0;
        do {
          byte = file[pos++];
          length = length << 7 | (byte & 0x7F);
        } while (byte & 0x80);
        pos += length;
        status = 0;
        continue;
      }
      if (file[pos] & 0x80) status = file[pos++];
      const int data = (status & 0xF0) == 0xC0 ? 1 : 2;
      if ((status & 0xF0) == 0x90) events.emplace_back(tick, file[pos]);
      pos += size_t(data);
      const int channel = status & 0x0F;
      if (events.size() == 2) {
        if (events[0].second != 23) channels[size_t(channel)].push_back({events[0].first, tick});
        events.clear();
      }
    }
    pos = end;
  }
  return channels;
}

}  // namespace

class ScoreSourceMapTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void timeAtTheCaretFollowsTempoChangesInAnotherChannel_data();
  void timeAtTheCaretFollowsTempoChangesInAnotherChannel();
  void tiesAndTupletsPlaceEachPartAndSoundAsOneNote();
  void shortNotesEndAtTheirGateInEveryChannel();
  void aChannelOpenedTwiceAndAnEmptyBlock();
  void aScoreWithoutEventsHasNoTimes();
  void randomScoresAgreeWithTheWrittenFile();
};

// Tempo 120 until tick 1200, where ch2's t60 stands after its half rest: a quarter note (480
// ticks) takes 500 ms before it and 1000 ms after it; the music starts at tick 240 (250 ms).
const char TEMPO_SCORE[] = "ch1 { \"c4 d4 e4 f4\" }\nch2 { \"r2 t60 r4\" }";

void ScoreSourceMapTest::timeAtTheCaretFollowsTempoChangesInAnotherChannel_data() {
  QTest::addColumn<int>("line");
  QTest::addColumn<int>("column");
  QTest::addColumn<QString>("time");
  QTest::newRow("before the string") << 0 << 5 << "1:0:7+2 240 250";
  QTest::newRow("on the note") << 0 << 13 << "1:0:13+2 1200 1250";
  QTest::newRow("inside the note") << 0 << 14 << "1:0:13+2 1200 1250";
  QTest::newRow("behind the note") << 0 << 15 << "1:0:16+2 1680 2250";
  QTest::newRow("after the last note") << 0 << 18 << "1:0:16+2 1680 2250";
  QTest::newRow("before the closing brace") << 0 << 20 << "1:0:16+2 1680 2250";
  QTest::newRow("after the closing brace") << 0 << 21 << "none";
  QTest::newRow("before the opening brace") << 0 << 4 << "none";
  QTest::newRow("the channel name") << 1 << 1 << "none";
  QTest::newRow("the tempo") << 1 << 10 << "2:1:10+3 1200 1250";
  QTest::newRow("behind the tempo") << 1 << 14 << "2:1:14+2 1200 1250";
  QTest::newRow("past the last line") << 2 << 0 << "none";
}

void ScoreSourceMapTest::timeAtTheCaretFollowsTempoChangesInAnotherChannel() {
  QFETCH(int, line);
  QFETCH(int, column);
  QFETCH(QString, time);
  MappedScore m(TEMPO_SCORE);
  QVERIFY(m.result == 0 && m.built);
  QCOMPARE(timeText(m.map.timeAt(line, column)), time);
}

// c4 & c8 is one note of 720 ticks in two parts; {def}4 shares 32 units as 11, 11, 10.
void ScoreSourceMapTest::tiesAndTupletsPlaceEachPartAndSoundAsOneNote() {
  MappedScore m("ch1 { \"c4&c8 {def}4 g\" }");
  QVERIFY(m.result == 0 && m.built);
  QCOMPARE(timeText(m.map.timeAt(0, 9)), QString("1:0:9+1 720 750"));  // the tie
  QCOMPARE(timeText(m.map.timeAt(0, 10)), QString("1:0:10+2 720 750"));
  QCOMPARE(timeText(m.map.timeAt(0, 13)), QString("1:0:14+1 960 1000"));  // before the `{`
  QCOMPARE(timeText(m.map.timeAt(0, 15)), QString("1:0:15+1 1125 1171"));
  QCOMPARE(timeText(m.map.timeAt(0, 20)), QString("1:0:20+1 1440 1500"));

  QCOMPARE(soundingAt(m.map, 239), QString());
  QCOMPARE(soundingAt(m.map, 240), QString("1:0:7+2 240-720*"));
  QCOMPARE(soundingAt(m.map, 719), QString("1:0:7+2 240-720*"));
  QCOMPARE(soundingAt(m.map, 720), QString("1:0:10+2 720-960"));
  QCOMPARE(soundingAt(m.map, 1124), QString("1:0:14+1 960-1125*"));
  QCOMPARE(soundingAt(m.map, 1290), QString("1:0:16+1 1290-1440*"));
  QCOMPARE(soundingAt(m.map, 1919), QString("1:0:20+1 1440-1920*"));
  QCOMPARE(soundingAt(m.map, 1920), QString());

  std::vector<ScoreSourceMap::Sounding> sounding;
  m.map.soundingAtMs(1000, sounding);  // tick 960
  QCOMPARE(soundingText(sounding), QString("1:0:14+1 960-1125*"));
}

// Sixteenths are 120 ticks: under q4 (gate step 3) they sound 60 ticks, under op(q7def) 105.
void ScoreSourceMapTest::shortNotesEndAtTheirGateInEveryChannel() {
  MappedScore m("op(q7def)\nch1 { \"q4 c16 d16\" }\nch2 { \"l16 e f\" }\nch3 { \"q8 g8\" }");
  QVERIFY(m.result == 0 && m.built);
  QCOMPARE(soundingAt(m.map, 250),
           QString("1:1:10+3 240-300*, 2:2:11+1 240-345*, 3:3:10+2 240-480*"));
  QCOMPARE(soundingAt(m.map, 300), QString("2:2:11+1 240-345*, 3:3:10+2 240-480*"));
  QCOMPARE(soundingAt(m.map, 345), QString("3:3:10+2 240-480*"));
  QCOMPARE(soundingAt(m.map, 360),
           QString("1:1:14+3 360-420*, 2:2:13+1 360-465*, 3:3:10+2 240-480*"));
}

// The caret in the empty third block plays from ch1's nearest earlier event, the c2 of the
// first block; the second block's e follows c2 in ch1's time.
void ScoreSourceMapTest::aChannelOpenedTwiceAndAnEmptyBlock() {
  MappedScore m("ch1 { \"c2\" }\nch2 { \"d1\" }\nch1 { }\nch1 { \"e\" }");
  QVERIFY(m.result == 0 && m.built);
  QCOMPARE(timeText(m.map.timeAt(2, 6)), QString("1:0:7+2 240 250"));
  QCOMPARE(timeText(m.map.timeAt(3, 5)), QString("1:3:7+1 1200 1250"));
  QCOMPARE(timeText(m.map.timeAt(1, 8)), QString("2:1:7+2 240 250"));
  QVERIFY(m.map.blockAt(2, 6) != nullptr && m.map.blockAt(2, 6)->channel == 1);
  QCOMPARE(m.map.blocks().size(), size_t(4));
}

void ScoreSourceMapTest::aScoreWithoutEventsHasNoTimes() {
  MappedScore m("ch1 { \"l8 o3\" }\n");
  QVERIFY(m.result == 0 && m.built);
  QVERIFY(m.midi.empty());
  QVERIFY(m.map.blockAt(0, 6) != nullptr);
  QCOMPARE(timeText(m.map.timeAt(0, 6)), QString("none"));
  QCOMPARE(soundingAt(m.map, 240), QString());
}

// Every note-on part of the map starts at its note-on in the file, and its note ends (the last
// part that sounds) at the note-off; every part that sounds is what sounds at its first and
// last tick; the caret on a note's command gives the note's time.
//
// One more map is rebuilt in place from score to score, as the editor's is, and must come out
// as the fresh one does.
void ScoreSourceMapTest::randomScoresAgreeWithTheWrittenFile() {
  testing_support::RandomScoreWriter writer(33);
  int notes = 0;
  ScoreSourceMap reused;
  SourceMap recording;
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, std::string());
  compile->host.sourceMapStorage = &recording;
  for (int i = 0; i < 300; ++i) {
    const testing_support::RandomScore score = writer.next();
    bool ok = false;
    MappedScore m(score.text, &ok);
    if (!ok) continue;
    compile->host.replaceSource(score.text);
    compile->session.q7Default = false;  // as the fresh session has it: op(q7def) persists
    QCOMPARE(compile->run(), 0);
    QVERIFY(reused.build(recording, compile->host.kept.data(), compile->host.kept.size(), nullptr));
    QCOMPARE(reused.blocks().size(), m.map.blocks().size());
    const std::vector<std::vector<WrittenNote>> written = writtenNotes(m.midi);
    for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
      const std::vector<ScoreSourceMap::Sounding> parts = m.map.notes(channel);
      QCOMPARE(soundingText(reused.notes(channel)), soundingText(parts));
      std::vector<WrittenNote> mapped;
      for (const ScoreSourceMap::Sounding& part : parts) {
        if (part.noteOn) mapped.push_back({part.startTick, part.endTick});
        if (part.endTick > part.startTick) {
          if (!part.noteOn) mapped.back().off = part.endTick;
          for (int64_t tick : {part.startTick, part.endTick - 1}) {
            QVERIFY2(soundingAt(m.map, tick).split(", ").contains(soundingText({part})),
                     score.text.c_str());
          }
        }
        const std::optional<ScoreSourceMap::SourceTime> time =
            m.map.timeAt(part.source.line, part.source.byteColumn);
        QVERIFY(time && time->tick == part.startTick);
        QCOMPARE(time->source.byteColumn, part.source.byteColumn);
      }
      const std::vector<WrittenNote>& file = written[size_t(channel)];
      QCOMPARE(mapped.size(), file.size());
      for (size_t n = 0; n < file.size(); ++n) {
        QCOMPARE(mapped[n].on, file[n].on);
        QCOMPARE(mapped[n].off, file[n].off);
      }
      notes += int(file.size());
    }
  }
  QVERIFY(notes > 1000);
}

QTEST_GUILESS_MAIN(ScoreSourceMapTest)
#include "score_source_map_test.moc"
