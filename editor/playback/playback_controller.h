// The media player playing compile and play's temporary MIDI file: started, looped at its end,
// stopped. Every path that ends playback deletes the file that was played and no other; the
// destructor does too. A play whose SoundFont
// must be loaded first starts once the player has loaded it, off the user-interface thread.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

#include "editor/document/temporary_midi_file.h"
#include "editor/editor_services.h"

// How a play began.
struct PlaybackStart {
  bool ok = false;
  QString error;  // why no sound can be made
  int64_t lengthMs = 0;
  bool silent = false;   // playing without an audio device
  bool pending = false;  // the SoundFont loads: PlaybackController::started() follows
};

class PlaybackController : public QObject {
  Q_OBJECT
 public:
  // `file` is the temporary file a compilation writes; it outlives the controller.
  PlaybackController(MediaPlayer& player, TemporaryMidiFile& file, QObject* parent = nullptr);
  ~PlaybackController() override;

  MediaPlayer& player() const { return player_; }

  bool hasTemporaryFile() const { return file_.exists(); }
  const QString& playPath() const { return file_.path(); }
  // As TemporaryMidiFile::remove().
  bool deleteTemporaryFile() { return file_.remove(); }

  using Started = PlaybackStart;
  // Plays the temporary file from `startMs` (from its start when that is at or past its end).
  // On failure the player is closed again. When the player must load the SoundFont first, the
  // answer is pending and started() brings the outcome, unless stop() or another play() came
  // before.
  Started play(int64_t startMs = 0);
  // The player closes and the file played is deleted; false as for deleteTemporaryFile().
  bool stop();
  bool isPlaying() const { return playing_; }
  bool isStarting() const { return starting_; }  // a play waits for its SoundFont
  void setLoop(bool on) { loop_ = on; }
  // The media player's notify: a request that reached the song's end starts again when the
  // loop is on, or ends playback (endReached) when it is off.
  void playerNotified();

 Q_SIGNALS:
  void endReached();
  // The outcome of a pending play.
  void started(const PlaybackStart& outcome);

 private:
  Started startOpened();
  void soundPrepared(uint64_t start, const QString& error);

  MediaPlayer& player_;
  TemporaryMidiFile& file_;
  bool playing_ = false;
  bool starting_ = false;
  uint64_t starts_ = 0;  // plays begun; a SoundFont loaded for an older one starts nothing
  bool loop_ = false;
};
