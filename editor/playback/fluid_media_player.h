// The editor's media player: FluidSynth plays the MIDI file through the chosen audio output or
// the first of the automatic list that opens, and the file's own tempo map turns the
// synthesizer's ticks into milliseconds.
//
// One synthesizer with the SoundFont loaded and one audio output live from the first play() to
// the destruction, and each play request gets a fresh FluidSynth file player. A play() after
// setSound() changed the SoundFont makes both anew; one that changed only the output makes a new
// output for the same synthesizer; the effects change on the running synthesizer.
//
// Threads. The player belongs to the user-interface thread: the thread it lives on, which is the
// one that made it. Every public call and the destructor run there, onNotify is delivered there,
// and a call from any other thread is a mistake, reported once with qWarning(). The other
// threads are the output's, which calls render() for each block of audio (an output without a
// thread of its own calls it on the thread that drives it), and those of prepareSound(), which
// each load a SoundFont into a synthesizer of their own and hand it over through the event loop.
//
// Locking. render() holds mutex_ for the whole block; the user-interface thread holds it only
// for a few assignments and reads (and may wait for the block in progress to finish). What
// takes time happens outside it: loading the SoundFont (on a thread of its own, or in a play()
// that was not prepared, before any output exists, so nothing renders yet), giving a new file
// player its copy of the file, and deleting a file player with its parsed tracks. Making things
// anew follows the same order backwards: the request is interrupted, then the output is destroyed
// (its thread has stopped rendering when that returns), and only then is the synthesizer deleted.
// The effects are set while the synthesizer is paused (below). FluidSynth parses that copy itself
// in the first block the new file player plays: work of the output's thread, which waits for nobody
// meanwhile.
//
// A file player is more than the pointer filePlayer_: FluidSynth hangs its timer in the
// synthesizer's list, and every block the synthesizer renders runs the timers of all file
// players that exist, whichever one filePlayer_ names. Creating, starting and deleting one
// changes that list, and FluidSynth forbids deleting one while its synthesizer renders. So the
// user-interface thread first sets synthPaused_ under mutex_ (taking the old file player out of
// filePlayer_ in the same step): no block is in progress then, and until synthPaused_ is cleared
// render() writes silence without touching the synthesizer. Unlocked, it deletes the old file
// player, or prepares and starts the new one; then, under mutex_ again, it puts the new one in
// filePlayer_ and clears synthPaused_. The audio thread thus never waits for more than a few
// assignments, and nothing it can reach is freed or changed while it renders. Nothing audible
// is lost to a pause: it falls where the old request's sound is cut anyway, or before the new
// request has begun, whose timing starts with the first block rendered after it.
#pragma once

#include <fluidsynth.h>

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "core/midi_tempo_map.h"
#include "editor/editor_services.h"
#include "editor/playback/audio_output.h"
#include "editor/playback/audio_outputs.h"
#include "editor/playback/channel_gate.h"
#include "editor/playback/sound_font_loader.h"
#include "editor/sound/sound_settings.h"

class FluidMediaPlayer : public QObject, public MediaPlayer, private AudioRenderer {
  Q_OBJECT

 public:
  static QString defaultSoundFont();

  // `outputs` are tried in order at the first play() until one opens; it stays open for every
  // later file. An output chosen in the sound settings is taken from `outputs` when one has its
  // name, else from `byName`, and tried first. `soundFont` plays when the settings name none.
  // `load` loads a SoundFont, on the calling thread in play() and on one of its own for
  // prepareSound().
  explicit FluidMediaPlayer(AudioOutputFactories outputs = defaultAudioOutputs(),
                            QString soundFont = defaultSoundFont(),
                            AudioOutputByName byName = audioOutputNamed,
                            SoundFontLoadFunction load = loadSoundFont, QObject* parent = nullptr);
  ~FluidMediaPlayer() override;

