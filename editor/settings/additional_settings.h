// The editor's additional settings: what the fixed 512-byte tarvik32.cfg image has no room for,
// kept in an INI file of its own (today the recently used scores). A missing, unreadable or
// malformed file reads as the defaults and is never reported; the file is written only when
// what it holds changes.
#pragma once

#include <QString>
#include <QStringList>

inline constexpr int RECENT_FILES_MAX = 10;  // entries of the recent-files menu

// "$XDG_CONFIG_HOME/tarvik32/tarvik32.conf"; ~/.config stands for an unset XDG_CONFIG_HOME.
QString additionalSettingsFilePath();

// True when both names lead to the same file: their canonical paths are equal, or, for names
// of files that are gone, their cleaned absolute paths.
bool sameFile(const QString& a, const QString& b);

class AdditionalSettings {
 public:
  // Reads the file at path; an empty path keeps the settings for this run only.
  explicit AdditionalSettings(QString path);

  // The recently opened or saved scores, most recent first, at most RECENT_FILES_MAX.
  const QStringList& recentFiles() const { return recentFiles_; }
  // Puts path first (as an absolute path), dropping an earlier entry of the same file and the
  // entries beyond the limit, and writes the file. False when the file could not be written;
  // the list is changed all the same.
  bool addRecentFile(const QString& path);
  // Drops the entries of path's file and writes the file when there were any.
  bool removeRecentFile(const QString& path);

 private:
  void read();
  bool write() const;

  QString path_;
  QStringList recentFiles_;
};
