// The piano roll in the window: hidden at first and shown by one action that its menu item and
// tool button share; a compilation draws it; a click on a note selects the command that made it
// and the caret outlines it, until the text is edited; the ruler seeks while playing and plays
// from where it is double-clicked; shown, place and zoom come back at the next start, a kept
// size or place fitted to the screens; a gesture edits the text in one undo step and the check
// redraws the roll, a refused one leaves the text and says why in the status bar; the grid is
// kept; mute and solo reach the player at once and are kept.
#include "editor/ui/roll_link.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include "editor/roll/piano_roll.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/player_window.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// ch1: c at 250 ms, d at 750, e at 1250 (each a quarter at 120 bpm); ch2: g1 from 250.
const QString SCORE =
    "ch1 {\n"
    "  \"l4 c d e\"\n"
    "}\n"
    "ch2 { \"o3 g1\" }\n";

QString selected(const TForm1& form) {
  return editorPane(form)->textCursor().selectedText();
}

void putCaret(TForm1& form, int line, int column) {
  QTextCursor caret(editorPane(form)->document()->findBlockByNumber(line));
  caret.setPosition(caret.position() + column);
  editorPane(form)->setTextCursor(caret);
}

// The place of the last seek, or -1; a click lands within a pixel of the time aimed at.
int64_t lastSeek(const EditorFixture& f) {
  const QStringList seeks = f.services.player.calls.filter("seek");
  return seeks.isEmpty() ? -1 : seeks.last().section(' ', 1).toLongLong();
}

}  // namespace

class RollLinkTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void thePanelIsHiddenAtFirstAndShownByOneAction();
  void aClickedNoteSelectsItsCommandAndTheCaretOutlinesIt();
  void theRulerSeeksWhilePlayingAndPlaysFromADoubleClick();
  void shownPlaceAndZoomComeBack();
  void aKeptGeometryIsFittedToTheScreens_data();
  void aKeptGeometryIsFittedToTheScreens();
  void theCheckAsYouTypeRedrawsTheRollAndGreysItOnAnError();
  void aGestureEditsTheTextInOneUndoStep();
  void aRefusedGestureLeavesTheTextAndSaysWhy();
  void theGridComesBack();
  void muteAndSoloReachThePlayerAndComeBack();
  void aKeptHeightLeavesTheScoreHalfTheWindow();
  void aKeptZoomIsNotFittedAway();
  void nineChannelsLeaveTheWindowsWidth();
  void thePictureIsOfferedUnderTheScoresName();
  void thePlayerOpensClearOfTheRollsRuler();
};

void RollLinkTest::thePanelIsHiddenAtFirstAndShownByOneAction() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  QDockWidget* dock = form.rollLink().dock();
  QAction* item = form.action("showPianoRoll");
  QVERIFY(item != nullptr);
  QCOMPARE(item->text(), QString("ピアノロール(&P)"));
  QVERIFY(form.menu("Show1")->actions().contains(item));
  QCOMPARE(form.toolButton("pianoRollButton")->defaultAction(), item);
  QCOMPARE(dock->windowTitle(), QString("ピアノロール"));
  QVERIFY(!dock->isVisible());
  QVERIFY(!item->isChecked());
  const int scoreHeight = form.view().height();
  form.toolButton("pianoRollButton")->click();
  QVERIFY(dock->isVisible());
  // Shown the first time, the panel gets rows to show, and the score keeps most of its own.
  QTRY_VERIFY2(dock->height() >= FIRST_ROLL_HEIGHT * 3 / 4,
               qPrintable(QString::number(dock->height())));
  QVERIFY2(form.view().height() >= scoreHeight / 2,
           qPrintable(QString::number(form.view().height())));
  dock->close();  // its own close box
  QVERIFY(!item->isChecked());
}

