// The MIDI file command: a score's file on disk compiled by tarvk32c's own program function,
// after the checks the editor makes on a file a user names, with its outcome as a value that
// the server puts into words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/diagnostic.h"
#include "lsp/score_text.h"

struct MakeMidiOutcome {
  enum Kind {
    WRITTEN,      // the MIDI file is written
    NOT_OPENED,   // the score's file cannot be opened; `reason` says why
    NOT_REGULAR,  // the name is no regular file (a pipe, a device, a folder): not compiled
    OVERWRITES,   // the MIDI file's name reaches the score's own file: not compiled
    FAILED,       // tarvk32c stopped without writing
    UNSAVED,      // the file differs from the text the client holds: not compiled
  };
  Kind kind = FAILED;
  std::string output;   // the MIDI file's name
  int exitStatus = 1;   // tarvk32c's, or the one it gives a score it refuses
  std::string console;  // tarvk32c's console text (WRITTEN, FAILED)
  // FAILED: the error that stopped it, as tarvk32c's compilation gave it; nothing when it
  // stopped before compiling.
  std::optional<Diagnostic> failure;
  // NOT_OPENED: the system's text; FAILED: why the MIDI file could not be opened or written
  // ("is a folder", the system's text), empty when the output was not the problem.
  std::string reason;
};

// Runs the command on the score at `path`. Nothing is read from a file that is not regular, so
// a named pipe cannot hold the server. `open`: the score's text as the client holds it, or
// nullptr when the client does not have it open; a file that does not hold it is not compiled,
// so that the MIDI file never comes from other notes than the ones the user sees.
MakeMidiOutcome makeMidiFile(const std::string& path, const ScoreText* open);
