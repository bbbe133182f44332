// Where the editor keeps its files; the program derives them from its own path and the user's
// folders, the tests point them into a temporary folder.
#pragma once

#include <QString>

struct EditorPaths {
  QString programPath;   // the running program (the manual and settings sit beside it)
  QString settingsFile;  // "tarvik32.cfg"
  QString backupFile;    // "!!tarvik32.tmp" in the user's state folder
  QString tempDir;       // where compile-and-play writes its temporary ".mid" files
  // "tarvik32.conf", the recently used files; empty: they are kept for the run only.
  QString additionalSettingsFile;
};
