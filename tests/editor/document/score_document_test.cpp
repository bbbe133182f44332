// The score document without a window: what open, save, save as and close do to the file name
// and the saved state (and the signals a view follows), the refusals as values, and the backup
// file's start states, recovery and end of run.
#include "editor/document/score_document.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll();
}

}  // namespace

class ScoreDocumentTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    text = std::make_unique<QTextDocument>();
    document = std::make_unique<ScoreDocument>(*text, path("state/!!tarvik32.tmp"));
  }
  void cleanup() {
    document.reset();
    text.reset();
  }
  void openEditSaveAndCloseMoveThroughTheFourStates();
  void failuresComeBackAsValuesAndChangeNothing();
  void backupStartStates();
  void endOfRunKeepsOrRemovesTheBackup();

 private:
  QString path(const QString& name) const { return dir->filePath(name); }
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<QTextDocument> text;
  std::unique_ptr<ScoreDocument> document;
};

void ScoreDocumentTest::openEditSaveAndCloseMoveThroughTheFourStates() {
  writeFile(path("song.fms"), "a\r\nb");
  QSignalSpy saved(document.get(), &ScoreDocument::savedChanged);
  QSignalSpy replaced(document.get(), &ScoreDocument::textReplaced);
  QVERIFY(document->load(path("song.fms")).ok);
  QVERIFY(document->hasFileName() && document->isSaved());
  QCOMPARE(document->midiOutputPath(), path("song.mid"));
  QCOMPARE(document->size(), qsizetype(4));
  QCOMPARE(replaced.size(), 1);
  QCOMPARE(saved.last().at(0).toBool(), true);  // the last word after a load: saved

  QTextCursor(text.get()).insertText("x");
  QVERIFY(!document->isSaved());
  QCOMPARE(saved.last().at(0).toBool(), false);
  QVERIFY(document->save().ok);
  QVERIFY(document->isSaved());
  QCOMPARE(readFile(path("song.fms")), QByteArray("xa\r\nb"));
  QCOMPARE(readFile(path("song.bak")), QByteArray("a\r\nb"));

  QVERIFY(document->saveAs(path("other.fms")).ok);
  QCOMPARE(document->sourcePath(), path("other.fms"));
  QCOMPARE(document->midiOutputPath(), path("other.mid"));

  document->close();
  QVERIFY(text->isEmpty() && document->isSaved() && !document->hasFileName());
  QCOMPARE(saved.last().at(0).toBool(), true);
}

void ScoreDocumentTest::failuresComeBackAsValuesAndChangeNothing() {
  writeFile(path("song.fms"), "on disk");
  QVERIFY(document->load(path("song.fms")).ok);
  QTextCursor(text.get()).insertText("\xF0\x9F\x8E\xB5 ");  // an emoji: no code page 932 bytes
  const DocumentOutcome refused = document->save();
  QVERIFY(!refused.ok);
  QCOMPARE(refused.boxText,
           QString("保存できません.\n1 行目の文字「\xF0\x9F\x8E\xB5」(U+1F3B5) は\n"
                   "シフトJIS(コードページ932)で表せません."));
  QCOMPARE(readFile(path("song.fms")), QByteArray("on disk"));
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
  QCOMPARE(document->takeBackupLock(), BackupStart::Fresh);
  QVERIFY(document->backupActive());
  QTextCursor(text.get()).insertText("typed");
  QVERIFY(document->writeBackup().ok);
  QCOMPARE(readFile(path("state/!!tarvik32.tmp")), QByteArray("typed"));

  // A second document on the same file: held elsewhere, no backups.
  QTextDocument otherText;
  ScoreDocument other(otherText, path("state/!!tarvik32.tmp"));
  QCOMPARE(other.takeBackupLock(), BackupStart::HeldElsewhere);
  QVERIFY(!other.backupActive());

  // Once the first is gone without ending its run, its text is a left-over: recovered untitled.
  document.reset();
  QTextDocument thirdText;
  ScoreDocument third(thirdText, path("state/!!tarvik32.tmp"));
  writeFile(path("song.fms"), "file");
  QVERIFY(third.load(path("song.fms")).ok);
  QCOMPARE(third.takeBackupLock(), BackupStart::LeftOver);
  third.recoverBackup();
  QCOMPARE(thirdText.toPlainText(), QString("typed"));
  QVERIFY(!third.hasFileName() && !third.isSaved());

  // A folder that cannot be made: no backups and nothing to say.
  writeFile(path("plain"), "a file where the folder should be");
  QTextDocument fourthText;
  ScoreDocument fourth(fourthText, path("plain/state/!!tarvik32.tmp"));
  QCOMPARE(fourth.takeBackupLock(), BackupStart::Unavailable);
  QVERIFY(!fourth.backupActive());
}

void ScoreDocumentTest::endOfRunKeepsOrRemovesTheBackup() {
  QCOMPARE(document->takeBackupLock(), BackupStart::Fresh);
  QVERIFY(!document->preserveUnsavedText());  // nothing edited: nothing to keep
  QTextCursor(text.get()).insertText("edited");
  QVERIFY(document->preserveUnsavedText());
  QVERIFY(document->releaseBackup(true));
  QCOMPARE(readFile(path("state/!!tarvik32.tmp")), QByteArray("edited"));

  QTextDocument nextText;
  ScoreDocument next(nextText, path("state/!!tarvik32.tmp"));
  QCOMPARE(next.takeBackupLock(), BackupStart::LeftOver);
  QVERIFY(next.releaseBackup(false));
  QVERIFY(!QFile::exists(path("state/!!tarvik32.tmp")));
}

QTEST_MAIN(ScoreDocumentTest)
#include "score_document_test.moc"
