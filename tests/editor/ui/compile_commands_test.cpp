// Scenario tests of the compile commands and the player window: compile and play with the
// temporary MIDI file, make MIDI file, compiled-data output, outputs refused where they would be
// the score itself, repeated compilations on the one session, the error jump, op(autolr) on the
// toggles, UTF-8 scores as the console compiler reads them, and the player's display, seek, loop
// and end of playback.
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "editor/roll/piano_roll.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/player_window.h"
#include "editor/ui/roll_link.h"
#include "tests/editor/support/editor_fixture.h"
#include "tests/support/memory_host.h"

namespace {

const QString SCORE =
    "op(autolr)\n"
    "ch1{ \"t120 o4 l4 c d e f\" }\n"
    "ch2{ \"t90 o3 l2 c g\" }\n";

// Runs compile and play and returns the bytes of the temporary file it plays.
QByteArray compileAndPlay(EditorFixture& f) {
  f.form->N4Click();
  QFile file(f.form->playback().playPath());
  if (!file.open(QIODevice::ReadOnly)) return "<no file>";
  return file.readAll();
}

QByteArray bytesOf(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

// The first track chunk of a MIDI file: "MTrk", its length and its events.
QByteArray firstTrack(const QByteArray& midi) {
  constexpr qsizetype HEADER_CHUNK = 14;
  constexpr qsizetype CHUNK_HEAD = 8;
  if (midi.size() < HEADER_CHUNK + CHUNK_HEAD) return "<no track>";
  const auto* length = reinterpret_cast<const uint8_t*>(midi.constData() + HEADER_CHUNK + 4);
  const qsizetype size = length[0] << 24 | length[1] << 16 | length[2] << 8 | length[3];
  return midi.mid(HEADER_CHUNK, CHUNK_HEAD + size);
}

void caretToPaneLine(TForm1& form, int line) {
  QTextCursor cursor(form.messagePane()->document()->findBlockByNumber(line));
  form.messagePane()->setTextCursor(cursor);
}

}  // namespace

class CompileCommandsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void compileAndPlayOnAnEmptyEditorHasNothingToPlay();
  void compileAndPlayWritesAndPlaysAFreshTemporaryFile();
  void repeatedCompilationsMatchAFreshOne();
  void autoSaveWithCancelledSaveAsStillCompiles();
  void noSoundDeviceLeavesTheEditorUsable();
  void aPlayWaitingForItsSoundFontLeavesTheWindowFree();
  void eachPlayTakesTheSoundOfTheOptionsAndReportsAFallback();
  void playingWithoutADeviceIsNotedOnceARun();
  void pauseInEitherWindowEndsPlayback();
  void endOfPlaybackClosesOrLoops();
  void sliderSeeksOnlyBeyondTheTolerance();
  void refreshBlinksAndShowsTheTimes();
  void noTemporaryFileOutlivesARun();
  void makeMidiFileNeedsANameAndWritesBesideTheScore();
  void makeMidiFileRefusesAnOutputThatIsTheScore_data();
  void makeMidiFileRefusesAnOutputThatIsTheScore();
  void outputsNamedForTheScoreItselfAreRefused();
  void compiledDataIsOfferedAlsoAfterAnError();
  void compiledDataWriteFailureIsReported();
  void errorLineJumpsToTheScoreLine();
  void utf8ScoreMakesTheConsolesMidiFile();
  void utf8FailingLineIsQuotedAsItReads();
  void opKeywordsSwitchTheAutoPanPair();
  void commandsWaitingDuringACompilationDoNotRun();
  void manualOpensTheFirstOneThatExists();
};

void CompileCommandsTest::compileAndPlayOnAnEmptyEditorHasNothingToPlay() {
  EditorFixture f;
  TForm1& form = f.start();
  form.N4Click();
  QCOMPARE(f.boxTexts(), QStringList{"演奏データがありません"});
  QVERIFY(!f.services.boxes[0].caption.has_value());
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
  QCOMPARE(form.messagePane()->toPlainText(), QString(" ** コンパイル終了 **"));
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(f.tempMidiFiles().isEmpty());
}

