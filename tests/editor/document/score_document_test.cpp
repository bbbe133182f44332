// The score document without a window: what open, save, save as and close do to the file name
// and the saved state (and the signals a view follows), the refusals as values, the encoding a
// file opens in and every write keeps, the conversions, and the backup file's start states (with
// the reason when it cannot be made), the lock that a second instance never takes while backups
// are written, recovery and end of run.
#include "editor/document/score_document.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <cerrno>
#include <cstring>
#include <memory>

#include "tests/editor/support/test_files.h"

namespace {

QString unavailableNotice(const QString& what, const QString& path, int error) {
  return QString(" [注意] %1 %2 を作れないため, 自動backupは作動しません: %3")
      .arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace

class ScoreDocumentTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    document = std::make_unique<ScoreDocument>(path("state/!!tarvik32.tmp"));
    text = &document->text();
  }
  void cleanup() {
    document.reset();
    text = nullptr;
  }
  void openEditSaveAndCloseMoveThroughTheFourStates();
  void failuresComeBackAsValuesAndChangeNothing();
  void backupStartStates();
  void backupFilesThatCannotBeMadeAreNamedWithTheReason();
  void backupFilesAreNeverOpenedThroughALink();
  void aSecondInstanceNeverTakesTheLockWhileBackupsAreWritten();
  void endOfRunKeepsOrRemovesTheBackup();
  void theLastResortHoldsTheTextOfTheLastIdleMomentUntilTheRunEnds();
  void everyWriteKeepsTheEncodingAndTheMark();
  void convertingToUtf8KeepsBytesWithoutCharacters();
  void convertingToCodePage932RefusesWhatItCannotHold();
  void byteAndCharacterColumnsConvertBothWays();

 private:
  QString path(const QString& name) const { return dir->filePath(name); }
  std::unique_ptr<QTemporaryDir> dir;
  QTextDocument* text = nullptr;  // the document's
  std::unique_ptr<ScoreDocument> document;
};

namespace {

const QByteArray MARK = "\xEF\xBB\xBF";
const QByteArray UTF8_SCORE = "cr(\"\xE8\x91\x97\")\r\n// \xE3\x81\x82\x80\r\n";  // a stray byte
const QByteArray CP932_SCORE = "cr(\"\x92\x98\")\r\n// \x82\xA0\x80\r\n";

}  // namespace

void ScoreDocumentTest::openEditSaveAndCloseMoveThroughTheFourStates() {
  writeTestFile(path("song.fms"), "a\r\nb");
  QSignalSpy saved(document.get(), &ScoreDocument::savedChanged);
  QSignalSpy replaced(document.get(), &ScoreDocument::textReplaced);
  QVERIFY(document->load(path("song.fms")).ok);
  QVERIFY(document->hasFileName() && document->isSaved());
  QCOMPARE(document->midiOutputPath(), path("song.mid"));
  QCOMPARE(document->size(), qsizetype(4));
  QCOMPARE(replaced.size(), 1);
  QCOMPARE(saved.last().at(0).toBool(), true);  // the last word after a load: saved

  QTextCursor(text).insertText("x");
  QVERIFY(!document->isSaved());
  QCOMPARE(saved.last().at(0).toBool(), false);
  QVERIFY(document->save().ok);
  QVERIFY(document->isSaved());
  QCOMPARE(readTestFile(path("song.fms")), QByteArray("xa\r\nb"));
  QCOMPARE(readTestFile(path("song.bak")), QByteArray("a\r\nb"));

  QVERIFY(document->saveAs(path("other.fms")).ok);
  QCOMPARE(document->sourcePath(), path("other.fms"));
  QCOMPARE(document->midiOutputPath(), path("other.mid"));

  document->close();
  QVERIFY(text->isEmpty() && document->isSaved() && !document->hasFileName());
  QCOMPARE(saved.last().at(0).toBool(), true);
}

