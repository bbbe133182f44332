// Scenario tests of the source file commands and the editing view: open, save with ".bak",
// save as, close, drop, the automatic backup schedule, byte-exact loading and saving, UTF-8
// scores and the conversions, the status bar read-out, go-to-line and the edit menu.
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QUrl>

#include "editor/view/goto_line_dialog.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";

// Runs the go-to-line dialog with `entry` typed and OK pressed.
void goToLine(EditorFixture& f, const QString& entry) {
  f.services.dialogScripts.push_back([entry](QDialog& dialog) {
    auto& go = static_cast<TGotoLine&>(dialog);
    go.Edit1->setText(entry);
    go.BitBtn1->click();
    return go.result();
  });
  f.form->view().N6Click();
}

void placeCaret(TForm1& form, int position) {
  QTextCursor cursor = editorPane(form)->textCursor();
  cursor.setPosition(position);
  editorPane(form)->setTextCursor(cursor);
}

}  // namespace

class FileCommandsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void bakCopyLifeCycle();
  void saveAsOntoAnExistingNameKeepsItAsBak();
  void saveAsWithABakNameReplacesIt();
  void everyLineEndOpensAsALineAndSavesAsCrLf();
  void everyByteAndByteSequenceSurvivesOpenAndSave();
  void textThatCodePage932CannotHoldIsNotSaved();
  void textThatCodePage932CannotHoldSavesAsUtf8OnYes();
  void utf8ScoreCountsAndShowsItsEncoding();
  void conversionCommandsFollowTheEncoding();
  void typedInputCountsUtf8Bytes();
  void failedWriteKeepsTheTextUnsaved();
  void unreadableFilesTakeTheFailedOpenPath();
  void oversizedFileIsRefusedAndOddNamesWork();
  void typedInputStopsAtTheCapacity();
  void longPathsAreKeptWhole();
  void openAskingYesWithCancelledSaveLoadsNothing();
  void closeReportsTheSizeAndMakesTheTextUntitled();
  void dropOpensOnlyTheFirstFile();
  void dropOntoEditedTextCancelledLeavesEverything();
  void backupWaitsForIdleTicksAfterTheInterval();
  void goToLineOnAShortText();
  void goToLineRejectsAnEntryThatIsNotANumber();
  void statusBarCountsCodePage932Bytes();
  void editMenuEnablesFollowTheSelection();
  void pasteTakesPlainTextOnly();
};

void FileCommandsTest::bakCopyLifeCycle() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "first");
  f.services.fileNames = {f.path("song.fms")};
  form.Save1Click();  // untitled: save as
  QCOMPARE(f.readFile("song.fms"), QByteArray("first"));
  QVERIFY(!f.exists("song.bak"));
  QVERIFY(form.document().isSaved() && form.document().hasFileName());
  QCOMPARE(form.document().midiOutputPath(), f.path("song.mid"));

  typeText(form, "\nsecond");
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
  form.Save1Click();
  QCOMPARE(f.readFile("song.fms"), QByteArray("first\r\nsecond"));
  QCOMPARE(f.readFile("song.bak"), QByteArray("first"));
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString());

  // An unchanged text is not written again and the ".bak" copy stays.
  f.writeFile("song.fms", "changed outside");
  form.Save1Click();
  QCOMPARE(f.readFile("song.fms"), QByteArray("changed outside"));
  QCOMPARE(f.readFile("song.bak"), QByteArray("first"));
  QVERIFY(f.services.boxes.empty());
}

void FileCommandsTest::saveAsOntoAnExistingNameKeepsItAsBak() {
  EditorFixture f;
  f.writeFile("old.fms", "old version");
  TForm1& form = f.start();
  typeText(form, "new version");
  f.services.fileNames = {f.path("old.fms")};
  form.N1Click();
  QVERIFY(f.services.fileDialogs[0].request.confirmOverwrite);
  QCOMPARE(f.services.fileDialogs[0].request.defaultSuffix, QString("fms"));
  QCOMPARE(f.readFile("old.fms"), QByteArray("new version"));
  QCOMPARE(f.readFile("old.bak"), QByteArray("old version"));
}