  void close() override;
  bool open(const QString& path, QString* error) override;
  int64_t lengthMs() const override;
  int64_t positionMs() const override;
  void seek(int64_t positionMs) override;
  bool play(QString* error) override;
  bool silent() const override;
  void setSound(const SoundSettings& sound) override;
  void setChannelMix(const ChannelMix& mix) override;
  bool soundReady() const override;
  void prepareSound(std::function<void(const QString& error)> done) override;

  // The name of the output in use (its factory's); empty until play() has opened one.
  QString outputName() const;
  const MidiTempoMap& tempoMap() const;
  // The program the synthesizer's MIDI channel (0..15) plays; -1 before the first play.
  int channelProgram(int channel) const;

 private:
  bool render(int frames, float* left, float* right, int step) override;

  void checkThread(const char* call) const;
  QString soundFontPath(const SoundSettings& sound) const;
  void takeNewSound();
  void closeOutput();
  void closeEngine();
  void applyEffects();
  bool startEngine(QString* error);
  void takeEngine(std::unique_ptr<SynthEngine> engine, const QString& soundFont);
  void soundLoaded(uint64_t load, const QString& soundFont, SoundFontLoad loaded);
  void answerPrepared(const QString& error);
  bool openOutput(QString* error);
  AudioOutputFactory* chosenOutput();
  bool startRequest(QString* error);
  fluid_player_t* newFilePlayer(int64_t startTick, QString* error);
  void applySetup(const MidiChannelSetup& setup);
  void deleteFilePlayer(fluid_player_t* player);
  void retireFilePlayer(fluid_player_t* player);
  void pauseSynth();
  void resumeSynth();
  void reportEndLocked();
  void endRequest(uint64_t request);
  void interrupt();
  fluid_player_t* stopRequestLocked();
  int64_t positionLocked() const;
  void postNotify();

  const AudioOutputFactories outputs_;
  const QString defaultSoundFont_;
  const AudioOutputByName byName_;
  const SoundFontLoadFunction load_;
  SoundFontLoader* loader_ = nullptr;
  mutable std::atomic<bool> warnedOffThread_ = false;

  // Owned by the user-interface thread.
  SoundSettings sound_;       // what setSound() asked for
  SoundSettings built_;       // what the synthesizer and the output in use were made with
  bool retryChosen_ = false;  // setSound() came after the chosen output failed
  std::unique_ptr<AudioOutputFactory> namedOutput_;  // the chosen output's, made by byName_
  bool standIn_ = false;  // the output in use plays instead of the chosen one
  bool fileOpen_ = false;
  // The SoundFont path prepareSound() loads (empty: none), the count of loads begun, whose
  // result is dropped when another has begun since, and the requests waiting for it.
  QString loadingPath_;
  uint64_t loads_ = 0;
  std::vector<std::function<void(const QString&)>> prepared_;
  std::vector<uint8_t> file_;  // the open file's bytes; each file player takes its own copy
  MidiTempoMap map_;
  int64_t stoppedPositionMs_ = 0;  // the position while no request runs
  fluid_settings_t* settings_ = nullptr;
  std::unique_ptr<AudioOutput> audio_;
  QString outputName_;
  // Made before the first output opens and deleted after it has closed; in between the output's
  // thread renders it whenever synthPaused_ is false.
  fluid_synth_t* synth_ = nullptr;
  ChannelGate gate_;  // every file player's events pass it on their way to synth_

  // Guarded by mutex_: shared with the output's thread.
  mutable std::mutex mutex_;
  bool synthPaused_ = false;              // the user-interface thread is changing the file players
  fluid_player_t* filePlayer_ = nullptr;  // the running request's
  bool playing_ = false;                  // a play request is running
  uint64_t request_ = 0;                  // counts play requests; a finished one's end is stale
  bool endReported_ = false;              // the running request's end is on its way to endRequest()
  int64_t endTick_ = 0;                   // the song's end, copied for the output's thread
};

// What this player offers the sound page: the selectable outputs, its default SoundFont and its
// SoundFont checks: the file's kind, and a load on a thread of its own whose answer comes through
// the calling thread's event loop.
SoundChoices fluidSoundChoices();
