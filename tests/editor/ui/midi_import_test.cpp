// Scenario tests of the File menu's MIDI import: the save gate comes before the file dialog,
// the imported score replaces the text as a new untitled, edited score with the report in the
// message pane, and a refused file leaves the text as it was. A file whose parts do not fit in
// the channels asks which to import, checked as the importer would keep them; played input
// that fits is offered the grid alone.
#include <QCheckBox>
#include <QComboBox>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>

#include "editor/ui/midi_import_dialog.h"
#include "tests/editor/support/editor_fixture.h"
#include "tests/import/smf_builder.h"

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

constexpr int CROWD_PARTS = 10;
constexpr int PLAYED_LATE_TICKS = 40;  // off the sixteenth grid, on the compiler's

// Ten one-voice parts, one a track, on MIDI channels 1-9 and 11: part k plays k quarters of
// key 60 + k, so the two of the fewest notes are the ones the importer drops. Part 5 needs the
// sixteenth grid and the steady velocity to read as plain quarters.
QByteArray tenParts() {
  import_testing::SmfBuilder smf(1, 480);
  for (int k = 1; k <= CROWD_PARTS; ++k) {
    smf.track();
    const int channel = k <= 9 ? k - 1 : k;
    for (int i = 0; i < k; ++i) {
      // Part 5 as played: its second note a little late, its velocities a level apart.
      const int late = k == 5 && i == 1 ? PLAYED_LATE_TICKS : 0;
      smf.note(channel, 60 + k, i * 480 + late, (i + 1) * 480, k == 5 && i % 2 ? 71 : 79);
    }
  }
  const std::string bytes = smf.bytes();
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// One part of four quarters of key 60 as played: each note a few ticks early or late, off the
// compiler's grid.
QByteArray playedQuarters() {
  import_testing::SmfBuilder smf(1, 480);
  smf.track();
  const int shifts[] = {0, 7, -6, 5};
  for (int i = 0; i < 4; ++i) smf.note(0, 60, i * 480 + shifts[i], i * 480 + 400, 79);
  const std::string bytes = smf.bytes();
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The first column of every row of the dialog's part list: "part number: checked".
QStringList partRows(const MidiImportDialog& dialog) {
  QStringList rows;
  for (int i = 0; i < dialog.partList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = dialog.partList->topLevelItem(i);
    rows << row->text(0) + (row->checkState(0) == Qt::Checked ? ": on" : ": off");
  }
  return rows;
}

}  // namespace

class MidiImportTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void importReplacesTheTextWithAnUntitledEditedScore();
  void cancelAtTheSaveGateShowsNoDialogAndKeepsTheText();
  void refusedFileKeepsTheText();
  void partsThatDoNotFitAskAndImportTheChosenOnes();
  void cancellingThePartsDialogImportsNothing();
  void playedInputThatFitsOffersTheGrid();
};

void MidiImportTest::importReplacesTheTextWithAnUntitledEditedScore() {
  EditorFixture f;
  f.writeFile("song.fms", "ch1 { \"c\" }");
  f.writeFile("song.mid", twoNotes());
  TForm1& form = f.start({f.path("song.fms")});
  typeText(form, "// mine\n");
  f.services.boxAnswers = {BoxAnswer::No};
  f.services.fileNames = {f.path("song.mid")};
  form.importMidiFile();
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
  QCOMPARE(f.services.dialogsShown, 0);                           // its one part fits
}

void MidiImportTest::cancelAtTheSaveGateShowsNoDialogAndKeepsTheText() {
  EditorFixture f;
  f.writeFile("song.mid", twoNotes());
  TForm1& form = f.start();
  typeText(form, "my work");
  f.services.boxAnswers = {BoxAnswer::Cancel};
  f.services.fileNames = {f.path("song.mid")};
  form.importMidiFile();
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
  form.importMidiFile();
  QCOMPARE(
      f.boxTexts(),
      (QStringList{SAVE_PROMPT, "MIDI ファイルを読み込めません\nファイルが途中で切れています"}));
  QCOMPARE(f.services.boxes.back().icon, BoxIcon::Stop);
  QCOMPARE(editorText(form), QString("my work"));
  QVERIFY(!form.document().isSaved());
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           QString("ERR:MIDI ファイルを読み込めない : ファイルが途中で切れています"));
}

