// The editor's settings file: a fixed 512-byte image of the start-up switches and the default
// gate choice, kept beside the program or, for an installed program, in the user's
// configuration folder.
#pragma once

#include <QString>
#include <cstdint>

class EditorServices;
class QWidget;
class TTarvikOption;

// The stored start-up switches. They act once, when the main window starts (font size 0 small,
// 1 medium, 2 large); the live toggles they switch on change independently afterwards.
struct StartupSettings {
  bool AutoSaveAtStart = false;
  bool PlayLoopAtStart = false;
  bool LineNumbersAtStart = false;
  bool MaximizedAtStart = false;
  bool AutoPanAtStart = false;
  int32_t FontSizeIndex = 0;
};

// The settings file of the program at programPath: beside it, with the program's extension
// replaced by ".cfg", when that folder is writable; otherwise "tarvik32.cfg" in the user's
// configuration folder, which saveSettings creates when needed.
QString settingsFilePath(const QString& programPath);

// Reads the file at path into settings and q7Default. Returns 0 when the file was read and
// accepted. Otherwise returns non-zero and leaves both untouched: silently when the file cannot
// be read, after the version box (shown through services, owned by parent) when its magic is
// wrong. A file shorter than 512 bytes reads as if padded with zero bytes.
int loadSettings(const QString& path, StartupSettings& settings, bool& q7Default,
                 EditorServices& services, QWidget* parent);

// Takes the start-up switches and the gate choice from the dialog's controls into settings and
// q7Default, then writes the file at path whole (a temporary file renamed over it), creating its
// folder if needed. Returns 0, or 1 after the error box when the file could not be written; an
// earlier file then stays as it was, and settings and q7Default keep what the dialog showed.
int saveSettings(TTarvikOption& dialog, const QString& path, StartupSettings& settings,
                 bool& q7Default, EditorServices& services, QWidget* parent);
