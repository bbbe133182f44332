// The automatic-backup file "!!tarvik32.tmp", which is also the editor's single-instance lock:
// the instance that owns it holds an advisory exclusive flock on it for its whole run. It lives
// in the user's own state folder (mode 0700), so "already running" means this user's other
// instance and no other user can read, plant or lock it. The file is made with mode 0600 and
// never opened through a symbolic link.
#pragma once

#include <QByteArray>
#include <QString>

// "$XDG_STATE_HOME/tarvik32/!!tarvik32.tmp", by default under "~/.local/state".
QString userBackupFilePath();

// Replaces the backup file at `path` with `bytes`, whole or not at all; a link at its name is
// replaced, never followed. Any thread.
bool writeBackupFile(const QString& path, const QByteArray& bytes);

class BackupLock {
 public:
  explicit BackupLock(QString path);
  ~BackupLock();
  BackupLock(const BackupLock&) = delete;
  BackupLock& operator=(const BackupLock&) = delete;

  const QString& path() const { return path_; }
  // Creates the file's folder, and any missing folder above it, with mode 0700.
  bool prepareFolder() const;
  bool exists() const;
  bool isEmpty() const;  // exists and holds no byte
  // The file exists as a regular file and nobody holds its lock (a left-over of a run that did
  // not end normally).
  bool openable() const;
  // Creates the file empty (or truncates it); false when that fails.
  bool createEmpty() const;
  // Opens the file and takes the exclusive lock, kept until release(); false when either fails.
  bool acquire();
  void release();
  bool held() const { return fd_ >= 0; }
  // Replaces the file's content with `bytes`; the lock must not be held by this instance.
  bool write(const QByteArray& bytes) const;
  bool remove() const;

 private:
  QString path_;
  int fd_ = -1;
};
