// The File menu's export commands beside the main window: the standard MIDI file beside the
// score, the compiled-data file, and the WAV/FLAC export with at most one rendering at a time
// and its progress dialog, cancelled and waited for on every path that ends the window.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "editor/playback/audio_export.h"

class AdditionalSettings;
class AudioExportWatch;
class CommandWindow;
class CompileController;
class EditorServices;
class PlaybackCommands;
class QWidget;
class ScoreDocument;
class TForm2;

class ExportCommands {
 public:
  // `window` parents the progress dialog.
  explicit ExportCommands(QWidget& window) : window_(window) {}

  // What the commands use; the window hands it over once its rooms exist, before any command.
  struct Rooms {
    ScoreDocument& document;
    AdditionalSettings& settings;
    CompileController& compiler;
    EditorServices& services;
    CommandWindow& window;
    PlaybackCommands& playing;  // compiles as compile and play does
    TForm2& playerWindow;       // closed, and the play with it, before an export
  };
  void attach(const Rooms& rooms);

  // The make-MIDI command: the score compiled into the ".mid" file beside it.
  void makeMidiFile();
  // Compiles into the compiled-data image and offers to save it.
  void saveCompiledData();
  // WAV/FLAC export: compiles as the make-MIDI command does, into memory, and starts the
  // rendering into the audio file the user names, watched by a progress dialog that can cancel.
  void exportAudio();

  bool exporting() const { return watch_ != nullptr; }
  // Cancels the running export; `then` runs once it has cleaned up.
  void cancelThen(std::function<void()> then);

 private:
  // Starts rendering `request`; the outcome is shown once it ended (not after a cancel).
  void start(AudioExportRequest request);
  void finished(const AudioExportResult& result, const QString& name);
  void release();
  // The score has a name, which the outputs beside it take; a box says so otherwise.
  bool named();

  QWidget& window_;
  AudioExportWatch* watch_ = nullptr;
  std::optional<Rooms> rooms_;
};
