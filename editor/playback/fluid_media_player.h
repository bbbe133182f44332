// The editor's media player: FluidSynth plays the MIDI file through the first audio output that
// opens, and the file's own tempo map turns the synthesizer's ticks into milliseconds.
//
// One synthesizer with the SoundFont loaded and one audio output live from the first play() to
// the destruction; each play request gets a fresh FluidSynth file player. Every output renders
// the synthesizer under one lock, which the user-interface thread also takes to start, stop and
// delete file players, so nothing is changed while a block of audio is being rendered.
#pragma once

#include <fluidsynth.h>

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

#include "editor/editor_services.h"
#include "editor/playback/midi_tempo_map.h"

class FluidAudioOutput;

class FluidMediaPlayer : public QObject, public MediaPlayer {
  Q_OBJECT

 public:
  enum class Output {
    PulseAudio,  // the desktop's sound server (PipeWire answers as PulseAudio too)
    Alsa,        // the sound card's default device
    Sdl2,        // whatever SDL2 finds (PipeWire, PulseAudio, ALSA...), when built with SDL2
    Silent,      // no device: our own thread renders in real time and throws the sound away
    Offline,     // no device and no thread: nothing plays until renderOffline() is called
  };
  static std::vector<Output> defaultOutputs();  // PulseAudio, Alsa, Sdl2, Silent
  static QString defaultSoundFont();

  // `outputs` are tried in order at the first play() until one opens.
  explicit FluidMediaPlayer(std::vector<Output> outputs = defaultOutputs(),
                            QString soundFont = defaultSoundFont(), QObject* parent = nullptr);
  ~FluidMediaPlayer() override;

  void close() override;
  bool open(const QString& path, QString* error) override;
  int64_t lengthMs() const override;
  int64_t positionMs() const override;
  void seek(int64_t positionMs) override;
  bool play(QString* error) override;
  bool silent() const override;

  // The output in use; meaningful once play() has succeeded.
  Output output() const { return outputKind_; }
  const MidiTempoMap& tempoMap() const { return map_; }

  // Offline output only: renders `frames` frames at the synthesizer's rate on the calling thread,
  // as a sound card would ask for them, and throws them away.
  void renderOffline(int frames);

  // Called by the output for each block of audio: writes `frames` frames (each channel's samples
  // `step` floats apart) and tells whether a play request is running.
  bool render(int frames, float* left, float* right, int step);

 private:
  bool startEngine(QString* error);
  bool openOutput(QString* error);
  bool startRequest(QString* error);
  void reportEndLocked();
  void endRequest(uint64_t request);
  void interruptLocked();
  void stopFilePlayerLocked();
  int64_t positionLocked() const;
  void postNotify();

  const std::vector<Output> outputs_;
  const QString soundFont_;

  // Owned by the user-interface thread.
  bool fileOpen_ = false;
  std::vector<uint8_t> file_;  // the open file's bytes; each file player reads its own copy
  MidiTempoMap map_;
  fluid_settings_t* settings_ = nullptr;
  std::unique_ptr<FluidAudioOutput> audio_;
  Output outputKind_ = Output::Silent;

  // Guarded by mutex_: shared with the output's thread.
  mutable std::mutex mutex_;
  fluid_synth_t* synth_ = nullptr;
  fluid_player_t* filePlayer_ = nullptr;
  bool playing_ = false;           // a play request is running
  uint64_t request_ = 0;           // counts play requests; a finished one's end report is stale
  bool endReported_ = false;       // the running request's end is on its way to endRequest()
  int64_t endTick_ = 0;            // the song's end, copied for the output's thread
  int64_t stoppedPositionMs_ = 0;  // the position while no request runs
};
