// The options dialog's sound page through the options command: a SoundFont checked when chosen
// (a path that is no regular file refused at once, a file FluidSynth cannot load refused with
// FluidSynth's reason once loaded off the user-interface thread, the previous choice kept, a
// later choice dropping the check under way), OK keeping the sound in the
// additional settings and Cancel nothing, Reset acting on the page shown, the outputs offered,
// and the page fitting into the start-up page's room.
#include "editor/settings/sound_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

#include "editor/playback/fluid_media_player.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/options_dialog.h"
#include "tests/editor/support/named_pipe.h"
#include "tests/editor/support/scripted_services.h"
#include "tests/editor/support/test_files.h"

class SoundPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedServices> services;
  std::unique_ptr<TTarvikOption> dialog;
  std::unique_ptr<AdditionalSettings> additional;
  StartupSettings startup;
  bool q7Default = false;
  QString goodFont;  // a copy of the system's General MIDI SoundFont

  QString confPath() const { return dir->filePath("tarvik32.conf"); }
  QString cfgPath() const { return dir->filePath("tarvik32.cfg"); }

  // One opening of the dialog: the script runs on the sound page, the dialog closes with result.
  void open(int result, std::function<void(SoundPage&)> change) {
    services->dialogScripts.push_back([=](QDialog& shown) {
      auto& options = static_cast<TTarvikOption&>(shown);
      options.pages->setCurrentWidget(options.soundPage);
      change(*options.soundPage);
      return result;
    });
    runOptionsCommand(*dialog, cfgPath(), startup, q7Default, *additional, *services, nullptr);
  }

  // A click on the browse button, and the wait for the check of the file it chose.
  static void browse(SoundPage& page) {
    QTest::mouseClick(page.browseButton, Qt::LeftButton);
    QTRY_VERIFY(!page.checking());
  }

 private Q_SLOTS:
  void initTestCase() { QVERIFY(QFile::exists(FluidMediaPlayer::defaultSoundFont())); }

  void init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    services = std::make_unique<ScriptedServices>();
    dialog = std::make_unique<TTarvikOption>(*services, fluidSoundChoices());
    additional = std::make_unique<AdditionalSettings>(confPath());
    startup = {};
    q7Default = false;
    goodFont = dir->filePath("good font.sf2");
    QVERIFY(QFile::copy(FluidMediaPlayer::defaultSoundFont(), goodFont));
  }

  void aSoundFontFluidSynthCannotLoadIsRefusedWithItsReason_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << QByteArray() << "EOF while attempting to read 8 bytes";
    QTest::newRow("garbage") << QByteArray("This is no SoundFont at all.").repeated(40)
                             << "Not a RIFF file";
  }

  void aSoundFontFluidSynthCannotLoadIsRefusedWithItsReason() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString bad = dir->filePath("bad.sf2");
    writeTestFile(bad, bytes);
    QVERIFY(additional->setSound({.soundFont = goodFont}));
    const QByteArray conf = readTestFile(confPath());
    services->fileNames = {bad};

    QString shown;
    open(QDialog::Accepted, [&](SoundPage& page) {
      browse(page);
      shown = page.soundFontEdit->text();
    });
    QCOMPARE(services->boxesShown(), (QStringList{"SoundFontを読み込めません.\n" + bad + "\n" +
                                                      reason + " | no caption | Ok | Error",
                                                  "設定を保存しました. | \"確認\" | Ok | None"}));
    QCOMPARE(shown, goodFont);
    QCOMPARE(additional->sound().soundFont, goodFont);
    QCOMPARE(readTestFile(confPath()), conf);
  }

  // A named pipe would hold the loading thread for good, and with it the user-interface thread
  // when that one loads: such paths are refused before anything opens them, within the click.
  void aPathThatIsNoRegularFileIsRefusedAtOnce_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe") << "名前付きパイプ";
    QTest::newRow("device") << "デバイス";
    QTest::newRow("folder") << "フォルダ";
  }

  void aPathThatIsNoRegularFileIsRefusedAtOnce() {
    QFETCH(QString, kind);
    std::unique_ptr<NamedPipe> pipe;
    QString path = "/dev/null";
    if (kind == "名前付きパイプ") {
      pipe = std::make_unique<NamedPipe>(dir->filePath("fifo.sf2"));
      path = pipe->path();
    } else if (kind == "フォルダ") {
      path = dir->path();
    }
    QVERIFY(additional->setSound({.soundFont = goodFont}));
    services->fileNames = {path};
    QStringList boxesAfterClick;
    bool checking = true;
    open(QDialog::Accepted, [&](SoundPage& page) {
      QTest::mouseClick(page.browseButton, Qt::LeftButton);
      boxesAfterClick = services->boxesShown();
      checking = page.checking();
    });
    QVERIFY(!pipe || !pipe->released());
    QCOMPARE(boxesAfterClick, QStringList{"SoundFontを読み込めません.\n" + path +
                                          "\n通常のファイルではありません (" + kind +
                                          ") | no caption | Ok | Error"});
    QVERIFY(!checking);
    QCOMPARE(additional->sound().soundFont, goodFont);
  }

  // The load runs on a thread of its own: the click returns with the check under way and the
  // previous choice shown; the file is taken once FluidSynth has loaded it. The default chosen
  // meanwhile wins over a check that ends after it.
  void aSoundFontLoadsWhileTheDialogGoesOn() {
    QVERIFY(additional->setSound({.soundFont = goodFont}));
    const QString otherFont = dir->filePath("other.sf2");
    QVERIFY(QFile::copy(goodFont, otherFont));
    services->fileNames = {otherFont, otherFont};
    QStringList steps;
    open(QDialog::Accepted, [&](SoundPage& page) {
      QTest::mouseClick(page.browseButton, Qt::LeftButton);
      steps << QString("%1, %2, %3")
                   .arg(page.checking() ? "checking" : "done", page.soundFontEdit->text(),
                        page.banner->text());
      QTRY_VERIFY(!page.checking());
      steps << page.soundFontEdit->text() + ", " + page.banner->text();
      QTest::mouseClick(page.browseButton, Qt::LeftButton);
      QTest::mouseClick(page.defaultButton, Qt::LeftButton);
      QVERIFY(!page.checking());
      QTest::qWait(1000);  // time for the dropped check to come back, were it not dropped
      steps << "[" + page.soundFontEdit->text() + "]";
    });
    QCOMPARE(steps,
             (QStringList{"checking, " + goodFont + ", SoundFontを読み込んでいます...",
                          otherFont + ", tarvik32.confに保存し、次の再生から使います.", "[]"}));
    QCOMPARE(services->boxesShown().size(), 1);  // the saved settings' box only
    QCOMPARE(additional->sound().soundFont, QString());
  }

  void okKeepsWhatThePageShowsAndCancelNothing() {
    services->fileNames = {goodFont};
    QString output;
    open(QDialog::Rejected, [&](SoundPage& page) {
      browse(page);
      page.outputBox->setCurrentIndex(page.outputBox->count() - 1);
      page.reverbBox->setChecked(false);
      page.gainBox->setValue(3);
    });
    QCOMPARE(describeSound(additional->sound()), describeSound(SoundSettings()));
    QVERIFY(!QFile::exists(confPath()));
    QCOMPARE(services->fileDialogs.size(), size_t(1));
    QCOMPARE(services->fileDialogs[0].request.filters, QStringList{"SoundFont (*.sf2 *.sf3)"});
    const QFileInfo standard(FluidMediaPlayer::defaultSoundFont());
    QCOMPARE(services->fileDialogs[0].request.folder, standard.absolutePath());
    QCOMPARE(services->fileDialogs[0].request.initialName, standard.fileName());

    services->fileNames = {goodFont};
    open(QDialog::Accepted, [&](SoundPage& page) {
      QCOMPARE(page.soundFontEdit->text(), QString());  // the cancelled choice is gone
      browse(page);
      page.outputBox->setCurrentIndex(page.outputBox->count() - 1);
      output = page.outputBox->currentData().toString();
      page.chorusBox->setChecked(false);
      page.gainBox->setValue(1.25);
    });
    const SoundSettings expected{.soundFont = goodFont,
                                 .audioOutput = output,
                                 .reverb = true,
                                 .chorus = false,
                                 .gain = 1.25};
    QCOMPARE(describeSound(additional->sound()), describeSound(expected));
    QCOMPARE(describeSound(AdditionalSettings(confPath()).sound()), describeSound(expected));

    // The default button goes back to the default SoundFont; the rest is kept.
    open(QDialog::Accepted, [](SoundPage& page) {
      QCOMPARE(page.chorusBox->isChecked(), false);
      QTest::mouseClick(page.defaultButton, Qt::LeftButton);
    });
    SoundSettings withDefaultFont = expected;
    withDefaultFont.soundFont.clear();
    QCOMPARE(describeSound(AdditionalSettings(confPath()).sound()), describeSound(withDefaultFont));
  }

  void resetActsOnThePageShown() {
    const SoundSettings chosen{.audioOutput = "alsa", .reverb = false, .gain = 4};
    QVERIFY(additional->setSound(chosen));
    startup.AutoSaveAtStart = true;
    // What each Reset left: the first start-up switch, then the sound page.
    QString afterStartupReset;
    QString afterSoundReset;
    services->dialogScripts.push_back([&](QDialog& shown) {
      auto& options = static_cast<TTarvikOption&>(shown);
      const auto state = [&options] {
        return QString("auto-save %1, %2")
            .arg(options.CheckBox1->isChecked() ? "on" : "off")
            .arg(describeSound(options.soundPage->sound()));
      };
      QTest::mouseClick(options.BitBtn3, Qt::LeftButton);
      afterStartupReset = state();
      options.CheckBox1->setChecked(true);
      options.pages->setCurrentWidget(options.soundPage);
      QTest::mouseClick(options.BitBtn3, Qt::LeftButton);
      afterSoundReset = state();
      return int(QDialog::Accepted);
    });
    runOptionsCommand(*dialog, cfgPath(), startup, q7Default, *additional, *services, nullptr);
    QCOMPARE(afterStartupReset, "auto-save off, " + describeSound(chosen));
    QCOMPARE(afterSoundReset, "auto-save on, " + describeSound(SoundSettings()));
    QVERIFY(startup.AutoSaveAtStart);
    QCOMPARE(describeSound(additional->sound()), describeSound(SoundSettings()));
  }

  void theOutputsOfferedAndAnUnknownStoredOne() {
    QVERIFY(additional->setSound({.audioOutput = "oss"}));
    QStringList offered;
    open(QDialog::Accepted, [&](SoundPage& page) {
      for (int i = 0; i < page.outputBox->count(); ++i)
        offered << page.outputBox->itemText(i) + "=" + page.outputBox->itemData(i).toString();
    });
    QCOMPARE(offered.first(), QString("自動="));
    QCOMPARE(offered.last(), QString("oss=oss"));  // shown, and kept by OK
    QCOMPARE(additional->sound().audioOutput, QString("oss"));
  }

  // The dialog keeps the size the start-up page alone gives it, and opens on that page.
  void theSoundPageFitsTheStartupPage() {
    const QSize startupRoom = dialog->pages->widget(0)->sizeHint();
    const QSize soundRoom = dialog->soundPage->sizeHint();
    QVERIFY2(soundRoom.width() <= startupRoom.width() && soundRoom.height() <= startupRoom.height(),
             qPrintable(QString("sound %1x%2, start-up %3x%4")
                            .arg(soundRoom.width())
                            .arg(soundRoom.height())
                            .arg(startupRoom.width())
                            .arg(startupRoom.height())));
    dialog->pages->setCurrentWidget(dialog->soundPage);
    int shownPage = -1;
    services->dialogScripts.push_back([&](QDialog& shown) {
      shownPage = static_cast<TTarvikOption&>(shown).pages->currentIndex();
      return int(QDialog::Rejected);
    });
    runOptionsCommand(*dialog, cfgPath(), startup, q7Default, *additional, *services, nullptr);
    QCOMPARE(shownPage, 0);
  }
};

QTEST_MAIN(SoundPageTest)
#include "sound_page_test.moc"