void RollLinkTest::aClickedNoteSelectsItsCommandAndTheCaretOutlinesIt() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  typeText(form, SCORE);
  form.action("showPianoRoll")->trigger();
  PianoRoll& roll = form.rollLink().roll();
  QVERIFY(roll.model().empty());
  form.N4Click();  // compiled for playing: the roll shows it
  form.stopPlayback();
  QCOMPARE(roll.model().notes().size(), size_t{4});
  roll.fit();

  const int32_t d = 1;
  QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, roll.notePoint(d));
  QCOMPARE(selected(form), QString("d"));
  QCOMPARE(editorPane(form)->textCursor().blockNumber(), 1);
  QCOMPARE(roll.outlined(), std::vector<int32_t>{d});

  putCaret(form, 3, 10);  // on ch2's g1
  QCOMPARE(roll.outlined(), std::vector<int32_t>{3});
  QTextCursor all(editorPane(form)->document());
  all.select(QTextCursor::Document);
  editorPane(form)->setTextCursor(all);
  QCOMPARE(roll.outlined(), std::vector<int32_t>({0, 1, 2, 3}));

  // Once edited, the text no longer matches the picture: no outline, clicks select nothing.
  putCaret(form, 0, 0);
  typeText(form, "// edited\n");
  putCaret(form, 2, 6);
  QVERIFY(roll.outlined().empty());
  QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, roll.notePoint(d));
  QCOMPARE(selected(form), QString());
}

void RollLinkTest::theRulerSeeksWhilePlayingAndPlaysFromADoubleClick() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  typeText(form, SCORE);
  form.action("showPianoRoll")->trigger();
  f.services.player.length = 2250;
  PianoRoll& roll = form.rollLink().roll();
  form.N4Click();
  QVERIFY(form.playback().isPlaying());
  roll.fit();
  f.services.player.calls.clear();
  QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, roll.rulerPoint(240 + 480));  // d: 750 ms
  QCOMPARE(f.services.player.calls.filter("seek").size(), 1);
  QVERIFY2(std::abs(lastSeek(f) - 750) <= 10, qPrintable(QString::number(lastSeek(f))));
  QVERIFY(f.services.player.playing);

  form.stopPlayback();
  f.services.player.calls.clear();
  QTest::mouseClick(roll.canvas(), Qt::LeftButton, {}, roll.rulerPoint(240 + 960));
  QVERIFY(f.services.player.calls.filter("seek").isEmpty());  // not playing: no seek
  QTest::mouseDClick(roll.canvas(), Qt::LeftButton, {}, roll.rulerPoint(240 + 960));
  QVERIFY2(std::abs(lastSeek(f) - 1250) <= 10, qPrintable(QString::number(lastSeek(f))));
  QVERIFY(f.services.player.playing);
}

void RollLinkTest::shownPlaceAndZoomComeBack() {
  EditorFixture f;
  {
    TForm1& form = f.start();
    form.show();
    form.action("showPianoRoll")->trigger();
    form.rollLink().roll().setZoom(20, 11);
    QVERIFY(f.closeWindow());
  }
  const RollSettings kept = AdditionalSettings(f.paths.additionalSettingsFile).roll();
  QVERIFY(kept.shown);
  QCOMPARE(kept.ticksPerPixel, 20.0);
  QCOMPARE(kept.rowHeight, 11);
  TForm1& again = f.start();
  again.show();
  QVERIFY(again.rollLink().dock()->isVisible());
  QVERIFY(again.action("showPianoRoll")->isChecked());
  QCOMPARE(again.rollLink().roll().viewport().ticksPerPixel, 20.0);
  QCOMPARE(again.dockWidgetArea(again.rollLink().dock()), Qt::BottomDockWidgetArea);
}

void RollLinkTest::aKeptGeometryIsFittedToTheScreens_data() {
  QTest::addColumn<QByteArray>("kept");
  QTest::addColumn<QSize>("size");  // the floating panel's; empty: any that fits
  QTest::newRow("docked, taller than any screen") << QByteArray("0,0,20000,20000") << QSize();
  QTest::newRow("docked at the left, wider than any screen")
      << QByteArray("0,0,20000,300\nPlace=left") << QSize();
  QTest::newRow("floating, larger than any screen")
      << QByteArray("0,0,20000,20000\nPlace=floating") << QSize();
  QTest::newRow("floating, off every screen")
      << QByteArray("-15000,19000,300,200\nPlace=floating") << QSize(300, 200);
  QTest::newRow("floating, on the screen")
      << QByteArray("10,20,300,200\nPlace=floating") << QSize(300, 200);
}