void CompileCommandsTest::compileAndPlayWritesAndPlaysAFreshTemporaryFile() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 17390;
  const QByteArray midi = compileAndPlay(f);
  QVERIFY(midi.startsWith("MThd"));
  const QString first = form.playback().playPath();
  QVERIFY(first.startsWith(f.paths.tempDir + "/") && first.endsWith(".mid"));
  QVERIFY(form.playback().hasTemporaryFile());
  QCOMPARE(QFileInfo(first).permissions() & (QFile::ReadOther | QFile::ReadGroup),
           QFileDevice::Permissions());
  QCOMPARE(f.services.player.calls,
           (QStringList{"close", "close", "open " + first, "seek 0", "play"}));
  QVERIFY(form.Form2->isVisible() && form.Form2->Timer1->isActive());
  QCOMPARE(form.Form2->TrackBar1->maximum(), 17390);
  QCOMPARE(form.Form2->TrackBar1->pageStep(), 869);
  QCOMPARE(form.Form2->TrackBar1->tickInterval(), 1739);
  // The next run stops this one, deletes its file and plays a new one.
  compileAndPlay(f);
  QVERIFY(form.playback().playPath() != first);
  QVERIFY(!QFile::exists(first));
  QCOMPARE(f.tempMidiFiles().size(), 1);
}

void CompileCommandsTest::repeatedCompilationsMatchAFreshOne() {
  EditorFixture fresh;
  fresh.start();
  typeText(*fresh.form, SCORE);
  const QByteArray expected = compileAndPlay(fresh);

  EditorFixture f;
  f.writeFile("song.fms", SCORE.toUtf8());
  TForm1& form = f.start({f.path("song.fms")});
  QCOMPARE(compileAndPlay(f), expected);
  form.midi1Click();
  QCOMPARE(f.readFile("song.mid"), expected);
  f.services.fileNames = {f.path("song.fmd")};
  form.korvel1Click();
  const QByteArray image = f.readFile("song.fmd");
  QVERIFY(image.startsWith("KVP000KVC001"));
  QCOMPARE(compileAndPlay(f), expected);
  form.korvel1Click();  // the dialog is cancelled this time
  form.midi1Click();
  QCOMPARE(f.readFile("song.mid"), expected);
  f.services.fileNames = {f.path("again.fmd")};
  form.korvel1Click();
  QCOMPARE(f.readFile("again.fmd"), image);
}

void CompileCommandsTest::autoSaveWithCancelledSaveAsStillCompiles() {
  EditorFixture f;
  TForm1& form = f.start();
  form.N16Click();
  typeText(form, SCORE);
  f.services.fileNames = {QString()};
  form.N4Click();
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  QVERIFY(f.services.player.playing);
}

void CompileCommandsTest::noSoundDeviceLeavesTheEditorUsable() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.plays = false;
  form.N4Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QVERIFY(f.services.boxes[0].text.contains("scripted play failure"));
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(!form.playback().hasTemporaryFile());
  QVERIFY(f.tempMidiFiles().isEmpty());
}

// F9 while the SoundFont loads returns at once with a line in the message pane; the player
// window shows once the load is in. F9 again meanwhile plays only the newer file, and a load
// that fails is reported as a play that cannot start.
void CompileCommandsTest::aPlayWaitingForItsSoundFontLeavesTheWindowFree() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 17390;
  f.services.player.soundLoaded = false;
  form.N4Click();
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           QString(" SoundFont を読み込んでいます..."));
  QVERIFY(!form.Form2->isVisible() && form.playback().isStarting());
  form.N4Click();
  QCOMPARE(f.tempMidiFiles().size(), 1);
  f.services.player.finishSoundLoad();
  QTRY_VERIFY(form.Form2->isVisible());
  QCOMPARE(f.services.player.calls.count("play"), 1);
  QCOMPARE(f.services.player.openedPath, form.playback().playPath());
  QCOMPARE(form.Form2->TrackBar1->maximum(), 17390);

  f.services.player.soundLoaded = false;
  form.N4Click();
  QVERIFY(!form.Form2->Timer1->isActive() && form.playback().isStarting());
  f.services.player.finishSoundLoad("no SoundFont");
  QTRY_COMPARE(f.boxTexts(), QStringList{"演奏できません.\nno SoundFont"});
  QVERIFY(!form.Form2->Timer1->isActive() && !form.playback().isStarting());
  QVERIFY(f.tempMidiFiles().isEmpty());
}

