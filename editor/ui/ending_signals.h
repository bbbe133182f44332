// The signals that end the editor. SIGTERM, SIGHUP and SIGINT (a logout, `kill`, a closed
// terminal) are turned into a Qt signal delivered through the event loop, so the main window can
// keep the unsaved text in the backup file before the program ends. (SIGXFSZ is ignored by
// ignoreFileSizeSignal(), beside the file writer.)
//
// The signals are read on a watchdog thread of their own, not by the event loop they wake: a
// user-interface thread stuck in a call that does not return would otherwise never learn of
// them, and only SIGKILL could end the program. ENDING_GRACE_MS after the first signal the
// watchdog runs the last resort it was given (the document's text as of its last idle moment to
// the backup file) and ends the process with the status of the signal, 128 + its number,
// unless the program ended before.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

inline constexpr int ENDING_GRACE_MS = 2500;

class EndingSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers and starts the watchdog; a signal the caller ignores (nohup, a
  // background job) stays ignored. `lastResort` runs on the watchdog's thread. One instance at a
  // time.
  explicit EndingSignals(std::function<void()> lastResort = {}, QObject* parent = nullptr);
  ~EndingSignals() override;  // the watchdog stops and the default actions are back

 Q_SIGNALS:
  void received(int signalNumber);

 private:
  void watch();

  const std::function<void()> lastResort_;
  std::thread watchdog_;
  bool installed_[3] = {};
};