// The panel, shown at the start, and the window holding it fit on the screen whatever size and
// place the file keeps; a size that fits is kept.
void RollLinkTest::aKeptGeometryIsFittedToTheScreens() {
  QFETCH(QByteArray, kept);
  QFETCH(QSize, size);
  EditorFixture f;
  QVERIFY(QDir(f.dir.path()).mkpath("config/tarvik32"));
  f.writeFile("config/tarvik32/tarvik32.conf", "[PianoRoll]\nShown=true\nGeometry=\"" +
                                                   kept.replace("\n", "\"\n") +
                                                   (kept.contains('\n') ? "\n" : "\"\n"));
  TForm1& form = f.start();
  form.show();
  QDockWidget* dock = form.rollLink().dock();
  QVERIFY(dock->isVisible());
  QCOMPARE(dock->isFloating(), kept.contains("floating"));
  const QRect screen = form.screen()->availableGeometry();
  const QRect panel(dock->mapToGlobal(QPoint(0, 0)), dock->size());
  QVERIFY2(screen.contains(panel), qPrintable(QString("%1,%2 %3x%4")
                                                  .arg(panel.x())
                                                  .arg(panel.y())
                                                  .arg(panel.width())
                                                  .arg(panel.height())));
  QVERIFY(form.width() <= screen.width() && form.height() <= screen.height());
  if (!size.isEmpty()) QCOMPARE(dock->size(), size);
}

// With the panel shown the check is on: typing alone redraws the roll, an error greys the last
// good picture without losing it, and F9's failure greys it too.
void RollLinkTest::theCheckAsYouTypeRedrawsTheRollAndGreysItOnAnError() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  form.action("showPianoRoll")->trigger();
  QVERIFY(form.action("checkAsYouType")->isChecked());
  PianoRoll& roll = form.rollLink().roll();
  typeText(form, SCORE);
  QTRY_COMPARE(roll.model().notes().size(), size_t{4});
  QVERIFY(!roll.isStale());

  putCaret(form, 1, 11);  // behind `e`
  typeText(form, " x");
  QTRY_VERIFY(roll.isStale());
  QCOMPARE(roll.model().notes().size(), size_t{4});
  QTextCursor caret = editorPane(form)->textCursor();
  caret.deletePreviousChar();
  caret.deletePreviousChar();
  QTRY_VERIFY(!roll.isStale());

  typeText(form, " f");
  QTRY_COMPARE(roll.model().notes().size(), size_t{5});
  form.action("checkAsYouType")->trigger();  // the user switches the check off
  QVERIFY(!form.action("checkAsYouType")->isChecked());
  typeText(form, " y");
  form.N4Click();
  QVERIFY(roll.isStale());
  QCOMPARE(roll.model().notes().size(), size_t{5});
}

// The roll with SCORE drawn by the check as you type.
PianoRoll& rollWithScore(TForm1& form) {
  form.show();
  form.action("showPianoRoll")->trigger();
  typeText(form, SCORE);
  PianoRoll& roll = form.rollLink().roll();
  [&] { QTRY_COMPARE(roll.model().notes().size(), size_t{4}); }();
  roll.fit();
  return roll;
}

