#include "core/pitch_names.h"

namespace {

constexpr int SEMITONES = 12;
constexpr const char* NAMES[SEMITONES] = {"C",  "C#", "D",  "D#", "E",  "F",
                                          "F#", "G",  "G#", "A",  "A#", "B"};

constexpr int FIRST_DRUM_KEY = 35;
// General MIDI level 1 percussion, keys 35 to 81; order follows the keys.
constexpr const char* DRUM_NAMES[] = {"Acoustic Bass Drum",
                                      "Bass Drum 1",
                                      "Side Stick",
                                      "Acoustic Snare",
                                      "Hand Clap",
                                      "Electric Snare",
                                      "Low Floor Tom",
                                      "Closed Hi-Hat",
                                      "High Floor Tom",
                                      "Pedal Hi-Hat",
                                      "Low Tom",
                                      "Open Hi-Hat",
                                      "Low-Mid Tom",
                                      "Hi-Mid Tom",
                                      "Crash Cymbal 1",
                                      "High Tom",
                                      "Ride Cymbal 1",
                                      "Chinese Cymbal",
                                      "Ride Bell",
                                      "Tambourine",
                                      "Splash Cymbal",
                                      "Cowbell",
                                      "Crash Cymbal 2",
                                      "Vibraslap",
                                      "Ride Cymbal 2",
                                      "Hi Bongo",
                                      "Low Bongo",
                                      "Mute Hi Conga",
                                      "Open Hi Conga",
                                      "Low Conga",
                                      "High Timbale",
                                      "Low Timbale",
                                      "High Agogo",
                                      "Low Agogo",
                                      "Cabasa",
                                      "Maracas",
                                      "Short Whistle",
                                      "Long Whistle",
                                      "Short Guiro",
                                      "Long Guiro",
                                      "Claves",
                                      "Hi Wood Block",
                                      "Low Wood Block",
                                      "Mute Cuica",
                                      "Open Cuica",
                                      "Mute Triangle",
                                      "Open Triangle"};
constexpr int DRUM_COUNT = sizeof(DRUM_NAMES) / sizeof(DRUM_NAMES[0]);

}  // namespace

std::string pitchName(int key) {
  if (key < 0 || key > 127) return std::string();
  return NAMES[key % SEMITONES] + std::to_string(key / SEMITONES - 1);
}

const char* drumName(int key) {
  const int index = key - FIRST_DRUM_KEY;
  return index >= 0 && index < DRUM_COUNT ? DRUM_NAMES[index] : nullptr;
}
