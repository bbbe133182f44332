// The audio outputs the program tries, in this order: the desktop's sound server through
// FluidSynth's PulseAudio driver (PipeWire answers as PulseAudio too), the sound card's default
// device through FluidSynth's ALSA driver, whatever SDL2 finds when the program is built with it,
// and last a silent output that needs no device and always opens.
#pragma once

#include <memory>

#include "editor/playback/audio_output.h"

AudioOutputFactories defaultAudioOutputs();

// No device: a thread of its own renders in real time and throws the sound away.
std::unique_ptr<AudioOutputFactory> silentAudioOutput();
