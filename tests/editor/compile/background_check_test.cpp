// The check as you type without a window: a check of a copy of the text finds what the editor's
// own compilation of that text finds (the failure, or the same MIDI file and source map), with
// the carried-over settings of the request, and a result whose revision is no longer current is
// never passed on.
#include "editor/compile/background_check.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include "core/compile_session.h"
#include "editor/compile/compile_controller.h"
#include "editor/document/temporary_midi_file.h"

namespace {

const char CLEAN[] = "ch1{ \"t120 o4 l4 c d e f\" }\nch2{ \"o3 l2 c g\" }\n";

}  // namespace

class BackgroundCheckTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    temporaryMidi = std::make_unique<TemporaryMidiFile>(dir->path());
    CompileSinks sinks;
    sinks.message = [](const QString&) {};
    sinks.alert = [](const QString&, BoxIcon) {};
    sinks.autoPanChanged = [](bool) {};
    controller = std::make_unique<CompileController>(*temporaryMidi, std::move(sinks));
  }
  void cleanup() {
    controller.reset();
    temporaryMidi.reset();
  }
  void aFailureIsWhereTheEditorsCompilationStops_data();
  void aFailureIsWhereTheEditorsCompilationStops();
  void aCleanCheckHasTheEditorsMidiAndMap_data();
  void aCleanCheckHasTheEditorsMidiAndMap();
  void aFullChannelIsMarkedInItsOwnWords();
  void aStaleResultIsDropped();
  void aResultStillHeldIsNeverWrittenOver();

 private:
  // The editor's own compilation of `text` into memory, with the settings given.
  CompileResult compiled(QTextDocument& text, TextEncoding encoding, bool q7, bool autoPan) {
    controller->session().q7Default = q7;
    controller->session().autoPan = autoPan;
    return controller->compile({text, encoding}, CompileTarget::MidiImage);
  }

  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<TemporaryMidiFile> temporaryMidi;
  std::unique_ptr<CompileController> controller;
};

void BackgroundCheckTest::aFailureIsWhereTheEditorsCompilationStops_data() {
  QTest::addColumn<QString>("score");
  QTest::addColumn<int>("encoding");
  QTest::newRow("second line, code page 932") << "ch1{ \"c\" }\nch2{ \"c v20\" }\n" << 0;
  QTest::newRow("double-byte text before, UTF-8") << "\n/*曲*/ ch2{ \"ｶﾅ\" }\n"
                                                  << int(TextEncoding::Utf8);
  QTest::newRow("double-byte text before, code page 932") << "/*曲*/ ch2{ \"c d v99 e\" }" << 0;
  QTest::newRow("last line without a line end") << "ch1{ \"c\" }\n\n\"c x\"" << 0;
  QTest::newRow("tie at the end, after the last line") << "ch1{ \"&c\" }\n" << 0;
  QTest::newRow("empty lines around") << "\n\n\nch1{ \"o9\" }\n\n" << 0;
}

void BackgroundCheckTest::aFailureIsWhereTheEditorsCompilationStops() {
  QFETCH(QString, score);
  QFETCH(int, encoding);
  QTextDocument text;
  text.setPlainText(score);
  const auto textEncoding = static_cast<TextEncoding>(encoding);
  const CompileResult editor = compiled(text, textEncoding, false, false);
  QVERIFY(!editor.ok());
  const CheckResult check =
      runCheck(controller->session(), checkRequestOf(text, textEncoding, false, false));
  QCOMPARE(check.outcome == CheckResult::Outcome::ScoreError, editor.failure.has_value());
  QCOMPARE(check.clean(), editor.ok());
  if (!editor.failure) return;
  QVERIFY(!check.map && !check.midi);
  QCOMPARE(check.failure->code, editor.failure->code);
  QCOMPARE(check.failure->line, editor.failure->line);
  QCOMPARE(check.failure->commandStart, editor.failure->commandStart);
  QCOMPARE(check.failure->pointer, editor.failure->pointer);
  QCOMPARE(check.failure->text, editor.failure->text);
}

// The check and the editor's compilation both put the core's words for a full channel on the
// command it refused, where the pane still says "other error".
void BackgroundCheckTest::aFullChannelIsMarkedInItsOwnWords() {
  QString score = "ch4{\n";
  for (int i = 0; i < 32; ++i) score += "\"" + QString(1000, 'c') + "\"\n";
  score += "\"c\"\n}\n";
  QTextDocument text;
  text.setPlainText(score);
  const CompileResult editor = compiled(text, TextEncoding::Cp932, false, false);
  const CheckResult check =
      runCheck(controller->session(), checkRequestOf(text, TextEncoding::Cp932, false, false));
  QCOMPARE(editor.code, int32_t(ERROR_OTHER));
  for (const std::optional<CompileFailure>* failure : {&editor.failure, &check.failure}) {
    QVERIFY(failure->has_value());
    QCOMPARE((*failure)->code, int32_t(DIAGNOSTIC_CHANNEL_FULL));
    QCOMPARE((*failure)->line, 33);
    QCOMPARE((*failure)->commandStart, 1);
    QCOMPARE((*failure)->text, QString("ch4が満杯: 32000イベント"));
  }
}

