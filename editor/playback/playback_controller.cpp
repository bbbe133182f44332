#include "editor/playback/playback_controller.h"

#include <QPointer>

PlaybackController::PlaybackController(MediaPlayer& player, TemporaryMidiFile& file,
                                       QObject* parent)
    : QObject(parent), player_(player), file_(file) {}

PlaybackController::~PlaybackController() {
  stop();
}

PlaybackController::Started PlaybackController::play(int64_t startMs) {
  player_.close();
  starting_ = false;
  const uint64_t start = ++starts_;
  Started started;
  if (!player_.open(file_.path(), &started.error)) {
    player_.close();
    return started;
  }
  player_.seek(startMs > 0 && startMs < player_.lengthMs() ? startMs : 0);
  if (player_.soundReady()) return startOpened();
  starting_ = true;
  started.pending = true;
  player_.prepareSound([self = QPointer(this), start](const QString& error) {
    if (self) self->soundPrepared(start, error);
  });
  return started;
}

void PlaybackController::soundPrepared(uint64_t start, const QString& error) {
  if (!starting_ || start != starts_) return;
  starting_ = false;
  if (!error.isEmpty()) {
    player_.close();
    Q_EMIT started({.error = error});
    return;
  }
  Q_EMIT started(startOpened());
}

// The file is open at the place to start from.
PlaybackController::Started PlaybackController::startOpened() {
  Started started;
  if (!player_.play(&started.error)) {
    player_.close();
    return started;
  }
  playing_ = true;
  started.ok = true;
  started.lengthMs = player_.lengthMs();
  started.silent = player_.silent();
  return started;
}

bool PlaybackController::stop() {
  playing_ = false;
  starting_ = false;
  player_.close();
  return deleteTemporaryFile();
}

void PlaybackController::playerNotified() {
  if (!playing_) return;
  const int64_t length = player_.lengthMs();
  if (length > player_.positionMs()) return;
  if (!loop_) {
    Q_EMIT endReached();
  } else if (length > 0) {
    player_.seek(0);
    QString error;
    player_.play(&error);
  }
}
