// Channel command strings: notes, rests, lengths, tuplets, ties and parameter commands.
#pragma once

#include "core/compile_host.h"

// Value ranges of the commands; each range has its own error code. The lowest of the others is
// 0, their highest EVENT_NOTE_LAST (N), VELOCITY_LEVEL_MAX (V) and BYTE_MAX (':').
inline constexpr int32_t OCTAVE_MAX = 7;
inline constexpr int32_t GATE_MIN = 1;  // Q1..Q8, stored as gate step 0..7
inline constexpr int32_t GATE_MAX = 8;
inline constexpr int32_t TEMPO_MIN = 10;
inline constexpr int32_t TEMPO_MAX = 250;
inline constexpr int32_t PAN_MAX = 127;
inline constexpr int32_t PROGRAM_MAX = 127;
inline constexpr int32_t DURATION_MIN = 1;  // units of an explicit duration ':'

// Parses from lineCursor (just behind the opening quote) through the closing quote.
int32_t parseCommandString(CompileSession& session);

// parseCommandStep()'s result for the closing quote.
inline constexpr int32_t COMMAND_STRING_CLOSED = 0x7fffffff;

// One command of a command string at lineCursor, read as parseCommandString() reads it, the
// cursor moved past what was read: 0 to go on, COMMAND_STRING_CLOSED after the closing quote,
// else the error code that would stop the compilation. For display (core/line_highlighter.h).
int32_t parseCommandStep(CompileSession& session);

// Up to five digits at the cursor; -1 when there is none; values above 65535 read as 65535.
int32_t readNumber(CompileSession& session);

// readNumber() limited to a byte: false when above 255; a missing number yields 255.
bool readByteNumber(CompileSession& session, int32_t& value);

// A note value (1, 2, 4, ... 128) with an optional dot as a length index, or -1 when invalid.
int32_t readLength(CompileSession& session);

// readLength(), falling back to the open channel's default length; -1 with no open channel.
int32_t readLengthOrDefault(CompileSession& session);

// The `{` command (cursor behind the brace); 0 or -1.
int32_t parseTuplet(CompileSession& session);
