// How the editor makes sound: the settings that playing and the audio export use, and what the
// player offers the sound page to choose from. The playback room plays with them, the settings
// room keeps and edits them; neither knows the other.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// How the editor makes sound, for playing and for the audio export. The defaults are what the
// editor did before the sound could be chosen.
struct SoundSettings {
  static constexpr double GAIN_MIN = 0.0;
  static constexpr double GAIN_MAX = 10.0;  // FluidSynth's range of synth.gain
  static constexpr double GAIN_DEFAULT = 0.2;

  QString soundFont{};    // an .sf2/.sf3 file; empty: Debian's General MIDI SoundFont
  QString audioOutput{};  // empty: automatic; else a FluidSynth driver name ("pulseaudio", "alsa",
                          // "jack", "sdl2")
  bool reverb = true;
  bool chorus = true;
  double gain = GAIN_DEFAULT;

  bool operator==(const SoundSettings&) const = default;
};

// What the player offers to choose from: the output names a user may pick besides the automatic
// list (in the order shown), the SoundFont that plays when none is chosen, and the checks of a
// chosen SoundFont. soundFontFileProblem looks at the file without reading it (an empty text when
// it may be loaded, else why not); checkSoundFont loads it away from the calling thread and calls
// `done` later on that thread with an empty text when the player loads it, else the player's
// reason.
struct SoundChoices {
  using CheckDone = std::function<void(const QString& problem)>;

  QStringList outputs;
  QString defaultSoundFont;
  std::function<QString(const QString& path)> soundFontFileProblem;
  std::function<void(const QString& path, CheckDone done)> checkSoundFont;
};
