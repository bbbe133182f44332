// Scenario tests of the faults that lose work: saves, backups and settings under a file-size
// limit (in a child process, as a shell starts the program), permission bits and read-only
// scores, Save As while playing, the ending signals, the recovered text, and the backup folder.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QTest>

#include "editor/document/backup_lock.h"
#include "editor/settings/options_dialog.h"
#include "editor/ui/ending_signals.h"
#include "editor/ui/player_window.h"
#include "editor/ui/qt_translation.h"
#include "tests/editor/support/child_process.h"
#include "tests/editor/support/editor_fixture.h"
#include "tests/editor/support/test_files.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";
const char SCORE[] = "ch1{ \"t120 o4 l4 c d e f\" }\n";

// The child's checks, each with its own exit status so a failure says which one.
int firstFailed(std::initializer_list<bool> checks) {
  int index = 1;
  for (bool passed : checks) {
    if (!passed) return index;
    ++index;
  }
  return 0;
}

}  // namespace

class NothingLostTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void failedSaveUnderAFileSizeLimitKeepsEverything();
  void failedBackupAndSettingsWritesKeepTheOldFiles();
  void saveKeepsThePermissionsAndRefusesAReadOnlyScore();
  void saveAsWhilePlayingDeletesOnlyTheFilePlayed();
  void temporaryFileRemovedByOthersEndsPlaybackQuietly();
  void terminatingSignalKeepsTheEditedTextForTheNextStart();
  void terminatingSignalWithNothingEditedEndsLikeAClose();
  void terminatingSignalWithTheWindowStuckKeepsTheTextOfTheLastIdleMoment();
  void emptyLeftOverBackupIsRemovedWithoutAQuestion();
  void backupFolderIsPrivateToTheUser();
  void composedInputObeysTheCapacity();
  void qtTextsAreJapanese();
};

void NothingLostTest::failedSaveUnderAFileSizeLimitKeepsEverything() {
  for (const qsizetype size : {qsizetype(5000), qsizetype(200000)}) {
    EditorFixture f;
    f.writeFile("song.fms", "saved text");
    f.writeFile("song.bak", "older text");
    TForm1& form = f.start({f.path("song.fms")});
    typeText(form, QString(size, 'c'));
    const ChildOutcome child = runInChild(
        [&] {
          ignoreFileSizeSignal();  // as the program's start does
          form.Save1Click();
          const bool boxShown = f.services.boxes.size() == 1 &&
                                f.services.boxes[0].text.startsWith("ファイルに書き込めません.\n" +
                                                                    f.path("song.fms") + "\n") &&
                                f.services.boxes[0].icon == BoxIcon::Stop;
          const bool stillEdited =
              !form.document().isSaved() && form.statusText(PANEL_MODIFIED) == "変更あり";
          // The exit still asks; No lets it close.
          f.services.boxAnswers = {BoxAnswer::No};
          const bool closed = f.closeWindow();
          const bool asked =
              f.services.boxes.size() == 2 && f.services.boxes[1].text == SAVE_PROMPT;
          return firstFailed({boxShown, stillEdited, closed, asked});
        },
        4096);
    QVERIFY2(child.exited && child.status == 0,
             qPrintable(QString("%1 characters: %2").arg(size).arg(child.describe())));
    QCOMPARE(f.readFile("song.fms"), QByteArray("saved text"));
    QCOMPARE(f.readFile("song.bak"), QByteArray("older text"));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"song.bak", "song.fms"}));
  }
}

void NothingLostTest::failedBackupAndSettingsWritesKeepTheOldFiles() {
  EditorFixture f;
  f.writeFile("tarvik32.cfg", settingsImage(0x10, 0));
  TForm1& form = f.start();
  typeText(form, "last backup");
  form.document().schedule().idleCountdown = 1;
  form.document().schedule().backupCountdown = 1;
  form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("last backup"));
  typeText(form, QString(20000, 'd'));
  const ChildOutcome child = runInChild(
      [&] {
        ignoreFileSizeSignal();
        form.document().schedule().idleCountdown = 1;
        form.document().schedule().backupCountdown = 1;
        form.Timer1Timer();
        const bool backupBox =
            f.services.boxes.size() == 1 &&
            f.services.boxes[0].text.startsWith("自動バックアップを書き込めません.");
        f.services.dialogScripts.push_back(
            confirmOptions([](OptionsChoice& choice) { choice.startup.AutoSaveAtStart = true; }));
        form.N19Click();
        const bool settingsBox = f.services.boxes.size() == 3 &&
                                 f.services.boxes[1].text == "cfgを開けません\n設定変更は保存不可";
        return firstFailed({backupBox, settingsBox});
      },
      256);  // below the settings file's 512 bytes
  QVERIFY2(child.exited && child.status == 0, qPrintable(child.describe()));
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("last backup"));
  QCOMPARE(f.readFile("tarvik32.cfg"), settingsImage(0x10, 0));
}

