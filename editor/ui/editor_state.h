// The editor's document and run state, shared by every command of the main window.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "core/output_stream.h"

inline constexpr int32_t BACKUP_IDLE_TICKS = 5;        // quiet seconds before a backup
inline constexpr int32_t BACKUP_INTERVAL_TICKS = 180;  // seconds between backups

struct EditorState {
  QString sourcePath;
  QString midiOutputPath;
  QString playPath;
  bool hasFileName = false;
  bool isSaved = true;
  bool midiFileMode = false;
  bool tempMidiExists = false;
  bool compileFailed = false;
  bool closeCancelled = false;
  bool backupActive = false;
  int32_t idleCountdown = BACKUP_IDLE_TICKS;
  int32_t backupCountdown = BACKUP_INTERVAL_TICKS;
  MemoryOutputStream compiledDataStream;  // the compiled-data image of the last output
};

// Where the editor keeps its files; the program derives them from its own path and the
// system's temporary directory, the tests point them into a temporary folder.
struct EditorPaths {
  QString programPath;   // the running program (the manual and settings sit beside it)
  QString settingsFile;  // "tarvik32.cfg"
  QString backupFile;    // "!!tarvik32.tmp" in the temporary directory
  QString tempDir;       // where compile-and-play writes its temporary ".mid" files
};
