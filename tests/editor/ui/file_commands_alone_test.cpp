// The file commands driven by themselves, with a window that records every call in place of the
// main window: what they show, in what order, and what they leave in the document and the list
// of recent files.
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/command_window.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/playback_commands.h"
#include "tests/editor/support/scripted_services.h"
#include "tests/editor/support/test_files.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";

// Every call as one line: "stop <text>", "message <line>", "clear", "status".
class RecordingWindow : public CommandWindow {
 public:
  QWidget& widget() override { return widget_; }
  void showStop(const QString& text, const BoxCaption&) override { calls << "stop " + text; }
  void appendMessage(const QString& line) override { calls << "message " + line; }
  void clearMessages() override { calls << "clear"; }
  void updateStatusBar() override { calls << "status"; }
  bool endedBySignal() const override { return false; }

  QStringList calls;

 private:
  QWidget widget_;
};

// The file commands over a document, the settings and an idle compiler and player.
struct FileCommandsAlone {
  QTemporaryDir dir;
  ScriptedServices services;
  RecordingWindow window;
  QAction autoSave, toUtf8, toCp932, run, loop, followScore, keepPlace;
  ScoreDocument document{dir.filePath("state/!!tarvik32.tmp")};
  AdditionalSettings settings{dir.filePath("additional.ini")};
  PlaybackCommands playing{services.player, dir.path(), {&run, &loop, &followScore, &keepPlace}};
  CompileController compiler{playing.temporaryMidi(), CompileSinks{}};
  FileCommands files{window.widget(), {&autoSave, &toUtf8, &toCp932}};

  FileCommandsAlone() { files.attach({document, settings, compiler, services, window, playing}); }
  QString path(const QString& name) const { return dir.filePath(name); }
};

}  // namespace

class FileCommandsAloneTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void closingAnEditedTextAsksFirstThenClearsThePaneBeforeReportingTheSize();
  void aFailedOpenIsShownThenNotedAndForgetsTheName();
};

void FileCommandsAloneTest::closingAnEditedTextAsksFirstThenClearsThePaneBeforeReportingTheSize() {
  FileCommandsAlone f;
  QTextCursor(&f.document.text()).insertText("abc");
  f.services.boxAnswers = {BoxAnswer::Cancel, BoxAnswer::No};
  QVERIFY(!f.files.close());  // Cancel keeps the text and says nothing
  QVERIFY(f.window.calls.isEmpty());
  QCOMPARE(f.document.text().toPlainText(), QString("abc"));

  QVERIFY(f.files.close());
  QCOMPARE(f.services.boxesShown(),
           QStringList(2, describeBox({SAVE_PROMPT, QString("確認"), BoxButtons::YesNoCancel,
                                       BoxIcon::Question})));
  QCOMPARE(f.window.calls, (QStringList{"clear", "message  -> 閉じたソースのサイズ : 3 バイト"}));
  QVERIFY(f.document.text().isEmpty());
}

void FileCommandsAloneTest::aFailedOpenIsShownThenNotedAndForgetsTheName() {
  FileCommandsAlone f;
  writeTestFile(f.path("song.fms"), "c d e");
  QVERIFY(f.files.load(f.path("song.fms")));
  QCOMPARE(f.files.lastOpenName, f.path("song.fms"));
  QCOMPARE(f.settings.recentFiles(), QStringList{f.path("song.fms")});
  QCOMPARE(f.files.recentMenu()->actions().size(), 1);
  QVERIFY(f.files.recentMenu()->menuAction()->isEnabled());

  QVERIFY(!f.files.load(f.path("missing.fms")));
  QCOMPARE(f.window.calls,
           (QStringList{"message  -> 開いたソースのサイズ : 5 バイト", "stop OPENできません",
                        "message ERR:ファイルオープンできない."}));
  QVERIFY(f.files.lastOpenName.isEmpty());
  QCOMPARE(f.settings.recentFiles(), QStringList{f.path("song.fms")});
  QCOMPARE(f.document.text().toPlainText(), QString("c d e"));
}

QTEST_MAIN(FileCommandsAloneTest)
#include "file_commands_alone_test.moc"
