#include "tests/support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarvtest.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::system(("rm -rf '" + path_ + "'").c_str());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  bytes = content.str();
  return true;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string deviceNode(const TempDir& dir, bool full) {
  const char* name = full ? "full" : "null";
  if (::geteuid() != 0) return std::string("/dev/") + name;
  const std::string path = dir.file(std::string("device-") + name);
  if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, full ? 7 : 3)) != 0) return {};
  return path;
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

void useShellSignals() {
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

int statusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
}

namespace {

bool holdsFileOtherThan(pid_t pid, const TempDir& dir, const std::string& input) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const std::string& fd : listDirectory(fds)) {
    char target[4096];
    const ssize_t n = ::readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string path(target, static_cast<size_t>(n));
    if (path.rfind(dir.path() + "/", 0) == 0 && path != dir.file(input)) return true;
  }
  return false;
}

}  // namespace

int signalWhileWritingOutput(const std::vector<std::string>& argv, const TempDir& dir,
                             const std::string& input, int signal, bool hupIgnored, bool& sent) {
  sent = false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) _exit(126);
    useShellSignals();
    if (hupIgnored) ::signal(SIGHUP, SIG_IGN);
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);  // stopped at the start of the program
  if (!WIFSTOPPED(status)) return statusOf(status);
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  int pass = 0;  // a signal of the program's own to hand on
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, pass);
    ::waitpid(pid, &status, 0);
    if (!WIFSTOPPED(status)) return statusOf(status);
    pass = WSTOPSIG(status) == (SIGTRAP | 0x80) ? 0 : WSTOPSIG(status);
    if (pass == 0 && holdsFileOtherThan(pid, dir, input)) break;
  }
  ::kill(pid, signal);
  sent = true;
  ::ptrace(PTRACE_DETACH, pid, nullptr, 0);
  ::waitpid(pid, &status, 0);
  return statusOf(status);
}

namespace {

RunResult runChild(const std::vector<std::string>& argv, const std::string& cwd, long limit) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(126);
    useShellSignals();
    if (limit > 0) {
      rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      ::setrlimit(RLIMIT_FSIZE, &rl);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  ::close(pipeFds[1]);
  RunResult result;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = statusOf(status);
  return result;
}

}  // namespace

RunResult runTarvk32c(const std::vector<std::string>& args, const std::string& cwd,
                      long fileSizeLimit) {
  std::vector<std::string> argv{TARVK32C_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(argv, cwd, fileSizeLimit);
}

RunResult runCommand(const std::string& commandLine) {
  return runChild({"/bin/sh", "-c", commandLine}, "", 0);
}

RunResult runBash(const std::string& script) {
  return runChild({"/bin/bash", "-c", script}, "", 0);
}

Bytes fmdChannel(const Bytes& image, int channel) {
  if (image.size() < 48 || channel < 1 || channel > 9) return {};
  const size_t entry = 16 + 2 * static_cast<size_t>(channel - 1);
  const size_t offset = image[entry] | (image[entry + 1] << 8);
  if (offset == 0) return {};
  Bytes events;
  for (size_t i = 16 + offset; i + 1 < image.size(); i += 2) {
    if (image[i] == 0xFF && image[i + 1] == 0xFF) break;
    events.push_back(image[i]);
    events.push_back(image[i + 1]);
  }
  return events;
}

EventCompile::EventCompile(const std::string& source)
    : compile(std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, source, true)) {
  result = compile->run();
}

Bytes EventCompile::events(int channel) const {
  return fmdChannel(compile->host.output.bytes(), channel);
}

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

std::string hex(const Bytes& data) {
  std::string out;
  char digits[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", data[i]);
    out += digits;
  }
  return out;
}

}  // namespace testing_support
