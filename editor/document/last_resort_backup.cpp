#include "editor/document/last_resort_backup.h"

#include <QFile>

#include "editor/document/backup_lock.h"

LastResortBackup::LastResortBackup(QString backupFile) : path_(std::move(backupFile)) {}

void LastResortBackup::update(bool owner, bool keep, QString text, FileEncoding encoding) {
  std::lock_guard lock(mutex_);
  owner_ = owner;
  keep_ = owner && keep;
  text_ = keep_ ? std::move(text) : QString();
  encoding_ = encoding;
}

void LastResortBackup::disown() {
  update(false, false, QString(), {});
}

QString LastResortBackup::keptText() const {
  std::lock_guard lock(mutex_);
  return text_;
}

// The lock is held through the write, so the document cannot disown the file and remove it while
// an older text is still being written under its name.
bool LastResortBackup::write() {
  std::lock_guard lock(mutex_);
  if (!owner_) return false;
  owner_ = false;
  QByteArray bytes;
  if (!keep_ || encodeText(text_, encoding_.encoding, bytes)) {
    QFile::remove(path_);
    return false;
  }
  if (encoding_.byteOrderMark) bytes.prepend(UTF8_BYTE_ORDER_MARK);
  return writeBackupFile(path_, bytes);  // a failed write leaves the previous backup
}
