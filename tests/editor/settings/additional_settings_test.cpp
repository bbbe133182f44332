// The sound in the additional settings file: kept across a restart beside the recent files,
// values a hand or a damaged file put there reading as their defaults, and nothing written for a
// sound nobody chose. Hostile files: any content reads in bounded time as defaults or bounded
// values, and a named pipe, a folder, a device or a file over the bound at the name is neither
// read nor written.
#include "editor/settings/additional_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

  // The MIDI import's grid reads back only as a value the dialog offers, triplets included.
  void midiImportGridReadsOnlyAsAnOfferedValue() {
    QVERIFY(QDir().mkpath(dir->filePath("tarvik32")));
    const std::pair<const char*, MidiImportChoice> cases[] = {
        {"8t", {8, true, true}},   {"32", {32, false, true}}, {"64", {0, false, true}},
        {"16x", {0, false, true}}, {"t", {0, false, true}},   {"", {0, false, true}}};
    int number = 0;
    for (const auto& [grid, expected] : cases) {
      // A file each: QSettings keeps a file it read unless its size or time changed.
      const QString path = dir->filePath(QString("tarvik32/%1.conf").arg(++number));
      writeTestFile(path, QByteArray("[MidiImport]\nGrid=") + grid + "\nSteadyVelocity=true\n");
      const MidiImportChoice read = AdditionalSettings(path).midiImport();
      QVERIFY2(read == expected, grid);
    }
    // Back to the defaults, the group goes.
    const QString first = dir->filePath("tarvik32/1.conf");
    AdditionalSettings settings(first);
    QVERIFY(settings.setMidiImport(MidiImportChoice()));
    QVERIFY(!readTestFile(first).contains("MidiImport"));
  }

  void hostileFilesReadAsDefaultsOrBoundedValues_data();
  void hostileFilesReadAsDefaultsOrBoundedValues();
  void aPipeAFolderOrADeviceIsNeitherReadNorWritten_data();
  void aPipeAFolderOrADeviceIsNeitherReadNorWritten();
  void aFileOverTheBoundIsNeitherReadNorWritten_data();
  void aFileOverTheBoundIsNeitherReadNorWritten();
};

// Everything the settings hold, in one line.
QString describe(const AdditionalSettings& settings) {
  return QString("recent [%1] %2 follow %3 keep %4")
      .arg(settings.recentFiles().join(", "), describeSound(settings.sound()))
      .arg(settings.playback().followScore)
      .arg(settings.playback().keepPlace);
}

void AdditionalSettingsTest::hostileFilesReadAsDefaultsOrBoundedValues_data() {
  QTest::addColumn<QByteArray>("content");
  QTest::addColumn<QStringList>("recent");
  QTest::newRow("a size of two thousand million, no entries")
      << QByteArray("[RecentFiles]\nsize=2000000000\n") << QStringList();
  // Only the list's own length of entries is looked at: of the first ten, two are unusable and
  // one repeats another, so seven are taken.
  QByteArray beyond =
      "[RecentFiles]\nsize=2000000000\n1\\path=rel.fms\n2\\path=\n3\\path=/s/1.fms\n"
      "4\\path=/s/1.fms\n";
  QStringList taken = {"/s/1.fms"};
  for (int i = 5; i <= 14; ++i) {
    beyond += QString("%1\\path=/s/%2.fms\n").arg(i).arg(i - 3).toUtf8();
    if (i <= RECENT_FILES_MAX) taken << QString("/s/%1.fms").arg(i - 3);
  }
  QTest::newRow("entries beyond the list's length") << beyond << taken;
  QTest::newRow("a negative size")
      << QByteArray("[RecentFiles]\nsize=-5\n1\\path=/s/a.fms\n") << QStringList();
  QTest::newRow("a size that is no number")
      << QByteArray("[RecentFiles]\nsize=many\n1\\path=/s/a.fms\n") << QStringList();
  const QByteArray longText = "/" + QByteArray(ADDITIONAL_SETTING_TEXT_MAX, 'x');
  QTest::newRow("every key absurd")
      << "[RecentFiles]\nsize=2147483647\n1\\path=" + longText +
             "\n[Sound]\nSoundFont=" + longText + "\nAudioOutput=" + longText +
             "\nReverb=" + longText +
             "\nChorus=0\nGain=1e308\n[Playback]\nFollowScore=" + longText + "\nKeepPlace=2\n"
      << QStringList();
}

void AdditionalSettingsTest::hostileFilesReadAsDefaultsOrBoundedValues() {
  QFETCH(QByteArray, content);
  QFETCH(QStringList, recent);
  QVERIFY(QDir().mkpath(dir->filePath("tarvik32")));
  writeTestFile(confPath(), content);
  AdditionalSettings settings(confPath());
  QCOMPARE(settings.recentFiles(), recent);
  QCOMPARE(describeSound(settings.sound()), describeSound(SoundSettings()));
  QVERIFY(settings.playback() == PlaybackOptions());
  QVERIFY(!settings.takeNotice());
}

