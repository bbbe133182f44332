// Scenario tests of the find bar and redo, driven through the window's actions and keys: the
// incremental search and what the bar says, match case and whole word, next and previous
// around the ends, replace one and all (one undo step, within the capacity), and redo.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "editor/view/find_bar.h"
#include "editor/ui/logo_form.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// The window shown and active (shortcuts need that; the start-up logo holds the activation
// until it closes) with `text` in the pane and the caret at `caret`.
TForm1& startWith(EditorFixture& f, const QString& text, int caret = 0) {
  TForm1& form = f.start();
  form.show();
  const bool logoGone = QTest::qWaitFor([&form] { return !form.findChild<TLogoForm*>(); });
  form.activateWindow();
  if (!logoGone || !QTest::qWaitForWindowActive(&form)) qWarning("the window is not active");
  form.view().Memo1->setPlainText(text);
  QTextCursor cursor = form.view().Memo1->textCursor();
  cursor.setPosition(caret);
  form.view().Memo1->setTextCursor(cursor);
  form.view().Memo1->setFocus();
  return form;
}

// The pane's selection as "start-end".
QString selection(const TForm1& form) {
  const QTextCursor cursor = form.view().Memo1->textCursor();
  return QString("%1-%2").arg(cursor.selectionStart()).arg(cursor.selectionEnd());
}

// The selections after each of `count` presses of a key in the search field.
QStringList press(TForm1& form, Qt::Key key, Qt::KeyboardModifiers modifiers, int count) {
  QStringList selections;
  for (int i = 0; i < count; ++i) {
    QTest::keyClick(form.view().FindBar1->findField, key, modifiers);
    selections << selection(form);
  }
  return selections;
}

}  // namespace

class FindReplaceTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void typingSelectsTheFirstMatchAtOrAfterTheCaret();
  void matchCaseAndWholeWordNarrowTheMatches();
  void nextAndPreviousWrapAround();
  void replaceOneMovesOnAndReplaceAllIsOneUndoStep();
  void replaceStopsAtTheCapacity();
  void redoFromTheMenuAndOnceForEachKey();
};

void FindReplaceTest::typingSelectsTheFirstMatchAtOrAfterTheCaret() {
  EditorFixture f;
  TForm1& form = startWith(f, "ab1 AB2\nab3", 1);
  QTest::keyClick(form.view().Memo1, Qt::Key_F, Qt::ControlModifier);
  QVERIFY(!form.view().FindBar1->isHidden() && form.view().FindBar1->replaceRow->isHidden());
  QCOMPARE(QApplication::focusWidget(), form.view().FindBar1->findField);
  const QColor base = form.view().FindBar1->findField->palette().color(QPalette::Base);
  QTest::keyClicks(form.view().FindBar1->findField, "ab");
  QCOMPARE(selection(form), QString("4-6"));
  QCOMPARE(form.view().Memo1->extraSelections().size(), 3);  // every match is marked
  QTest::keyClicks(form.view().FindBar1->findField, "2");
  QCOMPARE(selection(form), QString("4-7"));  // the match grows in place
  QTest::keyClicks(form.view().FindBar1->findField, "x");
  QCOMPARE(form.view().FindBar1->message->text(), QString("見つかりません"));
  QVERIFY(form.view().FindBar1->findField->palette().color(QPalette::Base) != base);
  QCOMPARE(selection(form), QString("4-7"));
  QTest::keyClick(form.view().FindBar1->findField, Qt::Key_Backspace);
  QCOMPARE(form.view().FindBar1->message->text(), QString());
  QCOMPARE(form.view().FindBar1->findField->palette().color(QPalette::Base), base);
  form.view().Memo1->moveCursor(QTextCursor::End);
  form.view().FindBar1->findField->clear();
  QTest::keyClicks(form.view().FindBar1->findField, "ab1");
  QCOMPARE(selection(form), QString("0-3"));  // wrapped to the start
  // Esc closes the bar, clears the marks and gives the pane the focus back; a selection on one
  // line becomes the search text, one across lines does not.
  QTest::keyClick(form.view().FindBar1->findField, Qt::Key_Escape);
  QVERIFY(form.view().FindBar1->isHidden() && form.view().Memo1->extraSelections().isEmpty());
  QCOMPARE(QApplication::focusWidget(), form.view().Memo1);
  form.view().Memo1->selectAll();
  form.view().Find1->trigger();
  QCOMPARE(form.view().FindBar1->findField->text(), QString("ab1"));
  QTextCursor cursor(form.view().Memo1->document());
  cursor.setPosition(4);
  cursor.setPosition(7, QTextCursor::KeepAnchor);
  form.view().Memo1->setTextCursor(cursor);
  form.view().Find1->trigger();
  QCOMPARE(form.view().FindBar1->findField->text(), QString("AB2"));
  QVERIFY(f.services.boxes.empty());
  // The find marks live beside a compilation's error mark and leave it in place.
  QTest::keyClick(form.view().FindBar1->findField, Qt::Key_Escape);
  form.view().Memo1->setErrorMark(0, 1, 1, "report");
  const qsizetype errorMarks = form.view().Memo1->extraSelections().size();
  QVERIFY(errorMarks > 0);
  form.view().FindNext1->trigger();
  QCOMPARE(form.view().Memo1->extraSelections().size(), errorMarks + 1);
  QTest::keyClick(form.view().FindBar1->findField, Qt::Key_Escape);
  QCOMPARE(form.view().Memo1->extraSelections().size(), errorMarks);
}

