// Runs a piece of a test in a forked child, the way a user's shell starts the editor: signals at
// their default dispositions, optionally under a file-size limit (`ulimit -f`). The child ends
// with the body's result as its exit status; it never returns into the test.
#pragma once

#include <QString>
#include <functional>

struct ChildOutcome {
  bool exited = false;  // false: killed by a signal
  int status = 0;       // the exit status, or the signal number
  QString describe() const;
};

// `fileSizeLimit` in bytes, or 0 for none. The body returns 0 for success or a number that
// says which of its checks failed.
ChildOutcome runInChild(const std::function<int()>& body, long fileSizeLimit = 0);
