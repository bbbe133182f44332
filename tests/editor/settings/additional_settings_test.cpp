// The sound in the additional settings file: kept across a restart beside the recent files,
// values a hand or a damaged file put there reading as their defaults, and nothing written for a
// sound nobody chose.
#include "editor/settings/additional_settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "tests/editor/support/scripted_services.h"
#include "tests/editor/support/test_files.h"

class AdditionalSettingsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;

  QString confPath() const { return dir->filePath("tarvik32/tarvik32.conf"); }

 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
  }

  void theSoundOutlivesTheRunBesideTheRecentFiles() {
    const SoundSettings chosen{.soundFont = dir->filePath("音色 集/my font.sf3"),
                               .audioOutput = "jack",
                               .reverb = false,
                               .chorus = false,
                               .gain = 1.35};
    {
      AdditionalSettings settings(confPath());
      QVERIFY(settings.addRecentFile(dir->filePath("a.fms")));
      QVERIFY(settings.setSound(chosen));
    }
    AdditionalSettings reread(confPath());
    QCOMPARE(describeSound(reread.sound()), describeSound(chosen));
    QCOMPARE(reread.recentFiles(), QStringList{dir->filePath("a.fms")});

    // Back to the defaults: the file holds the recent files alone, as if no sound had been chosen.
    QVERIFY(reread.setSound(SoundSettings()));
    QVERIFY(!readTestFile(confPath()).contains("Sound"));
    QCOMPARE(describeSound(AdditionalSettings(confPath()).sound()), describeSound(SoundSettings()));
  }

  void badValuesReadAsTheirDefaults_data() {
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("expected");
    const SoundSettings defaults;
    QTest::newRow("gain above the range") << QByteArray("Gain=10.5") << describeSound(defaults);
    QTest::newRow("gain below the range") << QByteArray("Gain=-0.1") << describeSound(defaults);
    QTest::newRow("gain not a number") << QByteArray("Gain=loud") << describeSound(defaults);
    QTest::newRow("gain nan") << QByteArray("Gain=nan") << describeSound(defaults);
    QTest::newRow("switches neither true nor false")
        << QByteArray("Reverb=maybe\nChorus=") << describeSound(defaults);
    QTest::newRow("relative SoundFont")
        << QByteArray("SoundFont=fonts/gm.sf2") << describeSound(defaults);
    SoundSettings edges;
    edges.gain = 10;
    edges.reverb = false;
    edges.audioOutput = "nosuchdriver";  // kept: the player falls back and says so
    QTest::newRow("edge of the range, an unknown output")
        << QByteArray("Gain=10\nReverb=false\nAudioOutput=nosuchdriver") << describeSound(edges);
  }

  void badValuesReadAsTheirDefaults() {
    QFETCH(QByteArray, lines);
    QFETCH(QString, expected);
    QVERIFY(QDir().mkpath(dir->filePath("tarvik32")));
    writeTestFile(confPath(),
                  "[RecentFiles]\n1\\path=/tmp/a.fms\nsize=1\n\n[Sound]\n" + lines + "\n");
    AdditionalSettings settings(confPath());
    QCOMPARE(describeSound(settings.sound()), expected);
    QCOMPARE(settings.recentFiles(), QStringList{"/tmp/a.fms"});
  }
};

QTEST_GUILESS_MAIN(AdditionalSettingsTest)
#include "additional_settings_test.moc"
