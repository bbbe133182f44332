// Source lines and line kinds: the console and editor line readers, the line-item classifier with
// its block-comment fast path, and channel blocks.
#include "core/source_lines.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/diagnostics.h"

namespace {

constexpr uint8_t CR = 13;
constexpr uint8_t LF = 10;
constexpr uint8_t END_OF_TEXT = 26;

int32_t countLine(CompileSession& session, int32_t length) {
  if (session.lineNumber < CONSOLE_LINE_COUNT_MAX) {
    ++session.lineNumber;
    return length;
  }
  session.host->messageLine(
      formatText(textsOf(session).lineCountOver, static_cast<long>(CONSOLE_LINE_COUNT_MAX)));
  diagnose(session, lineFreeDiagnostic(DIAGNOSTIC_LINE_COUNT_OVER, CONSOLE_LINE_COUNT_MAX));
  session.sourceStopped = true;
  return -1;
}

int32_t lineTooLong(CompileSession& session) {
  session.host->messageLine(textsOf(session).lineTooLong);
  Diagnostic tooLong = lineFreeDiagnostic(DIAGNOSTIC_LINE_TOO_LONG, CONSOLE_LINE_MAX);
  tooLong.line = session.lineNumber;  // the line after the last one counted
  tooLong.lineNumber = session.lineNumber + 1;
  diagnose(session, tooLong);
  session.sourceStopped = true;
  return -1;
}

// WIDTH bytes side by side, through the vector extension of GCC and Clang (SSE2 or AVX2
// registers on x86-64, plain code where there is no SIMD).
template <int WIDTH>
struct Lanes {
  typedef uint8_t Bytes __attribute__((vector_size(WIDTH)));
};

// The index of the first lane that is not zero, or WIDTH.
template <int WIDTH>
__attribute__((always_inline)) inline int32_t firstSetLane(
    const typename Lanes<WIDTH>::Bytes& lanes) {
  uint64_t words[WIDTH / 8];
  std::memcpy(words, &lanes, sizeof words);
  for (int32_t k = 0; k < WIDTH / 8; ++k) {
    if (words[k] == 0) continue;
    if constexpr (std::endian::native == std::endian::little) {
      return k * 8 + std::countr_zero(words[k]) / 8;
    }
    for (int32_t lane = k * 8;; ++lane) {
      if (lanes[lane] != 0) return lane;
    }
  }
  return WIDTH;
}

// Copies bytes from `from` to `to` up to the first line feed or byte 26, at most `count` of
// them; the number copied (`count` when none of them ends the line). Writes only to[0, count).
int32_t copyUntilLineEnd(uint8_t* to, const uint8_t* from, int32_t count) {
  using Bytes = Lanes<16>::Bytes;
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    Bytes bytes;
    std::memcpy(&bytes, from + i, sizeof bytes);
    const Bytes ends =
        reinterpret_cast<Bytes>(bytes == LF) | reinterpret_cast<Bytes>(bytes == END_OF_TEXT);
    const int32_t lane = firstSetLane<16>(ends);
    if (lane < 16) {
      std::memcpy(to + i, from + i, static_cast<size_t>(lane));
      return i + lane;
    }
    std::memcpy(to + i, &bytes, sizeof bytes);
  }
  for (; i < count; ++i) {
    if (from[i] == LF || from[i] == END_OF_TEXT) return i;
    to[i] = from[i];
  }
  return count;
}

// Refills the read-ahead; false at the end of the source or on a read error.
bool refill(CompileSession& session) {
  if (session.sourceAtEnd) return false;
  auto& host = static_cast<ConsoleCompileHost&>(*session.host);
  const int32_t n = host.readSource(session.sourceChunk, SOURCE_CHUNK_BYTES);
  if (n <= 0) {
    session.sourceAtEnd = true;
    if (n < 0) session.sourceReadFailed = true;
    return false;
  }
  session.sourceChunkPos = 0;
  session.sourceChunkLength = std::min(n, SOURCE_CHUNK_BYTES);
  return true;
}

