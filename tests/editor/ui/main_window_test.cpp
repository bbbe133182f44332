// Scenario tests of the main window's start-up and exit: settings applied through the menu
// commands, the toggle pairs, the single-instance lock, a backup that cannot be made, recovery of a
// left-over backup, the close prompt, and the options, about and exit commands.
#include <QTest>
#include <cerrno>
#include <cstring>

#include "editor/document/backup_lock.h"
#include "editor/document/score_document.h"
#include "editor/settings/options_dialog.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

const char RECOVERY_QUESTION[] = "自動backupfileがあります\n読み込みますか？";
const char SECOND_INSTANCE[] =
    "すでにtarvik32が起動中\n今から起動するtarvik32で\n自動backupは作動しません.";
const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void startsWithSettingsAppliedThroughTheCommands();
  void startsWithDefaultsWhenTheSettingsAreOfAnotherVersion();
  void togglePairsStayInStep();
  void fontCommandsSetBothPanesAndTheButtons();
  void fileArgumentsOpenInTurnAndSwitchesAreSkipped();
  void secondInstanceMakesNoBackupsAndLeavesTheFileAlone();
  void leftOverBackupIsOfferedAndYesLoadsIt();
  void leftOverBackupAnsweredNoIsNotLoaded();
  void recoveredBackupReplacesTheOpenedTextAndIsUntitled();
  void closeRemovesTheBackupFile();
  void exitAsksAndCancelAtTheSavePromptKeepsRunning();
  void closingWithUnsavedEmptyTextAsksNothing();
  void closeWithYesAndCancelledSaveAsKeepsRunning();
  void optionsCommandSavesAndReports();
  void aboutShowsTheVersionBox();
  void stateFolderThatCannotBeMadeIsReportedOnce();
};

void MainWindowTest::startsWithSettingsAppliedThroughTheCommands() {
  EditorFixture f;
  f.writeFile("tarvik32.cfg", settingsImage(0x01 | 0x02 | 0x40 | 0x80, 0x01));
  TForm1& form = f.start();
  QVERIFY(form.toolButton("SpeedButton6")->isChecked() && form.action("N16")->isChecked());
  QVERIFY(form.toolButton("SpeedButton5")->isChecked() && form.action("N13")->isChecked());
  QVERIFY(form.toolButton("SpeedButton12")->isChecked() && form.action("S1")->isChecked());
  QVERIFY(form.autoPanOn());
  QVERIFY(form.compiler().session().q7Default);
  QVERIFY(form.view().N12p1->isChecked() && !form.view().N8p1->isChecked() &&
          !form.view().N10p1->isChecked());
  QVERIFY(form.toolButton("SpeedButton10")->isChecked() &&
          !form.toolButton("SpeedButton8")->isChecked());
  QCOMPARE(editorPane(form)->font().pointSize(), 20);
  QCOMPARE(form.messagePane()->font().pointSize(), 20);
  QVERIFY(f.services.boxes.empty());
}

void MainWindowTest::startsWithDefaultsWhenTheSettingsAreOfAnotherVersion() {
  EditorFixture f;
  QByteArray image = settingsImage(0x01 | 0x20, 0x01);
  image[8] = '1';  // "TARVIK001"
  f.writeFile("tarvik32.cfg", image);
  TForm1& form = f.start();
  QCOMPARE(f.boxTexts(), QStringList{"tarvik32.cfgのバージョンが非対応形式"});
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Error);
  QVERIFY(!form.autoSaveOn() && !form.autoPanOn() && !form.playLoopOn());
  QVERIFY(form.view().N8p1->isChecked() && form.toolButton("SpeedButton8")->isChecked());
  QCOMPARE(editorPane(form)->font().pointSize(), 10);
}

void MainWindowTest::togglePairsStayInStep() {
  EditorFixture f;
  TForm1& form = f.start();
  form.N16Click();
  QVERIFY(form.toolButton("SpeedButton6")->isChecked() && form.action("N16")->isChecked());
  form.toolButton("SpeedButton6")->click();  // the button flips itself, then its command follows
  QVERIFY(!form.toolButton("SpeedButton6")->isChecked() && !form.action("N16")->isChecked());
  form.action("N13")->trigger();
  QVERIFY(form.toolButton("SpeedButton5")->isChecked() && form.action("N13")->isChecked());
  form.toolButton("SpeedButton12")->click();
  QVERIFY(form.action("S1")->isChecked() && form.compiler().session().autoPan);
  form.action("S1")->trigger();
  QVERIFY(!form.toolButton("SpeedButton12")->isChecked() && !form.action("S1")->isChecked() &&
          !form.compiler().session().autoPan);
}

