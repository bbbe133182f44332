#include "editor/playback/playback_controller.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <cstdlib>

PlaybackController::PlaybackController(MediaPlayer& player, QString tempDir, QObject* parent)
    : QObject(parent), player_(player), tempDir_(std::move(tempDir)) {}

PlaybackController::~PlaybackController() {
  stop();
}

PlaybackController::Created PlaybackController::createTemporaryFile() {
  if (tempDir_.isEmpty() || !QDir(tempDir_).exists()) return {-1, "Temp Path error"};
  QByteArray name = QFile::encodeName(QDir(tempDir_).filePath("tarvik32-XXXXXX.mid"));
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return {-1, "TMPfileが作成できん"};
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  playPath_ = QFile::decodeName(name);
  tempMidiExists_ = true;
  return {fd, QString()};
}

bool PlaybackController::deleteTemporaryFile() {
  if (!tempMidiExists_) return true;
  // A file that is already gone needs no deleting.
  if (QFile::remove(playPath_) || !QFileInfo::exists(playPath_)) tempMidiExists_ = false;
  return !tempMidiExists_;
}

PlaybackController::Started PlaybackController::play(int64_t startMs) {
  player_.close();
  starting_ = false;
  const uint64_t start = ++starts_;
  Started started;
  if (!player_.open(playPath_, &started.error)) {
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
