#include "editor/roll/roll_keys.h"

namespace {

constexpr int SEMITONES = 12;
constexpr int MIDDLE_C = 60;
constexpr int MIDDLE_C_OCTAVE = 4;
constexpr bool BLACK[SEMITONES] = {false, true,  false, true,  false, false,
                                   true,  false, true,  false, true,  false};

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

bool isBlackKey(int key) {
  return key >= 0 && BLACK[key % SEMITONES];
}

QString octaveName(int key) {
  if (key < 0 || key % SEMITONES != 0) return QString();
  return QString("C%1").arg(key / SEMITONES - MIDDLE_C / SEMITONES + MIDDLE_C_OCTAVE);
}

const char* drumName(int key) {
  const int index = key - FIRST_DRUM_KEY;
  return index >= 0 && index < DRUM_COUNT ? DRUM_NAMES[index] : nullptr;
}