void FileCommandsTest::saveAsWithABakNameReplacesIt() {
  EditorFixture f;
  f.writeFile("x.bak", "was here");
  TForm1& form = f.start();
  typeText(form, "text");
  f.services.fileNames = {f.path("x.bak")};
  form.N1Click();
  QCOMPARE(f.readFile("x.bak"), QByteArray("text"));
  QCOMPARE(QDir(f.dir.path()).entryList({"x*"}, QDir::Files), QStringList{"x.bak"});
}

void FileCommandsTest::everyLineEndOpensAsALineAndSavesAsCrLf() {
  EditorFixture f;
  f.writeFile("mixed.fms", "a\nb\rc\r\nd\n\re");
  TForm1& form = f.start({f.path("mixed.fms")});
  QCOMPARE(editorPane(form)->document()->blockCount(), 6);
  QCOMPARE(editorText(form), QString("a\nb\nc\nd\n\ne"));
  QCOMPARE(form.document().size(), qsizetype(15));
  typeText(form, "!");  // at the start: the text counts as edited
  form.Save1Click();
  QCOMPARE(f.readFile("mixed.fms"), QByteArray("!a\r\nb\r\nc\r\nd\r\n\r\ne"));
}

void FileCommandsTest::everyByteAndByteSequenceSurvivesOpenAndSave() {
  // Every byte value but the line ends, one per line; then every two-byte sequence.
  QByteArray bytes;
  for (int b = 0; b < 256; ++b) {
    if (b == '\r' || b == '\n') continue;
    bytes += char(b);
    bytes += "\r\n";
  }
  for (int hi = 0x80; hi < 0x100; ++hi) {
    for (int lo = 0; lo < 0x100; ++lo) {
      if (lo == '\r' || lo == '\n') continue;
      bytes += char(hi);
      bytes += char(lo);
      bytes += ' ';
    }
    bytes += "\r\n";
  }
  EditorFixture f;
  f.writeFile("all.fms", bytes);
  TForm1& form = f.start({f.path("all.fms")});
  QCOMPARE(form.document().size(), qsizetype(bytes.size()));
  form.document().setSaved(false);
  form.Save1Click();
  QVERIFY(f.services.boxes.empty());
  QVERIFY(f.readFile("all.fms") == bytes);
  QVERIFY(f.readFile("all.bak") == bytes);
}

void FileCommandsTest::textThatCodePage932CannotHoldIsNotSaved() {
  EditorFixture f;
  f.writeFile("song.fms", "ch1{\"c\"}\r\n");
  TForm1& form = f.start({f.path("song.fms")});
  QTextCursor end = editorPane(form)->textCursor();
  end.movePosition(QTextCursor::End);
  editorPane(form)->setTextCursor(end);
  typeText(form, QString("// ") + QString::fromUcs4(U"\U0001F3B5"));
  f.services.boxAnswers = {BoxAnswer::No};
  form.Save1Click();
  QCOMPARE(
      f.services.boxesShown(),
      QStringList{describeBox({"保存できません.\n2 行目の文字「\U0001F3B5」(U+1F3B5) は\n"
                               "シフトJIS(コードページ932)で表せません.\nUTF-8 で保存しますか？",
                               std::nullopt, BoxButtons::YesNo, BoxIcon::Question})});
  QVERIFY(!form.document().isSaved());
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("CP932"));
  QCOMPARE(f.readFile("song.fms"), QByteArray("ch1{\"c\"}\r\n"));
  QVERIFY(!f.exists("song.bak"));
}

