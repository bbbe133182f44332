// The compile controller without a window: each target gets its output (compile and play's
// temporary file, the ".mid" beside the score, the audio export's MIDI image in memory, the
// compiled-data image), the report reaches the sinks, a score error comes back as a value
// naming its command, and a compilation cannot start inside another.
#include "editor/compile/compile_controller.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include "core/compile_session.h"
#include "editor/document/temporary_midi_file.h"
#include "tests/editor/support/test_files.h"

namespace {

const char SCORE[] = "ch1{ \"t120 o4 l4 c d e f\" }\nch2{ \"o3 l2 c g\" }\n";

}  // namespace

class CompileControllerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    temporaryMidi = std::make_unique<TemporaryMidiFile>(dir->path());
    messages.clear();
    alerts.clear();
    CompileSinks sinks;
    sinks.message = [this](const QString& line) { messages << line; };
    sinks.alert = [this](const QString& text, BoxIcon) { alerts << text; };
    sinks.autoPanChanged = [this](bool on) {
      autoPanSeen << on;
      // What painting and timers could do meanwhile: ask for another compilation.
      nestedResult = controller->compile({text}, CompileTarget::Play);
    };
    controller = std::make_unique<CompileController>(*temporaryMidi, std::move(sinks));
    text.setPlainText(SCORE);
  }
  void cleanup() {
    controller.reset();
    temporaryMidi.reset();
  }
  void everyTargetGetsTheSameMidiOrTheImage();
  void errorsReachTheSinksAndCountAsFailed();
  void aCompilationCannotStartInsideAnother();
  void theSourceMapIsTheLastCleanMidiCompilations();
  void aScoreErrorNamesItsCommandInTheDocumentsEncoding();
  void workWaitsForTheRunningCompilation();

 private:
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<TemporaryMidiFile> temporaryMidi;
  std::unique_ptr<CompileController> controller;
  QTextDocument text;
  QStringList messages;
  QStringList alerts;
  QList<bool> autoPanSeen;
  CompileResult nestedResult;
};

