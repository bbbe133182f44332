#include "editor/ui/ending_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

constexpr int ENDING_SIGNALS[3] = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes the signal's number into this pipe; the notifier reads it on the
// user-interface thread.
int signalPipe[2] = {-1, -1};

extern "C" void forwardToPipe(int signalNumber) {
  const int saved = errno;
  const char byte = static_cast<char>(signalNumber);
  (void)!::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void ignoreFileSizeSignal() {
  ::signal(SIGXFSZ, SIG_IGN);
}

EndingSignals::EndingSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::readPipe);
  struct sigaction action {};
  action.sa_handler = forwardToPipe;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    struct sigaction current {};
    if (::sigaction(ENDING_SIGNALS[i], nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
      continue;
    installed_[i] = ::sigaction(ENDING_SIGNALS[i], &action, nullptr) == 0;
  }
}

EndingSignals::~EndingSignals() {
  for (int i = 0; i < 3; ++i) {
    if (installed_[i]) ::signal(ENDING_SIGNALS[i], SIG_DFL);
  }
  delete notifier_;
  for (int& fd : signalPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void EndingSignals::readPipe() {
  char bytes[16];
  const ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
  for (ssize_t i = 0; i < n; ++i) Q_EMIT received(static_cast<unsigned char>(bytes[i]));
}
