// The check as you type in the main window: an error is marked apart from a compilation's mark
// and a fix clears it; a check writes no file, shows no box, leaves the message pane, the saved
// state, the backup and the auto-pan toggle alone; a result taken before an edit never paints;
// compile and play while a check runs keeps its own mark; the switch follows the roll until the
// user sets it, and the user's choice is kept.
#include "editor/ui/check_as_you_type.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QSettings>
#include <QTest>

#include "core/compile_session.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

const char FAILING[] = "ch1{ \"c d e\" }\nch2{ \"c v20 e\" }\n";
const char CLEAN[] = "ch1{ \"c d e\" }\nch2{ \"c v10 e\" }\n";

// Every file below the fixture's folder with its size: what a check must leave as it is.
QStringList filesIn(const QString& folder) {
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    files << info.filePath() + " " + QString::number(info.size());
  }
  files.sort();
  return files;
}

// Lets the running check end and its result arrive.
void settle(TForm1& form) {
  QTRY_VERIFY(!form.checkAsYouType().check().busy());
  QCoreApplication::processEvents();
}

SourceEdit& pane(TForm1& form) {
  return *editorPane(form);
}

}  // namespace

class CheckAsYouTypeTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void anErrorIsMarkedApartAndAFixClearsIt();
  void aCheckWritesNothingAndLeavesTheWindowAlone();
  void aResultTakenBeforeAnEditNeverPaints();
  void compileAndPlayWhileACheckRunsKeepsItsMark();
  void theSwitchFollowsTheRollUntilTheUserSetsIt();
};

// Typed text is checked once typing pauses; the mark names the failing command and its text,
// and the clean result hands over the MIDI file and the map.
void CheckAsYouTypeTest::anErrorIsMarkedApartAndAFixClearsIt() {
  EditorFixture f;
  TForm1& form = f.start();
  form.action("checkAsYouType")->trigger();
  std::vector<CheckResult> results;
  connect(&form.checkAsYouType(), &CheckAsYouType::checked, this,
          [&results](const CheckResult& result) { results.push_back(result); });
  typeText(form, FAILING);
  QTRY_VERIFY(pane(form).checkMark().has_value());
  const ErrorMark mark = *pane(form).checkMark();
  QCOMPARE(mark.line, 1);
  QCOMPARE(mark.commandColumn, 8);  // v20
  QCOMPARE(mark.column, 11);
  QCOMPARE(mark.text, QString("命令 V? の範囲は 0～16"));
  QVERIFY(!pane(form).errorMark());  // the compilation's mark is another
  QVERIFY(!results.empty() && results.back().failure && !results.back().map);

  // The fix: the clean result hands over the MIDI file and the map.
  QTextCursor cursor(pane(form).document()->findBlockByNumber(1));
  cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, 9);
  cursor.deleteChar();
  cursor.insertText("1");  // v20 -> v10
  QTRY_VERIFY(!results.empty() && results.back().clean());
  QVERIFY(!pane(form).checkMark());
  QVERIFY(results.back().map && results.back().midi && results.back().midi->size() > 14);
  QCOMPARE(results.back().map->notes(2).size(), size_t(2));

  // A mark that no edit took away (the error stood on a line the fix did not touch) goes with
  // the next clean result.
  form.view().markCheckFailure(FailurePlace{1, 8, 11, "x"});
  QVERIFY(pane(form).checkMark().has_value());
  form.checkAsYouType().checkNow();
  settle(form);
  QVERIFY(!pane(form).checkMark());
}

void CheckAsYouTypeTest::aCheckWritesNothingAndLeavesTheWindowAlone() {
  EditorFixture f;
  f.writeFile("song.fms", QByteArray("op(autolr)\n") + FAILING);
  TForm1& form = f.start({f.path("song.fms")});
  const QString pane = form.messagePane()->toPlainText();
  const QStringList files = filesIn(f.dir.path());
  const bool autoPan = form.autoPanOn();
  form.checkAsYouType().setRollShown(true);  // the switch follows the roll: the check runs
  QVERIFY(form.checkAsYouType().on());
  settle(form);
  QVERIFY(editorPane(form)->checkMark().has_value());
  QCOMPARE(editorPane(form)->checkMark()->line, 2);
  QVERIFY(form.document().isSaved());
  QCOMPARE(form.messagePane()->toPlainText(), pane);
  QCOMPARE(filesIn(f.dir.path()), files);
  QCOMPARE(form.autoPanOn(), autoPan);
  QVERIFY(f.services.boxes.empty());
  QVERIFY(f.services.player.calls.isEmpty());
}

// The text is fixed while the check of the failing text runs: its result is stale.
void CheckAsYouTypeTest::aResultTakenBeforeAnEditNeverPaints() {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(FAILING);
  form.action("checkAsYouType")->trigger();  // checks at once
  editorPane(form)->setPlainText(CLEAN);
  settle(form);
  QVERIFY(!pane(form).checkMark());
  form.checkAsYouType().checkNow();
  settle(form);
  QVERIFY(!pane(form).checkMark());
}

// F9 clears the check's mark, drops the running check and marks its own; a later check of the
// same text adds no second mark on that line.
void CheckAsYouTypeTest::compileAndPlayWhileACheckRunsKeepsItsMark() {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(FAILING);
  form.action("checkAsYouType")->trigger();
  settle(form);
  QVERIFY(pane(form).checkMark().has_value());
  size_t results = 0;
  connect(&form.checkAsYouType(), &CheckAsYouType::checked, this, [&results] { ++results; });
  form.checkAsYouType().checkNow();
  form.N4Click();
  QVERIFY(pane(form).errorMark().has_value());
  settle(form);
  QCOMPARE(results, size_t(0));
  QVERIFY(pane(form).errorMark().has_value());
  QVERIFY(!pane(form).checkMark());
  form.checkAsYouType().checkNow();
  settle(form);
  QCOMPARE(results, size_t(1));
  QVERIFY(!pane(form).checkMark());
  QCOMPARE(pane(form).errorMark()->line, 1);
}

void CheckAsYouTypeTest::theSwitchFollowsTheRollUntilTheUserSetsIt() {
  EditorFixture f;
  {
    TForm1& form = f.start();
    QAction* toggle = form.action("checkAsYouType");
    QVERIFY(toggle->isCheckable() && !toggle->isChecked());
    form.checkAsYouType().setRollShown(true);
    QVERIFY(toggle->isChecked());
    form.checkAsYouType().setRollShown(false);
    QVERIFY(!toggle->isChecked());
    QVERIFY(!QFile::exists(f.paths.additionalSettingsFile));  // nothing chosen, nothing written
    toggle->trigger();
    toggle->trigger();  // the user turns it on and off again
    form.checkAsYouType().setRollShown(true);
    QVERIFY(!toggle->isChecked());
    // Off, typing checks nothing.
    typeText(form, FAILING);
    QTest::qWait(CHECK_IDLE_MS * 2);
    QVERIFY(!form.checkAsYouType().check().busy() && !pane(form).checkMark());
    form.document().setSaved(true);
    QVERIFY(f.closeWindow());
  }
  QCOMPARE(QSettings(f.paths.additionalSettingsFile, QSettings::IniFormat)
               .value("Check/AsYouType")
               .toString(),
           QString("false"));
  TForm1& again = f.start();
  again.checkAsYouType().setRollShown(true);
  QVERIFY(!again.action("checkAsYouType")->isChecked());
}

QTEST_MAIN(CheckAsYouTypeTest)
#include "check_as_you_type_test.moc"
