#include "console/console_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/output_signals.h"

ConsoleHost::ConsoleHost(std::string sourceName, std::string outputName, std::FILE* console)
    : sourceName_(std::move(sourceName)), outputName_(std::move(outputName)), console_(console) {}

ConsoleHost::~ConsoleHost() {
  closeSource();
  if (output_) closeOutput(false);
}

void ConsoleHost::messageLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), console_);
}

void ConsoleHost::alert(std::string_view text) {
  messageLine(text);
}

bool ConsoleHost::openSource() {
  sourceFd_ = ::open(sourceName_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (sourceFd_ >= 0 && (::fstat(sourceFd_, &info) != 0 || S_ISDIR(info.st_mode))) {
    closeSource();  // a directory opens on Linux but is no score
  }
  if (sourceFd_ < 0) {
    messageLine("Can not open source file!\n");
    return false;
  }
  std::fprintf(console_, "sourcename:%s\n", sourceName_.c_str());
  return true;
}

void ConsoleHost::closeSource() {
  if (sourceFd_ >= 0) ::close(sourceFd_);
  sourceFd_ = -1;
}

int32_t ConsoleHost::readSource(uint8_t* buffer, int32_t capacity) {
  for (;;) {
    const ssize_t n = ::read(sourceFd_, buffer, static_cast<size_t>(capacity));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int32_t>(n);
  }
}

OutputStream* ConsoleHost::openOutput() {
  const TerminatingSignalsHeld held;  // the temporary file is known to the handler at once
  output_ = std::make_unique<OutputFile>(outputName_);
  if (!output_->open()) {
    outputProblem_ = describeOutputOpenFailure(output_->openFailure(), output_->error());
    std::fprintf(console_, "%s: %s\n", outputName_.c_str(), outputProblem_.c_str());
    output_.reset();
    return nullptr;
  }
  watchTemporaryOutput(output_->temporaryPath());
  return output_.get();
}

int32_t ConsoleHost::closeOutput(bool keep) {
  if (!output_) return OUTPUT_WRITE_FAILED;
  const TerminatingSignalsHeld held;  // renamed or removed before the handler could remove it
  int32_t result = OUTPUT_CLOSED;
  if (keep) {
    result = output_->commit();
    if (result != OUTPUT_CLOSED && output_->error() != 0)
      outputProblem_ = std::strerror(output_->error());
  } else {
    output_->discard();
  }
  output_.reset();
  forgetTemporaryOutput();
  return result;
}

void ConsoleHost::diagnosed(const Diagnostic& diagnostic) {
  diagnostics_.push_back(diagnostic);
}
