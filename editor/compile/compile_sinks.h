// What a compilation needs from the window: where its report goes, and the targets it can
// write.
#pragma once

#include <QString>
#include <functional>

#include "editor/editor_services.h"

// Where a compilation's output goes.
enum class CompileTarget {
  Play,          // a new temporary ".mid" file, which playback plays and deletes
  MidiFile,      // the ".mid" beside the score, replaced whole
  CompiledData,  // the compiled-data image in memory, saved afterwards under a name the user picks
  MidiImage,     // the MIDI file kept in memory, for the audio export
};

// What the compilation reports to the window.
struct CompileSinks {
  std::function<void(const QString&)> message;         // a line in the message pane
  std::function<void(const QString&, BoxIcon)> alert;  // a box with no caption
  std::function<void(bool)> autoPanChanged;            // op(autolr) / op(manulr)
};
