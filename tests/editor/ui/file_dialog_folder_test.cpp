// Where the score's file dialogs open: beside the score, whichever folder another dialog (the
// SoundFont's) used; for an untitled score in the folder of the last score opened or saved, else
// the home folder; always an absolute folder, also for a score named relative to the working
// folder. The real dialogs open in the folder asked for and hand back absolute names.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "editor/playback/fluid_media_player.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/options_dialog.h"
#include "editor/settings/sound_page.h"
#include "editor/ui/desktop_services.h"
#include "tests/editor/support/editor_fixture.h"
#include "tests/editor/support/test_files.h"

namespace {

const char SCORE[] = "ch1{ \"t120 o4 l4 c e g\" }\n";

// Every file dialog asked for so far, as "folder | suggested name".
QStringList dialogStarts(const EditorFixture& f) {
  QStringList starts;
  for (const RecordedFileDialog& dialog : f.services.fileDialogs) {
    starts << dialog.request.folder + " | " + dialog.request.initialName;
  }
  return starts;
}

// Chooses `font` on the options dialog's sound page and confirms the dialog once it is checked.
void chooseSoundFont(EditorFixture& f, const QString& font) {
  f.services.fileNames.push_back(font);
  f.services.dialogScripts.push_back([](QDialog& shown) {
    auto& options = static_cast<TTarvikOption&>(shown);
    options.pages->setCurrentWidget(options.soundPage);
    options.soundPage->browseSoundFont();
    // The choice counts once its load has been checked.
    const bool checked = QTest::qWaitFor([&options] { return !options.soundPage->checking(); });
    return int(checked ? QDialog::Accepted : QDialog::Rejected);
  });
  f.form->N19Click();
}

// Runs `answer` on the next file dialog Qt shows, once it is up. A box the dialog shows to
// refuse the name is closed, and so is a dialog the answer leaves open.
void whenDialogShows(std::function<void(QFileDialog&)> answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    QTimer refusals;  // a timer does not fire again while its own slot runs: a second one
    QObject::connect(&refusals, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
    });
    refusals.start(10);
    answer(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  poll->start(10);
}

}  // namespace

class FileDialogFolderTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void scoreDialogsOpenBesideTheScoreAfterASoundFontElsewhere();
  void anUntitledScoreTakesTheLastScoresFolderElseHome();
  void aScoreNamedRelativeToTheWorkingFolderGivesAnAbsoluteFolder();
  void realDialogsOpenInTheFolderAskedForAndGiveAbsoluteNames();
};

void FileDialogFolderTest::scoreDialogsOpenBesideTheScoreAfterASoundFontElsewhere() {
  EditorFixture f;
  QVERIFY(QDir(f.dir.path()).mkdir("scores"));
  f.writeFile("scores/song.fms", SCORE);
  TForm1& form = f.start({f.path("scores/song.fms")});
  const QFileInfo font(FluidMediaPlayer::defaultSoundFont());
  chooseSoundFont(f, font.absoluteFilePath());
  QCOMPARE(form.additionalSettings().sound().soundFont, font.absoluteFilePath());
  f.services.boxes.clear();  // the options command's report
  form.Open1Click();
  form.N1Click();
  form.exportAudio();
  form.korvel1Click();
  const QString scores = f.path("scores");
  QCOMPARE(dialogStarts(f),
           (QStringList{font.absolutePath() + " | " + font.fileName(), scores + " | song.fms",
                        scores + " | song.fms", scores + " | song.wav", scores + " | "}));
  QVERIFY(f.services.boxes.empty());
}

void FileDialogFolderTest::anUntitledScoreTakesTheLastScoresFolderElseHome() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.N1Click();  // cancelled
  QCOMPARE(dialogStarts(f), QStringList{QDir::homePath() + " | "});
  // Saved elsewhere, then closed: the saved score's folder, also after a SoundFont was chosen.
  QVERIFY(QDir(f.dir.path()).mkpath("saved/here"));
  f.services.fileNames = {f.path("saved/here/tune.fms")};
  form.N1Click();
  QVERIFY(form.document().isSaved());
  form.Close1Click();
  chooseSoundFont(f, FluidMediaPlayer::defaultSoundFont());
  f.services.fileDialogs.clear();
  typeText(form, SCORE);
  form.N1Click();
  form.Open1Click();
  const QString saved = f.path("saved/here");
  QCOMPARE(dialogStarts(f), (QStringList{saved + " | ", saved + " | "}));
  // A folder that is gone is passed over.
  QVERIFY(QDir(saved).removeRecursively());
  f.services.fileDialogs.clear();
  form.N1Click();
  QCOMPARE(dialogStarts(f), QStringList{QDir::homePath() + " | "});
}

void FileDialogFolderTest::aScoreNamedRelativeToTheWorkingFolderGivesAnAbsoluteFolder() {
  EditorFixture f;
  f.writeFile("song.fms", SCORE);
  const QString working = QDir::currentPath();
  QVERIFY(QDir::setCurrent(f.dir.path()));
  TForm1& form = f.start({"song.fms"});
  form.N1Click();
  form.exportAudio();
  QVERIFY(QDir::setCurrent(working));
  QCOMPARE(dialogStarts(f),
           (QStringList{f.dir.path() + " | song.fms", f.dir.path() + " | song.wav"}));
}

// Qt's dialog, left to itself, opens where a dialog of the run was last accepted: here the
// SoundFont's folder, where a name typed for the audio file would then be written.
void FileDialogFolderTest::realDialogsOpenInTheFolderAskedForAndGiveAbsoluteNames() {
  QTemporaryDir dir;
  QVERIFY(QDir(dir.path()).mkdir("fonts") && QDir(dir.path()).mkdir("scores"));
  const QString fonts = dir.filePath("fonts");
  const QString scores = dir.filePath("scores");
  writeTestFile(fonts + "/piano.sf2", "RIFF");
  DesktopServices services;

  whenDialogShows([](QFileDialog& dialog) { static_cast<QDialog&>(dialog).accept(); });
  QCOMPARE(services.openFileName(nullptr, {{"SoundFont (*.sf2 *.sf3)"}, {}, fonts, "piano.sf2"}),
           fonts + "/piano.sf2");

  QString openedIn;
  whenDialogShows([&openedIn](QFileDialog& dialog) {
    openedIn = dialog.directory().absolutePath();
    dialog.findChild<QLineEdit*>("fileNameEdit")->setText("take two");
    static_cast<QDialog&>(dialog).accept();
  });
  QCOMPARE(services.saveFileName(nullptr, {{"WAV (*.wav)"}, "wav", scores, "song.wav", true}),
           scores + "/take two.wav");
  QCOMPARE(openedIn, scores);

  // Without a folder: the home folder, not the last one used.
  whenDialogShows([&openedIn](QFileDialog& dialog) {
    openedIn = dialog.directory().absolutePath();
    dialog.reject();
  });
  QCOMPARE(services.saveFileName(nullptr, {{"korvel (*.fmd)"}, "fmd", {}, {}, true}), QString());
  QCOMPARE(openedIn, QDir::homePath());
}

QTEST_MAIN(FileDialogFolderTest)
#include "file_dialog_folder_test.moc"
