// The text view alone over its document: a failure's place, given in the compiler's bytes, is
// marked at the characters that hold those bytes (a double-byte character before it counts two
// bytes in code page 932, three in UTF-8), and the check's mark stands apart from the
// compilation's.
#include "editor/view/score_view.h"

#include <QTest>

#include "editor/document/score_document.h"
#include "editor/view/source_edit.h"
#include "tests/editor/support/scripted_services.h"

namespace {

// "あ" holds bytes 6 and 7 of line 1 in code page 932 (6 to 8 in UTF-8); "x" is character 8.
const char SCORE[] = "ch1{ \"c\" }\nch2{ \"あ x\" }\n";

}  // namespace

class ScoreViewTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    document = std::make_unique<ScoreDocument>(QString());
    view = std::make_unique<ScoreView>(services, *document);
    pane()->setPlainText(QString::fromUtf8(SCORE));
  }
  void cleanup() {
    view.reset();
    document.reset();
  }
  void aFailureIsMarkedAtTheCharactersHoldingItsBytes();
  void theChecksMarkStandsApartFromTheCompilations();

 private:
  // The pane, found as a user meets it among the view's widgets.
  SourceEdit* pane() const { return view->findChild<SourceEdit*>(); }
  static void compareMark(const std::optional<ErrorMark>& mark, int line, int commandColumn,
                          int column, const QString& text) {
    QVERIFY(mark.has_value());
    QCOMPARE(mark->line, line);
    QCOMPARE(mark->commandColumn, commandColumn);
    QCOMPARE(mark->column, column);
    QCOMPARE(mark->text, text);
  }

  ScriptedServices services;
  std::unique_ptr<ScoreView> view;
  std::unique_ptr<ScoreDocument> document;
};

void ScoreViewTest::aFailureIsMarkedAtTheCharactersHoldingItsBytes() {
  QCOMPARE(document->encoding(), TextEncoding::Cp932);
  view->markFailure({1, 6, 9, "unknown command"});
  compareMark(pane()->errorMark(), 1, 6, 8, "unknown command");

  QVERIFY(document->convertTo(TextEncoding::Utf8).ok);
  view->markFailure({1, 6, 10, "in UTF-8"});
  compareMark(pane()->errorMark(), 1, 6, 8, "in UTF-8");

  view->clearFailureMark();
  QVERIFY(!pane()->errorMark());
}

void ScoreViewTest::theChecksMarkStandsApartFromTheCompilations() {
  view->markFailure({0, 6, 6, "compiled"});
  view->markCheckFailure({1, 6, 9, "checked"});
  compareMark(pane()->errorMark(), 0, 6, 6, "compiled");
  compareMark(pane()->checkMark(), 1, 6, 8, "checked");
  view->clearCheckFailure();
  QVERIFY(!pane()->checkMark());
  compareMark(pane()->errorMark(), 0, 6, 6, "compiled");
}

QTEST_MAIN(ScoreViewTest)
#include "score_view_test.moc"
