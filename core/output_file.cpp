#include "core/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Attempts at a free hidden name for a finished unnamed file whose target exists.
constexpr int HIDDEN_NAME_ATTEMPTS = 100;

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hiddenStemFor(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return directory + "." + base + ".";
}

// The name through which an open descriptor's file can be linked into a folder.
std::string descriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

OutputFile::OutputFile(std::string targetPath) : target_(std::move(targetPath)) {}

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::refuse(OutputOpenFailure failure, int error) {
  openFailure_ = failure;
  error_ = error;
  return false;
}

bool OutputFile::open() {
  discard();
  openFailure_ = OutputOpenFailure::None;
  error_ = 0;
  struct stat link {};
  struct stat info {};
  const bool isLink = ::lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  if (::stat(target_.c_str(), &info) != 0) {
    if (isLink) return refuse(OutputOpenFailure::DanglingLink, errno);
    return openTemporary();  // a new file
  }
  if (S_ISDIR(info.st_mode)) return refuse(OutputOpenFailure::Folder, EISDIR);
  if (!S_ISREG(info.st_mode)) return openInPlace();
  // A symbolic link keeps its link: the file it points to is replaced.
  if (isLink) {
    if (char* resolved = ::realpath(target_.c_str(), nullptr)) {
      target_ = resolved;
      std::free(resolved);
    }
  }
  return openTemporary();
}

// A device or a named pipe takes the bytes as they are; its open must not wait for a reader,
// so a pipe nobody reads is refused (ENXIO) instead of stopping the program.
bool OutputFile::openInPlace() {
  fd_ = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return refuse(OutputOpenFailure::System, errno);
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  inPlace_ = true;
  return true;
}

// An unnamed file serves only where it can be named at the commit, through its descriptor's
// entry under /proc/self/fd; elsewhere (no O_TMPFILE in this file system, no /proc) a hidden
// named file beside the target takes its place.
bool OutputFile::openTemporary() {
  const std::string folder = folderOf(target_);
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    struct stat opened {};
    struct stat entry {};
    if (::fstat(fd_, &opened) == 0 && ::stat(descriptorPath(fd_).c_str(), &entry) == 0 &&
        opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino) {
      unnamed_ = true;
    } else {
      ::close(fd_);
      fd_ = -1;
    }
  }
  if (fd_ < 0) {
    std::string pattern = hiddenStemFor(target_) + "XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) return refuse(OutputOpenFailure::System, errno);
    tempPath_ = pattern;
  }
  // Either way the file starts as 0600; give it the mode a plain create would have.
  ::fchmod(fd_, 0666 & ~currentUmask());
  return true;
}

void OutputFile::write(const uint8_t* data, size_t size) {
  if (failed_ || fd_ < 0) {
    failed_ = true;
    return;
  }
  if (inPlace_) {
    const size_t end = static_cast<size_t>(position_) + size;
    if (end > whole_.size()) whole_.resize(end);
    std::copy(data, data + size, whole_.begin() + position_);
    position_ = static_cast<int64_t>(end);
    return;
  }
  while (size > 0) {
    if (bufferUsed_ == BUFFER_BYTES && !flushBuffer()) return;
    const size_t piece = std::min(size, BUFFER_BYTES - bufferUsed_);
    std::memcpy(buffer_ + bufferUsed_, data, piece);
    bufferUsed_ += piece;
    data += piece;
    size -= piece;
    position_ += static_cast<int64_t>(piece);
  }
}

void OutputFile::seek(int64_t position) {
  if (failed_ || fd_ < 0 || position < 0) {
    failed_ = true;
    return;
  }
  if (inPlace_) {
    if (static_cast<size_t>(position) > whole_.size()) whole_.resize(position);
    position_ = position;
    return;
  }
  if (!flushBuffer()) return;
  if (::lseek(fd_, position, SEEK_SET) < 0) {
    failed_ = true;
    error_ = errno;
    return;
  }
  position_ = position;
  bufferStart_ = position;
}

