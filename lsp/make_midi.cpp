#include "lsp/make_midi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "console/console_program.h"
#include "core/compile_driver.h"
#include "core/compile_host.h"
#include "core/output_file.h"
#include "core/output_stream.h"
#include "core/score_encoding.h"

namespace {

// A console-flavour compilation of the bytes tarvk32c read, in memory, that keeps only the score
// error it stops at: the command reports that error by its number and line, never by quoting
// tarvk32c's console text (which quotes the failing line of whatever file was named).
class FailureProbe : public ConsoleCompileHost {
 public:
  explicit FailureProbe(int fd) : fd_(fd) {}

  void messageLine(std::string_view) override {}
  void alert(std::string_view) override {}
  bool openSource() override { return ::lseek(fd_, 0, SEEK_SET) == 0; }
  void closeSource() override {}
  int32_t readSource(uint8_t* buffer, int32_t capacity) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(capacity));
      if (n < 0 && errno == EINTR) continue;
      return static_cast<int32_t>(n);
    }
  }
  OutputStream* openOutput() override {
    output_.clear();
    return &output_;
  }
  int32_t closeOutput(bool) override { return OUTPUT_CLOSED; }
  void failureReported(const ReportedFailure& failure) override {
    code = failure.code;
    lineNumber = failure.lineNumber;
  }

  int32_t code = 0;
  int32_t lineNumber = 0;

 private:
  int fd_;
  MemoryOutputStream output_;
};

struct FileCloser {
  int fd;
  ~FileCloser() { ::close(fd); }
};

// The bytes of a regular file from its start, as many as it has (`size` expected).
std::string readAll(int fd, size_t size) {
  std::string bytes(size, '\0');
  size_t done = 0;
  if (::lseek(fd, 0, SEEK_SET) != 0) return {};
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

// tarvk32c's exit status and console text for the score at `path`.
int runConsole(const std::string& path, std::string& consoleText) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* console = open_memstream(&text, &size);
  if (console == nullptr) throw std::bad_alloc();
  const char* argv[] = {"tarvk32c", path.c_str()};
  const int status = runConsoleProgram(2, argv, console);
  std::fclose(console);
  consoleText.assign(text, size);
  std::free(text);
  return status;
}

}  // namespace

MakeMidiOutcome makeMidiFile(const std::string& path, const ScoreText* open) {
  MakeMidiOutcome outcome;
  outcome.output = outputNameFor(path, false);
  // As the editor opens a file a user names: without blocking, and only a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    outcome.kind = MakeMidiOutcome::NOT_OPENED;
    outcome.reason = std::strerror(errno);
    return outcome;
  }
  const FileCloser closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    outcome.kind = MakeMidiOutcome::NOT_REGULAR;
    return outcome;
  }
  if (outputWouldOverwrite(outcome.output, path)) {
    outcome.kind = MakeMidiOutcome::OVERWRITES;
    return outcome;
  }
  if (open != nullptr && (info.st_size > LOADABLE_FILE_BYTES ||
                          !open->sameAsFile(readAll(fd, static_cast<size_t>(info.st_size))))) {
    outcome.kind = MakeMidiOutcome::UNSAVED;
    return outcome;
  }
  outcome.exitStatus = runConsole(path, outcome.console);
  if (outcome.exitStatus == 0) {
    outcome.kind = MakeMidiOutcome::WRITTEN;
    return outcome;
  }
  outcome.kind = MakeMidiOutcome::FAILED;
  FailureProbe probe(fd);
  const auto session = std::make_unique<CompileSession>();
  prepareConsoleCompilation(*session, probe, false);
  compileSource(*session);
  outcome.errorCode = probe.code;
  outcome.lineNumber = probe.lineNumber;
  return outcome;
}
