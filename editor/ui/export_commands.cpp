// The audio export command of the main window: the score is compiled as the make-MIDI command
// compiles it, into memory, and rendered into the WAV or FLAC file the user names. The rendering
// runs on a thread of its own, watched by a progress dialog (AudioExportWatch); the window shows
// the outcome when it finishes.
#include "editor/ui/export_commands.h"

#include <QFileInfo>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/audio_export.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/audio_export_watch.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

const QStringList AUDIO_FILTERS = {"WAV (*.wav)", "FLAC (*.flac)"};
const char AUDIO_NOT_WRITTEN[] = "音声ファイルを書き出せません.\n%1\n%2";

}  // namespace

void ExportCommands::start(AudioExportRequest request, Finished finished) {
  watch_ = new AudioExportWatch(std::move(request), &window_);
  QObject::connect(watch_, &AudioExportWatch::finished, watch_, [this, finished] {
    const AudioExportResult result = watch_->result();
    const QString target = watch_->target();
    release();
    finished(result, target);
  });
  watch_->start();
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

void TForm1::exportAudio() {
  if (compiler_->busy() || exports_->exporting()) return;
  if (!document_->hasFileName()) {
    showStop("名前をつけて保存してから\n実行してください", QString(""));
    return;
  }
  const QString name = services_.saveFileName(
      this, {AUDIO_FILTERS, "wav", scoreDialogFolder(*document_, *additionalSettings_),
             QFileInfo(withExtension(document_->sourcePath(), ".wav")).fileName(), true});
  if (name.isEmpty()) return;
  const WriteOutcome refusal = document_->checkOutput(name);
  if (!refusal.ok()) {
    showStop(QString(AUDIO_NOT_WRITTEN).arg(name, describeWriteFailure(refusal)));
    return;
  }
  Form2->close();
  const CompileResult compiled = compileAndPlay(CompileTarget::MidiImage);
  if (!compiled.ok() || endedBySignal_) return;
  if (!compiled.producedData) {
    showStop("演奏データがありません");
    return;
  }
  exports_->start({compiled.image, name, audioFormatOf(name), additionalSettings_->sound(),
                   additionalSettings_->roll().mix},
                  [this](const AudioExportResult& result, const QString& name) {
                    audioExportFinished(result, name);
                  });
}

void TForm1::audioExportFinished(const AudioExportResult& result, const QString& name) {
  switch (result.status) {
    case AudioExportStatus::Done:
      appendMessage(QString(" -> 書き出した音声ファイル : %1 (%2)")
                        .arg(name, exportTime(result.frames * 1000 / AUDIO_SAMPLE_RATE)));
      services_.messageBox(this, "WAV/FLAC ファイル書き出し終了", QString(""), BoxButtons::Ok,
                           BoxIcon::None);
      break;
    case AudioExportStatus::Cancelled:
      appendMessage(" -> 音声ファイルの書き出しを中止しました");
      break;
    default:
      showStop(QString(AUDIO_NOT_WRITTEN).arg(name, describeAudioExportFailure(result)));
      break;
  }
}
