// The automatic-backup file "!!tarvik32.tmp" and the editor's single-instance lock beside it,
// "!!tarvik32.lock". The instance that owns the backup holds an exclusive flock on the lock file
// for its whole run. The lock file is never renamed or removed, so each backup can replace the
// backup file whole while the lock stays where a second instance looks for it. Both live in the
// user's own state folder (mode 0700), so "already running" means this user's other instance
// and no other user can read, plant or lock them. They are made with mode 0600 and never opened
// through a symbolic link.
#pragma once

#include <QByteArray>
#include <QString>

// "$XDG_STATE_HOME/tarvik32/!!tarvik32.tmp", by default under "~/.local/state".
QString userBackupFilePath();

// Replaces the backup file at `path` with `bytes`, whole or not at all; a link at its name is
// replaced, never followed. Any thread.
bool writeBackupFile(const QString& path, const QByteArray& bytes);

// What a step did: done, or the path it failed on with the errno.
struct BackupStep {
  QString failedPath;
  int error = 0;
  explicit operator bool() const { return error == 0; }
};

class BackupLock {
 public:
  explicit BackupLock(QString path);
  ~BackupLock();
  BackupLock(const BackupLock&) = delete;
  BackupLock& operator=(const BackupLock&) = delete;

  const QString& path() const { return path_; }
  // The lock file: the backup file's name with the extension ".lock".
  QString lockPath() const;
  // Creates the file's folder, and any missing folder above it, with mode 0700; a failure names
  // the folder that could not be made.
  BackupStep prepareFolder() const;
  bool exists() const;
  bool isEmpty() const;  // exists and holds no byte
  // The backup file is a regular file (not a link to one); otherwise its path with EISDIR, ELOOP
  // or EINVAL.
  BackupStep checkRegular() const;
  // Creates the backup file empty (or truncates it).
  BackupStep createEmpty() const;
  // Opens the lock file, creating it, and takes the exclusive lock, kept until release(). Another
  // holder makes it fail with EWOULDBLOCK.
  BackupStep acquire();
  void release();
  bool held() const { return fd_ >= 0; }
  // Replaces the backup file's content with `bytes`, whole or not at all.
  bool write(const QByteArray& bytes) const;
  bool remove() const;

 private:
  QString path_;
  int fd_ = -1;  // the lock file, locked
};