void RollLinkTest::aGestureEditsTheTextInOneUndoStep() {
  EditorFixture f;
  TForm1& form = f.start();
  PianoRoll& roll = rollWithScore(form);
  const QString before = editorPane(form)->toPlainText();
  // d an octave up: dragged twelve rows up.
  const RollNote d = roll.model().notes()[1];
  roll.setZoom(roll.viewport().ticksPerPixel, 4);
  roll.outlineSource(d.start(), d.start());
  const QPoint at = roll.notePoint(1);
  QTest::mousePress(roll.canvas(), Qt::LeftButton, {}, at);
  QTest::mouseMove(roll.canvas(), at - QPoint(0, 6 * 4));
  QTest::mouseMove(roll.canvas(), at - QPoint(0, 12 * 4));
  QTest::mouseRelease(roll.canvas(), Qt::LeftButton, {}, at - QPoint(0, 12 * 4));
  QCOMPARE(editorPane(form)->document()->findBlockByNumber(1).text(), QString("  \"l4 c >d< e\""));
  QTRY_VERIFY(roll.model().notes().size() == 4 && roll.model().notes()[1].key == d.key + 12);
  QVERIFY(!form.document().isSaved());
  editorPane(form)->undo();
  QCOMPARE(editorPane(form)->toPlainText(), before);
  QTRY_COMPARE(int(roll.model().notes()[1].key), int(d.key));
  // Two edits apart, `v` before d and the old level behind it, are one step too.
  roll.fit();
  const QRect lane = roll.geometry().velocityLane();
  const QPoint bar(static_cast<int>(roll.geometry().x(d.on)) + 1, lane.bottom() - 2);
  QTest::mousePress(roll.canvas(), Qt::LeftButton, {}, bar);
  QTest::mouseMove(roll.canvas(), QPoint(bar.x(), lane.top() + 2));
  QTest::mouseRelease(roll.canvas(), Qt::LeftButton, {}, QPoint(bar.x(), lane.top()));
  QCOMPARE(editorPane(form)->document()->findBlockByNumber(1).text(),
           QString("  \"l4 c v16 d v10 e\""));
  editorPane(form)->undo();
  QCOMPARE(editorPane(form)->toPlainText(), before);
}

void RollLinkTest::aRefusedGestureLeavesTheTextAndSaysWhy() {
  EditorFixture f;
  TForm1& form = f.start();
  PianoRoll& roll = rollWithScore(form);
  const QString before = editorPane(form)->toPlainText();
  const QPoint d = roll.notePoint(1);
  const QPoint e = roll.notePoint(2);
  QTest::mousePress(roll.canvas(), Qt::LeftButton, {}, d);
  QTest::mouseMove(roll.canvas(), (d + QPoint(e.x(), d.y())) / 2);
  QTest::mouseRelease(roll.canvas(), Qt::LeftButton, {}, QPoint(e.x(), d.y()));
  QCOMPARE(editorPane(form)->toPlainText(), before);
  QCOMPARE(form.statusBar()->currentMessage(),
           QString("1つのチャンネルで同時に2つの音は鳴らせません."));
  // Once the text is edited by hand, the roll does not edit it until it is compiled again.
  putCaret(form, 0, 0);
  typeText(form, "// x\n");
  form.action("checkAsYouType")->trigger();  // off: nothing compiles the edit
  roll.setDrawChannel(2);
  const QRect area = roll.geometry().notes();
  QTest::mousePress(roll.canvas(), Qt::LeftButton, {}, area.bottomRight() - QPoint(60, 3));
  QTest::mouseMove(roll.canvas(), area.bottomRight() - QPoint(30, 3));
  QTest::mouseRelease(roll.canvas(), Qt::LeftButton, {}, area.bottomRight() - QPoint(3, 3));
  QCOMPARE(editorPane(form)->toPlainText(), "// x\n" + before);
  QCOMPARE(
      form.statusBar()->currentMessage(),
      QString("テキストが最後のコンパイルから変わっているため, ピアノロールで編集できません."));
}

