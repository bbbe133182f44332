// The one way the editor writes a file: whole or not at all, the previous version kept as the
// ".bak", the replaced file's permission bits kept, refusals and failed steps that change
// nothing, a temporary file that has no name until it is complete (or a named one where the
// file system has no unnamed files), and a target name that is never empty, whatever moment a
// kill or a full disk strikes.
#include "editor/document/whole_file_writer.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <random>

#include "tests/editor/support/child_process.h"
#include "tests/editor/support/test_files.h"

namespace {

WholeFileOptions withBak(const QString& bak, WriterSystemCalls* calls = nullptr) {
  WholeFileOptions options;
  options.keepPreviousAs = bak;
  options.calls = calls;
  return options;
}

// The writer's system calls, made for real and recorded in order ("rename song.bak"; a hidden
// name shows as "(hidden)"), each refusable with an errno.
class RecordedCalls : public WriterSystemCalls {
 public:
  int refuseUnnamed = 0;   // every O_TMPFILE open fails with this
  int refuseLinks = 0;     // every link fails with this, as on a file system without hard links
  int failingRename = 0;   // the rename, counted from 1, that fails with EIO after doing nothing
  bool failClose = false;  // the close closes, then reports EIO
  QStringList calls;

  int openUnnamed(const char* folder, mode_t mode) override {
    calls << "openUnnamed";
    return refuseUnnamed != 0 ? refuse(refuseUnnamed)
                              : WriterSystemCalls::openUnnamed(folder, mode);
  }
  int link(const char* from, const char* to) override {
    calls << "link " + shown(to);
    return refuseLinks != 0 ? refuse(refuseLinks) : WriterSystemCalls::link(from, to);
  }
  int rename(const char* from, const char* to) override {
    calls << "rename " + shown(to);
    if (++renames_ == failingRename) return refuse(EIO);
    return WriterSystemCalls::rename(from, to);
  }
  int close(int fd) override {
    calls << "close";
    const int closed = WriterSystemCalls::close(fd);
    return failClose ? refuse(EIO) : closed;
  }

 private:
  static int refuse(int error) {
    errno = error;
    return -1;
  }
  static QString shown(const char* path) {
    const QString name = QFileInfo(QFile::decodeName(path)).fileName();
    return name.startsWith('.') ? QString("(hidden)") : name;
  }
  int renames_ = 0;
};

constexpr qsizetype MIB = 1 << 20;

}  // namespace

class WholeFileWriterTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() { dir = std::make_unique<QTemporaryDir>(); }
  void threeSavesLeaveTheSecondInTheBakAndKeepTheMode();
  void refusalsChangeNothing();
  void failedWritesUnderAFileSizeLimitLeaveEverythingAsItWas();
  void theNameIsNeverEmptyWhateverMomentAKillStrikes();
  void theTemporaryFileHasNoNameUntilTheCommit();
  void aKillDuringTheWritesLeavesOnlyThePreviousFiles();
  void refusedUnnamedFilesFallBackToANamedTemporaryFile();
  void groupAndOtherBitsOfAReplacedFileAreKept();
  void aFailedFinalRenamePutsThePreviousFileBack();
  void aFailedCloseIsReportedAndLeavesThePreviousFiles();

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

// While the bytes are written the folder shows only the previous files; the file gets its name
// after the last write and the sync, right before it replaces the target.
void WholeFileWriterTest::theTemporaryFileHasNoNameUntilTheCommit() {
  writeTestFile(path("song.fms"), "previous");
  writeTestFile(path("song.bak"), "older");
  RecordedCalls calls;
  WholeFileWriter writer(path("song.fms"), withBak(path("song.bak"), &calls));
  QVERIFY(writer.open().ok());
  QVERIFY(writer.write(QByteArray(3 * MIB, 'n')).ok());
  QVERIFY(writer.writeAt(0, "N", 1).ok());
  QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
  QVERIFY(writer.commit().ok());
  QCOMPARE(calls.calls, (QStringList{"openUnnamed", "link (hidden)", "close", "link (hidden)",
                                     "rename song.bak", "rename song.fms"}));
  QCOMPARE(readTestFile(path("song.fms")), "N" + QByteArray(3 * MIB - 1, 'n'));
  QCOMPARE(readTestFile(path("song.bak")), QByteArray("previous"));
  QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));

  // A new file takes its name at once, never a temporary one.
  calls.calls.clear();
  QVERIFY(writeFileWhole(path("song.wav"), "RIFF", withBak(QString(), &calls)).ok());
  QCOMPARE(calls.calls, (QStringList{"openUnnamed", "link song.wav", "close"}));
  QCOMPARE(readTestFile(path("song.wav")), QByteArray("RIFF"));
}

