// Line numbers and the error mark: the margin follows the line-number toggle and keeps the
// choice in the settings file; a failed compilation marks the failing line and the character
// under the report's "?" for every error code (counted in characters, with double-byte text
// before it), the text shows on hover, and the mark goes at the next compilation or when its
// line is edited.
#include <QAction>
#include <QTest>
#include <QTextBlock>

#include "core/diagnostics.h"
#include "editor/document/text_codec.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// Where the message pane's report puts the error: the line from "ERR -> line [nnnnn]:" and the
// character of the echoed line whose code page 932 bytes hold the pointer line's "?".
struct ReportedPosition {
  int line = -1;
  int column = -1;
};

// The pointer counts columns as code page 932 does, in a UTF-8 document too, so that it stands
// under its character in the pane's fixed-pitch font.
ReportedPosition reportedPosition(const TForm1& form) {
  const QStringList lines = form.messagePane()->toPlainText().split('\n');
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
    if (!lines[i].startsWith("ERR -> line [")) continue;
    const QString echoed = lines[i].mid(20);
    const qsizetype byte = lines[i + 1].indexOf('?') - 20;
    int column = 0;
    QByteArray prefix;
    while (column < echoed.size()) {
      encodeCp932(echoed.left(column + 1), prefix);
      if (prefix.size() > byte) break;
      ++column;
    }
    return {lines[i].mid(13, 5).toInt() - 1, column};
  }
  return {};
}

}  // namespace

class ErrorMarkTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void everyErrorCodeMarksItsLineAndCharacter_data();
  void everyErrorCodeMarksItsLineAndCharacter();
  void markInAUtf8ScoreCountsItsCharacters();
  void failuresOutsideTheScoreMarkNothing();
  void markGoesWithAnEditOfItsLineOrTheNextCompilation();
  void lineNumbersToggleTheMarginAndAreKept();
};

void ErrorMarkTest::everyErrorCodeMarksItsLineAndCharacter_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<int>("code");
  QTest::newRow("1 unknown command") << "ch1{ \"c x\" }" << 1;
  QTest::newRow("10 tie repeated") << "ch1{ \"c&&d\" }" << 10;
  QTest::newRow("12 note number") << "ch1{ \"n97\" }" << 12;
  QTest::newRow("13 octave") << "ch1{ \"o9\" }" << 13;
  QTest::newRow("14 length") << "ch1{ \"l7\" }" << 14;
  QTest::newRow("15 program") << "ch1{ \"@128\" }" << 15;
  QTest::newRow("16 velocity") << "ch1{ \"c v20\" }" << 16;
  QTest::newRow("17 tempo") << "ch1{ \"t5\" }" << 17;
  QTest::newRow("18 duration") << "ch1{ \"c:0\" }" << 18;
  QTest::newRow("19 gate") << "ch1{ \"q9\" }" << 19;
  QTest::newRow("20 tuplet") << "ch1{ \"{c d\" }" << 20;
  QTest::newRow("21 pan") << "ch1{ \"$128\" }" << 21;
  QTest::newRow("22 op paren") << "op(autolr" << 22;
  QTest::newRow("23 op keyword") << "op(xyz)" << 23;
  QTest::newRow("24 cr paren") << "cr(\"abc\"" << 24;
  QTest::newRow("25 cr length") << "cr(\"" + QString(64, 'a') + "\")" << 25;
  QTest::newRow("26 sn paren") << "sn(\"abc\"" << 26;
  QTest::newRow("27 sn length") << "sn(\"" + QString(128, 'b') + "\")" << 27;
  QTest::newRow("999 channel not open") << "\"v10\"" << 999;
  QTest::newRow("other error") << "cr x" << int(ERROR_OTHER);
}

void ErrorMarkTest::everyErrorCodeMarksItsLineAndCharacter() {
  QFETCH(QString, line);
  QFETCH(int, code);
  EditorFixture f;
  TForm1& form = f.start();
  // Double-byte text before the error: the pane's pointer counts bytes, the mark characters.
  typeText(form, "// 楽譜\n/*音楽*/" + line + "\n");
  form.N4Click();
  const ReportedPosition reported = reportedPosition(form);
  QVERIFY2(reported.line >= 1, qPrintable(form.messagePane()->toPlainText()));
  const std::optional<ErrorMark> mark = editorPane(form)->errorMark();
  QVERIFY(mark.has_value());
  QCOMPARE(mark->line, reported.line);
  QCOMPARE(mark->column, reported.column);
  QCOMPARE(mark->text, QString::fromUtf8(errorText(code, FLAVOUR_EDITOR)));
  QVERIFY(editorPane(form)->marginWidth() > 0);  // the sign shows even with the numbers off
}