// Yes converts the text to UTF-8 and saves it, in save as too; the escaped byte stays a byte.
void FileCommandsTest::textThatCodePage932CannotHoldSavesAsUtf8OnYes() {
  EditorFixture f;
  f.writeFile("song.fms", "// \x82\xA0\r\n");
  TForm1& form = f.start({f.path("song.fms")});
  typeText(form, QString::fromUcs4(U"\U0001F3B5"));
  f.services.boxAnswers = {BoxAnswer::Yes};
  form.Save1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QVERIFY(form.document().isSaved());
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("UTF-8"));
  QCOMPARE(f.readFile("song.fms"), QByteArray("\xF0\x9F\x8E\xB5// \xE3\x81\x82\r\n"));
  QCOMPARE(f.readFile("song.bak"), QByteArray("// \x82\xA0\r\n"));

  EditorFixture g;
  TForm1& untitled = g.start();
  typeText(untitled, QString(QChar(0xDB80)) + QChar(0xDC80) + QStringLiteral(" あ\u301C"));
  g.services.fileNames = {g.path("new.fms")};
  g.services.boxAnswers = {BoxAnswer::Yes};
  untitled.Save1Click();  // save as: the text has no name yet
  // The byte 0x80 is no UTF-8: the mark keeps the file opening as UTF-8.
  QCOMPARE(g.readFile("new.fms"), QByteArray("\xEF\xBB\xBF\x80 \xE3\x81\x82\xE3\x80\x9C"));
  QCOMPARE(untitled.document().sourcePath(), g.path("new.fms"));
}

void FileCommandsTest::utf8ScoreCountsAndShowsItsEncoding() {
  EditorFixture f;
  TForm1& form = f.start();
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("CP932"));
  f.writeFile("song.fms", "\xEF\xBB\xBF// \xE6\x9B\xB2\r\nab");
  QVERIFY(form.loadSourceFile(f.path("song.fms")));
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("UTF-8"));
  QCOMPARE(form.statusText(PANEL_AT), QString("@"));
  QCOMPARE(form.messagePane()->toPlainText(), QString(" -> 開いたソースのサイズ : 10 バイト"));
  placeCaret(form, 4);  // after "曲": its 3 bytes count 2 columns, as in code page 932
  form.updateStatusBar();
  QCOMPARE(form.statusText(PANEL_COLUMN), QString("6 桁"));
  QCOMPARE(form.statusText(PANEL_SIZE), QString("10 Byte"));
  form.Close1Click();
  QCOMPARE(form.messagePane()->toPlainText(), QString(" -> 閉じたソースのサイズ : 10 バイト"));
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("CP932"));
}

// Only the conversion to the other encoding is offered; one that cannot be done names the
// character, its line and its column (counted as code page 932 counts the line, as the status
// bar does), and changes nothing.
void FileCommandsTest::conversionCommandsFollowTheEncoding() {
  EditorFixture f;
  f.writeFile("song.fms", "ch1{\"c\"}\r\n// \xE6\x9B\xB2\xE3\x80\x81\xE9\xB7\x97\r\n");
  TForm1& form = f.start({f.path("song.fms")});
  QVERIFY(!form.action("convertToUtf8")->isEnabled() && form.action("convertToCp932")->isEnabled());
  form.convertToCp932();
  QCOMPARE(f.services.boxesShown(),
           QStringList{describeBox({"シフトJIS に変換できません.\n2 行目 8 桁目の文字「鷗」"
                                    "(U+9DD7) は\nシフトJIS(コードページ932)で表せません.",
                                    std::nullopt, BoxButtons::Ok, BoxIcon::Stop})});
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("UTF-8"));
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString());

  QTextCursor last(editorPane(form)->document()->findBlockByNumber(1));
  last.movePosition(QTextCursor::EndOfBlock);
  last.deletePreviousChar();
  form.convertToCp932();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("CP932"));
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
  QCOMPARE(form.statusText(PANEL_SIZE), QString("19 Byte"));
  QVERIFY(form.action("convertToUtf8")->isEnabled() && !form.action("convertToCp932")->isEnabled());
  form.Save1Click();
  QCOMPARE(f.readFile("song.fms"), QByteArray("ch1{\"c\"}\r\n// \x8B\xC8\x81\x41\r\n"));
}

