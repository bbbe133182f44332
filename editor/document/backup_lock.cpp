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

BackupStep failedAt(const QByteArray& path, int error) {
  return {QFile::decodeName(path), error};
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

QString BackupLock::lockPath() const {
  const QFileInfo info(path_);
  return QDir(info.path()).filePath(info.completeBaseName() + ".lock");
}

BackupStep BackupLock::prepareFolder() const {
  // Each missing folder on the way is made private; folders that exist are left as they are.
  const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
  for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
    const QByteArray part = slash < 0 ? folder : folder.left(slash);
    if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) return failedAt(folder, errno);
    if (slash < 0) break;
  }
  struct stat info {};
  if (::stat(folder.constData(), &info) != 0) return failedAt(folder, errno);
  if (!S_ISDIR(info.st_mode)) return failedAt(folder, ENOTDIR);
  return {};
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

BackupStep BackupLock::checkRegular() const {
  const QByteArray path = QFile::encodeName(path_);
  struct stat info {};
  if (::lstat(path.constData(), &info) != 0) return failedAt(path, errno);
  if (S_ISREG(info.st_mode)) return {};
  return failedAt(path, S_ISDIR(info.st_mode) ? EISDIR : S_ISLNK(info.st_mode) ? ELOOP : EINVAL);
}

BackupStep BackupLock::createEmpty() const {
  const QByteArray path = QFile::encodeName(path_);
  const int fd = ::open(path.constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return failedAt(path, errno);
  if (::close(fd) != 0) return failedAt(path, errno);
  return {};
}

// The lock file is opened for writing too: where flock is carried out as a POSIX lock (NFS), an
// exclusive lock needs a descriptor open for writing.
BackupStep BackupLock::acquire() {
  release();
  const QByteArray path = QFile::encodeName(lockPath());
  const int fd =
      ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return failedAt(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return failedAt(path, EINVAL);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return failedAt(path, error);
  }
  fd_ = fd;
  return {};
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