bool OutputFile::flushBuffer() {
  if (bufferUsed_ > 0 && !writeAll(fd_, buffer_, bufferUsed_)) {
    failed_ = true;
    error_ = errno;
    return false;
  }
  bufferStart_ += static_cast<int64_t>(bufferUsed_);
  bufferUsed_ = 0;
  return true;
}

int32_t OutputFile::commit() {
  if (fd_ < 0) return OUTPUT_WRITE_FAILED;
  const int32_t result = inPlace_ ? commitInPlace() : commitTemporary();
  discard();
  return result;
}

int32_t OutputFile::commitInPlace() {
  bool ok = !failed_ && writeAll(fd_, whole_.data(), whole_.size());
  if (!ok && error_ == 0) error_ = errno;
  if (::close(std::exchange(fd_, -1)) != 0) {
    if (ok) error_ = errno;
    ok = false;
  }
  return ok ? OUTPUT_CLOSED : OUTPUT_WRITE_FAILED;
}

int32_t OutputFile::errorResult(int error, int32_t result) {
  error_ = error;
  return result;
}

int32_t OutputFile::closeForCommit() {
  return ::close(std::exchange(fd_, -1)) == 0 ? OUTPUT_CLOSED
                                              : errorResult(errno, OUTPUT_WRITE_FAILED);
}

int32_t OutputFile::commitTemporary() {
  if (failed_ || !flushBuffer()) return OUTPUT_WRITE_FAILED;
  if (unnamed_) {
    // Where nothing has the target's name, the complete file takes it at once.
    if (::linkat(AT_FDCWD, descriptorPath(fd_).c_str(), AT_FDCWD, target_.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      unnamed_ = false;
      return closeForCommit();
    }
    if (errno != EEXIST) return errorResult(errno, OUTPUT_REPLACE_FAILED);
    if (const int named = nameUnnamedFile(); named != 0)
      return errorResult(named, OUTPUT_REPLACE_FAILED);
  }
  if (const int32_t closed = closeForCommit(); closed != OUTPUT_CLOSED) return closed;
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0)
    return errorResult(errno, OUTPUT_REPLACE_FAILED);
  tempPath_.clear();
  return OUTPUT_CLOSED;
}

// Gives the finished unnamed file a hidden name beside the target, for the rename over it.
int OutputFile::nameUnnamedFile() {
  const std::string stem = hiddenStemFor(target_) + std::to_string(::getpid()) + ".";
  for (int attempt = 0; attempt < HIDDEN_NAME_ATTEMPTS; ++attempt) {
    const std::string name = stem + std::to_string(attempt);
    if (::linkat(AT_FDCWD, descriptorPath(fd_).c_str(), AT_FDCWD, name.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      unnamed_ = false;
      tempPath_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void OutputFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  unnamed_ = false;
  inPlace_ = false;
  whole_.clear();
  failed_ = false;
  position_ = 0;
  bufferStart_ = 0;
  bufferUsed_ = 0;
}

std::string describeOutputOpenFailure(OutputOpenFailure failure, int error) {
  switch (failure) {
    case OutputOpenFailure::None:
      return {};
    case OutputOpenFailure::Folder:
      return "is a folder";
    case OutputOpenFailure::DanglingLink:
      return "is a symbolic link to nothing";
    case OutputOpenFailure::System:
      break;
  }
  if (error == ENXIO) return "is a named pipe that nobody reads";
  return std::strerror(error);
}

bool outputWouldOverwrite(const std::string& outputPath, const std::string& sourcePath) {
  struct stat output {};
  struct stat source {};
  if (::stat(outputPath.c_str(), &output) != 0 || ::stat(sourcePath.c_str(), &source) != 0) {
    return false;  // one of them is not there: nothing would be lost
  }
  return output.st_dev == source.st_dev && output.st_ino == source.st_ino;
}
