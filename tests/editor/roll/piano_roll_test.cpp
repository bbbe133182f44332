// The piano roll panel: a click inside a note's bar names that note's command at any zoom, a
// hidden channel is neither drawn nor hit, the play line
// stands at the tempo map's tick and pulls the view along unless the user has just moved it,
// an outlined note out of sight is scrolled into it, the picture saved as PNG reads back
// at the panel's size with the notes in it, and drags on the notes and the velocity lane become
// gestures snapped to the grid.
#include "editor/roll/piano_roll.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImageReader>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <memory>
#include <string>

#include "core/score_source_map.h"
#include "tests/support/memory_host.h"

namespace {

std::unique_ptr<ScoreSourceMap> mapOf(const std::string& score) {
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, score);
  SourceMap recorded;
  compile->host.sourceMapStorage = &recorded;
  if (compile->run() != 0) return nullptr;
  auto map = std::make_unique<ScoreSourceMap>();
  const std::vector<uint8_t>& midi = compile->host.kept;
  if (!map->build(recorded, midi.data(), midi.size(), nullptr)) return nullptr;
  return map;
}

// A quarter at 120 bpm is 500 ms, at 60 bpm 1000 ms; the lead-in is 240 ticks, 250 ms.
const std::string SCORE =
    "ch1 {\n"
    "  \"t120 l16 c d e f g a b > c l4 c t60 d e\"\n"
    "}\n"
    "ch2 { \"o3 l1 c c\" }\n"
    "ch9 { \"l8 n13 n15 n13 n15\" }\n";

// The text of a note's command in SCORE.
QString commandOf(const PianoRoll& roll, int32_t note) {
  const RollNote& n = roll.model().notes()[static_cast<size_t>(note)];
  const QStringList lines = QString::fromStdString(SCORE).split('\n');
  return lines[n.line].mid(n.column, n.length);
}

// Presses at `from`, drags through the middle to `to` and lets go.
void drag(QWidget* canvas, QPoint from, QPoint to) {
  QTest::mousePress(canvas, Qt::LeftButton, {}, from);
  QTest::mouseMove(canvas, (from + to) / 2);
  QTest::mouseMove(canvas, to);
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
}

// The canvas x of a time in units from the channels' start (the lead-in before it).
int xOfUnits(const PianoRoll& roll, double units) {
  return static_cast<int>(std::lround(roll.geometry().x(240 + units * 15)));
}

struct ShownRoll {
  ShownRoll() {
    roll.resize(700, 420);
    roll.show();
    QVERIFY(QTest::qWaitForWindowExposed(&roll));
    map = mapOf(SCORE);
    QVERIFY(map);
    roll.showCompilation(*map);
  }
  PianoRoll roll;
  std::unique_ptr<ScoreSourceMap> map;
};

}  // namespace

class PianoRollTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void aClickInsideANoteNamesItsCommandAtEveryZoom();
  void aHiddenChannelIsNeitherDrawnNorHit();
  void thePlayLineFollowsUnlessTheUserMovedTheRoll();
  void anOutlinedNoteOutOfSightIsScrolledIntoIt();
  void thePictureIsSavedAsAReadablePng();
  void dragsBecomeGesturesSnappedToTheGrid();
  void delTurnsTheOutlinedNotesOfEachChannelIntoOneGesture();
  void theFitKeepsTheSongsEndWhenDrumNamesWidenTheKeyboard();
  void scrollingStopsWithTheSongsEndInTheMiddle();
  void theTempoLaneMarksEachTempoOnce();
  void anEmptyRollSaysHowToFillIt();
};

void PianoRollTest::aClickInsideANoteNamesItsCommandAtEveryZoom() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  QSignalSpy clicks(&roll, &PianoRoll::noteClicked);
  for (const double ticksPerPixel : {1.0, 4.0, 12.0}) {
    roll.setZoom(ticksPerPixel, 9);
    for (int32_t i = 0; i < static_cast<int32_t>(roll.model().notes().size()); ++i) {
      const RollNote& note = roll.model().notes()[static_cast<size_t>(i)];
      roll.outlineSource(note.start(), note.start());  // brings it into sight
      const QPoint at = roll.notePoint(i);
      QVERIFY2(roll.geometry().notes().contains(at), qPrintable(commandOf(roll, i)));
      QCOMPARE(roll.noteAt(at), i);
      clicks.clear();
      QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, at);
      QCOMPARE(clicks.size(), 1);
      const RollNote clicked = clicks.front().front().value<RollNote>();
      QCOMPARE(clicked.line, note.line);
      QCOMPARE(clicked.column, note.column);
    }
  }
  // The source of a click is the command as written: the first c of l16, the tied d of t60.
  roll.fit();
  QCOMPARE(commandOf(roll, roll.noteAt(roll.notePoint(0))), QString("c"));
  QCOMPARE(commandOf(roll, 9), QString("d"));
  // Outside every note nothing is hit.
  QCOMPARE(roll.noteAt(roll.geometry().notes().bottomRight() - QPoint(1, 1)), -1);
}

