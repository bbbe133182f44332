#include "editor/ui/ending_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

constexpr int ENDING_SIGNALS[3] = {SIGTERM, SIGHUP, SIGINT};
constexpr char STOP_WATCHING = 0;  // no signal has the number 0
constexpr int SIGNAL_EXIT_BASE = 128;

// The handler only writes the signal's number into this pipe; the watchdog reads it.
int signalPipe[2] = {-1, -1};

extern "C" void forwardToPipe(int signalNumber) {
  const int saved = errno;
  const char byte = static_cast<char>(signalNumber);
  (void)!::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

EndingSignals::EndingSignals(std::function<void()> lastResort, QObject* parent)
    : QObject(parent), lastResort_(std::move(lastResort)) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  watchdog_ = std::thread([this] { watch(); });
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
  if (watchdog_.joinable()) {
    (void)!::write(signalPipe[1], &STOP_WATCHING, 1);
    watchdog_.join();
  }
  for (int& fd : signalPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

// Each signal is handed to the user-interface thread; from the first one on, the program has
// ENDING_GRACE_MS to end by itself.
void EndingSignals::watch() {
  using Clock = std::chrono::steady_clock;
  int first = 0;
  Clock::time_point deadline;
  for (;;) {
    int timeout = -1;
    if (first != 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeout = int(std::max<int64_t>(left.count(), 0));
    }
    pollfd watched{signalPipe[0], POLLIN, 0};
    const int ready = ::poll(&watched, 1, timeout);
    if (ready == 0) break;
    if (ready < 0) continue;  // EINTR: a signal's handler ran on this thread
    char bytes[16];
    const ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
      const int number = static_cast<unsigned char>(bytes[i]);
      if (number == STOP_WATCHING) return;
      if (first == 0) {
        first = number;
        deadline = Clock::now() + std::chrono::milliseconds(ENDING_GRACE_MS);
      }
      QMetaObject::invokeMethod(
          this, [this, number] { Q_EMIT received(number); }, Qt::QueuedConnection);
    }
  }
  if (lastResort_) lastResort_();
  ::_exit(SIGNAL_EXIT_BASE + first);
}
