// Scenario tests of the File menu's MIDI import: the save gate comes before the file dialog,
// the imported score replaces the text as a new untitled, edited score with the report in the
// message pane, and a refused file leaves the text as it was.
#include <QTest>

#include "tests/editor/support/editor_fixture.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";

// A format 0 file at 480 ticks a quarter: c and d in octave 3 as quarters, the d one tick short,
// and a pitch bend.
QByteArray twoNotes() {
  return QByteArray("MThd\0\0\0\6\0\0\0\1\x01\xE0MTrk\0\0\0\x1A", 22) +
         QByteArray(
             "\0\x90\x3C\x4F\x83\x60\x80\x3C\0\0\x90\x3E\x4F\x83\x5F\x80\x3E\0"
             "\0\xE0\0\x50\0\xFF\x2F\0",
             26);
}

}  // namespace

class MidiImportTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void importReplacesTheTextWithAnUntitledEditedScore();
  void cancelAtTheSaveGateShowsNoDialogAndKeepsTheText();
  void refusedFileKeepsTheText();
};

void MidiImportTest::importReplacesTheTextWithAnUntitledEditedScore() {
  EditorFixture f;
  f.writeFile("song.fms", "ch1 { \"c\" }");
  f.writeFile("song.mid", twoNotes());
  TForm1& form = f.start({f.path("song.fms")});
  typeText(form, "// mine\n");
  f.services.boxAnswers = {BoxAnswer::No};
  f.services.fileNames = {f.path("song.mid")};
  form.ImportMidi1Click();
  QCOMPARE(f.boxTexts(), QStringList{SAVE_PROMPT});
  QCOMPARE(f.services.fileDialogs.size(), size_t{1});
  QVERIFY(!f.services.fileDialogs[0].save);
  QCOMPARE(f.services.fileDialogs[0].request.filters.first(),
           QString("MIDI ファイル(*.mid *.midi)"));
  QCOMPARE(editorText(form), QString("ch1 {\n  \"l4 o3 c d\"  // 小節 1\n}\n"));
  QVERIFY(!form.document().hasFileName());
  QVERIFY(!form.document().isSaved());
  QCOMPARE(form.statusText(PANEL_MODIFIED), QString("変更あり"));
  QCOMPARE(
      form.messagePane()->toPlainText(),
      QString(" -> MIDI ファイルを読み込みました : %1 (音符 2 個, 1 チャンネル)\n"
              " [読込] 格子に乗らない音符 1 個を最寄りの格子点へ動かしました (最大 1 ティック)\n"
              " [読込] ピッチベンド 1 個は保てません")
          .arg(f.path("song.mid")));
  QCOMPARE(f.readFile("song.fms"), QByteArray("ch1 { \"c\" }"));  // the old score as it was
}

void MidiImportTest::cancelAtTheSaveGateShowsNoDialogAndKeepsTheText() {
  EditorFixture f;
  f.writeFile("song.mid", twoNotes());
  TForm1& form = f.start();
  typeText(form, "my work");
  f.services.boxAnswers = {BoxAnswer::Cancel};
  f.services.fileNames = {f.path("song.mid")};
  form.ImportMidi1Click();
  QVERIFY(f.services.fileDialogs.empty());
  QCOMPARE(editorText(form), QString("my work"));
}

void MidiImportTest::refusedFileKeepsTheText() {
  EditorFixture f;
  f.writeFile("cut.mid", twoNotes().left(30));
  TForm1& form = f.start();
  typeText(form, "my work");
  f.services.boxAnswers = {BoxAnswer::No, BoxAnswer::Ok};
  f.services.fileNames = {f.path("cut.mid")};
  form.ImportMidi1Click();
  QCOMPARE(
      f.boxTexts(),
      (QStringList{SAVE_PROMPT, "MIDI ファイルを読み込めません\nファイルが途中で切れています"}));
  QCOMPARE(f.services.boxes.back().icon, BoxIcon::Stop);
  QCOMPARE(editorText(form), QString("my work"));
  QVERIFY(!form.document().isSaved());
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           QString("ERR:MIDI ファイルを読み込めない : ファイルが途中で切れています"));
}

QTEST_MAIN(MidiImportTest)
#include "midi_import_test.moc"
