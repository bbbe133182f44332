#include "editor/backup_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

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

BackupLock::BackupLock(QString path) : path_(std::move(path)) {}

BackupLock::~BackupLock() {
  release();
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

bool BackupLock::write(const QByteArray& bytes) const {
  // Written beside the file and renamed over it, so a failed write keeps the last backup.
  QByteArray temp = QFile::encodeName(path_) + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600, never an existing file
  if (fd < 0) return false;
  QFile file;
  bool written = false;
  if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
  } else {
    ::close(fd);
  }
  if (!written || ::rename(temp.constData(), QFile::encodeName(path_).constData()) != 0) {
    ::unlink(temp.constData());
    return false;
  }
  return true;
}

bool BackupLock::remove() const {
  return ::unlink(QFile::encodeName(path_).constData()) == 0;
}
