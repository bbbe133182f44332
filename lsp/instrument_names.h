// The names of what a MIDI program and a drum key sound like, in the server's two languages:
// the General MIDI level 1 instruments by program number and its percussion by key. The
// English percussion names are the core's (core/pitch_names.h), which the roll shows too.
#pragma once

#include "lsp/score_analysis.h"

inline constexpr int GM_PROGRAM_COUNT = 128;

// The instrument of program `program` (0 to 127, as the score's @ counts), or nullptr.
const char* programName(int program, Language language);
// The percussion sound on MIDI key `key` of the drum channel, or nullptr.
const char* drumSoundName(int key, Language language);
