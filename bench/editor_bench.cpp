// editor_bench: what the editor does on every key release and on its commands, timed on large
// texts in a main window without a screen (scripted services, no sound):
//   editor/status_bar_1M        updateStatusBar with 1,000,000 characters of mixed text
//   editor/typing_1M            one typed character and its undo at 1,000,000 characters
//                               (modification marker and byte count kept up to date)
//   editor/load_1MB, save_1MB   open and save a 1 MB score (the opening in a shown window, up
//                               to its first painted screen, colours included)
//   editor/typing_1M_check      the same with the check as you type on (the copy waits for the
//                               pause, which a keystroke only postpones)
//   editor/check_copy_1M        the copy of 1,000,000 characters the check takes at the pause,
//                               on the user-interface thread
//   editor/check_maximal        the check as you type of the maximal score on its thread: the
//                               lines in bytes, the compilation, the map timed against the file
//   editor/replace_all_10000    replace all of 10,000 matches in a 1 MB score, one undo step
//   editor/f9_maximal, f9_demo  from the compile-and-play handler's start to the play request
//   editor/player_refresh       one 33 ms refresh of the player window
//   editor/follow_refresh       one 33 ms refresh with the score followed: the player window and
//                               the marks of the sounding commands, on the maximal score
//   source_map/compile_maximal  the maximal score compiled as the editor does, in memory,
//                               without the source map and with it (recorded by the core, then
//                               timed against the written file), for the map's overhead
//   source_map/sounding_query   the commands sounding at a time on the maximal score's map, as
//                               following the score asks every 33 ms
//   source_map/time_at_caret    the time at a caret on the maximal score's map
//   roll/model_maximal          the piano roll's model built from the maximal score's map
//   roll/gesture_maximal        the text edit of a gesture in the roll (a note moved an octave
//                               in the middle of ch5) on the maximal score: its lines read
//                               again for the octave and length in force, the edit written
//   roll/redraw_fit, roll/redraw_default, roll/redraw_zoomed_in
//                               one full redraw of a 1200 x 700 piano roll of the maximal score,
//                               the whole song shown, at the first zoom, and zoomed in
//   editor/export_demo, export_3min
//                               the WAV export of examples/demo.fms and of a 3-minute score in
//                               five channels, SoundFont loading included; the label
//                               "song_ms <n>" gives the song's length, to hold against the
//                               process's CPU time
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <ctime>
#include <limits>
#include <memory>

#include "core/compile_driver.h"
#include "core/midi_tempo_map.h"
#include "core/midi_writer.h"
#include "core/score_source_map.h"
#include "editor/compile/background_check.h"
#include "editor/playback/audio_export.h"
#include "editor/roll/roll_edit.h"
#include "editor/roll/roll_model.h"
#include "editor/roll/roll_painter.h"
#include "editor/ui/check_as_you_type.h"
#include "editor/ui/player_window.h"
#include "editor/view/find_bar.h"
#include "tests/editor/support/editor_fixture.h"
#include "tests/support/memory_host.h"