// The console reader: byte by byte in effect, a line ending at LF or byte 26. A line feed that
// does not follow a stored carriage return stores one, so LF files read like CR LF files.
int32_t readConsoleLine(CompileSession& session) {
  uint8_t* buffer = session.lineBuffer;
  int32_t length = 0;
  buffer[0] = 0;
  for (;;) {
    if (session.sourceChunkPos >= session.sourceChunkLength && !refill(session)) {
      if (session.sourceReadFailed) return -1;
      buffer[length] = CR;  // the end of the file supplies the terminator, not counted
      buffer[length + 1] = 0;
      session.lineLength = length + 1;
      return countLine(session, length);
    }
    const uint8_t* chunk = session.sourceChunk + session.sourceChunkPos;
    const int32_t available = session.sourceChunkLength - session.sourceChunkPos;
    const int32_t room = CONSOLE_LINE_MAX + 1 - length;  // storing `room` bytes is one too many
    const int32_t span = std::min(available, room);
    const int32_t copied = copyUntilLineEnd(buffer + length, chunk, span);
    const uint8_t* end = chunk + copied;
    length += copied;
    session.sourceChunkPos += copied;
    if (length > CONSOLE_LINE_MAX) return lineTooLong(session);
    if (end == chunk + span) continue;  // no line end in this piece
    ++session.sourceChunkPos;           // the LF or byte 26 is not stored
    if (*end == LF && (length == 0 || buffer[length - 1] != CR)) {
      buffer[length++] = CR;
      if (length > CONSOLE_LINE_MAX) return lineTooLong(session);
    }
    buffer[length] = 0;
    session.lineLength = length;
    return countLine(session, length);
  }
}

int32_t readEditorLine(CompileSession& session) {
  uint8_t* buffer = session.lineBuffer;
  buffer[0] = 0;
  int32_t length = 0;
  session.lineLength = 0;
  auto& host = static_cast<EditorCompileHost&>(*session.host);
  if (session.sourceLineIndex < host.sourceLineCount()) {
    const std::string_view line = host.sourceLine(session.sourceLineIndex);
    const int32_t taken = static_cast<int32_t>(std::min<size_t>(line.size(), EDITOR_LINE_MAX));
    std::memcpy(buffer, line.data(), static_cast<size_t>(taken));
    buffer[taken] = CR;
    buffer[taken + 1] = 0;
    length = taken + 1;
    session.lineLength = length;
    if (line.size() > static_cast<size_t>(EDITOR_LINE_MAX)) {
      // The number is the one this line is about to get; the limit shown is the buffer's.
      session.host->messageLine(formatText(textsOf(session).longLineWarning,
                                           formatLineNumber(session.lineNumber + 1).c_str(),
                                           static_cast<int>(LINE_BUFFER_BYTES)));
      Diagnostic cut;
      cut.kind = DiagnosticKind::WARNING;
      cut.code = DIAGNOSTIC_LONG_LINE;
      cut.line = session.sourceLineIndex;
      cut.lineNumber = session.lineNumber + 1;
      cut.commandStart = EDITOR_LINE_MAX;
      cut.commandEnd = static_cast<int32_t>(std::min<size_t>(line.size(), INT32_MAX));
      cut.pointer = EDITOR_LINE_MAX;
      cut.limit = LINE_BUFFER_BYTES;
      diagnose(session, cut);
    }
  }
  ++session.sourceLineIndex;
  ++session.lineNumber;
  return length;
}

// The classifier's reading of the line buffer: a byte at or beyond the scan limit reads as 0.
inline uint8_t byteAt(const uint8_t* line, int32_t index) {
  return index < LINE_BUFFER_BYTES ? line[index] : 0;
}

__attribute__((always_inline)) inline bool keywordAt(const uint8_t* line, int32_t at,
                                                     const LineKeyword& keyword) {
  for (int32_t i = 0; i < keyword.length; ++i) {
    if (byteAt(line, at + i) != static_cast<uint8_t>(keyword.text[i])) return false;
  }
  return true;
}

// The carriage return ends a line; a line stored without one ends at its terminating NUL
// (a NUL byte inside the line is an ordinary byte here).
__attribute__((always_inline)) inline bool atEndOfLine(const uint8_t* line, int32_t lineLength,
                                                       int32_t at) {
  return byteAt(line, at) == CR || at >= lineLength || at >= LINE_BUFFER_BYTES;
}

// Steps over one byte of a block comment, unless the line ends there.
__attribute__((always_inline)) inline int32_t stepOverCommentByte(const uint8_t* line,
                                                                  int32_t lineLength,
                                                                  int32_t& cursor) {
  if (atEndOfLine(line, lineLength, cursor)) return KIND_END_OF_LINE;
  ++cursor;
  return KIND_COMMENT;
}