void BackgroundCheckTest::aCleanCheckHasTheEditorsMidiAndMap_data() {
  QTest::addColumn<QString>("score");
  QTest::addColumn<bool>("q7");
  QTest::addColumn<bool>("autoPan");
  QTest::newRow("plain") << QString(CLEAN) << false << false;
  QTest::newRow("q7 by default") << "ch1{ \"l16 c d e f\" }\n" << true << false;
  QTest::newRow("auto pan") << "ch2{ \"c\" }\nch3{ \"e\" }\n" << false << true;
  QTest::newRow("op(autolr) in the score") << "op(autolr)\nch2{ \"c\" }\n" << false << false;
  QTest::newRow("no line end at the end") << "ch1{ \"c d\" }" << false << false;
  QTest::newRow("empty") << "" << false << false;
}

// The MIDI file byte for byte, and every note of the map at the same ticks and commands.
void BackgroundCheckTest::aCleanCheckHasTheEditorsMidiAndMap() {
  QFETCH(QString, score);
  QFETCH(bool, q7);
  QFETCH(bool, autoPan);
  QTextDocument text;
  text.setPlainText(score);
  const CompileResult editor = compiled(text, TextEncoding::Cp932, q7, autoPan);
  QVERIFY(editor.ok() && controller->sourceMap() != nullptr);
  auto session = std::make_unique<CompileSession>();
  const CheckResult check =
      runCheck(*session, checkRequestOf(text, TextEncoding::Cp932, q7, autoPan));
  QVERIFY(check.clean() && check.map && check.midi && !check.failure);
  QCOMPARE(*check.midi, editor.image);
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    const auto ours = check.map->notes(channel);
    const auto theirs = controller->sourceMap()->notes(channel);
    QCOMPARE(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      QCOMPARE(ours[i].startTick, theirs[i].startTick);
      QCOMPARE(ours[i].endTick, theirs[i].endTick);
      QCOMPARE(ours[i].source.line, theirs[i].source.line);
      QCOMPARE(ours[i].source.byteColumn, theirs[i].source.byteColumn);
    }
  }
}

// Results come back in the order of the requests; one taken before an edit (or a compilation
// of the editor) is stale, also when it arrives after a newer one was shown.
void BackgroundCheckTest::aStaleResultIsDropped() {
  BackgroundCheck check;
  std::vector<CheckResult> seen;
  connect(&check, &BackgroundCheck::checked, this,
          [&seen](const CheckResult& result) { seen.push_back(result); });
  QTextDocument text;
  text.setPlainText("ch1{ \"c x\" }\n");
  check.start(checkRequestOf(text, TextEncoding::Cp932, false, false));
  check.invalidate();  // an edit while it runs
  text.setPlainText(CLEAN);
  check.start(checkRequestOf(text, TextEncoding::Cp932, false, false));
  QTRY_VERIFY(!check.busy());
  QCoreApplication::processEvents();
  QCOMPARE(seen.size(), size_t(1));
  QVERIFY(seen[0].clean() && seen[0].revision == check.revision());

  CheckResult older =
      runCheck(controller->session(), checkRequestOf(text, TextEncoding::Cp932, false, false));
  older.revision = check.revision() - 1;
  check.deliver(older);
  QCOMPARE(seen.size(), size_t(1));
  older.revision = check.revision();
  check.deliver(older);
  QCOMPARE(seen.size(), size_t(2));
}

// The worker's storage takes back only what nobody holds: a result the window keeps stays as it
// was, however many checks follow.
void BackgroundCheckTest::aResultStillHeldIsNeverWrittenOver() {
  auto session = std::make_unique<CompileSession>();
  CheckStorage storage;
  QTextDocument text;
  text.setPlainText("ch1{ \"c d e f g\" }\n");
  const CheckResult held =
      runCheck(*session, checkRequestOf(text, TextEncoding::Cp932, false, false), storage);
  const std::vector<uint8_t> heldMidi = *held.midi;
  text.setPlainText(CLEAN);
  for (int i = 0; i < 5; ++i) {
    const CheckResult later =
        runCheck(*session, checkRequestOf(text, TextEncoding::Cp932, false, false), storage);
    QVERIFY(later.clean() && later.map != held.map && later.midi != held.midi);
  }
  QCOMPARE(*held.midi, heldMidi);
  QCOMPARE(held.map->notes(1).size(), size_t(5));
  QCOMPARE(held.map->notes(2).size(), size_t(0));
}

QTEST_MAIN(BackgroundCheckTest)
#include "background_check_test.moc"
