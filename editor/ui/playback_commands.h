// Compile and play's lifetime beside the main window: the temporary MIDI file a compilation
// writes, the controller that plays and deletes it, and the Run menu's items that shape a play
// (run, loop, follow the score, keep the place on recompiling). The window's run commands ask
// it and show what it reports.
#pragma once

#include <QString>
#include <cstdint>

#include "editor/document/temporary_midi_file.h"
#include "editor/playback/playback_controller.h"

class QAction;
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

  TemporaryMidiFile& temporaryMidi() { return temporaryMidi_; }
  PlaybackController& controller() { return controller_; }
  const Actions& actions() const { return actions_; }

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
  TemporaryMidiFile temporaryMidi_;  // outlives the controller, which deletes it
  PlaybackController controller_;
  const Actions actions_;
  bool silentNoticeShown_ = false;
};