// M and S in the legend tell the player at once which channels sound, solo over mute; the mix
// is kept for the audio export and given to the roll and the player again at the next start.
void RollLinkTest::muteAndSoloReachThePlayerAndComeBack() {
  EditorFixture f;
  const std::vector<ChannelMix>& mixes = f.services.player.mixes;
  const ChannelMix both{.muted = ChannelMix::bit(2), .soloed = ChannelMix::bit(2)};
  {
    TForm1& form = f.start();
    form.show();
    typeText(form, SCORE);
    form.action("showPianoRoll")->trigger();
    form.N4Click();
    PianoRoll& roll = form.rollLink().roll();
    QVERIFY(roll.muteButton(2)->isVisible());
    QVERIFY(!roll.muteButton(3)->isVisible());  // ch3 has no notes
    QCOMPARE(roll.muteButton(2)->toolTip(), QString("ch2 をミュート"));
    QCOMPARE(roll.soloButton(2)->text(), QString("S"));
    QCOMPARE(mixes.size(), size_t{1});  // the start's: nothing muted
    QCOMPARE(mixes.back().silentChannels(), uint16_t{0});

    roll.muteButton(2)->click();  // while playing
    QCOMPARE(mixes.size(), size_t{2});
    QCOMPARE(mixes.back().silentChannels(), ChannelMix::bit(2));
    roll.soloButton(2)->click();
    QCOMPARE(mixes.size(), size_t{3});
    QCOMPARE(mixes.back().silentChannels(), uint16_t(ChannelMix::ALL & ~ChannelMix::bit(2)));
    QVERIFY(mixes.back() == both);
    QVERIFY(AdditionalSettings(f.paths.additionalSettingsFile).roll().mix == both);
    form.stopPlayback();
    f.services.boxAnswers = {BoxAnswer::No};  // the typed score is not saved
    QVERIFY(f.closeWindow());
  }
  {
    TForm1& again = f.start();
    QVERIFY(again.rollLink().roll().muteButton(2)->isChecked());
    QVERIFY(again.rollLink().roll().soloButton(2)->isChecked());
    QVERIFY(!again.rollLink().roll().muteButton(1)->isChecked());
    QVERIFY(mixes.back() == both);
    QVERIFY(f.closeWindow());
  }
  // A list written by hand is read; one with a channel the score has not reads as none.
  f.writeFile("config/tarvik32/tarvik32.conf", "[PianoRoll]\nMuted=1, 3\nSoloed=\"4,10\"\n");
  TForm1& edited = f.start();
  QVERIFY(mixes.back() == (ChannelMix{.muted = ChannelMix::bit(1) | ChannelMix::bit(3)}));
  QVERIFY(edited.rollLink().roll().muteButton(3)->isChecked());
  QVERIFY(f.closeWindow());
}

void RollLinkTest::theGridComesBack() {
  EditorFixture f;
  {
    TForm1& form = f.start();
    form.show();
    form.action("showPianoRoll")->trigger();
    QComboBox* grid = form.rollLink().roll().findChild<QComboBox*>("RollGrid");
    QVERIFY(grid != nullptr);
    QCOMPARE(grid->count(), PianoRoll::GRID_COUNT);
    QCOMPARE(grid->itemText(5), QString("8分3連符"));
    grid->setCurrentIndex(5);
    Q_EMIT grid->activated(5);
    QVERIFY(f.closeWindow());
  }
  QCOMPARE(AdditionalSettings(f.paths.additionalSettingsFile).roll().grid, 5);
  {
    TForm1& again = f.start();
    QCOMPARE(again.rollLink().roll().grid(), 5);
    QVERIFY(f.closeWindow());
  }
  // A grid the roll does not have reads as the default.
  for (const QByteArray& bad : {QByteArray("8"), QByteArray("-1"), QByteArray("fine")}) {
    f.writeFile("config/tarvik32/tarvik32.conf", "[PianoRoll]\nGrid=" + bad + "\n");
    TForm1& form = f.start();
    QCOMPARE(form.rollLink().roll().grid(), PianoRoll::DEFAULT_GRID);
    QVERIFY(f.closeWindow());
  }
}

void RollLinkTest::aKeptHeightLeavesTheScoreHalfTheWindow() {
  EditorFixture f;
  QVERIFY(QDir(f.dir.path()).mkpath("config/tarvik32"));
  f.writeFile("config/tarvik32/tarvik32.conf",
              "[PianoRoll]\nShown=true\nGeometry=\"0,0,640,520\"\n");
  TForm1& form = f.start();
  form.show();
  QVERIFY(form.rollLink().dock()->isVisible());
  QTRY_VERIFY2(
      form.centralWidget()->height() >= form.height() / 2,
      qPrintable(QString("%1 of %2").arg(form.centralWidget()->height()).arg(form.height())));
}