void ScoreDocumentTest::failuresComeBackAsValuesAndChangeNothing() {
  writeTestFile(path("song.fms"), "on disk");
  QVERIFY(document->load(path("song.fms")).ok);
  QTextCursor(text).insertText("\xF0\x9F\x8E\xB5 ");  // an emoji: no code page 932 bytes
  const DocumentOutcome refused = document->save();
  QVERIFY(!refused.ok);
  QCOMPARE(refused.boxText,
           QString("保存できません.\n1 行目の文字「\xF0\x9F\x8E\xB5」(U+1F3B5) は\n"
                   "シフトJIS(コードページ932)で表せません."));
  QCOMPARE(readTestFile(path("song.fms")), QByteArray("on disk"));
  QVERIFY(!QFile::exists(path("song.bak")));
  QVERIFY(!document->isSaved());

  // A failed open keeps the text and leaves the document untitled and saved.
  const DocumentOutcome missing = document->load(path("missing.fms"));
  QVERIFY(!missing.ok);
  QCOMPARE(missing.boxText, QString("OPENできません"));
  QVERIFY(text->toPlainText().endsWith("on disk"));
  QVERIFY(!document->hasFileName() && document->isSaved());
  QVERIFY(document->sourcePath().isEmpty());
}

void ScoreDocumentTest::backupStartStates() {
  // Fresh: the folder is made and the file created empty and locked.
  QCOMPARE(document->takeBackupLock().start, BackupStart::Fresh);
  QVERIFY(document->backupActive());
  QTextCursor(text).insertText("typed");
  QVERIFY(document->writeBackup().ok);
  QCOMPARE(readTestFile(path("state/!!tarvik32.tmp")), QByteArray("typed"));

  // A second document on the same file: held elsewhere, no backups.
  ScoreDocument other(path("state/!!tarvik32.tmp"));
  QCOMPARE(other.takeBackupLock().start, BackupStart::HeldElsewhere);
  QVERIFY(!other.backupActive());

  // Once the first is gone without ending its run, its text is a left-over: recovered untitled.
  document.reset();
  ScoreDocument third(path("state/!!tarvik32.tmp"));
  QTextDocument& thirdText = third.text();
  writeTestFile(path("song.fms"), "file");
  QVERIFY(third.load(path("song.fms")).ok);
  QCOMPARE(third.takeBackupLock().start, BackupStart::LeftOver);
  third.recoverBackup();
  QCOMPARE(thirdText.toPlainText(), QString("typed"));
  QVERIFY(!third.hasFileName() && !third.isSaved());

  // A folder that cannot be made: no backups, and the notice names the folder and the reason.
  writeTestFile(path("plain"), "a file where the folder should be");
  ScoreDocument fourth(path("plain/state/!!tarvik32.tmp"));
  const BackupStartOutcome noFolder = fourth.takeBackupLock();
  QCOMPARE(noFolder.start, BackupStart::Unavailable);
  QCOMPARE(noFolder.notice, unavailableNotice("フォルダ", path("plain/state"), ENOTDIR));
  QVERIFY(!fourth.backupActive());
}

// What a stuck end of the run writes: the text at the moment this instance took the backup
// file; the edited text once edits settle, in the document's encoding; no file after a save; and
// nothing at all once the run has ended normally, which must not be overwritten with an older text.
void ScoreDocumentTest::theLastResortHoldsTheTextOfTheLastIdleMomentUntilTheRunEnds() {
  const QString backup = path("state/!!tarvik32.tmp");
  QTextCursor(text).insertText("before the lock");
  QCOMPARE(document->takeBackupLock().start, BackupStart::Fresh);
  QCOMPARE(document->lastResort().keptText(), QString("before the lock"));
  QVERIFY(document->convertTo(TextEncoding::Utf8).ok);
  QTextCursor(text).insertText("\u00e9\n");
  QTRY_COMPARE(document->lastResort().keptText(), QString("\u00e9\nbefore the lock"));
  QVERIFY(document->lastResort().write());
  QCOMPARE(readTestFile(backup), MARK + "\xC3\xA9\r\nbefore the lock");  // ASCII got the mark
  QVERIFY(!document->lastResort().write());                              // once only

  QVERIFY(document->saveAs(path("song.fms")).ok);
  QVERIFY(!document->lastResort().write());
  QVERIFY(!QFile::exists(backup));

  QTextCursor(text).insertText("after the end");
  QTRY_VERIFY(!document->lastResort().keptText().isEmpty());
  writeTestFile(backup, "written by the normal end");
  QVERIFY(document->releaseBackup(true));
  QVERIFY(!document->lastResort().write());
  QCOMPARE(readTestFile(backup), QByteArray("written by the normal end"));
}

