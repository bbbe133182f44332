// Scenario tests of the find bar and redo, driven through the window's actions and keys: the
// incremental search and what the bar says, match case and whole word, next and previous
// around the ends (said in the bar), the count of the matches and which one is current, a jump
// to the middle of the pane, replace one and all (one undo step, within the capacity), and redo.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "editor/ui/logo_form.h"
#include "editor/view/find_bar.h"
#include "editor/view/source_edit.h"
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
  editorPane(form)->setPlainText(text);
  QTextCursor cursor = editorPane(form)->textCursor();
  cursor.setPosition(caret);
  editorPane(form)->setTextCursor(cursor);
  editorPane(form)->setFocus();
  return form;
}

// The pane's selection as "start-end".
QString selection(const TForm1& form) {
  const QTextCursor cursor = editorPane(form)->textCursor();
  return QString("%1-%2").arg(cursor.selectionStart()).arg(cursor.selectionEnd());
}

// The selections after each of `count` presses of a key in the search field.
QStringList press(TForm1& form, Qt::Key key, Qt::KeyboardModifiers modifiers, int count) {
  QStringList selections;
  for (int i = 0; i < count; ++i) {
    QTest::keyClick(findBar(form)->findField, key, modifiers);
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
  void theBarCountsTheMatchesAndSaysWhichIsCurrent();
  void theCountAgreesWithWhatFindFinds();
  void wrappingAroundIsSaidInTheBar();
  void aJumpBringsTheMatchToTheMiddleOfThePane();
  void theFirstReplaceReplacesTheCurrentMatch();
  void redoFromTheMenuAndOnceForEachKey();
};

void FindReplaceTest::typingSelectsTheFirstMatchAtOrAfterTheCaret() {
  EditorFixture f;
  TForm1& form = startWith(f, "ab1 AB2\nab3", 1);
  QTest::keyClick(editorPane(form), Qt::Key_F, Qt::ControlModifier);
  QVERIFY(!findBar(form)->isHidden() && findBar(form)->replaceRow->isHidden());
  QCOMPARE(QApplication::focusWidget(), findBar(form)->findField);
  const QColor base = findBar(form)->findField->palette().color(QPalette::Base);
  QTest::keyClicks(findBar(form)->findField, "ab");
  QCOMPARE(selection(form), QString("4-6"));
  QCOMPARE(editorPane(form)->extraSelections().size(), 3);  // every match is marked
  QTest::keyClicks(findBar(form)->findField, "2");
  QCOMPARE(selection(form), QString("4-7"));  // the match grows in place
  QTest::keyClicks(findBar(form)->findField, "x");
  QCOMPARE(findBar(form)->message->text(), QString("見つかりません"));
  QVERIFY(findBar(form)->findField->palette().color(QPalette::Base) != base);
  QCOMPARE(selection(form), QString("4-7"));
  QTest::keyClick(findBar(form)->findField, Qt::Key_Backspace);
  QCOMPARE(findBar(form)->message->text(), QString());
  QCOMPARE(findBar(form)->findField->palette().color(QPalette::Base), base);
  editorPane(form)->moveCursor(QTextCursor::End);
  findBar(form)->findField->clear();
  QTest::keyClicks(findBar(form)->findField, "ab1");
  QCOMPARE(selection(form), QString("0-3"));  // wrapped to the start
  // Esc closes the bar, clears the marks and gives the pane the focus back; a selection on one
  // line becomes the search text, one across lines does not.
  QTest::keyClick(findBar(form)->findField, Qt::Key_Escape);
  QVERIFY(findBar(form)->isHidden() && editorPane(form)->extraSelections().isEmpty());
  QCOMPARE(QApplication::focusWidget(), editorPane(form));
  editorPane(form)->selectAll();
  form.view().findAction->trigger();
  QCOMPARE(findBar(form)->findField->text(), QString("ab1"));
  QTextCursor cursor(editorPane(form)->document());
  cursor.setPosition(4);
  cursor.setPosition(7, QTextCursor::KeepAnchor);
  editorPane(form)->setTextCursor(cursor);
  form.view().findAction->trigger();
  QCOMPARE(findBar(form)->findField->text(), QString("AB2"));
  QVERIFY(f.services.boxes.empty());
  // The find marks live beside a compilation's error mark and leave it in place.
  QTest::keyClick(findBar(form)->findField, Qt::Key_Escape);
  editorPane(form)->setErrorMark(0, 1, 1, "report");
  const qsizetype errorMarks = editorPane(form)->extraSelections().size();
  QVERIFY(errorMarks > 0);
  form.view().findNextAction->trigger();
  QCOMPARE(editorPane(form)->extraSelections().size(), errorMarks + 1);
  QTest::keyClick(findBar(form)->findField, Qt::Key_Escape);
  QCOMPARE(editorPane(form)->extraSelections().size(), errorMarks);
}

void FindReplaceTest::matchCaseAndWholeWordNarrowTheMatches() {
  EditorFixture f;
  TForm1& form = startWith(f, "note Note notes NOTE");
  form.view().findAction->trigger();
  QTest::keyClicks(findBar(form)->findField, "note");
  QCOMPARE(editorPane(form)->extraSelections().size(), 4);
  findBar(form)->matchCase->click();
  QCOMPARE(editorPane(form)->extraSelections().size(), 2);
  findBar(form)->wholeWord->click();
  QCOMPARE(editorPane(form)->extraSelections().size(), 1);
  findBar(form)->matchCase->click();
  QCOMPARE(press(form, Qt::Key_F3, Qt::NoModifier, 3),
           (QStringList{"5-9", "16-20", "0-4"}));  // "notes" is no whole word
}

void FindReplaceTest::nextAndPreviousWrapAround() {
  EditorFixture f;
  TForm1& form = startWith(f, "x1 x2\nx3");
  form.view().findAction->trigger();
  QTest::keyClicks(findBar(form)->findField, "x");
  QCOMPARE(press(form, Qt::Key_Return, Qt::NoModifier, 3), (QStringList{"3-4", "6-7", "0-1"}));
  QCOMPARE(press(form, Qt::Key_Return, Qt::ShiftModifier, 2), (QStringList{"6-7", "3-4"}));
  QCOMPARE(press(form, Qt::Key_F3, Qt::ShiftModifier, 2), (QStringList{"0-1", "6-7"}));
  editorPane(form)->setFocus();
  QTest::keyClick(editorPane(form), Qt::Key_F3);
  QCOMPARE(selection(form), QString("0-1"));
}

void FindReplaceTest::replaceOneMovesOnAndReplaceAllIsOneUndoStep() {
  EditorFixture f;
  TForm1& form = startWith(f, "do re do\nmi do");
  QTest::keyClick(editorPane(form), Qt::Key_H, Qt::ControlModifier);
  QVERIFY(!findBar(form)->replaceRow->isHidden());
  QTest::keyClicks(findBar(form)->findField, "do");
  findBar(form)->replaceField->setText("ド");
  findBar(form)->replaceButton->click();
  QCOMPARE(editorText(form), QString("ド re do\nmi do"));
  QCOMPARE(selection(form), QString("5-7"));  // the next match
  findBar(form)->replaceAllButton->click();
  QCOMPARE(editorText(form), QString("ド re ド\nmi ド"));
  QCOMPARE(findBar(form)->message->text(), QString("2 件置換しました"));
  form.view().Undo2->trigger();
  QCOMPARE(editorText(form), QString("ド re do\nmi do"));
  // Ctrl+F in the field is the window's find (a line edit would take it as a cursor key).
  QTest::keyClick(findBar(form)->findField, Qt::Key_F, Qt::ControlModifier);
  QVERIFY(findBar(form)->replaceRow->isHidden());
  QVERIFY(f.services.boxes.empty());
}

void FindReplaceTest::replaceStopsAtTheCapacity() {
  EditorFixture f;
  // Lines of 100 bytes (a line end counts 2) up to the capacity, the last ending in "bb".
  const QString lines = (QString(98, 'a') + '\n').repeated(EDITOR_INPUT_LIMIT / 100 - 1);
  TForm1& form = startWith(f, lines + QString(98, 'a') + "bb");
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  form.view().replaceAction->trigger();
  findBar(form)->findField->setText("b");
  findBar(form)->replaceField->setText("cc");  // one byte more for each match
  QCOMPARE(findBar(form)->replaceAll(), -1);
  QCOMPARE(findBar(form)->message->text(),
           QString("置換後のサイズが 1000000 バイトを超えるため置換しません"));
  form.view().findNextAction->trigger();
  findBar(form)->replaceButton->click();
  QVERIFY(editorText(form).endsWith("abb"));
  editorPane(form)->setPlainText(lines + QString(96, 'a') + "bb");
  QCOMPARE(findBar(form)->replaceAll(), 2);  // up to the capacity exactly
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  QVERIFY(f.services.boxes.empty());
}

void FindReplaceTest::redoFromTheMenuAndOnceForEachKey() {
  EditorFixture f;
  TForm1& form = startWith(f, "");
  typeText(form, "abc");
  form.view().SelectAll1Click();
  form.view().Delete1Click();
  form.view().updateEditItems();
  QVERIFY(!form.view().redoAction->isEnabled());
  form.view().Undo2->trigger();
  form.view().updateEditItems();
  QVERIFY(form.view().redoAction->isEnabled());
  form.view().redoAction->trigger();
  QCOMPARE(editorText(form), QString());
  QVERIFY(!form.view().redoAction->isEnabled());  // follows at once, without the menu opening
  form.view().Undo1Click();
  form.view().Undo1Click();
  QTest::keyClick(editorPane(form), Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(editorText(form), QString("abc"));  // one step for one key
  QTest::keyClick(editorPane(form), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(editorText(form), QString());
  form.view().Undo1Click();
  form.view().findAction->trigger();  // the focus leaves the pane; the menu's key still redoes
  QTest::keyClick(findBar(form)->matchCase, Qt::Key_Y, Qt::ControlModifier);
  QCOMPARE(editorText(form), QString());
}

void FindReplaceTest::theBarCountsTheMatchesAndSaysWhichIsCurrent() {
  EditorFixture f;
  TForm1& form = startWith(f, "x1 x2\nx3");
  QLabel& count = *findBar(form)->matchCount;
  form.view().findAction->trigger();
  QCOMPARE(count.text(), QString());
  QTest::keyClicks(findBar(form)->findField, "x");
  QCOMPARE(count.text(), QString("1 / 3 件"));
  QTest::keyClick(findBar(form)->findField, Qt::Key_Return);
  QCOMPARE(count.text(), QString("2 / 3 件"));
  QTest::keyClick(findBar(form)->findField, Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClick(findBar(form)->findField, Qt::Key_Return, Qt::ShiftModifier);
  QCOMPARE(count.text(), QString("3 / 3 件"));
  // The caret away from a match: only the count. Edits count again.
  editorPane(form)->moveCursor(QTextCursor::Start);
  QCOMPARE(count.text(), QString("3 件"));
  typeText(form, "x0 ");
  QCOMPARE(count.text(), QString("4 件"));
  form.view().findNextAction->trigger();
  QCOMPARE(count.text(), QString("2 / 4 件"));
  findBar(form)->findField->setText("X");
  findBar(form)->matchCase->click();  // no match any more
  QCOMPARE(count.text(), QString());
  QCOMPARE(findBar(form)->message->text(), QString("見つかりません"));
  // Beyond the marks painted, every match is counted.
  findBar(form)->matchCase->click();
  editorPane(form)->setPlainText(QString("x").repeated(FIND_HIGHLIGHT_LIMIT + 5));
  form.view().GotoLastClick();
  form.view().findPreviousAction->trigger();
  QCOMPARE(count.text(), QString("%1 / %1 件").arg(FIND_HIGHLIGHT_LIMIT + 5));
}

// The bar counts without a cursor for each match; next must step through exactly the matches it
// counted, with whole words, either case, overlapping hits and no-break spaces.
void FindReplaceTest::theCountAgreesWithWhatFindFinds() {
  EditorFixture f;
  const QString text =
      QString("ab abab ab ab Ab aB abc xab ab x%1ab\naaa a b x-- -\nab").arg(QChar(QChar::Nbsp));
  TForm1& form = startWith(f, text);
  form.view().findAction->trigger();
  for (const QString search : {"ab", "aa", "b ab", "x ab", "A", "-"}) {
    for (const bool matchCase : {false, true}) {
      for (const bool wholeWord : {false, true}) {
        QTextDocument::FindFlags flags;
        if (matchCase) flags |= QTextDocument::FindCaseSensitively;
        if (wholeWord) flags |= QTextDocument::FindWholeWords;
        QStringList expected;
        for (QTextCursor at = editorPane(form)->document()->find(search, 0, flags); !at.isNull();
             at = editorPane(form)->document()->find(search, at, flags)) {
          expected << QString("%1-%2").arg(at.selectionStart()).arg(at.selectionEnd());
        }
        findBar(form)->matchCase->setChecked(matchCase);
        findBar(form)->wholeWord->setChecked(wholeWord);
        findBar(form)->findField->setText(search);
        editorPane(form)->moveCursor(QTextCursor::End);
        QStringList stepped;
        for (qsizetype i = 0; i < expected.size(); ++i) {
          form.view().findNextAction->trigger();
          stepped << selection(form) + " " + findBar(form)->matchCount->text();
          expected[i] += QString(" %1 / %2 件").arg(i + 1).arg(expected.size());
        }
        QCOMPARE(stepped, expected);
      }
    }
  }
}

void FindReplaceTest::wrappingAroundIsSaidInTheBar() {
  EditorFixture f;
  TForm1& form = startWith(f, "x1 x2\nx3", 4);
  form.view().findAction->trigger();
  QTest::keyClicks(findBar(form)->findField, "x");
  QCOMPARE(selection(form), QString("6-7"));
  QCOMPARE(findBar(form)->message->text(), QString());
  form.view().findNextAction->trigger();
  QCOMPARE(selection(form), QString("0-1"));
  QCOMPARE(findBar(form)->message->text(), QString("先頭から検索しました"));
  form.view().findNextAction->trigger();
  QCOMPARE(findBar(form)->message->text(), QString());
  form.view().findPreviousAction->trigger();
  form.view().findPreviousAction->trigger();
  QCOMPARE(selection(form), QString("6-7"));
  QCOMPARE(findBar(form)->message->text(), QString("末尾から検索しました"));
  // Typing a search that only matches before the caret wraps too.
  editorPane(form)->moveCursor(QTextCursor::End);
  findBar(form)->findField->clear();
  QTest::keyClicks(findBar(form)->findField, "x");
  QCOMPARE(selection(form), QString("0-1"));
  QCOMPARE(findBar(form)->message->text(), QString("先頭から検索しました"));
}

// Qt shows a found match on the pane's last line, with nothing after it in sight.
void FindReplaceTest::aJumpBringsTheMatchToTheMiddleOfThePane() {
  EditorFixture f;
  QString text;
  for (int i = 0; i < 3000; ++i) text += i % 500 == 250 ? "marker\n" : "line\n";
  TForm1& form = startWith(f, text);
  SourceEdit& edit = *editorPane(form);
  const auto caretHeight = [&edit] {
    return double(edit.cursorRect().center().y()) / edit.viewport()->height();
  };
  form.view().findAction->trigger();
  QTest::keyClicks(findBar(form)->findField, "marker");
  QCOMPARE(edit.textCursor().blockNumber(), 250);
  QVERIFY2(caretHeight() > 0.4 && caretHeight() < 0.6, qPrintable(QString::number(caretHeight())));
  for (int line : {750, 1250}) {
    form.view().findNextAction->trigger();
    QCOMPARE(edit.textCursor().blockNumber(), line);
    QVERIFY2(caretHeight() > 0.4 && caretHeight() < 0.6,
             qPrintable(QString::number(caretHeight())));
  }
  form.view().findPreviousAction->trigger();
  QCOMPARE(edit.textCursor().blockNumber(), 750);
  QVERIFY2(caretHeight() > 0.4 && caretHeight() < 0.6, qPrintable(QString::number(caretHeight())));
  // A match already in view stays where it is.
  findBar(form)->findField->setText("line");
  const int top = edit.cursorForPosition({0, 0}).blockNumber();
  form.view().findNextAction->trigger();
  QCOMPARE(edit.textCursor().blockNumber(), 751);
  QCOMPARE(edit.cursorForPosition({0, 0}).blockNumber(), top);
}

// A search text kept from before, the bar closed and the caret moved: opening the replace row
// makes the match after the caret the current one, and the first click replaces it.
void FindReplaceTest::theFirstReplaceReplacesTheCurrentMatch() {
  EditorFixture f;
  TForm1& form = startWith(f, "do re do\nmi do");
  form.view().findAction->trigger();
  QTest::keyClicks(findBar(form)->findField, "do");
  QTest::keyClick(findBar(form)->findField, Qt::Key_Escape);
  QTextCursor caret = editorPane(form)->textCursor();
  caret.setPosition(3);
  editorPane(form)->setTextCursor(caret);
  form.view().replaceAction->trigger();
  QCOMPARE(selection(form), QString("6-8"));
  QCOMPARE(findBar(form)->matchCount->text(), QString("2 / 3 件"));
  findBar(form)->replaceField->setText("ド");
  findBar(form)->replaceButton->click();
  QCOMPARE(editorText(form), QString("do re ド\nmi do"));
  QCOMPARE(selection(form), QString("11-13"));
  QCOMPARE(findBar(form)->matchCount->text(), QString("2 / 2 件"));
  // A selection in the pane is left alone: across lines it stays, on one line it is searched.
  editorPane(form)->selectAll();
  form.view().replaceAction->trigger();
  QCOMPARE(selection(form), QString("0-13"));
  QCOMPARE(findBar(form)->findField->text(), QString("do"));
}

QTEST_MAIN(FindReplaceTest)
#include "find_replace_test.moc"