void RollLinkTest::aKeptZoomIsNotFittedAway() {
  EditorFixture f;
  QVERIFY(QDir(f.dir.path()).mkpath("config/tarvik32"));
  f.writeFile("config/tarvik32/tarvik32.conf",
              "[PianoRoll]\nShown=true\nTicksPerPixel=3\nRowHeight=13\n");
  TForm1& form = f.start();
  form.show();
  QVERIFY(form.rollLink().dock()->isVisible());
  typeText(form, SCORE);
  PianoRoll& roll = form.rollLink().roll();
  QTRY_COMPARE(roll.model().notes().size(), size_t{4});
  QCOMPARE(roll.viewport().ticksPerPixel, 3.0);
  QCOMPARE(roll.viewport().rowHeight, 13);
  // Nothing kept: the first compilation shown is fitted.
  EditorFixture fresh;
  TForm1& other = fresh.start();
  other.show();
  other.action("showPianoRoll")->trigger();
  typeText(other, SCORE);
  PianoRoll& fitted = other.rollLink().roll();
  QTRY_COMPARE(fitted.model().notes().size(), size_t{4});
  QVERIFY(fitted.viewport().ticksPerPixel != RollSettings().ticksPerPixel);
}

void RollLinkTest::nineChannelsLeaveTheWindowsWidth() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  const int width = form.width();
  form.action("showPianoRoll")->trigger();
  QString score;
  for (int channel = 1; channel <= 9; ++channel)
    score += QString("ch%1 { \"c d\" }\n").arg(channel);
  typeText(form, score);
  PianoRoll& roll = form.rollLink().roll();
  QTRY_COMPARE(roll.model().notes().size(), size_t{18});
  QVERIFY(roll.legendBox(9)->isVisibleTo(&roll));
  QApplication::processEvents();
  QCOMPARE(form.width(), width);
}

void RollLinkTest::thePictureIsOfferedUnderTheScoresName() {
  EditorFixture f;
  f.writeFile("song.fms", SCORE.toUtf8());
  TForm1& form = f.start({f.path("song.fms")});
  f.services.fileNames = {QString()};  // cancelled
  Q_EMIT form.rollLink().roll().saveRequested();
  QCOMPARE(f.services.fileDialogs.size(), size_t{1});
  QCOMPARE(f.services.fileDialogs[0].request.initialName, QString("song.png"));
  QCOMPARE(f.services.fileDialogs[0].request.defaultSuffix, QString("png"));
}

// Centred on the screen, the player would cover the ruler of a tall panel: it goes over the
// score, still centred across; with the panel hidden it stays where it always was.
void RollLinkTest::thePlayerOpensClearOfTheRollsRuler() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  typeText(form, SCORE);
  QWidget& player = *form.Form2;
  const QPoint placed = player.pos();
  form.N4Click();
  QTRY_VERIFY(player.isVisible());
  QCOMPARE(player.pos(), placed);
  const QRect centred = player.frameGeometry();
  form.stopPlayback();
  player.hide();

  form.action("showPianoRoll")->trigger();
  QDockWidget* dock = form.rollLink().dock();
  form.resizeDocks({dock}, {form.height() * 2 / 3}, Qt::Vertical);
  PianoRoll& roll = form.rollLink().roll();
  const auto rulerArea = [&] {
    const QPoint top = dock->mapToGlobal(QPoint(0, 0));
    const int bottom =
        roll.canvas()
            ->mapToGlobal(QPoint(0, RollGeometry::RULER_HEIGHT + RollGeometry::TEMPO_HEIGHT))
            .y();
    return QRect(top, QPoint(top.x() + dock->width() - 1, bottom));
  };
  QTRY_VERIFY2(centred.intersects(rulerArea()), "the test needs a panel under the centre");
  form.N4Click();
  QTRY_VERIFY(player.isVisible());
  QVERIFY2(!player.frameGeometry().intersects(rulerArea()),
           qPrintable(QString("%1,%2 over %3,%4")
                          .arg(player.frameGeometry().top())
                          .arg(player.frameGeometry().bottom())
                          .arg(rulerArea().top())
                          .arg(rulerArea().bottom())));
  QCOMPARE(player.frameGeometry().center().x(), centred.center().x());
  form.stopPlayback();
}

QTEST_MAIN(RollLinkTest)
#include "roll_link_test.moc"