// A child writes a score-sized file and an audio-export-sized one in blocks (the large one at
// offsets, as the export writes) and is killed between two blocks at several moments: before
// the first, within, and after the last but before the commit. Nothing but the previous files
// is left in the folder.
void WholeFileWriterTest::aKillDuringTheWritesLeavesOnlyThePreviousFiles() {
  const QString score = path("song.fms");
  const QString bak = path("song.bak");
  writeTestFile(score, "previous");
  writeTestFile(bak, "older");
  const struct {
    qsizetype block;
    int blocks;
    bool atOffsets;
  } files[] = {{64 * 1024, 16, false}, {MIB, 32, true}};
  for (const auto& [block, blocks, atOffsets] : files) {
    for (const int killedAfter : {0, 1, blocks / 2, blocks - 1, blocks}) {
      int written[2];
      QVERIFY(::pipe(written) == 0);
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(written[0]);
        WholeFileWriter writer(score, withBak(bak));
        if (!writer.open().ok()) ::_exit(1);
        const QByteArray bytes(block, 'n');
        for (int i = 0; i <= blocks; ++i) {
          if (i == killedAfter && ::write(written[1], "w", 1) != 1) ::_exit(2);
          if (i == killedAfter) ::pause();
          if (i == blocks) break;
          const WriteOutcome outcome =
              atOffsets ? writer.writeAt(qint64(i) * block, bytes.constData(), block)
                        : writer.write(bytes);
          if (!outcome.ok()) ::_exit(3);
        }
        ::_exit(writer.commit().ok() ? 0 : 4);
      }
      ::close(written[1]);
      char byte = 0;
      const bool reached = ::read(written[0], &byte, 1) == 1;
      ::close(written[0]);
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      const QString moment = QString("%1 blocks of %2 bytes").arg(killedAfter).arg(block);
      QVERIFY2(reached, qPrintable(moment));
      QVERIFY2(entries() == (QStringList{"song.bak", "song.fms"}),
               qPrintable(moment + ": " + entries().join(' ')));
      QCOMPARE(readTestFile(score), QByteArray("previous"));
      QCOMPARE(readTestFile(bak), QByteArray("older"));
    }
  }
}

// File systems without unnamed files refuse them in several ways; each leads to a hidden
// temporary file beside the target, and the save goes on as before.
void WholeFileWriterTest::refusedUnnamedFilesFallBackToANamedTemporaryFile() {
  for (const int refusal : {EOPNOTSUPP, EISDIR, EINVAL}) {
    const QString score = path("song.fms");
    writeTestFile(score, "previous");
    QFile::remove(path("song.bak"));
    RecordedCalls calls;
    calls.refuseUnnamed = refusal;
    WholeFileWriter writer(score, withBak(path("song.bak"), &calls));
    QVERIFY(writer.open().ok());
    QVERIFY(writer.write("next").ok());
    QCOMPARE(entries().size(), 2);  // the score and a hidden temporary file
    QVERIFY(entries().first().startsWith(".song.fms."));
    QVERIFY(writer.commit().ok());
    QCOMPARE(calls.calls, (QStringList{"openUnnamed", "close", "link (hidden)", "rename song.bak",
                                       "rename song.fms"}));
    QCOMPARE(readTestFile(score), QByteArray("next"));
    QCOMPARE(readTestFile(path("song.bak")), QByteArray("previous"));
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
  }
}

