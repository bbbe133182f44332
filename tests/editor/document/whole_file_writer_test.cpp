// The one way the editor writes a file: whole or not at all, the previous version kept as the
// ".bak", the replaced file's permission bits kept, refusals that change nothing, and a target
// name that is never empty, whatever moment a kill or a full disk strikes.
#include "editor/document/whole_file_writer.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <random>

#include "editor/ui/ending_signals.h"
#include "tests/editor/support/child_process.h"
#include "tests/editor/support/test_files.h"

namespace {

WholeFileOptions withBak(const QString& bak) {
  WholeFileOptions options;
  options.keepPreviousAs = bak;
  return options;
}

}  // namespace

class WholeFileWriterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() { dir = std::make_unique<QTemporaryDir>(); }
  void threeSavesLeaveTheSecondInTheBakAndKeepTheMode();
  void refusalsChangeNothing();
  void failedWritesUnderAFileSizeLimitLeaveEverythingAsItWas();
  void theNameIsNeverEmptyWhateverMomentAKillStrikes();

 private:
  QString path(const QString& name) const { return dir->filePath(name); }
  QStringList entries() const {
    return QDir(dir->path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  }
  std::unique_ptr<QTemporaryDir> dir;
};

void WholeFileWriterTest::threeSavesLeaveTheSecondInTheBakAndKeepTheMode() {
  const QString score = path("song.fms");
  const QString bak = path("song.bak");
  QVERIFY(writeFileWhole(score, "one", withBak(bak)).ok());
  QVERIFY(!QFile::exists(bak));  // nothing to keep the first time
  ::chmod(QFile::encodeName(score).constData(), 0600);
  QVERIFY(writeFileWhole(score, "two", withBak(bak)).ok());
  QVERIFY(writeFileWhole(score, "three", withBak(bak)).ok());
  QCOMPARE(readTestFile(score), QByteArray("three"));
  QCOMPARE(readTestFile(bak), QByteArray("two"));
  QCOMPARE(fileMode(score), mode_t(0600));
  QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));

  // A new file gets the mode a plain create would give it.
  const mode_t mask = ::umask(022);
  QVERIFY(writeFileWhole(path("new.fms"), "x").ok());
  ::umask(mask);
  QCOMPARE(fileMode(path("new.fms")), mode_t(0644));
}

void WholeFileWriterTest::refusalsChangeNothing() {
  // A read-only score, for its owner and for the superuser alike.
  writeTestFile(path("ro.fms"), "old");
  writeTestFile(path("ro.bak"), "older");
  ::chmod(QFile::encodeName(path("ro.fms")).constData(), 0444);
  WriteOutcome outcome = writeFileWhole(path("ro.fms"), "new", withBak(path("ro.bak")));
  QCOMPARE(outcome.failure, WriteFailure::ReadOnly);
  QCOMPARE(readTestFile(path("ro.fms")), QByteArray("old"));
  QCOMPARE(readTestFile(path("ro.bak")), QByteArray("older"));

  // A folder at the score's name is never renamed away.
  QVERIFY(QDir(dir->path()).mkdir("folder.fms"));
  outcome = writeFileWhole(path("folder.fms"), "new", withBak(path("folder.bak")));
  QCOMPARE(outcome.failure, WriteFailure::NotRegularFile);
  QVERIFY(QFileInfo(path("folder.fms")).isDir());

  // The previous version cannot take the ".bak" name: the save stops before anything moves.
  writeTestFile(path("song.fms"), "previous");
  QVERIFY(QDir(dir->path()).mkdir("song.bak"));
  outcome = writeFileWhole(path("song.fms"), "next", withBak(path("song.bak")));
  QCOMPARE(outcome.failure, WriteFailure::KeepPrevious);
  QVERIFY(!describeWriteFailure(outcome).isEmpty());
  QCOMPARE(readTestFile(path("song.fms")), QByteArray("previous"));

  QCOMPARE(entries(), (QStringList{"folder.fms", "ro.bak", "ro.fms", "song.bak", "song.fms"}));
}

// Under `ulimit -f` with the editor's start-up signal handling: every write fails cleanly with
// EFBIG instead of the process being killed, small texts (inside a stream's buffer) and large.
void WholeFileWriterTest::failedWritesUnderAFileSizeLimitLeaveEverythingAsItWas() {
  const QString score = path("song.fms");
  const QString bak = path("song.bak");
  writeTestFile(score, "version two");
  writeTestFile(bak, "version one");
  for (const qsizetype size : {qsizetype(5000), qsizetype(300000)}) {
    const ChildOutcome child = runInChild(
        [&] {
          ignoreFileSizeSignal();
          const WriteOutcome outcome = writeFileWhole(score, QByteArray(size, 'n'), withBak(bak));
          if (outcome.failure != WriteFailure::Write) return 1;
          if (outcome.error != EFBIG) return 2;
          return 0;
        },
        4096);
    QVERIFY2(child.exited && child.status == 0,
             qPrintable(QString("%1 bytes: %2").arg(size).arg(child.describe())));
    QCOMPARE(readTestFile(score), QByteArray("version two"));
    QCOMPARE(readTestFile(bak), QByteArray("version one"));
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
  }
}

// A child saves a large text over and over, alternating two versions; it is killed at random
// moments. After every kill the score's name holds one whole version.
void WholeFileWriterTest::theNameIsNeverEmptyWhateverMomentAKillStrikes() {
  const QString score = path("song.fms");
  const QByteArray a(1 << 20, 'a');
  const QByteArray b(1 << 20, 'b');
  writeTestFile(score, a);
  std::mt19937 random(20261209);
  for (int round = 0; round < 20; ++round) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0;; ++i) writeFileWhole(score, i % 2 ? a : b, withBak(path("song.bak")));
    }
    ::usleep(2000 + random() % 40000);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const QByteArray now = readTestFile(score);
    QVERIFY2(now == a || now == b,
             qPrintable(QString("round %1: %2 bytes").arg(round).arg(now.size())));
  }
}

QTEST_GUILESS_MAIN(WholeFileWriterTest)
#include "whole_file_writer_test.moc"