namespace {

// About 1,000,000 characters: score lines, Japanese comments and half-width katakana.
QString mixedText() {
  const QStringList lines = {
      "ch1{ \"t120 o4 l8 c d e f g a b > c\" }  // 音階を上る",
      "// 日本語のコメント行: 楽譜マクロ言語の説明です",
      "  \"l16 c c g g a a g8 f f e e d d c8\"",
      "cr(\"ｺﾋﾟｰﾗｲﾄ\") sn(\"曲名\")",
  };
  QString text;
  text.reserve(1000100);
  for (int i = 0; text.size() < 1000000; ++i) text += lines[i % lines.size()] + '\n';
  return text;
}

QString maximalScore() {
  QString notes;
  for (int i = 0; i < 32; ++i) notes += QChar("cdefgab"[i % 7]);
  QString text;
  for (int channel = 1; channel <= 9; ++channel) {
    text += QString("ch%1 {\n  \"l16\"\n").arg(channel);
    for (int i = 0; i < 32000 / 32; ++i) text += "  \"" + notes + "\"\n";
    text += "}\n";
  }
  return text;
}

QString demoScore() {
  QFile file(QDir(TARV_SOURCE_DIR).filePath("examples/demo.fms"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll());
}

// Three minutes at 120 beats a minute (90 bars of 4/4, one bar a line) in five channels:
// piano eighths, bass quarters, string whole notes, flute halves and a drum pattern.
QString threeMinuteScore() {
  const struct {
    const char* head;
    const char* bar;
  } channels[] = {
      {"ch1 {\n  \"t120 @0 v12 o4 l8\"\n", "c e g e f a g e"},
      {"ch2 {\n  \"@33 v12 o2 l4\"\n", "c g a f"},
      {"ch3 {\n  \"@48 v10 o4 l1\"\n", "e"},
      {"ch4 {\n  \"@73 v10 o5 l2\"\n", "g c"},
      {"ch9 {\n  \"v9 l8\"\n", "n13 n19 n15 n19 n13 n19 n15 n19"},
  };
  QString text;
  for (const auto& channel : channels) {
    text += channel.head;
    for (int bar = 0; bar < 90; ++bar) text += QString("  \"%1\"\n").arg(channel.bar);
    text += "}\n";
  }
  return text;
}

void statusBar(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(mixedText());
  QTextCursor cursor(
      editorPane(form)->document()->findBlockByNumber(editorPane(form)->blockCount() / 2));
  cursor.movePosition(QTextCursor::EndOfBlock);
  editorPane(form)->setTextCursor(cursor);
  for (auto _ : state) form.updateStatusBar();
}

void typing(benchmark::State& state, bool checkAsYouType) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(mixedText());
  if (checkAsYouType) {
    form.action("checkAsYouType")->trigger();
    if (!form.checkAsYouType().on()) state.SkipWithError("the check is off");
  }
  QTextCursor cursor(
      editorPane(form)->document()->findBlockByNumber(editorPane(form)->blockCount() / 2));
  for (auto _ : state) {
    cursor.insertText("x");
    cursor.deletePreviousChar();
    form.updateStatusBar();
  }
  if (form.document().size() <= 0) state.SkipWithError("no text");
}

// The text as the check copies it at the pause after typing.
void checkCopy(benchmark::State& state) {
  QTextDocument text;
  text.setPlainText(mixedText());
  QTextCursor cursor(text.findBlockByNumber(text.blockCount() / 2));
  cursor.insertText("x");  // an edited text is held in more than one piece
  for (auto _ : state) {
    const CheckRequest request = checkRequestOf(text, TextEncoding::Cp932, false, false);
    benchmark::DoNotOptimize(request.text.size());
  }
}

// The request is copied once; each iteration is what the worker does with it, the previous
// result let go as the window lets go of it once the next one is shown.
void checkMaximal(benchmark::State& state) {
  QTextDocument text;
  text.setPlainText(maximalScore());
  const CheckRequest request = checkRequestOf(text, TextEncoding::Cp932, false, false);
  auto session = std::make_unique<CompileSession>();
  CheckStorage storage;  // the worker's, kept from check to check
  for (auto _ : state) {
    const CheckResult result = runCheck(*session, request, storage);
    if (!result.clean() || result.map->notes(9).size() != 32000) {
      state.SkipWithError("not a complete check");
      break;
    }
  }
}

void load(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(mixedText());
  f.services.fileNames = {f.path("big.fms")};
  form.N1Click();
  form.show();
  for (auto _ : state) {
    form.loadSourceFile(f.path("big.fms"));
    editorPane(form)->viewport()->repaint();
  }
}

// 10,000 lines of a 950 KB score (just under the pane's capacity) hold the word; each
// replacement is undone outside the timing.
void replaceAll(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  QString text = mixedText().left(740000);
  int matches = 0;
  for (qsizetype at = text.indexOf('\n'); at >= 0 && matches < 10000;
       at = text.indexOf('\n', at + 100)) {
    text.insert(at, " tempo");
    ++matches;
  }
  editorPane(form)->setPlainText(text);
  findBar(form)->openReplace();
  findBar(form)->findField->setText("tempo");
  findBar(form)->replaceField->setText("t");
  for (auto _ : state) {
    if (findBar(form)->replaceAll() != matches) {
      state.SkipWithError("not every match replaced");
      break;
    }
    state.PauseTiming();
    editorPane(form)->undo();
    state.ResumeTiming();
  }
}

void save(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(mixedText());
  f.services.fileNames = {f.path("big.fms")};
  form.N1Click();
  for (auto _ : state) {
    form.document().setSaved(false);
    form.Save1Click();
  }
}

void compileAndPlay(benchmark::State& state, const QString& score) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(score);
  for (auto _ : state) {
    form.N4Click();  // ends at the scripted player's play request
    state.PauseTiming();
    form.stopPlayback();
    state.ResumeTiming();
  }
  if (!f.services.player.playing && f.services.player.calls.isEmpty()) {
    state.SkipWithError("nothing was played");
  }
}

void playerRefresh(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(demoScore());
  f.services.player.length = 180000;
  form.N4Click();
  f.services.player.position = 83456;
  for (auto _ : state) {
    f.services.player.position += 33;
    form.Form2->Timer1Timer();
  }
}

