#include "core/source_lines.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/diagnostics.h"

const LineKeyword LINE_KEYWORDS[LINE_KEYWORD_COUNT] = {
    {"//", 2, KIND_END_OF_LINE}, {"ch", 2, KIND_CHANNEL_NAME},
    {"{", 1, KIND_BLOCK_OPEN},   {"\"", 1, KIND_COMMAND_STRING},
    {"}", 1, KIND_BLOCK_CLOSE},  {"/*", 2, KIND_COMMENT},
    {"*/", 2, KIND_COMMENT_END}, {"op", 2, KIND_OP},
    {"cr", 2, KIND_CR},          {"sn", 2, KIND_SN},
};

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
  return -1;
}

int32_t lineTooLong(CompileSession& session) {
  session.host->messageLine(textsOf(session).lineTooLong);
  return -1;
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
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(chunk, LF, span));
    if (end == nullptr) end = chunk + span;
    if (const void* eot = std::memchr(chunk, END_OF_TEXT, static_cast<size_t>(end - chunk))) {
      end = static_cast<const uint8_t*>(eot);
    }
    const int32_t copied = static_cast<int32_t>(end - chunk);
    std::memcpy(buffer + length, chunk, static_cast<size_t>(copied));
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
    }
  }
  ++session.sourceLineIndex;
  ++session.lineNumber;
  return length;
}

bool keywordAt(const CompileSession& session, const LineKeyword& keyword) {
  for (int32_t i = 0; i < keyword.length; ++i) {
    if (lineByteAt(session, session.lineCursor + i) != static_cast<uint8_t>(keyword.text[i])) {
      return false;
    }
  }
  return true;
}

// The carriage return ends a line; a line stored without one ends at its terminating NUL
// (a NUL byte inside the line is an ordinary byte here).
bool atEndOfLine(const CompileSession& session) {
  return cursorByte(session) == CR || session.lineCursor >= session.lineLength ||
         session.lineCursor >= LINE_BUFFER_BYTES;
}

}  // namespace

int32_t readSourceLine(CompileSession& session) {
  // The host's kind fixes the flavour, so each reader's cast names the host's own class.
  return flavourOf(session) == FLAVOUR_EDITOR ? readEditorLine(session) : readConsoleLine(session);
}

int32_t classifyLineItem(CompileSession& session) {
  while (session.lineCursor < LINE_BUFFER_BYTES &&
         (cursorByte(session) == '\t' || cursorByte(session) == ' ')) {
    ++session.lineCursor;
  }
  int32_t result = KIND_UNKNOWN;
  for (const LineKeyword& keyword : LINE_KEYWORDS) {
    if (!keywordAt(session, keyword)) continue;
    session.lineCursor += keyword.length;
    if (keyword.kind == KIND_COMMENT_END) {  // acted on inside a block comment too
      session.inBlockComment = false;
      result = KIND_COMMENT_END;
      break;
    }
    // Inside a block comment a keyword is stepped over and the later ones are tried behind it.
    if (session.inBlockComment) continue;
    switch (keyword.kind) {
      case KIND_COMMENT:
        session.inBlockComment = true;
        result = KIND_COMMENT;
        break;
      case KIND_CHANNEL_NAME: {
        const uint8_t digit = cursorByte(session);
        if (digit >= '1' && digit <= '9') {
          session.namedChannel = digit - '0';
          ++session.lineCursor;
          result = KIND_CHANNEL_NAME;
        }
        break;
      }
      default:
        result = keyword.kind;
        break;
    }
    break;
  }
  if (session.inBlockComment) {
    if (atEndOfLine(session)) {
      result = KIND_END_OF_LINE;
    } else {
      ++session.lineCursor;
      result = KIND_COMMENT;
    }
  }
  if (result < 0 && (cursorByte(session) == CR || session.lineCursor >= LINE_BUFFER_BYTES)) {
    result = KIND_END_OF_LINE;
  }
  return result;
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
