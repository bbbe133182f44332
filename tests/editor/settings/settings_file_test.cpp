// The settings file: which flag bits load into which setting, how wrong, short and missing files
// are met, the exact image a save writes, and that a failed save leaves the old file alone.
#include "editor/settings/settings_file.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "editor/settings/options_dialog.h"
#include "tests/editor/support/scripted_services.h"  // settingsImage
#include "tests/editor/support/test_files.h"

namespace {

// The stored values in one line: auto-save, loop, line numbers, maximized, auto pan as a letter
// each or "-", then the font index and the default gate step.
QString stored(const StartupSettings& s, bool q7Default) {
  const bool on[] = {s.AutoSaveAtStart, s.PlayLoopAtStart, s.LineNumbersAtStart, s.MaximizedAtStart,
                     s.AutoPanAtStart};
  QString text;
  for (int k = 0; k < 5; ++k) text += on[k] ? QString("SLNMP")[k] : '-';
  return text + QString(" font %1 %2").arg(s.FontSizeIndex).arg(q7Default ? "q7" : "q8");
}

const QString ALL_ON = "SLNMP font 2 q7";

}  // namespace

class SettingsFileTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;
  StartupSettings settings;
  bool q7Default = false;

  QString path(const QString& name = "tarvik32.cfg") const { return dir->filePath(name); }
  SettingsLoad load(const QString& file) { return loadSettings(file, settings, q7Default); }

 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    // Everything on, so a load that forgets to set a field shows it.
    settings = {true, true, true, true, true, 2};
    q7Default = true;
  }

  void flagBytesLoadIntoSettings_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("only the small font") << settingsImage(0x10, 0) << "----- font 0 q8";
    QTest::newRow("two font bits read as small") << settingsImage(0x30, 0) << "----- font 0 q8";
    QTest::newRow("medium font") << settingsImage(0x20, 0) << "----- font 1 q8";
    QTest::newRow("q7 default") << settingsImage(0x80, 0) << "----- font 0 q7";
    QTest::newRow("every switch") << settingsImage(0x4f, 0x01) << "SLNMP font 2 q8";
    QTest::newRow("loop only") << settingsImage(0x12, 0) << "-L--- font 0 q8";
    QTest::newRow("other bits of B") << settingsImage(0x18, 0xfe) << "---M- font 0 q8";
    // Cut off after flag byte A; the missing bytes read as zero.
    QTest::newRow("short file") << settingsImage(0xa1, 0x01).left(17) << "S---- font 1 q7";
    QTest::newRow("magic alone") << QByteArray("TARVIK000") << "----- font 0 q8";
  }
  void flagBytesLoadIntoSettings() {
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    writeTestFile(path(), file);
    QCOMPARE(load(path()), SettingsLoad::Loaded);
    QCOMPARE(stored(settings, q7Default), expected);
  }

  void wrongVersionIsRejected_data() {
    QTest::addColumn<QByteArray>("file");
    QByteArray lastDigit = settingsImage(0x20, 0x01);
    lastDigit[8] = '1';
    QTest::newRow("last digit differs") << lastDigit;
    QTest::newRow("shorter than the magic") << QByteArray("TARVIK00");
  }
  void wrongVersionIsRejected() {
    QFETCH(QByteArray, file);
    writeTestFile(path(), file);
    QCOMPARE(load(path()), SettingsLoad::WrongVersion);
    QCOMPARE(stored(settings, q7Default), ALL_ON);
  }

  void missingFileIsUnreadable() {
    QCOMPARE(load(path("absent.cfg")), SettingsLoad::Unreadable);
    QCOMPARE(load(dir->path()), SettingsLoad::Unreadable);  // a folder cannot be read either
    // Nor a named pipe: reading one would block the start until someone writes into it.
    QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.cfg")).constData(), 0600), 0);
    QCOMPARE(load(path("pipe.cfg")), SettingsLoad::Unreadable);
    QCOMPARE(stored(settings, q7Default), ALL_ON);
  }

  void saveWritesTheWholeImageAndCreatesTheFolder() {
    const QString file = path("config/tarvik32/tarvik32.cfg");
    QVERIFY(saveSettings(file, {true, true, true, true, true, 2}, true));
    QCOMPARE(readTestFile(file).toHex(' '), settingsImage(0xcf, 0x01).toHex(' '));
  }

  void failedSaveLeavesTheOldFileAlone() {
    // A name as long as the file system allows leaves no room for the name of the temporary
    // file beside it, so this save fails only after the new image was built.
    const QString name = QString(251, 'x') + ".cfg";
    const QByteArray old = settingsImage(0x10, 0);
    writeTestFile(path(name), old);
    QVERIFY(!saveSettings(path(name), {true, false, false, false, false, 0}, false));
    QCOMPARE(readTestFile(path(name)).toHex(' '), old.toHex(' '));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
  }

  void settingsFileLivesBesideAWritableProgram() {
    QCOMPARE(settingsFilePath(path("tarvik32")), path("tarvik32.cfg"));
    QCOMPARE(settingsFilePath(path("tarvik32.bin")), path("tarvik32.cfg"));
  }

  void settingsFileOfAnInstalledProgramIsInTheConfigurationFolder() {
    QStandardPaths::setTestModeEnabled(true);
    const QString expected =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/tarvik32.cfg";
    // A folder that does not exist cannot be written either.
    QCOMPARE(settingsFilePath(path("missing/bin/tarvik32")), expected);
    // The superuser may write /usr/bin, but an installed program keeps no settings there.
    QCOMPARE(settingsFilePath("/usr/bin/tarvik32"), expected);
    QStandardPaths::setTestModeEnabled(false);
  }
};

QTEST_MAIN(SettingsFileTest)
#include "settings_file_test.moc"
