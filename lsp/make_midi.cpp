#include "lsp/make_midi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "console/console_program.h"
#include "core/output_file.h"
#include "core/score_encoding.h"

namespace {

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

// tarvk32c's run on the score at `path`, its console text into `consoleText`.
ConsoleResult runConsole(const std::string& path, std::string& consoleText) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* console = open_memstream(&text, &size);
  if (console == nullptr) throw std::bad_alloc();
  const char* argv[] = {"tarvk32c", path.c_str()};
  ConsoleResult result = compileConsole(2, argv, console);
  std::fclose(console);
  consoleText.assign(text, size);
  std::free(text);
  return result;
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
  const ConsoleResult result = runConsole(path, outcome.console);
  outcome.exitStatus = result.exitStatus;
  if (outcome.exitStatus == 0) {
    outcome.kind = MakeMidiOutcome::WRITTEN;
    return outcome;
  }
  outcome.kind = MakeMidiOutcome::FAILED;
  outcome.reason = result.outputProblem;
  for (const Diagnostic& diagnostic : result.diagnostics) {
    if (diagnostic.error()) outcome.failure = diagnostic;
  }
  return outcome;
}