void ErrorMarkTest::markInAUtf8ScoreCountsItsCharacters() {
  EditorFixture f;
  f.writeFile("utf8.fms", "/* 楽譜 */ ch1{ \"c v20\" }\r\n");  // valid UTF-8 beyond ASCII
  TForm1& form = f.start({f.path("utf8.fms")});
  form.N4Click();
  const ReportedPosition reported = reportedPosition(form);
  const std::optional<ErrorMark> mark = editorPane(form)->errorMark();
  QCOMPARE(mark->line, 0);
  QCOMPARE(mark->column, reported.column);
  QCOMPARE(editorText(form).at(reported.column), QChar('"'));  // just behind the value
  // The whole failing command is marked, not only the blank under the pointer.
  QCOMPARE(editorText(form).mid(mark->commandColumn, mark->column - mark->commandColumn),
           QString("v20"));
}

void ErrorMarkTest::failuresOutsideTheScoreMarkNothing() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "ch1{ \"&\" }\n");  // a lone tie: refused while the MIDI file is written
  form.N4Click();
  QVERIFY(form.messagePane()->toPlainText().contains("compile stopped!") ||
          !form.messagePane()->toPlainText().contains(" ** コンパイル終了 **"));
  QVERIFY(!editorPane(form)->errorMark());
  QCOMPARE(editorPane(form)->marginWidth(), 0);
}

void ErrorMarkTest::markGoesWithAnEditOfItsLineOrTheNextCompilation() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "ch1{\n\"c v20\"\n}\n");
  form.N4Click();
  QCOMPARE(editorPane(form)->errorMark()->line, 1);
  // Hovering the sign shows the report's text; other lines show nothing.
  const auto lineY = [&form](int line) {
    return editorPane(form)
        ->cursorRect(QTextCursor(editorPane(form)->document()->findBlockByNumber(line)))
        .center()
        .y();
  };
  QCOMPARE(editorPane(form)->marginToolTip(QPoint(2, lineY(1))), QString("命令 V? の範囲は 0～16"));
  QVERIFY(editorPane(form)->marginToolTip(QPoint(2, lineY(0))).isEmpty());
  // Lines added above move the mark along; an edit elsewhere leaves it.
  QTextCursor top(editorPane(form)->document());
  top.insertText("// a\n");
  QCOMPARE(editorPane(form)->errorMark()->line, 2);
  QTextCursor(editorPane(form)->document()->findBlockByNumber(3)).insertText(" ");
  QVERIFY(editorPane(form)->errorMark().has_value());
  // Typing on its line takes it away.
  QTextCursor(editorPane(form)->document()->findBlockByNumber(2)).insertText("c");
  QVERIFY(!editorPane(form)->errorMark());
  QCOMPARE(editorPane(form)->extraSelections().size(), 0);

  form.N4Click();
  QVERIFY(editorPane(form)->errorMark().has_value());
  editorPane(form)->setPlainText("ch1{ \"c v20\" }\n");  // the whole text replaced: gone
  QVERIFY(!editorPane(form)->errorMark());
  QCOMPARE(editorPane(form)->marginWidth(), 0);
  form.N4Click();
  QVERIFY(editorPane(form)->errorMark().has_value());
  editorPane(form)->setPlainText("ch1{ \"c\" }\n");
  form.N4Click();  // a clean compilation leaves no mark
  QVERIFY(!editorPane(form)->errorMark());
}

void ErrorMarkTest::lineNumbersToggleTheMarginAndAreKept() {
  EditorFixture f;
  {
    TForm1& form = f.start();
    QCOMPARE(editorPane(form)->marginWidth(), 0);  // off: the pane as it always was
    QVERIFY(form.view().N17->isVisible() && form.view().N17->isEnabled() &&
            form.toolButton("SpeedButton7")->isEnabled());
    QVERIFY(!f.exists("tarvik32.cfg"));
    form.toolButton("SpeedButton7")->click();
    QVERIFY(form.view().N17->isChecked() && editorPane(form)->lineNumbersShown());
    QVERIFY(editorPane(form)->marginWidth() > 0);
    QCOMPARE(static_cast<uint8_t>(f.readFile("tarvik32.cfg").at(16)) & 0x04, 0x04);
    QVERIFY(f.closeWindow());
  }
  TForm1& form = f.start();
  QVERIFY(editorPane(form)->lineNumbersShown() && form.view().N17->isChecked());
  form.N17Click();
  QVERIFY(!editorPane(form)->lineNumbersShown());
  QCOMPARE(static_cast<uint8_t>(f.readFile("tarvik32.cfg").at(16)) & 0x04, 0);
}

QTEST_MAIN(ErrorMarkTest)
#include "error_mark_test.moc"
