// The compile controller without a window: each target gets its output (the temporary file the
// playback controller owns, the ".mid" beside the score, the audio export's MIDI image in
// memory, the compiled-data image), the report
// reaches the sinks, a compilation cannot start inside another, and the error line's jump target.
#include "editor/compile/compile_controller.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include "core/compile_session.h"
#include "editor/compile/error_line.h"
#include "editor/playback/playback_controller.h"
#include "tests/editor/support/scripted_services.h"
#include "tests/editor/support/test_files.h"

namespace {

const char SCORE[] = "ch1{ \"t120 o4 l4 c d e f\" }\nch2{ \"o3 l2 c g\" }\n";

}  // namespace

class CompileControllerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    playback = std::make_unique<PlaybackController>(player, dir->path());
    messages.clear();
    alerts.clear();
    CompileSinks sinks;
    sinks.message = [this](const QString& line) { messages << line; };
    sinks.alert = [this](const QString& text, BoxIcon) { alerts << text; };
    sinks.autoPanChanged = [this](bool on) {
      autoPanSeen << on;
      // What painting and timers could do meanwhile: ask for another compilation.
      nestedResult = controller->compile(text, CompileTarget::Play);
    };
    controller = std::make_unique<CompileController>(*playback, std::move(sinks));
    text.setPlainText(SCORE);
  }
  void cleanup() {
    controller.reset();
    playback.reset();
  }
  void everyTargetGetsTheSameMidiOrTheImage();
  void errorsReachTheSinksAndCountAsFailed();
  void aCompilationCannotStartInsideAnother();
  void theSourceMapIsTheLastCleanMidiCompilations();
  void errorLineJumpTarget_data();
  void errorLineJumpTarget();

 private:
  ScriptedMediaPlayer player;
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<PlaybackController> playback;
  std::unique_ptr<CompileController> controller;
  QTextDocument text;
  QStringList messages;
  QStringList alerts;
  QList<bool> autoPanSeen;
  int32_t nestedResult = 0;
};

void CompileControllerTest::everyTargetGetsTheSameMidiOrTheImage() {
  QCOMPARE(controller->compile(text, CompileTarget::Play), 0);
  QVERIFY(controller->producedData() && !controller->compileFailed());
  QVERIFY(playback->hasTemporaryFile());
  const QByteArray played = readTestFile(playback->playPath());
  QVERIFY(played.startsWith("MThd"));
  QVERIFY(playback->playPath().startsWith(dir->path() + "/tarvik32-"));

  const QString beside = dir->filePath("song.mid");
  QCOMPARE(controller->compile(text, CompileTarget::MidiFile, beside), 0);
  QCOMPARE(readTestFile(beside), played);

  // The audio export's image, again after another target and after a failed compilation.
  for (const char* score : {SCORE, "ch1{ \"c x\" }\n", SCORE}) {
    text.setPlainText(score);
    const bool clean = controller->compile(text, CompileTarget::MidiImage) == 0;
    const std::vector<uint8_t>& midi = controller->midiImage();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(midi.data()), qsizetype(midi.size())),
             clean ? played : QByteArray());
  }

  QCOMPARE(controller->compile(text, CompileTarget::CompiledData), 0);
  QVERIFY(controller->midiImage().empty());
  const std::vector<uint8_t>& image = controller->compiledData();
  QVERIFY(QByteArray(reinterpret_cast<const char*>(image.data()), 12) == "KVP000KVC001");
  QVERIFY(!controller->session().compiledDataMode);  // the next compilation writes MIDI again
  QCOMPARE(messages.last(), QString(" ** コンパイル終了 **"));
}

