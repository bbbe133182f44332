// Input the editor pane cannot take for want of room is dropped whole and said once, in the
// status bar: a typed key, Return, the pane's and the menu's paste, Shift+Insert and a composed
// text; input that fits and keys that insert nothing say nothing.
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <functional>

#include "tests/editor/support/editor_fixture.h"

class InputRefusedTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void eachRefusedInputIsSaidOnceAndLeavesTheText();
};

void InputRefusedTest::eachRefusedInputIsSaidOnceAndLeavesTheText() {
  EditorFixture f;
  TForm1& form = f.start();
  SourceEdit& edit = *editorPane(form);
  edit.setPlainText(QString(EDITOR_INPUT_LIMIT - 1, 'a'));
  edit.moveCursor(QTextCursor::End);
  QGuiApplication::clipboard()->setText("xy");
  QSignalSpy notices(&edit, &SourceEdit::inputRefused);
  const struct {
    const char* attempt;
    std::function<void()> make;
    int notices;
  } attempts[] = {
      {"a key that fits", [&] { QTest::keyClick(&edit, Qt::Key_B); }, 0},
      {"a typed key", [&] { QTest::keyClick(&edit, Qt::Key_C); }, 1},
      {"a repeated key",
       [&] {
         QKeyEvent repeated(QEvent::KeyPress, Qt::Key_D, Qt::NoModifier, "d", true);
         QApplication::sendEvent(&edit, &repeated);
       },
       1},
      {"Return", [&] { QTest::keyClick(&edit, Qt::Key_Return); }, 1},
      {"the pane's paste", [&] { QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier); }, 1},
      {"Shift+Insert", [&] { QTest::keyClick(&edit, Qt::Key_Insert, Qt::ShiftModifier); }, 1},
      {"the menu's paste", [&] { form.view().Paste2->trigger(); }, 1},
      {"a composed text",
       [&] {
         QInputMethodEvent composed;
         composed.setCommitString("音");
         QApplication::sendEvent(&edit, &composed);
       },
       1},
      {"a key that inserts nothing", [&] { QTest::keyClick(&edit, Qt::Key_Left); }, 0},
  };
  for (const auto& attempt : attempts) {
    notices.clear();
    const QString before = editorText(form);
    attempt.make();
    QVERIFY2(notices.count() == attempt.notices,
             qPrintable(QString("%1: %2 notices").arg(attempt.attempt).arg(notices.count())));
    if (attempt.notices == 0) continue;
    QCOMPARE(editorText(form), before);
    QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
    QCOMPARE(form.statusBar()->currentMessage(),
             QString("入力できる量 (1,000,000 バイト) を超えるため入力できません"));
    form.statusBar()->clearMessage();
  }
  QVERIFY(editorText(form).endsWith("ab"));
  QVERIFY(f.services.boxes.empty());
}

QTEST_MAIN(InputRefusedTest)
#include "input_refused_test.moc"
