// The export commands: the score compiled into a standard MIDI file beside it, into the
// compiled-data image the user saves, or into memory and rendered into the WAV or FLAC file the
// user names. The rendering runs on a thread of its own, watched by a progress dialog
// (AudioExportWatch); the outcome is shown when it finishes.
#include "editor/ui/export_commands.h"

#include <QFileInfo>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/document/whole_file_writer.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/audio_export_watch.h"
#include "editor/ui/command_window.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/playback_commands.h"
#include "editor/ui/player_window.h"

namespace {

const QStringList AUDIO_FILTERS = {"WAV (*.wav)", "FLAC (*.flac)"};
const QStringList COMPILED_DATA_FILTERS = {"korvel (*.fmd)", "すべてのファイル (*)"};
const char AUDIO_NOT_WRITTEN[] = "音声ファイルを書き出せません.\n%1\n%2";
const char MIDI_FILE_NOT_MADE[] = "スタンダードmidiファイルを作成できません.\n%1\n%2";
const char COMPILED_DATA_NOT_SAVED[] = "korvelデータを保存できません.\n%1\n%2";
const char SAVE_FIRST[] = "名前をつけて保存してから\n実行してください";
const char NO_MUSIC[] = "演奏データがありません";

}  // namespace

void ExportCommands::attach(const Rooms& rooms) {
  rooms_.emplace(rooms);
}

bool ExportCommands::named() {
  if (rooms_->document.hasFileName()) return true;
  rooms_->window.showStop(SAVE_FIRST, QString(""));
  return false;
}

void ExportCommands::makeMidiFile() {
  if (rooms_->compiler.busy() || !named()) return;
  // A score named like its output (song.mid) would be replaced by it.
  const QString& output = rooms_->document.midiOutputPath();
  const WriteOutcome refusal = rooms_->document.checkOutput(output);
  if (!refusal.ok()) {
    rooms_->window.showStop(QString(MIDI_FILE_NOT_MADE).arg(output, describeWriteFailure(refusal)));
    return;
  }
  rooms_->playerWindow.close();
  if (rooms_->playing.compileAndPlay(CompileTarget::MidiFile).ok()) {
    rooms_->services.messageBox(&rooms_->window.widget(), "スタンダードmidiファイル作成終了",
                                QString(""), BoxButtons::Ok, BoxIcon::None);
  }
}

// A refused image (too large for its offsets) is empty: then there is nothing to offer.
void ExportCommands::saveCompiledData() {
  if (rooms_->compiler.busy()) return;
  const CompileResult result = rooms_->playing.compile(CompileTarget::CompiledData);
  if (!result.producedData || result.image.empty()) return;
  const QString name = rooms_->services.saveFileName(
      &rooms_->window.widget(),
      {COMPILED_DATA_FILTERS, "fmd", scoreDialogFolder(rooms_->document, rooms_->settings),
       QString(), true});
  if (name.isEmpty()) return;
  WriteOutcome outcome = rooms_->document.checkOutput(name);
  if (outcome.ok()) outcome = ::saveCompiledData(name, result.image);
  if (outcome.ok()) return;
  rooms_->window.showStop(
      QString(COMPILED_DATA_NOT_SAVED).arg(name, describeWriteFailure(outcome)));
}

void ExportCommands::exportAudio() {
  if (rooms_->compiler.busy() || exporting() || !named()) return;
  ScoreDocument& document = rooms_->document;
  const QString name = rooms_->services.saveFileName(
      &rooms_->window.widget(),
      {AUDIO_FILTERS, "wav", scoreDialogFolder(document, rooms_->settings),
       QFileInfo(withExtension(document.sourcePath(), ".wav")).fileName(), true});
  if (name.isEmpty()) return;
  const WriteOutcome refusal = document.checkOutput(name);
  if (!refusal.ok()) {
    rooms_->window.showStop(QString(AUDIO_NOT_WRITTEN).arg(name, describeWriteFailure(refusal)));
    return;
  }
  rooms_->playerWindow.close();
  const CompileResult compiled = rooms_->playing.compileAndPlay(CompileTarget::MidiImage);
  if (!compiled.ok() || rooms_->window.endedBySignal()) return;
  if (!compiled.producedData) {
    rooms_->window.showStop(NO_MUSIC);
    return;
  }
  start({compiled.image, name, audioFormatOf(name), rooms_->settings.sound(),
         rooms_->settings.roll().mix});
}

void ExportCommands::start(AudioExportRequest request) {
  watch_ = new AudioExportWatch(std::move(request), &window_);
  QObject::connect(watch_, &AudioExportWatch::finished, watch_, [this] {
    const AudioExportResult result = watch_->result();
    const QString target = watch_->target();
    release();
    finished(result, target);
  });
  watch_->start();
}

void ExportCommands::finished(const AudioExportResult& result, const QString& name) {
  CommandWindow& window = rooms_->window;
  switch (result.status) {
    case AudioExportStatus::Done:
      window.appendMessage(QString(" -> 書き出した音声ファイル : %1 (%2)")
                               .arg(name, exportTime(result.frames * 1000 / AUDIO_SAMPLE_RATE)));
      rooms_->services.messageBox(&window.widget(), "WAV/FLAC ファイル書き出し終了", QString(""),
                                  BoxButtons::Ok, BoxIcon::None);
      break;
    case AudioExportStatus::Cancelled:
      window.appendMessage(" -> 音声ファイルの書き出しを中止しました");
      break;
    default:
      window.showStop(QString(AUDIO_NOT_WRITTEN).arg(name, describeAudioExportFailure(result)));
      break;
  }
}

void ExportCommands::cancelThen(std::function<void()> then) {
  watch_->cancelThen([this, then] {
    release();
    then();
  });
}

void ExportCommands::release() {
  watch_->deleteLater();
  watch_ = nullptr;
}