void CompileCommandsTest::eachPlayTakesTheSoundOfTheOptionsAndReportsAFallback() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  const SoundSettings stored{.audioOutput = "jack", .chorus = false};
  QVERIFY(form.additionalSettings().setSound(stored));
  f.services.player.fallback =
      OutputFallback{"jack", "Failed to connect to Jack server.", "pulseaudio"};
  form.N4Click();
  QCOMPARE(f.services.player.sounds.size(), size_t(1));
  QVERIFY(f.services.player.sounds[0] == stored);
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           QString(" [注意] 音声出力 jack を開けません: Failed to connect to Jack server. → "
                   "pulseaudio で再生します"));

  // Changed in the options dialog while playing: the next compile and play takes it.
  f.services.dialogScripts.push_back(
      confirmOptions([](OptionsChoice& choice) { choice.sound.gain = 2; }));
  form.N19Click();
  QCOMPARE(f.services.player.sounds.size(), size_t(1));
  f.services.player.fallback = OutputFallback{"jack", "no server", "silent"};
  form.N4Click();
  SoundSettings changed = stored;
  changed.gain = 2;
  QCOMPARE(f.services.player.sounds.size(), size_t(2));
  QVERIFY(f.services.player.sounds[1] == changed);
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           QString(" [注意] 音声出力 jack を開けません: no server → 音を出さずに再生します"));
}

// The note stands in the first play's report only; a fallback to the silent output, whose line
// says so already, takes its place.
void CompileCommandsTest::playingWithoutADeviceIsNotedOnceARun() {
  const QString note = " [注意] 音声出力装置がないため, 音を出さずに再生します";
  {
    EditorFixture f;
    TForm1& form = f.start();
    typeText(form, SCORE);
    f.services.player.silentOutput = true;
    form.N4Click();
    QCOMPARE(form.messagePane()->toPlainText().count(note), 1);
    form.N4Click();
    QCOMPARE(form.messagePane()->toPlainText().count(note), 0);
  }
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.silentOutput = true;
  f.services.player.fallback = OutputFallback{"jack", "no server", "silent"};
  form.N4Click();
  QVERIFY(form.playback().isPlaying());
  QCOMPARE(form.messagePane()->toPlainText().count(note), 0);
}

void CompileCommandsTest::pauseInEitherWindowEndsPlayback() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.N4Click();
  form.FormKeyUp(Qt::Key_Pause);
  QVERIFY(!form.Form2->isVisible() && !form.Form2->Timer1->isActive());
  QVERIFY(!f.services.player.isOpen);
  QVERIFY(f.tempMidiFiles().isEmpty());
  form.N4Click();
  form.Form2->FormKeyUp(Qt::Key_Pause);
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(f.tempMidiFiles().isEmpty());
  QVERIFY(form.action("N4")->isEnabled() && form.toolButton("SpeedButton2")->isEnabled());
}

void CompileCommandsTest::endOfPlaybackClosesOrLoops() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 4000;
  form.N13Click();  // PlayLoop on
  form.N4Click();
  f.services.player.calls.clear();
  f.services.player.position = 3999;  // interrupted before the end: nothing happens
  form.MediaPlayer1Notify();
  QVERIFY(f.services.player.calls.isEmpty());
  f.services.player.position = 4000;
  form.MediaPlayer1Notify();
  QCOMPARE(f.services.player.calls, (QStringList{"seek 0", "play"}));
  QVERIFY(form.Form2->isVisible());
  form.N13Click();  // PlayLoop off: the end closes the player
  f.services.player.position = 4000;
  form.MediaPlayer1Notify();
  QVERIFY(!form.Form2->isVisible());
  QVERIFY(f.tempMidiFiles().isEmpty());
  // A length of 0 never restarts.
  form.N13Click();
  f.services.player.length = 0;
  form.N4Click();
  QCOMPARE(form.Form2->TrackBar1->maximum(), 0);
  f.services.player.calls.clear();
  form.MediaPlayer1Notify();
  QVERIFY(!f.services.player.calls.contains("play"));
}

