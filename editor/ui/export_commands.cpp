// The audio export command of the main window: the score is compiled as the make-MIDI command
// compiles it, into memory, and rendered into the WAV or FLAC file the user names, with a
// progress dialog that can cancel. The rendering runs on a thread of its own; the compilation
// and everything else stay on the user-interface thread.
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/audio_export.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

const QStringList AUDIO_FILTERS = {"WAV (*.wav)", "FLAC (*.flac)"};
const char EXPORT_TITLE[] = "WAV/FLAC ファイル書き出し";
constexpr int PROGRESS_REFRESH_MS = 100;

// Whole seconds as H:MM:SS, as the player window shows times.
QString progressTime(int64_t milliseconds) {
  return formatPlayTime(milliseconds).chopped(3);
}

}  // namespace

void TForm1::audio1Click() {
  if (compiler_->busy() || audioExport_) return;
  if (!document_->hasFileName()) {
    showStop("名前をつけて保存してから\n実行してください", QString(""));
    return;
  }
  const QString name = services_.saveFileName(
      this, {AUDIO_FILTERS, "wav", scoreDialogFolder(*document_, *additionalSettings_),
             QFileInfo(withExtension(document_->sourcePath(), ".wav")).fileName(), true});
  if (name.isEmpty()) return;
  Form2->close();
  compileAndPlay(CompileTarget::MidiImage);
  if (compiler_->compileFailed() || endRequested_) return;
  if (!compiler_->producedData()) {
    showStop("演奏データがありません");
    return;
  }
  const AudioExportResult result = renderWithProgress(
      {compiler_->midiImage(), name, audioFormatOf(name), additionalSettings_->sound()});
  if (endRequested_) {
    QTimer::singleShot(0, this, &TForm1::endOnSignal);
    return;
  }
  switch (result.status) {
    case AudioExportStatus::Done:
      appendMessage(QString(" -> 書き出した音声ファイル : %1 (%2)")
                        .arg(name, progressTime(result.frames * 1000 / AUDIO_SAMPLE_RATE)));
      services_.messageBox(this, "WAV/FLAC ファイル書き出し終了", QString(""), BoxButtons::Ok,
                           BoxIcon::None);
      break;
    case AudioExportStatus::Cancelled:
      appendMessage(" -> 音声ファイルの書き出しを中止しました");
      break;
    default:
      showStop(QString("音声ファイルを書き出せません.\n%1\n%2")
                   .arg(name, describeAudioExportFailure(result)));
      break;
  }
}

// Runs the export on its thread while a modal progress dialog shows the rendered time against
// the song's length; its cancel button, Escape or closing it cancels the export.
AudioExportResult TForm1::renderWithProgress(AudioExportRequest request) {
  AudioExportJob job(std::move(request));
  QProgressDialog dialog(this);
  dialog.setWindowTitle(EXPORT_TITLE);
  dialog.setLabelText("書き出しの準備中...");
  dialog.setCancelButtonText("中止");
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setMinimumDuration(0);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  dialog.setMinimumWidth(360);
  QEventLoop loop;
  QTimer refresh;
  refresh.setInterval(PROGRESS_REFRESH_MS);
  // The value last: on a modal dialog setValue() lets events run.
  connect(&refresh, &QTimer::timeout, &dialog, [&] {
    const int64_t songMs = job.songMs();
    const int64_t renderedMs = std::min(job.renderedMs(), songMs);
    dialog.setLabelText(
        QString("書き出し中  %1 / %2").arg(progressTime(renderedMs), progressTime(songMs)));
    dialog.setMaximum(int(std::clamp<int64_t>(songMs, 1, INT_MAX)));
    dialog.setValue(int(std::min<int64_t>(renderedMs, INT_MAX)));
  });
  connect(&dialog, &QProgressDialog::canceled, &job, &AudioExportJob::cancel);
  bool finished = false;
  connect(&job, &AudioExportJob::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  audioExport_ = &job;
  job.start();
  dialog.show();
  refresh.start();
  loop.exec();
  if (!finished) job.cancel();  // the application left every event loop: it is ending
  audioExport_ = nullptr;
  return job.wait();
}