void FileCommandsTest::typedInputCountsUtf8Bytes() {
  EditorFixture f;
  TForm1& form = f.start();
  form.convertToUtf8();
  editorPane(form)->setPlainText(QString(EDITOR_INPUT_LIMIT - 4, 'a'));
  editorPane(form)->moveCursor(QTextCursor::End);
  for (const QChar c : QString("あxyz")) {  // 3 + 1 bytes fit, then nothing more
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(editorPane(form), &press);
  }
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  QVERIFY(editorText(form).endsWith("aあx"));
}

void FileCommandsTest::failedWriteKeepsTheTextUnsaved() {
  EditorFixture f;
  f.writeFile("notadir", "a file, not a folder");
  TForm1& form = f.start();
  typeText(form, "text");
  f.services.fileNames = {f.path("notadir/song.fms")};
  form.N1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
  QVERIFY(!form.document().isSaved() && !form.document().hasFileName());
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
}

void FileCommandsTest::unreadableFilesTakeTheFailedOpenPath() {
  EditorFixture f;
  QDir(f.dir.path()).mkdir("folder");
  TForm1& form = f.start();
  typeText(form, "kept");
  f.services.boxAnswers = {BoxAnswer::No};
  for (const QString& name : {f.path("folder"), f.path("missing.fms")}) {
    f.services.fileNames = {name};
    form.Open1Click();
  }
  QCOMPARE(f.boxTexts(), (QStringList{SAVE_PROMPT, "OPENできません", "OPENできません"}));
  QVERIFY(!f.services.boxes[1].caption.has_value());
  QCOMPARE(editorText(form), QString("kept"));
  QVERIFY(form.document().isSaved() && !form.document().hasFileName());
  QCOMPARE(form.messagePane()->toPlainText(),
           QString("ERR:ファイルオープンできない.\nERR:ファイルオープンできない."));
}

void FileCommandsTest::oversizedFileIsRefusedAndOddNamesWork() {
  EditorFixture f;
  QFile big(f.path("big.fms"));
  QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(50 * 1024 * 1024));
  big.close();
  const QString odd = "曲 の\tなまえ.fms";
  f.writeFile(odd, "ch1{\"c\"}\r\n");
  TForm1& form = f.start({f.path("big.fms"), f.path(odd)});
  QCOMPARE(f.boxTexts(), QStringList{"OPENできません"});
  QCOMPARE(form.document().sourcePath(), f.path(odd));
  typeText(form, "// ");
  form.Save1Click();
  QCOMPARE(f.readFile(odd), QByteArray("// ch1{\"c\"}\r\n"));
  QCOMPARE(f.readFile("曲 の\tなまえ.bak"), QByteArray("ch1{\"c\"}\r\n"));
}

void FileCommandsTest::typedInputStopsAtTheCapacity() {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(QString(EDITOR_INPUT_LIMIT - 3, 'a'));
  editorPane(form)->moveCursor(QTextCursor::End);
  for (const QChar c : QString("あxyz")) {  // 2 + 1 bytes fit, then nothing more
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(editorPane(form), &press);
  }
  QCOMPARE(form.document().size(), EDITOR_INPUT_LIMIT);
  QVERIFY(editorText(form).endsWith("aあx"));
}

void FileCommandsTest::longPathsAreKeptWhole() {
  EditorFixture f;
  const QString folder = QString(120, 'd') + "/" + QString(120, 'e') + "/" + QString(120, 'f');
  QVERIFY(QDir(f.dir.path()).mkpath(folder));
  const QString name = folder + "/song.fms";
  f.writeFile(name, "first");
  TForm1& form = f.start({f.path(name)});
  QVERIFY(form.document().sourcePath().size() > 300);
  typeText(form, "x");
  form.Save1Click();
  QCOMPARE(f.readFile(name), QByteArray("xfirst"));
  QCOMPARE(form.document().midiOutputPath(), f.path(folder + "/song.mid"));
}