void CompileCommandsTest::sliderSeeksOnlyBeyondTheTolerance() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 10000;  // tolerance 10000 / 100 + 2 = 102
  form.N4Click();
  f.services.player.position = 5000;
  f.services.player.calls.clear();
  form.Form2->TrackBar1->setValue(5102);
  QVERIFY(f.services.player.calls.isEmpty());
  form.Form2->TrackBar1->setValue(4898);
  QVERIFY(f.services.player.calls.isEmpty());
  form.Form2->TrackBar1->setValue(5103);
  QCOMPARE(f.services.player.calls, (QStringList{"seek 5103", "play"}));
  QCOMPARE(form.Form2->Label2->text(), QString("5.10"));
  // While not following playback the slider seeks nothing.
  form.Form2->close();
  f.services.player.calls.clear();
  form.Form2->TrackBar1->setValue(100);
  QVERIFY(f.services.player.calls.isEmpty());
}

void CompileCommandsTest::refreshBlinksAndShowsTheTimes() {
  QCOMPARE(formatPlayTime(83456), QString("0:01:23.45"));
  QCOMPARE(formatPlayTime(3725010), QString("1:02:05.01"));
  QCOMPARE(formatPlayTime(0), QString("0:00:00.00"));
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 90000;
  form.N4Click();
  f.services.player.position = 83456;
  TForm2& player = *form.Form2;
  player.blinkCounter = 0;
  QString pattern;
  for (int tick = 0; tick < 62; ++tick) {
    player.Timer1Timer();
    pattern += player.Label1->autoFillBackground() ? 'x' : '.';
  }
  const QString cycle = QString(15, 'x') + QString(16, '.');
  QCOMPARE(pattern, cycle + cycle);
  QCOMPARE(player.Label2->text(), QString("0:01:23.45"));
  QCOMPARE(player.Label4->text(), QString("0:01:30.00"));
  f.services.player.position = 95000;  // past the end: the slider clamps it
  player.Timer1Timer();
  QCOMPARE(player.Label2->text(), QString("0:01:30.00"));
}

void CompileCommandsTest::noTemporaryFileOutlivesARun() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  f.services.player.length = 4000;
  form.N13Click();
  form.N4Click();
  f.services.player.position = 4000;
  form.MediaPlayer1Notify();              // loop
  form.Form2->TrackBar1->setValue(2500);  // seek
  form.N4Click();
  form.FormKeyUp(Qt::Key_Pause);
  form.N4Click();
  form.document().setSaved(true);
  QVERIFY(f.closeWindow());
  QVERIFY(f.tempMidiFiles().isEmpty());
}

void CompileCommandsTest::makeMidiFileNeedsANameAndWritesBesideTheScore() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, SCORE);
  form.midi1Click();
  QCOMPARE(f.boxTexts(), QStringList{"名前をつけて保存してから\n実行してください"});
  QCOMPARE(f.services.boxes[0].caption, BoxCaption(""));
  QCOMPARE(form.messagePane()->toPlainText(), QString());  // nothing was compiled

  f.services.boxes.clear();
  f.services.fileNames = {f.path("song.fms")};
  form.N1Click();
  f.writeFile("song.mid", "an older file");
  form.midi1Click();
  QVERIFY(f.readFile("song.mid").startsWith("MThd"));
  QCOMPARE(f.boxTexts(), QStringList{"スタンダードmidiファイル作成終了"});
  QCOMPARE(f.services.boxes[0].caption, BoxCaption(""));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::None);
  QVERIFY(!form.Form2->isVisible() && !f.services.player.playing);
  QVERIFY(f.tempMidiFiles().isEmpty());
  // A compilation error: no completion box, the earlier file stays.
  const QByteArray before = f.readFile("song.mid");
  typeText(form, "ch3{ \"c x\" }\n");
  f.services.boxes.clear();
  form.midi1Click();
  QCOMPARE(f.boxTexts(), QStringList{"compile stopped!"});
  QCOMPARE(f.readFile("song.mid"), before);
}

