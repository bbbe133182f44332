// Signals in the editor. A write over the file-size limit must fail with EFBIG and be reported
// like any failed save, so SIGXFSZ is ignored. SIGTERM, SIGHUP and SIGINT (a logout, `kill`, a
// closed terminal) are turned into a Qt signal delivered through the event loop, so the main
// window can keep the unsaved text in the backup file before the program ends.
#pragma once

#include <QObject>

class QSocketNotifier;

// Called once at program start, before any file is written.
void ignoreFileSizeSignal();

class EndingSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; a signal the caller ignores (nohup, a background job) stays ignored.
  // One instance at a time.
  explicit EndingSignals(QObject* parent = nullptr);
  ~EndingSignals() override;  // the default actions are back

 Q_SIGNALS:
  void received(int signalNumber);

 private:
  void readPipe();
  QSocketNotifier* notifier_ = nullptr;
  bool installed_[3] = {};
};
