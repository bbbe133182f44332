#include "editor/ui/audio_export_watch.h"

#include <QProgressDialog>
#include <algorithm>
#include <climits>

#include "editor/ui/player_window.h"

namespace {

const char EXPORT_TITLE[] = "WAV/FLAC ファイル書き出し";
constexpr int PROGRESS_REFRESH_MS = 100;

}  // namespace

QString exportTime(int64_t milliseconds) {
  return formatPlayTime(milliseconds).chopped(3);
}

AudioExportWatch::AudioExportWatch(AudioExportRequest request, QWidget* window)
    : QObject(window),
      target_(request.target),
      job_(std::move(request)),
      dialog_(std::make_unique<QProgressDialog>(window)) {
  dialog_->setWindowTitle(EXPORT_TITLE);
  dialog_->setLabelText("書き出しの準備中...");
  dialog_->setCancelButtonText("中止");
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->setMinimumDuration(0);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumWidth(360);
  refresh_.setInterval(PROGRESS_REFRESH_MS);
  connect(&refresh_, &QTimer::timeout, this, &AudioExportWatch::refresh);
  connect(dialog_.get(), &QProgressDialog::canceled, &job_, &AudioExportJob::cancel);
  connect(&job_, &AudioExportJob::finished, this, &AudioExportWatch::jobFinished,
          Qt::QueuedConnection);
}

AudioExportWatch::~AudioExportWatch() {
  job_.cancel();
  job_.wait();
}

void AudioExportWatch::start() {
  job_.start();
  dialog_->show();
  refresh_.start();
}

void AudioExportWatch::cancelThen(std::function<void()> then) {
  then_ = std::move(then);
  job_.cancel();
}

// The value last: on a modal dialog setValue() lets events run.
void AudioExportWatch::refresh() {
  const int64_t songMs = job_.songMs();
  const int64_t renderedMs = std::min(job_.renderedMs(), songMs);
  dialog_->setLabelText(
      QString("書き出し中  %1 / %2").arg(exportTime(renderedMs), exportTime(songMs)));
  dialog_->setMaximum(int(std::clamp<int64_t>(songMs, 1, INT_MAX)));
  dialog_->setValue(int(std::min<int64_t>(renderedMs, INT_MAX)));
}

void AudioExportWatch::jobFinished() {
  refresh_.stop();
  dialog_.reset();
  job_.wait();
  if (then_) {
    then_();
  } else {
    Q_EMIT finished();
  }
}
