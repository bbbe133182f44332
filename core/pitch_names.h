// The names every program gives a MIDI key: scientific pitch names, with middle C (MIDI key 60,
// the score's o3 c) as "C4", and the General MIDI percussion names of the drum channel's keys.
// The roll's keyboard and the language server's hover use the same names.
#pragma once

#include <string>

// "C4" for 60, "C#4" for 61, "C-1" for 0; empty outside 0..127.
std::string pitchName(int key);
// The General MIDI percussion sound on `key` (35 to 81), or nullptr.
const char* drumName(int key);
