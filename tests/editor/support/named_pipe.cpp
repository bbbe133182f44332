#include "tests/editor/support/named_pipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <chrono>

NamedPipe::NamedPipe(QString path) : path_(std::move(path)) {
  const QByteArray name = QFile::encodeName(path_);
  QVERIFY2(::mkfifo(name.constData(), 0600) == 0, qPrintable(path_));
  releaser_ = std::thread([this, name] {
    std::unique_lock lock(mutex_);
    if (stop_.wait_for(lock, std::chrono::milliseconds(NAMED_PIPE_RELEASE_MS),
                       [this] { return stopping_; })) {
      return;
    }
    // Without a reader the open fails at once (ENXIO), and nobody needed the release.
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      released_ = true;
      ::close(fd);
    }
  });
}

NamedPipe::~NamedPipe() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  releaser_.join();
}

bool NamedPipe::released() const {
  std::lock_guard lock(mutex_);
  return released_;
}