void PianoRollTest::aHiddenChannelIsNeitherDrawnNorHit() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.fit();
  const int32_t drum = roll.model().firstIndex(9);
  const QPoint at = roll.notePoint(drum);
  QCOMPARE(roll.noteAt(at), drum);
  const QRgb drawn = roll.picture().pixel(at);
  QVERIFY(roll.legendBox(9)->isVisibleTo(&roll));
  QVERIFY(!roll.legendBox(4)->isVisibleTo(&roll));  // no notes in ch4: no box
  roll.legendBox(9)->click();
  QVERIFY(!roll.channelShown(9));
  QCOMPARE(roll.noteAt(at), -1);
  QVERIFY(roll.picture().pixel(at) != drawn);
}

void PianoRollTest::thePlayLineFollowsUnlessTheUserMovedTheRoll() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.setZoom(2, 8);
  roll.scrollTimeBy(-100000);
  // 250 ms lead-in, 1.5 s of 120 bpm (1440 ticks), then 60 bpm: 3250 ms is 1680 + 720 ticks.
  roll.setPlayPosition(250);
  QCOMPARE(roll.playTick(), std::optional<int64_t>(240));
  roll.setPlayPosition(3250);
  QCOMPARE(roll.playTick(), std::optional<int64_t>(2400));
  const RollGeometry g = roll.geometry();
  const int x = static_cast<int>(g.x(2400));
  QVERIFY(g.notes().left() <= x && x <= g.notes().right());  // the view came along
  const QImage picture = roll.picture();
  QCOMPARE(picture.pixel(x, g.notes().bottom()), qRgb(0xE0, 0x30, 0x1E));
  // A wheel turn a moment ago holds the view still.
  const double left = roll.viewport().leftTick;
  QWheelEvent wheel(QPointF(200, 200), roll.canvas()->mapToGlobal(QPointF(200, 200)), {}, {0, -120},
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(roll.canvas(), &wheel);
  QCOMPARE(roll.viewport().leftTick, left);  // the plain wheel scrolls the keys only
  roll.setPlayPosition(250);
  QCOMPARE(roll.playTick(), std::optional<int64_t>(240));
  QCOMPARE(roll.viewport().leftTick, left);
  roll.clearPlayPosition();
  QVERIFY(!roll.playTick());
}

void PianoRollTest::anOutlinedNoteOutOfSightIsScrolledIntoIt() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.setZoom(1, 12);
  const int32_t last = roll.model().firstIndex(2) - 1;  // ch1's last note, far right
  const RollNote& note = roll.model().notes()[static_cast<size_t>(last)];
  QVERIFY(!roll.geometry().notes().contains(roll.notePoint(last)));
  roll.outlineSource(note.start(), note.start());
  QCOMPARE(roll.outlined(), std::vector<int32_t>{last});
  QVERIFY(roll.geometry().notes().contains(roll.notePoint(last)));
  // Ctrl+wheel zooms around the mouse: the tick under it stays put.
  const QPoint mouse(400, 200);
  const double before = roll.geometry().tickAt(mouse.x());
  QWheelEvent zoom(mouse, roll.canvas()->mapToGlobal(mouse), {}, {0, 120}, Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(roll.canvas(), &zoom);
  QVERIFY(roll.viewport().ticksPerPixel < 1);
  QVERIFY(std::abs(roll.geometry().tickAt(mouse.x()) - before) < 1);
}

void PianoRollTest::thePictureIsSavedAsAReadablePng() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.fit();
  QTemporaryDir dir;
  const QString path = dir.filePath("roll.png");
  QVERIFY(roll.savePicture(path).ok());
  QImageReader reader(path);
  QCOMPARE(reader.format(), QByteArray("png"));
  const QImage read = reader.read();
  QCOMPARE(read.size(), roll.canvas()->size());
  const QPoint at = roll.notePoint(0);
  QCOMPARE(read.pixel(at), roll.picture().pixel(at));
  QVERIFY(read.pixel(at) != read.pixel(at.x(), roll.geometry().notes().bottom()));
  // A folder in the way: refused, nothing written.
  QVERIFY(QDir(dir.path()).mkdir("taken.png"));
  QVERIFY(!roll.savePicture(dir.filePath("taken.png")).ok());
}

