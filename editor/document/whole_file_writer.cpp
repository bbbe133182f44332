#include "editor/document/whole_file_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

QByteArray folderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : path.left(slash));
}

QByteArray nameOf(const QByteArray& path) {
  return path.mid(path.lastIndexOf('/') + 1);
}

// A rename is durable once the folder that holds the name is synced; a failure here loses
// nothing that is not lost anyway, so it is not reported.
void syncFolder(const QByteArray& path) {
  const int fd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The file systems that refuse hard links (FAT, exFAT, some network shares) say so with one of
// these.
bool linksUnsupported(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// A regular file kept open for as long as the object lives. A file whose last name goes while it
// is open is freed only at the close, so the rename that drops the name is quick.
class HeldOpen {
 public:
  explicit HeldOpen(const QByteArray& path) {
    struct stat info {};
    if (!path.isEmpty() && ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode)) {
      fd_ = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
  }
  ~HeldOpen() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;

 private:
  int fd_ = -1;
};

// The name through which an open descriptor's file can be linked into a folder.
QByteArray descriptorPath(int fd) {
  return "/proc/self/fd/" + QByteArray::number(fd);
}

WriterSystemCalls& realCalls() {
  static WriterSystemCalls calls;
  return calls;
}

QByteArray readWhole(const QByteArray& path, bool* ok) {
  QFile file(QFile::decodeName(path));
  *ok = file.open(QIODevice::ReadOnly);
  if (!*ok) return {};
  const QByteArray bytes = file.readAll();
  *ok = file.error() == QFileDevice::NoError;
  return bytes;
}

}  // namespace

int WriterSystemCalls::openUnnamed(const char* folder, mode_t mode) {
  return ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

int WriterSystemCalls::link(const char* from, const char* to) {
  return ::linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

int WriterSystemCalls::rename(const char* from, const char* to) {
  return ::rename(from, to);
}

int WriterSystemCalls::close(int fd) {
  return ::close(fd);
}

QString describeWriteFailure(const WriteOutcome& outcome) {
  const QString reason =
      outcome.error != 0 ? QString::fromLocal8Bit(std::strerror(outcome.error)) : QString();
  switch (outcome.failure) {
    case WriteFailure::None:
      return QString();
    case WriteFailure::NotRegularFile:
      return "通常のファイルではありません";
    case WriteFailure::ReadOnly:
      return "読み取り専用のファイルです";
    case WriteFailure::CreateTemporary:
      return QString("一時ファイルを作れません: %1").arg(reason);
    case WriteFailure::Write:
      return QString("書き込みに失敗しました: %1").arg(reason);
    case WriteFailure::KeepPrevious:
      return QString("前の版を.bakとして残せません: %1").arg(reason);
    case WriteFailure::Replace:
      return QString("ファイルを置き換えられません: %1").arg(reason);
    case WriteFailure::SourceItself:
      return "ソースと同じファイルです";
  }
  return reason;
}

namespace {

// Every byte, looping over partial writes and retrying an interrupted call: at the descriptor's
// position, or at `offset` when it is not negative. 0, or the errno of the failure.
int writeLoop(int fd, qint64 offset, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t n =
        offset < 0 ? ::write(fd, data, static_cast<size_t>(size))
                   : ::pwrite(fd, data, static_cast<size_t>(size), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= n;
    if (offset >= 0) offset += n;
  }
  return 0;
}

}  // namespace

void ignoreFileSizeSignal() {
  ::signal(SIGXFSZ, SIG_IGN);
}

int writeAllBytes(int fd, const char* data, qsizetype size) {
  return writeLoop(fd, -1, data, size);
}

int writeAllBytesAt(int fd, qint64 offset, const char* data, qsizetype size) {
  return writeLoop(fd, offset, data, size);
}

WholeFileWriter::WholeFileWriter(QString target, WholeFileOptions options)
    : target_(QFile::encodeName(target)),
      keepAs_(QFile::encodeName(options.keepPreviousAs)),
      options_(std::move(options)),
      calls_(options_.calls != nullptr ? *options_.calls : realCalls()) {}

WholeFileWriter::~WholeFileWriter() {
  discard();
}

WriteOutcome WholeFileWriter::fail(WriteFailure failure, int error) {
  discard();
  pending_ = WriteOutcome{failure, error};
  return pending_;
}

WriteOutcome WholeFileWriter::open() {
  discard();
  pending_ = {};
  struct stat info {};
  targetExisted_ = ::lstat(target_.constData(), &info) == 0;
  if (targetExisted_ && S_ISLNK(info.st_mode)) {
    char* resolved = options_.followLink ? ::realpath(target_.constData(), nullptr) : nullptr;
    if (resolved != nullptr) {
      target_ = resolved;
      std::free(resolved);
      targetExisted_ = ::stat(target_.constData(), &info) == 0;
    } else {
      targetExisted_ = false;  // the link itself is replaced
    }
  }
  if (targetExisted_) {
    if (!S_ISREG(info.st_mode)) {
      return fail(WriteFailure::NotRegularFile, S_ISDIR(info.st_mode) ? EISDIR : 0);
    }
    // No write bit at all counts for the superuser too, whom access() always lets write.
    const bool noWriteBits = (info.st_mode & 0222) == 0;
    if (noWriteBits || ::access(target_.constData(), W_OK) != 0) {
      return fail(WriteFailure::ReadOnly, noWriteBits ? EACCES : errno);
    }
  }

  if (!openUnnamed(folderOf(target_))) {
    QByteArray pattern = folderOf(target_) + "/." + nameOf(target_) + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) return fail(WriteFailure::CreateTemporary, errno);
    tempPath_ = pattern;
  }
  if (targetExisted_) {
    if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
      (void)::fchown(fd_, info.st_uid, info.st_gid);  // allowed for the superuser only
    }
    ::fchmod(fd_, info.st_mode & 07777);
  } else {
    ::fchmod(fd_, options_.newFileMode & ~currentUmask() & 07777);
  }
  return pending_;
}

// An unnamed file serves only where it can be named at the commit, through its descriptor's
// entry under /proc/self/fd. A file system without such files refuses the open (EOPNOTSUPP,
// EISDIR, EINVAL, ...), and so does a folder the user may not write: the caller then makes a
// named temporary file and reports that attempt's failure.
bool WholeFileWriter::openUnnamed(const QByteArray& folder) {
  const int fd = calls_.openUnnamed(folder.constData(), 0600);
  if (fd < 0) return false;
  struct stat opened {};
  struct stat entry {};
  if (::fstat(fd, &opened) != 0 || ::stat(descriptorPath(fd).constData(), &entry) != 0 ||
      opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  unnamed_ = true;
  return true;
}

// The complete file takes the target's name at once where there was no file of that name;
// otherwise it gets a hidden name beside the target, which it keeps only until the rename that
// follows.
WriteOutcome WholeFileWriter::nameUnnamed() {
  const QByteArray from = descriptorPath(fd_);
  if (!targetExisted_ && calls_.link(from.constData(), target_.constData()) == 0) {
    tempPath_ = target_;  // removed again by a failure before the commit ends
    return {};
  }
  const QByteArray stem = folderOf(target_) + "/." + nameOf(target_) + "." +
                          QByteArray::number(static_cast<qint64>(::getpid())) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QByteArray name = stem + QByteArray::number(attempt);
    if (calls_.link(from.constData(), name.constData()) == 0) {
      tempPath_ = name;
      return {};
    }
    if (errno != EEXIST) return {WriteFailure::Replace, errno};
  }
  return {WriteFailure::Replace, EEXIST};
}

WriteOutcome WholeFileWriter::write(const char* data, qsizetype size) {
  if (!pending_.ok()) return pending_;
  if (fd_ < 0) return fail(WriteFailure::Write, EBADF);
  if (const int error = writeAllBytes(fd_, data, size)) return fail(WriteFailure::Write, error);
  return pending_;
}

WriteOutcome WholeFileWriter::writeAt(qint64 offset, const char* data, qsizetype size) {
  if (!pending_.ok()) return pending_;
  if (fd_ < 0) return fail(WriteFailure::Write, EBADF);
  if (const int error = writeAllBytesAt(fd_, offset, data, size)) {
    return fail(WriteFailure::Write, error);
  }
  return pending_;
}

WriteOutcome WholeFileWriter::commit() {
  if (!pending_.ok()) return pending_;
  if (fd_ < 0) return fail(WriteFailure::Write, EBADF);
  if (::fsync(fd_) != 0) return fail(WriteFailure::Write, errno);
  const bool keep = !keepAs_.isEmpty() && targetExisted_ && keepAs_ != target_;
  // The ".bak" that the previous version replaces is freed after the commit, not while the new
  // file has its temporary name.
  const HeldOpen replacedBak(keep ? keepAs_ : QByteArray());
  if (unnamed_) {
    const WriteOutcome named = nameUnnamed();
    if (!named.ok()) return fail(named.failure, named.error);
  }
  if (calls_.close(std::exchange(fd_, -1)) != 0) return fail(WriteFailure::Write, errno);

  bool movedAside = false;
  if (keep) {
    const WriteOutcome kept = keepPrevious();
    if (!kept.ok()) return fail(kept.failure, kept.error);
    struct stat info {};
    movedAside = ::lstat(target_.constData(), &info) != 0;  // renamed, not linked
  }
  if (tempPath_ != target_ && calls_.rename(tempPath_.constData(), target_.constData()) != 0) {
    const int error = errno;
    if (movedAside) calls_.rename(keepAs_.constData(), target_.constData());
    return fail(WriteFailure::Replace, error);
  }
  tempPath_.clear();
  syncFolder(target_);
  return pending_;
}

// The target gets a second name, then that name replaces the old ".bak": the old ".bak" goes
// only once the previous version is under its name. Where hard links are refused the target is
// renamed instead, and commit() moves the new file in right after.
WriteOutcome WholeFileWriter::keepPrevious() {
  struct stat info {};
  if (::lstat(keepAs_.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return {WriteFailure::KeepPrevious, EISDIR};
  }
  const QByteArray stem = folderOf(keepAs_) + "/." + nameOf(keepAs_) + "." +
                          QByteArray::number(static_cast<qint64>(::getpid())) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QByteArray linkName = stem + QByteArray::number(attempt);
    if (calls_.link(target_.constData(), linkName.constData()) == 0) {
      if (calls_.rename(linkName.constData(), keepAs_.constData()) == 0) {
        // A ".bak" that is already the target under another name makes the rename do nothing.
        ::unlink(linkName.constData());
        return {};
      }
      const int error = errno;
      ::unlink(linkName.constData());
      return {WriteFailure::KeepPrevious, error};
    }
    const int error = errno;
    if (error == EEXIST) continue;
    if (linksUnsupported(error)) {
      if (calls_.rename(target_.constData(), keepAs_.constData()) == 0) return {};
      return {WriteFailure::KeepPrevious, errno};
    }
    if (error == EXDEV) {  // the ".bak" is on another file system than the file a link names
      bool read = false;
      const QByteArray previous = readWhole(target_, &read);
      if (!read) return {WriteFailure::KeepPrevious, EIO};
      const WriteOutcome copied = writeFileWhole(QFile::decodeName(keepAs_), previous);
      return copied.ok() ? WriteOutcome{} : WriteOutcome{WriteFailure::KeepPrevious, copied.error};
    }
    return {WriteFailure::KeepPrevious, error};
  }
  return {WriteFailure::KeepPrevious, EEXIST};
}

void WholeFileWriter::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  unnamed_ = false;
  if (!tempPath_.isEmpty()) {
    ::unlink(tempPath_.constData());
    tempPath_.clear();
  }
}

WriteOutcome writeFileWhole(const QString& path, const QByteArray& bytes,
                            const WholeFileOptions& options) {
  WholeFileWriter writer(path, options);
  WriteOutcome outcome = writer.open();
  if (outcome.ok()) outcome = writer.write(bytes);
  if (outcome.ok()) outcome = writer.commit();
  return outcome;
}
