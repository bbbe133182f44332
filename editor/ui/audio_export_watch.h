// A running WAV/FLAC export and the progress dialog that watches it: the rendered time against
// the song's length, and a cancel button (Escape or closing the dialog cancel too). The window
// starts it and is told when it finished; the dialog is application-modal, so nothing else is
// started meanwhile, but no event loop of its own runs.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "editor/playback/audio_export.h"

class QProgressDialog;
class QWidget;

class AudioExportWatch : public QObject {
  Q_OBJECT
 public:
  AudioExportWatch(AudioExportRequest request, QWidget* window);
  // An export still running is cancelled and waited for: nothing is left behind.
  ~AudioExportWatch() override;

  void start();
  // Cancels the export; `then` runs once it has cleaned up, instead of finished().
  void cancelThen(std::function<void()> then);
  // What the export did; after finished().
  const AudioExportResult& result() { return job_.wait(); }
  const QString& target() const { return target_; }

 Q_SIGNALS:
  void finished();

 private:
  void refresh();
  void jobFinished();

  const QString target_;
  AudioExportJob job_;
  std::unique_ptr<QProgressDialog> dialog_;
  QTimer refresh_;
  std::function<void()> then_;
};

// Whole seconds as H:MM:SS, as the player window shows times.
QString exportTime(int64_t milliseconds);
