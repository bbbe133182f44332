#include "editor/document/temporary_midi_file.h"

#include <fcntl.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char NAME_PATTERN[] = "tarvik32-XXXXXX.mid";
constexpr int NAME_SUFFIX_LENGTH = 4;  // ".mid", kept after the random part

}  // namespace

TemporaryMidiFile::TemporaryMidiFile(QString folder) : folder_(std::move(folder)) {}

TemporaryMidiFile::~TemporaryMidiFile() {
  remove();
}

TemporaryMidiFile::Created TemporaryMidiFile::create() {
  if (folder_.isEmpty() || !QDir(folder_).exists()) return {-1, "Temp Path error"};
  QByteArray name = QFile::encodeName(QDir(folder_).filePath(NAME_PATTERN));
  const int fd = ::mkstemps(name.data(), NAME_SUFFIX_LENGTH);
  if (fd < 0) return {-1, "TMPfileが作成できん"};
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  path_ = QFile::decodeName(name);
  exists_ = true;
  return {fd, QString()};
}

bool TemporaryMidiFile::remove() {
  if (!exists_) return true;
  // A file that is already gone needs no deleting.
  if (QFile::remove(path_) || !QFileInfo::exists(path_)) exists_ = false;
  return !exists_;
}