// One step inside a block comment, at a byte that is no blank: the keywords that match one
// behind the other in table order are stepped over, and "*/" among them closes the comment
// (KIND_COMMENT_END); otherwise one more byte is stepped over. So "/*/" and "op*/" leave the
// comment open.
__attribute__((always_inline)) inline int32_t stepInComment(const uint8_t* line, int32_t lineLength,
                                                            int32_t& cursor) {
#pragma GCC unroll 16
  for (const LineKeyword& keyword : LINE_KEYWORDS) {
    if (!keywordAt(line, cursor, keyword)) continue;
    cursor += keyword.length;
    if (keyword.kind == KIND_COMMENT_END) return KIND_COMMENT_END;
  }
  return stepOverCommentByte(line, lineLength, cursor);
}

// Inside a block comment a step does more than step over the byte at the cursor only where a
// keyword matches or the line ends (a carriage return, or the line's length). The scan for
// such places looks at WIDTH bytes at once, each with the byte behind it.

// The first of the WIDTH places from `bytes` on where a keyword matches or a carriage return
// stands, or WIDTH. Reads WIDTH + 1 bytes.
template <int WIDTH>
__attribute__((always_inline)) inline int32_t firstCommentStop(const uint8_t* bytes) {
  using Bytes = typename Lanes<WIDTH>::Bytes;
  Bytes lead, next;
  std::memcpy(&lead, bytes, sizeof lead);
  std::memcpy(&next, bytes + 1, sizeof next);
  Bytes stops = reinterpret_cast<Bytes>(lead == CR);
#pragma GCC unroll 16
  for (const LineKeyword& keyword : LINE_KEYWORDS) {
    Bytes match = reinterpret_cast<Bytes>(lead == static_cast<uint8_t>(keyword.text[0]));
    if (keyword.length == 2) {
      match &= reinterpret_cast<Bytes>(next == static_cast<uint8_t>(keyword.text[1]));
    }
    stops |= match;
  }
  return firstSetLane<WIDTH>(stops);
}

// The keyword that closes a block comment.
constexpr LineKeyword commentCloser() {
  for (const LineKeyword& keyword : LINE_KEYWORDS) {
    if (keyword.kind == KIND_COMMENT_END) return keyword;
  }
  throw "no keyword closes a block comment";
}
constexpr LineKeyword COMMENT_CLOSER = commentCloser();
static_assert(COMMENT_CLOSER.length == 2);

// The first of the WIDTH places from `bytes` on where a carriage return or the closer stands,
// or WIDTH. Reads WIDTH + 1 bytes.
template <int WIDTH>
__attribute__((always_inline)) inline int32_t firstCloserOrReturn(const uint8_t* bytes) {
  using Bytes = typename Lanes<WIDTH>::Bytes;
  Bytes lead, next;
  std::memcpy(&lead, bytes, sizeof lead);
  std::memcpy(&next, bytes + 1, sizeof next);
  const Bytes closer =
      reinterpret_cast<Bytes>(lead == static_cast<uint8_t>(COMMENT_CLOSER.text[0])) &
      reinterpret_cast<Bytes>(next == static_cast<uint8_t>(COMMENT_CLOSER.text[1]));
  return firstSetLane<WIDTH>(reinterpret_cast<Bytes>(lead == CR) | closer);
}

// The first index from `from` on where firstLane() finds a place, WIDTH bytes at a time;
// `end` or more when there is none before `end`.
template <int WIDTH, int32_t (*firstLane)(const uint8_t*)>
__attribute__((always_inline)) inline int32_t scanFrom(const uint8_t* line, int32_t from,
                                                       int32_t end) {
  int32_t at = from;
  while (at < end) {
    const int32_t lane = firstLane(line + at);
    at += lane;
    if (lane < WIDTH) break;
  }
  return at;
}

