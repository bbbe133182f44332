#include "core/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

OutputFile::OutputFile(std::string targetPath) : target_(std::move(targetPath)) {}

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::open() {
  // A target that is a symbolic link keeps its link: the file it points to is replaced.
  struct stat info {};
  if (::lstat(target_.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* resolved = ::realpath(target_.c_str(), nullptr)) {
      target_ = resolved;
      std::free(resolved);
    }
  }
  // The temporary file sits beside the target, so the final rename never crosses file systems.
  const size_t slash = target_.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  std::string pattern = directory + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) return false;
  tempPath_ = name.data();
  // mkstemp creates 0600; give the file the mode a plain create would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
  return true;
}

void OutputFile::write(const uint8_t* data, size_t size) {
  if (failed_ || fd_ < 0) {
    failed_ = true;
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
  if (failed_ || fd_ < 0) {
    failed_ = true;
    return;
  }
  if (!flushBuffer()) return;
  if (::lseek(fd_, position, SEEK_SET) < 0) {
    failed_ = true;
    return;
  }
  position_ = position;
  bufferStart_ = position;
}

bool OutputFile::flushBuffer() {
  if (bufferUsed_ > 0 && !writeAll(fd_, buffer_, bufferUsed_)) {
    failed_ = true;
    return false;
  }
  bufferStart_ += static_cast<int64_t>(bufferUsed_);
  bufferUsed_ = 0;
  return true;
}

int32_t OutputFile::commit() {
  if (fd_ < 0) return OUTPUT_WRITE_FAILED;
  bool ok = !failed_ && flushBuffer();
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (!ok) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return OUTPUT_WRITE_FAILED;
  }
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return OUTPUT_REPLACE_FAILED;
  }
  tempPath_.clear();
  return OUTPUT_CLOSED;
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
}

bool outputWouldOverwrite(const std::string& outputPath, const std::string& sourcePath) {
  struct stat output {};
  struct stat source {};
  if (::stat(outputPath.c_str(), &output) != 0 || ::stat(sourcePath.c_str(), &source) != 0) {
    return false;  // one of them is not there: nothing would be lost
  }
  return output.st_dev == source.st_dev && output.st_ino == source.st_ino;
}