void MidiImportTest::partsThatDoNotFitAskAndImportTheChosenOnes() {
  EditorFixture f;
  f.writeFile("crowd.mid", tenParts());
  TForm1& form = f.start();
  f.services.fileNames = {f.path("crowd.mid")};
  QStringList shown;
  QStringList secondRow;
  QString grid;
  bool steady = true;
  f.services.dialogScripts.push_back([&](QDialog& d) {
    auto& dialog = dynamic_cast<MidiImportDialog&>(d);
    shown = partRows(dialog);
    for (int c = 0; c < dialog.partList->columnCount(); ++c)
      secondRow << dialog.partList->topLevelItem(1)->text(c);
    grid = dialog.gridBox->currentText();
    steady = dialog.steadyBox->isChecked();
    // Parts 1, 2 and 5 only, on a sixteenth grid with steady velocity.
    for (int i = 0; i < CROWD_PARTS; ++i) {
      dialog.partList->topLevelItem(i)->setCheckState(
          0, i == 0 || i == 1 || i == 4 ? Qt::Checked : Qt::Unchecked);
    }
    dialog.gridBox->setCurrentText("1/16");
    dialog.steadyBox->setChecked(true);
    return int(QDialog::Accepted);
  });
  form.importMidiFile();
  QCOMPARE(f.services.dialogsShown, 1);
  QCOMPARE(shown, (QStringList{"1: off", "2: off", "3: on", "4: on", "5: on", "6: on", "7: on",
                               "8: on", "9: on", "10: on"}));
  QCOMPARE(secondRow, (QStringList{"2", "2", "2", "-", "2", "1", ""}));
  QCOMPARE(grid, QString("なし(そのまま)"));  // the first import is exact
  QVERIFY(!steady);
  QCOMPARE(editorText(form),
           QString("ch1 {\n  \"l4 o3 c#\"  // 小節 1\n}\n\n"
                   "ch2 {\n  \"l4 o3 d d\"  // 小節 1\n}\n\n"
                   "ch3 {\n  \"l4 o3 f f f f\"  // 小節 1\n  \"o3 f\"  // 小節 2\n}\n"));
  QVERIFY(!form.document().isSaved());
  const QSettings kept(f.paths.additionalSettingsFile, QSettings::IniFormat);
  QCOMPARE(kept.value("MidiImport/Grid").toString(), QString("16"));
  QCOMPARE(kept.value("MidiImport/SteadyVelocity").toString(), QString("true"));

  // The next import opens with the choice kept.
  f.services.fileNames = {f.path("crowd.mid")};
  f.services.dialogScripts.push_back([&](QDialog& d) {
    auto& dialog = dynamic_cast<MidiImportDialog&>(d);
    grid = dialog.gridBox->currentText();
    steady = dialog.steadyBox->isChecked();
    return int(QDialog::Rejected);
  });
  f.services.boxAnswers = {BoxAnswer::No};
  form.importMidiFile();
  QCOMPARE(grid, QString("1/16"));
  QVERIFY(steady);
}

void MidiImportTest::cancellingThePartsDialogImportsNothing() {
  EditorFixture f;
  f.writeFile("crowd.mid", tenParts());
  TForm1& form = f.start();
  typeText(form, "my work");
  f.services.boxAnswers = {BoxAnswer::No};
  f.services.fileNames = {f.path("crowd.mid")};
  f.services.dialogScripts.push_back([](QDialog& d) {
    dynamic_cast<MidiImportDialog&>(d).gridBox->setCurrentIndex(3);
    return int(QDialog::Rejected);
  });
  form.importMidiFile();
  QCOMPARE(f.services.dialogsShown, 1);
  QCOMPARE(editorText(form), QString("my work"));
  QVERIFY(!form.document().isSaved());
  QCOMPARE(form.messagePane()->toPlainText(), QString());
  QVERIFY(!f.exists("config/tarvik32/tarvik32.conf"));  // nothing chosen, nothing kept
}

void MidiImportTest::playedInputThatFitsOffersTheGrid() {
  EditorFixture f;
  f.writeFile("played.mid", playedQuarters());
  TForm1& form = f.start();
  f.services.fileNames = {f.path("played.mid")};
  bool partsShown = true;
  f.services.dialogScripts.push_back([&](QDialog& d) {
    auto& dialog = dynamic_cast<MidiImportDialog&>(d);
    partsShown = dialog.partList->isVisibleTo(&dialog);
    dialog.gridBox->setCurrentText("1/4");
    return int(QDialog::Accepted);
  });
  form.importMidiFile();
  QCOMPARE(f.services.dialogsShown, 1);
  QVERIFY(!partsShown);  // every part fits: only the transcription is asked
  QCOMPARE(editorText(form), QString("ch1 {\n  \"l4 o3 c c c c\"  // 小節 1\n}\n"));
}

QTEST_MAIN(MidiImportTest)
#include "midi_import_test.moc"