void MainWindowTest::fontCommandsSetBothPanesAndTheButtons() {
  EditorFixture f;
  TForm1& form = f.start();
  // The pane shows the document's own text.
  const QTextDocument& text = form.document().text();
  QCOMPARE(editorPane(form)->document(), &text);
  form.view().N12p1->trigger();
  QCOMPARE(editorPane(form)->font().pointSize(), 20);
  QCOMPARE(form.messagePane()->font().pointSize(), 20);
  QCOMPARE(text.defaultFont().pointSize(), 20);
  QVERIFY(form.view().N12p1->isChecked() && !form.view().N8p1->isChecked());
  QVERIFY(form.toolButton("SpeedButton10")->isChecked() &&
          !form.toolButton("SpeedButton8")->isChecked());
  form.toolButton("SpeedButton9")->click();
  QCOMPARE(editorPane(form)->font().pointSize(), 14);
  QCOMPARE(form.messagePane()->font().pointSize(), 14);
  QVERIFY(form.view().N10p1->isChecked() && !form.view().N12p1->isChecked());
}

void MainWindowTest::fileArgumentsOpenInTurnAndSwitchesAreSkipped() {
  EditorFixture f;
  f.writeFile("one.fms", "ch1{\"c\"}\r\n");
  f.writeFile("two.fms", "// two\r\n");
  TForm1& form = f.start({"-x", "/s", f.path("one.fms"), f.path("two.fms")});
  QCOMPARE(editorText(form), QString("// two\n"));
  QCOMPARE(form.document().sourcePath(), f.path("two.fms"));
  QVERIFY(form.document().hasFileName() && form.document().isSaved());
  QCOMPARE(form.messagePane()->toPlainText(),
           QString(" -> 開いたソースのサイズ : 10 バイト\n -> 開いたソースのサイズ : 8 バイト"));
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString());
}

void MainWindowTest::secondInstanceMakesNoBackupsAndLeavesTheFileAlone() {
  EditorFixture f;
  BackupLock first(f.paths.backupFile);
  QVERIFY(first.createEmpty());
  QVERIFY(first.write("first instance's text"));
  QVERIFY(first.acquire());
  TForm1& form = f.start();
  QCOMPARE(f.boxTexts(), QStringList{SECOND_INSTANCE});
  QVERIFY(!f.services.boxes[0].caption.has_value());
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
  QVERIFY(!form.document().backupActive());
  typeText(form, "mine");
  form.document().schedule().idleCountdown = 1;
  form.document().schedule().backupCountdown = 1;
  form.Timer1Timer();
  form.document().setSaved(true);
  QVERIFY(f.closeWindow());
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("first instance's text"));
}

void MainWindowTest::leftOverBackupIsOfferedAndYesLoadsIt() {
  EditorFixture f;
  f.writeFile("tmp/!!tarvik32.tmp", "ch1{\"c\"}\r\n// \x89\xb9\x8a\x79\r\n");
  f.services.boxAnswers = {BoxAnswer::Yes};
  TForm1& form = f.start();
  QCOMPARE(f.boxTexts(), QStringList{RECOVERY_QUESTION});
  QCOMPARE(f.services.boxes[0].caption, BoxCaption("確認"));
  QCOMPARE(f.services.boxes[0].buttons, BoxButtons::YesNo);
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Question);
  QCOMPARE(editorText(form), QString("ch1{\"c\"}\n// 音楽\n"));
  QVERIFY(!form.document().isSaved() && !form.document().hasFileName());
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
  QVERIFY(form.document().backupActive());  // this instance owns the file from now on
}

void MainWindowTest::leftOverBackupAnsweredNoIsNotLoaded() {
  EditorFixture f;
  f.writeFile("tmp/!!tarvik32.tmp", "old text\r\n");
  f.services.boxAnswers = {BoxAnswer::No};
  TForm1& form = f.start();
  QCOMPARE(editorText(form), QString());
  QVERIFY(form.document().isSaved() && form.document().backupActive());
  form.document().schedule().idleCountdown = 1;
  form.document().schedule().backupCountdown = 1;
  typeText(form, "new");
  form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("new"));
}

// The recovered text replaces the opened file's text but not its file: it is untitled, so a
// save asks for a name instead of overwriting the file given on the command line.
void MainWindowTest::recoveredBackupReplacesTheOpenedTextAndIsUntitled() {
  EditorFixture f;
  f.writeFile("song.fms", "file text\r\n");
  f.writeFile("tmp/!!tarvik32.tmp", "backup text\r\n");
  f.services.boxAnswers = {BoxAnswer::Yes};
  TForm1& form = f.start({f.path("song.fms")});
  QCOMPARE(editorText(form), QString("backup text\n"));
  QVERIFY(!form.document().hasFileName());
  QCOMPARE(form.messagePane()->toPlainText(), QString(" -> 復元したソースのサイズ : 13 バイト"));
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
  f.services.fileNames = {f.path("recovered.fms")};
  form.Save1Click();
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  QCOMPARE(f.readFile("recovered.fms"), QByteArray("backup text\r\n"));
  QCOMPARE(f.readFile("song.fms"), QByteArray("file text\r\n"));
  QVERIFY(!f.exists("song.bak"));
}