void NothingLostTest::saveKeepsThePermissionsAndRefusesAReadOnlyScore() {
  EditorFixture f;
  f.writeFile("private.fms", "secret");
  ::chmod(QFile::encodeName(f.path("private.fms")).constData(), 0600);
  TForm1& form = f.start({f.path("private.fms")});
  typeText(form, "more ");
  form.Save1Click();
  QCOMPARE(f.readFile("private.fms"), QByteArray("more secret"));
  QCOMPARE(fileMode(f.path("private.fms")), mode_t(0600));

  f.writeFile("locked.fms", "locked");
  ::chmod(QFile::encodeName(f.path("locked.fms")).constData(), 0444);
  QVERIFY(form.loadSourceFile(f.path("locked.fms")));
  typeText(form, "changed ");
  form.Save1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QCOMPARE(describeBox(f.services.boxes[0]),
           describeBox({"読み取り専用のため保存できません.\n" + f.path("locked.fms") +
                            "\n名前をつけて保存してください.",
                        std::nullopt, BoxButtons::Ok, BoxIcon::Stop}));
  QCOMPARE(f.readFile("locked.fms"), QByteArray("locked"));
  QVERIFY(!f.exists("locked.bak"));
  QVERIFY(!form.document().isSaved());
  f.services.fileNames = {f.path("unlocked.fms")};
  form.N1Click();
  QCOMPARE(f.readFile("unlocked.fms"), QByteArray("changed locked"));
  QVERIFY(form.document().isSaved());
}

void NothingLostTest::saveAsWhilePlayingDeletesOnlyTheFilePlayed() {
  EditorFixture f;
  f.writeFile("new.mid", "another program's file");
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.N4Click();
  const QString played = form.playback().playPath();
  QVERIFY(played.startsWith(f.paths.tempDir));
  f.services.fileNames = {f.path("new.fms")};
  form.N1Click();
  QCOMPARE(form.document().midiOutputPath(), f.path("new.mid"));
  form.Form2->BitBtn1Click();
  QCOMPARE(f.readFile("new.mid"), QByteArray("another program's file"));
  QVERIFY(!QFile::exists(played));
  QVERIFY(f.tempMidiFiles().isEmpty());
  QVERIFY(f.services.boxes.empty());
  // From the next compilation on the new name counts.
  form.midi1Click();
  QVERIFY(f.readFile("new.mid").startsWith("MThd"));
}

void NothingLostTest::temporaryFileRemovedByOthersEndsPlaybackQuietly() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.N4Click();
  QVERIFY(QFile::remove(form.playback().playPath()));
  form.Form2->FormKeyUp(Qt::Key_Pause);
  QVERIFY(f.services.boxes.empty());
  QVERIFY(!form.playback().hasTemporaryFile());
  form.N4Click();  // and the next run is not disturbed
  QVERIFY(f.services.boxes.empty());
  QVERIFY(form.playback().hasTemporaryFile());
}

void NothingLostTest::terminatingSignalKeepsTheEditedTextForTheNextStart() {
  EditorFixture f;
  f.writeFile("song.fms", SCORE);
  {
    TForm1& form = f.start({f.path("song.fms")});
    typeText(form, "// unsaved\n");
    form.N4Click();
    QVERIFY(form.playback().hasTemporaryFile());
    EndingSignals endings;
    connect(&endings, &EndingSignals::received, &form, &TForm1::endOnSignal);
    ::kill(::getpid(), SIGTERM);
    QTRY_VERIFY(form.endedBySignal());
    QVERIFY(f.services.boxes.empty());  // nobody is left to answer a question
    QVERIFY(f.tempMidiFiles().isEmpty());
    QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"),
             "// unsaved\r\n" + QByteArray(SCORE).replace("\n", "\r\n"));
    QVERIFY(f.closeWindow());
  }
  // The next start, given the same file, offers the text; it is recovered untitled.
  f.services.boxAnswers = {BoxAnswer::Yes};
  TForm1& form = f.start({f.path("song.fms")});
  QCOMPARE(f.boxTexts(), QStringList{"自動backupfileがあります\n読み込みますか？"});
  QCOMPARE(editorText(form), "// unsaved\n" + QString(SCORE));
  QVERIFY(!form.document().hasFileName() && !form.document().isSaved());
  form.Save1Click();  // asks for a name; cancelled
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  QVERIFY(f.services.fileDialogs[0].request.initialName.isEmpty());
  QCOMPARE(f.readFile("song.fms"), QByteArray(SCORE));
}