// The ".mid" beside the score reaches the score itself: a score named "song.mid", or a
// "song.mid" that is a link to the score. Nothing is compiled or written, the score on disk
// keeps its bytes and the editor still holds it, saved.
void CompileCommandsTest::makeMidiFileRefusesAnOutputThatIsTheScore_data() {
  QTest::addColumn<QString>("score");
  QTest::addColumn<QString>("link");  // "symbolic" or "hard": song.mid is such a link to it
  QTest::newRow("score named song.mid") << "song.mid"
                                        << "";
  QTest::newRow("song.mid a symbolic link to the score") << "song.fms"
                                                         << "symbolic";
  QTest::newRow("song.mid a hard link to the score") << "song.fms"
                                                     << "hard";
}

void CompileCommandsTest::makeMidiFileRefusesAnOutputThatIsTheScore() {
  QFETCH(QString, score);
  QFETCH(QString, link);
  EditorFixture f;
  f.writeFile(score, SCORE.toUtf8());
  const QByteArray scorePath = QFile::encodeName(f.path(score));
  const QByteArray midiPath = QFile::encodeName(f.path("song.mid"));
  if (link == "symbolic") QCOMPARE(::symlink(scorePath.constData(), midiPath.constData()), 0);
  if (link == "hard") QCOMPARE(::link(scorePath.constData(), midiPath.constData()), 0);
  const QStringList entries = QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden);
  TForm1& form = f.start({f.path(score)});
  const QString opened = form.messagePane()->toPlainText();
  form.midi1Click();
  QCOMPARE(f.readFile(score), SCORE.toUtf8());
  QCOMPARE(f.services.boxesShown(),
           QStringList{"スタンダードmidiファイルを作成できません.\n" + f.path("song.mid") +
                       "\nソースと同じファイルです | no caption | Ok | Stop"});
  QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden), entries);
  QCOMPARE(form.messagePane()->toPlainText(), opened);  // nothing was compiled
  QVERIFY(form.document().isSaved());
  QCOMPARE(editorText(form), SCORE);
}

// The compiled data, the WAV/FLAC export and the piano roll's picture ask for a name: the
// score's own name is refused as the make-MIDI command refuses it, and the score keeps its bytes.
void CompileCommandsTest::outputsNamedForTheScoreItselfAreRefused() {
  EditorFixture f;
  f.writeFile("song.fms", SCORE.toUtf8());
  TForm1& form = f.start({f.path("song.fms")});
  const auto refusal = [](const QString& name) {
    return "\n" + name + "\nソースと同じファイルです | no caption | Ok | Stop";
  };
  f.services.fileNames = {f.path("song.fms")};
  form.korvel1Click();
  f.services.fileNames = {f.path("song.fms")};
  form.exportAudio();
  QVERIFY(QDir(f.dir.path()).mkdir("sub"));
  f.services.fileNames = {f.path("sub/../song.fms")};
  Q_EMIT form.rollLink().roll().saveRequested();
  QCOMPARE(f.services.boxesShown(),
           (QStringList{"korvelデータを保存できません." + refusal(f.path("song.fms")),
                        "音声ファイルを書き出せません." + refusal(f.path("song.fms")),
                        "画像を保存できません." + refusal(f.path("sub/../song.fms"))}));
  QCOMPARE(f.services.fileDialogs.size(), size_t(3));
  QCOMPARE(f.readFile("song.fms"), SCORE.toUtf8());
  QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"song.fms"});
  // Another name is written as before.
  f.services.fileNames = {f.path("song.fmd")};
  form.korvel1Click();
  QVERIFY(f.readFile("song.fmd").startsWith("KVP000KVC001"));
}

