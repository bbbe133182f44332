// Hearing what is written: Shift+F9 starts at the caret's time (tempo changed in another channel,
// the caret behind a block's last command, outside every block), F9 during playback keeps the
// place when asked, and following the score marks what sounds, keeps the caret's channel in view
// unless the user has just scrolled, and lets go after an edit; behind Japanese text the columns
// count characters of the document's encoding. The times are counted by hand: a 240-tick lead-in
// at 120 bpm is 250 ms, a quarter 500 ms at 120 and 1000 ms at 60.
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include "editor/settings/additional_settings.h"
#include "editor/ui/player_window.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// ch1: c 250, d 750, t60 at 1250, e 1250, f 2250 (ends 3250). ch2: rests, then c 1250, d 2250.
const QString SCORE =
    "// two voices\n"
    "ch1 {\n"
    "  \"t120 l4 c d t60 e f\"\n"
    "}\n"
    "ch2 {\n"
    "  \"l4 r r c d\"\n"
    "}\n";

void putCaret(TForm1& form, int line, int column) {
  QTextCursor caret(editorPane(form)->document()->findBlockByNumber(line));
  caret.setPosition(caret.position() + column);
  editorPane(form)->setTextCursor(caret);
}

QString seekOf(const EditorFixture& f) {
  const QStringList seeks = f.services.player.calls.filter("seek");
  return seeks.isEmpty() ? QString() : seeks.last();
}

// The marked text of every tinted mark (no search is open), as "line:text".
QStringList playingMarks(const TForm1& form) {
  QStringList marks;
  for (const QTextEdit::ExtraSelection& mark : editorPane(form)->extraSelections()) {
    if (mark.format.background().style() == Qt::NoBrush) continue;  // the error mark
    marks << QString("%1:%2").arg(mark.cursor.blockNumber()).arg(mark.cursor.selectedText());
  }
  return marks;
}

}  // namespace

class PlayFromCursorTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void playFromTheCaretStartsAtItsCommandsTime();
  void aRecompilationKeepsThePlaceOnlyWhenAsked();
  void theViewFollowsTheCaretsChannelUnlessTheUserScrolled();
  void theSoundingCommandsAreMarkedUntilTheTextChanges();
  void marksAndCaretTimesCountCharactersBehindJapanese();
};

void PlayFromCursorTest::playFromTheCaretStartsAtItsCommandsTime() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 3250;
  const struct {
    int line, column;
    QString seek;
  } cases[] = {
      {5, 10, "seek 1250"},  // on ch2's c, after the tempo change in ch1
      {5, 11, "seek 2250"},  // between c and d: the next command
      {5, 13, "seek 2250"},  // behind the block's last command: the nearest earlier one
      {2, 4, "seek 250"},    // on t120: the first note sounds at the same time
      {0, 3, "seek 0"},      // outside every block
  };
  for (const auto& c : cases) {
    putCaret(form, c.line, c.column);
    form.playFromCaret();
    QCOMPARE(seekOf(f), c.seek);
    QVERIFY(f.services.player.playing);
  }
  QCOMPARE(form.action("playFromCaret")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F9));
  // A failed compilation plays nothing.
  typeText(form, "ch3 { \"v99\" }\n");
  f.services.player.calls.clear();
  form.playFromCaret();
  QVERIFY(f.services.player.calls.filter("play").isEmpty());
}

void PlayFromCursorTest::aRecompilationKeepsThePlaceOnlyWhenAsked() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 3250;
  QVERIFY(!form.action("keepPlace")->isChecked());  // off at first: F9 starts over
  form.N4Click();
  f.services.player.position = 1500;
  form.N4Click();
  QCOMPARE(seekOf(f), QString("seek 0"));

  form.action("keepPlace")->trigger();
  f.services.player.position = 1500;
  form.N4Click();
  QCOMPARE(seekOf(f), QString("seek 1500"));
  form.stopPlayback();  // nothing playing: nothing to keep
  form.N4Click();
  QCOMPARE(seekOf(f), QString("seek 0"));
  f.services.player.position = 5000;  // beyond the new song's end: from its start
  form.N4Click();
  QCOMPARE(seekOf(f), QString("seek 0"));
  QVERIFY(AdditionalSettings(f.paths.additionalSettingsFile).playback().keepPlace);
}

void PlayFromCursorTest::theSoundingCommandsAreMarkedUntilTheTextChanges() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 3250;
  form.N4Click();
  f.services.player.position = 800;
  form.followScore();
  QCOMPARE(playingMarks(form), QStringList{"2:d"});
  f.services.player.position = 1300;
  form.followScore();
  QCOMPARE(playingMarks(form), (QStringList{"2:e", "5:c"}));
  // Switched off, nothing is marked; on again, the marks come back at the next refresh.
  form.action("followScore")->trigger();
  QVERIFY(playingMarks(form).isEmpty());
  form.followScore();
  QVERIFY(playingMarks(form).isEmpty());
  form.action("followScore")->trigger();
  form.followScore();
  QCOMPARE(playingMarks(form), (QStringList{"2:e", "5:c"}));
  // An edit moves the commands: no marks until the next compilation.
  putCaret(form, 0, 0);
  typeText(form, "//");
  form.followScore();
  QVERIFY(playingMarks(form).isEmpty());
  form.N4Click();
  f.services.player.position = 300;
  form.followScore();
  QCOMPARE(playingMarks(form), QStringList{"2:c"});
  form.stopPlayback();
  QVERIFY(playingMarks(form).isEmpty());
}

// Behind double-byte text on the same line the map's byte columns are not the pane's: the marks
// and the caret's time count the characters of the document's own encoding.
void PlayFromCursorTest::marksAndCaretTimesCountCharactersBehindJapanese() {
  for (const bool utf8 : {false, true}) {
    EditorFixture f;
    TForm1& form = f.start();
    typeText(form, "ch1 { /* 旋律 */ \"t120 l4 c d e\" }\n");
    if (utf8) form.convertToUtf8();
    f.services.player.length = 2000;
    form.N4Click();
    f.services.player.position = 800;
    form.followScore();
    QCOMPARE(playingMarks(form), QStringList{"0:d"});
    putCaret(form, 0, 28);  // on e
    form.playFromCaret();
    QCOMPARE(seekOf(f), QString("seek 1250"));
  }
}

// ch1 plays one quarter a line at 120 bpm: line k + 2 sounds from 250 + 500 k ms.
void PlayFromCursorTest::theViewFollowsTheCaretsChannelUnlessTheUserScrolled() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  QString score = "ch1 {\n  \"t120 l4\"\n";
  for (int i = 0; i < 300; ++i) score += "  \"c\"\n";
  typeText(form, score + "}\n");
  f.services.player.length = 200000;
  putCaret(form, 2, 3);
  form.N4Click();
  QScrollBar& bar = *editorPane(form)->verticalScrollBar();
  const auto lineShown = [&form](int line) {
    QTextCursor at(editorPane(form)->document()->findBlockByNumber(line));
    return editorPane(form)->viewport()->rect().contains(editorPane(form)->cursorRect(at));
  };
  f.services.player.position = 250 + 500 * 200;
  form.followScore();
  QVERIFY(lineShown(202));
  QCOMPARE(editorPane(form)->textCursor().blockNumber(), 2);  // the caret stays
  // The user scrolls back: the view stays where the user put it.
  bar.setValue(0);
  f.services.player.position = 250 + 500 * 250;
  form.followScore();
  QCOMPARE(bar.value(), 0);
  QVERIFY(!lineShown(252));
}

QTEST_MAIN(PlayFromCursorTest)
#include "play_from_cursor_test.moc"
