// The message pane's error line: the score line a double-click on it jumps to.
#include "editor/ui/error_line.h"

#include <QTest>

class ErrorLineTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void jumpTarget_data();
  void jumpTarget();
};

void ErrorLineTest::jumpTarget_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<int>("target");  // -1: no jump
  QTest::newRow("error on line 12") << "ERR -> line [00012]:ch1{ \"c\" }" << 11;
  QTest::newRow("leading blanks and tabs") << " \t ERR -> line [00003]:x" << 2;
  QTest::newRow("line 1") << "ERR -> line [00001]:x" << 0;
  QTest::newRow("not a number") << "ERR -> line [abcde]:x" << 0;
  QTest::newRow("pointer line") << "            ?" << -1;
  QTest::newRow("no space after ERR") << "ERR" << -1;
  QTest::newRow("lower case") << "err -> line [00004]:x" << -1;
  QTest::newRow("open failure") << "ERR:ファイルオープンできない." << -1;
}

void ErrorLineTest::jumpTarget() {
  QFETCH(QString, line);
  QFETCH(int, target);
  const std::optional<int> jump = errorJumpLine(line);
  QCOMPARE(jump.value_or(-1), target);
}

QTEST_GUILESS_MAIN(ErrorLineTest)
#include "error_line_test.moc"
