// The names the roll's keyboard shows: the octave name of each C (middle C, MIDI note 60, is
// "C4", the score's o3 c) and the General MIDI percussion names of the drum channel's keys
// (core/pitch_names.h).
#pragma once

#include <QString>

#include "core/pitch_names.h"

inline constexpr int MIDI_KEY_COUNT = 128;

// True for the keys a piano has black.
bool isBlackKey(int key);
// "C4" for 60, "C-1" for 0; keys other than a C have no name here (empty).
QString octaveName(int key);