void PianoRollTest::dragsBecomeGesturesSnappedToTheGrid() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.setZoom(2, 10);  // 7.5 pixels a unit
  roll.scrollTimeBy(-100000);
  std::vector<RollGesture> made;
  QObject::connect(&roll, &PianoRoll::gesturesMade,
                   [&](const std::vector<RollGesture>& gestures) { made = gestures; });
  QCOMPARE(roll.grid(), PianoRoll::DEFAULT_GRID);  // a sixteenth: 8 units
  QCOMPARE(roll.gridUnits(), 8.0);
  const RollGeometry g = roll.geometry();
  // Draw: from inside a sixteenth's cell to near the end of the next, on the row of key 50.
  roll.setDrawChannel(2);
  roll.scrollKeysBy(g.y(50) - g.notes().center().y());
  const int y = roll.geometry().y(50) + 4;
  QVERIFY(roll.geometry().notes().contains(QPoint(xOfUnits(roll, 10), y)));
  drag(roll.canvas(), QPoint(xOfUnits(roll, 10), y), QPoint(xOfUnits(roll, 23), y));
  QCOMPARE(made.size(), size_t{1});
  QCOMPARE(int(made[0].kind), int(RollGesture::Kind::Draw));
  QCOMPARE(made[0].channel, 2);
  QCOMPARE(made[0].key, 50);
  QCOMPARE(made[0].start, int64_t{8});
  QCOMPARE(made[0].length, int64_t{16});
  // Triplet eighths: the lines fall at 10.67 units and are rounded to the nearest unit.
  roll.setGrid(5);
  QCOMPARE(roll.gridUnits(), 32.0 / 3);
  made.clear();
  drag(roll.canvas(), QPoint(xOfUnits(roll, 12), y), QPoint(xOfUnits(roll, 31), y));
  QCOMPARE(made.at(0).start, int64_t{11});
  QCOMPARE(made.at(0).length, int64_t{32 - 11});
  roll.setGrid(PianoRoll::DEFAULT_GRID);

  // Move: ch1's e (l16: units 16..24) two keys up and one sixteenth later.
  const int32_t e = 2;
  const RollNote note = roll.model().notes()[size_t(e)];
  roll.outlineSource(note.start(), note.start());
  const QPoint middle = roll.notePoint(e);
  const int rowHeight = roll.viewport().rowHeight;
  made.clear();
  drag(roll.canvas(), middle, middle + QPoint(8 * 15 / 2, -2 * rowHeight));
  QCOMPARE(made.size(), size_t{1});
  QCOMPARE(int(made[0].kind), int(RollGesture::Kind::Move));
  QCOMPARE(made[0].channel, 1);
  QCOMPARE(made[0].note, note.event);
  QCOMPARE(made[0].start, int64_t{24});
  QCOMPARE(made[0].key, note.key + 2);
  // A click is no gesture.
  made.clear();
  QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, middle);
  QVERIFY(made.empty());
  // Resize: its end dragged a sixteenth further.
  const QPoint end(xOfUnits(roll, 24) - 1, middle.y());
  drag(roll.canvas(), end, end + QPoint(8 * 15 / 2, 0));
  QCOMPARE(made.size(), size_t{1});
  QCOMPARE(int(made[0].kind), int(RollGesture::Kind::Resize));
  QCOMPARE(made[0].length, int64_t{16});
  // Velocity: its bar in the lane dragged to the top is level 16, to near the bottom level 1.
  const QRect lane = roll.geometry().velocityLane();
  const QPoint bar(xOfUnits(roll, 16) + 1, lane.bottom() - 2);
  made.clear();
  drag(roll.canvas(), bar, QPoint(bar.x(), lane.top()));
  QCOMPARE(made.size(), size_t{1});
  QCOMPARE(int(made[0].kind), int(RollGesture::Kind::Velocity));
  QCOMPARE(made[0].note, note.event);
  QCOMPARE(made[0].level, 16);
  drag(roll.canvas(), bar, QPoint(bar.x(), lane.bottom() - 1));
  QCOMPARE(made[0].level, 1);
}