// Every start that cannot own the backup says so, and gives up the lock: the next start is not
// told that another instance runs.
void ScoreDocumentTest::backupFilesThatCannotBeMadeAreNamedWithTheReason() {
  // A start over `backup` that finds a folder at `blocked`.
  const auto refusedStart = [this](const QString& backup, const QString& blocked) {
    ScoreDocument other(path(backup));
    const BackupStartOutcome outcome = other.takeBackupLock();
    QCOMPARE(outcome.start, BackupStart::Unavailable);
    QCOMPARE(outcome.notice, unavailableNotice("ファイル", path(blocked), EISDIR));
    QVERIFY(!other.backupActive() && !other.backupLock().held());
  };
  QVERIFY(QDir(dir->path()).mkpath("state/!!tarvik32.tmp"));
  for (int start = 0; start < 2; ++start) {
    refusedStart("state/!!tarvik32.tmp", "state/!!tarvik32.tmp");
  }
  QVERIFY(QDir(dir->path()).mkpath("locked/!!tarvik32.lock"));
  refusedStart("locked/!!tarvik32.tmp", "locked/!!tarvik32.lock");
}

// Links planted at either name are refused, never followed: the file they point to stays.
void ScoreDocumentTest::backupFilesAreNeverOpenedThroughALink() {
  writeTestFile(path("victim"), "precious");
  QVERIFY(QDir(dir->path()).mkdir("state"));
  QVERIFY(QFile::link(path("victim"), path("state/!!tarvik32.tmp")));
  BackupLock lock(path("state/!!tarvik32.tmp"));
  QVERIFY(lock.exists());
  QCOMPARE(lock.checkRegular().error, ELOOP);
  QCOMPARE(lock.createEmpty().error, ELOOP);
  QCOMPARE(document->takeBackupLock().start, BackupStart::Unavailable);
  QVERIFY(QFile::remove(path("state/!!tarvik32.tmp")));
  QVERIFY(QFile::remove(path("state/!!tarvik32.lock")));
  QVERIFY(QFile::link(path("victim"), path("state/!!tarvik32.lock")));
  QCOMPARE(lock.acquire().error, ELOOP);
  QCOMPARE(readTestFile(path("victim")), QByteArray("precious"));
}

// A first editor in a child process writes backup after backup while a second, here, starts
// over and over. The lock never changes hands: the second is always told that another instance
// runs, and the first still holds its lock after every backup. The first then stays until it is
// killed, so that the end of its run is no start of a second instance's chance.
void ScoreDocumentTest::aSecondInstanceNeverTakesTheLockWhileBackupsAreWritten() {
  constexpr int BACKUPS = 200;
  const QString backup = path("state/!!tarvik32.tmp");
  int report[2];
  QVERIFY(::pipe(report) == 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(report[0]);
    ScoreDocument first(backup);
    QTextDocument& firstText = first.text();
    if (first.takeBackupLock().start != BackupStart::Fresh) ::_exit(1);
    QTextCursor(&firstText).insertText("the first editor's text");
    if (::write(report[1], "s", 1) != 1) ::_exit(2);
    for (int round = 0; round < BACKUPS; ++round) {
      if (!first.writeBackup().ok) ::_exit(3);
      if (!first.backupLock().held()) ::_exit(4);
    }
    if (::write(report[1], "d", 1) != 1) ::_exit(5);
    for (;;) ::pause();
  }
  ::close(report[1]);
  char started = 0;
  const bool running = ::read(report[0], &started, 1) == 1;
  ::fcntl(report[0], F_SETFL, O_NONBLOCK);
  ScoreDocument second(backup);
  QTextDocument& secondText = second.text();
  int starts = 0;
  int taken = 0;
  char done = 0;
  ssize_t got = -1;
  while (running && got < 0) {
    ++starts;
    if (second.takeBackupLock().start != BackupStart::HeldElsewhere) {
      ++taken;
      second.releaseBackup(true);
    }
    got = ::read(report[0], &done, 1);  // -1 while the backups go on, 0 when the first failed
  }
  ::close(report[0]);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  QVERIFY2(running && got == 1 && done == 'd',
           qPrintable(QString("the first editor ended with status %1").arg(status)));
  QVERIFY2(taken == 0, qPrintable(QString("taken at %1 of %2 starts").arg(taken).arg(starts)));
  // Once the first is gone without ending its run, its last backup is offered.
  QCOMPARE(second.takeBackupLock().start, BackupStart::LeftOver);
  second.recoverBackup();
  QCOMPARE(secondText.toPlainText(), QString("the first editor's text"));
}