// Runs the steps inside a block comment from the cursor until one closes the comment
// (KIND_COMMENT_END) or the line ends (KIND_END_OF_LINE), and ends where they end. Only a
// "*/" closes the comment, so up to the next one (or to the end) the steps are not run at all;
// before a "*/" they run from place to place where one could do more than step over a byte,
// since the keywords matched there decide whether the steps meet the "*/" or pass over it.
// Reads up to WIDTH bytes behind the line's end.
template <int WIDTH>
__attribute__((always_inline)) inline int32_t crossBlockCommentBy(const uint8_t* line,
                                                                  int32_t lineLength,
                                                                  int32_t& cursor) {
  const int32_t end = std::min(lineLength, LINE_BUFFER_BYTES);
  for (;;) {
    const int32_t closer = scanFrom<WIDTH, firstCloserOrReturn<WIDTH>>(line, cursor, end);
    if (closer >= end) {
      cursor = std::max(cursor, end);
      return KIND_END_OF_LINE;
    }
    if (line[closer] == CR) {
      cursor = closer;
      return KIND_END_OF_LINE;
    }
    while (cursor <= closer) {  // every step stops at the latest on the "*/" at `closer`
      cursor = scanFrom<WIDTH, firstCommentStop<WIDTH>>(line, cursor, end);
      if (stepInComment(line, lineLength, cursor) == KIND_COMMENT_END) return KIND_COMMENT_END;
    }
  }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int32_t crossBlockCommentAvx2(const uint8_t* line,
                                                              int32_t lineLength, int32_t& cursor) {
  return crossBlockCommentBy<32>(line, lineLength, cursor);
}
#endif

// 32 bytes at a time where the processor has AVX2, else 16 (SSE2 on every x86-64).
int32_t crossBlockComment(const uint8_t* line, int32_t lineLength, int32_t& cursor) {
  static_assert(LINE_BUFFER_STORAGE >= LINE_BUFFER_BYTES + 32);
#if defined(__x86_64__)
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  if (avx2) return crossBlockCommentAvx2(line, lineLength, cursor);
#endif
  return crossBlockCommentBy<16>(line, lineLength, cursor);
}

// Text that starts no item: unknown, unless the line ends there.
int32_t unknownItem(const CompileSession& session) {
  const bool end = cursorByte(session) == CR || session.lineCursor >= LINE_BUFFER_BYTES;
  return end ? KIND_END_OF_LINE : KIND_UNKNOWN;
}

}  // namespace

int32_t readSourceLine(CompileSession& session) {
  if (session.sourceStopped) return -1;  // nothing more is read once a limit stopped it
  // The host's kind fixes the flavour, so each reader's cast names the host's own class.
  return flavourOf(session) == FLAVOUR_EDITOR ? readEditorLine(session) : readConsoleLine(session);
}

int32_t classifyLineItem(CompileSession& session) {
  if (!session.inBlockComment) return classifyLineItemStep(session);
  const int32_t kind =
      crossBlockComment(session.lineBuffer, session.lineLength, session.lineCursor);
  if (kind == KIND_COMMENT_END) session.inBlockComment = false;
  return kind;
}

// item: blank* (keyword | end of line); inside a block comment one step of stepInComment().
int32_t classifyLineItemStep(CompileSession& session) {
  while (session.lineCursor < LINE_BUFFER_BYTES &&
         (cursorByte(session) == '\t' || cursorByte(session) == ' ')) {
    ++session.lineCursor;
  }
  session.itemStart = session.lineCursor;
  if (session.inBlockComment) {
    const int32_t kind = stepInComment(session.lineBuffer, session.lineLength, session.lineCursor);
    if (kind == KIND_COMMENT_END) session.inBlockComment = false;
    return kind;
  }
  for (const LineKeyword& keyword : LINE_KEYWORDS) {
    if (!keywordAt(session.lineBuffer, session.lineCursor, keyword)) continue;
    session.lineCursor += keyword.length;
    switch (keyword.kind) {
      case KIND_COMMENT_END:  // outside a comment it does nothing
        return KIND_COMMENT_END;
      case KIND_COMMENT:
        session.inBlockComment = true;  // the byte behind "/*" is stepped over: "/**/" stays open
        return stepOverCommentByte(session.lineBuffer, session.lineLength, session.lineCursor);
      case KIND_CHANNEL_NAME: {
        const uint8_t digit = cursorByte(session);
        if (digit < '1' || digit > '9') return unknownItem(session);
        session.namedChannel = digit - '0';
        ++session.lineCursor;
        return KIND_CHANNEL_NAME;
      }
      default:
        return keyword.kind;
    }
  }
  return unknownItem(session);
}

int32_t openChannelBlock(CompileSession& session, int32_t channel) {
  if (session.openChannel != 0) return -1;
  session.openChannel = channel;
  return 0;
}

int32_t closeChannelBlock(CompileSession& session) {
  if (session.openChannel == 0) return -1;
  session.openChannel = 0;
  return 0;
}
