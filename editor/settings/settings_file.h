// The editor's settings file: a fixed 512-byte image of the start-up switches and the default
// gate choice, kept beside the program or, for an installed program, in the user's
// configuration folder.
#pragma once

#include <QString>
#include <cstdint>

// The stored start-up switches. They act once, when the main window starts (font size 0 small,
// 1 medium, 2 large); the live toggles they switch on change independently afterwards.
struct StartupSettings {
  bool AutoSaveAtStart = false;
  bool PlayLoopAtStart = false;
  bool LineNumbersAtStart = false;
  bool MaximizedAtStart = false;
  bool AutoPanAtStart = false;
  int32_t FontSizeIndex = 0;
  bool operator==(const StartupSettings&) const = default;
};

// The settings file of the program at programPath: beside it, with the program's extension
// replaced by ".cfg", when that folder is writable; otherwise "tarvik32.cfg" in the user's
// configuration folder, which saveSettings creates when needed.
QString settingsFilePath(const QString& programPath);

enum class SettingsLoad {
  Loaded,        // read and accepted
  Unreadable,    // missing, not a regular file, or a read error
  WrongVersion,  // its magic is not this program's
};

// The box a file of another version is met with.
inline constexpr char SETTINGS_WRONG_VERSION_TEXT[] = "tarvik32.cfgのバージョンが非対応形式";
// The box a save that could not be written is met with.
inline constexpr char SETTINGS_CANNOT_WRITE_TEXT[] = "cfgを開けません\n設定変更は保存不可";

// Reads the file at path into settings and q7Default; both stay untouched unless it was
// Loaded. A file shorter than 512 bytes reads as if padded with zero bytes.
SettingsLoad loadSettings(const QString& path, StartupSettings& settings, bool& q7Default);

// Writes the file at path whole (or not at all), creating its folder if needed; false when it
// could not be written, and an earlier file then stays as it was.
bool saveSettings(const QString& path, const StartupSettings& settings, bool q7Default);
