#include "tests/editor/support/child_process.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

QString ChildOutcome::describe() const {
  return exited ? QString("exited with %1").arg(status)
                : QString("killed by signal %1 (%2)").arg(status).arg(strsignal(status));
}

ChildOutcome runInChild(const std::function<int()>& body, long fileSizeLimit) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int signal : {SIGXFSZ, SIGTERM, SIGHUP, SIGINT, SIGPIPE}) ::signal(signal, SIG_DFL);
    if (fileSizeLimit > 0) {
      const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::_exit(body());
  }
  ChildOutcome outcome;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return outcome;
  outcome.exited = WIFEXITED(status);
  outcome.status = outcome.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return outcome;
}