void ScoreDocumentTest::endOfRunKeepsOrRemovesTheBackup() {
  QCOMPARE(document->takeBackupLock().start, BackupStart::Fresh);
  QVERIFY(!document->preserveUnsavedText());  // nothing edited: nothing to keep
  QTextCursor(text).insertText("edited");
  QVERIFY(document->preserveUnsavedText());
  QVERIFY(document->releaseBackup(true));
  QCOMPARE(readTestFile(path("state/!!tarvik32.tmp")), QByteArray("edited"));

  ScoreDocument next(path("state/!!tarvik32.tmp"));
  QCOMPARE(next.takeBackupLock().start, BackupStart::LeftOver);
  QVERIFY(next.releaseBackup(false));
  QVERIFY(!QFile::exists(path("state/!!tarvik32.tmp")));
}

QTEST_MAIN(ScoreDocumentTest)
#include "score_document_test.moc"

// A file opens in the encoding its bytes show; save, save as and the backup write it back, the
// mark kept: unedited byte for byte, edited with the edit in that encoding. Close starts again
// in code page 932.
void ScoreDocumentTest::everyWriteKeepsTheEncodingAndTheMark() {
  QSignalSpy changed(document.get(), &ScoreDocument::encodingChanged);
  const char* const japanese = "cr(\"著\")\n// あ";
  const struct {
    QByteArray file;
    TextEncoding encoding;
    bool mark;
    const char* start;  // of the text
  } files[] = {
      {MARK + UTF8_SCORE, TextEncoding::Utf8, true, japanese},
      {"cr(\"\xE8\x91\x97\")\r\n// \xE3\x81\x82\r\n", TextEncoding::Utf8, false, japanese},
      {UTF8_SCORE, TextEncoding::Cp932, false, "cr(\""},  // the stray byte is no UTF-8
      {CP932_SCORE, TextEncoding::Cp932, false, japanese},
      {"ch1{\"c\"}", TextEncoding::Cp932, false, "ch1{"},
  };
  for (const auto& [file, encoding, mark, start] : files) {
    writeTestFile(path("song.fms"), file);
    QVERIFY(document->load(path("song.fms")).ok);
    QCOMPARE(document->encoding(), encoding);
    QCOMPARE(document->hasByteOrderMark(), mark);
    QVERIFY(text->toPlainText().startsWith(QString::fromUtf8(start)));
    document->setSaved(false);
    QVERIFY(document->save().ok);
    QCOMPARE(readTestFile(path("song.fms")), file);
    QVERIFY(document->saveAs(path("copy.fms")).ok);
    QCOMPARE(readTestFile(path("copy.fms")), file);
  }
  QCOMPARE(changed.size(), 2);  // to UTF-8 and back

  writeTestFile(path("song.fms"), MARK + UTF8_SCORE);
  QVERIFY(document->load(path("song.fms")).ok);
  QTextCursor(text).insertText("鷗");  // not in code page 932
  QVERIFY(document->save().ok);
  QCOMPARE(readTestFile(path("song.fms")), MARK + "\xE9\xB7\x97" + UTF8_SCORE);
  QCOMPARE(document->size(), qsizetype(23));

  QCOMPARE(document->takeBackupLock().start, BackupStart::Fresh);
  QVERIFY(document->writeBackup().ok);
  QCOMPARE(readTestFile(path("state/!!tarvik32.tmp")), MARK + "\xE9\xB7\x97" + UTF8_SCORE);
  document->close();
  QCOMPARE(document->encoding(), TextEncoding::Cp932);
  QCOMPARE(changed.last().at(0).value<TextEncoding>(), TextEncoding::Cp932);
  document->recoverBackup();
  QCOMPARE(document->encoding(), TextEncoding::Utf8);
  QVERIFY(document->hasByteOrderMark());
  QVERIFY(text->toPlainText().startsWith("鷗cr(\"著\")"));
}

