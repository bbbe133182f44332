// The audio outputs the program tries, in this order: the desktop's sound server through
// FluidSynth's PulseAudio driver (PipeWire answers as PulseAudio too), the sound card's default
// device through FluidSynth's ALSA driver, whatever SDL2 finds when the program is built with it,
// and last a silent output that needs no device and always opens. And the outputs a user may
// choose by name instead.
#pragma once

#include <QStringList>
#include <memory>

#include "editor/playback/audio_output.h"

AudioOutputFactories defaultAudioOutputs();

// The output of one FluidSynth driver by its name in the "audio.driver" setting ("jack"); SDL2's
// is the program's own when it is built with SDL2. A name FluidSynth does not know gives an
// output that never opens and says why.
std::unique_ptr<AudioOutputFactory> audioOutputNamed(const QString& name);

// The outputs the user may choose instead of the automatic list: those of PulseAudio, ALSA,
// JACK and SDL2, in this order, that FluidSynth on this system was built with.
QStringList selectableAudioOutputs();

// No device: a thread of its own renders in real time and throws the sound away.
std::unique_ptr<AudioOutputFactory> silentAudioOutput();