void AdditionalSettingsTest::aPipeAFolderOrADeviceIsNeitherReadNorWritten_data() {
  QTest::addColumn<QString>("kind");
  QTest::newRow("named pipe") << "pipe";
  QTest::newRow("folder") << "folder";
  QTest::newRow("link to a device") << "device";
}

void AdditionalSettingsTest::aPipeAFolderOrADeviceIsNeitherReadNorWritten() {
  QFETCH(QString, kind);
  QVERIFY(QDir().mkpath(dir->filePath("tarvik32")));
  const QByteArray name = QFile::encodeName(confPath());
  if (kind == "pipe") QCOMPARE(::mkfifo(name.constData(), 0600), 0);
  if (kind == "folder") QVERIFY(QDir().mkpath(confPath()));
  if (kind == "device") QVERIFY(QFile::link("/dev/zero", confPath()));
  // The reading end of the pipe, opened without waiting for a writer: what a save wrote through
  // the pipe would arrive here.
  const int reader = kind == "pipe" ? ::open(name.constData(), O_RDONLY | O_NONBLOCK) : -1;
  QCOMPARE(reader >= 0, kind == "pipe");

  AdditionalSettings settings(confPath());
  QCOMPARE(describe(settings), describe(AdditionalSettings(QString{})));
  QCOMPARE(settings.takeNotice(),
           std::optional<QString>(" [注意] 追加設定ファイル " + confPath() +
                                  " は通常のファイルではないため, 読み込みも保存もしません"));
  QCOMPARE(settings.takeNotice(), std::nullopt);  // once a run

  QVERIFY(!settings.addRecentFile(dir->filePath("a.fms")));
  QVERIFY(!settings.setSound({.gain = 3}));
  QVERIFY(!settings.setPlayback({.followScore = false}));
  QCOMPARE(settings.recentFiles(), QStringList{dir->filePath("a.fms")});  // kept for the run
  QCOMPARE(settings.takeNotice(), std::nullopt);

  struct stat info {};
  QCOMPARE(::lstat(name.constData(), &info), 0);
  if (kind == "pipe") {
    char byte = 0;
    QCOMPARE(::read(reader, &byte, 1), ssize_t(0));  // no writer came, nothing arrived
    ::close(reader);
    QVERIFY(S_ISFIFO(info.st_mode));
  }
  if (kind == "folder")
    QVERIFY(QDir(confPath()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  if (kind == "device") QVERIFY(S_ISLNK(info.st_mode));
  QCOMPARE(QDir(dir->filePath("tarvik32"))
               .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
           QStringList{"tarvik32.conf"});  // no temporary or lock file beside it
}

void AdditionalSettingsTest::aFileOverTheBoundIsNeitherReadNorWritten_data() {
  QTest::addColumn<qint64>("size");
  QTest::newRow("a byte over the bound") << ADDITIONAL_SETTINGS_MAX_BYTES + 1;
  QTest::newRow("a sparse gigabyte") << (qint64(1) << 30);
}

// A file whose settings would read had it been smaller, padded beyond the bound: a write would
// have QSettings read all of it first and write it back.
void AdditionalSettingsTest::aFileOverTheBoundIsNeitherReadNorWritten() {
  QFETCH(qint64, size);
  QVERIFY(QDir().mkpath(dir->filePath("tarvik32")));
  const QByteArray head = "[RecentFiles]\nsize=1\n1\\path=/s/a.fms\n[Sound]\nGain=3\n; ";
  {
    QFile file(confPath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(head) == head.size());
    QVERIFY(file.resize(size - 1) && file.seek(size - 1) && file.write("\n") == 1);
  }
  const QDateTime written = QFileInfo(confPath()).lastModified();

  AdditionalSettings settings(confPath());
  QCOMPARE(describe(settings), describe(AdditionalSettings(QString{})));
  QCOMPARE(settings.takeNotice(),
           std::optional<QString>(" [注意] 追加設定ファイル " + confPath() +
                                  " は 1048576 バイトを超えるため, 読み込みも保存もしません"));
  QVERIFY(!settings.addRecentFile(dir->filePath("a.fms")));
  RollSettings shown;
  shown.shown = true;
  QVERIFY(!settings.setRoll(shown));
  QCOMPARE(settings.recentFiles(), QStringList{dir->filePath("a.fms")});  // kept for the run
  QCOMPARE(settings.takeNotice(), std::nullopt);

  QFile file(confPath());
  QCOMPARE(file.size(), size);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.read(head.size()), head);
  QCOMPARE(QFileInfo(confPath()).lastModified(), written);
  QCOMPARE(QDir(dir->filePath("tarvik32"))
               .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
           QStringList{"tarvik32.conf"});
}

QTEST_GUILESS_MAIN(AdditionalSettingsTest)
#include "additional_settings_test.moc"
