// One message of a compilation as a value: what the compiler found, where in the score, and the
// values the message names. The core hands every message it gives to its host this way
// (CompileHost::diagnosed()) besides the report it prints, and each program puts the value into
// words of its own; nobody reads a message's text to learn what happened.
#pragma once

#include <cstdint>

enum class DiagnosticKind : uint8_t { ERROR, WARNING };

// What a diagnostic is about. A score error carries the compiler's error number (ErrorCode in
// core/compile_session.h, also the number the compilation returns); the other messages have
// numbers of their own above those.
enum DiagnosticCode : int32_t {
  DIAGNOSTIC_CHANNEL_FULL = 1001,  // `channel` holds `limit` events: a score error
  DIAGNOSTIC_LONG_LINE,            // warning: the line is read up to `commandStart` bytes
  DIAGNOSTIC_UNENCODABLE,          // `character` has no bytes in the score's encoding
  DIAGNOSTIC_COMPILED_DATA_OVER,   // the compiled-data image passes `limit` bytes
  DIAGNOSTIC_OUTPUT_OPEN,          // the output cannot be opened or put at its name
  DIAGNOSTIC_OUTPUT_WRITE,         // writing the output failed
  DIAGNOSTIC_SOURCE_READ,          // reading the source failed
  DIAGNOSTIC_LINE_TOO_LONG,        // console: a line over `limit` bytes stops the reading
  DIAGNOSTIC_LINE_COUNT_OVER,      // console: the source has more than `limit` lines
  DIAGNOSTIC_OUT_OF_MEMORY,
};

// Positions are bytes of the line as the compiler reads it (code page 932 or UTF-8, without the
// line end). A message about no line has `line` -1.
struct Diagnostic {
  DiagnosticKind kind = DiagnosticKind::ERROR;
  int32_t code = 0;
  int32_t line = -1;         // 0-based index of the line in the source
  int32_t lineNumber = 0;    // the line's number as the report shows it (before the modulus)
  int32_t commandStart = 0;  // the command's first byte
  int32_t commandEnd = 0;    // the byte behind the command, above commandStart
  int32_t pointer = 0;       // the byte under the report's "?"
  int32_t channel = 0;       // 1..9 when the message names a channel, else 0
  int32_t limit = 0;         // the limit the message names, else 0
  char32_t character = 0;    // DIAGNOSTIC_UNENCODABLE: the character
  bool writing = false;      // found while the output was written, once the score was read

  bool error() const { return kind == DiagnosticKind::ERROR; }
};