void MainWindowTest::closeRemovesTheBackupFile() {
  EditorFixture f;
  f.start();
  QVERIFY(f.exists("tmp/!!tarvik32.tmp"));
  QVERIFY(f.closeWindow());
  QVERIFY(!f.exists("tmp/!!tarvik32.tmp"));
  QVERIFY(f.services.boxes.empty());
}

void MainWindowTest::exitAsksAndCancelAtTheSavePromptKeepsRunning() {
  EditorFixture f;
  TForm1& form = f.start();
  form.show();
  typeText(form, "unsaved");
  f.services.boxAnswers = {BoxAnswer::Yes, BoxAnswer::Cancel};
  form.Exit1Click();
  QCOMPARE(f.boxTexts(), (QStringList{"終了しますか？", SAVE_PROMPT}));
  QCOMPARE(f.services.boxes[0].caption, BoxCaption("vantor終了確認"));
  QCOMPARE(f.services.boxes[1].buttons, BoxButtons::YesNoCancel);
  QVERIFY(form.isVisible());
  QCOMPARE(editorText(form), QString("unsaved"));
  QVERIFY(f.exists("tmp/!!tarvik32.tmp"));
}

void MainWindowTest::closingWithUnsavedEmptyTextAsksNothing() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "x");
  editorPane(form)->clear();
  QVERIFY(!form.document().isSaved());
  QVERIFY(f.closeWindow());
  QVERIFY(f.services.boxes.empty());
}

void MainWindowTest::closeWithYesAndCancelledSaveAsKeepsRunning() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "keep me");
  f.services.boxAnswers = {BoxAnswer::Yes};
  f.services.fileNames = {QString()};  // the save-as dialog is cancelled
  QVERIFY(!f.closeWindow());
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  QVERIFY(f.services.fileDialogs[0].save);
  QCOMPARE(editorText(*f.form), QString("keep me"));
}

void MainWindowTest::optionsCommandSavesAndReports() {
  EditorFixture f;
  TForm1& form = f.start();
  f.services.dialogScripts.push_back(confirmOptions([](OptionsChoice& choice) {
    choice.startup.AutoSaveAtStart = true;
    choice.startup.AutoPanAtStart = true;
  }));
  form.N19Click();
  QCOMPARE(f.boxTexts(), QStringList{"設定を保存しました."});
  QCOMPARE(f.services.boxes[0].caption, BoxCaption("確認"));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::None);
  QCOMPARE(f.readFile("tarvik32.cfg"), settingsImage(0x01 | 0x10, 0x01));
  // The running window's toggles and font are not changed by saved settings.
  QVERIFY(!form.autoSaveOn() && !form.autoPanOn());
}

void MainWindowTest::aboutShowsTheVersionBox() {
  EditorFixture f;
  TForm1& form = f.start();
  form.about1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  const RecordedBox& box = f.services.boxes[0];
  QCOMPARE(box.caption, BoxCaption("バージョン情報"));
  QCOMPARE(box.icon, BoxIcon::None);
  QCOMPARE(box.buttons, BoxButtons::Ok);
  QCOMPARE(box.text.split('\n').size(), 3);
  QCOMPARE(box.text.split('\n').first(), QString("tarvik32 v1.01"));
}

// A state folder that cannot be made: the editor runs without backups and says so once in the
// message pane, naming the folder and the reason.
void MainWindowTest::stateFolderThatCannotBeMadeIsReportedOnce() {
  EditorFixture f;
  f.writeFile("plain", "a file where the state folder should be");
  const QByteArray saved = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", QFile::encodeName(f.path("plain/state")));
  f.paths.backupFile = userBackupFilePath();
  qputenv("XDG_STATE_HOME", saved);
  TForm1& form = f.start();
  const QString notice =
      QString(" [注意] フォルダ %1 を作れないため, 自動backupは作動しません: %2")
          .arg(f.path("plain/state/tarvik32"), QString::fromLocal8Bit(std::strerror(ENOTDIR)));
  QCOMPARE(form.messagePane()->toPlainText(), notice);
  QVERIFY(f.services.boxes.empty());
  QVERIFY(!form.document().backupActive());
  typeText(form, "text");
  form.document().schedule().idleCountdown = 1;
  form.document().schedule().backupCountdown = 1;
  form.Timer1Timer();
  QCOMPARE(form.messagePane()->toPlainText(), notice);
  form.document().setSaved(true);
  QVERIFY(f.closeWindow());
  QVERIFY(f.services.boxes.empty());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
