// Scenario tests of the WAV/FLAC export command: the name it needs and offers, the file it
// writes beside the score without any MIDI file, a failure's box, and the progress dialog's
// cancel, the failure and the cancel leaving the previous file as it was.
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "editor/settings/additional_settings.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

const char SCORE[] = "ch1{ \"t120 @0 o4 l4 c e g >c\" }\n";
const char DONE_TEXT[] = "WAV/FLAC ファイル書き出し終了";

// Twenty minutes of whole notes: an export that runs long enough to be cancelled.
QByteArray longScore() {
  QByteArray notes;
  for (int i = 0; i < 300; ++i) notes += "c ";
  return "ch1{ \"t60 @0 o4 l1 " + notes + "\" }\n";
}

QStringList folderEntries(const EditorFixture& f) {
  return QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden);
}

}  // namespace

class ExportCommandsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void exportNeedsANameWritesBesideTheScoreAndReportsFailures();
  void cancelInTheProgressDialogLeavesThePreviousFile();
};

void ExportCommandsTest::exportNeedsANameWritesBesideTheScoreAndReportsFailures() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.exportAudio();
  QCOMPARE(f.boxTexts(), QStringList{"名前をつけて保存してから\n実行してください"});
  QVERIFY(f.services.fileDialogs.empty());

  f.writeFile("song.fms", SCORE);
  QVERIFY(form.loadSourceFile(f.path("song.fms")));
  f.services.boxes.clear();
  f.services.fileNames = {f.path("song.wav")};
  form.exportAudio();
  QTRY_VERIFY(!form.findChild<QProgressDialog*>());
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  const FileDialogRequest& request = f.services.fileDialogs[0].request;
  QCOMPARE(request.folder, f.dir.path());
  QCOMPARE(request.initialName, QString("song.wav"));
  QCOMPARE(request.filters, (QStringList{"WAV (*.wav)", "FLAC (*.flac)"}));
  QVERIFY(request.confirmOverwrite);
  QCOMPARE(f.boxTexts(), QStringList{DONE_TEXT});
  QCOMPARE(f.services.boxes[0].caption, BoxCaption(""));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::None);
  const QByteArray wav = f.readFile("song.wav");
  QVERIFY(wav.startsWith("RIFF") && wav.mid(8, 4) == "WAVE");
  // 2.25 s of song and a tail of up to 2 s.
  const QString line = form.messagePane()->toPlainText().section('\n', -1);
  QVERIFY2(QRegularExpression(QString("^ -> 書き出した音声ファイル : %1 \\(0:00:0[234]\\)$")
                                  .arg(QRegularExpression::escape(f.path("song.wav"))))
               .match(line)
               .hasMatch(),
           qPrintable(line));

  f.services.fileNames = {f.path("song.flac")};
  form.exportAudio();
  QTRY_VERIFY(!form.findChild<QProgressDialog*>());
  QVERIFY(f.readFile("song.flac").startsWith("fLaC"));
  QCOMPARE(folderEntries(f), (QStringList{"song.flac", "song.fms", "song.wav"}));
  QVERIFY(f.tempMidiFiles().isEmpty());

  // A compilation error: the core's alert only, and the file stays.
  typeText(form, "ch3{ \"c x\" }\n");
  f.services.boxes.clear();
  f.services.fileNames = {f.path("song.wav")};
  form.exportAudio();
  QCOMPARE(f.boxTexts(), QStringList{"compile stopped!"});
  QCOMPARE(f.readFile("song.wav"), wav);

  // A SoundFont that does not load: the box says so, and the file stays.
  editorPane(form)->undo();
  SoundSettings sound;
  sound.soundFont = f.path("missing.sf2");
  form.additionalSettings().setSound(sound);
  f.services.boxes.clear();
  f.services.fileNames = {f.path("song.wav")};
  form.exportAudio();
  QTRY_COMPARE(f.services.boxes.size(), size_t(1));
  QVERIFY2(
      f.services.boxes[0].text.startsWith("音声ファイルを書き出せません.\n" + f.path("song.wav") +
                                          "\nSoundFont を読み込めません: " + f.path("missing.sf2")),
      qPrintable(f.services.boxes[0].text));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
  QCOMPARE(f.readFile("song.wav"), wav);
  QCOMPARE(folderEntries(f), (QStringList{"song.flac", "song.fms", "song.wav"}));
}

// Cancelled with the dialog's button, and by a terminating signal, which then ends the program.
void ExportCommandsTest::cancelInTheProgressDialogLeavesThePreviousFile() {
  for (const bool bySignal : {false, true}) {
    EditorFixture f;
    f.writeFile("long.fms", longScore());
    f.writeFile("long.wav", "previous");
    TForm1& form = f.start({f.path("long.fms")});
    f.services.fileNames = {f.path("long.wav")};
    // Cancels once some of the song is rendered.
    QTimer canceller;
    canceller.setInterval(5);
    bool cancelled = false;
    connect(&canceller, &QTimer::timeout, [&] {
      auto* dialog = form.findChild<QProgressDialog*>();
      if (cancelled || !dialog || dialog->value() <= 0) return;
      QVERIFY(dialog->isModal() && dialog->isVisible());
      QVERIFY(dialog->labelText().endsWith(" / 0:20:00"));
      if (bySignal) {
        form.endOnSignal();
      } else {
        dialog->findChild<QPushButton*>()->click();
      }
      cancelled = true;
    });
    canceller.start();
    form.exportAudio();
    QTRY_VERIFY_WITH_TIMEOUT(cancelled, 20000);
    QTRY_VERIFY(!form.findChild<QProgressDialog*>());
    QVERIFY(f.services.boxes.empty());
    if (!bySignal) {
      QVERIFY(
          form.messagePane()->toPlainText().endsWith(" -> 音声ファイルの書き出しを中止しました"));
    }
    QCOMPARE(f.readFile("long.wav"), QByteArray("previous"));
    QCOMPARE(folderEntries(f), (QStringList{"long.fms", "long.wav"}));
    QVERIFY(!form.findChild<QProgressDialog*>());
    if (bySignal) QTRY_VERIFY(form.endedBySignal());
  }
}

QTEST_MAIN(ExportCommandsTest)
#include "export_commands_test.moc"
