// The options command: what the dialog shows when it opens, what Reset, Cancel and OK do to the
// settings and the file, and the boxes that report a save.
#include "editor/settings/options_dialog.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

#include "editor/playback/fluid_media_player.h"
#include "editor/settings/additional_settings.h"
#include "tests/editor/support/scripted_services.h"
#include "tests/editor/support/test_files.h"

namespace {

// Settings and dialog in one format: auto-save, loop, line numbers, maximized and auto pan
// (check boxes 1 to 5) as a letter each or "-", then the font item and the gate step.
QString switches(const bool (&on)[5], int font, const QString& gate) {
  QString text;
  for (int k = 0; k < 5; ++k) text += on[k] ? QString("SLNMP")[k] : '-';
  return text + QString(" font %1 %2").arg(font).arg(gate);
}

QString stored(const StartupSettings& s, bool q7Default) {
  const bool on[] = {s.AutoSaveAtStart, s.PlayLoopAtStart, s.LineNumbersAtStart, s.MaximizedAtStart,
                     s.AutoPanAtStart};
  return switches(on, s.FontSizeIndex, q7Default ? "q7" : "q8");
}

QString controls(const TTarvikOption& dialog) {
  const bool on[] = {dialog.CheckBox1->isChecked(), dialog.CheckBox2->isChecked(),
                     dialog.CheckBox3->isChecked(), dialog.CheckBox4->isChecked(),
                     dialog.CheckBox5->isChecked()};
  const int gate = dialog.RadioGroup2->itemIndex();
  return switches(on, dialog.RadioGroup1->itemIndex(),
                  gate == 0   ? "q8"
                  : gate == 1 ? "q7"
                              : QString("gate %1").arg(gate));
}

const QString SAVED_BOX = "設定を保存しました. | \"確認\" | Ok | None";

}  // namespace

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedServices> services;
  std::unique_ptr<TTarvikOption> dialog;
  std::unique_ptr<AdditionalSettings> additional;
  StartupSettings settings;
  bool q7Default = false;
  QString opened;      // the controls as the dialog opened
  QString afterReset;  // and after Reset was pressed

  QString settingsPath() const { return dir->filePath("tarvik32.cfg"); }

  // Scripts one opening of the dialog: notes the controls, presses Reset when asked, lets
  // change() set controls, and closes the dialog with result.
  void script(int result, bool reset, std::function<void(TTarvikOption&)> change = {}) {
    services->dialogScripts.push_back([=, this](QDialog& shown) {
      auto& options = static_cast<TTarvikOption&>(shown);
      opened = controls(options);
      if (reset) {
        QTest::mouseClick(options.BitBtn3, Qt::LeftButton);
        afterReset = controls(options);
      }
      if (change) change(options);
      return result;
    });
  }

  void run(const QString& path) {
    runOptionsCommand(*dialog, path, settings, q7Default, *additional, *services, nullptr);
  }

 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    services = std::make_unique<ScriptedServices>();
    dialog = std::make_unique<TTarvikOption>(*services, fluidSoundChoices());
    additional = std::make_unique<AdditionalSettings>(dir->filePath("tarvik32.conf"));
    settings = {};
    q7Default = false;
    opened.clear();
    afterReset.clear();
  }

  void opensWithTheStoredSettingsNotWhatTheLastOpeningLeft() {
    // The dialog is reused: a previous opening left every control set.
    for (QCheckBox* box : {dialog->CheckBox1, dialog->CheckBox2, dialog->CheckBox3,
                           dialog->CheckBox4, dialog->CheckBox5})
      box->setChecked(true);
    dialog->RadioGroup1->setItemIndex(2);
    settings = {.AutoSaveAtStart = true, .MaximizedAtStart = true, .FontSizeIndex = 1};
    q7Default = true;  // as after a compile whose options chose the Q7 default
    script(QDialog::Accepted, false,
           [](TTarvikOption& options) { options.RadioGroup2->setItemIndex(0); });

    run(settingsPath());
    QCOMPARE(opened, "S--M- font 1 q7");
    QCOMPARE(stored(settings, q7Default), "S--M- font 1 q8");
    QCOMPARE(readTestFile(settingsPath()).toHex(' '), settingsImage(0x29, 0).toHex(' '));
    QCOMPARE(services->boxesShown(), QStringList{SAVED_BOX});
  }

  void resetThenCancelChangesNothing() {
    const QByteArray old = settingsImage(0xcf, 0x01);
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(old);
    file.close();
    settings = {true, true, true, true, true, 2};
    q7Default = true;
    script(QDialog::Rejected, true);

    run(settingsPath());
    QCOMPARE(opened, "SLNMP font 2 q7");
    QCOMPARE(afterReset, "----- font 0 q8");
    QCOMPARE(services->dialogsShown, 1);
    QCOMPARE(readTestFile(settingsPath()).toHex(' '), old.toHex(' '));
    QCOMPARE(stored(settings, q7Default), "SLNMP font 2 q7");
    QCOMPARE(services->boxesShown(), QStringList{});
  }

  void resetThenOkSavesEverythingOff() {
    settings = {true, true, true, true, true, 2};
    q7Default = true;
    script(QDialog::Accepted, true);

    run(settingsPath());
    QCOMPARE(readTestFile(settingsPath()).toHex(' '), settingsImage(0x10, 0).toHex(' '));
    QCOMPARE(stored(settings, q7Default), "----- font 0 q8");
    QCOMPARE(services->boxesShown(), QStringList{SAVED_BOX});
    QVERIFY(!QFile::exists(dir->filePath("tarvik32.conf")));  // the sound page was not touched
  }

  void hiddenLineNumbersBoxKeepsItsValue() {
    QVERIFY(dialog->CheckBox3->isHidden());
    settings.LineNumbersAtStart = true;
    script(QDialog::Accepted, false, [](TTarvikOption& options) {
      options.CheckBox5->setChecked(true);
      options.RadioGroup1->setItemIndex(1);
    });

    run(settingsPath());
    QCOMPARE(readTestFile(settingsPath()).toHex(' '), settingsImage(0x24, 0x01).toHex(' '));
    QCOMPARE(stored(settings, q7Default), "--N-P font 1 q8");
  }

  // Each switch, the gate, the font and the sound reach their own control and come back as
  // confirmed; a cancelled dialog returns nothing.
  void chooseReturnsWhatWasConfirmed() {
    for (int mask = 0; mask < 64; ++mask) {
      const bool on = mask & 1;
      const OptionsChoice shown{
          {on, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0, (mask & 16) != 0, mask % 3},
          (mask & 32) != 0,
          {.audioOutput = on ? "alsa" : "",
           .reverb = !on,
           .chorus = on,
           .gain = (mask % 40) / 4.0}};
      services->dialogScripts.push_back([](QDialog&) { return int(QDialog::Accepted); });
      const std::optional<OptionsChoice> confirmed = dialog->choose(shown);
      QVERIFY2(confirmed && *confirmed == shown, qPrintable(QString("mask %1").arg(mask)));
    }
    script(QDialog::Accepted, false,
           [](TTarvikOption& options) { options.CheckBox4->setChecked(false); });
    OptionsChoice maximized;
    maximized.startup.MaximizedAtStart = true;
    QVERIFY(dialog->choose(maximized) == OptionsChoice());
    script(QDialog::Rejected, false,
           [](TTarvikOption& options) { options.CheckBox4->setChecked(false); });
    QVERIFY(!dialog->choose(maximized));
  }

  void failedSaveShowsBothBoxesInOrder() {
    QFile blocker(dir->filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    script(QDialog::Accepted, false,
           [](TTarvikOption& options) { options.CheckBox2->setChecked(true); });

    run(dir->filePath("not-a-folder/tarvik32.cfg"));
    QCOMPARE(services->boxesShown(),
             (QStringList{"cfgを開けません\n設定変更は保存不可 | no caption | Ok | Error",
                          "保存に失敗しました | no caption | Ok | Error"}));
    QCOMPARE(stored(settings, q7Default), "-L--- font 0 q8");  // what the dialog showed
  }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