void CompileCommandsTest::compiledDataIsOfferedAlsoAfterAnError() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "ch1{ \"c d e\" }\nch2{ \"c x\" }\n");
  f.services.fileNames = {f.path("partial.fmd")};
  form.korvel1Click();
  QVERIFY(form.messagePane()->toPlainText().contains("ERR -> line [00002]"));
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
  QCOMPARE(f.services.fileDialogs[0].request.defaultSuffix, QString("fmd"));
  const QByteArray image = f.readFile("partial.fmd");
  QVERIFY(image.startsWith("KVP000KVC001"));
  const std::vector<uint8_t> stream =
      form.compiler().compile({*editorPane(form)->document()}, CompileTarget::CompiledData).image;
  QCOMPARE(image, QByteArray(reinterpret_cast<const char*>(stream.data()),
                             static_cast<qsizetype>(stream.size())));
  // With no channel data nothing is offered.
  editorPane(form)->clear();
  form.korvel1Click();
  QCOMPARE(f.services.fileDialogs.size(), size_t(1));
}

void CompileCommandsTest::compiledDataWriteFailureIsReported() {
  EditorFixture f;
  f.writeFile("notadir", "a file");
  TForm1& form = f.start();
  typeText(form, "ch1{ \"c\" }\n");
  f.services.fileNames = {f.path("notadir/out.fmd")};
  form.korvel1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QVERIFY(f.services.boxes[0].text.contains("notadir/out.fmd"));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
}

void CompileCommandsTest::errorLineJumpsToTheScoreLine() {
  EditorFixture f;
  TForm1& form = f.start();
  QString text;
  for (int line = 1; line <= 11; ++line) text += "// line\n";
  text += "ch1{ \"c q9\" }\nlast\n";
  typeText(form, text);
  form.N4Click();
  const QStringList pane = form.messagePane()->toPlainText().split('\n');
  QVERIFY2(pane.size() >= 3 && pane[0].startsWith("ERR -> line [00012]:"),
           qPrintable(pane.join('|')));
  caretToPaneLine(form, 1);  // the pointer line: no jump
  form.Memo2DblClick();
  QCOMPARE(editorPane(form)->textCursor().blockNumber(), 13);
  caretToPaneLine(form, 0);
  form.Memo2DblClick();
  QCOMPARE(editorPane(form)->textCursor().blockNumber(), 11);
  QCOMPARE(editorPane(form)->textCursor().positionInBlock(), 0);
  // With one line in the pane nothing happens.
  form.messagePane()->setPlainText("ERR -> line [00001]:x");
  form.Memo2DblClick();
  QCOMPARE(editorPane(form)->textCursor().blockNumber(), 11);
}

// The editor compiles a UTF-8 score's own bytes: its ".mid" is byte for byte what the core makes
// of the file's bytes in the editor's flavour, and its first track, which carries the cr and sn
// texts, is byte for byte the console compiler's (the channel tracks differ between the two
// programs by design, for every score). The message pane quotes the texts as they read.
void CompileCommandsTest::utf8ScoreMakesTheConsolesMidiFile() {
  const QByteArray score =
      "cr(\"著作 テスト\")\r\nsn(\"曲名\")\r\n// コメント\r\n"
      "ch1{ \"t120 o4 l4 c d e f\" }  // 旋律\r\nch2{ \"o3 l2 c g\" }\r\n";
  MemoryCompile editorCore(FLAVOUR_EDITOR, score.toStdString());
  QCOMPARE(editorCore.run(), 0);
  MemoryCompile console(FLAVOUR_CONSOLE, score.toStdString());
  QCOMPARE(console.run(), 0);

  EditorFixture f;
  f.writeFile("song.fms", score);
  TForm1& form = f.start({f.path("song.fms")});
  QCOMPARE(form.statusText(PANEL_ENCODING), QString("UTF-8"));
  form.midi1Click();
  const QByteArray midi = f.readFile("song.mid");
  QCOMPARE(midi, bytesOf(editorCore.host.kept));
  const QByteArray textEvents("\xFF\x02\x10著作 テスト\0\xFF\x03\x06曲名", 29);  // cr, then sn
  QVERIFY(midi.contains(textEvents));
  QCOMPARE(firstTrack(midi), firstTrack(bytesOf(console.host.kept)));
  QCOMPARE(
      form.messagePane()->toPlainText().split('\n').mid(0, 2),
      (QStringList{" [著作情報]:\"著作 テスト\" (16 byte)", " [シーケンス名]:\"曲名\" (6 byte)"}));
}

