// The backup file's content should the program have to end while its user-interface thread
// cannot answer: a terminating signal with that thread stuck in a call that does not return.
// The document keeps here, at its idle moments, what the end of a run would leave in the backup
// file (its edited text, or nothing); write() puts that there from any thread, through the same
// whole-file writer as every backup.
#pragma once

#include <QString>
#include <mutex>

#include "editor/document/text_codec.h"

class LastResortBackup {
 public:
  explicit LastResortBackup(QString backupFile);

  // What the end of the run leaves: `text` ('\n' line ends) in `encoding` when `keep`, else no
  // backup file. An instance that does not own the backup file (`owner` false) leaves it alone.
  void update(bool owner, bool keep, QString text, FileEncoding encoding);
  // The backup file is no longer this instance's to write (the run ended normally).
  void disown();

  // Writes the text kept as the backup file, or removes the file when there is none to keep (a
  // text the encoding cannot hold included); true when the file holds the text. A failed write
  // leaves the previous backup. Once only: later calls do nothing. Any thread.
  bool write();

  // What write() would put in the file; empty when it would write none. For tests.
  QString keptText() const;

 private:
  const QString path_;
  mutable std::mutex mutex_;
  bool owner_ = false;
  bool keep_ = false;
  QString text_;
  FileEncoding encoding_;
};
