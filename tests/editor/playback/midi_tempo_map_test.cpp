// The tempo map read from a Standard MIDI File: length and tick/millisecond conversions against
// hand computations, tempo changes merged from all tracks, untidy files read as the importer
// reads them, and malformed files refused.
#include "core/midi_tempo_map.h"

#include <QStringList>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes written as hexadecimal pairs separated by blanks.
Bytes hex(const char* text) {
  Bytes bytes;
  for (const QByteArray& pair : QByteArray(text).split(' ')) {
    if (!pair.isEmpty()) bytes.push_back(uint8_t(pair.toUInt(nullptr, 16)));
  }
  return bytes;
}

void append(Bytes& to, const Bytes& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

void appendChunk(Bytes& file, const char* type, const Bytes& body) {
  file.insert(file.end(), type, type + 4);
  const uint32_t size = uint32_t(body.size());
  append(file, {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
  append(file, body);
}

// A format-1 file with division 480 around the given track bodies (deltas and events).
Bytes smf(const std::vector<Bytes>& tracks) {
  Bytes file;
  const uint8_t count = uint8_t(tracks.size());
  appendChunk(file, "MThd", {0x00, 0x01, 0x00, count, 0x01, 0xE0});
  for (const Bytes& track : tracks) appendChunk(file, "MTrk", track);
  return file;
}

// Tempo 120 at tick 0, 60 at 480, 240 at 960; the conductor ends at 960, the channel track
// plays 1440 ticks: 500 ms + 1000 ms + 250 ms.
Bytes threeTempoFile() {
  return smf({hex("00 FF 51 03 07 A1 20  83 60 FF 51 03 0F 42 40  83 60 FF 51 03 03 D0 90 "
                  "00 FF 2F 00"),
              hex("00 91 3C 40  8B 20 81 3C 00  00 FF 2F 00")});
}

// "tick:microseconds" of every tempo change.
QString changesText(const MidiTempoMap& map) {
  QStringList parts;
  for (const MidiTempoMap::TempoChange& change : map.tempoChanges()) {
    parts << QString("%1:%2").arg(change.tick).arg(change.microsPerQuarter);
  }
  return parts.join(' ');
}

struct Parsed {
  bool ok;
  std::string error;
  MidiTempoMap map;
};

// Parses a copy of exactly the file's size, so a read past its end is a heap overflow.
Parsed parse(const Bytes& file) {
  Parsed parsed;
  std::unique_ptr<uint8_t[]> copy(new uint8_t[file.size() + 1]);
  std::copy(file.begin(), file.end(), copy.get());
  parsed.ok = parsed.map.parse(copy.get(), file.size(), &parsed.error);
  return parsed;
}

}  // namespace

class MidiTempoMapTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void conversionsFollowTheTempoChanges_data();
  void conversionsFollowTheTempoChanges();
  void lengthIsTheLatestEndOfAnyTrack();
  void tempoChangesAreMergedFromAllTracks();
  void eventsOfEveryKindAdvanceTheTime();
  void withoutTempoEventsTheTempoIs120();
  void theSetupBeforeATickIsTheLastOfEachSetting();
  void untidyFilesAreReadAsTheImporterReadsThem();
  void malformedFilesAreRefused_data();
  void malformedFilesAreRefused();
  void everyCutOffFileIsRefusedButAtATracksEnd();
};

void MidiTempoMapTest::conversionsFollowTheTempoChanges_data() {
  QTest::addColumn<qint64>("tick");
  QTest::addColumn<qint64>("ms");
  QTest::newRow("start") << qint64(0) << qint64(0);
  QTest::newRow("inside 120 bpm") << qint64(240) << qint64(250);
  QTest::newRow("change to 60 bpm") << qint64(480) << qint64(500);
  QTest::newRow("inside 60 bpm") << qint64(720) << qint64(1000);
  QTest::newRow("change to 240 bpm") << qint64(960) << qint64(1500);
  QTest::newRow("inside 240 bpm") << qint64(1200) << qint64(1625);
  QTest::newRow("end") << qint64(1440) << qint64(1750);
  QTest::newRow("past the end at the last tempo") << qint64(1920) << qint64(2000);
}

void MidiTempoMapTest::conversionsFollowTheTempoChanges() {
  QFETCH(qint64, tick);
  QFETCH(qint64, ms);
  const Parsed parsed = parse(threeTempoFile());
  QVERIFY2(parsed.ok, parsed.error.c_str());
  QCOMPARE(qint64(parsed.map.tickToMs(tick)), ms);
  QCOMPARE(qint64(parsed.map.msToTick(ms)), tick);
  if (tick > 0) {  // both round down: just before a whole value is below it
    QVERIFY(parsed.map.tickToMs(tick - 1) < ms);
    QVERIFY(parsed.map.msToTick(ms - 1) < tick);
  }
}

void MidiTempoMapTest::lengthIsTheLatestEndOfAnyTrack() {
  const Parsed parsed = parse(threeTempoFile());
  QVERIFY(parsed.ok);
  QCOMPARE(parsed.map.division(), 480);
  QCOMPARE(parsed.map.endTick(), int64_t(1440));
  QCOMPARE(parsed.map.lengthMs(), int64_t(1750));

  // The first track is the longest and has no End of Track: it ends at its last event.
  const Parsed unended =
      parse(smf({hex("00 91 3C 40  8F 00 81 3C 00"), hex("00 FF 51 03 07 A1 20  83 60 FF 2F 00")}));
  QVERIFY2(unended.ok, unended.error.c_str());
  QCOMPARE(unended.map.endTick(), int64_t(1920));
  QCOMPARE(unended.map.lengthMs(), int64_t(2000));
}

void MidiTempoMapTest::tempoChangesAreMergedFromAllTracks() {
  // Track 2 changes to 60 bpm at 480 and to 240 at 960, where track 3 says 30: the later
  // track's event is the last one the player meets at that tick.
  const Parsed parsed = parse(smf({hex("00 FF 51 03 07 A1 20  87 40 FF 2F 00"),
                                   hex("83 60 FF 51 03 0F 42 40  83 60 FF 51 03 03 D0 90 "
                                       "00 FF 2F 00"),
                                   hex("87 40 FF 51 03 1E 84 80  00 FF 2F 00")}));
  QVERIFY2(parsed.ok, parsed.error.c_str());
  QCOMPARE(changesText(parsed.map), QString("0:500000 480:1000000 960:2000000"));
  QCOMPARE(parsed.map.lengthMs(), int64_t(500 + 1000));
}

void MidiTempoMapTest::eventsOfEveryKindAdvanceTheTime() {
  // System exclusive, a program change (one data byte), running status, a text event, an
  // unknown chunk before the track: the tempo change still lands at tick 960.
  Bytes file =
      smf({hex("00 F0 05 7E 7F 09 01 F7  81 10 B1 78 00  60 C1 05  00 91 3C 40 "
               "83 60 3C 00  00 FF 01 01 5F  00 91 3E 40  81 70 3E 00  00 F7 01 00 "
               "00 FF 51 03 0F 42 40  83 60 FF 2F 00")});
  Bytes withUnknownChunk(file.begin(), file.begin() + 14);
  appendChunk(withUnknownChunk, "XTRA", hex("01 02 03"));
  withUnknownChunk.insert(withUnknownChunk.end(), file.begin() + 14, file.end());
  for (const Bytes& bytes : {file, withUnknownChunk}) {
    const Parsed parsed = parse(bytes);
    QVERIFY2(parsed.ok, parsed.error.c_str());
    QCOMPARE(changesText(parsed.map), QString("0:500000 960:1000000"));
    QCOMPARE(parsed.map.endTick(), int64_t(1440));
    QCOMPARE(parsed.map.lengthMs(), int64_t(1000 + 1000));
  }
}

// Two tracks; running status after a controller; a setting at the tick itself is not before it;
// channel mode messages (123: all notes off) are not settings.
void MidiTempoMapTest::theSetupBeforeATickIsTheLastOfEachSetting() {
  const Parsed parsed = parse(smf(
      {hex("00 C0 05  00 B0 07 64  00 0A 40  83 60 C0 28  00 B0 0A 10  00 B0 7B 00  00 FF 2F 00"),
       hex("00 C3 30  81 70 E3 00 50  00 B3 07 30  83 60 C3 31  00 FF 2F 00")}));
  QVERIFY2(parsed.ok, parsed.error.c_str());
  const MidiChannelSetup start = parsed.map.setupBefore(0);
  QCOMPARE(start, MidiChannelSetup());
  const MidiChannelSetup early = parsed.map.setupBefore(480);  // before the tick-480 changes
  QCOMPARE(early.channels[0].program, 5);
  QCOMPARE(early.channels[0].controllers[7], 100);
  QCOMPARE(early.channels[0].controllers[10], 64);  // by running status
  QCOMPARE(early.channels[3].program, 48);
  QCOMPARE(early.channels[3].pitchBend, 0x50 << 7);
  QCOMPARE(early.channels[3].controllers[7], 48);
  QCOMPARE(early.channels[1].program, -1);
  const MidiChannelSetup late = parsed.map.setupBefore(10000);
  QCOMPARE(late.channels[0].program, 40);
  QCOMPARE(late.channels[0].controllers[10], 16);
  QCOMPARE(late.channels[3].program, 49);
}

void MidiTempoMapTest::withoutTempoEventsTheTempoIs120() {
  const Parsed parsed = parse(smf({hex("00 91 3C 40  83 60 3C 00  00 FF 2F 00")}));
  QVERIFY2(parsed.ok, parsed.error.c_str());
  QCOMPARE(changesText(parsed.map), QString("0:500000"));
  QCOMPARE(parsed.map.lengthMs(), int64_t(500));
  QCOMPARE(parsed.map.msToTick(250), int64_t(240));
}

void MidiTempoMapTest::malformedFilesAreRefused_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("error");
  const auto bytes = [](const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
  };
  const Bytes eot = hex("00 FF 2F 00");
  const auto oneTrack = [&](const char* events) { return bytes(smf({hex(events)})); };
  Bytes twoDeclared = smf({eot});
  twoDeclared[11] = 2;
  Bytes smpte = smf({eot});
  smpte[12] = 0xE7;
  smpte[13] = 0x28;
  Bytes zeroDivision = smf({eot});
  zeroDivision[12] = zeroDivision[13] = 0;
  Bytes format3 = smf({eot});
  format3[9] = 3;
  Bytes shortHeader = hex("4D 54 68 64 00 00 00 04 00 01 00 01");
  Bytes chunkTooLong = smf({eot});
  chunkTooLong[21] = 5;

  QTest::newRow("empty") << QByteArray() << "not a Standard MIDI File";
  QTest::newRow("text") << QByteArray("ch1 { \"cde\" }") << "not a Standard MIDI File";
  QTest::newRow("header cut off") << bytes(hex("4D 54 68 64 00 00 00 06 00 01"))
                                  << "header chunk cut off";
  QTest::newRow("header too short") << bytes(shortHeader) << "header chunk too short";
  QTest::newRow("format 3") << bytes(format3) << "unknown file format 3";
  QTest::newRow("SMPTE division") << bytes(smpte) << "SMPTE time division is not supported";
  QTest::newRow("division 0") << bytes(zeroDivision) << "time division of 0 ticks per quarter note";
  Bytes secondCut = twoDeclared;
  append(secondCut, hex("4D 54 72 6B"));
  QTest::newRow("second track cut") << bytes(secondCut) << "the file ends inside or before track 2";
  QTest::newRow("chunk past the end")
      << bytes(chunkTooLong) << "the file ends inside or before track 1";
  QTest::newRow("meta cut off") << oneTrack("00 FF 01 05 41 42") << "track 1: meta event cut off";
  QTest::newRow("sysex cut off") << oneTrack("00 F0 09 7E 7F")
                                 << "track 1: system exclusive event cut off";
  QTest::newRow("note cut off") << oneTrack("00 91 3C") << "track 1: channel message cut off";
  QTest::newRow("delta of five bytes") << oneTrack("81 80 80 80 00 FF 2F 00")
                                       << "track 1: delta time cut off or longer than four bytes";
  QTest::newRow("no status") << oneTrack("00 3C 40 00 FF 2F 00")
                             << "track 1: data byte without status";
  QTest::newRow("a data byte behind a SysEx event, no status before")
      << oneTrack("00 F0 01 F7  00 3E 40") << "track 1: data byte without status";
  QTest::newRow("status inside a channel message")
      << oneTrack("00 91 3C 90 00 FF 2F 00") << "track 1: status byte inside a channel message";
  QTest::newRow("system message") << oneTrack("00 F4 00 FF 2F 00")
                                  << "track 1: unexpected system message";
  QTest::newRow("tempo of 2 bytes")
      << oneTrack("00 FF 51 02 A1 20 00 FF 2F 00") << "track 1: tempo event not 3 bytes long";
  QTest::newRow("tempo of 0") << oneTrack("00 FF 51 03 00 00 00 00 FF 2F 00")
                              << "track 1: tempo of 0";
  // Nine text events 2^28 - 1 ticks apart pass tick 2^31 - 1.
  QByteArray tooLong;
  for (int i = 0; i < 9; ++i) tooLong += "FF FF FF 7F FF 01 00 ";
  QTest::newRow("too long") << oneTrack(tooLong.constData()) << "track 1: longer than 2^31 ticks";
}