// Compiles the maximal score in memory on one session (recording the source map when the host
// has storage for one); false when the compilation is not complete.
bool compileMaximal(MemoryHost& host, CompileSession& session) {
  host.messages.clear();
  host.transcript.clear();
  host.prepare(session, false);
  return compileSource(session) == 0 && host.kept.size() > 9 * 32000 * 6;
}

double threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Each iteration compiles the maximal score twice, without the source map and with it (recorded,
// then timed into the editor's map), so that both meet the same load; the counters are the
// fastest of each by the thread's CPU time.
void compileWithAndWithoutMap(benchmark::State& state) {
  MemoryHost host(FLAVOUR_EDITOR, maximalScore().toStdString());
  auto session = std::make_unique<CompileSession>();
  SourceMap recording;
  ScoreSourceMap map;  // rebuilt at each compilation, as the editor's is
  double best[2] = {std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity()};
  for (auto _ : state) {
    for (const bool mapped : {false, true}) {
      host.sourceMapStorage = mapped ? &recording : nullptr;
      const double start = threadCpuMs();
      const bool done =
          compileMaximal(host, *session) &&
          (!mapped || map.build(recording, host.kept.data(), host.kept.size(), nullptr));
      best[mapped] = std::min(best[mapped], threadCpuMs() - start);
      if (!done) state.SkipWithError("not a complete compilation");
    }
  }
  state.counters["plain_cpu_ms"] = best[0];
  state.counters["mapped_cpu_ms"] = best[1];
}

std::unique_ptr<ScoreSourceMap> maximalMap() {
  MemoryHost host(FLAVOUR_EDITOR, maximalScore().toStdString());
  auto session = std::make_unique<CompileSession>();
  SourceMap recording;
  host.sourceMapStorage = &recording;
  auto map = std::make_unique<ScoreSourceMap>();
  if (!compileMaximal(host, *session) ||
      !map->build(recording, host.kept.data(), host.kept.size(), nullptr)) {
    return nullptr;
  }
  return map;
}

// Times 33 ms apart through the whole song, as the player's refresh asks.
void soundingQuery(benchmark::State& state) {
  const std::unique_ptr<ScoreSourceMap> map = maximalMap();
  if (!map) {
    state.SkipWithError("no map");
    return;
  }
  const int64_t length = map->tempoMap().lengthMs();
  std::vector<ScoreSourceMap::Sounding> sounding;
  int64_t ms = 1000;  // inside the music, also for the benchmark's first single-iteration run
  size_t found = 0;
  for (auto _ : state) {
    sounding.clear();
    map->soundingAtMs(ms, sounding);
    found += sounding.size();
    ms = (ms + 33) % length;
  }
  if (found == 0) state.SkipWithError("nothing sounded");
}

// Carets on the score's lines in a scattered order.
void timeAtCaret(benchmark::State& state) {
  const std::unique_ptr<ScoreSourceMap> map = maximalMap();
  if (!map) {
    state.SkipWithError("no map");
    return;
  }
  constexpr int LINES = 9 * (32000 / 32 + 3);
  int line = 0;
  int64_t total = 0;
  for (auto _ : state) {
    const auto time = map->timeAt(line, 20);
    total += time ? time->tick : 0;
    line = (line + 7919) % LINES;
  }
  if (total == 0) state.SkipWithError("no times");
}

void rollModel(benchmark::State& state) {
  const std::unique_ptr<ScoreSourceMap> map = maximalMap();
  if (!map) {
    state.SkipWithError("no map");
    return;
  }
  RollModel model;
  for (auto _ : state) {
    model.build(*map);
    benchmark::DoNotOptimize(model.notes().data());
  }
  if (model.notes().size() != 9 * 32000) state.SkipWithError("notes missing");
}

void rollGesture(benchmark::State& state) {
  const std::unique_ptr<ScoreSourceMap> map = maximalMap();
  if (!map) {
    state.SkipWithError("no map");
    return;
  }
  ScoreTextLines lines;
  for (const QString& line : maximalScore().split('\n')) lines.push_back(line.toStdString());
  RollModel model;
  model.build(*map);
  const RollNote& note = model.channelNotes(5)[16000];
  RollGesture gesture;
  gesture.kind = RollGesture::Kind::Move;
  gesture.channel = 5;
  gesture.note = note.event;
  gesture.start = (note.on - LEAD_IN_TICKS) / TICKS_PER_UNIT;
  gesture.key = note.key + 12;
  for (auto _ : state) {
    const RollEditResult result = editForGesture(lines, *map, gesture);
    if (result.edits.size() != 1) state.SkipWithError("no edit");
    benchmark::DoNotOptimize(result.edits.data());
  }
}

// ticksPerPixel 0: the whole song in the width. The view starts a third into the song, among
// notes, with the caret's note outlined.
void rollRedraw(benchmark::State& state, double ticksPerPixel) {
  const std::unique_ptr<ScoreSourceMap> map = maximalMap();
  if (!map) {
    state.SkipWithError("no map");
    return;
  }
  RollModel model;
  model.build(*map);
  const QSize size(1200, 700);
  RollViewport viewport;
  const int width = size.width() - RollGeometry::KEYBOARD_WIDTH;
  viewport.ticksPerPixel =
      ticksPerPixel > 0 ? ticksPerPixel : static_cast<double>(model.endTick()) / width;
  viewport.leftTick = ticksPerPixel > 0 ? static_cast<double>(model.endTick()) / 3 : 0;
  viewport.topPixel = (127 - 90) * viewport.rowHeight;
  const RollGeometry geometry(size, viewport);
  RollScene scene;
  scene.palette = QApplication::palette();
  scene.font = QApplication::font();
  scene.outlined = model.notesAtCaret(9 * 333, 5);
  scene.playTick = static_cast<int64_t>(viewport.leftTick + width * viewport.ticksPerPixel / 2);
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    paintRoll(image, model, geometry, scene);
    benchmark::DoNotOptimize(image.constBits());
  }
}

