#include "console/output_signals.h"

#include <unistd.h>

#include <cstring>

namespace {

constexpr int TERMINATING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the signal handler: written only while the terminating signals are held.
char temporaryPath[8192];
volatile sig_atomic_t haveTemporary = 0;

sigset_t terminatingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : TERMINATING_SIGNALS) sigaddset(&set, signal);
  return set;
}

extern "C" void removeTemporaryAndEnd(int signal) {
  if (haveTemporary != 0) ::unlink(temporaryPath);
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // held until the handler returns, then ends the program by default action
}

}  // namespace

void installSignalHandling() {
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = removeTemporaryAndEnd;
  action.sa_mask = terminatingSignals();
  for (int signal : TERMINATING_SIGNALS) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

TerminatingSignalsHeld::TerminatingSignalsHeld() {
  const sigset_t held = terminatingSignals();
  ::sigprocmask(SIG_BLOCK, &held, &previous_);
}

TerminatingSignalsHeld::~TerminatingSignalsHeld() {
  ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void watchTemporaryOutput(const std::string& path) {
  haveTemporary = 0;
  if (path.empty() || path.size() >= sizeof temporaryPath) return;
  std::memcpy(temporaryPath, path.c_str(), path.size() + 1);
  haveTemporary = 1;
}

void forgetTemporaryOutput() {
  haveTemporary = 0;
}
