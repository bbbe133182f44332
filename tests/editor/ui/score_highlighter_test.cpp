// The editor's colours: each character gets the format of the kind the core gives its bytes,
// also behind double-byte text; a block comment and a header command carry over to the next
// lines and stop where the compiler's reading stops; an edit re-reads what it changes; light
// and dark palettes get different, readable colours; a UTF-8 text is read in its own bytes; a
// long text colours the lines that come into view, without counting as an edit, whichever way
// they come into view.
#include "editor/view/score_highlighter.h"

#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include "editor/view/find_bar.h"
#include "editor/view/goto_line_dialog.h"
#include "editor/view/source_edit.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// The kind of every character of a line as one letter each: '.' plain, 'k' keyword, 'c' comment
// (line or block), 's' string, 'n' note, '9' number, 'p' parameter, 't' tie or tuplet, 'h'
// header argument, 'i' ignored.
QString kinds(const ScoreHighlighter& highlighter, const QTextBlock& block) {
  const std::pair<SpanKind, QChar> letters[] = {
      {SPAN_LINE_KEYWORD, 'k'},   {SPAN_LINE_COMMENT, 'c'}, {SPAN_BLOCK_COMMENT, 'c'},
      {SPAN_COMMAND_STRING, 's'}, {SPAN_NOTE, 'n'},         {SPAN_NUMBER, '9'},
      {SPAN_PARAMETER, 'p'},      {SPAN_TIE_TUPLET, 't'},   {SPAN_HEADER_ARGUMENT, 'h'},
      {SPAN_IGNORED, 'i'}};
  QString shown(block.length() - 1, '.');
  for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
    QChar letter = '?';
    for (const auto& [kind, l] : letters) {
      if (highlighter.format(kind) == range.format) letter = l;
    }
    for (int i = range.start; i < range.start + range.length; ++i) shown[i] = letter;
  }
  return shown;
}

// The lines the pane shows whole or in part, each as "number: kinds".
QStringList linesShown(const SourceEdit& edit) {
  QStringList shown;
  const QTextBlock last = edit.cursorForPosition({0, edit.viewport()->height() - 1}).block();
  for (QTextBlock block = edit.cursorForPosition({0, 0}).block(); block.isValid();
       block = block.next()) {
    shown << QString("%1: %2").arg(block.blockNumber()).arg(kinds(edit.highlighter(), block));
    if (block == last) break;
  }
  return shown;
}

// The same lines as a highlighter that colours every line sees them.
QStringList linesColouredWhole(const QString& text, const QStringList& shown) {
  QTextDocument whole;
  whole.documentLayout();
  ScoreHighlighter highlighter(&whole);
  whole.setPlainText(text);
  QStringList expected;
  for (const QString& line : shown) {
    const int number = line.section(':', 0, 0).toInt();
    expected << QString("%1: %2").arg(number).arg(
        kinds(highlighter, whole.findBlockByNumber(number)));
  }
  return expected;
}

}  // namespace

class ScoreHighlighterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void charactersTakeTheirKindsAlsoBehindDoubleByteText();
  void commentsAndHeadersCarryOverLinesAndEditsFollow();
  void lightAndDarkPalettesGetTheirOwnColours();
  void utf8TextIsReadInItsOwnBytes();
  void aLongTextColoursTheLinesThatComeIntoViewQuietly();
  void everyWayIntoViewColoursTheLinesBeforeTheyArePainted();
};

void ScoreHighlighterTest::charactersTakeTheirKindsAlsoBehindDoubleByteText() {
  QTextDocument text;
  text.documentLayout();  // a document reports its changes once it has a layout, as in the pane
  ScoreHighlighter highlighter(&text);
  text.setPlainText("/*音楽*/ch1{ \"c4 v10 &d\" } // 終");
  QCOMPARE(kinds(highlighter, text.firstBlock()), QString("cccccckkkk.sn9sp99stns.k.cccc"));
}

void ScoreHighlighterTest::commentsAndHeadersCarryOverLinesAndEditsFollow() {
  QTextDocument text;
  text.documentLayout();  // a document reports its changes once it has a layout, as in the pane
  ScoreHighlighter highlighter(&text);
  text.setPlainText("ch1{ /* open\nstill \"c\"\nend */ \"c\" }\nsn(\"a\"\n\"b\")");
  QCOMPARE(kinds(highlighter, text.findBlockByNumber(1)), QString("ccccccccc"));
  QCOMPARE(kinds(highlighter, text.findBlockByNumber(2)).left(8), QString("cccccc.s"));
  QCOMPARE(kinds(highlighter, text.findBlockByNumber(4)), QString("hhhk"));
  // Closing the comment on the first line re-reads the lines after it.
  QTextCursor cursor(text.findBlockByNumber(0));
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(" */");
  QCOMPARE(kinds(highlighter, text.findBlockByNumber(1)).mid(6), QString("sns"));
}

void ScoreHighlighterTest::lightAndDarkPalettesGetTheirOwnColours() {
  QTextDocument text;
  text.documentLayout();  // a document reports its changes once it has a layout, as in the pane
  ScoreHighlighter highlighter(&text);
  QPalette light;
  light.setColor(QPalette::Base, Qt::white);
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  for (SpanKind kind : {SPAN_LINE_KEYWORD, SPAN_LINE_COMMENT, SPAN_NOTE, SPAN_NUMBER}) {
    highlighter.usePalette(light);
    const QColor onLight = highlighter.format(kind).foreground().color();
    highlighter.usePalette(dark);
    const QColor onDark = highlighter.format(kind).foreground().color();
    // Each keeps a clear distance in lightness from its background.
    QVERIFY2(onLight.lightness() < 160, qPrintable(onLight.name()));
    QVERIFY2(onDark.lightness() > 110, qPrintable(onDark.name()));
  }
}