// One whole export into a WAV file per iteration, as the command runs it after compiling.
void exportWav(benchmark::State& state, const QString& score) {
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, score.toStdString());
  MidiTempoMap map;
  std::string why;
  if (compile->run() != 0 ||
      !map.parse(compile->host.kept.data(), compile->host.kept.size(), &why)) {
    state.SkipWithError("the score does not compile");
    return;
  }
  QTemporaryDir dir;
  const AudioExportRequest request{compile->host.kept, dir.filePath("song.wav"),
                                   AudioFileFormat::Wav, SoundSettings{}, ChannelMix{}};
  for (auto _ : state) {
    if (!exportAudio(request).ok()) {
      state.SkipWithError("the export failed");
      break;
    }
  }
  // A label, not a counter: the CSV output needs every row to have the same counters.
  state.SetLabel("song_ms " + std::to_string(map.lengthMs()));
}

// Steps of 33 ms through the song: the marks change at most of them (sixteenth notes in nine
// channels last 125 ms), the view scrolls when the caret's channel leaves it.
void followRefresh(benchmark::State& state) {
  EditorFixture f;
  TForm1& form = f.start();
  editorPane(form)->setPlainText(maximalScore());
  editorPane(form)->moveCursor(QTextCursor::Start);
  editorPane(form)->moveCursor(QTextCursor::Down);
  f.services.player.length = 1000000;
  form.N4Click();
  int64_t ms = 1000;  // inside the music, also for the first single-iteration run
  for (auto _ : state) {
    ms = ms % 1000000 + 33;
    f.services.player.position = ms;
    form.Form2->Timer1Timer();
    form.followScore();
  }
  if (editorPane(form)->extraSelections().isEmpty()) state.SkipWithError("nothing was marked");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::RegisterBenchmark("editor/status_bar_1M", statusBar)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("editor/typing_1M", [](benchmark::State& s) {
    typing(s, false);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("editor/typing_1M_check", [](benchmark::State& s) {
    typing(s, true);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("editor/check_copy_1M", checkCopy)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("editor/check_maximal", checkMaximal)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/load_1MB", load)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/save_1MB", save)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/replace_all_10000", replaceAll)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/f9_maximal", [](benchmark::State& s) {
    compileAndPlay(s, maximalScore());
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/f9_demo", [](benchmark::State& s) {
    compileAndPlay(s, demoScore());
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("editor/follow_refresh", followRefresh)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("editor/player_refresh", playerRefresh)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("source_map/compile_maximal", compileWithAndWithoutMap)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("source_map/sounding_query", soundingQuery)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("source_map/time_at_caret", timeAtCaret)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("roll/model_maximal", rollModel)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("roll/gesture_maximal", rollGesture)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("roll/redraw_fit", [](benchmark::State& s) {
    rollRedraw(s, 0);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("roll/redraw_default", [](benchmark::State& s) {
    rollRedraw(s, 8);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("roll/redraw_zoomed_in", [](benchmark::State& s) {
    rollRedraw(s, 0.5);
  })->Unit(benchmark::kMillisecond);
  // Process CPU time: FluidSynth loads the SoundFont on helper threads.
  benchmark::RegisterBenchmark("editor/export_demo",
                               [](benchmark::State& s) { exportWav(s, demoScore()); })
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime();
  benchmark::RegisterBenchmark("editor/export_3min",
                               [](benchmark::State& s) { exportWav(s, threeMinuteScore()); })
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
