// The audio export beside the main window: at most one rendering at a time with its progress
// dialog, cancelled and waited for on every path that ends the window. The window's export
// commands (make MIDI file, WAV/FLAC, compiled data) ask it whether one runs, start one, and
// show what it reports.
#pragma once

#include <QString>
#include <functional>

#include "editor/playback/audio_export.h"

class AudioExportWatch;
class QWidget;

class ExportCommands {
 public:
  // `window` parents the progress dialog.
  explicit ExportCommands(QWidget& window) : window_(window) {}

  bool exporting() const { return watch_ != nullptr; }
  // Starts rendering `request`; `finished` gets the result and the file named once it ended
  // (not after a cancel).
  using Finished = std::function<void(const AudioExportResult&, const QString&)>;
  void start(AudioExportRequest request, Finished finished);
  // Cancels the running export; `then` runs once it has cleaned up.
  void cancelThen(std::function<void()> then);

 private:
  void release();

  QWidget& window_;
  AudioExportWatch* watch_ = nullptr;
};
