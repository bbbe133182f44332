// Source lines and line kinds: the two line readers, the line-item classifier and channel blocks.
#pragma once

#include "core/compile_host.h"

// A line keyword and the kind of item it starts. Matching is case-sensitive over the keyword's
// own length. What a match does follows from the kind: "//" ends the line (KIND_END_OF_LINE),
// "ch" needs a digit 1..9 behind it, "/*" opens and "*/" closes a block comment; the others
// are items the driver acts on.
struct LineKeyword {
  const char* text;
  int32_t length;
  LineKind kind;
};

// Searched in this order.
inline constexpr LineKeyword LINE_KEYWORDS[] = {
    {"//", 2, KIND_END_OF_LINE}, {"ch", 2, KIND_CHANNEL_NAME},
    {"{", 1, KIND_BLOCK_OPEN},   {"\"", 1, KIND_COMMAND_STRING},
    {"}", 1, KIND_BLOCK_CLOSE},  {"/*", 2, KIND_COMMENT},
    {"*/", 2, KIND_COMMENT_END}, {"op", 2, KIND_OP},
    {"cr", 2, KIND_CR},          {"sn", 2, KIND_SN},
};

// Fills lineBuffer with the next line (the host's kind chooses the reader) and returns its length:
// > 0 a line, 0 the source is exhausted, -1 a console reading limit (or read error) stopped it.
int32_t readSourceLine(CompileSession& session);

// Classifies the item at lineCursor, moves the cursor past it and returns a LineKind. Inside a
// block comment it runs on to the "*/" that closes it (KIND_COMMENT_END) or to the end of the
// line (KIND_END_OF_LINE), crossing the bytes it only steps over in one go.
int32_t classifyLineItem(CompileSession& session);

// One classifier step, what classifyLineItem() is made of: the same, except that inside a block
// comment it steps over one byte at a time and answers KIND_COMMENT for each.
int32_t classifyLineItemStep(CompileSession& session);

int32_t openChannelBlock(CompileSession& session, int32_t channel);
int32_t closeChannelBlock(CompileSession& session);

// The byte at `index` of the line buffer, 0 at or beyond the scan limit.
inline uint8_t lineByteAt(const CompileSession& session, int32_t index) {
  return index >= 0 && index < LINE_BUFFER_BYTES ? session.lineBuffer[index] : 0;
}
inline uint8_t cursorByte(const CompileSession& session) {
  return lineByteAt(session, session.lineCursor);
}