// Three bytes a character in UTF-8 against two in code page 932: read in the wrong encoding, the
// spans would land a character late for each one before them.
void ScoreHighlighterTest::utf8TextIsReadInItsOwnBytes() {
  QTextDocument text;
  text.documentLayout();
  ScoreHighlighter highlighter(&text);
  highlighter.setEncoding(TextEncoding::Utf8);
  text.setPlainText("/*音楽*/ch1{ \"c4 v10 &d\" } // é𝄞");
  QCOMPARE(kinds(highlighter, text.firstBlock()), QString("cccccckkkk.sn9sp99stns.k.cccccc"));
  highlighter.setEncoding(TextEncoding::Cp932);  // é and 𝄞 are one '?' each there
  QCOMPARE(kinds(highlighter, text.firstBlock()), QString("cccccckkkk.sn9sp99stns.k.cccccc"));
}

// The block comment opened on the first line reaches the lines coloured later; scrolling and a
// palette change give colours without a change signal, which would count as an edit (the text
// would become unsaved and a compiler mark on the line would go).
void ScoreHighlighterTest::aLongTextColoursTheLinesThatComeIntoViewQuietly() {
  QTextDocument shown;
  SourceEdit edit(shown);
  edit.resize(400, 300);
  edit.show();
  QVERIFY(QTest::qWaitForWindowExposed(&edit));
  QString text = "/* open\n";
  for (int i = 1; i < 3 * ScoreHighlighter::WHOLE_TEXT_LINES; ++i) text += "\"c d e\"\n";
  edit.setPlainText(text + "*/ ch1");
  QTextDocument& document = *edit.document();
  const QTextBlock last = document.lastBlock();
  const QTextBlock beforeLast = last.previous();
  QVERIFY(last.layout()->formats().isEmpty());
  QSignalSpy changes(&document, &QTextDocument::contentsChanged);
  edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
  edit.viewport()->repaint();
  QCOMPARE(kinds(edit.highlighter(), beforeLast), QString("ccccccc"));
  QCOMPARE(kinds(edit.highlighter(), last), QString("cc.kkk"));
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  edit.setPalette(dark);
  QCOMPARE(changes.count(), 0);
  // An edit at the top changes every state after it; the lines in view follow at once.
  QTextCursor(&document).insertText("//");
  QCOMPARE(changes.count(), 1);
  QCOMPARE(kinds(edit.highlighter(), last.previous()), QString("snsnsns"));
}

// The pane moves its view for the caret (keys, a found match, go-to-line, the error jump) without
// the scroll bar's signal; a resize or a font shows more lines at once. Each time, the lines
// painted must be coloured as a reading of the whole text colours them.
void ScoreHighlighterTest::everyWayIntoViewColoursTheLinesBeforeTheyArePainted() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  QString score = "ch1 {\n  \"t120 l4\"\n";
  for (int i = 2; i < 3 * ScoreHighlighter::WHOLE_TEXT_LINES - 1; ++i) {
    score += QString("  \"o4 c\" // %1\n").arg(i == 2500 ? QString("marker") : QString::number(i));
  }
  score += "}";
  typeText(form, score);
  SourceEdit& edit = *editorPane(form);
  QStringList uncoloured;  // the moves after which a line painted differs, with the first one
  const auto check = [&](const QString& move) {
    edit.viewport()->repaint();
    const QStringList shown = linesShown(edit);
    const QStringList expected = linesColouredWhole(score, shown);
    for (qsizetype i = 0; i < shown.size(); ++i) {
      if (shown[i] != expected[i]) {
        uncoloured << move + " -> " + shown[i];
        return;
      }
    }
  };

  QTest::keyClick(&edit, Qt::Key_End, Qt::ControlModifier);
  check("Ctrl+End");
  QTest::keyClick(&edit, Qt::Key_Home, Qt::ControlModifier);
  for (int i = 1; i <= 12; ++i) {
    QTest::keyClick(&edit, Qt::Key_PageDown);
    check(QString("PageDown %1").arg(i));
  }
  form.view().GotoStartClick();
  findBar(form)->openFind();
  QTest::keyClicks(findBar(form)->findField, "marker");
  QCOMPARE(edit.textCursor().blockNumber(), 2500);
  check("incremental find");
  form.view().GotoStartClick();
  QTest::keyClick(findBar(form)->findField, Qt::Key_F3);
  QCOMPARE(edit.textCursor().blockNumber(), 2500);
  check("F3");
  f.services.dialogScripts.push_back([](QDialog& dialog) {
    auto& go = static_cast<TGotoLine&>(dialog);
    go.Edit1->setText("1800");
    go.BitBtn1->click();
    return go.result();
  });
  form.view().N6Click();
  check("go to line");
  form.messagePane()->setPlainText("ERR -> line [02200]:  \"o4 c\"\n");
  form.Memo2DblClick();
  QCOMPARE(edit.textCursor().blockNumber(), 2199);
  check("error jump");
  f.services.player.length = 2000000;
  form.N4Click();
  f.services.player.position = 250 + 500 * 2700;  // a quarter a line from line 2
  form.followScore();
  QVERIFY(edit.cursorForPosition({0, 0}).blockNumber() > 2600);
  check("following the score");
  form.resize(form.width(), form.height() + 400);
  check("a taller window");
  form.view().N12p1->trigger();
  QTest::keyClick(&edit, Qt::Key_PageDown);
  form.view().N8p1->trigger();
  check("a smaller font");
  QVERIFY2(uncoloured.isEmpty(), qPrintable(uncoloured.join("; ")));
}

QTEST_MAIN(ScoreHighlighterTest)
#include "score_highlighter_test.moc"
