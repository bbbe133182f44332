// The compile commands of the main window: compile and play, make MIDI file, compiled-data
// output, the end of playback, the error jump and the manual. The compile controller compiles,
// the playback controller plays; these handlers sequence them and show what they report.
#include <QDir>
#include <QFileInfo>
#include <QTextBlock>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/document/whole_file_writer.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/check_as_you_type.h"
#include "editor/ui/error_line.h"
#include "editor/ui/failure_place.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/playback_commands.h"
#include "editor/ui/player_window.h"
#include "editor/ui/roll_link.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"

namespace {

const QStringList COMPILED_DATA_FILTERS = {"korvel (*.fmd)", "すべてのファイル (*)"};
const char MIDI_FILE_NOT_MADE[] = "スタンダードmidiファイルを作成できません.\n%1\n%2";
const char COMPILED_DATA_NOT_SAVED[] = "korvelデータを保存できません.\n%1\n%2";

}  // namespace

// One compilation of the editor text into the message pane; a score error is marked where the
// failing command stands.
CompileResult TForm1::compile(CompileTarget target) {
  Memo2->clear();
  view_->clearFailureMark();
  checkAsYouType_->compilationStarting();
  CompileResult result = compiler_->compile({view_->text(), document_->encoding()}, target,
                                            document_->midiOutputPath());
  if (result.failure) {
    view_->markFailure(failurePlace(*result.failure));
    rollLink_->setStale(true);
  }
  if (result.sourceMapReady) rollLink_->compiled(*compiler_->sourceMap());
  return result;
}

void TForm1::deleteTempMidi() {
  if (!playback().deleteTemporaryFile()) showStop("tmp file remove error!!", QString(""));
}

void TForm1::stopPlayback() {
  Form2->Timer1->stop();
  view_->clearSounding();
  if (!playback().stop()) showStop("tmp file remove error!!", QString(""));
}

void TForm1::playerWindowClosed() {
  stopPlayback();
  playing_->actions().run->setEnabled(true);
}

void TForm1::N4Click() {
  compileAndPlay(CompileTarget::Play);
}

void TForm1::playFromCaret() {
  compileAndPlay(CompileTarget::Play, PlayFrom::Caret);
}

void TForm1::playFromTime(int64_t ms) {
  compileAndPlay(CompileTarget::Play, PlayFrom::Time, ms);
}

// Compile and play, or with another target the compilation the make-MIDI command and the audio
// export run.
CompileResult TForm1::compileAndPlay(CompileTarget target, PlayFrom from, int64_t fromMs) {
  if (compiler_->busy()) return {};
  const bool fromStart = target == CompileTarget::Play && from == PlayFrom::Start;
  const int64_t placeMs = fromStart ? playing_->keptPlaceMs() : 0;
  stopPlayback();
  if (autoSaveOn()) Save1Click();
  CompileResult result = compile(target);
  if (!result.ok() || target != CompileTarget::Play) return result;
  if (!result.producedData) {
    deleteTempMidi();  // the empty file written for nothing
    showStop("演奏データがありません");
    return result;
  }
  view_->followCompiled(compiler_->sourceMap());
  startPlayback(from == PlayFrom::Caret  ? view_->caretTimeMs(compiler_->sourceMap())
                : from == PlayFrom::Time ? fromMs
                                         : placeMs);
  return result;
}

void TForm1::followScore() {
  if (playing_->followingScore()) view_->showSounding(playback().player().positionMs());
}

void TForm1::storePlaybackOptions() {
  additionalSettings_->setPlayback(playing_->options());
}

// Plays the temporary file just written. A SoundFont to load first is loaded off this thread,
// and the play begins when it is in; F9 again or a stop meanwhile drops that play.
void TForm1::startPlayback(int64_t startMs) {
  playback().player().setSound(additionalSettings_->sound());
  connect(&playback(), &PlaybackController::started, this, &TForm1::playbackStarted,
          Qt::UniqueConnection);
  const PlaybackStart started = playback().play(startMs);
  if (started.pending) {
    appendMessage(" SoundFont を読み込んでいます...");
    return;
  }
  playbackStarted(started);
}