void FileCommandsTest::openAskingYesWithCancelledSaveLoadsNothing() {
  EditorFixture f;
  f.writeFile("other.fms", "other");
  TForm1& form = f.start();
  typeText(form, "my work");
  f.services.fileNames = {f.path("other.fms"), QString()};  // open dialog, then save-as cancelled
  f.services.boxAnswers = {BoxAnswer::Yes};
  form.Open1Click();
  QCOMPARE(editorText(form), QString("my work"));
  QVERIFY(!form.document().isSaved());
}

void FileCommandsTest::closeReportsTheSizeAndMakesTheTextUntitled() {
  EditorFixture f;
  f.writeFile("song.fms", "ab\r\ncd");
  TForm1& form = f.start({f.path("song.fms")});
  form.Close1Click();
  QVERIFY(f.services.boxes.empty());
  QCOMPARE(editorText(form), QString());
  QCOMPARE(form.messagePane()->toPlainText(), QString(" -> 閉じたソースのサイズ : 6 バイト"));
  QVERIFY(form.document().isSaved() && !form.document().hasFileName());
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString());
}

void FileCommandsTest::dropOpensOnlyTheFirstFile() {
  EditorFixture f;
  f.writeFile("a.fms", "first");
  f.writeFile("b.fms", "second");
  f.writeFile("old.fms", "old");
  TForm1& form = f.start({f.path("old.fms")});
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(f.path("a.fms")), QUrl::fromLocalFile(f.path("b.fms"))});
  // Dropped onto the editor pane: the pane leaves files to the window, which opens them.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(editorPane(form)->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(editorPane(form)->viewport(), &drop);
  QCOMPARE(editorText(form), QString("first"));
  QCOMPARE(form.document().sourcePath(), f.path("a.fms"));
  QCOMPARE(form.messagePane()->toPlainText(),
           QString(" -> 閉じたソースのサイズ : 3 バイト\n -> 開いたソースのサイズ : 5 バイト"));
}

void FileCommandsTest::dropOntoEditedTextCancelledLeavesEverything() {
  EditorFixture f;
  f.writeFile("a.fms", "dropped");
  TForm1& form = f.start();
  form.appendMessage("earlier message");
  typeText(form, "edited");
  f.services.boxAnswers = {BoxAnswer::Cancel};
  form.filesDropped({f.path("a.fms")});
  QCOMPARE(f.boxTexts(), QStringList{SAVE_PROMPT});
  QVERIFY(!form.playback().hasTemporaryFile());
  QVERIFY(!form.document().isSaved());
  QCOMPARE(editorText(form), QString("edited"));
  QCOMPARE(form.messagePane()->toPlainText(), QString("earlier message"));
}

void FileCommandsTest::backupWaitsForIdleTicksAfterTheInterval() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "v1");
  // A key released between every fourth and fifth quiet tick keeps the backup away however
  // long it goes on.
  for (int tick = 1; tick <= 400; ++tick) {
    if (tick % 4 == 0) form.FormKeyUp(Qt::Key_A);
    form.Timer1Timer();
  }
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray());
  // Idle from now on: the last key came just before tick 400, so the fifth tick since then,
  // the fourth from now, writes the backup.
  for (int tick = 1; tick <= 3; ++tick) form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray());
  form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("v1"));
  QCOMPARE(form.windowTitle(), QString("tarvik32(GUI)"));
  QVERIFY(form.document().backupLock().held() && form.backupTimer()->isActive());
  QCOMPARE(form.document().schedule().backupCountdown, BACKUP_INTERVAL_TICKS);
  // The next one needs the whole interval again.
  typeText(form, "v2");
  for (int tick = 1; tick < BACKUP_INTERVAL_TICKS; ++tick) form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("v1"));
  form.Timer1Timer();
  QCOMPARE(f.readFile("tmp/!!tarvik32.tmp"), QByteArray("v1v2"));
}

