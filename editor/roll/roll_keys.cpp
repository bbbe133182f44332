#include "editor/roll/roll_keys.h"

namespace {

constexpr int SEMITONES = 12;
constexpr bool BLACK[SEMITONES] = {false, true,  false, true,  false, false,
                                   true,  false, true,  false, true,  false};

}  // namespace

bool isBlackKey(int key) {
  return key >= 0 && BLACK[key % SEMITONES];
}

QString octaveName(int key) {
  if (key < 0 || key % SEMITONES != 0) return QString();
  return QString::fromStdString(pitchName(key));
}
