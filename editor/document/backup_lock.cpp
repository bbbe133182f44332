#include "editor/document/backup_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "editor/document/whole_file_writer.h"

namespace {

// Opens the path for reading without following a link and without blocking on a FIFO; -1 when
// it is not a regular file.
int openRegularForReading(const QByteArray& path) {
  const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

QString userBackupFilePath() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + "/.local/state";
  return QDir(state).filePath("tarvik32/!!tarvik32.tmp");
}

BackupLock::BackupLock(QString path) : path_(std::move(path)) {}

BackupLock::~BackupLock() {
  release();
}

bool BackupLock::prepareFolder() const {
  // Each missing folder on the way is made private; folders that exist are left as they are.
  const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
  for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
    const QByteArray part = slash < 0 ? folder : folder.left(slash);
    if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) return false;
    if (slash < 0) break;
  }
  struct stat info {};
  return ::stat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool BackupLock::isEmpty() const {
  struct stat info {};
  return ::lstat(QFile::encodeName(path_).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
         info.st_size == 0;
}

bool BackupLock::exists() const {
  struct stat info {};
  return ::lstat(QFile::encodeName(path_).constData(), &info) == 0;
}

bool BackupLock::openable() const {
  const int fd = openRegularForReading(QFile::encodeName(path_));
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // closing drops the test lock with it
  return free;
}

bool BackupLock::createEmpty() const {
  const int fd = ::open(QFile::encodeName(path_).constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

bool BackupLock::acquire() {
  release();
  const int fd = openRegularForReading(QFile::encodeName(path_));
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void BackupLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

bool writeBackupFile(const QString& path, const QByteArray& bytes) {
  WholeFileOptions options;
  options.newFileMode = 0600;
  options.followLink = false;
  return writeFileWhole(path, bytes, options).ok();
}

bool BackupLock::write(const QByteArray& bytes) const {
  return writeBackupFile(path_, bytes);
}

bool BackupLock::remove() const {
  return ::unlink(QFile::encodeName(path_).constData()) == 0;
}