void FileCommandsTest::goToLineOnAShortText() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "a\nb\nc");
  goToLine(f, "3");
  QCOMPARE(editorPane(form)->textCursor().position(), 4);
  goToLine(f, "0");
  QCOMPARE(editorPane(form)->textCursor().position(), 0);
  goToLine(f, "4");
  QCOMPARE(f.boxTexts(), QStringList{"指定した行番号はない(最大 4行)"});
  QCOMPARE(editorPane(form)->textCursor().position(), 0);
  // The entry takes digits and "." only, at most 7 characters.
  gotoLineDialog(form)->Edit1->clear();
  QTest::keyClicks(gotoLineDialog(form)->Edit1, "12a.345678");
  QCOMPARE(gotoLineDialog(form)->Edit1->text(), QString("12.3456"));
}

void FileCommandsTest::goToLineRejectsAnEntryThatIsNotANumber() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "a\nb");
  placeCaret(form, 1);
  goToLine(f, "1.5");
  goToLine(f, "");
  QCOMPARE(f.boxTexts(), QStringList{"数値を入力してください"});
  QCOMPARE(editorPane(form)->textCursor().position(), 1);
}

void FileCommandsTest::statusBarCountsCodePage932Bytes() {
  EditorFixture f;
  TForm1& form = f.start();
  form.updateStatusBar();
  QCOMPARE(form.statusText(PANEL_LINE), QString("1 行"));
  QCOMPARE(form.statusText(PANEL_COLUMN), QString("1 桁"));
  QCOMPARE(form.statusText(PANEL_SIZE), QString("0 Byte"));
  typeText(form, "ab\nあx\nｱ");
  placeCaret(form, 4);  // after "あ" at the start of line 2
  form.updateStatusBar();
  QCOMPARE(form.statusText(PANEL_LINE), QString("2 行"));
  QCOMPARE(form.statusText(PANEL_COLUMN), QString("3 桁"));
  QCOMPARE(form.statusText(PANEL_SIZE), QString("10 Byte"));
  // A wide character code page 932 cannot hold stands two columns wide, as it is seen.
  editorPane(form)->selectAll();
  typeText(form, QStringLiteral("😀c"));
  placeCaret(form, 2);  // after the emoji, a surrogate pair
  form.updateStatusBar();
  QCOMPARE(form.statusText(PANEL_COLUMN), QString("3 桁"));
  // Large edits keep the count exact: replace everything, then delete a line in the middle.
  editorPane(form)->selectAll();
  typeText(form, QString("漢字\n").repeated(1000));
  QCOMPARE(form.document().size(), qsizetype(6000));
  QTextCursor cursor(editorPane(form)->document()->findBlockByNumber(10));
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, 5);
  cursor.removeSelectedText();
  QCOMPARE(form.document().size(), qsizetype(5970));
}

void FileCommandsTest::editMenuEnablesFollowTheSelection() {
  EditorFixture f;
  TForm1& form = f.start();
  form.view().updateEditItems();
  QVERIFY(!form.view().Undo2->isEnabled() && !form.view().Cut2->isEnabled() &&
          !form.view().Copy2->isEnabled() && !form.view().Delete2->isEnabled());
  QVERIFY(form.view().Paste2->isEnabled() && form.view().SelectAll2->isEnabled());
  typeText(form, "abc");
  form.view().SelectAll1Click();
  form.view().updateEditItems();
  QVERIFY(form.view().Undo2->isEnabled() && form.view().Cut2->isEnabled() &&
          form.view().Copy2->isEnabled() && form.view().Delete2->isEnabled());
  form.view().Delete1Click();
  QCOMPARE(editorText(form), QString());
}

void FileCommandsTest::pasteTakesPlainTextOnly() {
  EditorFixture f;
  TForm1& form = f.start();
  auto* data = new QMimeData;
  data->setHtml("<b>bold</b>");
  data->setText("plain");
  QGuiApplication::clipboard()->setMimeData(data);
  form.view().Paste1Click();
  QCOMPARE(editorText(form), QString("plain"));
  QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasHtml());
  QTest::keyClick(editorPane(form), Qt::Key_Insert, Qt::ShiftModifier);
  QCOMPARE(editorText(form), QString("plainplain"));
}

QTEST_MAIN(FileCommandsTest)
#include "file_commands_test.moc"