// Where no sound can be made the user is told, the file is removed and the editor goes on.
void TForm1::playbackStarted(const PlaybackStart& started) {
  if (!started.ok) {
    deleteTempMidi();
    showStop(QString("演奏できません.\n%1").arg(started.error));
    return;
  }
  if (started.silent && playing_->takeSilentNotice()) {
    appendMessage(" [注意] 音声出力装置がないため, 音を出さずに再生します");
  }
  Form2->startFollowing(started.lengthMs);
}

// The chosen audio output did not open and the player took another. Where that is the silent
// output, this line says so and the general notice is not needed.
void TForm1::outputFellBack(const OutputFallback& fallback) {
  const bool silent = fallback.used == QLatin1String("silent");
  if (silent) playing_->takeSilentNotice();  // this line is the notice
  const QString instead =
      silent ? QString("音を出さずに再生します") : QString("%1 で再生します").arg(fallback.used);
  appendMessage(QString(" [注意] 音声出力 %1 を開けません: %2 → %3")
                    .arg(fallback.chosen, fallback.reason, instead));
}

void TForm1::midi1Click() {
  if (compiler_->busy()) return;
  if (!document_->hasFileName()) {
    showStop("名前をつけて保存してから\n実行してください", QString(""));
    return;
  }
  // A score named like its output (song.mid) would be replaced by it.
  const QString& output = document_->midiOutputPath();
  const WriteOutcome refusal = document_->checkOutput(output);
  if (!refusal.ok()) {
    showStop(QString(MIDI_FILE_NOT_MADE).arg(output, describeWriteFailure(refusal)));
    return;
  }
  Form2->close();
  if (compileAndPlay(CompileTarget::MidiFile).ok()) {
    services_.messageBox(this, "スタンダードmidiファイル作成終了", QString(""), BoxButtons::Ok,
                         BoxIcon::None);
  }
}

// Compiles into the compiled-data image and offers to save it. A refused image (too large for
// its offsets) is empty: then there is nothing to offer.
void TForm1::korvel1Click() {
  if (compiler_->busy()) return;
  const CompileResult result = compile(CompileTarget::CompiledData);
  if (!result.producedData || result.image.empty()) return;
  const QString name = services_.saveFileName(
      this, {COMPILED_DATA_FILTERS, "fmd", scoreDialogFolder(*document_, *additionalSettings_),
             QString(), true});
  if (name.isEmpty()) return;
  WriteOutcome outcome = document_->checkOutput(name);
  if (outcome.ok()) outcome = saveCompiledData(name, result.image);
  if (outcome.ok()) return;
  showStop(QString(COMPILED_DATA_NOT_SAVED).arg(name, describeWriteFailure(outcome)));
}

void TForm1::MediaPlayer1Notify() {
  playback().playerNotified();
}

// A double-click on an error line "ERR -> line [nnnnn]:..." puts the caret on that score line.
void TForm1::Memo2DblClick() {
  if (Memo2->document()->blockCount() < 2) return;
  const std::optional<int> line = errorJumpLine(Memo2->textCursor().block().text());
  if (!line) return;
  view_->focusText();
  view_->goToLine(*line);
}

// The manual: a ".CHM" file beside the program when there is one, otherwise the HTML manual
// installed with the program or, when run from the build, the one in the source tree.
void TForm1::vantor1Click() {
  QStringList candidates;
  candidates << withExtension(paths_.programPath, ".CHM");
  const QString programDir = QFileInfo(paths_.programPath).absolutePath();
  candidates << QDir(programDir).filePath("../share/doc/tarvik/manual/index.html");
  candidates << QDir(TARV_SOURCE_DIR).filePath("docs/manual/index.html");
  for (const QString& candidate : candidates) {
    if (!QFileInfo(candidate).isFile()) continue;
    if (services_.openDocument(QFileInfo(candidate).absoluteFilePath())) return;
  }
  showStop(
      "説明書を表示できません.\n説明書のファイルが見つからないか, "
      "表示するプログラムがありません.");
}
