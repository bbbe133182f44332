// Compile and play beside the main window: the temporary MIDI file a compilation writes, the
// controller that plays and deletes it, the Run menu's items that shape a play (run, loop,
// follow the score, keep the place on recompiling) and the commands: compile, compile and play
// from the start, the caret or a time, stop, and the score marked as it sounds. The compile
// controller compiles, the playback controller plays; these commands sequence them and show
// what they report.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "editor/compile/compile_controller.h"
#include "editor/document/temporary_midi_file.h"
#include "editor/playback/playback_controller.h"

class AdditionalSettings;
class CheckAsYouType;
class CommandWindow;
class FileCommands;
class QAction;
class RollLink;
class ScoreDocument;
class ScoreView;
class TForm2;
struct OutputFallback;
struct PlaybackOptions;

class PlaybackCommands {
 public:
  // The Run menu's items this holds; the window's table makes them.
  struct Actions {
    QAction* run = nullptr;          // compile and play
    QAction* loop = nullptr;         // the play loop
    QAction* followScore = nullptr;  // mark what sounds
    QAction* keepPlace = nullptr;    // a recompilation goes on where the play was
  };
  PlaybackCommands(MediaPlayer& player, const QString& tempDir, Actions actions);

  // What the commands use; the window hands it over once its rooms exist, before any command.
  struct Rooms {
    ScoreDocument& document;
    ScoreView& view;
    CompileController& compiler;
    AdditionalSettings& settings;
    CheckAsYouType& check;  // told of each compilation
    RollLink& roll;         // draws each compilation
    TForm2& playerWindow;   // follows the play
    CommandWindow& window;
    FileCommands& files;  // the automatic save before a compilation
  };
  void attach(const Rooms& rooms);

  TemporaryMidiFile& temporaryMidi() { return temporaryMidi_; }
  PlaybackController& controller() { return controller_; }
  const Actions& actions() const { return actions_; }

  // One compilation of the editor text into the message pane; a score error is marked where the
  // failing command stands.
  CompileResult compile(CompileTarget target);
  // Where compile and play starts: at the song's start (or, with the place kept, where the
  // playback it replaces was), at the caret's time, or at a given time.
  enum class PlayFrom { Start, Caret, Time };
  // Compile and play, or with another target the compilation the make-MIDI command and the
  // audio export run.
  CompileResult compileAndPlay(CompileTarget target, PlayFrom from = PlayFrom::Start,
                               int64_t fromMs = 0);
  void run() { compileAndPlay(CompileTarget::Play); }
  void playFromCaret() { compileAndPlay(CompileTarget::Play, PlayFrom::Caret); }
  void playFromTime(int64_t ms) { compileAndPlay(CompileTarget::Play, PlayFrom::Time, ms); }
  void stop();
  void deleteTemporaryFile();
  // The player window closed: the play ends and may be started again.
  void playerWindowClosed();
  // At each refresh of the player window: marks what sounds.
  void followScore();
  // The chosen audio output did not open and the player took another.
  void outputFellBack(const OutputFallback& fallback);

  bool loopOn() const;
  // Where a compile and play that replaces the running play starts: the running play's place
  // when the place is kept, else the song's start (0).
  int64_t keptPlaceMs() const;
  // Whether what sounds is marked now.
  bool followingScore() const;
  PlaybackOptions options() const;
  void showOptions(const PlaybackOptions& options);
  // True only the first time: a play without an audio device is noted once a run.
  bool takeSilentNotice();

 private:
  void start(int64_t startMs);
  void started(const PlaybackStart& started);
  void storeOptions();

  TemporaryMidiFile temporaryMidi_;  // outlives the controller, which deletes it
  PlaybackController controller_;
  const Actions actions_;
  bool silentNoticeShown_ = false;
  std::optional<Rooms> rooms_;
};
