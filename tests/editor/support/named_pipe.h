// A named pipe for tests of paths that must never be opened in a way that blocks. Should the
// code under test block in an open or a read of it anyway, the pipe lets it go after
// NAMED_PIPE_RELEASE_MS (a writer opens it and closes it again, which ends the reader's wait
// with end of file), so that such a test fails instead of hanging.
#pragma once

#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

inline constexpr int NAMED_PIPE_RELEASE_MS = 5000;

class NamedPipe {
 public:
  explicit NamedPipe(QString path);  // makes the pipe; a failure fails the calling test
  ~NamedPipe();                      // stops the release, which then does not happen

  const QString& path() const { return path_; }
  // True once the release had to let a blocked reader go.
  bool released() const;

 private:
  const QString path_;
  mutable std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  bool released_ = false;
  std::thread releaser_;
};