void NothingLostTest::terminatingSignalWithNothingEditedEndsLikeAClose() {
  EditorFixture f;
  f.writeFile("song.fms", "on disk\r\n");
  TForm1& form = f.start({f.path("song.fms")});
  form.endOnSignal();
  QVERIFY(form.endedBySignal());
  QVERIFY(!f.exists("tmp/!!tarvik32.tmp"));
  QVERIFY(f.services.boxes.empty());
  QVERIFY(f.closeWindow());
}

// The user-interface thread stuck for good in a call that does not return (here the child's
// own, which never goes back to the event loop) when SIGTERM arrives: the text as it stood at
// the last idle moment goes to the backup file, and the process ends with 128 + the signal. A
// saved text leaves no backup file, as a normal end does.
void NothingLostTest::terminatingSignalWithTheWindowStuckKeepsTheTextOfTheLastIdleMoment() {
  constexpr unsigned CHILD_LIMIT_S = 20;  // SIGALRM ends a child whose watchdog never acts
  for (const bool saved : {false, true}) {
    EditorFixture f;
    f.writeFile("song.fms", SCORE);
    TForm1& form = f.start({f.path("song.fms")});
    const ChildOutcome child = runInChild([&] {
      typeText(form, "// settled\n");
      if (saved) form.Save1Click();
      const QString settled = saved ? QString() : "// settled\n" + QString(SCORE);
      if (!QTest::qWaitFor([&] { return form.document().lastResort().keptText() == settled; }))
        return 1;
      typeText(form, "// typed since\n");  // no idle moment follows
      EndingSignals endings([&backup = form.document().lastResort()] { backup.write(); });
      ::alarm(CHILD_LIMIT_S);
      ::kill(::getpid(), SIGTERM);
      for (;;) ::pause();
    });
    QVERIFY2(!child.exited || child.status != 1, "the text never settled");
    QVERIFY2(child.exited && child.status == 128 + SIGTERM, qPrintable(child.describe()));
    if (saved) {
      QVERIFY(!f.exists("tmp/!!tarvik32.tmp"));
    } else {
      QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"),
               "// settled\r\n" + QByteArray(SCORE).replace("\n", "\r\n"));
    }
  }
}

void NothingLostTest::emptyLeftOverBackupIsRemovedWithoutAQuestion() {
  EditorFixture f;
  f.writeFile("tmp/!!tarvik32.tmp", "");
  TForm1& form = f.start();
  QVERIFY(f.services.boxes.empty());
  QVERIFY(form.document().backupActive() && form.document().isSaved());
  QCOMPARE(editorText(form), QString());
}

void NothingLostTest::backupFolderIsPrivateToTheUser() {
  QTemporaryDir dir;
  const QByteArray saved = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")));
  const QString path = userBackupFilePath();
  qputenv("XDG_STATE_HOME", saved);
  QCOMPARE(path, dir.filePath("state/tarvik32/!!tarvik32.tmp"));
  BackupLock lock(path);
  QVERIFY(lock.prepareFolder());
  QCOMPARE(fileMode(dir.filePath("state/tarvik32")), mode_t(0700));
  QVERIFY(lock.createEmpty());
  QCOMPARE(fileMode(path), mode_t(0600));
  QVERIFY(lock.acquire());
  QVERIFY(lock.write("text"));
  QCOMPARE(fileMode(path), mode_t(0600));
}

void NothingLostTest::composedInputObeysTheCapacity() {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setInputLimit(10);
  typeText(form, "12345678");
  QInputMethodEvent fits;
  fits.setCommitString("音");  // two bytes: exactly full
  QCoreApplication::sendEvent(editorPane(form), &fits);
  QCOMPARE(editorText(form), QString("12345678音"));
  QInputMethodEvent over;
  over.setCommitString("楽");
  QCoreApplication::sendEvent(editorPane(form), &over);
  QCOMPARE(editorText(form), QString("12345678音"));
}

void NothingLostTest::qtTextsAreJapanese() {
  QVERIFY(installQtJapaneseTexts(*QCoreApplication::instance()));
  QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("キャンセル"));
}

QTEST_MAIN(NothingLostTest)
#include "nothing_lost_test.moc"