// The text stays; the file takes the new encoding at the next save. A byte that has no character
// stays that byte, and then a mark makes the file open as UTF-8 again; so does one for a text
// that is pure ASCII.
void ScoreDocumentTest::convertingToUtf8KeepsBytesWithoutCharacters() {
  const struct {
    QByteArray file;
    QByteArray saved;
  } cases[] = {
      {CP932_SCORE, MARK + UTF8_SCORE},
      {"// \x82\xA0\r\n", "// \xE3\x81\x82\r\n"},
      {"ch1{\"c\"}", MARK + "ch1{\"c\"}"},
  };
  for (const auto& c : cases) {
    writeTestFile(path("song.fms"), c.file);
    QVERIFY(document->load(path("song.fms")).ok);
    const QString before = text->toPlainText();
    QVERIFY(document->convertTo(TextEncoding::Utf8).ok);
    QCOMPARE(text->toPlainText(), before);
    QVERIFY(!document->isSaved());
    QCOMPARE(document->size(), c.saved.size() - (c.saved.startsWith(MARK) ? MARK.size() : 0));
    QVERIFY(document->save().ok);
    QCOMPARE(readTestFile(path("song.fms")), c.saved);
    QCOMPARE(readTestFile(path("song.bak")), c.file);
    QVERIFY(document->load(path("song.fms")).ok);
    QCOMPARE(document->encoding(), TextEncoding::Utf8);
    QCOMPARE(text->toPlainText(), before);
  }
}

void ScoreDocumentTest::convertingToCodePage932RefusesWhatItCannotHold() {
  writeTestFile(path("song.fms"),
                MARK + "cr(\"\xE8\x91\x97\")\r\n// \xE3\x81\x82\xF0\x9F\x8E\xB5 \xE9\xB7\x97\r\n");
  QVERIFY(document->load(path("song.fms")).ok);
  const DocumentOutcome refused = document->convertTo(TextEncoding::Cp932);
  QVERIFY(!refused.ok);
  QCOMPARE(refused.boxText,
           QString("シフトJIS に変換できません.\n2 行目 6 桁目の文字「\xF0\x9F\x8E\xB5」"
                   "(U+1F3B5) は\nシフトJIS(コードページ932)で表せません."));
  QCOMPARE(document->encoding(), TextEncoding::Utf8);
  QVERIFY(document->isSaved());

  text->find(QString::fromUtf8("\xF0\x9F\x8E\xB5")).removeSelectedText();
  text->find("鷗").removeSelectedText();
  QVERIFY(document->convertTo(TextEncoding::Cp932).ok);
  QCOMPARE(document->encoding(), TextEncoding::Cp932);
  QVERIFY(!document->hasByteOrderMark());
  QVERIFY(document->save().ok);
  QCOMPARE(readTestFile(path("song.fms")), QByteArray("cr(\"\x92\x98\")\r\n// \x82\xA0 \r\n"));
}

// Double-byte characters take two bytes in code page 932; in UTF-8 あ takes three and the
// surrogate pair of 🎵 (two UTF-16 units) four. A column past the end gives the line's bytes.
void ScoreDocumentTest::byteAndCharacterColumnsConvertBothWays() {
  writeTestFile(path("song.fms"),
                "ab\r\n\x82\xA0"
                "c \x92\x98\"d\"\r\n");
  QVERIFY(document->load(path("song.fms")).ok);
  const int cp932Bytes[] = {0, 2, 3, 4, 6, 7, 8, 9};  // before each character of line 1, and end
  for (int column = 0; column < 8; ++column) {
    QCOMPARE(document->byteColumn(1, column), cp932Bytes[column]);
    QCOMPARE(document->characterColumn(1, cp932Bytes[column]), column);
  }
  QCOMPARE(document->byteColumn(1, 99), 9);
  QCOMPARE(document->byteColumn(0, 1), 1);

  writeTestFile(path("song.fms"), MARK +
                                      "\xE3\x81\x82\xF0\x9F\x8E\xB5"
                                      "c");
  QVERIFY(document->load(path("song.fms")).ok);
  const int utf8Bytes[] = {0, 3, -1, 7, 8};  // the pair's second unit is no caret position
  for (int column : {0, 1, 3, 4}) {
    QCOMPARE(document->byteColumn(0, column), utf8Bytes[column]);
    QCOMPARE(document->characterColumn(0, utf8Bytes[column]), column);
  }
}