void CompileControllerTest::errorsReachTheSinksAndCountAsFailed() {
  text.setPlainText("ch1{ \"c d v20 e\" }\n");
  QVERIFY(controller->compile(text, CompileTarget::Play) != 0);
  QVERIFY(controller->compileFailed());
  QVERIFY(!playback->hasTemporaryFile());
  QVERIFY(messages.join('\n').contains("ERR -> line [00001]:"));
  QCOMPARE(alerts.size(), 1);

  // A ".mid" that cannot be written beside the score: the driver's output error, no file.
  text.setPlainText(SCORE);
  QVERIFY(controller->compile(text, CompileTarget::MidiFile, dir->filePath("none/song.mid")) != 0);
  QVERIFY(controller->compileFailed());
  QVERIFY(!QFile::exists(dir->filePath("none")));
}

void CompileControllerTest::aCompilationCannotStartInsideAnother() {
  text.setPlainText("op(autolr)\nch2{ \"c\" }\n");
  QCOMPARE(controller->compile(text, CompileTarget::Play), 0);
  QCOMPARE(autoPanSeen, QList<bool>{true});
  QCOMPARE(nestedResult, -1);
  QVERIFY(!controller->busy());
  QVERIFY(controller->session().autoPan);
}

// ch2's g stands at byte 14 of line 1 behind a half note: tick 240 + 960, 1250 ms at t120.
void CompileControllerTest::theSourceMapIsTheLastCleanMidiCompilations() {
  QVERIFY(controller->sourceMap() == nullptr);
  QCOMPARE(controller->compile(text, CompileTarget::Play), 0);
  const ScoreSourceMap* played = controller->sourceMap();
  QVERIFY(played != nullptr);
  const auto time = played->timeAt(1, 14);
  QVERIFY(time && time->source.channel == 2 && time->tick == 1200 && time->ms == 1250);
  MidiTempoMap file;
  const QByteArray bytes = readTestFile(playback->playPath());
  QVERIFY(file.parse(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                     nullptr));
  QCOMPARE(played->tempoMap().lengthMs(), file.lengthMs());

  text.setPlainText("ch3{ \"r c v99\" }\n");
  QVERIFY(controller->compile(text, CompileTarget::Play) != 0);
  QCOMPARE(controller->compile(text, CompileTarget::CompiledData), ERROR_VELOCITY);
  text.setPlainText("ch3{ \"r c\" }\n");
  QCOMPARE(controller->compile(text, CompileTarget::CompiledData), 0);
  QCOMPARE(controller->sourceMap(), played);
  QVERIFY(played->timeAt(1, 14).has_value());

  QCOMPARE(controller->compile(text, CompileTarget::MidiFile, dir->filePath("song.mid")), 0);
  QVERIFY(controller->sourceMap() != nullptr);
  const auto last = controller->sourceMap()->timeAt(0, 9);  // behind the c: the c
  QVERIFY(last && last->source.channel == 3 && last->tick == 720);
  QVERIFY(!controller->sourceMap()->timeAt(1, 14).has_value());
}

void CompileControllerTest::errorLineJumpTarget_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<int>("target");  // -1: no jump
  QTest::newRow("error on line 12") << "ERR -> line [00012]:ch1{ \"c\" }" << 11;
  QTest::newRow("leading blanks and tabs") << " \t ERR -> line [00003]:x" << 2;
  QTest::newRow("line 1") << "ERR -> line [00001]:x" << 0;
  QTest::newRow("not a number") << "ERR -> line [abcde]:x" << 0;
  QTest::newRow("pointer line") << "            ?" << -1;
  QTest::newRow("no space after ERR") << "ERR" << -1;
  QTest::newRow("lower case") << "err -> line [00004]:x" << -1;
  QTest::newRow("open failure") << "ERR:ファイルオープンできない." << -1;
}

void CompileControllerTest::errorLineJumpTarget() {
  QFETCH(QString, line);
  QFETCH(int, target);
  const std::optional<int> jump = errorJumpLine(line);
  QCOMPARE(jump.value_or(-1), target);
}

QTEST_GUILESS_MAIN(CompileControllerTest)
#include "compile_controller_test.moc"