void MidiTempoMapTest::malformedFilesAreRefused() {
  QFETCH(QByteArray, file);
  QFETCH(QString, error);
  const Parsed parsed = parse(Bytes(file.begin(), file.end()));
  QVERIFY(!parsed.ok);
  QCOMPARE(QString::fromStdString(parsed.error), error);
  QVERIFY(parsed.map.empty());
  QCOMPARE(parsed.map.lengthMs(), int64_t(0));
  QCOMPARE(parsed.map.msToTick(1000), int64_t(0));
}

// A header that names more tracks than follow, and running status behind a meta event: the
// tracks that are there, and the note behind the meta event, count.
void MidiTempoMapTest::untidyFilesAreReadAsTheImporterReadsThem() {
  Bytes twoDeclared = smf({hex("00 FF 51 03 0F 42 40  83 60 FF 2F 00")});
  twoDeclared[11] = 2;
  const Parsed missing = parse(twoDeclared);
  QVERIFY2(missing.ok, missing.error.c_str());
  QCOMPARE(missing.map.lengthMs(), int64_t(1000));

  const Parsed running =
      parse(smf({hex("00 B1 07 64  00 FF 01 01 5F  83 60 07 50  83 60 FF 2F 00")}));
  QVERIFY2(running.ok, running.error.c_str());
  QCOMPARE(running.map.endTick(), int64_t(960));
  QCOMPARE(running.map.setupBefore(481).channels[1].controllers[7], 0x50);
}

// Cut anywhere, the file is refused, except right behind its first track, where it reads as a
// file of that track.
void MidiTempoMapTest::everyCutOffFileIsRefusedButAtATracksEnd() {
  const Bytes file = threeTempoFile();
  const size_t firstTrackEnd = 14 + 8 + 27;
  for (size_t size = 0; size < file.size(); ++size) {
    const Parsed parsed = parse(Bytes(file.begin(), file.begin() + qsizetype(size)));
    if (size == firstTrackEnd) {
      QVERIFY2(parsed.ok, parsed.error.c_str());
      QCOMPARE(parsed.map.endTick(), int64_t(960));
      continue;
    }
    QVERIFY2(!parsed.ok, qPrintable(QString("accepted the first %1 bytes").arg(size)));
    QVERIFY(!parsed.error.empty());
  }
}

QTEST_GUILESS_MAIN(MidiTempoMapTest)
#include "midi_tempo_map_test.moc"