namespace {

QByteArray bytesOf(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

void CompileControllerTest::everyTargetGetsTheSameMidiOrTheImage() {
  const CompileResult play = controller->compile({text}, CompileTarget::Play);
  QVERIFY(play.ok() && play.code == 0 && play.producedData && play.image.empty());
  QVERIFY(play.sourceMapReady && !play.failure);
  QVERIFY(temporaryMidi->exists());
  const QByteArray played = readTestFile(temporaryMidi->path());
  QVERIFY(played.startsWith("MThd"));
  QVERIFY(temporaryMidi->path().startsWith(dir->path() + "/tarvik32-"));

  const QString beside = dir->filePath("song.mid");
  QVERIFY(controller->compile({text}, CompileTarget::MidiFile, beside).ok());
  QCOMPARE(readTestFile(beside), played);

  // The audio export's image, again after another target and after a failed compilation.
  for (const char* score : {SCORE, "ch1{ \"c x\" }\n", SCORE}) {
    text.setPlainText(score);
    const CompileResult image = controller->compile({text}, CompileTarget::MidiImage);
    QCOMPARE(bytesOf(image.image), image.ok() ? played : QByteArray());
  }

  const CompileResult data = controller->compile({text}, CompileTarget::CompiledData);
  QVERIFY(data.ok() && !data.sourceMapReady);
  QVERIFY(bytesOf(data.image).startsWith("KVP000KVC001"));
  QVERIFY(!controller->session().compiledDataMode);  // the next compilation writes MIDI again
  QCOMPARE(messages.last(), QString(" ** コンパイル終了 **"));

  // The image saved whole; a folder in the way is a failure that leaves nothing.
  QVERIFY(saveCompiledData(dir->filePath("song.fmd"), data.image).ok());
  QCOMPARE(readTestFile(dir->filePath("song.fmd")), bytesOf(data.image));
  QVERIFY(!saveCompiledData(dir->path(), data.image).ok());
}

void CompileControllerTest::errorsReachTheSinksAndCountAsFailed() {
  text.setPlainText("ch1{ \"c d v20 e\" }\n");
  const CompileResult failed = controller->compile({text}, CompileTarget::Play);
  QVERIFY(failed.outcome == CompileResult::Outcome::ScoreError && failed.code == ERROR_VELOCITY);
  QVERIFY(!temporaryMidi->exists());
  QVERIFY(messages.join('\n').contains("ERR -> line [00001]:"));
  QCOMPARE(alerts.size(), 1);

  // A ".mid" that cannot be written beside the score: the driver's output error, no file.
  text.setPlainText(SCORE);
  const CompileResult unwritten =
      controller->compile({text}, CompileTarget::MidiFile, dir->filePath("none/song.mid"));
  QVERIFY(unwritten.outcome == CompileResult::Outcome::Failed && !unwritten.failure);
  QVERIFY(!QFile::exists(dir->filePath("none")));
}

// The failure names the command from its first byte to the pointer, in bytes of the encoding
// the text is compiled in, and the pane's pointer counts columns as code page 932 would.
void CompileControllerTest::aScoreErrorNamesItsCommandInTheDocumentsEncoding() {
  text.setPlainText("\nch1{ \"c\" } /*曲*/ ch2{ \"c d v99 e\" }\n");
  for (const TextEncoding encoding : {TextEncoding::Cp932, TextEncoding::Utf8}) {
    messages.clear();
    const CompileResult result = controller->compile({text, encoding}, CompileTarget::Play);
    QVERIFY(result.failure.has_value());
    const int wide = encoding == TextEncoding::Utf8 ? 3 : 2;  // the bytes of 曲
    QCOMPARE(result.failure->code, int32_t(ERROR_VELOCITY));
    QCOMPARE(result.failure->line, 1);
    QCOMPARE(result.failure->commandStart, 26 + wide);
    QCOMPARE(result.failure->pointer, 29 + wide);
    QCOMPARE(result.failure->text, QString("命令 V? の範囲は 0～16"));
    QCOMPARE(messages.at(1), QString(20 + 29 + 2, ' ') + "?");
  }
}

void CompileControllerTest::aCompilationCannotStartInsideAnother() {
  text.setPlainText("op(autolr)\nch2{ \"c\" }\n");
  QVERIFY(controller->compile({text}, CompileTarget::Play).ok());
  QCOMPARE(autoPanSeen, QList<bool>{true});
  QVERIFY(nestedResult.outcome == CompileResult::Outcome::Busy && nestedResult.code == -1);
  QVERIFY(!controller->busy());
  QVERIFY(controller->session().autoPan);
}

// Work asked for during a compilation runs after it, from the event loop; at once otherwise.
void CompileControllerTest::workWaitsForTheRunningCompilation() {
  QStringList order;
  controller->whenIdle([&] { order << "idle"; });
  QCOMPARE(order, QStringList{"idle"});
  order.clear();
  text.setPlainText("op(autolr)\nch2{ \"c\" }\n");
  CompileSinks sinks;
  sinks.message = [](const QString&) {};
  sinks.alert = [](const QString&, BoxIcon) {};
  sinks.autoPanChanged = [&](bool) {
    controller->whenIdle([&] { order << "after"; });
    order << "during";
  };
  controller = std::make_unique<CompileController>(*temporaryMidi, std::move(sinks));
  QVERIFY(controller->compile({text}, CompileTarget::Play).ok());
  order << "returned";
  QTRY_COMPARE(order, (QStringList{"during", "returned", "after"}));
}

// ch2's g stands at byte 14 of line 1 behind a half note: tick 240 + 960, 1250 ms at t120.
void CompileControllerTest::theSourceMapIsTheLastCleanMidiCompilations() {
  QVERIFY(controller->sourceMap() == nullptr);
  QVERIFY(controller->compile({text}, CompileTarget::Play).ok());
  const ScoreSourceMap* played = controller->sourceMap();
  QVERIFY(played != nullptr);
  const auto time = played->timeAt(1, 14);
  QVERIFY(time && time->source.channel == 2 && time->tick == 1200 && time->ms == 1250);
  MidiTempoMap file;
  const QByteArray bytes = readTestFile(temporaryMidi->path());
  QVERIFY(file.parse(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                     nullptr));
  QCOMPARE(played->tempoMap().lengthMs(), file.lengthMs());

  text.setPlainText("ch3{ \"r c v99\" }\n");
  QVERIFY(!controller->compile({text}, CompileTarget::Play).ok());
  QCOMPARE(controller->compile({text}, CompileTarget::CompiledData).code, ERROR_VELOCITY);
  text.setPlainText("ch3{ \"r c\" }\n");
  QVERIFY(controller->compile({text}, CompileTarget::CompiledData).ok());
  QCOMPARE(controller->sourceMap(), played);
  QVERIFY(played->timeAt(1, 14).has_value());

  QVERIFY(controller->compile({text}, CompileTarget::MidiFile, dir->filePath("song.mid")).ok());
  QVERIFY(controller->sourceMap() != nullptr);
  const auto last = controller->sourceMap()->timeAt(0, 9);  // behind the c: the c
  QVERIFY(last && last->source.channel == 3 && last->tick == 720);
  QVERIFY(!controller->sourceMap()->timeAt(1, 14).has_value());
}

QTEST_GUILESS_MAIN(CompileControllerTest)
#include "compile_controller_test.moc"