void FindReplaceTest::matchCaseAndWholeWordNarrowTheMatches() {
  EditorFixture f;
  TForm1& form = startWith(f, "note Note notes NOTE");
  form.view().Find1->trigger();
  QTest::keyClicks(form.view().FindBar1->findField, "note");
  QCOMPARE(form.view().Memo1->extraSelections().size(), 4);
  form.view().FindBar1->matchCase->click();
  QCOMPARE(form.view().Memo1->extraSelections().size(), 2);
  form.view().FindBar1->wholeWord->click();
  QCOMPARE(form.view().Memo1->extraSelections().size(), 1);
  form.view().FindBar1->matchCase->click();
  QCOMPARE(press(form, Qt::Key_F3, Qt::NoModifier, 3),
           (QStringList{"5-9", "16-20", "0-4"}));  // "notes" is no whole word
}

void FindReplaceTest::nextAndPreviousWrapAround() {
  EditorFixture f;
  TForm1& form = startWith(f, "x1 x2\nx3");
  form.view().Find1->trigger();
  QTest::keyClicks(form.view().FindBar1->findField, "x");
  QCOMPARE(press(form, Qt::Key_Return, Qt::NoModifier, 3), (QStringList{"3-4", "6-7", "0-1"}));
  QCOMPARE(press(form, Qt::Key_Return, Qt::ShiftModifier, 2), (QStringList{"6-7", "3-4"}));
  QCOMPARE(press(form, Qt::Key_F3, Qt::ShiftModifier, 2), (QStringList{"0-1", "6-7"}));
  form.view().Memo1->setFocus();
  QTest::keyClick(form.view().Memo1, Qt::Key_F3);
  QCOMPARE(selection(form), QString("0-1"));
}

void FindReplaceTest::replaceOneMovesOnAndReplaceAllIsOneUndoStep() {
  EditorFixture f;
  TForm1& form = startWith(f, "do re do\nmi do");
  QTest::keyClick(form.view().Memo1, Qt::Key_H, Qt::ControlModifier);
  QVERIFY(!form.view().FindBar1->replaceRow->isHidden());
  QTest::keyClicks(form.view().FindBar1->findField, "do");
  form.view().FindBar1->replaceField->setText("ド");
  form.view().FindBar1->replaceButton->click();
  QCOMPARE(editorText(form), QString("ド re do\nmi do"));
  QCOMPARE(selection(form), QString("5-7"));  // the next match
  form.view().FindBar1->replaceAllButton->click();
  QCOMPARE(editorText(form), QString("ド re ド\nmi ド"));
  QCOMPARE(form.view().FindBar1->message->text(), QString("2 件置換しました"));
  form.view().Undo2->trigger();
  QCOMPARE(editorText(form), QString("ド re do\nmi do"));
  // Ctrl+F in the field is the window's find (a line edit would take it as a cursor key).
  QTest::keyClick(form.view().FindBar1->findField, Qt::Key_F, Qt::ControlModifier);
  QVERIFY(form.view().FindBar1->replaceRow->isHidden());
  QVERIFY(f.services.boxes.empty());
}

void FindReplaceTest::replaceStopsAtTheCapacity() {
  EditorFixture f;
  // Lines of 100 bytes (a line end counts 2) up to the capacity, the last ending in "bb".
  const QString lines = (QString(98, 'a') + '\n').repeated(EDITOR_INPUT_LIMIT / 100 - 1);
  TForm1& form = startWith(f, lines + QString(98, 'a') + "bb");
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  form.view().Replace1->trigger();
  form.view().FindBar1->findField->setText("b");
  form.view().FindBar1->replaceField->setText("cc");  // one byte more for each match
  QCOMPARE(form.view().FindBar1->replaceAll(), -1);
  QCOMPARE(form.view().FindBar1->message->text(),
           QString("置換後のサイズが 1000000 バイトを超えるため置換しません"));
  form.view().FindNext1->trigger();
  form.view().FindBar1->replaceButton->click();
  QVERIFY(editorText(form).endsWith("abb"));
  form.view().Memo1->setPlainText(lines + QString(96, 'a') + "bb");
  QCOMPARE(form.view().FindBar1->replaceAll(), 2);  // up to the capacity exactly
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  QVERIFY(f.services.boxes.empty());
}

void FindReplaceTest::redoFromTheMenuAndOnceForEachKey() {
  EditorFixture f;
  TForm1& form = startWith(f, "");
  typeText(form, "abc");
  form.view().SelectAll1Click();
  form.view().Delete1Click();
  form.view().PopupMenu1Popup();
  QVERIFY(!form.view().Redo2->isEnabled());
  form.view().Undo2->trigger();
  form.view().PopupMenu1Popup();
  QVERIFY(form.view().Redo2->isEnabled());
  form.view().Redo2->trigger();
  QCOMPARE(editorText(form), QString());
  QVERIFY(!form.view().Redo2->isEnabled());  // follows at once, without the menu opening
  form.view().Undo1Click();
  form.view().Undo1Click();
  QTest::keyClick(form.view().Memo1, Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(editorText(form), QString("abc"));  // one step for one key
  QTest::keyClick(form.view().Memo1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(editorText(form), QString());
  form.view().Undo1Click();
  form.view().Find1->trigger();  // the focus leaves the pane; the menu's key still redoes
  QTest::keyClick(form.view().FindBar1->matchCase, Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(editorText(form), QString());
}

QTEST_MAIN(FindReplaceTest)
#include "find_replace_test.moc"
