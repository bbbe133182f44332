// The editor's additional settings: what the fixed 512-byte tarvik32.cfg image has no room for,
// kept in an INI file of its own (the recently used scores, the sound, the toggles of the Run
// menu, the MIDI import's transcription choice). A missing, unreadable or malformed file reads as
// the defaults and is never reported; the file is written only when what it holds changes. Whatever
// the file holds, reading and writing it take a bounded time: only a regular file of at most
// ADDITIONAL_SETTINGS_MAX_BYTES is read or written (a write reads the file first), and every value
// is bounded.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

#include "editor/sound/channel_mix.h"
#include "editor/sound/sound_settings.h"

inline constexpr int RECENT_FILES_MAX = 10;  // entries of the recent-files menu
// A larger file reads as the defaults and is left as it is: the recent files and the sound fill
// a few kilobytes.
inline constexpr qint64 ADDITIONAL_SETTINGS_MAX_BYTES = 1 << 20;
// A longer text (a path, an output name) reads as its default: PATH_MAX on Linux.
inline constexpr qsizetype ADDITIONAL_SETTING_TEXT_MAX = 4096;

// "$XDG_CONFIG_HOME/tarvik32/tarvik32.conf"; ~/.config stands for an unset XDG_CONFIG_HOME.
QString additionalSettingsFilePath();

// True when both names lead to the same file: their canonical paths are equal, or, for names
// of files that are gone, their cleaned absolute paths.
bool sameFile(const QString& a, const QString& b);

// The playing toggles of the Run menu.
struct PlaybackOptions {
  bool followScore = true;  // mark what sounds while playing
  bool keepPlace = false;   // a recompilation during playback goes on where it was
  bool operator==(const PlaybackOptions&) const = default;
};

// The piano roll panel: whether it is shown, where (docked at a side of the window, or floating
// with its own geometry), its size, its zoom and grid, and the channels its legend mutes and
// solos.
struct RollSettings {
  enum class Place { Bottom, Left, Right, Top, Floating };
  static constexpr int EXTENT_MAX = 20000;  // pixels of a size or a position, either way
  static constexpr double TICKS_PER_PIXEL_MIN = 0.25;
  static constexpr double TICKS_PER_PIXEL_MAX = 200000;
  static constexpr int ROW_HEIGHT_MIN = 3;
  static constexpr int ROW_HEIGHT_MAX = 24;
  static constexpr int GRID_COUNT = 8;  // PianoRoll's grids: 1/4 .. 1/32, then their triplets

  bool shown = false;
  Place place = Place::Bottom;
  QRect geometry;  // floating: the window's; docked: only the size counts; empty: not set
  double ticksPerPixel = 8;
  int rowHeight = 8;
  int grid = 2;  // 1/16
  ChannelMix mix;
  bool operator==(const RollSettings&) const = default;
};

// The transcription choices of the MIDI import as the user last confirmed them: a grid that
// onsets and ends are snapped to (a note value of a whole note, 4 to 32, or 0 for none; with
// `triplets`, that value's triplets) and whether changes of one velocity level are absorbed.
struct MidiImportChoice {
  static constexpr int GRID_VALUES[] = {4, 8, 16, 32};  // the note values offered, 1/4 .. 1/32
  int grid = 0;
  bool triplets = false;
  bool steadyVelocity = false;
  bool operator==(const MidiImportChoice&) const = default;
};

class AdditionalSettings {
 public:
  // Reads the file at path; an empty path keeps the settings for this run only.
  explicit AdditionalSettings(QString path);

  const QString& path() const { return path_; }

  // The line for the message pane when something other than a regular file (a named pipe, a
  // folder, a device) or a file larger than ADDITIONAL_SETTINGS_MAX_BYTES stands at the path:
  // it is neither read nor written, and every write reports failure. Given once per run, as
  // soon as a read or a write met such a file: later calls return nothing.
  std::optional<QString> takeNotice();

  // The recently opened or saved scores, most recent first, at most RECENT_FILES_MAX.
  const QStringList& recentFiles() const { return recentFiles_; }
  // Puts path first (as an absolute path), dropping an earlier entry of the same file and the
  // entries beyond the limit, and writes the file. False when the file could not be written;
  // the list is changed all the same.
  bool addRecentFile(const QString& path);
  // Drops the entries of path's file and writes the file when there were any.
  bool removeRecentFile(const QString& path);

  // Values out of range read as their defaults, as do a relative SoundFont path, a text longer
  // than ADDITIONAL_SETTING_TEXT_MAX and a switch that is neither "true" nor "false"; an unknown
  // output name is kept (the player falls back and says so). Settings equal to the defaults are not
  // written to the file.
  const SoundSettings& sound() const { return sound_; }
  // Keeps the new sound settings and writes the file; false when it could not be written.
  bool setSound(const SoundSettings& sound);

  const PlaybackOptions& playback() const { return playback_; }
  // Keeps the toggles and writes the file; false when it could not be written.
  bool setPlayback(const PlaybackOptions& playback);

  // The check as you type as the user last switched it; nothing until the user switches it.
  std::optional<bool> checkAsYouType() const { return checkAsYouType_; }
  // Keeps the user's choice and writes the file; false when it could not be written.
  bool setCheckAsYouType(bool on);
  const RollSettings& roll() const { return roll_; }
  // Keeps the panel's state and writes the file; false when it could not be written.
  bool setRoll(const RollSettings& roll);

  // A grid not offered reads as none.
  const MidiImportChoice& midiImport() const { return midiImport_; }
  // Keeps the choice and writes the file; false when it could not be written.
  bool setMidiImport(const MidiImportChoice& choice);

 private:
  void read();
  bool write();
  // False, noting why for takeNotice(), when something other than a regular file, or a file
  // over the bound, is at the path.
  bool usableOrAbsent();

  QString path_;
  std::optional<QString> noticeDue_;
  bool noticeGiven_ = false;
  QStringList recentFiles_;
  SoundSettings sound_;
  PlaybackOptions playback_;
  std::optional<bool> checkAsYouType_;
  RollSettings roll_;
  MidiImportChoice midiImport_;
};