void CompileCommandsTest::utf8FailingLineIsQuotedAsItReads() {
  EditorFixture f;
  f.writeFile("song.fms", "// 曲\r\nch1{ \"c d\" } あ\r\n");
  TForm1& form = f.start({f.path("song.fms")});
  form.midi1Click();
  QCOMPARE(f.boxTexts(), QStringList{"compile stopped!"});
  QCOMPARE(form.messagePane()->toPlainText(), "ERR -> line [00002]:ch1{ \"c d\" } あ\n" +
                                                  QString(33, ' ') +
                                                  "?\n *** 解読できない命令があります *** ");
}

void CompileCommandsTest::opKeywordsSwitchTheAutoPanPair() {
  EditorFixture f;
  TForm1& form = f.start();
  typeText(form, "op(autolr)\n");
  form.N4Click();
  QVERIFY(form.action("S1")->isChecked() && form.toolButton("SpeedButton12")->isChecked() &&
          form.compiler().session().autoPan);
  editorPane(form)->setPlainText("op(manulr)\n");
  form.N4Click();
  QVERIFY(!form.action("S1")->isChecked() && !form.toolButton("SpeedButton12")->isChecked() &&
          !form.compiler().session().autoPan);
}

// op(autolr) lets timers run in the middle of a compilation: a command arriving then must not
// start a second compilation or change the text being compiled.
void CompileCommandsTest::commandsWaitingDuringACompilationDoNotRun() {
  EditorFixture f;
  f.writeFile("other.fms", "other");
  TForm1& form = f.start();
  typeText(form, "op(autolr)\nch1{ \"c d e\" }\n");
  bool ran = false;
  QTimer::singleShot(0, &form, [&] {
    ran = true;
    form.N4Click();
    form.korvel1Click();
    form.midi1Click();
    form.filesDropped({f.path("other.fms")});
    form.Close1Click();
  });
  form.N4Click();
  QVERIFY(ran);
  QCOMPARE(form.messagePane()->toPlainText(),
           QString(" [制御命令]:autolrに設定\n"
                   " -> ch1 size(6 byte)  Track Tick (1440)\n ** コンパイル終了 **"));
  QVERIFY(editorText(form).startsWith("op(autolr)"));
  QVERIFY(f.services.boxes.empty() && f.services.fileDialogs.empty());
  QCOMPARE(f.tempMidiFiles().size(), 1);
}

void CompileCommandsTest::manualOpensTheFirstOneThatExists() {
  EditorFixture f;
  TForm1& form = f.start();
  form.vantor1Click();  // only the source tree's manual exists
  QCOMPARE(
      f.services.documentsOpened,
      QStringList{
          QFileInfo(QDir(TARV_SOURCE_DIR).filePath("docs/manual/index.html")).absoluteFilePath()});
  QDir(f.dir.path()).mkdir("bin");
  f.writeFile("bin/tarvik32.CHM", "manual");
  form.vantor1Click();
  QCOMPARE(f.services.documentsOpened.last(), f.path("bin/tarvik32.CHM"));
  QVERIFY(f.services.boxes.empty());
  f.services.documentOpens = false;  // nothing on the desktop can show either
  form.vantor1Click();
  QCOMPARE(f.services.boxes.size(), size_t(1));
  QCOMPARE(f.services.boxes[0].icon, BoxIcon::Stop);
}

QTEST_MAIN(CompileCommandsTest)
#include "compile_commands_test.moc"
