// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/memory_host.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// A fresh empty directory under the system's temporary directory, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
bool readFile(const std::string& path, std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDirectory(const std::string& path);

// A character device that behaves as /dev/null (`full` false) or /dev/full (`full` true) for a
// test to write to. As the superuser, a node of the test's own made in `dir`, so that a fault
// that replaces its target never reaches the system's device; otherwise the system's device,
// which such a fault could not replace.
std::string deviceNode(const TempDir& dir, bool full);

// Result of running a program: its standard output and its exit status (or -signal).
struct RunResult {
  std::string out;
  int status = -1;
};

// Programs run as a shell runs a command: every signal at its default action, none blocked.
// Call in the child between fork and exec.
void useShellSignals();

// A status from waitpid() as the results below give it: the exit status, or -signal.
int statusOf(int waitStatus);

// Runs the built tarvk32c with `args` in directory `cwd`; `fileSizeLimit` > 0 sets
// RLIMIT_FSIZE, with SIGXFSZ at its default action as a shell leaves it.
RunResult runTarvk32c(const std::vector<std::string>& args, const std::string& cwd,
                      long fileSizeLimit = 0);

// Runs `argv` (a program path and its arguments) in `dir` as a shell would, its standard output
// to /dev/null (SIGHUP ignored when `hupIgnored`, as under nohup), and, traced system call by
// system call, sends it `signal` at the first stop at which it holds a file of `dir` other than
// `input` open: its output in the making. The exit status or -signal; `sent` tells whether the
// signal went out (125: the test cannot trace).
int signalWhileWritingOutput(const std::vector<std::string>& argv, const TempDir& dir,
                             const std::string& input, int signal, bool hupIgnored, bool& sent);

// Runs a command line with /bin/sh, or a script with bash; standard output and exit status.
RunResult runCommand(const std::string& commandLine);
RunResult runBash(const std::string& script);

// Events (code, value pairs as bytes) of `channel` in a compiled-data image, empty when the
// channel has no data.
Bytes fmdChannel(const Bytes& image, int channel);

// Compiles `source` in compiled-data mode with the editor flavour (the image is written also
// after an error) and returns the compilation; the events are fmdChannel(host.kept, ch).
struct EventCompile {
  explicit EventCompile(const std::string& source);
  int32_t result;
  std::unique_ptr<MemoryCompile> compile;
  Bytes events(int channel) const;
  int32_t cursor() const { return compile->session.lineCursor; }
};

Bytes bytes(std::initializer_list<int> values);
std::string hex(const Bytes& data);

}  // namespace testing_support