// A group-shared score stays shared: the temporary file starts private (0600), so a mode that
// is not 0600 shows that the replaced file's bits were carried over.
void WholeFileWriterTest::groupAndOtherBitsOfAReplacedFileAreKept() {
  RecordedCalls noUnnamedFiles;
  noUnnamedFiles.refuseUnnamed = EOPNOTSUPP;
  for (WriterSystemCalls* calls : {static_cast<WriterSystemCalls*>(nullptr),
                                   static_cast<WriterSystemCalls*>(&noUnnamedFiles)}) {
    for (const mode_t mode : {mode_t(0664), mode_t(0640)}) {
      writeTestFile(path("song.fms"), "previous");
      ::chmod(QFile::encodeName(path("song.fms")).constData(), mode);
      QVERIFY(writeFileWhole(path("song.fms"), "next", withBak(path("song.bak"), calls)).ok());
      QCOMPARE(readTestFile(path("song.fms")), QByteArray("next"));
      QCOMPARE(fileMode(path("song.fms")), mode);
    }
  }
}

// The finished file cannot take the target's name: the target holds the previous version, with
// the previous file moved back where hard links are refused and the ".bak" was made by a rename.
void WholeFileWriterTest::aFailedFinalRenamePutsThePreviousFileBack() {
  const QString score = path("song.fms");
  const QString bak = path("song.bak");
  {
    writeTestFile(score, "previous");
    RecordedCalls calls;
    calls.failingRename = 2;  // after the ".bak"'s
    const WriteOutcome outcome = writeFileWhole(score, "next", withBak(bak, &calls));
    QCOMPARE(outcome.failure, WriteFailure::Replace);
    QCOMPARE(outcome.error, EIO);
    QCOMPARE(readTestFile(score), QByteArray("previous"));
    QCOMPARE(readTestFile(bak), QByteArray("previous"));
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
    // The score and its ".bak" are now one file under two names; the next save still leaves
    // nothing else behind.
    QVERIFY(writeFileWhole(score, "next", withBak(bak)).ok());
    QCOMPARE(readTestFile(score), QByteArray("next"));
    QCOMPARE(readTestFile(bak), QByteArray("previous"));
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
  }
  {
    QVERIFY(QFile::remove(score) && QFile::remove(bak));
    writeTestFile(score, "previous");
    writeTestFile(bak, "older");
    RecordedCalls noLinks;
    noLinks.refuseUnnamed = EOPNOTSUPP;
    noLinks.refuseLinks = EPERM;
    noLinks.failingRename = 2;
    const WriteOutcome outcome = writeFileWhole(score, "next", withBak(bak, &noLinks));
    QCOMPARE(outcome.failure, WriteFailure::Replace);
    QCOMPARE(outcome.error, EIO);
    QCOMPARE(noLinks.calls, (QStringList{"openUnnamed", "close", "link (hidden)", "rename song.bak",
                                         "rename song.fms", "rename song.fms"}));
    QCOMPARE(readTestFile(score), QByteArray("previous"));
    QCOMPARE(entries(), (QStringList{"song.fms"}));
  }
}

// A close can report a failed write-back; the new file is then not trusted.
void WholeFileWriterTest::aFailedCloseIsReportedAndLeavesThePreviousFiles() {
  for (const int unnamedRefusal : {0, EOPNOTSUPP}) {
    writeTestFile(path("song.fms"), "previous");
    writeTestFile(path("song.bak"), "older");
    RecordedCalls calls;
    calls.refuseUnnamed = unnamedRefusal;
    calls.failClose = true;
    const WriteOutcome outcome =
        writeFileWhole(path("song.fms"), "next", withBak(path("song.bak"), &calls));
    QCOMPARE(outcome.failure, WriteFailure::Write);
    QCOMPARE(outcome.error, EIO);
    QCOMPARE(readTestFile(path("song.fms")), QByteArray("previous"));
    QCOMPARE(readTestFile(path("song.bak")), QByteArray("older"));
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
    // A new file is not left behind.
    QCOMPARE(writeFileWhole(path("new.fms"), "next", withBak(QString(), &calls)).error, EIO);
    QCOMPARE(entries(), (QStringList{"song.bak", "song.fms"}));
  }
}

QTEST_GUILESS_MAIN(WholeFileWriterTest)
#include "whole_file_writer_test.moc"
