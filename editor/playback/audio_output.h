// The seam between the media player and a sound device: an audio output asks the player for
// blocks of sound on its own schedule, and a factory opens one. The player tries the output the
// user chose, if any, then a list of factories in order, and keeps the first output that opens;
// the program's list is in audio_outputs.h, tests bring their own.
#pragma once

#include <fluidsynth.h>

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// What an output plays: the player's synthesizer, one block at a time.
class AudioRenderer {
 public:
  // Writes `frames` frames of stereo sound, each channel's samples `step` floats apart, and
  // tells whether a play request is running (an output may sleep while none does). Called on
  // the output's own thread, or on the thread that drives an output without one.
  virtual bool render(int frames, float* left, float* right, int step) = 0;

 protected:
  ~AudioRenderer() = default;
};

// An open output. It may call render() from the moment it is created until its destructor has
// returned, never after.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual void wake() {}                         // a play request has started
  virtual bool silent() const { return false; }  // plays without a device: nothing is heard
};

// What a factory opens an output for.
struct AudioOutputTarget {
  AudioRenderer& renderer;
  fluid_settings_t* settings;  // the synthesizer's; FluidSynth's drivers read their format here
  double sampleRate;
};

// The output a factory opened, or why it could not.
struct OpenedOutput {
  std::unique_ptr<AudioOutput> output;  // null when the factory failed
  QString failure;                      // then: the reason, in the library's words
};

class AudioOutputFactory {
 public:
  virtual ~AudioOutputFactory() = default;
  // A short lower-case name ("alsa") for the player's messages and for telling which output
  // is in use.
  virtual QString name() const = 0;
  // Opens an output that renders from `target.renderer`. The target outlives the output.
  virtual OpenedOutput create(const AudioOutputTarget& target) = 0;
};

using AudioOutputFactories = std::vector<std::unique_ptr<AudioOutputFactory>>;
// Makes the factory of an output chosen by name; null when there is no such output.
using AudioOutputByName = std::function<std::unique_ptr<AudioOutputFactory>(const QString& name)>;
