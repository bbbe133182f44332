// Signals in the console program. A write over the file-size limit must fail (EFBIG, reported as
// "fmbin write err") and a closed standard output must not end the program, so SIGXFSZ and
// SIGPIPE are ignored. SIGINT, SIGTERM and SIGHUP end the program as usual, by their default
// action, but first remove the temporary output file while there is one.
#pragma once

#include <signal.h>

#include <string>

// Called once at program start. A terminating signal that the caller ignores (nohup, a
// background job) stays ignored.
void installSignalHandling();

// Holds SIGINT, SIGTERM and SIGHUP back while alive, so that a temporary output file is never
// created, committed or removed without the signal handler knowing.
class TerminatingSignalsHeld {
 public:
  TerminatingSignalsHeld();
  ~TerminatingSignalsHeld();
  TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
  TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// The temporary output file a terminating signal removes; forgetTemporaryOutput() when it has
// been renamed or removed. Call both with the signals held.
void watchTemporaryOutput(const std::string& path);
void forgetTemporaryOutput();