void PianoRollTest::delTurnsTheOutlinedNotesOfEachChannelIntoOneGesture() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.fit();
  std::vector<RollGesture> made;
  QObject::connect(&roll, &PianoRoll::gesturesMade,
                   [&](const std::vector<RollGesture>& gestures) { made = gestures; });
  roll.outlineSource({1, 0}, {5, 0});  // every note of the three channels
  roll.setChannelShown(2, false);      // a hidden channel's notes stay
  roll.canvas()->setFocus();
  QTest::keyClick(roll.canvas(), Qt::Key_Delete);
  QCOMPARE(made.size(), size_t{2});
  QCOMPARE(made[0].channel, 1);
  QCOMPARE(made[0].notes.size(), size_t{11});
  QCOMPARE(made[1].channel, 9);
  QCOMPARE(made[1].notes, std::vector<int32_t>({0, 1, 2, 3}));
}

void PianoRollTest::theFitKeepsTheSongsEndWhenDrumNamesWidenTheKeyboard() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.resize(700, 900);  // room for rows high enough for the names
  QTRY_VERIFY(roll.canvas()->height() > 700);
  roll.setZoom(4, RollViewport::ROW_HEIGHT_MIN);  // rows too low for the drum names
  const int narrow = roll.geometry().notes().left();
  roll.fit();
  const RollGeometry g = roll.geometry();
  QVERIFY(g.notes().left() > narrow);  // the names came with the taller rows
  QVERIFY2(g.x(static_cast<double>(roll.model().endTick())) <= g.notes().right() + 1,
           qPrintable(QString("%1 > %2").arg(g.x(roll.model().endTick())).arg(g.notes().right())));
}

void PianoRollTest::scrollingStopsWithTheSongsEndInTheMiddle() {
  ShownRoll shown;
  PianoRoll& roll = shown.roll;
  roll.setZoom(1, 8);
  QWheelEvent wheel(QPointF(200, 200), roll.canvas()->mapToGlobal(QPointF(200, 200)), {}, {0, -120},
                    Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase, false);
  for (int i = 0; i < 200; ++i) QApplication::sendEvent(roll.canvas(), &wheel);
  const RollGeometry g = roll.geometry();
  const double end = g.x(static_cast<double>(roll.model().endTick()));
  QVERIFY2(std::abs(end - g.notes().center().x()) <= 1,
           qPrintable(QString("end at %1, middle %2").arg(end).arg(g.notes().center().x())));
  // The scroll bar ends there too.
  QScrollBar* bar = roll.findChildren<QScrollBar*>().front();
  for (QScrollBar* b : roll.findChildren<QScrollBar*>())
    if (b->orientation() == Qt::Horizontal && b->parent() == &roll) bar = b;
  QCOMPARE(bar->value(), bar->maximum());
}

// "120 120" was shown for a score without `t`: the file states the start tempo twice.
void PianoRollTest::theTempoLaneMarksEachTempoOnce() {
  auto marks = [](const std::string& score) {
    const std::unique_ptr<ScoreSourceMap> map = mapOf(score);
    QStringList shown;
    for (const MidiTempoMap::TempoChange& c : shownTempoChanges(map->tempoMap()))
      shown << QString("%1:%2").arg(c.tick).arg(std::lround(60e6 / c.microsPerQuarter));
    return shown;
  };
  QCOMPARE(marks("ch1 { \"c d\" }"), QStringList{"0:120"});
  QCOMPARE(marks("ch1 { \"t120 c t90 d t90 e t120 f\" }"),
           QStringList({"0:120", "720:90", "1680:120"}));
}

// Dark pixels in the middle band of the notes' area, right of the keyboard: the hint's letters
// (the grid's rows and lines are light).
int inkInTheMiddle(const PianoRoll& roll) {
  const QImage picture = roll.picture();
  const QRect area = roll.geometry().notes();
  int count = 0;
  for (int y = area.center().y() - 12; y <= area.center().y() + 12; ++y)
    for (int x = area.left(); x <= area.right(); ++x) count += qGray(picture.pixel(x, y)) < 80;
  return count;
}

void PianoRollTest::anEmptyRollSaysHowToFillIt() {
  PianoRoll roll;
  roll.resize(700, 420);
  roll.show();
  QVERIFY(QTest::qWaitForWindowExposed(&roll));
  QVERIFY(inkInTheMiddle(roll) > 20);
  const std::unique_ptr<ScoreSourceMap> map = mapOf("ch1 { \"o6 c\" }");
  roll.showCompilation(*map);
  roll.setChannelShown(1, false);  // its note out of the way: the hint has gone too
  QCOMPARE(inkInTheMiddle(roll), 0);
}

QTEST_MAIN(PianoRollTest)
#include "piano_roll_test.moc"
